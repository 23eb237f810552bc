// The host's profile files beyond what the platform shows: faults, the
// journal, the Windows directory for bare names, and the lines it keeps.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "host.h"
#include "temp_machine.h"

namespace {

std::string Read(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

class HostProfile : public ::testing::Test {
 protected:
  void SetUp() override { std::filesystem::create_directories(kxhost::HostPath("C:\\WINDOWS")); }
  kxtest::TempMachine machine_;
};

TEST_F(HostProfile, KeepsCommentsAndBlankLinesAndEndsLinesWithCrLf) {
  const auto file = kxhost::HostPath("C:\\WINDOWS\\TEST.INI");
  std::ofstream(file, std::ios::binary) << "; comment\n\n[A]\nx = 1\n\n[B]\r\ny=2";
  EXPECT_TRUE(WritePrivateProfileStringA("a", "Z", "3", "C:\\WINDOWS\\TEST.INI"));
  EXPECT_TRUE(WritePrivateProfileStringA("B", "X", "4", "C:\\WINDOWS\\TEST.INI"));
  EXPECT_EQ(Read(file), "; comment\r\n\r\n[A]\r\nx = 1\r\nZ=3\r\n\r\n[B]\r\ny=2\r\nX=4\r\n");
  char value[16];
  GetPrivateProfileStringA("A", "X", "", value, sizeof value, "C:\\WINDOWS\\TEST.INI");
  EXPECT_STREQ(value, "1");
}

TEST_F(HostProfile, ABareNameIsInTheWindowsDirectory) {
  EXPECT_TRUE(WritePrivateProfileStringA("S", "K", "\"quoted\"", "KX.INI"));
  EXPECT_EQ(Read(kxhost::HostPath("C:\\WINDOWS\\KX.INI")), "[S]\r\nK=\"quoted\"\r\n");
  char value[16];
  GetPrivateProfileStringA("S", "K", "", value, sizeof value, "KX.INI");
  EXPECT_STREQ(value, "quoted");
}

TEST_F(HostProfile, FailsWithoutTouchingTheFile) {
  const auto file = kxhost::HostPath("C:\\WINDOWS\\TEST.INI");
  std::ofstream(file, std::ios::binary) << "[S]\r\nK=1\r\n";
  kxhost::ArmFault("WritePrivateProfileStringA", ERROR_ACCESS_DENIED, "*\\TEST.INI", 1);
  SetLastError(0);
  EXPECT_FALSE(WritePrivateProfileStringA("S", "K", "2", "C:\\WINDOWS\\TEST.INI"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(Read(file), "[S]\r\nK=1\r\n");

  EXPECT_FALSE(WritePrivateProfileStringA("S", "K", "2", "C:\\NOWHERE\\TEST.INI"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

  EXPECT_TRUE(WritePrivateProfileStringA("S", "K", "2", "C:\\WINDOWS\\TEST.INI"));
  bool journaled = false;
  for (const auto& entry : kxhost::ReadJournal())
    if (entry.op == "WritePrivateProfileStringA")
      journaled = entry.detail == "C:\\WINDOWS\\TEST.INI [S] K=2" && entry.result == "written";
  EXPECT_TRUE(journaled);
}

}  // namespace
