// Starting processes as the platform does: WinExec and CreateProcessA find
// the program by the platform's rules, start the host executable stored
// under that Windows name with the command line unchanged, and do not wait.
// Every start is recorded in the store, so that the machine knows which of
// its processes still run.
#include <fcntl.h>
#include <linux/close_range.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "host.h"

extern char** environ;

namespace kxhost {
namespace {

constexpr const char* kProcessesSchema =
    "CREATE TABLE IF NOT EXISTS processes("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " pid INTEGER NOT NULL,"
    " start INTEGER NOT NULL,"
    " program TEXT NOT NULL,"
    " command_line TEXT NOT NULL,"
    " current_directory TEXT NOT NULL,"
    " parent_pid INTEGER NOT NULL,"
    " time_us INTEGER NOT NULL,"
    " how TEXT NOT NULL)";
KX_HOST_SCHEMA("processes", kProcessesSchema);

int64_t NowMicroseconds() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

void RecordStart(Store& store, const StartedProcess& started) {
  store
      .Prepare(
          "INSERT INTO processes(pid, start, program, command_line, current_directory,"
          " parent_pid, time_us, how) VALUES(?, ?, ?, ?, ?, ?, ?, ?)")
      .Bind(1, started.process.pid)
      .Bind(2, started.process.start)
      .Bind(3, started.program)
      .Bind(4, started.command_line)
      .Bind(5, started.current_directory)
      .Bind(6, started.parent_pid)
      .Bind(7, started.time_us)
      .Bind(8, started.how)
      .Run();
}

// ---- the started process and its handles ------------------------------------

// What this process knows of a process it started: reaped by a thread of
// its own as soon as it ends, so that no zombie stays behind.
struct Child {
  std::mutex mutex;
  std::condition_variable ended;
  bool exited = false;
  DWORD exit_code = STILL_ACTIVE;
};

void Reap(pid_t pid, const std::shared_ptr<Child>& child) {
  int status = 0;
  pid_t result;
  do {
    result = waitpid(pid, &status, 0);
  } while (result < 0 && errno == EINTR);
  DWORD code = 0;
  if (result == pid && WIFEXITED(status)) code = static_cast<DWORD>(WEXITSTATUS(status));
  if (result == pid && WIFSIGNALED(status)) code = 128u + static_cast<DWORD>(WTERMSIG(status));
  std::lock_guard<std::mutex> lock(child->mutex);
  child->exited = true;
  child->exit_code = code;
  child->ended.notify_all();
}

// A process or thread handle: both are signalled when the process ends
// (the started programs run one thread).
class ChildObject : public KernelObject {
 public:
  explicit ChildObject(std::shared_ptr<Child> child) : child_(std::move(child)) {}

  DWORD Wait(DWORD milliseconds) override {
    std::unique_lock<std::mutex> lock(child_->mutex);
    auto exited = [&] { return child_->exited; };
    if (milliseconds == INFINITE)
      child_->ended.wait(lock, exited);
    else if (!child_->ended.wait_for(lock, std::chrono::milliseconds(milliseconds), exited))
      return WAIT_TIMEOUT;
    return WAIT_OBJECT_0;
  }

  DWORD ExitCode() {
    std::lock_guard<std::mutex> lock(child_->mutex);
    return child_->exit_code;
  }

 private:
  std::shared_ptr<Child> child_;
};

class ProcessObject final : public ChildObject {
  using ChildObject::ChildObject;
};
class ThreadObject final : public ChildObject {
  using ChildObject::ChildObject;
};

// ---- finding the program ----------------------------------------------------

struct FoundProgram {
  std::string windows_path;
  DWORD error = 0;
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsMachineDirectory(const std::string& windows_path) {
  std::error_code error;
  MachineFile directory = ResolveMachineFile(windows_path.c_str());
  return !directory.host.empty() && std::filesystem::is_directory(directory.host, error);
}

// An application name is taken as it stands: from the current directory,
// no search, no extension added.
FoundProgram FindApplication(const std::string& application) {
  std::string full = FullWindowsPath(application);
  std::error_code error;
  if (!full.empty() && std::filesystem::is_regular_file(HostPath(full), error)) return {full, 0};
  size_t last = full.rfind('\\');
  std::string parent = last == std::string::npos ? std::string() : full.substr(0, last + 1);
  DWORD missing = IsMachineDirectory(parent) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
  return {"", missing};
}

// From the command line: a quoted first token is the name; an unquoted one
// is tried up to each blank in turn, then whole ("C:\Program Files\A.exe"
// tries "C:\Program.exe" first).
FoundProgram FindInCommandLine(const std::string& command_line) {
  size_t start = 0;
  while (start < command_line.size() && IsBlank(command_line[start])) ++start;
  if (start < command_line.size() && command_line[start] == '"') {
    size_t close = command_line.find('"', start + 1);
    std::string name = command_line.substr(
        start + 1, close == std::string::npos ? std::string::npos : close - start - 1);
    std::string found = SearchMachineFile(name, ".exe");
    return {found, found.empty() ? static_cast<DWORD>(ERROR_FILE_NOT_FOUND) : 0u};
  }
  for (size_t end = start; end <= command_line.size(); ++end) {
    if (end < command_line.size() && !IsBlank(command_line[end])) continue;
    if (end == start) continue;
    std::string found = SearchMachineFile(command_line.substr(start, end - start), ".exe");
    if (!found.empty()) return {found, 0};
  }
  return {"", static_cast<DWORD>(ERROR_FILE_NOT_FOUND)};
}

// ---- starting it --------------------------------------------------------------

DWORD ErrorOfExec(int error_number) {
  switch (error_number) {
    case ENOENT:
    case ENOTDIR:
      return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case ENOEXEC:
    case ELIBBAD:
    case EISDIR:
      return ERROR_BAD_EXE_FORMAT;
    case ENOMEM:
    case EAGAIN:
      return ERROR_NOT_ENOUGH_MEMORY;
    case E2BIG:
      return ERROR_INVALID_PARAMETER;
    default:
      return ERROR_ACCESS_DENIED;
  }
}

// The text entries of a NULL-terminated array for execve, prepared before
// the fork: the child may only call what is safe after a fork.
class ExecStrings {
 public:
  void Add(std::string text) { strings_.push_back(std::move(text)); }
  std::vector<char*> Pointers() {
    std::vector<char*> pointers;
    for (auto& text : strings_) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
  }

 private:
  std::vector<std::string> strings_;
};

// A pipe whose ends close themselves.
class Pipe {
 public:
  Pipe() {
    if (pipe2(fds_, O_CLOEXEC) != 0) fds_[0] = fds_[1] = -1;
  }
  ~Pipe() {
    CloseRead();
    CloseWrite();
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;
  bool ok() const { return fds_[0] >= 0; }
  int read_end() const { return fds_[0]; }
  int write_end() const { return fds_[1]; }
  void CloseRead() { CloseOne(0); }
  void CloseWrite() { CloseOne(1); }

 private:
  void CloseOne(int index) {
    if (fds_[index] >= 0) close(fds_[index]);
    fds_[index] = -1;
  }
  int fds_[2];
};

struct StartRequest {
  const char* how;      // the API name
  std::string program;  // Windows path
  std::string command_line;
  std::string current_directory;  // Windows path
  int show = SW_SHOWNORMAL;
};

struct Started {
  pid_t pid = 0;
  std::shared_ptr<Child> child;
  DWORD error = 0;
};

// Places the decimal digits of `value` at the end of `text` (padded with
// zeros in front); safe after a fork.
void WriteDigits(char* begin, char* end, long value) {
  for (char* p = end; p != begin;) {
    *--p = static_cast<char>('0' + value % 10);
    value /= 10;
  }
}

Started Spawn(const StartRequest& request) {
  std::string host_program = HostPath(request.program).string();
  std::string host_directory;
  if (IsMachineDirectory(request.current_directory))
    host_directory = HostPath(request.current_directory).string();

  ExecStrings arguments;
  arguments.Add(host_program);
  for (auto& argument :
       SplitCommandLineArguments(CommandLineArguments(request.command_line.c_str())))
    arguments.Add(std::move(argument));

  ExecStrings environment;
  const std::string overridden[] = {kMachineVariable, kStartDirectoryVariable,
                                    kProgramVariable, kCommandLineVariable,
                                    kShowVariable,    kProcessIdVariable};
  for (char** entry = environ; *entry; ++entry) {
    std::string_view text(*entry);
    bool ours = false;
    for (const auto& name : overridden)
      ours = ours || (text.size() > name.size() && text.compare(0, name.size(), name) == 0 &&
                      text[name.size()] == '=');
    if (!ours) environment.Add(std::string(text));
  }
  environment.Add(std::string(kMachineVariable) + "=" +
                  std::filesystem::absolute(MachineDir()).string());
  environment.Add(std::string(kStartDirectoryVariable) + "=" + request.current_directory);
  environment.Add(std::string(kProgramVariable) + "=" + request.program);
  environment.Add(std::string(kCommandLineVariable) + "=" + request.command_line);
  environment.Add(std::string(kShowVariable) + "=" + std::to_string(request.show));
  // The child's own id goes into the 20 digits once it is known.
  const std::string id_prefix = std::string(kProcessIdVariable) + "=";
  environment.Add(id_prefix + std::string(20, '0'));

  auto argv = arguments.Pointers();
  auto envp = environment.Pointers();
  char* id_digits = envp[envp.size() - 2] + id_prefix.size();

  Pipe exec_error;
  if (!exec_error.ok()) return {0, nullptr, ERROR_NOT_ENOUGH_MEMORY};
  pid_t pid = fork();
  if (pid < 0) return {0, nullptr, ErrorOfExec(errno)};
  if (pid == 0) {
    // The child: only calls that are safe after a fork.
    WriteDigits(id_digits, id_digits + 20, static_cast<long>(getpid()));
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGPIPE, SIG_DFL);
    signal(SIGCHLD, SIG_DFL);
    if (!host_directory.empty() && chdir(host_directory.c_str()) != 0) {
      // The Windows current directory goes over in the environment anyway.
    }
    close_range(3, ~0u, CLOSE_RANGE_CLOEXEC);
    execve(host_program.c_str(), argv.data(), envp.data());
    int error_number = errno;
    ssize_t ignored = write(exec_error.write_end(), &error_number, sizeof error_number);
    (void)ignored;
    _exit(127);
  }
  exec_error.CloseWrite();
  int error_number = 0;
  ssize_t got;
  do {
    got = read(exec_error.read_end(), &error_number, sizeof error_number);
  } while (got < 0 && errno == EINTR);
  if (got == static_cast<ssize_t>(sizeof error_number)) {
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    return {0, nullptr, ErrorOfExec(error_number)};
  }
  auto child = std::make_shared<Child>();
  std::thread(Reap, pid, child).detach();
  return {pid, child, 0};
}

// Finds, starts and records; journals the call under `how` with `detail`.
Started Start(StartRequest request, const char* application, std::string_view detail) {
  FoundProgram found =
      application ? FindApplication(application) : FindInCommandLine(request.command_line);
  Started started;
  auto& store = Store::Get();
  // The start is recorded in the same transaction that spans the spawn, so
  // that nothing the child writes to the machine can come before it.
  store.Transaction([&] {
    if (found.error) {
      started.error = found.error;
    } else {
      request.program = found.windows_path;
      started = Spawn(request);
    }
    if (!started.error) {
      StartedProcess record;
      record.process = ProcessOf(started.pid);
      record.program = request.program;
      record.command_line = request.command_line;
      record.current_directory = request.current_directory;
      record.parent_pid = getpid();
      record.time_us = NowMicroseconds();
      record.how = request.how;
      RecordStart(store, record);
    }
    Journal(request.how, detail,
            started.error ? "error " + std::to_string(started.error)
                          : request.program + " pid " + std::to_string(started.pid));
  });
  return started;
}

// A host program started by hand (from a terminal, a script) joins the
// processes table when it starts, so that the machine sees it run. Only
// on a machine that exists already and that the environment names. The
// store is opened on its own here: the other parts' tables may not be
// declared yet while the library loads.
void RegisterIfStartedByHand() {
  const char* machine = std::getenv(kMachineVariable);
  if (!machine || !*machine || StartedThroughPlatform()) return;
  try {
    auto db_path = MachineDir() / "machine.db";
    std::error_code error;
    if (!std::filesystem::exists(db_path, error)) return;
    Store store(db_path);
    store.Exec(kProcessesSchema);
    StartedProcess record;
    record.process = SelfProcess();
    record.program = ProgramWindowsPath();
    record.command_line = GetCommandLineA();
    record.current_directory = CurrentDirectory();
    record.parent_pid = getppid();
    record.time_us = NowMicroseconds();
    record.how = "self";
    store.Transaction([&] { RecordStart(store, record); });
  } catch (const std::exception&) {
    // A program runs even when its machine's store cannot take the record.
  }
}

const bool registered_by_hand = (RegisterIfStartedByHand(), true);

}  // namespace

std::vector<StartedProcess> StartedProcesses() {
  auto query = Store::Get().Prepare(
      "SELECT id, pid, start, program, command_line, current_directory, parent_pid, time_us, how"
      " FROM processes ORDER BY id");
  std::vector<StartedProcess> processes;
  while (query.Step()) {
    StartedProcess process;
    process.id = query.Int(0);
    process.process = {query.Int(1), query.Int(2)};
    process.program = query.Text(3);
    process.command_line = query.Text(4);
    process.current_directory = query.Text(5);
    process.parent_pid = query.Int(6);
    process.time_us = query.Int(7);
    process.how = query.Text(8);
    processes.push_back(std::move(process));
  }
  return processes;
}

bool AnyProcessAlive() {
  ProcessRef self = SelfProcess();
  for (const auto& started : StartedProcesses()) {
    if (started.process.pid == self.pid && started.process.start == self.start) continue;
    if (IsAlive(started.process)) return true;
  }
  return false;
}

}  // namespace kxhost

UINT WINAPI WinExec(LPCSTR command_line, UINT show) {
  std::string text = command_line ? command_line : "";
  // WinExec gives its error as its result; values above 31 mean success.
  auto result_of = [](DWORD error) -> UINT {
    if (error == ERROR_BAD_EXE_FORMAT) return ERROR_BAD_FORMAT;
    return error > 31 ? 0u : static_cast<UINT>(error);
  };
  if (auto error = kxhost::TakeFault("WinExec", text)) return result_of(*error);
  kxhost::StartRequest request{"WinExec", "", text, kxhost::CurrentDirectory(),
                               static_cast<int>(show)};
  auto started = kxhost::Start(request, nullptr, text);
  return started.error ? result_of(started.error) : 33u;
}

BOOL WINAPI CreateProcessA(LPCSTR application, LPSTR command_line, LPSECURITY_ATTRIBUTES,
                           LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID, LPCSTR current_directory,
                           LPSTARTUPINFOA startup_info, LPPROCESS_INFORMATION information) {
  if (!information || (!application && !command_line)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // Without a command line the program gets its application name as one.
  std::string text = command_line ? command_line : application;
  std::string argument = application ? std::string(application) + " " + text : text;
  if (auto error = kxhost::TakeFault("CreateProcessA", argument)) {
    SetLastError(*error);
    return FALSE;
  }
  std::string directory = kxhost::CurrentDirectory();
  if (current_directory) {
    directory = kxhost::FullWindowsPath(current_directory);
    if (!kxhost::IsMachineDirectory(directory)) {
      SetLastError(ERROR_DIRECTORY);
      return FALSE;
    }
  }
  int show = SW_SHOWNORMAL;
  if (startup_info && (startup_info->dwFlags & STARTF_USESHOWWINDOW))
    show = startup_info->wShowWindow;
  kxhost::StartRequest request{"CreateProcessA", "", text, directory, show};
  auto started = kxhost::Start(request, application, argument);
  if (started.error) {
    SetLastError(started.error);
    return FALSE;
  }
  information->hProcess = kxhost::AddHandle(std::make_unique<kxhost::ProcessObject>(started.child));
  information->hThread = kxhost::AddHandle(std::make_unique<kxhost::ThreadObject>(started.child));
  information->dwProcessId = static_cast<DWORD>(started.pid);
  information->dwThreadId = static_cast<DWORD>(started.pid);
  return TRUE;
}

BOOL WINAPI GetExitCodeProcess(HANDLE process, LPDWORD exit_code) {
  auto* object = kxhost::FindHandleAs<kxhost::ProcessObject>(process);
  if (!object || !exit_code) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  *exit_code = object->ExitCode();
  return TRUE;
}
