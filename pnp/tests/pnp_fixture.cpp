#include "pnp_fixture.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "entry_points.h"
#include "host.h"
#include "shell_section.h"

namespace pnptest {

void WriteValue(const char* key_path, const char* name, DWORD type, const std::string& data,
                size_t count) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, key_path, &key), ERROR_SUCCESS) << key_path;
  EXPECT_EQ(RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                           static_cast<DWORD>(std::min(count, data.size()))),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

void WriteModel(const std::string& model) {
  WriteValue(kDeviceKeyPath, "Model", REG_SZ, std::string(model.c_str(), model.size() + 1));
}

void DeleteValue(const char* key_path, const char* name) {
  HKEY key = nullptr;
  if (RegOpenKeyA(HKEY_LOCAL_MACHINE, key_path, &key) != ERROR_SUCCESS) return;
  RegDeleteValueA(key, name);
  RegCloseKey(key);
}

std::optional<StoredValue> ReadValue(const char* key_path, const char* name) {
  HKEY key = nullptr;
  if (RegOpenKeyA(HKEY_LOCAL_MACHINE, key_path, &key) != ERROR_SUCCESS) return std::nullopt;
  StoredValue value;
  DWORD size = 0;
  std::optional<StoredValue> result;
  if (RegQueryValueExA(key, name, nullptr, &value.type, nullptr, &size) == ERROR_SUCCESS) {
    value.data.resize(size);
    if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<LPBYTE>(value.data.data()),
                         &size) == ERROR_SUCCESS) {
      value.data.resize(size);
      result = value;
    }
  }
  RegCloseKey(key);
  return result;
}

bool KeyExists(const char* key_path) {
  HKEY key = nullptr;
  if (RegOpenKeyA(HKEY_LOCAL_MACHINE, key_path, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

std::string ConfigFlagsZero() { return std::string(4, '\0'); }

std::vector<Box> Boxes() {
  std::vector<Box> boxes;
  for (const auto& recorded : kxhost::RecordedBoxes())
    boxes.push_back(
        {reinterpret_cast<HWND>(recorded.owner), recorded.text, recorded.caption, recorded.style});
  return boxes;
}

std::vector<Start> Starts() {
  // The records of the processes give what ran; the journal keeps what the
  // caller passed (CreateProcessA's detail: application name, blank,
  // command line), one successful entry per record, in the same order.
  std::vector<std::string> details;
  for (const auto& entry : kxhost::ReadJournal())
    if ((entry.op == "CreateProcessA" || entry.op == "WinExec") &&
        entry.result.rfind("error", 0) != 0)
      details.push_back(entry.detail);
  std::vector<Start> starts;
  for (const auto& process : kxhost::StartedProcesses()) {
    if (process.how != "CreateProcessA" && process.how != "WinExec") continue;
    Start start;
    start.op = process.how;
    start.command_line = process.command_line;
    start.program = process.program;
    start.current_directory = process.current_directory;
    if (starts.size() < details.size()) start.detail = details[starts.size()];
    const std::string suffix = " " + process.command_line;
    if (start.op == "CreateProcessA" && start.detail.size() > suffix.size() &&
        start.detail.compare(start.detail.size() - suffix.size(), suffix.size(), suffix) == 0)
      start.application = start.detail.substr(0, start.detail.size() - suffix.size());
    starts.push_back(start);
  }
  return starts;
}

int RestartRequests() {
  int requests = 0;
  for (const auto& request : kxhost::RestartRequests()) {
    EXPECT_EQ(request.flags, static_cast<UINT>(EWX_REBOOT));
    ++requests;
  }
  return requests;
}

std::vector<std::string> ChangesAfter(int64_t after_seq) {
  std::vector<std::string> changes;
  for (const auto& entry : kxhost::ReadJournal(after_seq))
    changes.push_back(entry.op + " " + entry.detail);
  return changes;
}

int64_t LastJournalSeq() {
  auto entries = kxhost::ReadJournal();
  return entries.empty() ? 0 : entries.back().seq;
}

void PlaceProgram(const std::string& windows_path) {
  std::filesystem::path target = kxhost::HostPath(windows_path);
  std::filesystem::create_directories(target.parent_path());
  std::filesystem::copy_file("/bin/true", target,
                             std::filesystem::copy_options::overwrite_existing);
  chmod(target.c_str(), 0755);
}

std::string Rundll32Path() { return kxhost::SystemDirectory() + "\\RUNDLL32.EXE"; }

void PlaceShowRecorder(const std::string& windows_path) {
  std::filesystem::path target = kxhost::HostPath(windows_path);
  std::filesystem::create_directories(target.parent_path());
  {
    std::ofstream script(target, std::ios::trunc);
    script << "#!/bin/sh\nexec 2>/dev/null\nprintf '%s' \"$" << kxhost::kShowVariable
           << "\" > \"$0.show.tmp\"\n"
           << "mv \"$0.show.tmp\" \"$0.show\"\n";
  }
  chmod(target.c_str(), 0755);
}

std::optional<int> RecordedShow(const std::string& windows_path) {
  std::filesystem::path file = kxhost::HostPath(windows_path);
  file += ".show";
  for (int waited_ms = 0; waited_ms < 5000; waited_ms += 20) {
    std::ifstream in(file);
    int show = 0;
    if (in >> show) return show;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return std::nullopt;
}

namespace {

constexpr const char* kTestWindowClass = "PnpTestWindow";

void RegisterTestWindowClass() {
  WNDCLASSA window_class = {};
  window_class.lpfnWndProc = DefWindowProcA;
  window_class.hInstance = GetModuleHandleA(nullptr);
  window_class.lpszClassName = kTestWindowClass;
  RegisterClassA(&window_class);  // once a process; later calls find it there
}

}  // namespace

TopLevelWindow::TopLevelWindow(const char* title) {
  RegisterTestWindowClass();
  window_ = CreateWindowExA(0, kTestWindowClass, title, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                            GetModuleHandleA(nullptr), nullptr);
  EXPECT_NE(window_, nullptr) << "window \"" << title << "\"";
}

TopLevelWindow::~TopLevelWindow() {
  if (window_) DestroyWindow(window_);
}

PnpTest::PnpTest() {
  // As a load of the library would leave it.
  ShellWindowTitle.clear();
  ShellIsRunning = 0;
  DllMain(GetModuleHandleA(nullptr), DLL_PROCESS_ATTACH, nullptr);
}

std::string Printable(const std::string& bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7F) {
      text += static_cast<char>(c);
    } else {
      text += "\\x";
      text += kHex[c >> 4];
      text += kHex[c & 15];
    }
  }
  return text;
}

}  // namespace pnptest
