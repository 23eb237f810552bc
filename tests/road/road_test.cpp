// The installation road in real host processes: RunDLL32 running the
// library's phases, the shell running its Run section, the setup program
// started from the source directory, and an uninstaller calling the hooks.
// Each test makes a new machine with the machine command.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "host.h"
#include "run_program.h"
#include "temp_machine.h"

namespace {

using kxtest::ProgramRun;
using kxtest::RunProgram;

const std::string kDeviceKeyPath = "Enum\\LPTENUM\\KALDRENKX512E10";
const std::string kRunSectionPath = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const std::string kModel = "KX51 Laser";
const std::string kPhaseCommandLine = kDeviceKeyPath + " A:\\";
const std::string kFirstPhase =
    "RUNDLL32.EXE KX51PNP,SchedulePrinterInstallation " + kPhaseCommandLine;
const std::string kSecondPhase =
    "RUNDLL32.EXE KX51PNP,StartPrinterInstallation " + kPhaseCommandLine;
const std::string kRunCommand = "RunDLL32 KX51PNP,StartPrinterInstallation " + kPhaseCommandLine;
// The shell staying until it is closed, and staying at most a minute.
const std::string kStayingShell = "C:\\WINDOWS\\EXPLORER.EXE";
const std::string kShellStayingAMinute = "C:\\WINDOWS\\EXPLORER.EXE /stay 60";
const std::string kShellRunningItsRunSection = "C:\\WINDOWS\\EXPLORER.EXE /exit";

ProgramRun Kxmachine(std::vector<std::string> args) {
  args.insert(args.begin(), std::string(KX_BIN_DIR) + "/kxmachine");
  return RunProgram(args);
}

struct Value {
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

std::optional<Value> ReadValue(const std::string& key_path, const std::string& name) {
  HKEY key = nullptr;
  if (RegOpenKeyA(HKEY_LOCAL_MACHINE, key_path.c_str(), &key) != ERROR_SUCCESS) return std::nullopt;
  Value value;
  DWORD size = 0;
  LONG status = RegQueryValueExA(key, name.c_str(), nullptr, &value.type, nullptr, &size);
  if (status == ERROR_SUCCESS) {
    value.data.resize(size);
    status = RegQueryValueExA(key, name.c_str(), nullptr, &value.type, value.data.data(), &size);
  }
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return std::nullopt;
  return value;
}

bool KeyExists(const std::string& key_path) {
  HKEY key = nullptr;
  if (RegOpenKeyA(HKEY_LOCAL_MACHINE, key_path.c_str(), &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

const Value kFourZeroBytes{REG_BINARY, {0, 0, 0, 0}};

Value TextValue(const std::string& text) {
  Value value{REG_SZ, std::vector<BYTE>(text.begin(), text.end())};
  value.data.push_back(0);
  return value;
}

bool operator==(const Value& a, const Value& b) { return a.type == b.type && a.data == b.data; }
std::ostream& operator<<(std::ostream& out, const Value& value) {
  out << "type " << value.type << ",";
  for (BYTE byte : value.data) out << ' ' << static_cast<int>(byte);
  return out;
}

// The starts that the setup program (the machine's stand-in) recorded:
// "<its Windows path> in <its current directory>", in capitals: the path is
// spelled as the starter spelled it.
std::vector<std::string> SetupStarts() {
  std::vector<std::string> starts;
  for (const auto& entry : kxhost::ReadJournal())
    if (entry.op == "started") starts.push_back(kxhost::FoldCase(entry.detail));
  return starts;
}
const std::vector<std::string> kOneSetupStartInTheSource{"A:\\SETUP.EXE IN A:\\"};

int64_t LastJournalSeq() {
  auto entries = kxhost::ReadJournal();
  return entries.empty() ? 0 : entries.back().seq;
}

// The changes to "ConfigFlags" and the Run value after `after_seq`, as
// "<op> <value name>", in order.
std::vector<std::string> PhaseValueChanges(int64_t after_seq) {
  std::vector<std::string> changes;
  for (const auto& entry : kxhost::ReadJournal(after_seq)) {
    if (entry.op != "RegSetValueExA" && entry.op != "RegDeleteValueA") continue;
    for (const std::string& name : {std::string("ConfigFlags"), kModel})
      if (entry.detail.find(":" + name) != std::string::npos)
        changes.push_back(entry.op + " " + name);
  }
  return changes;
}

template <class Condition>
bool WaitFor(Condition condition, int seconds = 30) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

class RoadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ProgramRun created = Kxmachine({"create", "--setup-standin"});
    ASSERT_EQ(created.status, 0) << created.output;
    ASSERT_EQ(created.output.find("left out"), std::string::npos) << created.output;
  }

  // Starts a program in the machine as WinExec does and waits until no
  // process of the machine runs.
  void RunAndWait(const std::string& command_line) {
    ProgramRun run = Kxmachine({"run", command_line});
    ASSERT_EQ(run.status, 0) << run.output;
    Wait();
  }

  void Wait() {
    ProgramRun wait = Kxmachine({"wait", "--timeout", "60"});
    ASSERT_EQ(wait.status, 0) << wait.output;
  }

  // Starts the shell to stay, and gives its window once it is there.
  HWND StartStayingShell(const std::string& command_line = kStayingShell) {
    ProgramRun run = Kxmachine({"run", command_line});
    EXPECT_EQ(run.status, 0) << run.output;
    HWND shell = nullptr;
    EXPECT_TRUE(
        WaitFor([&] { return (shell = FindWindowA(nullptr, "Program Manager")) != nullptr; }));
    return shell;
  }

  // Closes the shell as a user would and waits for the machine to settle.
  void CloseShell(HWND shell) {
    EXPECT_TRUE(PostMessageA(shell, WM_CLOSE, 0, 0));
    Wait();
    EXPECT_FALSE(IsWindow(shell));
  }

  kxtest::TempMachine machine_;
};

TEST_F(RoadTest, WithoutShellTheShellsStartRunsTheSecondPhase) {
  RunAndWait(kFirstPhase);
  EXPECT_EQ(ReadValue(kDeviceKeyPath, "ConfigFlags"), kFourZeroBytes);
  EXPECT_EQ(ReadValue(kRunSectionPath, kModel), TextValue(kRunCommand));
  EXPECT_TRUE(SetupStarts().empty());

  int64_t before_shell = LastJournalSeq();
  RunAndWait(kShellRunningItsRunSection);
  EXPECT_EQ(ReadValue(kRunSectionPath, kModel), std::nullopt);
  EXPECT_EQ(ReadValue(kDeviceKeyPath, "ConfigFlags"), kFourZeroBytes);
  EXPECT_EQ(PhaseValueChanges(before_shell),
            (std::vector<std::string>{"RegDeleteValueA ConfigFlags", "RegDeleteValueA " + kModel,
                                      "RegSetValueExA ConfigFlags"}));
  EXPECT_EQ(SetupStarts(), kOneSetupStartInTheSource);
  EXPECT_TRUE(kxhost::RecordedBoxes().empty());
}

TEST_F(RoadTest, ShellRunsEveryTextValueOfItsRunSection) {
  HKEY run = nullptr;
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, kRunSectionPath.c_str(), &run), ERROR_SUCCESS);
  const char missing[] = "C:\\NOWHERE\\MISSING.EXE";
  const BYTE binary[] = {1, 2, 3};
  RegSetValueExA(run, "Missing", 0, REG_SZ, reinterpret_cast<const BYTE*>(missing), sizeof missing);
  RegSetValueExA(run, "Binary", 0, REG_BINARY, binary, sizeof binary);
  RegCloseKey(run);
  RunAndWait(kFirstPhase);

  RunAndWait(kShellRunningItsRunSection);
  // A command that cannot start does not keep the shell from the others;
  // values that are not text are not commands.
  EXPECT_EQ(SetupStarts(), kOneSetupStartInTheSource);
  size_t shell_starts = 0;
  for (const auto& started : kxhost::StartedProcesses())
    shell_starts += started.command_line == kRunCommand;
  EXPECT_EQ(shell_starts, 1u);
  EXPECT_TRUE(ReadValue(kRunSectionPath, "Missing").has_value());
}

TEST_F(RoadTest, WithShellRunningTheFirstPhaseStartsTheSecondAtOnce) {
  HWND shell = StartStayingShell(kShellStayingAMinute);
  ASSERT_NE(shell, nullptr);
  ProgramRun run = Kxmachine({"run", kFirstPhase});
  ASSERT_EQ(run.status, 0) << run.output;
  ASSERT_TRUE(WaitFor([] { return !SetupStarts().empty(); }));
  CloseShell(shell);

  EXPECT_EQ(ReadValue(kRunSectionPath, kModel), std::nullopt);
  EXPECT_EQ(PhaseValueChanges(0),
            (std::vector<std::string>{"RegSetValueExA ConfigFlags", "RegDeleteValueA ConfigFlags",
                                      "RegSetValueExA ConfigFlags"}));
  EXPECT_EQ(ReadValue(kDeviceKeyPath, "ConfigFlags"), kFourZeroBytes);
  EXPECT_EQ(SetupStarts(), kOneSetupStartInTheSource);
  // The second phase came from the first, with the command the Run value
  // would have held.
  bool started_at_once = false;
  for (const auto& started : kxhost::StartedProcesses())
    started_at_once |= started.how == "WinExec" && started.command_line == kRunCommand;
  EXPECT_TRUE(started_at_once);
  EXPECT_TRUE(kxhost::RecordedBoxes().empty());
}

struct TwiceCase {
  const char* name;
  bool shell_running;
  size_t setup_starts;
  std::optional<Value> config_flags_after;
  size_t boxes;
  friend void PrintTo(const TwiceCase& row, std::ostream* out) { *out << row.name; }
};

class SecondPhaseTwice : public RoadTest, public ::testing::WithParamInterface<TwiceCase> {};

// The first phase hands over; then the second phase is run by hand twice.
// Without the shell the second run finds no Run value to remove and stops
// with its box, "ConfigFlags" deleted; with the shell seen it starts setup
// again.
TEST_P(SecondPhaseTwice, SecondRunFindsTheRunValueGone) {
  const TwiceCase& row = GetParam();
  HWND shell = row.shell_running ? StartStayingShell() : nullptr;
  if (row.shell_running) {
    ASSERT_NE(shell, nullptr);
  }
  ProgramRun first = Kxmachine({"run", kFirstPhase});
  ASSERT_EQ(first.status, 0) << first.output;
  if (row.shell_running)
    ASSERT_TRUE(WaitFor([] { return SetupStarts().size() == 1; }));
  else
    Wait();
  for (int run = 0; run < (row.shell_running ? 1 : 2); ++run) {
    size_t starts_before = SetupStarts().size();
    ProgramRun second = Kxmachine({"run", kSecondPhase});
    ASSERT_EQ(second.status, 0) << second.output;
    // Wait for the phase to end: setup started, or its box shown.
    ASSERT_TRUE(WaitFor(
        [&] { return SetupStarts().size() > starts_before || !kxhost::RecordedBoxes().empty(); }));
  }
  if (shell) CloseShell(shell);
  Wait();

  EXPECT_EQ(SetupStarts().size(), row.setup_starts) << row.name;
  EXPECT_EQ(ReadValue(kDeviceKeyPath, "ConfigFlags"), row.config_flags_after) << row.name;
  EXPECT_EQ(ReadValue(kRunSectionPath, kModel), std::nullopt) << row.name;
  auto boxes = kxhost::RecordedBoxes();
  ASSERT_EQ(boxes.size(), row.boxes) << row.name;
  for (const auto& box : boxes) {
    EXPECT_EQ(box.text, "Corrupted DevNode or Failure to clean up Shell section of the registry.");
    EXPECT_EQ(box.caption, "Internal Failure in Delayed_Zvk_Install!");
    EXPECT_EQ(box.style, static_cast<UINT>(MB_ICONERROR));
  }
}

INSTANTIATE_TEST_SUITE_P(Road, SecondPhaseTwice,
                         ::testing::Values(TwiceCase{"no shell", false, 1, std::nullopt, 1},
                                           TwiceCase{"shell running", true, 2, kFourZeroBytes, 0}),
                         [](const auto& info) {
                           return std::string(info.param.shell_running ? "ShellRunning"
                                                                       : "NoShell");
                         });

struct UninstallCase {
  const char* hook;
  const char* output;
  size_t restarts;
  friend void PrintTo(const UninstallCase& row, std::ostream* out) { *out << row.hook; }
};

class Uninstall : public RoadTest, public ::testing::WithParamInterface<UninstallCase> {};

TEST_P(Uninstall, DeletesTheDeviceKeyTree) {
  const UninstallCase& row = GetParam();
  RunAndWait(kFirstPhase);
  // A subkey and values beneath the device key go with it.
  HKEY parameters = nullptr;
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, (kDeviceKeyPath + "\\Device Parameters").c_str(),
                          &parameters),
            ERROR_SUCCESS);
  RegCloseKey(parameters);

  ProgramRun uninstall = RunProgram({std::string(KX_BIN_DIR) + "/kx-uninstaller", row.hook});
  EXPECT_EQ(uninstall.status, 0) << uninstall.output;
  EXPECT_EQ(uninstall.output, row.output);

  EXPECT_FALSE(KeyExists(kDeviceKeyPath));
  EXPECT_TRUE(KeyExists("Enum\\LPTENUM"));
  auto restarts = kxhost::RestartRequests();
  ASSERT_EQ(restarts.size(), row.restarts);
  for (const auto& restart : restarts) EXPECT_EQ(restart.flags, static_cast<UINT>(EWX_REBOOT));
}

INSTANTIATE_TEST_SUITE_P(Road, Uninstall,
                         ::testing::Values(UninstallCase{"UninstUnInitialize", "result 0\n", 1},
                                           UninstallCase{"CleanPnpKeys", "done\n", 0}),
                         [](const auto& info) { return std::string(info.param.hook); });

}  // namespace
