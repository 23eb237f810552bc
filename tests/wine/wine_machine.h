// What the Wine tests do to and read from the Wine prefix they run in: the
// installation's starting state, processes, the registry, files, and the
// two fixtures (the test shell and the box watcher).
//
// Each test program runs in a fresh prefix of its own (wine-run), so the
// tests set up the machine from nothing and leave it as it is.
#pragma once

#include <windows.h>

#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "kernel_handle.h"

namespace kxwine {

// Where the device key, the source directory and the files are.
inline constexpr const char* kDeviceKey = "Enum\\LPTENUM\\KALDRENKX512E10";
inline constexpr const char* kModel = "KX51 Laser";
inline constexpr const char* kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr const char* kSource = "C:\\KX51";

using kxwindows::KernelHandle;

std::string Lower(std::string text);
// The part of a Windows path after its last backslash.
std::string FileNameOf(const std::string& path);

// The folder of the running test program, with its trailing backslash: the
// win64 build's bin folder, which holds the product and the fixtures.
std::string BuildDirectory();

// A process handle with its thread handle, both closed when it goes.
class Process {
 public:
  // Starts `command` (no application name, as the shell does) in `directory`
  // (empty: the caller's). Check started().
  explicit Process(const std::string& command, const std::string& directory = "");
  ~Process();
  Process(Process&& other) noexcept;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  Process& operator=(Process&&) = delete;

  bool started() const { return info_.hProcess != nullptr; }
  DWORD id() const { return info_.dwProcessId; }
  // The exit code, or nothing when the process still runs after `timeout_ms`.
  std::optional<DWORD> Wait(DWORD timeout_ms);
  void Terminate();

 private:
  PROCESS_INFORMATION info_{};
};

// Runs `command` to its end; fails the test when it does not start or does
// not end within `timeout_ms`.
void RunToEnd(const std::string& command, DWORD timeout_ms = 60000);

// Registry below HKEY_LOCAL_MACHINE.
struct RegistryValue {
  DWORD type = 0;
  std::string data;  // the stored bytes, as stored
};
bool KeyExists(const std::string& path);
std::optional<RegistryValue> QueryValue(const std::string& path, const std::string& name);
void SetValue(const std::string& path, const std::string& name, DWORD type,
              const std::string& data);
std::vector<std::string> ValueNames(const std::string& path);

// Files.
std::optional<std::string> ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& bytes);
bool PathExists(const std::string& path);

// A machine where the printer's device has been found: the device key with
// "Model" and KX51PNP.dll in the system directory, where rundll32 finds it
// by name.
void PrepareDevice();

// The installation source: Setup.Exe, WIN95.INF (SampleInf()) and the
// driver's files in `source`, made with the directories above it.
void PrepareSource(const std::string& source = kSource);

// Both.
void PrepareInstallation(const std::string& source = kSource);

// The INF text PrepareSource writes: mixed line ends.
std::string SampleInf();

// The command line of a phase: the device key path, a space, the source.
std::string PhaseCommand(const char* entry, const std::string& arguments);

// What was seen of the installation's processes.
struct Observed {
  std::set<std::string> programs;  // full paths of every process seen
  bool run_value_seen = false;     // the Run value of kModel existed at some time
  bool quiet = false;              // no rundll32 or Setup.Exe left at the end
};

// Watches the prefix's processes and the Run value from construction on,
// on a thread of its own, until Finish().
class InstallationObserver {
 public:
  InstallationObserver();
  ~InstallationObserver();
  InstallationObserver(const InstallationObserver&) = delete;
  InstallationObserver& operator=(const InstallationObserver&) = delete;

  // Waits until no rundll32.exe and no Setup.Exe process has been left for
  // `settle_ms`, at most `timeout_ms`, and gives what was seen.
  Observed Finish(DWORD timeout_ms = 90000, DWORD settle_ms = 1500);

 private:
  void Watch();

  std::mutex mutex_;
  Observed observed_;
  DWORD quiet_since_ = 0;
  bool stop_ = false;
  std::thread thread_;
};

// The test shell (the win64 build of the host shell's source): owns a
// top-level window "Program Manager" and runs the Run section at its start.
class Shell {
 public:
  Shell();  // starts it and waits for its window
  ~Shell();
  Shell(const Shell&) = delete;
  Shell& operator=(const Shell&) = delete;
  bool running() const { return window_ != nullptr; }

 private:
  std::optional<Process> process_;
  HWND window_ = nullptr;
};

// One message box as the box watcher read it.
struct Box {
  DWORD found_ms = 0;
  DWORD pressed_ms = 0;
  DWORD pid = 0;
  std::string program;
  std::string owner_class;
  std::string owner_title;
  DWORD owner_pid = 0;
  std::string caption;
  std::string text;
};

// The box watcher, running from construction until Stop(): it presses each
// box's OK `hold_ms` after it appeared.
class BoxWatcher {
 public:
  explicit BoxWatcher(DWORD hold_ms = 0);
  ~BoxWatcher();
  BoxWatcher(const BoxWatcher&) = delete;
  BoxWatcher& operator=(const BoxWatcher&) = delete;

  // Stops the watcher (boxes still up are pressed) and gives every box seen.
  std::vector<Box> Stop();

 private:
  std::string log_;
  KernelHandle stop_;
  std::optional<Process> process_;
  std::vector<Box> boxes_;
};

// Polls `done` every 50 ms until it holds or `timeout_ms` passed.
bool WaitUntil(const std::function<bool()>& done, DWORD timeout_ms);

}  // namespace kxwine
