// The setup sequence against the host spooler: the calls it makes, with
// every member of the structures it hands over, and what it leaves.
#include <gtest/gtest.h>

#include "setup_machine.h"

namespace {

using setuptest::kPrinterName;

// The members of a spooler call as the journal shows them: name=value with
// texts in quotes and lists in braces.
std::map<std::string, std::string> Members(const std::string& detail) {
  std::map<std::string, std::string> members;
  size_t at = 0;
  while (at < detail.size()) {
    size_t equals = detail.find('=', at);
    if (equals == std::string::npos) break;
    std::string name = detail.substr(at, equals - at);
    size_t end = equals + 1;
    if (detail[end] == '"') {
      end = detail.find('"', end + 1) + 1;
    } else if (detail[end] == '{') {
      end = detail.find('}', end) + 1;
    } else {
      end = detail.find(' ', end);
      if (end == std::string::npos) end = detail.size();
    }
    members[name] = detail.substr(equals + 1, end - equals - 1);
    at = end + 1;
  }
  return members;
}

struct SpoolerCall {
  std::string op;
  std::map<std::string, std::string> members;
  std::string result;
};

bool IsSpoolerOp(const std::string& op) {
  for (const char* spooler : {"OpenPrinterA", "DeletePrinter", "ClosePrinter", "AddMonitorA",
                              "AddPrinterDriverA", "AddPrinterA", "GetPrinterA", "SetPrinterA"})
    if (op == spooler) return true;
  return false;
}

std::vector<SpoolerCall> SpoolerCalls(int64_t after = 0) {
  std::vector<SpoolerCall> calls;
  for (const auto& entry : kxhost::ReadJournal(after))
    if (IsSpoolerOp(entry.op)) calls.push_back({entry.op, Members(entry.detail), entry.result});
  return calls;
}

const std::string kQuotedName = "\"" + kPrinterName + "\"";

// The printer as the add step hands it over.
std::map<std::string, std::string> AddedPrinter() {
  return {{"level", "2"},
          {"pServerName", "null"},
          {"pPrinterName", kQuotedName},
          {"pShareName", "null"},
          {"pPortName", "\"LPT1:\""},
          {"pDriverName", kQuotedName},
          {"pComment", "null"},
          {"pLocation", "null"},
          {"pDevMode", "null"},
          {"pSepFile", "null"},
          {"pPrintProcessor", "\"WinPrint\""},
          {"pDatatype", "\"EMF\""},
          {"pParameters", "null"},
          {"pSecurityDescriptor", "null"},
          {"Attributes", "0x840"},
          {"Priority", "1"},
          {"DefaultPriority", "0"},
          {"StartTime", "0"},
          {"UntilTime", "0"},
          {"Status", "0"},
          {"cJobs", "0"},
          {"AveragePPM", "0"}};
}

class Sequence : public setuptest::SetupMachine {};

TEST_F(Sequence, MakesTheSpoolerCallsInOrderWithTheTablesMembers) {
  EXPECT_EQ(WinMain(nullptr, nullptr, const_cast<LPSTR>(""), SW_SHOWNORMAL), 0);

  // As the spooler gives it back: the add step's members, with the
  // printer's attributes replaced.
  auto set = AddedPrinter();
  set["Attributes"] = "0x844";
  set["pPrinterName"] = kQuotedName;
  set["command"] = "4";

  const std::map<std::string, std::string> name = {{"pPrinterName", kQuotedName}};
  auto open = name;
  open["DesiredAccess"] = "0xF000C";  // all access: delete, read and write
  const std::vector<SpoolerCall> expected = {
      {"OpenPrinterA", open, "error 1801"},  // no printer of the name yet
      {"AddMonitorA",
       {{"level", "2"},
        {"pName", "\"\""},
        {"pEnvironment", "\"Windows x86\""},
        {"pDLLName", "\"\""}},
       "error 87"},  // the spooler takes no monitor without a name
      {"AddPrinterDriverA",
       {{"level", "3"},
        {"cVersion", "0x300"},
        {"pName", kQuotedName},
        {"pEnvironment", "null"},
        {"pDriverPath", "\"KX51.DRV\""},
        {"pDataFile", "\"KX51.DRV\""},
        {"pConfigFile", "\"KX51.DRV\""},
        {"pHelpFile", "\"KX51.HLP\""},
        {"pDependentFiles",
         "{\"QRN16V40.DLL\",\"KX51.DRV\",\"KX51CH.DLL\",\"LWE16V40.DLL\",\"KX51.HLP\"}"},
        {"pMonitorName", "\"\""},
        {"pDefaultDataType", "\"EMF\""}},
       "ok"},
      {"AddPrinterA", AddedPrinter(), "ok"},
      {"ClosePrinter", name, "ok"},
      {"OpenPrinterA", open, "ok"},
      {"GetPrinterA", {{"pPrinterName", kQuotedName}, {"level", "2"}, {"cbBuf", "2000"}}, "ok"},
      {"SetPrinterA", set, "ok"},
      {"ClosePrinter", name, "ok"},
  };
  const auto calls = SpoolerCalls();
  ASSERT_EQ(calls.size(), expected.size());
  for (size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(calls[i].op, expected[i].op);
    EXPECT_EQ(calls[i].members, expected[i].members) << expected[i].op;
    EXPECT_EQ(calls[i].result, expected[i].result) << expected[i].op;
  }
  ASSERT_EQ(kPrinterName.size(), 24u);

  const auto printers = kxhost::Printers();
  ASSERT_EQ(printers.size(), 1u);
  EXPECT_EQ(printers[0].name, kPrinterName);
  EXPECT_EQ(printers[0].port, "LPT1:");
  EXPECT_TRUE(printers[0].is_default);
}

TEST_F(Sequence, DeletesAnOldPrinterBeforeAddingTheMonitor) {
  WinMain(nullptr, nullptr, const_cast<LPSTR>(""), SW_SHOWNORMAL);
  const int64_t after = kxhost::ReadJournal().back().seq;

  WinMain(nullptr, nullptr, const_cast<LPSTR>(""), SW_SHOWNORMAL);
  const auto calls = SpoolerCalls(after);
  ASSERT_GE(calls.size(), 4u);
  const char* first[] = {"OpenPrinterA", "DeletePrinter", "ClosePrinter", "AddMonitorA"};
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(calls[i].op, first[i]);
  EXPECT_EQ(calls[1].result, "ok");
  EXPECT_EQ(calls[calls.size() - 2].op, "SetPrinterA");
  EXPECT_EQ(calls[calls.size() - 2].result, "ok");
  ASSERT_EQ(kxhost::Printers().size(), 1u);
  EXPECT_TRUE(kxhost::Printers()[0].is_default);
}

// A printer that stays (its deletion fails) and whose information does not
// fit the 2000-byte buffer: it still becomes the default printer, with its
// attributes replaced and its other members kept.
TEST_F(Sequence, LargeInformationStillMakesTheDefaultPrinter) {
  setuptest::InstallLargePrinter(PRINTER_ATTRIBUTE_LOCAL | PRINTER_ATTRIBUTE_SHARED);
  std::string name = kPrinterName;

  WinMain(nullptr, nullptr, const_cast<LPSTR>(""), SW_SHOWNORMAL);

  HANDLE printer = nullptr;
  ASSERT_TRUE(OpenPrinterA(name.data(), &printer, nullptr));
  DWORD needed = 0;
  GetPrinterA(printer, 2, nullptr, 0, &needed);
  std::vector<BYTE> buffer(needed);
  ASSERT_TRUE(GetPrinterA(printer, 2, buffer.data(), needed, &needed));
  ClosePrinter(printer);
  PRINTER_INFO_2 info;
  std::memcpy(&info, buffer.data(), sizeof info);
  EXPECT_EQ(info.Attributes, 0x844u);
  EXPECT_STREQ(info.pPortName, "LPT1:");
  EXPECT_EQ(std::string(info.pComment), setuptest::kLargeComment);
  EXPECT_TRUE(kxhost::Printers()[0].is_default);
  // AddPrinter found the name taken; GetPrinter is not logged.
  EXPECT_EQ(LoggedErrors(),
            (std::map<std::string, std::string>{{"AddMonitor", "Error code : 87"},
                                                {"AddPrinter", "Error code : 1802"}}));
}

TEST_F(Sequence, ArgumentsAndShowStateChangeNothing) {
  struct Start {
    const char* command_line;
    int show;
  };
  const Start starts[] = {{"", SW_SHOWNORMAL}, {"/q /s:A:\\ WIN95.INF", SW_HIDE}, {"x", 99}};
  std::vector<std::vector<std::string>> runs;
  for (const auto& start : starts) {
    kxtest::TempMachine fresh;
    SetUp();
    EXPECT_EQ(WinMain(nullptr, nullptr, const_cast<LPSTR>(start.command_line), start.show), 0)
        << start.command_line;
    std::vector<std::string> journal;
    for (const auto& entry : kxhost::ReadJournal())
      journal.push_back(entry.op + " " + entry.detail + " " + entry.result);
    runs.push_back(journal);
  }
  EXPECT_EQ(runs[1], runs[0]);
  EXPECT_EQ(runs[2], runs[0]);
}

TEST_F(Sequence, WithoutItsOwnPathTheCaptionsAreWrittenAndNoInfCopied) {
  // This test program lies outside the machine: its path is not available.
  char path[MAX_PATH];
  ASSERT_EQ(GetModuleFileNameA(nullptr, path, MAX_PATH), 0u);
  setuptest::WriteBytes(kxhost::HostPath("C:\\WIN95.INF"), "[Version]\n");

  EXPECT_EQ(WinMain(nullptr, nullptr, const_cast<LPSTR>(""), SW_SHOWNORMAL), 0);
  EXPECT_TRUE(InfDirectoryNames().empty());
  EXPECT_FALSE(std::filesystem::exists(kxhost::HostPath("C:\\OEM0.INF")));
  HKEY key = nullptr;
  ASSERT_EQ(
      RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tovarra\\Quindle Status Monitor Window", &key),
      ERROR_SUCCESS);
  RegCloseKey(key);
}

}  // namespace
