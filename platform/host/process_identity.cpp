// Who this process is on the machine: its program's Windows path, its
// command line and its show command, as its starter handed them over, or
// read from the host for a program started by hand.
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "host.h"

namespace kxhost {
namespace {

struct Identity {
  bool started = false;
  std::string program;                 // as the starter handed it over
  std::filesystem::path host_program;  // for a program started by hand
  std::string command_line;
  int show = SW_SHOWNORMAL;
};

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::vector<std::string> HostArguments() {
  std::ifstream file("/proc/self/cmdline", std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::vector<std::string> arguments;
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find('\0', start);
    if (end == std::string::npos) end = all.size();
    arguments.push_back(all.substr(start, end - start));
    start = end + 1;
  }
  return arguments;
}

// One argument quoted, when it needs it, so that the platform's C runtime
// splits it back the same.
std::string QuotedArgument(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, '\\');
  return quoted + "\"";
}

// The host file this program was started from: the path it was started by
// (a link in the machine folder counts as the link), else the executable.
std::filesystem::path HostProgram(const std::vector<std::string>& arguments) {
  std::error_code error;
  std::filesystem::path started;
  if (!arguments.empty() && arguments[0].find('/') != std::string::npos)
    started = std::filesystem::absolute(arguments[0], error);
  if (started.empty() || !std::filesystem::exists(started, error))
    started = std::filesystem::read_symlink("/proc/self/exe", error);
  return started;
}

// Its Windows path when it lies in the machine folder. Only the directory
// is made canonical: the file itself may be a link.
std::string WindowsPathOfProgram(const std::filesystem::path& host_program) {
  if (host_program.empty()) return std::string();
  std::string directory = WindowsPathOf(host_program.parent_path());
  if (directory.empty()) return std::string();
  if (directory.back() != '\\') directory += '\\';
  return directory + host_program.filename().string();
}

Identity ReadIdentity() {
  Identity self;
  std::string id = Environment(kProcessIdVariable);
  self.started = !id.empty() && std::strtoll(id.c_str(), nullptr, 10) == getpid();
  if (self.started) {
    self.program = Environment(kProgramVariable);
    self.command_line = Environment(kCommandLineVariable);
    std::string show = Environment(kShowVariable);
    if (!show.empty()) self.show = std::atoi(show.c_str());
    size_t slash = self.program.find_last_of("\\:");
    SetProcessLabel(slash == std::string::npos ? self.program : self.program.substr(slash + 1));
    return self;
  }
  auto arguments = HostArguments();
  for (size_t i = 0; i < arguments.size(); ++i) {
    if (i) self.command_line += ' ';
    self.command_line += QuotedArgument(arguments[i]);
  }
  self.host_program = HostProgram(arguments);
  return self;
}

Identity& Self() {
  static Identity self = ReadIdentity();
  return self;
}

// Read while the library loads: the host's current directory may change
// later, and the environment too.
const bool identity_read = (Self(), true);

}  // namespace

bool StartedThroughPlatform() { return Self().started; }
std::string ProgramWindowsPath() {
  const Identity& self = Self();
  // The machine folder of a process started by hand may change (tests).
  return self.started ? self.program : WindowsPathOfProgram(self.host_program);
}
int StartShowCommand() { return Self().show; }

}  // namespace kxhost

LPSTR WINAPI GetCommandLineA(void) { return kxhost::Self().command_line.data(); }

DWORD WINAPI GetCurrentProcessId(void) { return static_cast<DWORD>(getpid()); }

DWORD WINAPI GetCurrentThreadId(void) { return static_cast<DWORD>(syscall(SYS_gettid)); }

void WINAPI ExitProcess(UINT exit_code) { std::exit(static_cast<int>(exit_code)); }
