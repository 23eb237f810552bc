// An uninstaller's part in the road: loads the library by name, as the
// platform's library search finds it, calls one of its hooks and prints
// the hook's result.
//   kx-uninstaller UninstUnInitialize | UninstInitialize | CleanPnpKeys
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "platform.h"

namespace {

typedef int(WINAPI* UninstallHook)(DWORD, DWORD, DWORD);
typedef void (*CleanHook)();

// The hook without arguments is exported under its C++ name, which each
// compiler spells its own way.
FARPROC FindCleanPnpKeys(HMODULE library) {
  for (const char* name : {"?CleanPnpKeys@@YAXXZ", "_Z12CleanPnpKeysv", "CleanPnpKeys"})
    if (FARPROC found = GetProcAddress(library, name)) return found;
  return nullptr;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR command_line, int) {
  const char* hook = command_line;
  HMODULE library = LoadLibraryA("KX51PNP");
  if (!library) {
    std::printf("LoadLibraryA KX51PNP failed (%lu)\n", static_cast<unsigned long>(GetLastError()));
    return 1;
  }
  int status = 0;
  if (std::strcmp(hook, "CleanPnpKeys") == 0) {
    if (FARPROC clean = FindCleanPnpKeys(library)) {
      reinterpret_cast<CleanHook>(reinterpret_cast<void*>(clean))();
      std::printf("done\n");
    } else {
      std::printf("no export CleanPnpKeys\n");
      status = 1;
    }
  } else if (FARPROC entry = GetProcAddress(library, hook)) {
    int result = reinterpret_cast<UninstallHook>(reinterpret_cast<void*>(entry))(0, 0, 0);
    std::printf("result %d\n", result);
  } else {
    std::printf("no export %s\n", hook);
    status = 1;
  }
  FreeLibrary(library);
  return status;
}
