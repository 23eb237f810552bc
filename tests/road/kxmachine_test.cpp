// The machine command as a person uses it: making a machine (and refusing to
// clear what is not one), showing registry values by type, arming faults and
// showing the journal as a timeline.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "host.h"
#include "run_program.h"
#include "temp_machine.h"

namespace {

using kxtest::ProgramRun;
using kxtest::RunProgram;

namespace fs = std::filesystem;

ProgramRun Kxmachine(std::vector<std::string> args) {
  args.insert(args.begin(), std::string(KX_BIN_DIR) + "/kxmachine");
  return RunProgram(args);
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class KxmachineTest : public ::testing::Test {
 protected:
  kxtest::TempMachine machine_;
};

TEST_F(KxmachineTest, CreateLaysOutTheMachine) {
  ProgramRun created = Kxmachine({"create", "--codepage", "936", "--box-delay", "250"});
  ASSERT_EQ(created.status, 0) << created.output;
  for (const char* path :
       {"C:\\WINDOWS\\SYSTEM\\RUNDLL32.EXE", "C:\\WINDOWS\\SYSTEM\\KX51PNP.DLL",
        "C:\\WINDOWS\\EXPLORER.EXE", "C:\\WINDOWS\\INF", "A:\\Setup.Exe", "A:\\WIN95.INF",
        "A:\\KX51.DRV", "A:\\KX51.HLP", "A:\\QRN16V40.DLL", "A:\\KX51CH.DLL", "A:\\LWE16V40.DLL"})
    EXPECT_TRUE(fs::exists(kxhost::HostPath(path))) << path;
  auto& store = kxhost::Store::Get();
  EXPECT_EQ(store.Setting("codepage"), "936");
  EXPECT_EQ(store.Setting("box_delay_ms"), "250");
  ProgramRun keys = Kxmachine({"keys", "HKEY_LOCAL_MACHINE\\Enum\\LPTENUM"});
  EXPECT_EQ(keys.status, 0);
  EXPECT_TRUE(Contains(keys.output, "KALDRENKX512E10\n    \"Model\"")) << keys.output;
  EXPECT_TRUE(Contains(keys.output, "REG_SZ  \"KX51 Laser\"")) << keys.output;
}

TEST_F(KxmachineTest, CreateReplacesOnlyAMachineAndOnlyWhenAsked) {
  std::ofstream(machine_.dir() / "notes.txt") << "someone's file";
  ProgramRun refused = Kxmachine({"create"});
  EXPECT_NE(refused.status, 0);
  ProgramRun still_refused = Kxmachine({"create", "--force"});
  EXPECT_NE(still_refused.status, 0) << "a folder that holds no machine is never cleared";
  EXPECT_TRUE(fs::exists(machine_.dir() / "notes.txt"));

  fs::remove(machine_.dir() / "notes.txt");
  ASSERT_EQ(Kxmachine({"create"}).status, 0);
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "Software\\Left over", &key), ERROR_SUCCESS);
  RegCloseKey(key);
  kxhost::Store::Reset();
  EXPECT_NE(Kxmachine({"create"}).status, 0);
  ASSERT_EQ(Kxmachine({"create", "--force"}).status, 0);
  EXPECT_NE(RegOpenKeyA(HKEY_LOCAL_MACHINE, "Software\\Left over", &key), ERROR_SUCCESS);
}

TEST_F(KxmachineTest, KeysShowValuesByType) {
  ASSERT_EQ(Kxmachine({"create"}).status, 0);
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "Software\\Shown", &key), ERROR_SUCCESS);
  struct Row {
    const char* name;
    DWORD type;
    std::string data;
    const char* shown;
    size_t count = std::string::npos;  // bytes handed over, when not all
  };
  const Row rows[] = {
      {"Text", REG_SZ, std::string("plain\0", 6), "\"Text\"                   REG_SZ  \"plain\""},
      // More text follows the count, so the platform adds no zero.
      {"Unended", REG_SZ, "abcd", "REG_SZ  3 bytes: 61 62 63", 3},
      {"Eight bit", REG_SZ, std::string("\xB5\xB5\0", 3), "REG_SZ  3 bytes: b5 b5 00"},
      {"Flags", REG_BINARY, std::string(4, '\0'), "REG_BINARY  4 bytes: 00 00 00 00"},
      {"Number", REG_DWORD, std::string("\x10\0\0\0", 4), "REG_DWORD  0x00000010 (16)"},
  };
  for (const auto& row : rows)
    ASSERT_EQ(
        RegSetValueExA(key, row.name, 0, row.type, reinterpret_cast<const BYTE*>(row.data.data()),
                       static_cast<DWORD>(std::min(row.count, row.data.size()))),
        ERROR_SUCCESS);
  RegCloseKey(key);
  ProgramRun keys = Kxmachine({"keys", "HKLM\\software\\shown"});
  EXPECT_EQ(keys.status, 0);
  for (const auto& row : rows)
    EXPECT_TRUE(Contains(keys.output, row.shown)) << row.name << "\n" << keys.output;
  EXPECT_NE(Kxmachine({"keys", "Software\\Absent"}).status, 0);
}

TEST_F(KxmachineTest, FaultsAreArmedForEveryProcess) {
  ASSERT_EQ(Kxmachine({"create"}).status, 0);
  ProgramRun armed = Kxmachine({"fault", "RegSetValueExA", "5", "Software\\Run*", "1"});
  EXPECT_EQ(armed.status, 0) << armed.output;
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "Software\\Run", &key), ERROR_SUCCESS);
  const BYTE data[] = "x";
  EXPECT_EQ(RegSetValueExA(key, "v", 0, REG_SZ, data, 2), 5);
  EXPECT_EQ(RegSetValueExA(key, "v", 0, REG_SZ, data, 2), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_NE(Kxmachine({"fault", "RegSetValueExA", "five"}).status, 0);
}

TEST_F(KxmachineTest, JournalShowsOneColumnAProcess) {
  ASSERT_EQ(Kxmachine({"create"}).status, 0);
  EXPECT_TRUE(Contains(Kxmachine({"journal"}).output, "(the journal is empty)"))
      << "the machine's own making is not part of its road";
  ASSERT_EQ(Kxmachine({"run", "C:\\WINDOWS\\EXPLORER.EXE /exit"}).status, 0);
  ASSERT_EQ(Kxmachine({"wait", "--timeout", "30"}).status, 0);
  ProgramRun journal = Kxmachine({"journal"});
  EXPECT_TRUE(Contains(journal.output, "  A  kxmachine (pid ")) << journal.output;
  EXPECT_TRUE(Contains(journal.output, "  B  EXPLORER.EXE (pid ")) << journal.output;
  EXPECT_TRUE(
      Contains(journal.output, "*  B CreateWindowExA class \"Progman\" title \"Program Manager\""))
      << journal.output;
  EXPECT_TRUE(Contains(Kxmachine({"journal", "--all"}).output, "RegSetValueExA"));
}

}  // namespace
