// The program's own directory and the Windows INF directory.
#include "setup.h"

char ModuleDirectory[MAX_PATH];
char InfDirectory[MAX_PATH];

void CutAfterLastBackslash(LPSTR path) {
  // Stepping forward by characters: a trail byte of a double-byte character
  // may have the value of a backslash and is no separator.
  LPSTR last = nullptr;
  for (LPSTR at = CharNextA(path); *at; at = CharNextA(at))
    if (*at == '\\') last = at;
  if (last) last[1] = '\0';
}

int LocateDirectories(HINSTANCE instance) {
  ModuleDirectory[0] = '\0';
  InfDirectory[0] = '\0';
  const DWORD length = GetModuleFileNameA(instance, ModuleDirectory, MAX_PATH);
  // A path cut to fit the buffer is no path of this program either.
  if (length == 0 || length >= MAX_PATH) {
    ModuleDirectory[0] = '\0';
    return 0;
  }
  CutAfterLastBackslash(ModuleDirectory);
  // Without a Windows directory that leaves room for "\INF", the INF
  // directory would be "\INF" on the current drive or run past its buffer:
  // then neither directory is set.
  const UINT windows = GetWindowsDirectoryA(InfDirectory, MAX_PATH);
  if (windows == 0 || windows + sizeof "\\INF" > MAX_PATH) {
    ModuleDirectory[0] = '\0';
    InfDirectory[0] = '\0';
    return 0;
  }
  lstrcatA(InfDirectory, "\\");
  lstrcatA(InfDirectory, "INF");
  return 1;
}
