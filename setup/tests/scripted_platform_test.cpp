// The steps against platform answers that a host machine does not give: a
// Windows or system directory near the path limit, a tick count that wraps,
// a read-back that fails on its second attempt. This program defines the
// operations below itself; they answer from the script when it says so and
// otherwise hand over to the host's own.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <optional>

#include "setup_machine.h"

namespace {

struct Script {
  std::optional<std::string> module_path;
  std::optional<std::string> windows_directory;
  std::optional<std::string> system_directory;
  std::vector<DWORD> ticks;  // one a read; none: the host's clock
  size_t ticks_read = 0;
  std::vector<DWORD> sleeps;
  int failing_get_printer = 0;  // the GetPrinterA call that fails with 5
  int get_printer_calls = 0;
  std::vector<std::string> profile_files;  // WritePrivateProfileStringA
};
Script script;

// The host's own operation, found past the definitions of this program by
// its (Itanium ABI) symbol name.
template <class Function>
Function* HostOperation(const char* symbol) {
  return reinterpret_cast<Function*>(dlsym(RTLD_NEXT, symbol));
}

// The platform's contract: the length without the zero when the buffer
// holds the text, else the size needed with the zero.
UINT CopyOut(const std::string& text, LPSTR buffer, UINT size) {
  if (size < text.size() + 1) return static_cast<UINT>(text.size() + 1);
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return static_cast<UINT>(text.size());
}

}  // namespace

DWORD WINAPI GetModuleFileNameA(HINSTANCE instance, LPSTR buffer, DWORD size) {
  if (script.module_path) return CopyOut(*script.module_path, buffer, size);
  return HostOperation<decltype(GetModuleFileNameA)>("_Z18GetModuleFileNameAP11HINSTANCE__Pcj")(
      instance, buffer, size);
}

UINT WINAPI GetWindowsDirectoryA(LPSTR buffer, UINT size) {
  if (script.windows_directory) return CopyOut(*script.windows_directory, buffer, size);
  return HostOperation<decltype(GetWindowsDirectoryA)>("_Z20GetWindowsDirectoryAPcj")(buffer, size);
}

UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size) {
  if (script.system_directory) return CopyOut(*script.system_directory, buffer, size);
  return HostOperation<decltype(GetSystemDirectoryA)>("_Z19GetSystemDirectoryAPcj")(buffer, size);
}

BOOL WINAPI WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file) {
  script.profile_files.push_back(file ? file : "");
  return HostOperation<decltype(WritePrivateProfileStringA)>(
      "_Z26WritePrivateProfileStringAPKcS0_S0_S0_")(section, key, value, file);
}

DWORD WINAPI GetTickCount(void) {
  if (script.ticks.empty()) return HostOperation<decltype(GetTickCount)>("_Z12GetTickCountv")();
  // Past the script's end the clock runs on by whole seconds.
  const size_t read = script.ticks_read++;
  if (read < script.ticks.size()) return script.ticks[read];
  return script.ticks.back() + 1000u * static_cast<DWORD>(read - script.ticks.size() + 1);
}

void WINAPI Sleep(DWORD milliseconds) {
  if (!script.ticks.empty()) {
    script.sleeps.push_back(milliseconds);
    return;
  }
  HostOperation<decltype(Sleep)>("_Z5Sleepj")(milliseconds);
}

BOOL WINAPI GetPrinterA(HANDLE printer, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed) {
  if (++script.get_printer_calls == script.failing_get_printer) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  return HostOperation<decltype(GetPrinterA)>("_Z11GetPrinterAPvjPhjPj")(printer, level, buffer,
                                                                         size, needed);
}

namespace {

class ScriptedPlatform : public setuptest::SetupMachine {
 protected:
  void SetUp() override {
    SetupMachine::SetUp();
    script = Script();
  }
  void TearDown() override { script = Script(); }
};

// "C:\" and then `name` repeated to a path of `length` bytes.
std::string PathOfLength(size_t length, char name) {
  return "C:\\" + std::string(length - 3, name);
}

TEST_F(ScriptedPlatform, AWindowsDirectoryWithoutRoomForInfSetsNeither) {
  struct Row {
    const char* name;
    std::string windows;
    int result;
  };
  const Row rows[] = {
      {"usual", "C:\\WINDOWS", 1},
      {"255 bytes: with \\INF 259", PathOfLength(255, 'W'), 1},
      {"256 bytes", PathOfLength(256, 'W'), 0},
      {"259 bytes", PathOfLength(259, 'W'), 0},
      {"not available", "", 0},
  };
  script.module_path = "A:\\Setup.Exe";
  for (const auto& row : rows) {
    script.windows_directory = row.windows;
    EXPECT_EQ(LocateDirectories(nullptr), row.result) << row.name;
    EXPECT_STREQ(ModuleDirectory, row.result ? "A:\\" : "") << row.name;
    EXPECT_EQ(std::string(InfDirectory), row.result ? row.windows + "\\INF" : "") << row.name;
  }
}

TEST_F(ScriptedPlatform, ASystemDirectoryWithoutRoomForTheLogsNameLogsNothing) {
  struct Row {
    size_t length;
    bool written;
  };
  const Row rows[] = {{17, true}, {251, true}, {252, false}, {254, false}, {255, false}};
  for (const auto& row : rows) {
    const std::string directory = PathOfLength(row.length, 'S');
    script.system_directory = directory;
    script.profile_files.clear();
    SetLastError(5);
    LogSetupError("AddMonitor");
    const auto expected = row.written ? std::vector<std::string>{directory + "\\WIN.INI"}
                                      : std::vector<std::string>{};
    EXPECT_EQ(script.profile_files, expected) << row.length << " bytes";
  }
}

TEST_F(ScriptedPlatform, WaitSecondsEndsOnTheSecondsTurnSleepingMeanwhile) {
  struct Row {
    const char* name;
    DWORD seconds;
    std::vector<DWORD> ticks;  // the last read ends the wait
  };
  const Row rows[] = {
      {"next second", 1, {1500, 1999, 1999, 2000}},
      {"at once for 0", 0, {1500, 1500}},
      {"two seconds", 2, {1999, 2000, 2999, 3000}},
      {"tick count wraps", 1, {0xFFFFFFF0u, 0xFFFFFFFFu, 5}},
      {"wrap within the start second", 5, {4294967000u, 4294967295u, 0}},
  };
  for (const auto& row : rows) {
    script = Script();
    script.ticks = row.ticks;
    WaitSeconds(row.seconds);
    EXPECT_EQ(script.ticks_read, row.ticks.size()) << row.name;
    EXPECT_EQ(script.sleeps.size(), row.ticks.size() - 2) << row.name;
    for (DWORD sleep : script.sleeps) {
      EXPECT_GE(sleep, 10u) << row.name;
      EXPECT_LE(sleep, 50u) << row.name;
    }
  }
}

TEST_F(ScriptedPlatform, ASecondReadBackThatFailsIsLoggedWithItsOwnError) {
  setuptest::InstallLargePrinter(PRINTER_ATTRIBUTE_LOCAL);
  // The first read finds the buffer too small (122); the second one fails.
  script.failing_get_printer = 2;
  const int64_t after = kxhost::ReadJournal().back().seq;

  MakeDefaultPrinter();

  EXPECT_EQ(script.get_printer_calls, 2);
  EXPECT_EQ(LoggedErrors(), (std::map<std::string, std::string>{{"GetPrinter", "Error code : 5"}}));
  const auto printers = kxhost::Printers();
  ASSERT_EQ(printers.size(), 1u);
  EXPECT_FALSE(printers[0].is_default);
  EXPECT_EQ(printers[0].port, "LPT2:");
  std::vector<std::string> ops;
  for (const auto& entry : kxhost::ReadJournal(after))
    if (entry.op != "WritePrivateProfileStringA") ops.push_back(entry.op);
  EXPECT_EQ(ops.back(), "ClosePrinter");
}

}  // namespace
