#include "temp_machine.h"

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <stdexcept>

#include "host.h"

namespace kxtest {

TempMachine::TempMachine() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kx51-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  dir_ = pattern;
  if (const char* previous = getenv(kxhost::kMachineVariable)) {
    previous_ = previous;
    had_previous_ = true;
  }
  setenv(kxhost::kMachineVariable, dir_.c_str(), 1);
  kxhost::Store::Reset();
}

TempMachine::~TempMachine() {
  // A test that stopped half-way may leave programs of the machine running
  // (a phase waiting for a lock whose holder it killed): end them, so that
  // nothing outlives its machine and holds the test runner's output open.
  try {
    for (const auto& process : kxhost::StartedProcesses())
      if (process.process.pid != getpid() && kxhost::IsAlive(process.process))
        kill(static_cast<pid_t>(process.process.pid), SIGKILL);
  } catch (const std::exception&) {
    // A machine whose store cannot be read started nothing through it.
  }
  kxhost::Store::Reset();
  if (had_previous_)
    setenv(kxhost::kMachineVariable, previous_.c_str(), 1);
  else
    unsetenv(kxhost::kMachineVariable);
  std::error_code ignored;
  if (!getenv("KX51_KEEP_TEST_MACHINES")) std::filesystem::remove_all(dir_, ignored);
}

}  // namespace kxtest
