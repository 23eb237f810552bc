// The failure log: which spooler step leaves which key in section "ZEBLIN"
// of WIN.INI in the system directory.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "setup_machine.h"

namespace {

using Log = std::map<std::string, std::string>;

class FailureLog : public setuptest::SetupMachine {
 protected:
  void Run() { EXPECT_EQ(WinMain(nullptr, nullptr, const_cast<LPSTR>(""), SW_SHOW), 0); }
};

struct FailingStep {
  const char* op;  // the spooler operation made to fail
  DWORD error;
  int count;  // how many of its calls fail (-1: all)
  Log logged;
};

// The spooler refuses the monitor without a name (87) on every run; a step
// that fails takes the steps that need its result with it.
TEST_F(FailureLog, EachFailingStepLeavesItsKey) {
  const FailingStep steps[] = {
      {"AddMonitorA", 5, -1, {{"AddMonitor", "Error code : 5"}}},
      {"AddPrinterDriverA",
       0,
       -1,
       {{"AddMonitor", "Error code : 87"},
        {"AddPrinterDriver", "Error code : 0"},
        {"AddPrinter", "Error code : 1797"},
        {"OpenPrinter", "Error code : 1801"}}},
      {"AddPrinterA",
       0x80000005u,
       -1,
       {{"AddMonitor", "Error code : 87"},
        {"AddPrinter", "Error code : -2147483643"},
        {"OpenPrinter", "Error code : 1801"}}},
      {"OpenPrinterA",
       5,
       -1,
       {{"AddMonitor", "Error code : 87"}, {"OpenPrinter", "Error code : 5"}}},
      {"OpenPrinterA", 5, 1, {{"AddMonitor", "Error code : 87"}}},  // only the first open
      {"GetPrinterA", 5, -1, {{"AddMonitor", "Error code : 87"}, {"GetPrinter", "Error code : 5"}}},
      {"SetPrinterA",
       0xFFFFFFFFu,
       -1,
       {{"AddMonitor", "Error code : 87"}, {"SetPrinter", "Error code : -1"}}},
      {"DeletePrinter", 5, -1, {{"AddMonitor", "Error code : 87"}}},
      {"ClosePrinter", 5, -1, {{"AddMonitor", "Error code : 87"}}},
  };
  for (const auto& step : steps) {
    kxtest::TempMachine fresh;
    SetUp();
    kxhost::ArmFault(step.op, step.error, "*", step.count);
    Run();
    EXPECT_EQ(LoggedErrors(), step.logged) << step.op << " failing " << step.count << " times";
  }
}

TEST_F(FailureLog, EverySpoolerOperationFailingGivesTheFourKeys) {
  for (const char* op : {"OpenPrinterA", "DeletePrinter", "ClosePrinter", "AddMonitorA",
                         "AddPrinterDriverA", "AddPrinterA", "GetPrinterA", "SetPrinterA"})
    kxhost::ArmFault(op, ERROR_ACCESS_DENIED);
  Run();
  EXPECT_EQ(LoggedErrors(), (Log{{"AddMonitor", "Error code : 5"},
                                 {"AddPrinterDriver", "Error code : 5"},
                                 {"AddPrinter", "Error code : 5"},
                                 {"OpenPrinter", "Error code : 5"}}));
  // The rest of the sequence is still attempted.
  HKEY key = nullptr;
  EXPECT_EQ(
      RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tovarra\\Quindle Status Monitor Window", &key),
      ERROR_SUCCESS);
  RegCloseKey(key);
}

TEST_F(FailureLog, ASecondRunKeepsTheFirstRunsKeys) {
  kxhost::ArmFault("SetPrinterA", 5);
  Run();
  kxhost::ClearFaults();
  kxhost::ArmFault("GetPrinterA", 6);
  Run();
  EXPECT_EQ(LoggedErrors(), (Log{{"AddMonitor", "Error code : 87"},
                                 {"GetPrinter", "Error code : 6"},
                                 {"SetPrinter", "Error code : 5"}}));
}

TEST_F(FailureLog, IsWrittenAsAProfileFileKeepingOtherContent) {
  setuptest::WriteBytes(FailureLogFile(),
                        "[windows]\r\nload=\r\n\r\n[ZEBLIN]\r\nAddMonitor=old\r\n");
  Run();
  EXPECT_EQ(setuptest::ReadBytes(FailureLogFile()),
            "[windows]\r\nload=\r\n\r\n[ZEBLIN]\r\nAddMonitor=Error code : 87\r\n");
  // Not the WIN.INI of the Windows directory.
  EXPECT_FALSE(std::filesystem::exists(kxhost::HostPath("C:\\WINDOWS\\WIN.INI")));
}

// The spooler refuses the nameless monitor on every run, so a run without
// failure is the sequence's other steps succeeding.
TEST_F(FailureLog, StepsThatSucceedLeaveTheFileUntouched) {
  const std::string content = "[ZEBLIN]\r\nAddPrinter=Error code : 1802\r\n";
  setuptest::WriteBytes(FailureLogFile(), content);
  struct stat before {};
  stat(FailureLogFile().c_str(), &before);
  const int64_t journal_end = kxhost::ReadJournal().empty() ? 0 : kxhost::ReadJournal().back().seq;

  for (int run = 0; run < 2; ++run) {  // the second run deletes the first run's printer
    RemoveOldPrinter();
    AddKx51Driver();
    AddKx51Printer();
    MakeDefaultPrinter();
  }

  struct stat after {};
  stat(FailureLogFile().c_str(), &after);
  EXPECT_EQ(setuptest::ReadBytes(FailureLogFile()), content);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  for (const auto& entry : kxhost::ReadJournal(journal_end))
    EXPECT_NE(entry.op, "WritePrivateProfileStringA") << entry.detail;
  EXPECT_TRUE(kxhost::Printers().at(0).is_default);
}

}  // namespace
