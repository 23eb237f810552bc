#include "wine_machine.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>

namespace kxwine {
namespace {

// A registry key handle, closed when it goes.
class Key {
 public:
  Key(const std::string& path, REGSAM access) {
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, access, &key_) != ERROR_SUCCESS)
      key_ = nullptr;
  }
  ~Key() {
    if (key_) RegCloseKey(key_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

// Every process of the prefix: id and executable file name.
std::map<DWORD, std::string> Processes() {
  std::map<DWORD, std::string> processes;
  KernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (snapshot.get() == INVALID_HANDLE_VALUE) return processes;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot.get(), &entry); more;
       more = Process32Next(snapshot.get(), &entry))
    processes[entry.th32ProcessID] = entry.szExeFile;
  return processes;
}

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> fields;
  std::string field;
  for (size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (c == '\t') {
      fields.push_back(field);
      field.clear();
    } else if (c == '\\' && i + 1 < line.size()) {
      char next = line[++i];
      field += next == 't' ? '\t' : next == 'n' ? '\n' : next == 'r' ? '\r' : next;
    } else {
      field += c;
    }
  }
  fields.push_back(field);
  return fields;
}

DWORD Number(const std::string& text) { return std::strtoul(text.c_str(), nullptr, 10); }

}  // namespace

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string FileNameOf(const std::string& path) {
  size_t slash = path.find_last_of('\\');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string BuildDirectory() {
  char path[MAX_PATH] = "";
  GetModuleFileNameA(nullptr, path, sizeof path);
  std::string directory = path;
  return directory.substr(0, directory.find_last_of('\\') + 1);
}

Process::Process(const std::string& command, const std::string& directory) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  std::string writable = command;
  if (!CreateProcessA(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      directory.empty() ? nullptr : directory.c_str(), &startup, &info_)) {
    ADD_FAILURE() << "cannot start " << command << " (error " << GetLastError() << ")";
    info_ = PROCESS_INFORMATION{};
  }
}

Process::~Process() {
  if (info_.hThread) CloseHandle(info_.hThread);
  if (info_.hProcess) CloseHandle(info_.hProcess);
}

Process::Process(Process&& other) noexcept : info_(other.info_) { other.info_ = {}; }

std::optional<DWORD> Process::Wait(DWORD timeout_ms) {
  if (!started() || WaitForSingleObject(info_.hProcess, timeout_ms) != WAIT_OBJECT_0) return {};
  DWORD code = 0;
  GetExitCodeProcess(info_.hProcess, &code);
  return code;
}

void Process::Terminate() {
  if (started()) TerminateProcess(info_.hProcess, 1);
}

void RunToEnd(const std::string& command, DWORD timeout_ms) {
  Process process(command);
  if (!process.started()) return;
  if (!process.Wait(timeout_ms)) {
    ADD_FAILURE() << command << " still runs after " << timeout_ms << " ms";
    process.Terminate();
  }
}

bool KeyExists(const std::string& path) { return Key(path, KEY_READ).get() != nullptr; }

std::optional<RegistryValue> QueryValue(const std::string& path, const std::string& name) {
  Key key(path, KEY_READ);
  DWORD type = 0, size = 0;
  if (!key.get() ||
      RegQueryValueExA(key.get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
    return {};
  RegistryValue value{type, std::string(size, '\0')};
  if (RegQueryValueExA(key.get(), name.c_str(), nullptr, nullptr,
                       reinterpret_cast<BYTE*>(value.data.data()), &size) != ERROR_SUCCESS)
    return {};
  value.data.resize(size);
  return value;
}

void SetValue(const std::string& path, const std::string& name, DWORD type,
              const std::string& data) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, path.c_str(), &key), ERROR_SUCCESS) << path;
  EXPECT_EQ(RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                           static_cast<DWORD>(data.size())),
            ERROR_SUCCESS)
      << path << " " << name;
  RegCloseKey(key);
}

std::vector<std::string> ValueNames(const std::string& path) {
  std::vector<std::string> names;
  Key key(path, KEY_READ);
  for (DWORD index = 0; key.get(); ++index) {
    char name[16384];
    DWORD size = sizeof name;
    if (RegEnumValueA(key.get(), index, name, &size, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    names.emplace_back(name, size);
  }
  return names;
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return {};
  std::string bytes;
  char chunk[4096];
  for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;) bytes.append(chunk, got);
  std::fclose(file);
  return bytes;
}

void WriteWholeFile(const std::string& path, const std::string& bytes) {
  FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr) << path;
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
}

bool PathExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string SampleInf() {
  return "[Version]\nSignature=\"$CHICAGO$\"\r\nClass=Printer\n\n[Manufacturer]\r\n; end\n";
}

void PrepareDevice() {
  char system[MAX_PATH] = "";
  GetSystemDirectoryA(system, sizeof system);
  ASSERT_TRUE(CopyFileA((BuildDirectory() + "KX51PNP.dll").c_str(),
                        (std::string(system) + "\\KX51PNP.dll").c_str(), FALSE))
      << "KX51PNP.dll from " << BuildDirectory() << " (error " << GetLastError() << ")";
  SetValue(kDeviceKey, "Model", REG_SZ, std::string(kModel) + '\0');
}

void PrepareSource(const std::string& source) {
  // Creates the source directory and any directory above it.
  for (size_t slash = source.find('\\', 3);; slash = source.find('\\', slash + 1)) {
    CreateDirectoryA(source.substr(0, slash).c_str(), nullptr);
    if (slash == std::string::npos) break;
  }
  ASSERT_TRUE(
      CopyFileA((BuildDirectory() + "Setup.Exe").c_str(), (source + "\\Setup.Exe").c_str(), FALSE))
      << "Setup.Exe from " << BuildDirectory() << " (error " << GetLastError() << ")";
  WriteWholeFile(source + "\\WIN95.INF", SampleInf());
  for (const char* file : {"KX51.DRV", "KX51.HLP", "QRN16V40.DLL", "KX51CH.DLL", "LWE16V40.DLL"})
    WriteWholeFile(source + "\\" + file, std::string("driver file ") + file + "\r\n");
}

void PrepareInstallation(const std::string& source) {
  PrepareDevice();
  PrepareSource(source);
}

std::string PhaseCommand(const char* entry, const std::string& arguments) {
  return std::string("rundll32.exe KX51PNP,") + entry + " " + arguments;
}

bool WaitUntil(const std::function<bool()>& done, DWORD timeout_ms) {
  DWORD start = GetTickCount();
  for (;;) {
    if (done()) return true;
    if (GetTickCount() - start >= timeout_ms) return false;
    Sleep(50);
  }
}

InstallationObserver::InstallationObserver()
    : quiet_since_(GetTickCount()), thread_([this] { Watch(); }) {}

InstallationObserver::~InstallationObserver() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  thread_.join();
}

void InstallationObserver::Watch() {
  std::set<DWORD> known;
  for (;;) {
    bool busy = false;
    std::set<std::string> programs;
    for (const auto& [pid, file] : Processes()) {
      std::string name = Lower(file);
      if (name == "rundll32.exe" || name == "setup.exe") busy = true;
      // A process is looked at once; one whose path cannot be read yet is
      // looked at again.
      if (known.count(pid)) continue;
      std::string program = kxwindows::ProgramOf(pid);
      if (program.empty()) continue;
      known.insert(pid);
      programs.insert(program);
    }
    bool run_value = QueryValue(kRunKey, kModel).has_value();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      observed_.programs.insert(programs.begin(), programs.end());
      observed_.run_value_seen |= run_value;
      if (busy) quiet_since_ = GetTickCount();
      if (stop_) return;
    }
    Sleep(5);
  }
}

Observed InstallationObserver::Finish(DWORD timeout_ms, DWORD settle_ms) {
  DWORD start = GetTickCount();
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      DWORD now = GetTickCount();
      observed_.quiet = now - quiet_since_ >= settle_ms;
      if (observed_.quiet || now - start >= timeout_ms) return observed_;
    }
    Sleep(50);
  }
}

Shell::Shell() {
  process_.emplace("\"" + BuildDirectory() + "explorer.exe\"");
  if (!process_->started()) return;
  WaitUntil(
      [this] {
        window_ = FindWindowA(nullptr, "Program Manager");
        return window_ != nullptr;
      },
      20000);
  EXPECT_NE(window_, nullptr) << "the test shell shows no \"Program Manager\" window";
}

Shell::~Shell() {
  if (process_) process_->Terminate();
}

BoxWatcher::BoxWatcher(DWORD hold_ms) {
  char temp[MAX_PATH] = "";
  GetTempPathA(sizeof temp, temp);
  std::string name = "KxBoxWatchStop" + std::to_string(GetCurrentProcessId());
  log_ = std::string(temp) + name + ".log";
  DeleteFileA(log_.c_str());
  stop_ = KernelHandle(CreateEventA(nullptr, TRUE, FALSE, name.c_str()));
  process_.emplace("\"" + BuildDirectory() + "boxwatch.exe\" \"" + log_ + "\" " + name + " " +
                   std::to_string(hold_ms));
}

BoxWatcher::~BoxWatcher() { Stop(); }

std::vector<Box> BoxWatcher::Stop() {
  if (!process_) return boxes_;
  SetEvent(stop_.get());
  if (!process_->Wait(10000)) {
    ADD_FAILURE() << "the box watcher did not stop";
    process_->Terminate();
  }
  process_.reset();
  std::istringstream lines(ReadWholeFile(log_).value_or(""));
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> f = SplitTabs(line);
    if (f.size() != 9) {
      ADD_FAILURE() << "box watcher line: " << line;
      continue;
    }
    boxes_.push_back(Box{Number(f[0]), Number(f[1]), Number(f[2]), FileNameOf(f[3]), f[4], f[5],
                         Number(f[6]), f[7], f[8]});
  }
  return boxes_;
}

}  // namespace kxwine
