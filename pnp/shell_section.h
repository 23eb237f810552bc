// The shell's Run section: the first phase hands the second to the shell
// through it, or starts the second at once when the shell is running.
#pragma once

#include <string>

#include "platform.h"

// The title of the shell's window (string IDS_SHELL_TITLE), loaded by each
// ShellSection.
extern std::string ShellWindowTitle;

// 1 once the shell's window has been seen in this process; never goes back
// to 0, and no window is enumerated again after it.
extern int ShellIsRunning;

// EnumWindows callback: sets ShellIsRunning from the window's title and
// stops the enumeration at the shell's window.
BOOL CALLBACK IsShellWindow(HWND window, LPARAM parameter);

class ShellSection {
 public:
  // Loads ShellWindowTitle.
  ShellSection();

  // With add: starts "RunDLL32 KX51PNP,<arguments>" at once when the shell
  // is running, else writes it as the Run value `value_name`. Without add:
  // deletes that value. 1 on success, 0 on failure (Run key or value not
  // written or removed, missing inputs).
  int UpdateRunEntry(const char* value_name, const char* arguments, bool add);
};
