// The message queue of each thread: posted messages are kept in the store,
// so that any process of the machine can post to a window of a thread, or
// to the thread itself, and the thread takes them in the order posted.
// A thread has a queue once it has looked at it or owns a window, as the
// platform gives a thread its queue on its first use of the window system.
#include <chrono>
#include <cstdio>

#include "host.h"

namespace kxhost {
namespace {

KX_HOST_SCHEMA("message_queues",
               "CREATE TABLE IF NOT EXISTS message_queues("
               " pid INTEGER NOT NULL,"
               " start INTEGER NOT NULL,"
               " thread INTEGER NOT NULL,"
               " PRIMARY KEY(pid, start, thread))");
KX_HOST_SCHEMA("messages",
               "CREATE TABLE IF NOT EXISTS messages("
               " seq INTEGER PRIMARY KEY AUTOINCREMENT,"
               " pid INTEGER NOT NULL,"
               " start INTEGER NOT NULL,"
               " thread INTEGER NOT NULL,"
               " window INTEGER NOT NULL,"
               " message INTEGER NOT NULL,"
               " wparam INTEGER NOT NULL,"
               " lparam INTEGER NOT NULL,"
               " time INTEGER NOT NULL)");

// How often GetMessageA looks at the queue while it is empty.
constexpr DWORD kPollMilliseconds = 10;

// The window value that asks PeekMessageA for thread messages only.
const HWND kThreadMessagesOnly = reinterpret_cast<HWND>(static_cast<intptr_t>(-1));

// The quit request of PostQuitMessage: not a posted message but a state of
// the thread's queue, seen once the posted messages are taken.
thread_local bool quit_requested = false;
thread_local int quit_code = 0;

// The store generation in which this thread's queue was last registered.
thread_local uint64_t queue_generation = 0;

struct QueueOwner {
  ProcessRef process;
  DWORD thread = 0;
};

QueueOwner ThisThread() { return {SelfProcess(), GetCurrentThreadId()}; }

std::string Hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "%#llx", static_cast<unsigned long long>(value));
  return text;
}

std::string Describe(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  return "window " + Hex(reinterpret_cast<uintptr_t>(window)) + " message " + Hex(message) +
         " wParam " + Hex(wparam) + " lParam " + Hex(static_cast<uint64_t>(lparam));
}

void RegisterThisQueue() {
  if (queue_generation == Store::Generation()) return;
  auto& store = Store::Get();
  QueueOwner self = ThisThread();
  store.Transaction([&] {
    store.Prepare("INSERT OR IGNORE INTO message_queues(pid, start, thread) VALUES(?, ?, ?)")
        .Bind(1, self.process.pid)
        .Bind(2, self.process.start)
        .Bind(3, static_cast<int64_t>(self.thread))
        .Run();
  });
  queue_generation = Store::Generation();
}

// Queues and messages die with their process.
void DropQueuesOfEndedProcesses(Store& store) {
  std::vector<ProcessRef> ended;
  {
    auto owners = store.Prepare(
        "SELECT pid, start FROM message_queues UNION SELECT pid, start FROM messages");
    while (owners.Step()) {
      ProcessRef owner{owners.Int(0), owners.Int(1)};
      if (!IsAlive(owner)) ended.push_back(owner);
    }
  }
  for (const auto& owner : ended) {
    for (const char* table : {"message_queues", "messages"})
      store.Prepare(std::string("DELETE FROM ") + table + " WHERE pid = ? AND start = ?")
          .Bind(1, owner.pid)
          .Bind(2, owner.start)
          .Run();
  }
}

// The queue of thread `thread`, when that thread has one in a live process.
std::optional<QueueOwner> FindQueue(Store& store, DWORD thread) {
  auto query = store.Prepare("SELECT pid, start FROM message_queues WHERE thread = ?");
  query.Bind(1, static_cast<int64_t>(thread));
  while (query.Step()) {
    ProcessRef process{query.Int(0), query.Int(1)};
    if (IsAlive(process)) return QueueOwner{process, thread};
  }
  return std::nullopt;
}

BOOL Post(const char* api, const QueueOwner& to, HWND window, UINT message, WPARAM wparam,
          LPARAM lparam) {
  std::string detail = Describe(window, message, wparam, lparam);
  if (auto fault = TakeFault(api, detail)) {
    SetLastError(*fault);
    return FALSE;
  }
  auto& store = Store::Get();
  store.Transaction([&] {
    DropQueuesOfEndedProcesses(store);
    store
        .Prepare(
            "INSERT INTO messages(pid, start, thread, window, message, wparam, lparam, time) "
            "VALUES(?, ?, ?, ?, ?, ?, ?, ?)")
        .Bind(1, to.process.pid)
        .Bind(2, to.process.start)
        .Bind(3, static_cast<int64_t>(to.thread))
        .Bind(4, static_cast<int64_t>(reinterpret_cast<uintptr_t>(window)))
        .Bind(5, static_cast<int64_t>(message))
        .Bind(6, static_cast<int64_t>(wparam))
        .Bind(7, static_cast<int64_t>(lparam))
        .Bind(8, static_cast<int64_t>(GetTickCount()))
        .Run();
    Journal(api, detail, "thread " + std::to_string(to.thread));
  });
  return TRUE;
}

// A window filter names no window, thread messages only, or a live window;
// else the platform's error is set.
bool IsFilterWindow(HWND window) {
  if (!window || window == kThreadMessagesOnly || FindWindowOwner(window, nullptr)) return true;
  SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return false;
}

// Takes (or, without PM_REMOVE, looks at) the first posted message of this
// thread's queue that the window and range filters let through.
bool TakePosted(MSG* msg, HWND window, UINT filter_min, UINT filter_max, bool remove) {
  auto& store = Store::Get();
  QueueOwner self = ThisThread();
  std::string sql =
      "SELECT seq, window, message, wparam, lparam, time FROM messages "
      "WHERE pid = ? AND start = ? AND thread = ?";
  if (window == kThreadMessagesOnly)
    sql += " AND window = 0";
  else if (window)
    sql += " AND window = ?5";
  // The platform always lets WM_QUIT through the range filter.
  if (filter_min || filter_max) sql += " AND (message BETWEEN ?6 AND ?7 OR message = ?8)";
  sql += " AND seq > ?4 ORDER BY seq LIMIT 1";
  for (int64_t after = 0;;) {
    int64_t seq = 0;
    {
      auto query = store.Prepare(sql);
      query.Bind(1, self.process.pid).Bind(2, self.process.start);
      query.Bind(3, static_cast<int64_t>(self.thread)).Bind(4, after);
      query.Bind(5, static_cast<int64_t>(reinterpret_cast<uintptr_t>(window)));
      query.Bind(6, static_cast<int64_t>(filter_min)).Bind(7, static_cast<int64_t>(filter_max));
      query.Bind(8, static_cast<int64_t>(WM_QUIT));
      if (!query.Step()) return false;
      seq = query.Int(0);
      msg->hwnd = reinterpret_cast<HWND>(static_cast<uintptr_t>(query.Int(1)));
      msg->message = static_cast<UINT>(query.Int(2));
      msg->wParam = static_cast<WPARAM>(query.Int(3));
      msg->lParam = static_cast<LPARAM>(query.Int(4));
      msg->time = static_cast<DWORD>(query.Int(5));
      msg->pt = {0, 0};
    }
    // Messages for a window destroyed since they were posted went with it.
    bool window_gone = msg->hwnd && !FindWindowOwner(msg->hwnd, nullptr);
    if (remove || window_gone)
      store.Transaction(
          [&] { store.Prepare("DELETE FROM messages WHERE seq = ?").Bind(1, seq).Run(); });
    if (!window_gone) return true;
    after = seq;
  }
}

// The WM_QUIT of PostQuitMessage, once no posted message is left to take.
bool TakeQuit(MSG* msg, HWND window, bool remove) {
  if (!quit_requested || (window && window != kThreadMessagesOnly)) return false;
  *msg = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(quit_code), 0, GetTickCount(), {0, 0}};
  if (remove) quit_requested = false;
  return true;
}

}  // namespace
}  // namespace kxhost

BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  // No window: a message to the calling thread itself, as the platform does.
  if (!window) return PostThreadMessageA(GetCurrentThreadId(), message, wparam, lparam);
  kxhost::WindowOwner owner;
  if (!kxhost::FindWindowOwner(window, &owner)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  return kxhost::Post("PostMessageA", {owner.process, owner.thread}, window, message, wparam,
                      lparam);
}

BOOL WINAPI PostThreadMessageA(DWORD thread, UINT message, WPARAM wparam, LPARAM lparam) {
  std::optional<kxhost::QueueOwner> queue;
  if (thread == GetCurrentThreadId()) {
    kxhost::RegisterThisQueue();
    queue = kxhost::ThisThread();
  } else {
    queue = kxhost::FindQueue(kxhost::Store::Get(), thread);
  }
  if (!queue) {
    SetLastError(ERROR_INVALID_THREAD_ID);
    return FALSE;
  }
  return kxhost::Post("PostThreadMessageA", *queue, nullptr, message, wparam, lparam);
}

BOOL WINAPI PeekMessageA(LPMSG msg, HWND window, UINT filter_min, UINT filter_max, UINT remove) {
  if (!msg) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!kxhost::IsFilterWindow(window)) return FALSE;
  kxhost::RegisterThisQueue();
  bool take = (remove & PM_REMOVE) != 0;
  return kxhost::TakePosted(msg, window, filter_min, filter_max, take) ||
         kxhost::TakeQuit(msg, window, take);
}

BOOL WINAPI GetMessageA(LPMSG msg, HWND window, UINT filter_min, UINT filter_max) {
  if (!msg) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  for (;;) {
    if (!kxhost::IsFilterWindow(window)) return -1;
    if (PeekMessageA(msg, window, filter_min, filter_max, PM_REMOVE))
      return msg->message == WM_QUIT ? FALSE : TRUE;
    Sleep(kxhost::kPollMilliseconds);
  }
}

// The host has no keyboard layout: a key message is reported as translated,
// as the platform reports it, and no character message is made of it.
BOOL WINAPI TranslateMessage(const MSG* msg) {
  if (!msg) return FALSE;
  switch (msg->message) {
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP:
      return TRUE;
    default:
      return FALSE;
  }
}

LRESULT WINAPI DispatchMessageA(const MSG* msg) {
  if (!msg) return 0;
  std::string detail = kxhost::Describe(msg->hwnd, msg->message, msg->wParam, msg->lParam);
  // A thread message has no procedure to go to.
  if (!msg->hwnd) {
    kxhost::Journal("DispatchMessageA", detail, "no window");
    return 0;
  }
  kxhost::WindowOwner owner;
  if (!kxhost::FindWindowOwner(msg->hwnd, &owner)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  // The procedure of a window of another process cannot be called from here.
  if (!owner.procedure) {
    SetLastError(ERROR_MESSAGE_SYNC_ONLY);
    return 0;
  }
  kxhost::Journal("DispatchMessageA", detail);
  return owner.procedure(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

void WINAPI PostQuitMessage(int exit_code) {
  kxhost::quit_requested = true;
  kxhost::quit_code = exit_code;
}
