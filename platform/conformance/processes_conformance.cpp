// What the installer relies on of process start, the current directory,
// modules and string resources: the same expectations on the host platform
// and on the real one (under Wine).
#include <cstring>
#include <string>

#include "conformance.h"

namespace {

class ProcessesConformance : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_length_ = GetCurrentDirectoryA(sizeof saved_, saved_);
    CreateDirectoryA("C:\\KXPROC", nullptr);
    CreateDirectoryA("C:\\KXPROC\\Program Files", nullptr);
    CreateDirectoryA("C:\\KXPROC\\Program Files\\KX", nullptr);
  }
  void TearDown() override {
    if (saved_length_ > 0 && saved_length_ < sizeof saved_) SetCurrentDirectoryA(saved_);
  }

  static void WriteFile(const char* path, const std::string& content) {
    HANDLE file =
        CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
    DWORD written = 0;
    ::WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(file);
  }

  // CreateProcessA as the installer calls it; closes what it gets.
  static BOOL Start(LPCSTR application, const std::string& command_line) {
    std::string writable = command_line;
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION information;
    std::memset(&information, 0, sizeof information);
    BOOL started = CreateProcessA(application, &writable[0], nullptr, nullptr, FALSE, 0, nullptr,
                                  nullptr, &startup, &information);
    if (started) {
      CloseHandle(information.hThread);
      CloseHandle(information.hProcess);
    }
    return started;
  }

  kxtest::ConformanceMachine machine_;
  char saved_[MAX_PATH] = "";
  DWORD saved_length_ = 0;
};

TEST_F(ProcessesConformance, AMissingProgramIsFileNotFound) {
  SetLastError(0xDEAD);
  EXPECT_FALSE(Start(nullptr, "C:\\KXPROC\\None.exe"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  SetLastError(0xDEAD);
  EXPECT_FALSE(Start("C:\\KXPROC\\None.exe", "None.exe"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(WinExec("C:\\KXPROC\\None.exe", SW_SHOWNA), static_cast<UINT>(ERROR_FILE_NOT_FOUND));
}

// An unquoted command line with blanks is tried up to each blank in turn:
// the file "C:\KXPROC\Program.exe" (no program) is what the platform tries
// to start for "C:\KXPROC\Program Files\KX\Setup.Exe", unless the name is
// quoted or given as the application name.
TEST_F(ProcessesConformance, AnUnquotedPathIsTriedAtEachBlank) {
  WriteFile("C:\\KXPROC\\Program.exe", "no program");
  const std::string setup = "C:\\KXPROC\\Program Files\\KX\\Setup.Exe";
  SetLastError(0xDEAD);
  EXPECT_FALSE(Start(nullptr, setup));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_EXE_FORMAT));
  EXPECT_EQ(WinExec(setup.c_str(), SW_SHOWNA), static_cast<UINT>(ERROR_BAD_FORMAT));

  SetLastError(0xDEAD);
  EXPECT_FALSE(Start(nullptr, "\"" + setup + "\""));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  SetLastError(0xDEAD);
  EXPECT_FALSE(Start(setup.c_str(), "\"" + setup + "\""));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(ProcessesConformance, SetCurrentDirectoryNeedsAnExistingDirectory) {
  WriteFile("C:\\KXPROC\\File.txt", "x");
  ASSERT_TRUE(SetCurrentDirectoryA("C:\\KXPROC"));
  struct Case {
    const char* path;
    DWORD error;
  };
  const Case cases[] = {
      {"C:\\KXPROC\\None", ERROR_FILE_NOT_FOUND},
      {"C:\\KXPROC\\None\\Deeper", ERROR_PATH_NOT_FOUND},
      {"C:\\KXPROC\\File.txt", ERROR_DIRECTORY},
  };
  for (const auto& row : cases) {
    SetLastError(0xDEAD);
    EXPECT_FALSE(SetCurrentDirectoryA(row.path)) << row.path;
    EXPECT_EQ(GetLastError(), row.error) << row.path;
  }
  char current[MAX_PATH] = "poison";
  EXPECT_EQ(GetCurrentDirectoryA(sizeof current, current), 9u);
  EXPECT_STREQ(current, "C:\\KXPROC");

  ASSERT_TRUE(SetCurrentDirectoryA("Program Files\\KX\\"));
  char small[10] = "poison";
  EXPECT_EQ(GetCurrentDirectoryA(sizeof small, small), 27u);  // the size needed, zero included
  EXPECT_STREQ(small, "poison");
  EXPECT_EQ(GetCurrentDirectoryA(sizeof current, current), 26u);
  EXPECT_STREQ(current, "C:\\KXPROC\\Program Files\\KX");
}

TEST_F(ProcessesConformance, AnIdWithoutAStringGivesAnEmptyText) {
  char text[16] = "poison";
  EXPECT_EQ(LoadStringA(GetModuleHandleA(nullptr), 4321, text, sizeof text), 0);
  EXPECT_STREQ(text, "");
}

TEST_F(ProcessesConformance, MissingLibrariesAndExports) {
  SetLastError(0xDEAD);
  EXPECT_EQ(LoadLibraryA("KXNOSUCH"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  HMODULE program = GetModuleHandleA(nullptr);
  ASSERT_NE(program, nullptr);
  SetLastError(0xDEAD);
  EXPECT_EQ(GetProcAddress(program, "KxNoSuchExport"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
}

}  // namespace
