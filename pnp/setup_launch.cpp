#include "setup_launch.h"

#include <vector>

#include "owned_handle.h"
#include "platform.h"

std::string SetupProgramPath(const std::string& source_directory) {
  if (!source_directory.empty() && source_directory.back() == '\\')
    return source_directory + "SETUP.EXE";
  return source_directory + "\\Setup.Exe";
}

// The start-up block the 32-bit platform expects is 68 bytes long.
static_assert(sizeof(void*) != 4 || sizeof(STARTUPINFOA) == 68, "STARTUPINFOA of 68 bytes");

namespace {

bool CreateSetupProcess(const std::string& program_path) {
  // The program is named as the application, and quoted in the command line,
  // so that a directory with spaces cannot make the platform start a
  // program named by the part before a space.
  std::string quoted = "\"" + program_path + "\"";
  std::vector<char> command_line(quoted.begin(), quoted.end());
  command_line.push_back('\0');

  STARTUPINFOA startup_info = {};
  startup_info.cb = sizeof startup_info;
  PROCESS_INFORMATION process_info = {};
  if (!CreateProcessA(program_path.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0,
                      nullptr, nullptr, &startup_info, &process_info))
    return false;
  // Not waited for: the handles go at once, the thread's first.
  OwnedHandle process(process_info.hProcess);
  OwnedHandle thread(process_info.hThread);
  return true;
}

}  // namespace

bool StartSetupProgram(const std::string& program_path) {
  for (int attempt = 1;; ++attempt) {
    if (CreateSetupProcess(program_path)) return true;
    if (attempt == kSetupStartAttempts) return false;
    Sleep(kSetupStartRetryPauseMs);
  }
}
