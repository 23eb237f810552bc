// A library for the tests of the module loader, of string resources and of
// rundll32. It writes what happens to it, one line each, into the host file
// that KX_TEST_MODULE_LOG names: "attach", "detach", and for its RunDLL
// export the arguments it was called with. With KX_TEST_MODULE_REFUSE set,
// its DllMain refuses the attach.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform.h"
#include "string_resources.h"

namespace {

HINSTANCE own_instance = nullptr;

void Log(const std::string& line) {
  const char* path = std::getenv("KX_TEST_MODULE_LOG");
  if (!path || !*path) return;
  if (FILE* file = std::fopen(path, "a")) {
    std::fprintf(file, "%s\n", line.c_str());
    std::fclose(file);
  }
}

}  // namespace

extern "C" const KxStringResource KxStringTable[] = {
    {1, 1042, "One"},
    {2, 1042, ""},
    {17, 1042, "Seventeen and more"},
    // Code page 936: two double-byte characters, then "A".
    {40, 1042,
     "\xC4\xE3\xBA\xC3"
     "A"},
    {0, 0, nullptr},
};

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    own_instance = instance;
    Log("attach");
    return std::getenv("KX_TEST_MODULE_REFUSE") ? FALSE : TRUE;
  }
  if (reason == DLL_PROCESS_DETACH) Log("detach");
  return TRUE;
}

// The RunDLL form: records the owner window (whether it is a window of this
// process's thread), whether the instance is this library's, the show
// command and the text between brackets.
void WINAPI RecordCall(HWND window, HINSTANCE instance, LPSTR text, int show) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  Log("window " + std::to_string(IsWindow(window) && process == GetCurrentProcessId()));
  Log("instance " + std::to_string(instance == own_instance));
  Log("show " + std::to_string(show));
  Log("text [" + std::string(text) + "]");
}

}  // extern "C"
