// The desktop shell, as much of it as an installation meets: a top-level
// window titled "Program Manager" for as long as it runs, and the commands
// of the Run section started once, when it starts.
//
//   explorer                 runs the Run section, then stays until closed
//   explorer /exit           ends right after running the Run section
//   explorer /stay SECONDS   ends after SECONDS, or when closed before
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform.h"
#include "registry_access.h"

namespace {

constexpr const char* kShellClass = "Progman";
constexpr const char* kShellTitle = "Program Manager";
constexpr const char* kRunSectionPath = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

struct Options {
  bool exit_after_run = false;
  bool stay_limited = false;
  DWORD stay_ms = 0;
};

bool SameWord(const std::string& word, const char* option) {
  if (word.size() != std::string(option).size()) return false;
  for (size_t i = 0; i < word.size(); ++i) {
    char a = word[i], b = option[i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a + 32);
    if (a != b) return false;
  }
  return true;
}

std::vector<std::string> Words(const char* text) {
  std::vector<std::string> words;
  std::string word;
  for (const char* c = text ? text : "";; ++c) {
    if (*c == ' ' || *c == '\t' || *c == '\0') {
      if (!word.empty()) words.push_back(word);
      word.clear();
      if (*c == '\0') break;
    } else {
      word += *c;
    }
  }
  return words;
}

Options ParseOptions(const char* command_line) {
  Options options;
  auto words = Words(command_line);
  for (size_t i = 0; i < words.size(); ++i) {
    if (SameWord(words[i], "/exit")) {
      options.exit_after_run = true;
    } else if (SameWord(words[i], "/stay") && i + 1 < words.size()) {
      options.stay_limited = true;
      options.stay_ms = static_cast<DWORD>(std::strtoul(words[++i].c_str(), nullptr, 10) * 1000);
    } else {
      std::fprintf(stderr, "explorer: ignoring unknown option %s\n", words[i].c_str());
    }
  }
  return options;
}

// The text commands of the Run section, read whole before any of them runs:
// what they start may change the section (a second phase deletes its value).
std::vector<std::string> RunSectionCommands() {
  std::vector<std::string> commands;
  kxtools::UniqueKey run;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunSectionPath, 0, KEY_READ, run.put()) != ERROR_SUCCESS)
    return commands;
  std::vector<kxtools::RegistryValue> values;
  kxtools::ReadRegistryValues(run.get(), &values);
  for (const auto& value : values) {
    if (value.type != REG_SZ) continue;
    std::string command(value.data.begin(), value.data.end());
    command.resize(command.find('\0') == std::string::npos ? command.size() : command.find('\0'));
    if (!command.empty()) commands.push_back(command);
  }
  return commands;
}

void RunTheRunSection() {
  for (const auto& command : RunSectionCommands()) {
    UINT started = WinExec(command.c_str(), SW_SHOWNORMAL);
    if (started <= 31)
      std::fprintf(stderr, "explorer: could not run %s (%u)\n", command.c_str(), started);
  }
}

LRESULT CALLBACK ShellWindowProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

void Dispatch(const MSG& message) {
  TranslateMessage(&message);
  DispatchMessageA(&message);
}

// Until WM_QUIT (the window's WM_CLOSE ends in one).
void RunMessageLoop() {
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) Dispatch(message);
}

// The same for at most `milliseconds`.
void RunMessageLoopFor(DWORD milliseconds) {
  DWORD start = GetTickCount();
  for (;;) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) return;
      Dispatch(message);
    }
    if (GetTickCount() - start >= milliseconds) return;
    Sleep(20);
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR command_line, int) {
  Options options = ParseOptions(command_line);

  WNDCLASSA window_class{};
  window_class.lpfnWndProc = ShellWindowProcedure;
  window_class.hInstance = instance;
  window_class.lpszClassName = kShellClass;
  if (!RegisterClassA(&window_class)) {
    std::fprintf(stderr, "explorer: RegisterClassA failed (%lu)\n",
                 static_cast<unsigned long>(GetLastError()));
    return 1;
  }
  HWND window = CreateWindowExA(0, kShellClass, kShellTitle, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                instance, nullptr);
  if (!window) {
    std::fprintf(stderr, "explorer: CreateWindowExA failed (%lu)\n",
                 static_cast<unsigned long>(GetLastError()));
    return 1;
  }

  RunTheRunSection();

  if (options.exit_after_run) {
    // Only the Run section: the window goes at once.
  } else if (options.stay_limited) {
    RunMessageLoopFor(options.stay_ms);
  } else {
    RunMessageLoop();
  }

  if (IsWindow(window)) DestroyWindow(window);
  return 0;
}
