// The shell's Run section: the second phase's command started at once when
// the shell's window is there, else written as a Run value; and removed.
#include "shell_section.h"

#include <string>

#include "host.h"
#include "pnp_fixture.h"

namespace {

using pnptest::kRunKeyPath;
using pnptest::ReadValue;
using pnptest::Starts;
using pnptest::TopLevelWindow;

constexpr const char* kArguments = "StartPrinterInstallation Enum\\LPTENUM\\KALDRENKX512E10 A:\\";
constexpr const char* kCommand =
    "RunDLL32 KX51PNP,StartPrinterInstallation Enum\\LPTENUM\\KALDRENKX512E10 A:\\";

class ShellSectionTest : public pnptest::PnpTest {
 protected:
  ShellSectionTest() {
    // WinExec finds RunDLL32 in the system directory, as on a real machine.
    pnptest::PlaceShowRecorder(pnptest::Rundll32Path());
  }

  void WriteRunValue(const char* name) {
    pnptest::WriteValue(kRunKeyPath, name, REG_SZ, std::string("x", 2));
  }
};

TEST_F(ShellSectionTest, ShellRunningAddStartsTheCommandAtOnce) {
  TopLevelWindow shell("Program Manager");
  ShellSection section;
  EXPECT_EQ(section.UpdateRunEntry("KX51 Laser", kArguments, true), 1);
  auto starts = Starts();
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0].op, "WinExec");
  EXPECT_EQ(starts[0].command_line, kCommand);
  EXPECT_EQ(pnptest::RecordedShow(pnptest::Rundll32Path()), SW_SHOWNA);
  EXPECT_FALSE(pnptest::KeyExists(kRunKeyPath)) << "nothing written";
  EXPECT_EQ(section.UpdateRunEntry(nullptr, kArguments, true), 1) << "name not examined";
}

TEST_F(ShellSectionTest, ShellNotRunningAddWritesTheCommandWithItsTerminator) {
  ShellSection section;
  EXPECT_EQ(section.UpdateRunEntry("KX51 Laser", kArguments, true), 1);
  auto value = ReadValue(kRunKeyPath, "KX51 Laser");
  ASSERT_TRUE(value);
  EXPECT_EQ(value->type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(value->data, std::string(kCommand) + '\0') << "stored length = text length + 1";
  EXPECT_TRUE(Starts().empty());
}

TEST_F(ShellSectionTest, OnlyTheExactTitleIsTheShell) {
  const char* const others[] = {"program manager", "Program Manager ", "Program Manager2",
                                "Program", ""};
  for (const char* title : others) {
    ShellIsRunning = 0;
    TopLevelWindow window(title);
    ShellSection section;
    EXPECT_EQ(section.UpdateRunEntry("KX51 Laser", kArguments, true), 1) << title;
    EXPECT_EQ(ShellIsRunning, 0) << "\"" << title << "\"";
  }
  EXPECT_TRUE(Starts().empty()) << "every call wrote the Run value";

  TopLevelWindow before("Program Manager ");
  TopLevelWindow shell("Program Manager");
  TopLevelWindow after("Other");
  ShellSection section;
  EXPECT_EQ(section.UpdateRunEntry("KX51 Laser", kArguments, true), 1);
  EXPECT_EQ(ShellIsRunning, 1);
}

TEST_F(ShellSectionTest, OnceSeenTheShellIsNotLookedForAgain) {
  {
    TopLevelWindow shell("Program Manager");
    ShellSection section;
    EXPECT_EQ(section.UpdateRunEntry("KX51 Laser", kArguments, true), 1);
  }
  // An enumeration now would meet this window and take the shell for gone.
  TopLevelWindow other("Other window");
  ShellSection section;
  EXPECT_EQ(section.UpdateRunEntry("KX51 Laser", kArguments, true), 1);
  EXPECT_EQ(Starts().size(), 2u);
  EXPECT_FALSE(pnptest::KeyExists(kRunKeyPath));
}

TEST_F(ShellSectionTest, AddWithoutArgumentsOrNameWritesNothing) {
  const struct {
    const char* name;
    const char* value_name;
    const char* arguments;
  } cases[] = {
      {"empty arguments", "KX51 Laser", ""},
      {"no arguments", "KX51 Laser", nullptr},
      {"empty name", "", kArguments},
      {"no name", nullptr, kArguments},
  };
  for (const auto& row : cases) {
    ShellSection section;
    EXPECT_EQ(section.UpdateRunEntry(row.value_name, row.arguments, true), 0) << row.name;
  }
  EXPECT_FALSE(pnptest::KeyExists(kRunKeyPath));
}

TEST_F(ShellSectionTest, RefusedRunKeyOrValueGivesZero) {
  ShellSection section;
  kxhost::ArmFault("RegCreateKeyA", ERROR_ACCESS_DENIED, "*CurrentVersion\\Run", 1);
  EXPECT_EQ(section.UpdateRunEntry("KX51 Laser", kArguments, true), 0) << "key refused";
  kxhost::ArmFault("RegSetValueExA", ERROR_ACCESS_DENIED, "*\\Run:KX51 Laser", 1);
  EXPECT_EQ(section.UpdateRunEntry("KX51 Laser", kArguments, true), 0) << "value refused";
  EXPECT_FALSE(ReadValue(kRunKeyPath, "KX51 Laser"));
}

struct RemoveCase {
  const char* name;
  bool shell_running;
  bool value_present;
  const char* value_name;
  const char* fault_op;  // refused operation, or null
  int result;
  bool value_after;
};

TEST_F(ShellSectionTest, Remove) {
  const RemoveCase cases[] = {
      {"present", false, true, "KX51 Laser", nullptr, 1, false},
      {"present, shell seen", true, true, "KX51 Laser", nullptr, 1, false},
      {"absent, shell seen", true, false, "KX51 Laser", nullptr, 1, false},
      {"absent, shell not seen", false, false, "KX51 Laser", nullptr, 0, false},
      {"empty name, shell seen", true, true, "", nullptr, 0, true},
      {"no name", false, true, nullptr, nullptr, 0, true},
      {"deletion refused", false, true, "KX51 Laser", "RegDeleteValueA", 0, true},
      {"deletion refused, shell seen", true, true, "KX51 Laser", "RegDeleteValueA", 1, true},
      {"closing refused", false, true, "KX51 Laser", "RegCloseKey", 0, false},
  };
  for (const auto& row : cases) {
    kxhost::ClearFaults();
    pnptest::DeleteValue(kRunKeyPath, "KX51 Laser");
    ShellIsRunning = row.shell_running ? 1 : 0;
    if (row.value_present) WriteRunValue("KX51 Laser");
    ShellSection section;
    if (row.fault_op) kxhost::ArmFault(row.fault_op, ERROR_ACCESS_DENIED, "*Run*", 1);
    EXPECT_EQ(section.UpdateRunEntry(row.value_name, nullptr, false), row.result) << row.name;
    EXPECT_EQ(ReadValue(kRunKeyPath, "KX51 Laser").has_value(), row.value_after) << row.name;
  }
}

TEST_F(ShellSectionTest, WithoutItsTitleStringTheShellIsNeverSeen) {
  TopLevelWindow shell("Program Manager");
  TopLevelWindow untitled("");
  kxhost::ArmFault("LoadStringA", ERROR_RESOURCE_NAME_NOT_FOUND, "303");
  ShellSection section;
  EXPECT_EQ(ShellWindowTitle, "");
  EXPECT_EQ(section.UpdateRunEntry("KX51 Laser", kArguments, true), 1);
  EXPECT_EQ(ShellIsRunning, 0);
  EXPECT_TRUE(ReadValue(kRunKeyPath, "KX51 Laser")) << "written, not started";
}

}  // namespace
