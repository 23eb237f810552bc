// The program's directories and the wait between adding and changing the
// printer.
#include <gtest/gtest.h>
#include <time.h>

#include "setup_machine.h"

namespace {

class Directories : public setuptest::SetupMachine {};

struct CutCase {
  const char* code_page;
  std::string path;
  std::string directory;
};

TEST_F(Directories, CutsAfterTheLastBackslash) {
  const CutCase cases[] = {
      {"1252", "A:\\Setup.Exe", "A:\\"},
      {"1252", "A:\\KX51\\DISK1\\Setup.Exe", "A:\\KX51\\DISK1\\"},
      {"1252", "\\Setup.Exe", "\\Setup.Exe"},  // the first byte is not looked at
      // A double-byte character whose trail byte is 0x5C is no separator.
      {"936",
       "A:\\\xB0\x5C"
       "Setup.Exe",
       "A:\\"},
      {"936", "A:\\\xD7\xD4\\Setup.Exe", "A:\\\xD7\xD4\\"},
      {"1252",
       "A:\\\xB0\x5C"
       "Setup.Exe",
       "A:\\\xB0\x5C"},
  };
  for (const auto& row : cases) {
    kxhost::Store::Get().SetSetting("codepage", row.code_page);
    char path[MAX_PATH];
    lstrcpyA(path, row.path.c_str());
    CutAfterLastBackslash(path);
    EXPECT_EQ(std::string(path), row.directory) << row.path << " in " << row.code_page;
  }
}

TEST_F(Directories, WithoutTheProgramsPathBothStayEmpty) {
  lstrcpyA(ModuleDirectory, "A:\\");
  lstrcpyA(InfDirectory, "C:\\WINDOWS\\INF");
  // This test program lies outside the machine.
  EXPECT_EQ(LocateDirectories(nullptr), 0);
  EXPECT_STREQ(ModuleDirectory, "");
  EXPECT_STREQ(InfDirectory, "");
}

double ProcessSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

TEST(WaitSeconds, EndsAtTheNextWholeSecondWithoutBurningTheProcessor) {
  const double cpu_before = ProcessSeconds();
  const DWORD start = GetTickCount();
  WaitSeconds(1);
  const DWORD end = GetTickCount();
  EXPECT_EQ(end / 1000 - start / 1000, 1u);
  EXPECT_LE(end - start, 1000u + 250u);  // a sleep step after the turn, on a busy host
  EXPECT_LT(ProcessSeconds() - cpu_before, 0.1);

  const DWORD before_zero = GetTickCount();
  WaitSeconds(0);
  EXPECT_LT(GetTickCount() - before_zero, 5u);
}

}  // namespace
