// The host's rundll32: "rundll32 LIBRARY,Export text" loads the library by
// the machine's library search and calls the export with a hidden window of
// its own as the owner, the library's instance, the text after the first
// blank behind the export's name (unchanged) and the show command.
#include <string>

#include "host.h"

namespace {

using RunDllEntry = void(WINAPI*)(HWND window, HINSTANCE instance, LPSTR text, int show);

struct Invocation {
  std::string library;
  std::string entry;
  std::string text;
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// "LIBRARY,Entry text": the library name may be quoted; the text is all
// after the first blank behind the entry's name.
bool ParseInvocation(const char* arguments, Invocation* invocation) {
  std::string all(arguments);
  size_t comma;
  if (!all.empty() && all[0] == '"') {
    size_t close = all.find('"', 1);
    if (close == std::string::npos) return false;
    invocation->library = all.substr(1, close - 1);
    comma = all.find(',', close);
  } else {
    comma = all.find(',');
    invocation->library = all.substr(0, comma);
  }
  if (comma == std::string::npos) return false;
  size_t end = comma + 1;
  while (end < all.size() && !IsBlank(all[end])) ++end;
  invocation->entry = all.substr(comma + 1, end - comma - 1);
  if (end < all.size()) invocation->text = all.substr(end + 1);
  return !invocation->library.empty() && !invocation->entry.empty();
}

LRESULT CALLBACK HiddenWindowProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  return DefWindowProcA(window, message, wparam, lparam);
}

// The tool's own top-level window: never shown, it owns the export's boxes.
class HiddenWindow {
 public:
  explicit HiddenWindow(HINSTANCE instance) {
    WNDCLASSA window_class{};
    window_class.lpfnWndProc = HiddenWindowProcedure;
    window_class.hInstance = instance;
    window_class.lpszClassName = "RunDLL";
    RegisterClassA(&window_class);
    window_ = CreateWindowExA(0, "RunDLL", "RunDLL", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                              CW_USEDEFAULT, 0, 0, nullptr, nullptr, instance, nullptr);
  }
  ~HiddenWindow() {
    DWORD error = GetLastError();
    if (window_) DestroyWindow(window_);
    SetLastError(error);
  }
  HiddenWindow(const HiddenWindow&) = delete;
  HiddenWindow& operator=(const HiddenWindow&) = delete;
  HWND get() const { return window_; }

 private:
  HWND window_ = nullptr;
};

// A loaded library, freed at the end.
class Library {
 public:
  explicit Library(const std::string& name) : module_(LoadLibraryA(name.c_str())) {}
  ~Library() {
    DWORD error = GetLastError();
    if (module_) FreeLibrary(module_);
    SetLastError(error);
  }
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;
  HMODULE get() const { return module_; }

 private:
  HMODULE module_;
};

void ShowError(HWND owner, const std::string& text) {
  MessageBoxA(owner, text.c_str(), "RUNDLL", MB_ICONERROR);
}

}  // namespace

int main() {
  kxhost::SetProcessLabel("RUNDLL32");
  std::string program = kxhost::ProgramWindowsPath();
  if (!program.empty()) kxhost::SetProcessLabel(program.substr(program.find_last_of('\\') + 1));

  HiddenWindow window(GetModuleHandleA(nullptr));
  Invocation invocation;
  if (!ParseInvocation(kxhost::CommandLineArguments(GetCommandLineA()), &invocation)) return 0;
  Library library(invocation.library);
  if (!library.get()) {
    ShowError(window.get(), "Error loading " + invocation.library);
    return 0;
  }
  // Through void*: the export's type is known only by convention.
  auto entry = reinterpret_cast<RunDllEntry>(
      reinterpret_cast<void*>(GetProcAddress(library.get(), invocation.entry.c_str())));
  if (!entry) {
    ShowError(window.get(),
              "Error in " + invocation.library + "\nMissing entry:" + invocation.entry);
    return 0;
  }
  entry(window.get(), reinterpret_cast<HINSTANCE>(library.get()), invocation.text.data(),
        kxhost::StartShowCommand());
  return 0;
}
