// Top-level windows: classes of this process, windows with titles in the
// store, owned by a process and a thread, listed while their process lives,
// in z-order (the newest on top). A window's procedure is an address in its
// own process, so it is kept in this process only.
#include <algorithm>
#include <cstdio>
#include <map>
#include <mutex>
#include <set>

#include "host.h"

namespace kxhost {
namespace {

KX_HOST_SCHEMA("windows",
               "CREATE TABLE IF NOT EXISTS windows("
               " id INTEGER PRIMARY KEY AUTOINCREMENT,"
               " pid INTEGER NOT NULL,"
               " start INTEGER NOT NULL,"
               " thread INTEGER NOT NULL,"
               " class TEXT NOT NULL,"
               " title BLOB NOT NULL,"
               " style INTEGER NOT NULL,"
               " z INTEGER NOT NULL)");

// Window handles are the row ids moved past the small values, so that 0,
// 1 or a stray small integer is never taken for a window.
constexpr uintptr_t kFirstWindowHandle = 0x10000;

HWND HandleOf(int64_t id) {
  return reinterpret_cast<HWND>(kFirstWindowHandle + static_cast<uintptr_t>(id));
}

int64_t IdOf(HWND window) {
  auto value = reinterpret_cast<uintptr_t>(window);
  return value > kFirstWindowHandle ? static_cast<int64_t>(value - kFirstWindowHandle) : 0;
}

std::string HandleText(HWND window) {
  char text[32];
  std::snprintf(text, sizeof text, "%#zx",
                static_cast<size_t>(reinterpret_cast<uintptr_t>(window)));
  return text;
}

std::string TitleOf(LPCSTR title) { return title ? std::string(title) : std::string(); }

// ---- classes and procedures of this process ---------------------------------

struct WindowClass {
  std::string name;
  WNDPROC procedure;
  HINSTANCE instance;
  WORD atom;
};

struct ProcessWindows {
  std::mutex mutex;
  std::vector<WindowClass> classes;
  WORD next_atom = 0xC000;  // the range of the platform's class atoms
  std::map<int64_t, WNDPROC> procedures;
  std::set<int64_t> being_destroyed;
};

ProcessWindows& This() {
  static ProcessWindows windows;
  return windows;
}

// The classes every process has without registering them; their windows
// are served by the default procedure.
bool IsSystemClass(std::string_view name) {
  for (const char* system : {"STATIC", "BUTTON", "EDIT", "#32770"})
    if (EqualsNoCase(name, system)) return true;
  return false;
}

// A class name argument is either text or an atom in the low word.
bool IsAtom(LPCSTR name) { return reinterpret_cast<uintptr_t>(name) < 0x10000; }

std::optional<WindowClass> FindClass(LPCSTR name) {
  auto& self = This();
  std::lock_guard<std::mutex> lock(self.mutex);
  for (const auto& window_class : self.classes) {
    if (IsAtom(name) ? window_class.atom == reinterpret_cast<uintptr_t>(name)
                     : EqualsNoCase(window_class.name, name))
      return window_class;
  }
  if (!IsAtom(name) && IsSystemClass(name))
    return WindowClass{FoldCase(name), DefWindowProcA, nullptr, 0};
  return std::nullopt;
}

WNDPROC ProcedureOf(int64_t id) {
  auto& self = This();
  std::lock_guard<std::mutex> lock(self.mutex);
  auto it = self.procedures.find(id);
  return it == self.procedures.end() ? nullptr : it->second;
}

// ---- rows of the store --------------------------------------------------------

struct WindowRow {
  int64_t id = 0;
  ProcessRef process;
  DWORD thread = 0;
  std::string class_name;
  std::string title;
};

WindowRow ReadRow(const Statement& query) {
  WindowRow row;
  row.id = query.Int(0);
  row.process = {query.Int(1), query.Int(2)};
  row.thread = static_cast<DWORD>(query.Int(3));
  row.class_name = query.Text(4);
  auto title = query.Blob(5);
  row.title.assign(title.begin(), title.end());
  return row;
}

constexpr const char* kRowColumns = "SELECT id, pid, start, thread, class, title FROM windows ";

// The window behind a handle while its process lives.
std::optional<WindowRow> FindLiveWindow(HWND window) {
  int64_t id = IdOf(window);
  if (id == 0) return std::nullopt;
  auto query = Store::Get().Prepare(std::string(kRowColumns) + "WHERE id = ?");
  query.Bind(1, id);
  if (!query.Step()) return std::nullopt;
  WindowRow row = ReadRow(query);
  if (!IsAlive(row.process)) return std::nullopt;
  return row;
}

// The same, setting the platform's error for a handle that names no window.
std::optional<WindowRow> FindWindowOrFail(HWND window) {
  auto row = FindLiveWindow(window);
  if (!row) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return row;
}

// The live windows from the top of the z-order down. Windows of processes
// that died are dropped from the store, as the platform drops them with
// their process.
std::vector<WindowRow> LiveWindowsInZOrder() {
  auto& store = Store::Get();
  std::vector<WindowRow> live;
  std::vector<int64_t> dead;
  {
    auto query = store.Prepare(std::string(kRowColumns) + "ORDER BY z DESC");
    while (query.Step()) {
      WindowRow row = ReadRow(query);
      if (IsAlive(row.process))
        live.push_back(std::move(row));
      else
        dead.push_back(row.id);
    }
  }
  if (!dead.empty()) {
    store.Transaction([&] {
      for (int64_t id : dead) store.Prepare("DELETE FROM windows WHERE id = ?").Bind(1, id).Run();
    });
  }
  return live;
}

bool IsOwnWindow(const WindowRow& row) { return row.process.pid == SelfProcess().pid; }

// Takes a window of this process out of the store and forgets its procedure.
void RemoveWindow(HWND window, std::string_view result) {
  int64_t id = IdOf(window);
  auto& store = Store::Get();
  store.Transaction([&] {
    std::string title;
    auto query = store.Prepare("SELECT title FROM windows WHERE id = ?");
    query.Bind(1, id);
    if (query.Step()) {
      auto bytes = query.Blob(0);
      title.assign(bytes.begin(), bytes.end());
    }
    store.Prepare("DELETE FROM windows WHERE id = ?").Bind(1, id).Run();
    Journal("DestroyWindow", HandleText(window) + " \"" + title + "\"", result);
  });
  auto& self = This();
  std::lock_guard<std::mutex> lock(self.mutex);
  self.procedures.erase(id);
}

}  // namespace

bool FindWindowOwner(HWND window, WindowOwner* owner) {
  auto row = FindLiveWindow(window);
  if (!row) return false;
  if (owner) {
    owner->process = row->process;
    owner->thread = row->thread;
    owner->procedure = IsOwnWindow(*row) ? ProcedureOf(row->id) : nullptr;
  }
  return true;
}

}  // namespace kxhost

using kxhost::FindWindowOrFail;
using kxhost::Store;

WORD WINAPI RegisterClassA(const WNDCLASSA* window_class) {
  if (!window_class || !window_class->lpszClassName ||
      kxhost::IsAtom(window_class->lpszClassName) || !*window_class->lpszClassName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  auto& self = kxhost::This();
  std::lock_guard<std::mutex> lock(self.mutex);
  for (const auto& known : self.classes) {
    if (known.instance == window_class->hInstance &&
        kxhost::EqualsNoCase(known.name, window_class->lpszClassName)) {
      SetLastError(ERROR_CLASS_ALREADY_EXISTS);
      return 0;
    }
  }
  WORD atom = self.next_atom++;
  self.classes.push_back(
      {window_class->lpszClassName, window_class->lpfnWndProc, window_class->hInstance, atom});
  return atom;
}

HWND WINAPI CreateWindowExA(DWORD ex_style, LPCSTR class_name, LPCSTR title, DWORD style, int x,
                            int y, int width, int height, HWND parent, HMENU menu,
                            HINSTANCE instance, LPVOID param) {
  auto window_class = class_name ? kxhost::FindClass(class_name) : std::nullopt;
  if (!window_class) {
    SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
    return nullptr;
  }
  std::string title_bytes = kxhost::TitleOf(title);
  if (auto error = kxhost::TakeFault("CreateWindowExA", title_bytes)) {
    SetLastError(*error);
    return nullptr;
  }
  auto& store = Store::Get();
  HWND window = nullptr;
  store.Transaction([&] {
    auto self = kxhost::SelfProcess();
    store
        .Prepare(
            "INSERT INTO windows(pid, start, thread, class, title, style, z) "
            "VALUES(?, ?, ?, ?, ?, ?, (SELECT COALESCE(MAX(z), 0) + 1 FROM windows))")
        .Bind(1, self.pid)
        .Bind(2, self.start)
        .Bind(3, static_cast<int64_t>(GetCurrentThreadId()))
        .Bind(4, window_class->name)
        .BindBlob(5, title_bytes.data(), title_bytes.size())
        .Bind(6, static_cast<int64_t>(style))
        .Run();
    window = kxhost::HandleOf(sqlite3_last_insert_rowid(store.db()));
    kxhost::Journal("CreateWindowExA",
                    "class \"" + window_class->name + "\" title \"" + title_bytes + "\"",
                    kxhost::HandleText(window));
  });
  {
    auto& self = kxhost::This();
    std::lock_guard<std::mutex> lock(self.mutex);
    self.procedures[kxhost::IdOf(window)] = window_class->procedure;
  }
  // The window exists while its procedure handles WM_CREATE; -1 refuses it,
  // and the window goes without a WM_DESTROY (it was never made).
  CREATESTRUCTA create{
      param, instance,   menu,    parent, height, width, y, x, static_cast<LONG>(style),
      title, class_name, ex_style};
  if (window_class->procedure &&
      window_class->procedure(window, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create)) == -1) {
    kxhost::RemoveWindow(window, "refused by its procedure");
    return nullptr;
  }
  return window;
}

BOOL WINAPI DestroyWindow(HWND window) {
  auto row = FindWindowOrFail(window);
  if (!row) return FALSE;
  // Only the thread that made a window may destroy it.
  if (!kxhost::IsOwnWindow(*row) || row->thread != GetCurrentThreadId()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (auto error = kxhost::TakeFault("DestroyWindow", row->title)) {
    SetLastError(*error);
    return FALSE;
  }
  auto& self = kxhost::This();
  {
    std::lock_guard<std::mutex> lock(self.mutex);
    if (!self.being_destroyed.insert(row->id).second) return TRUE;  // from its own WM_DESTROY
  }
  if (WNDPROC procedure = kxhost::ProcedureOf(row->id)) procedure(window, WM_DESTROY, 0, 0);
  kxhost::RemoveWindow(window, "1");
  std::lock_guard<std::mutex> lock(self.mutex);
  self.being_destroyed.erase(row->id);
  return TRUE;
}

BOOL WINAPI IsWindow(HWND window) { return kxhost::FindLiveWindow(window) ? TRUE : FALSE; }

LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM, LPARAM) {
  if (message == WM_CLOSE) DestroyWindow(window);
  return 0;
}

BOOL WINAPI EnumWindows(WNDENUMPROC callback, LPARAM param) {
  if (auto error = kxhost::TakeFault("EnumWindows", "")) {
    SetLastError(*error);
    return FALSE;
  }
  // A snapshot: the callback may create or destroy windows.
  BOOL go_on = TRUE;
  for (const auto& row : kxhost::LiveWindowsInZOrder()) {
    go_on = callback(kxhost::HandleOf(row.id), param);
    if (!go_on) break;
  }
  return go_on;
}

int WINAPI GetWindowTextLengthA(HWND window) {
  auto row = FindWindowOrFail(window);
  return row ? static_cast<int>(row->title.size()) : 0;
}

int WINAPI GetWindowTextA(HWND window, LPSTR text, int size) {
  if (!text || size <= 0) return 0;
  text[0] = '\0';
  auto row = FindWindowOrFail(window);
  if (!row) return 0;
  size_t count = std::min(row->title.size(), static_cast<size_t>(size) - 1);
  row->title.copy(text, count);
  text[count] = '\0';
  return static_cast<int>(count);
}

BOOL WINAPI SetWindowTextA(HWND window, LPCSTR text) {
  auto row = FindWindowOrFail(window);
  if (!row) return FALSE;
  std::string title = kxhost::TitleOf(text);
  if (auto error = kxhost::TakeFault("SetWindowTextA", title)) {
    SetLastError(*error);
    return FALSE;
  }
  auto& store = Store::Get();
  store.Transaction([&] {
    store.Prepare("UPDATE windows SET title = ? WHERE id = ?")
        .BindBlob(1, title.data(), title.size())
        .Bind(2, row->id)
        .Run();
    kxhost::Journal("SetWindowTextA", kxhost::HandleText(window) + " \"" + title + "\"", "1");
  });
  return TRUE;
}

DWORD WINAPI GetWindowThreadProcessId(HWND window, LPDWORD process_id) {
  auto row = FindWindowOrFail(window);
  if (!row) return 0;
  if (process_id) *process_id = static_cast<DWORD>(row->process.pid);
  return row->thread;
}

HWND WINAPI FindWindowA(LPCSTR class_name, LPCSTR title) {
  std::optional<std::string> wanted_class;
  if (class_name) {
    if (kxhost::IsAtom(class_name)) {
      auto known = kxhost::FindClass(class_name);
      if (!known) return nullptr;
      wanted_class = known->name;
    } else {
      wanted_class = class_name;
    }
  }
  for (const auto& row : kxhost::LiveWindowsInZOrder()) {
    if (wanted_class && !kxhost::EqualsNoCase(row.class_name, *wanted_class)) continue;
    if (title && !kxhost::EqualsNoCase(row.title, title)) continue;
    return kxhost::HandleOf(row.id);
  }
  return nullptr;
}
