// The library's platform entry.
#include "entry_points.h"
#include "library_strings.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) SetStringModule(instance);
  return TRUE;
}
