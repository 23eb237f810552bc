// The host's file operations beyond what the platform shows: faults by API
// name on the Windows path, and the journal of what changed the machine.
#include <gtest/gtest.h>

#include <fstream>

#include "host.h"
#include "temp_machine.h"

namespace {

class HostFiles : public ::testing::Test {
 protected:
  void SetUp() override { CreateDirectoryA("C:\\DATA", nullptr); }

  HANDLE Open(const char* path, DWORD access, DWORD disposition) {
    return CreateFileA(path, access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  }

  std::vector<std::string> Journaled() {
    std::vector<std::string> entries;
    for (const auto& entry : kxhost::ReadJournal())
      entries.push_back(entry.op + " " + entry.detail + " " + entry.result);
    return entries;
  }

  kxtest::TempMachine machine_;
};

TEST_F(HostFiles, FaultsMatchTheWindowsPathOfEachOperation) {
  HANDLE file = Open("C:\\DATA\\A.TXT", GENERIC_WRITE, CREATE_NEW);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(file, "abc", 3, &written, nullptr));
  CloseHandle(file);

  struct Case {
    const char* op;
    std::function<bool()> call;  // true when the call succeeded
  };
  char temp[MAX_PATH];
  const Case cases[] = {
      {"CreateFileA",
       [&] {
         HANDLE h = Open("c:\\data\\a.txt", GENERIC_READ, OPEN_EXISTING);
         if (h == INVALID_HANDLE_VALUE) return false;
         CloseHandle(h);
         return true;
       }},
      {"ReadFile",
       [&] {
         HANDLE h = Open("C:\\DATA\\A.TXT", GENERIC_READ, OPEN_EXISTING);
         char buffer[8];
         DWORD got = 0;
         const bool ok = ReadFile(h, buffer, sizeof buffer, &got, nullptr);
         CloseHandle(h);
         return ok;
       }},
      {"WriteFile",
       [&] {
         HANDLE h = Open("C:\\DATA\\A.TXT", GENERIC_WRITE, OPEN_EXISTING);
         DWORD put = 0;
         const bool ok = WriteFile(h, "x", 1, &put, nullptr);
         CloseHandle(h);
         return ok;
       }},
      {"GetFileAttributesA",
       [&] { return GetFileAttributesA("C:\\DATA\\A.TXT") != INVALID_FILE_ATTRIBUTES; }},
      {"GetTempFileNameA", [&] { return GetTempFileNameA("C:\\DATA", "T", 7, temp) != 0; }},
      {"CreateDirectoryA", [&] { return CreateDirectoryA("C:\\DATA\\A.TXT", nullptr) != 0; }},
      {"MoveFileA", [&] { return MoveFileA("C:\\DATA\\B.TXT", "C:\\DATA\\A.TXT") != 0; }},
      {"DeleteFileA", [&] { return DeleteFileA("C:\\DATA\\A.TXT") != 0; }},
  };
  for (const auto& row : cases) {
    kxhost::ClearFaults();
    kxhost::ArmFault(row.op, ERROR_NOT_READY, "C:\\DATA\\A.TXT");
    kxhost::ArmFault(row.op, ERROR_NOT_READY, "C:\\DATA");
    SetLastError(0);
    EXPECT_FALSE(row.call()) << row.op;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_READY)) << row.op;
  }
  kxhost::ClearFaults();
  EXPECT_TRUE(cases[0].call());
  EXPECT_EQ(GetFileAttributesA("C:\\DATA\\A.TXT") & FILE_ATTRIBUTE_DIRECTORY, 0u);
}

TEST_F(HostFiles, JournalsWhatChangesTheMachine) {
  HANDLE file = Open("C:\\DATA\\A.TXT", GENERIC_WRITE, CREATE_NEW);
  DWORD written = 0;
  WriteFile(file, "abc", 3, &written, nullptr);
  WriteFile(file, "de", 2, &written, nullptr);
  CloseHandle(file);
  CloseHandle(Open("C:\\DATA\\A.TXT", GENERIC_READ, OPEN_EXISTING));  // changes nothing
  MoveFileA("C:\\DATA\\A.TXT", "C:\\DATA\\B.TXT");
  DeleteFileA("C:\\DATA\\B.TXT");
  EXPECT_EQ(Journaled(), (std::vector<std::string>{
                             "CreateDirectoryA C:\\DATA created",
                             "CreateFileA C:\\DATA\\A.TXT created",
                             "WriteFile C:\\DATA\\A.TXT 5 bytes",
                             "MoveFileA C:\\DATA\\A.TXT -> C:\\DATA\\B.TXT moved",
                             "DeleteFileA C:\\DATA\\B.TXT deleted",
                         }));
}

TEST_F(HostFiles, AFileClosesWhenItsJournalEntryCannotBeWritten) {
  HANDLE file = Open("C:\\DATA\\A.TXT", GENERIC_WRITE, CREATE_NEW);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(file, "abc", 3, &written, nullptr));
  kxhost::Store::Get().Exec(
      "CREATE TRIGGER journal_full BEFORE INSERT ON journal "
      "BEGIN SELECT RAISE(ABORT, 'journal full'); END");
  SetLastError(12345);
  EXPECT_TRUE(CloseHandle(file));
  EXPECT_EQ(GetLastError(), 12345u);
  EXPECT_FALSE(CloseHandle(file));
}

TEST_F(HostFiles, TheCurrentDirectoryCompletesRelativePaths) {
  SetCurrentDirectoryA("C:\\DATA");
  HANDLE file = Open("REL.TXT", GENERIC_WRITE, CREATE_NEW);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
  EXPECT_TRUE(std::filesystem::exists(kxhost::HostPath("C:\\DATA\\REL.TXT")));
}

}  // namespace
