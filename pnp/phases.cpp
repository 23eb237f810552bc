// The installation phases that RunDLL32 calls.
#include <new>
#include <string>

#include "command_line.h"
#include "dev_node_key.h"
#include "entry_points.h"
#include "error_box.h"
#include "install_lock.h"
#include "resource.h"
#include "setup_launch.h"
#include "shell_section.h"

namespace {

constexpr const char* kSecondPhaseArgumentsPrefix = "StartPrinterInstallation ";

// Reads the model, writes "ConfigFlags" and hands the second phase to the
// shell.
void ScheduleSecondPhase(HWND window, const char* command_line) {
  PhaseCommandLine parts = SplitCommandLine(command_line);
  ShellSection shell;
  DevNodeKey device(parts.device_key_path.c_str());
  std::string model = device.GetModel();
  if (model.empty()) {
    ShowInstallError(window, IDS_NO_MODEL_NAME, IDS_PHASE1_CAPTION);
    return;
  }
  device.SetConfigFlags(true);
  // The second phase gets the whole command line, source directory included.
  std::string arguments =
      std::string(kSecondPhaseArgumentsPrefix) + (command_line ? command_line : "");
  if (!shell.UpdateRunEntry(model.c_str(), arguments.c_str(), true))
    ShowInstallError(window, IDS_PHASE2_NOT_REGISTERED, IDS_PHASE1_CAPTION);
}

// Checks and clears what the first phase left, writes "ConfigFlags" again
// and starts the setup program from the source directory.
void InstallPrinter(HWND window, const char* command_line) {
  ShellSection shell;
  PhaseCommandLine parts = SplitCommandLine(command_line);
  DevNodeKey device(parts.device_key_path.c_str());
  std::string model = device.GetModel();
  if (model.empty() || !device.SetConfigFlags(false) ||
      !shell.UpdateRunEntry(model.c_str(), nullptr, false)) {
    ShowInstallError(window, IDS_DEVNODE_CLEANUP_FAILED, IDS_PHASE2_CAPTION);
    return;
  }
  device.SetConfigFlags(true);
  // A directory that cannot be made current leaves the current one.
  SetCurrentDirectoryA(parts.source_directory.c_str());
  if (!StartSetupProgram(SetupProgramPath(parts.source_directory)))
    ShowInstallError(window, IDS_DEVNODE_CLEANUP_FAILED, IDS_PHASE2_CAPTION);
}

}  // namespace

// The lock encloses each phase, error boxes included. Running out of memory
// ends the phase quietly: nothing may unwind into RunDLL32.
extern "C" void WINAPI SchedulePrinterInstallation(HWND window, HINSTANCE /*instance*/,
                                                   LPSTR command_line, int /*show*/) {
  try {
    InstallLock lock;
    ScheduleSecondPhase(window, command_line);
  } catch (const std::bad_alloc&) {
  }
}

extern "C" void WINAPI StartPrinterInstallation(HWND window, HINSTANCE /*instance*/,
                                                LPSTR command_line, int /*show*/) {
  try {
    InstallLock lock;
    InstallPrinter(window, command_line);
  } catch (const std::bad_alloc&) {
  }
}

extern "C" void WINAPI CompletePrinterInstallation(HWND /*window*/, HINSTANCE /*instance*/,
                                                   LPSTR /*command_line*/, int /*show*/) {}
