#include <gtest/gtest.h>

#include "host.h"
#include "temp_machine.h"

namespace {

struct PathCase {
  const char* current;
  const char* input;
  const char* full;
};

TEST(FullWindowsPath, NormalisesAgainstTheCurrentDirectory) {
  kxtest::TempMachine machine;
  const PathCase cases[] = {
      {"C:\\", "C:\\WINDOWS\\INF\\OEM0.INF", "C:\\WINDOWS\\INF\\OEM0.INF"},
      {"A:\\KX", "Setup.Exe", "A:\\KX\\Setup.Exe"},
      {"A:\\KX", "\\Setup.Exe", "A:\\Setup.Exe"},
      {"C:\\", "a:/x/../y/./z", "A:\\y\\z"},
      {"C:\\WINDOWS", "C:SYSTEM", "C:\\WINDOWS\\SYSTEM"},
      {"A:\\", "C:SYSTEM", "C:\\SYSTEM"},
      {"C:\\", "C:\\..\\..", "C:\\"},
      {"C:\\", "\\\\server\\share", ""},
  };
  for (const auto& row : cases) {
    kxhost::SetCurrentDirectoryPath(row.current);
    EXPECT_EQ(kxhost::FullWindowsPath(row.input), row.full)
        << "current " << row.current << ", input " << row.input;
  }
}

TEST(HostPath, FindsExistingNamesRegardlessOfCase) {
  kxtest::TempMachine machine;
  std::filesystem::create_directories(machine.dir() / "drive_c" / "Windows" / "Inf");
  EXPECT_EQ(kxhost::HostPath("C:\\WINDOWS\\INF\\OEM0.INF"),
            machine.dir() / "drive_c" / "Windows" / "Inf" / "OEM0.INF");
  EXPECT_EQ(kxhost::WindowsPathOf(machine.dir() / "drive_c" / "Windows" / "Inf"),
            "C:\\Windows\\Inf");
  EXPECT_EQ(kxhost::WindowsPathOf("/nowhere"), "");
}

TEST(PatternMatches, GlobWithoutCase) {
  EXPECT_TRUE(kxhost::PatternMatches("*", ""));
  EXPECT_TRUE(kxhost::PatternMatches("*configflags", "Enum\\X\\ConfigFlags"));
  EXPECT_TRUE(kxhost::PatternMatches("a?c*", "ABCdef"));
  EXPECT_FALSE(kxhost::PatternMatches("a?c", "abcd"));
}

}  // namespace
