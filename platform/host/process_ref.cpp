// Identity of host processes: a pid together with the start time the kernel
// gives it, so that a reused pid is not taken for a process that died.
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "host.h"

namespace kxhost {
namespace {

// Field 22 of /proc/<pid>/stat: the start time in clock ticks; 0 when the
// process is gone or is a zombie.
int64_t StartTime(int64_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return 0;
  auto close = line.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(line.substr(close + 2));
  std::string field;
  // Fields after the name start at 3 (state).
  for (int index = 3; fields >> field; ++index) {
    if (index == 3 && (field == "Z" || field == "X")) return 0;
    if (index == 22) return std::stoll(field);
  }
  return 0;
}

}  // namespace

ProcessRef SelfProcess() {
  static ProcessRef self{getpid(), StartTime(getpid())};
  if (self.pid != getpid()) self = {getpid(), StartTime(getpid())};  // after fork
  return self;
}

ProcessRef ProcessOf(int64_t pid) { return {pid, StartTime(pid)}; }

bool IsAlive(const ProcessRef& process) {
  if (process.pid <= 0) return false;
  return StartTime(process.pid) == process.start && process.start != 0;
}

}  // namespace kxhost
