// What the library's tests share: a fresh machine with the library attached
// to this test program, registry set-up and read-back, and what the machine
// recorded of boxes, started programs and restart requests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform.h"
#include "temp_machine.h"

namespace pnptest {

inline constexpr const char* kDeviceKeyPath = "Enum\\LPTENUM\\KALDRENKX512E10";
inline constexpr const char* kRunKeyPath = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr const char* kModel = "KX51 Laser";

// ---- registry --------------------------------------------------------------

struct StoredValue {
  DWORD type = REG_NONE;
  std::string data;  // the stored bytes, terminator included
};

// Writes `data` (its first `count` bytes, when given) as a value of `type`.
void WriteValue(const char* key_path, const char* name, DWORD type, const std::string& data,
                size_t count = std::string::npos);
// "Model" as REG_SZ with its terminator.
void WriteModel(const std::string& model);
void DeleteValue(const char* key_path, const char* name);
std::optional<StoredValue> ReadValue(const char* key_path, const char* name);
bool KeyExists(const char* key_path);
std::string ConfigFlagsZero();  // four zero bytes

// ---- what the machine recorded ---------------------------------------------

struct Box {
  HWND owner = nullptr;
  std::string text;
  std::string caption;
  UINT style = 0;
};
std::vector<Box> Boxes();

// A program started through CreateProcessA or WinExec.
struct Start {
  std::string op;           // "CreateProcessA" or "WinExec"
  std::string application;  // CreateProcessA's application name
  std::string command_line;
  std::string program;  // the Windows path of the program that ran
  std::string current_directory;
  UINT show = 0;       // WinExec's show code
  std::string detail;  // the whole record, for failure messages
};
std::vector<Start> Starts();

int RestartRequests();

// Journal entries of calls that change the machine, after `after_seq`.
std::vector<std::string> ChangesAfter(int64_t after_seq);
int64_t LastJournalSeq();

// ---- machine set-up ----------------------------------------------------------

// Places a host program that exits at once under `windows_path`.
void PlaceProgram(const std::string& windows_path);

// Places a program that records the show command it was started with, and
// reads that record (waiting for the program to write it).
std::string Rundll32Path();  // RUNDLL32.EXE in the system directory
void PlaceShowRecorder(const std::string& windows_path);
std::optional<int> RecordedShow(const std::string& windows_path);

// A top-level window with `title` for as long as the object lives.
class TopLevelWindow {
 public:
  explicit TopLevelWindow(const char* title);
  ~TopLevelWindow();
  TopLevelWindow(const TopLevelWindow&) = delete;
  TopLevelWindow& operator=(const TopLevelWindow&) = delete;
  HWND get() const { return window_; }

 private:
  HWND window_ = nullptr;
};

// A fresh machine; the library attached to this program (whose string table
// is the library's); the library-wide shell values as at load; a window
// with no title to own the boxes, as RunDLL32's hidden window does.
class PnpTest : public ::testing::Test {
 protected:
  PnpTest();

  kxtest::TempMachine machine_;
  TopLevelWindow owner_{""};
};

std::string Printable(const std::string& bytes);

}  // namespace pnptest
