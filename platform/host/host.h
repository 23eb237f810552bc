// Internals of the host platform shared by its parts: the machine folder and
// its store, the journal, faults, Windows paths, the handle table and the
// identity of processes. Nothing here is seen by the product.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "win32_api.h"

namespace kxhost {

// ---- the machine -----------------------------------------------------------

// The environment variable that names the machine folder.
inline constexpr const char* kMachineVariable = "KX51_MACHINE";

// The machine folder of this process: $KX51_MACHINE, else ~/.kx51/machine.
std::filesystem::path MachineDir();

// ---- the store (machine.db, SQLite in WAL mode) ----------------------------

// One prepared statement; steps and reads columns. Movable, not copyable.
class Statement {
 public:
  Statement(sqlite3* db, std::string_view sql);
  Statement(Statement&& other) noexcept;
  Statement& operator=(Statement&&) = delete;
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  ~Statement();

  Statement& Bind(int index, int64_t value);
  Statement& Bind(int index, std::string_view text);  // as TEXT
  Statement& BindBlob(int index, const void* data, size_t size);
  Statement& BindNull(int index);

  // Steps once: true when a row is there to read, false when done.
  bool Step();
  // Steps to the end; for statements that return no rows.
  void Run();

  int64_t Int(int column) const;
  std::string Text(int column) const;
  std::vector<uint8_t> Blob(int column) const;
  bool IsNull(int column) const;

  sqlite3_stmt* get() const { return stmt_; }

  // A statement of this thread on connection `db`, other than `except`,
  // part way through its rows: it holds the connection on its read
  // snapshot, and once another process has written past that snapshot no
  // write can begin until it ends, which this thread, waiting, would never
  // let it do.
  static sqlite3_stmt* OpenReadOfThisThread(sqlite3* db, const Statement* except);

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_;
  // The thread's alive statements, linked through themselves.
  Statement* previous_ = nullptr;
  Statement* next_ = nullptr;
  bool linked_ = true;
};

// A table definition that a part of the host platform needs; each part
// declares its own tables with KX_HOST_SCHEMA and the store creates them all
// when it opens.
struct SchemaPart {
  SchemaPart(const char* name, const char* sql);
};
#define KX_HOST_SCHEMA_CAT2(a, b) a##b
#define KX_HOST_SCHEMA_CAT(a, b) KX_HOST_SCHEMA_CAT2(a, b)
#define KX_HOST_SCHEMA(name, sql) \
  static ::kxhost::SchemaPart KX_HOST_SCHEMA_CAT(kx_schema_part_, __LINE__)(name, sql)

class Store {
 public:
  // The store of this process's machine, opened (and created) on first use.
  static Store& Get();
  // Closes this process's connection; the next Get() opens the machine that
  // KX51_MACHINE names then. For tests that switch machines.
  static void Reset();
  // Counts the openings of stores in this process, so that values read from
  // one machine are read again after a switch (settings may change too:
  // SetSetting counts as well).
  static uint64_t Generation();

  explicit Store(const std::filesystem::path& db_path);
  ~Store();
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  sqlite3* db() const { return db_; }
  Statement Prepare(std::string_view sql) { return Statement(db_, sql); }
  void Exec(const char* sql);

  // Runs `body` in one write transaction (BEGIN IMMEDIATE): every call of the
  // platform that changes the machine is atomic against other processes.
  // Nested calls join the outer transaction.
  void Transaction(const std::function<void()>& body);

  // Machine settings: "codepage", "box_delay_ms", ...
  std::optional<std::string> Setting(std::string_view name);
  void SetSetting(std::string_view name, std::string_view value);

 private:
  sqlite3* db_ = nullptr;
  // A transaction belongs to the thread that began it: another thread's
  // calls wait for it rather than join it.
  std::recursive_mutex transaction_mutex_;
  int depth_ = 0;
};

// ---- the journal -----------------------------------------------------------

// Records one call that changed the machine or showed something, with this
// process, its program and the time. `detail` is the call's arguments as
// text, `result` its outcome.
void Journal(std::string_view op, std::string_view detail, std::string_view result = "");

struct JournalEntry {
  int64_t seq = 0;
  int64_t time_us = 0;  // microseconds since the epoch
  int64_t pid = 0;
  std::string program;
  std::string op;
  std::string detail;
  std::string result;
};
// The journal in order, from the entry after `after_seq` on.
std::vector<JournalEntry> ReadJournal(int64_t after_seq = 0);

// The program name this process shows in the journal (defaults to the base
// name of its executable).
void SetProcessLabel(std::string_view label);
std::string ProcessLabel();

// ---- faults ----------------------------------------------------------------

// A fault armed in the store: operation `op` fails with `error` when its
// argument text matches `match` (a case-insensitive pattern with * and ?),
// `count` times (-1: always). Every process of the machine obeys it.
void ArmFault(std::string_view op, uint32_t error, std::string_view match = "*", int count = -1);
void ClearFaults();

// Called by an operation before it acts: when an armed fault matches, uses up
// one count, journals it and gives the error to fail with.
std::optional<uint32_t> TakeFault(std::string_view op, std::string_view argument);

// Case-insensitive pattern match with * and ? (ASCII letters folded).
bool PatternMatches(std::string_view pattern, std::string_view text);

// ---- text ------------------------------------------------------------------

// ASCII case folding, as the platform compares registry and file names.
std::string FoldCase(std::string_view text);
bool EqualsNoCase(std::string_view a, std::string_view b);

// ---- Windows paths ---------------------------------------------------------

// The process's current directory as a Windows path ("C:\"), inherited from
// the parent through KX51_CWD.
std::string CurrentDirectory();
void SetCurrentDirectoryPath(const std::string& windows_path);

// A full, normalised Windows path: drive letter in capitals, backslashes,
// "." and ".." resolved, relative paths taken from the current directory.
// Empty when the path cannot be made full (no such drive letter form).
std::string FullWindowsPath(std::string_view path);

// The host path of a Windows path under the machine folder. Existing
// components are found regardless of letter case; missing ones keep the
// case given. The drive folder is drive_<letter>.
std::filesystem::path HostPath(std::string_view windows_path);

// The Windows path of a host path inside the machine folder; empty when it
// lies outside.
std::string WindowsPathOf(const std::filesystem::path& host_path);

// ---- handles ---------------------------------------------------------------

// A kernel object held through a HANDLE; its destructor releases it.
class KernelObject {
 public:
  virtual ~KernelObject() = default;
  // Waits up to `milliseconds` (INFINITE: no limit) for the object to be
  // signalled; gives WAIT_OBJECT_0, WAIT_TIMEOUT, or WAIT_FAILED with the
  // last error set. Objects that cannot be waited on fail with
  // ERROR_INVALID_HANDLE.
  virtual DWORD Wait(DWORD milliseconds);
};

HANDLE AddHandle(std::unique_ptr<KernelObject> object);
KernelObject* FindHandle(HANDLE handle);
template <class T>
T* FindHandleAs(HANDLE handle) {
  return dynamic_cast<T*>(FindHandle(handle));
}
// Removes and releases; false when the handle is not open.
bool RemoveHandle(HANDLE handle);

// ---- processes -------------------------------------------------------------

// A process of the host, robust against reuse of its id: pid and the start
// time the kernel gives it.
struct ProcessRef {
  int64_t pid = 0;
  int64_t start = 0;
};
ProcessRef SelfProcess();
// The process that has this pid now; start 0 when there is none.
ProcessRef ProcessOf(int64_t pid);
bool IsAlive(const ProcessRef& process);

// ---- windows (windows.cpp) -------------------------------------------------

// What the message queue needs to know of a window: its procedure (in this
// process; null for a window of another process), the thread and the
// process that own it. False when the window does not exist.
struct WindowOwner {
  ProcessRef process;
  DWORD thread = 0;
  WNDPROC procedure = nullptr;
};
bool FindWindowOwner(HWND window, WindowOwner* owner);

// ---- machine directories (directories.cpp) ---------------------------------

// The Windows directory ("C:\WINDOWS") and the system directory
// ("C:\WINDOWS\SYSTEM") of the machine, as the Windows 95 family lays them.
std::string WindowsDirectory();
std::string SystemDirectory();

// ---- files, profile files and the spooler (files.cpp, spooler.cpp) --------

// A Windows path as the file operations see it: full, and its host path.
// Both empty when the path is no path of the machine.
struct MachineFile {
  std::string windows;
  std::filesystem::path host;
};
MachineFile ResolveMachineFile(LPCSTR path);
// The platform's error code for a failed host file call (errno) on `host`.
DWORD FileErrorOf(int error_number, const std::filesystem::path& host);
// When a fault armed for `op` matches `argument`: sets the last error to it
// and gives true. The file operations' argument is the Windows path
// (MoveFileA: the new name; ReadFile/WriteFile: the file's path).
bool FailsByFault(std::string_view op, std::string_view argument);

// What the machine command lists of the spooler. Names are the bytes the
// spooler was given (the machine's code page).
struct PrinterRecord {
  std::string name;
  std::string port;
  std::string driver;
  std::string print_processor;
  std::string datatype;
  DWORD attributes = 0;  // as stored, without the default bit
  DWORD priority = 0;
  DWORD status = 0;
  bool is_default = false;
};
struct DriverRecord {
  std::string name;
  std::string environment;
  DWORD version = 0;
  std::string driver_path;
  std::string data_file;
  std::string config_file;
  std::string help_file;
  std::vector<std::string> dependent_files;
  std::string monitor;
  std::string default_datatype;
};
struct MonitorRecord {
  std::string name;
  std::string environment;
  std::string dll;
};
std::vector<PrinterRecord> Printers();
std::vector<DriverRecord> PrinterDrivers();
std::vector<MonitorRecord> PrintMonitors();

// ---- processes, modules, boxes, restart (processes.cpp, modules.cpp, ...) --

// What a starter hands the process it starts, through the environment
// (besides KX51_MACHINE and KX51_CWD). They hold for the process whose id
// is kProcessIdVariable's value only, not for what that process starts by
// other means.
inline constexpr const char* kProcessIdVariable = "KX51_PROCESS_ID";
inline constexpr const char* kProgramVariable = "KX51_PROGRAM";
inline constexpr const char* kCommandLineVariable = "KX51_COMMAND_LINE";
inline constexpr const char* kShowVariable = "KX51_SHOW";
inline constexpr const char* kStartDirectoryVariable = "KX51_CWD";

// True when this process was started by WinExec or CreateProcessA.
bool StartedThroughPlatform();

// Finds a file as the platform finds a program or a library: a name with a
// drive or a directory is taken from the current directory and not
// searched; a bare name is looked for in the program's directory, the
// current directory, the system directory, the Windows directory, then the
// directories of the machine's PATH (store setting "path", ";"-separated;
// C:\WINDOWS;C:\WINDOWS\COMMAND when unset). `default_extension` (".exe",
// ".DLL") is added when the name's last component has none. Gives the full
// Windows path of an existing file, or empty.
std::string SearchMachineFile(std::string_view name, std::string_view default_extension);

// The Windows path of this process's program: as its starter passed it, or,
// for a program started by hand, that of its host file when it lies in the
// machine folder; empty otherwise.
std::string ProgramWindowsPath();
// The show command this process was started with (SW_SHOWNORMAL by hand).
int StartShowCommand();
// The part of a command line after the program name, as the platform's
// start-up code skips it (a quoted name or up to the first blank, then the
// blanks).
const char* CommandLineArguments(const char* command_line);
// The command line split into arguments as the platform's C runtime does.
std::vector<std::string> SplitCommandLineArguments(std::string_view command_line);

// One process start recorded in the store: by WinExec or CreateProcessA
// ("how" is the API name), or a host program started by hand that
// registered itself ("how" is "self").
struct StartedProcess {
  int64_t id = 0;
  ProcessRef process;
  std::string program;  // Windows path; empty for a program outside the machine
  std::string command_line;
  std::string current_directory;
  int64_t parent_pid = 0;
  int64_t time_us = 0;
  std::string how;
};
std::vector<StartedProcess> StartedProcesses();
// True while a process of that table, other than this one, still runs.
bool AnyProcessAlive();

// A symbol exported by the module itself (not by the libraries it uses);
// null when the module is not loaded or has no such symbol.
void* ModuleSymbol(HMODULE module, const char* name);

// A message box as MessageBoxA recorded it; closed_us is 0 while it is open.
struct RecordedBox {
  int64_t id = 0;
  int64_t pid = 0;
  uintptr_t owner = 0;
  std::string text;
  std::string caption;
  UINT style = 0;
  int result = 0;
  int64_t shown_us = 0;
  int64_t closed_us = 0;
};
std::vector<RecordedBox> RecordedBoxes();

// A restart that ExitWindowsEx was asked for.
struct RestartRequest {
  int64_t id = 0;
  int64_t pid = 0;
  UINT flags = 0;
  int64_t time_us = 0;
};
std::vector<RestartRequest> RestartRequests();

}  // namespace kxhost
