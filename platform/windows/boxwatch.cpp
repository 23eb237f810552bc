// The box watcher of the Wine tests: finds the message boxes that the
// programs under test show, records each one's owner, text and caption, and
// presses its OK button.
//
//   boxwatch LOG STOP_EVENT [HOLD_MS]
//
// Watches every top-level dialog window of the machine (a Wine prefix of its
// own holds nothing but the programs under test) until the named event
// STOP_EVENT is signalled. A box is pressed HOLD_MS milliseconds (default 0)
// after it was found, so that a test can see what waits behind it. Each box
// gives one line in LOG, written when it is pressed, fields separated by tabs:
//
//   found_ms pressed_ms box_pid box_program owner_class owner_title owner_pid caption text
//
// Times are GetTickCount() values; tabs, line ends and backslashes inside a
// field are written as \t, \n, \r and \\.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "kernel_handle.h"

namespace {

// The message box's text control (the platform's dialog template id).
constexpr int kMessageTextId = 0xFFFF;

std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\\':
        out += "\\\\";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string WindowTitle(HWND window) {
  char text[1024] = "";
  GetWindowTextA(window, text, sizeof text);
  return text;
}

std::string ClassOf(HWND window) {
  char name[256] = "";
  if (window) GetClassNameA(window, name, sizeof name);
  return name;
}

DWORD ProcessOf(HWND window) {
  DWORD pid = 0;
  if (window) GetWindowThreadProcessId(window, &pid);
  return pid;
}

struct Box {
  HWND window;
  DWORD found_ms;
  std::string fields;  // what was read when it was found, from box_pid to text
  bool pressed = false;
};

class Watcher {
 public:
  Watcher(const char* log_path, DWORD hold_ms) : log_path_(log_path), hold_ms_(hold_ms) {}

  // Finds new boxes and presses those held long enough (all of them when
  // `last`).
  void Look(bool last) {
    EnumWindows(&Watcher::Visit, reinterpret_cast<LPARAM>(this));
    DWORD now = GetTickCount();
    for (Box& box : boxes_) {
      if (box.pressed || (!last && now - box.found_ms < hold_ms_)) continue;
      Press(box);
    }
  }

 private:
  static BOOL CALLBACK Visit(HWND window, LPARAM self) {
    reinterpret_cast<Watcher*>(self)->Consider(window);
    return TRUE;
  }

  void Consider(HWND window) {
    if (!IsWindowVisible(window) || ClassOf(window) != "#32770") return;
    if (ProcessOf(window) == GetCurrentProcessId()) return;
    for (const Box& box : boxes_)
      if (box.window == window) return;
    char text[4096] = "";
    GetDlgItemTextA(window, kMessageTextId, text, sizeof text);
    HWND owner = GetWindow(window, GW_OWNER);
    DWORD pid = ProcessOf(window);
    std::string fields = std::to_string(pid) + "\t" + Escaped(kxwindows::ProgramOf(pid)) + "\t" +
                         Escaped(ClassOf(owner)) + "\t" + Escaped(owner ? WindowTitle(owner) : "") +
                         "\t" + std::to_string(ProcessOf(owner)) + "\t" +
                         Escaped(WindowTitle(window)) + "\t" + Escaped(text);
    boxes_.push_back(Box{window, GetTickCount(), fields});
  }

  void Press(Box& box) {
    box.pressed = true;
    HWND ok = GetDlgItem(box.window, IDOK);
    PostMessageA(box.window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(ok));
    if (FILE* log = std::fopen(log_path_.c_str(), "ab")) {
      std::fprintf(log, "%lu\t%lu\t%s\n", box.found_ms, GetTickCount(), box.fields.c_str());
      std::fclose(log);
    }
  }

  std::string log_path_;
  DWORD hold_ms_;
  std::vector<Box> boxes_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: boxwatch LOG STOP_EVENT [HOLD_MS]\n");
    return 2;
  }
  kxwindows::KernelHandle stop(OpenEventA(SYNCHRONIZE, FALSE, argv[2]));
  if (!stop.get()) {
    std::fprintf(stderr, "boxwatch: no event %s (error %lu)\n", argv[2], GetLastError());
    return 2;
  }
  Watcher watcher(argv[1], argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 0);
  do {
    watcher.Look(false);
  } while (WaitForSingleObject(stop.get(), 20) == WAIT_TIMEOUT);
  // Boxes still up at the stop are answered too, so nothing is left waiting.
  watcher.Look(true);
  return 0;
}
