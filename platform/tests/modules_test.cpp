// Modules: LoadLibraryA's search and counting, DllMain, GetProcAddress,
// GetModuleHandleA, GetModuleFileNameA, and LoadStringA over a module's
// string table. The library loaded is the build's test module
// (bin/kxtestmodule.so), planted under Windows names.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "host.h"
#include "planted_files.h"
#include "temp_machine.h"

namespace {

const std::filesystem::path kTestModule = std::filesystem::path(KX_BIN_DIR) / "kxtestmodule.so";

class Modules : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(std::filesystem::exists(kTestModule)) << "build the target kxtestmodule";
    setenv("KX_TEST_MODULE_LOG", (machine_.dir() / "module.log").c_str(), 1);
    std::filesystem::create_directories(kxhost::HostPath("A:\\KX"));
    ASSERT_TRUE(SetCurrentDirectoryA("A:\\KX"));
  }
  void TearDown() override {
    unsetenv("KX_TEST_MODULE_LOG");
    unsetenv("KX_TEST_MODULE_REFUSE");
  }
  void Plant(const std::string& windows_path) { kxtest::PlantCopy(windows_path, kTestModule); }
  std::vector<std::string> Log() { return kxtest::ReadLines(machine_.dir() / "module.log"); }
  std::string FileName(HMODULE module) {
    char path[MAX_PATH] = "";
    GetModuleFileNameA(module, path, sizeof path);
    return path;
  }

  kxtest::TempMachine machine_;
};

TEST_F(Modules, LoadedTwiceIsCountedAndDetachedAtTheLastFree) {
  Plant("C:\\WINDOWS\\SYSTEM\\KXTEST.DLL");
  HMODULE first = LoadLibraryA("KXTEST");
  ASSERT_NE(first, nullptr) << GetLastError();
  EXPECT_EQ(LoadLibraryA("kxtest.dll"), first);
  EXPECT_EQ(LoadLibraryA("C:\\WINDOWS\\SYSTEM\\KXTEST.DLL"), first);
  EXPECT_EQ(Log(), std::vector<std::string>{"attach"});
  EXPECT_EQ(GetModuleHandleA("KXTEST"), first);
  EXPECT_EQ(FileName(first), "C:\\WINDOWS\\SYSTEM\\KXTEST.DLL");

  EXPECT_TRUE(FreeLibrary(first));
  EXPECT_TRUE(FreeLibrary(first));
  EXPECT_EQ(Log(), std::vector<std::string>{"attach"});
  EXPECT_TRUE(FreeLibrary(first));
  EXPECT_EQ(Log(), (std::vector<std::string>{"attach", "detach"}));

  SetLastError(0);
  EXPECT_EQ(GetModuleHandleA("KXTEST"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  EXPECT_FALSE(FreeLibrary(first));
}

struct LibrarySearchCase {
  const char* name;
  std::vector<std::string> planted;
  const char* library;
  const char* loaded;  // its Windows path, or null: not found
};

TEST_F(Modules, LoadLibrarySearchesAsThePlatform) {
  const LibrarySearchCase cases[] = {
      {"the current directory before the system directory",
       {"A:\\KX\\KXTEST.DLL", "C:\\WINDOWS\\SYSTEM\\KXTEST.DLL"},
       "KXTEST",
       "A:\\KX\\KXTEST.DLL"},
      {"the system directory before the Windows directory",
       {"C:\\WINDOWS\\SYSTEM\\KXTEST.DLL", "C:\\WINDOWS\\KXTEST.DLL"},
       "KXTEST",
       "C:\\WINDOWS\\SYSTEM\\KXTEST.DLL"},
      {"the Windows directory before PATH",
       {"C:\\WINDOWS\\KXTEST.DLL", "C:\\WINDOWS\\COMMAND\\KXTEST.DLL"},
       "KXTEST.DLL",
       "C:\\WINDOWS\\KXTEST.DLL"},
      {"PATH last",
       {"C:\\WINDOWS\\COMMAND\\KXTEST.DLL"},
       "KXTEST",
       "C:\\WINDOWS\\COMMAND\\KXTEST.DLL"},
      {"a path is not searched", {"C:\\WINDOWS\\SYSTEM\\KXTEST.DLL"}, "C:\\KXTEST.DLL", nullptr},
      {"a relative path from the current directory",
       {"A:\\KX\\SUB\\KXTEST.DLL"},
       "SUB\\KXTEST",
       "A:\\KX\\SUB\\KXTEST.DLL"},
      {"another extension is kept", {"C:\\WINDOWS\\SYSTEM\\KXTEST.DLL"}, "KXTEST.BIN", nullptr},
      {"another extension found",
       {"C:\\WINDOWS\\SYSTEM\\KXTEST.BIN"},
       "KXTEST.BIN",
       "C:\\WINDOWS\\SYSTEM\\KXTEST.BIN"},
      {"a trailing dot asks for no extension",
       {"C:\\WINDOWS\\SYSTEM\\KXTEST"},
       "KXTEST.",
       "C:\\WINDOWS\\SYSTEM\\KXTEST"},
      {"nowhere", {}, "KXTEST", nullptr},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.name);
    std::filesystem::remove_all(machine_.dir() / "drive_c");
    std::filesystem::remove_all(machine_.dir() / "drive_a" / "KX" / "KXTEST.DLL");
    for (const auto& path : row.planted) Plant(path);
    SetLastError(0);
    HMODULE module = LoadLibraryA(row.library);
    if (!row.loaded) {
      EXPECT_EQ(module, nullptr);
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
      continue;
    }
    ASSERT_NE(module, nullptr) << GetLastError();
    EXPECT_EQ(FileName(module), row.loaded);
    EXPECT_TRUE(FreeLibrary(module));
  }
}

TEST_F(Modules, ARefusedAttachUnloadsTheLibrary) {
  Plant("C:\\WINDOWS\\SYSTEM\\KXTEST.DLL");
  setenv("KX_TEST_MODULE_REFUSE", "1", 1);
  SetLastError(0);
  EXPECT_EQ(LoadLibraryA("KXTEST"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DLL_INIT_FAILED));
  EXPECT_EQ(Log(), (std::vector<std::string>{"attach", "detach"}));
  EXPECT_EQ(GetModuleHandleA("KXTEST"), nullptr);
}

TEST_F(Modules, FaultsAndFilesThatAreNoLibraries) {
  Plant("C:\\WINDOWS\\SYSTEM\\KXTEST.DLL");
  kxtest::PlantData("C:\\WINDOWS\\SYSTEM\\DATA.DLL", "no library");
  kxhost::ArmFault("LoadLibraryA", ERROR_NOT_ENOUGH_MEMORY, "kxtest", 1);
  SetLastError(0);
  EXPECT_EQ(LoadLibraryA("KXTEST"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  EXPECT_EQ(LoadLibraryA("DATA"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_EXE_FORMAT));
  EXPECT_TRUE(Log().empty());
}

TEST_F(Modules, GetProcAddressGivesTheModulesOwnExportsOnly) {
  Plant("C:\\WINDOWS\\SYSTEM\\KXTEST.DLL");
  HMODULE module = LoadLibraryA("KXTEST");
  ASSERT_NE(module, nullptr);
  EXPECT_NE(GetProcAddress(module, "RecordCall"), nullptr);
  SetLastError(0);
  // Exported by the platform library that the module uses, not by it.
  EXPECT_EQ(GetProcAddress(module, "LoadLibraryA"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  EXPECT_EQ(GetProcAddress(module, "NoSuchExport"), nullptr);
  EXPECT_EQ(GetProcAddress(module, MAKEINTRESOURCEA(1)), nullptr);
  EXPECT_TRUE(FreeLibrary(module));
  SetLastError(0);
  EXPECT_EQ(GetProcAddress(module, "RecordCall"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

TEST_F(Modules, GetModuleFileNameTruncatesAsThePlatform) {
  Plant("C:\\WINDOWS\\SYSTEM\\KXTEST.DLL");
  HMODULE module = LoadLibraryA("KXTEST");
  ASSERT_NE(module, nullptr);
  const std::string path = "C:\\WINDOWS\\SYSTEM\\KXTEST.DLL";
  struct Case {
    DWORD size;
    DWORD result;
    std::string text;
    DWORD error;
  };
  const DWORD length = static_cast<DWORD>(path.size());
  const Case cases[] = {
      {MAX_PATH, length, path, ERROR_SUCCESS},
      {length + 1, length, path, ERROR_SUCCESS},
      {length, length, path.substr(0, length - 1), ERROR_INSUFFICIENT_BUFFER},
      {4, 4, "C:\\", ERROR_INSUFFICIENT_BUFFER},
      {1, 1, "", ERROR_INSUFFICIENT_BUFFER},
  };
  for (const auto& row : cases) {
    char buffer[MAX_PATH];
    std::memset(buffer, 'x', sizeof buffer);
    SetLastError(0xDEAD);
    EXPECT_EQ(GetModuleFileNameA(module, buffer, row.size), row.result) << row.size;
    EXPECT_EQ(std::string(buffer), row.text) << row.size;
    EXPECT_EQ(GetLastError(), row.error) << row.size;
  }
  char buffer[4] = "abc";
  EXPECT_EQ(GetModuleFileNameA(module, buffer, 0), 0u);
  EXPECT_STREQ(buffer, "abc");
  // This test program lies outside the machine: it has no Windows path.
  SetLastError(0);
  EXPECT_EQ(GetModuleFileNameA(nullptr, buffer, sizeof buffer), 0u);
  EXPECT_NE(GetLastError(), 0u);
  EXPECT_TRUE(FreeLibrary(module));
}

TEST_F(Modules, GetModuleHandleOfTheProgram) {
  HMODULE program = GetModuleHandleA(nullptr);
  EXPECT_NE(program, nullptr);
  EXPECT_EQ(GetModuleHandleA(nullptr), program);
  EXPECT_TRUE(FreeLibrary(program));  // the program stays
  EXPECT_EQ(GetModuleHandleA(nullptr), program);
}

struct StringCase {
  UINT id;
  int size;
  int result;
  const char* text;
};

TEST_F(Modules, LoadStringCopiesAtMostSizeMinusOneBytes) {
  Plant("C:\\WINDOWS\\SYSTEM\\KXTEST.DLL");
  HMODULE module = LoadLibraryA("KXTEST");
  ASSERT_NE(module, nullptr);
  const StringCase cases[] = {
      {1, 100, 3, "One"},
      {1, 4, 3, "One"},
      {1, 3, 2, "On"},
      {1, 1, 0, ""},
      {17, 8, 7, "Sevente"},
      {17, 100, 18, "Seventeen and more"},
      {2, 10, 0, ""},              // an empty string
      {3, 10, 0, ""},              // no string of that id in its block
      {999, 10, 0, ""},            // no block at all
      {40, 4, 3, "\xC4\xE3\xBA"},  // code page 1252: bytes are characters
  };
  for (const auto& row : cases) {
    char buffer[128];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(LoadStringA(module, row.id, buffer, row.size), row.result)
        << row.id << "/" << row.size;
    EXPECT_STREQ(buffer, row.text) << row.id << "/" << row.size;
  }
  char untouched[4] = "abc";
  EXPECT_EQ(LoadStringA(module, 1, untouched, 0), -1);
  EXPECT_EQ(LoadStringA(module, 1, untouched, -5), -1);
  EXPECT_STREQ(untouched, "abc");
  EXPECT_EQ(LoadStringA(module, 1, nullptr, 10), 0);

  SetLastError(0);
  LoadStringA(module, 999, untouched, sizeof untouched);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
  // The program (a null instance) has no string table.
  std::strcpy(untouched, "abc");
  EXPECT_EQ(LoadStringA(nullptr, 1, untouched, sizeof untouched), 0);
  EXPECT_STREQ(untouched, "");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));

  kxhost::ArmFault("LoadStringA", ERROR_NOT_ENOUGH_MEMORY, "17", 1);
  std::strcpy(untouched, "abc");
  EXPECT_EQ(LoadStringA(module, 17, untouched, sizeof untouched), 0);
  EXPECT_STREQ(untouched, "");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  EXPECT_TRUE(FreeLibrary(module));
}

TEST_F(Modules, LoadStringSplitsNoDoubleByteCharacter) {
  kxhost::Store::Get().SetSetting("codepage", "936");
  Plant("C:\\WINDOWS\\SYSTEM\\KXTEST.DLL");
  HMODULE module = LoadLibraryA("KXTEST");
  ASSERT_NE(module, nullptr);
  const StringCase cases[] = {
      {40, 4, 2, "\xC4\xE3"},
      {40, 5, 4, "\xC4\xE3\xBA\xC3"},
      {40, 6, 5,
       "\xC4\xE3\xBA\xC3"
       "A"},
      {40, 2, 0, ""},
  };
  for (const auto& row : cases) {
    char buffer[16];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(LoadStringA(module, row.id, buffer, row.size), row.result) << row.size;
    EXPECT_STREQ(buffer, row.text) << row.size;
  }
  EXPECT_TRUE(FreeLibrary(module));
}

}  // namespace
