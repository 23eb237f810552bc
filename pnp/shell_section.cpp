#include "shell_section.h"

#include <cstring>
#include <vector>

#include "library_strings.h"
#include "registry_key.h"
#include "resource.h"

std::string ShellWindowTitle;
int ShellIsRunning = 0;

namespace {

constexpr const char* kRunKeyPath = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const char* kSecondPhaseCommandPrefix = "RunDLL32 KX51PNP,";

std::string SecondPhaseCommand(const char* arguments) {
  return std::string(kSecondPhaseCommandPrefix) + (arguments ? arguments : "");
}

bool IsEmpty(const char* text) { return !text || !*text; }

}  // namespace

BOOL CALLBACK IsShellWindow(HWND window, LPARAM /*parameter*/) {
  int length = GetWindowTextLengthA(window);
  if (length <= 0) return TRUE;
  std::vector<char> title(static_cast<size_t>(length) + 1);
  GetWindowTextA(window, title.data(), length + 1);
  ShellIsRunning = std::strcmp(title.data(), ShellWindowTitle.c_str()) == 0 ? 1 : 0;
  return ShellIsRunning ? FALSE : TRUE;
}

ShellSection::ShellSection() { ShellWindowTitle = LoadLibraryString(IDS_SHELL_TITLE); }

int ShellSection::UpdateRunEntry(const char* value_name, const char* arguments, bool add) {
  if (!ShellIsRunning) EnumWindows(IsShellWindow, 0);

  if (ShellIsRunning && add) {
    WinExec(SecondPhaseCommand(arguments).c_str(), SW_SHOWNA);
    return 1;
  }

  if (IsEmpty(value_name) || (add && IsEmpty(arguments))) return 0;
  RegistryKey run_key = CreateRegistryKey(HKEY_LOCAL_MACHINE, kRunKeyPath);
  if (!run_key) return 0;

  if (!add) {
    LONG deleted = RegDeleteValueA(run_key.get(), value_name);
    LONG closed = run_key.Close();
    if (deleted == ERROR_SUCCESS && closed == ERROR_SUCCESS) return 1;
    // A first phase that saw the shell wrote no value to delete.
    return ShellIsRunning ? 1 : 0;
  }

  std::string command = SecondPhaseCommand(arguments);
  LONG written = RegSetValueExA(run_key.get(), value_name, 0, REG_SZ,
                                reinterpret_cast<const BYTE*>(command.c_str()),
                                static_cast<DWORD>(command.size() + 1));
  return written == ERROR_SUCCESS ? 1 : 0;
}
