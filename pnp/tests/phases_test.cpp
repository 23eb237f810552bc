// The installation phases: what they leave in the registry, what they start
// and the error box of each failure.
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "entry_points.h"
#include "host.h"
#include "pnp_fixture.h"
#include "shell_section.h"

namespace {

using pnptest::Boxes;
using pnptest::ConfigFlagsZero;
using pnptest::kDeviceKeyPath;
using pnptest::kModel;
using pnptest::kRunKeyPath;
using pnptest::ReadValue;
using pnptest::Starts;
using pnptest::TopLevelWindow;

const std::string kCommandLine = std::string(kDeviceKeyPath) + " A:\\";
const std::string kRunCommand = "RunDLL32 KX51PNP,StartPrinterInstallation " + kCommandLine;

constexpr const char* kNoModel = "No printer Model name in DevNode?";
constexpr const char* kNotRegistered =
    "Failed to register second phase in Shell's section of the registry.";
constexpr const char* kPhase1Caption = "Internal Failure in Zvk_Install!";
constexpr const char* kCleanupFailed =
    "Corrupted DevNode or Failure to clean up Shell section of the registry.";
constexpr const char* kPhase2Caption = "Internal Failure in Delayed_Zvk_Install!";

// The phases' changes after `after_seq`, in order: "<op> ConfigFlags",
// "<op> Run value", or the start of a program.
std::vector<std::string> PhaseSteps(int64_t after_seq) {
  std::vector<std::string> steps;
  for (const std::string& change : pnptest::ChangesAfter(after_seq)) {
    std::string op = change.substr(0, change.find(' '));
    if (op == "CreateProcessA" || op == "WinExec")
      steps.push_back(op);
    else if (change.find(":ConfigFlags") != std::string::npos)
      steps.push_back(op + " ConfigFlags");
    else if (change.find(std::string("\\Run:") + kModel) != std::string::npos)
      steps.push_back(op + " Run value");
  }
  return steps;
}

class PhasesTest : public pnptest::PnpTest {
 protected:
  PhasesTest() {
    pnptest::PlaceShowRecorder(pnptest::Rundll32Path());
    pnptest::PlaceProgram("A:\\Setup.Exe");
  }

  void RunFirstPhase(const std::string& command_line) {
    std::vector<char> text(command_line.begin(), command_line.end());
    text.push_back('\0');
    SchedulePrinterInstallation(owner_.get(), nullptr, text.data(), SW_SHOWNORMAL);
  }
  void RunSecondPhase(const std::string& command_line) {
    std::vector<char> text(command_line.begin(), command_line.end());
    text.push_back('\0');
    StartPrinterInstallation(owner_.get(), nullptr, text.data(), SW_SHOWNORMAL);
  }
  // As RunDLL32 in a new process would find the library.
  void ReloadLibrary() {
    ShellIsRunning = 0;
    ShellWindowTitle.clear();
  }

  // The one box expected, owned by the phase's window.
  void ExpectOneBox(const char* text, const char* caption, const std::string& row) {
    auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u) << row;
    EXPECT_EQ(boxes[0].owner, owner_.get()) << row;
    EXPECT_EQ(boxes[0].text, text) << row;
    EXPECT_EQ(boxes[0].caption, caption) << row;
    EXPECT_EQ(boxes[0].style, static_cast<UINT>(MB_ICONERROR)) << row;
  }
  void ExpectNoBox() {
    auto boxes = Boxes();
    EXPECT_TRUE(boxes.empty()) << boxes.size() << " boxes, the first: " << boxes.front().text;
  }
  void ExpectConfigFlags(bool present, const std::string& row) {
    auto flags = ReadValue(kDeviceKeyPath, "ConfigFlags");
    ASSERT_EQ(flags.has_value(), present) << row;
    if (!present) return;
    EXPECT_EQ(flags->type, static_cast<DWORD>(REG_BINARY)) << row;
    EXPECT_EQ(flags->data, ConfigFlagsZero()) << row;
  }
  void ExpectRunValue(bool present, const std::string& row) {
    auto value = ReadValue(kRunKeyPath, kModel);
    ASSERT_EQ(value.has_value(), present) << row;
    if (present) {
      EXPECT_EQ(value->data, kRunCommand + '\0') << row;
    }
  }
  int SetupStarts() {
    int count = 0;
    for (const auto& start : Starts())
      if (start.op == "CreateProcessA") ++count;
    return count;
  }
};

// ---- the roads that succeed --------------------------------------------------

TEST_F(PhasesTest, FirstPhaseWithoutShellWritesFlagsAndRunValue) {
  pnptest::WriteModel(kModel);
  int64_t before = pnptest::LastJournalSeq();
  RunFirstPhase(kCommandLine);
  ExpectNoBox();
  EXPECT_EQ(PhaseSteps(before),
            (std::vector<std::string>{"RegSetValueExA ConfigFlags", "RegSetValueExA Run value"}));
  ExpectConfigFlags(true, "first phase");
  ExpectRunValue(true, "first phase");
  EXPECT_TRUE(Starts().empty());
}

TEST_F(PhasesTest, FirstPhaseWithShellStartsTheSecondAtOnce) {
  pnptest::WriteModel(kModel);
  TopLevelWindow shell("Program Manager");
  int64_t before = pnptest::LastJournalSeq();
  RunFirstPhase(kCommandLine);
  ExpectNoBox();
  EXPECT_EQ(PhaseSteps(before),
            (std::vector<std::string>{"RegSetValueExA ConfigFlags", "WinExec"}));
  ExpectConfigFlags(true, "first phase");
  ExpectRunValue(false, "first phase");
  auto starts = Starts();
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0].op, "WinExec");
  EXPECT_EQ(starts[0].command_line, kRunCommand);
  EXPECT_EQ(pnptest::RecordedShow(pnptest::Rundll32Path()), SW_SHOWNA);
}

TEST_F(PhasesTest, FirstPhaseHandsOnTheWholeCommandLine) {
  pnptest::WriteModel(kModel);
  const std::string command_line =
      std::string(kDeviceKeyPath) + " C:\\Program Files\\" + std::string(64 * 1024, 'd');
  RunFirstPhase(command_line);
  ExpectNoBox();
  auto value = ReadValue(kRunKeyPath, kModel);
  ASSERT_TRUE(value);
  EXPECT_EQ(value->data, "RunDLL32 KX51PNP,StartPrinterInstallation " + command_line + '\0');
}

TEST_F(PhasesTest, SecondPhaseClearsTheRecordAndStartsSetup) {
  pnptest::WriteModel(kModel);
  RunFirstPhase(kCommandLine);
  ReloadLibrary();
  int64_t before = pnptest::LastJournalSeq();
  RunSecondPhase(kCommandLine);
  ExpectNoBox();
  // The checks in their order, then "ConfigFlags" again before the start.
  EXPECT_EQ(PhaseSteps(before),
            (std::vector<std::string>{"RegDeleteValueA ConfigFlags", "RegDeleteValueA Run value",
                                      "RegSetValueExA ConfigFlags", "CreateProcessA"}));
  ExpectConfigFlags(true, "written again");
  ExpectRunValue(false, "removed");
  auto starts = Starts();
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0].op, "CreateProcessA");
  EXPECT_EQ(starts[0].application, "A:\\SETUP.EXE");
  EXPECT_EQ(starts[0].command_line, "\"A:\\SETUP.EXE\"");
  EXPECT_EQ(starts[0].current_directory, "A:\\") << "setup runs in the source directory";
}

// A directory with a space, unquoted and without an application name, would
// let the platform start "A:\Disk.exe" first.
TEST_F(PhasesTest, SecondPhaseNamesSetupWholeWhenTheDirectoryHasSpaces) {
  pnptest::PlaceProgram("A:\\Disk One\\Setup.Exe");
  pnptest::PlaceProgram("A:\\Disk.exe");
  pnptest::WriteModel(kModel);
  const std::string command_line = std::string(kDeviceKeyPath) + " A:\\Disk One";
  RunFirstPhase(command_line);
  ReloadLibrary();
  RunSecondPhase(command_line);
  ExpectNoBox();
  auto starts = Starts();
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0].application, "A:\\Disk One\\Setup.Exe");
  EXPECT_EQ(starts[0].command_line, "\"A:\\Disk One\\Setup.Exe\"");
  EXPECT_EQ(starts[0].program, "A:\\Disk One\\Setup.Exe") << starts[0].detail;
  EXPECT_EQ(starts[0].current_directory, "A:\\Disk One");
}

// A directory that is empty or cannot be made current is not a failure: the
// setup program is started all the same, from the current directory as it was.
TEST_F(PhasesTest, SecondPhaseStartsSetupWhenTheDirectoryCannotBeMadeCurrent) {
  const struct {
    const char* name;
    std::string command_line;
    const char* refused_directory;
    const char* application;
  } cases[] = {
      {"no space", kDeviceKeyPath, nullptr, "\\Setup.Exe"},
      {"space as last character", std::string(kDeviceKeyPath) + " ", nullptr, "\\Setup.Exe"},
      {"directory refused", kCommandLine, "A:\\", "A:\\SETUP.EXE"},
  };
  pnptest::PlaceProgram("C:\\Setup.Exe");
  std::filesystem::create_directories(kxhost::HostPath("C:\\Start"));
  for (const auto& row : cases) {
    kxhost::ClearFaults();
    int64_t before = static_cast<int64_t>(Starts().size());
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\Start")) << row.name;
    pnptest::WriteModel(kModel);
    RunFirstPhase(row.command_line);
    ReloadLibrary();
    if (row.refused_directory)
      kxhost::ArmFault("SetCurrentDirectoryA", ERROR_ACCESS_DENIED, row.refused_directory);
    RunSecondPhase(row.command_line);
    ExpectNoBox();
    auto starts = Starts();
    ASSERT_EQ(static_cast<int64_t>(starts.size()), before + 1) << row.name;
    EXPECT_EQ(starts.back().application, row.application) << row.name;
    EXPECT_EQ(starts.back().current_directory, "C:\\Start") << row.name << ": left as it was";
    ExpectConfigFlags(true, row.name);
  }
}

TEST_F(PhasesTest, SecondPhaseTriesTheStartFiveTimesASecondApart) {
  pnptest::WriteModel(kModel);
  RunFirstPhase(kCommandLine);
  ReloadLibrary();
  kxhost::ArmFault("CreateProcessA", ERROR_NOT_ENOUGH_MEMORY, "*", 4);
  auto begin = std::chrono::steady_clock::now();
  RunSecondPhase(kCommandLine);
  auto elapsed = std::chrono::steady_clock::now() - begin;
  ExpectNoBox();
  EXPECT_EQ(SetupStarts(), 1) << "started on the fifth try";
  EXPECT_GE(elapsed, std::chrono::milliseconds(3900)) << "four pauses of a second";
  EXPECT_LT(elapsed, std::chrono::milliseconds(6000));
}

TEST_F(PhasesTest, SecondPhaseReportsAStartThatFailedFiveTimes) {
  pnptest::WriteModel(kModel);
  RunFirstPhase(kCommandLine);
  ReloadLibrary();
  kxhost::ArmFault("CreateProcessA", ERROR_NOT_ENOUGH_MEMORY, "*", 5);
  auto begin = std::chrono::steady_clock::now();
  RunSecondPhase(kCommandLine);
  auto elapsed = std::chrono::steady_clock::now() - begin;
  ExpectOneBox(kCleanupFailed, kPhase2Caption, "five failed starts");
  EXPECT_EQ(SetupStarts(), 0);
  EXPECT_GE(elapsed, std::chrono::milliseconds(3900));
  EXPECT_LT(elapsed, std::chrono::milliseconds(6000)) << "no pause after the last try";
  ExpectConfigFlags(true, "written again before the start");
  ExpectRunValue(false, "removed before the start");
}

TEST_F(PhasesTest, SecondPhaseRunTwiceStartsSetupAgainOnlyWithTheShell) {
  pnptest::WriteModel(kModel);
  TopLevelWindow shell("Program Manager");
  RunFirstPhase(kCommandLine);
  ReloadLibrary();
  RunSecondPhase(kCommandLine);
  ReloadLibrary();
  RunSecondPhase(kCommandLine);
  ExpectNoBox();
  EXPECT_EQ(SetupStarts(), 2);
  ExpectConfigFlags(true, "second run");
}

TEST_F(PhasesTest, CompletePhaseChangesNothing) {
  pnptest::WriteModel(kModel);
  int64_t before = pnptest::LastJournalSeq();
  char text[] = "anything at all";
  CompletePrinterInstallation(owner_.get(), nullptr, text, SW_SHOWNORMAL);
  CompletePrinterInstallation(nullptr, nullptr, nullptr, 0);
  EXPECT_TRUE(pnptest::ChangesAfter(before).empty());
}

// ---- every failure: its box and the state left behind --------------------------

struct FailureCase {
  const char* name;
  bool second_phase;
  std::function<void()> arrange;
  std::string command_line;
  const char* text;
  const char* caption;
  bool config_flags_after;
  bool run_value_after;
  friend void PrintTo(const FailureCase& row, std::ostream* out) { *out << row.name; }
};

void WriteFirstPhaseState() {
  pnptest::WriteModel(kModel);
  pnptest::WriteValue(kDeviceKeyPath, "ConfigFlags", REG_BINARY, ConfigFlagsZero());
  pnptest::WriteValue(kRunKeyPath, kModel, REG_SZ, kRunCommand + '\0');
}

// Arranges the first phase's state, then `also`.
std::function<void()> AfterFirstPhase(std::function<void()> also) {
  return [also] {
    WriteFirstPhaseState();
    also();
  };
}

std::function<void()> ModelThen(std::function<void()> also) {
  return [also] {
    pnptest::WriteModel(kModel);
    also();
  };
}

std::function<void()> Refuse(const char* op, const char* match) {
  return [op, match] { kxhost::ArmFault(op, ERROR_ACCESS_DENIED, match); };
}

const std::vector<FailureCase>& FailureCases() {
  using namespace std::string_literals;
  static const auto nothing = [] {};
  static const std::string garbage(64 * 1024, '\xB0');
  static const std::vector<FailureCase> cases = {
      {"first_no_device_key", false, nothing, kCommandLine, kNoModel, kPhase1Caption, false, false},
      {"first_no_model", false,
       [] { pnptest::WriteValue(kDeviceKeyPath, "Other", REG_SZ, "x\0"s); }, kCommandLine, kNoModel,
       kPhase1Caption, false, false},
      {"first_empty_model", false, [] { pnptest::WriteModel(""); }, kCommandLine, kNoModel,
       kPhase1Caption, false, false},
      {"first_model_not_reg_sz", false,
       [] { pnptest::WriteValue(kDeviceKeyPath, "Model", REG_EXPAND_SZ, "KX51 Laser\0"s); },
       kCommandLine, kNoModel, kPhase1Caption, false, false},
      {"first_leading_space", false, ModelThen(nothing), " " + kCommandLine, kNoModel,
       kPhase1Caption, false, false},
      {"first_empty_command_line", false, ModelThen(nothing), "", kNoModel, kPhase1Caption, false,
       false},
      {"first_spaces_only", false, ModelThen(nothing), "   ", kNoModel, kPhase1Caption, false,
       false},
      {"first_64_KiB_without_space", false, ModelThen(nothing), garbage, kNoModel, kPhase1Caption,
       false, false},
      {"first_run_key_refused", false, ModelThen(Refuse("RegCreateKeyA", "*CurrentVersion\\Run")),
       kCommandLine, kNotRegistered, kPhase1Caption, true, false},
      {"first_run_value_refused", false, ModelThen(Refuse("RegSetValueExA", "*\\Run:*")),
       kCommandLine, kNotRegistered, kPhase1Caption, true, false},
      {"second_no_device_key", true,
       [] { pnptest::WriteValue(kRunKeyPath, kModel, REG_SZ, kRunCommand + '\0'); }, kCommandLine,
       kCleanupFailed, kPhase2Caption, false, true},
      {"second_empty_model", true, AfterFirstPhase([] { pnptest::WriteModel(""); }), kCommandLine,
       kCleanupFailed, kPhase2Caption, true, true},
      {"second_leading_space", true, WriteFirstPhaseState, " " + kCommandLine, kCleanupFailed,
       kPhase2Caption, true, true},
      {"second_empty_command_line", true, WriteFirstPhaseState, "", kCleanupFailed, kPhase2Caption,
       true, true},
      {"second_spaces_only", true, WriteFirstPhaseState, "   ", kCleanupFailed, kPhase2Caption,
       true, true},
      {"second_64_KiB_without_space", true, WriteFirstPhaseState, garbage, kCleanupFailed,
       kPhase2Caption, true, true},
      {"second_config_flags_absent", true,
       AfterFirstPhase([] { pnptest::DeleteValue(kDeviceKeyPath, "ConfigFlags"); }), kCommandLine,
       kCleanupFailed, kPhase2Caption, false, true},
      {"second_config_flags_deletion_refused", true,
       AfterFirstPhase(Refuse("RegDeleteValueA", "*:ConfigFlags")), kCommandLine, kCleanupFailed,
       kPhase2Caption, true, true},
      {"second_run_value_absent_no_shell", true,
       AfterFirstPhase([] { pnptest::DeleteValue(kRunKeyPath, kModel); }), kCommandLine,
       kCleanupFailed, kPhase2Caption, false, false},
      {"second_run_value_deletion_refused_no_shell", true,
       AfterFirstPhase(Refuse("RegDeleteValueA", "*\\Run:*")), kCommandLine, kCleanupFailed,
       kPhase2Caption, false, true},
      {"second_run_key_refused_no_shell", true,
       AfterFirstPhase(Refuse("RegCreateKeyA", "*CurrentVersion\\Run")), kCommandLine,
       kCleanupFailed, kPhase2Caption, false, true},
  };
  return cases;
}

class PhaseFailureTest : public PhasesTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(PhaseFailureTest, ShowsItsBoxAndLeavesItsState) {
  const FailureCase& row = GetParam();
  row.arrange();
  if (row.second_phase)
    RunSecondPhase(row.command_line);
  else
    RunFirstPhase(row.command_line);
  kxhost::ClearFaults();

  ExpectOneBox(row.text, row.caption, row.name);
  EXPECT_EQ(ReadValue(kDeviceKeyPath, "ConfigFlags").has_value(), row.config_flags_after);
  EXPECT_EQ(ReadValue(kRunKeyPath, kModel).has_value(), row.run_value_after);
  EXPECT_TRUE(Starts().empty());
}

INSTANTIATE_TEST_SUITE_P(FailureTable, PhaseFailureTest, ::testing::ValuesIn(FailureCases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
