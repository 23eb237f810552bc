// What an uninstaller does with the library: load it by name and call its
// two hooks, UninstInitialize and then UninstUnInitialize.
//
//   uninstaller
//
// Prints each hook's result; the exit code is 0 when both returned 0, 1
// when one did not, and 2 when the library or a hook is missing.
#include <windows.h>

#include <cstdio>

namespace {

using Hook = LONG(WINAPI*)(LONG, LONG, LONG);

Hook Find(HMODULE library, const char* name) {
  Hook hook = reinterpret_cast<Hook>(reinterpret_cast<void*>(GetProcAddress(library, name)));
  if (!hook) std::printf("%s: missing (error %lu)\n", name, GetLastError());
  return hook;
}

}  // namespace

int main() {
  HMODULE library = LoadLibraryA("KX51PNP");
  if (!library) {
    std::printf("KX51PNP: cannot load (error %lu)\n", GetLastError());
    return 2;
  }
  Hook initialize = Find(library, "UninstInitialize");
  Hook uninitialize = Find(library, "UninstUnInitialize");
  if (!initialize || !uninitialize) return 2;
  LONG first = initialize(0, 0, 0);
  LONG second = uninitialize(0, 0, 0);
  std::printf("UninstInitialize: %ld\nUninstUnInitialize: %ld\n", first, second);
  std::fflush(stdout);
  FreeLibrary(library);
  return first == 0 && second == 0 ? 0 : 1;
}
