// Events of the machine, named or not: kept in the store so that every
// process of the machine sees the same ones. A handle is one hold on an
// event; the event exists while some hold is left. Holds of a process that
// ended are released by whoever next looks at the events, as the kernel
// releases the handles of a process that ends.
#include <chrono>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <set>

#include "host.h"

namespace kxhost {
namespace {

// Names are compared as the platform compares object names: with letter
// case (BINARY collation). NULL names the unnamed events.
KX_HOST_SCHEMA("events",
               "CREATE TABLE IF NOT EXISTS events("
               " id INTEGER PRIMARY KEY AUTOINCREMENT,"
               " name TEXT UNIQUE,"
               " manual_reset INTEGER NOT NULL,"
               " signalled INTEGER NOT NULL)");
KX_HOST_SCHEMA("event_holds",
               "CREATE TABLE IF NOT EXISTS event_holds("
               " id INTEGER PRIMARY KEY AUTOINCREMENT,"
               " event INTEGER NOT NULL,"
               " pid INTEGER NOT NULL,"
               " start INTEGER NOT NULL)");

// How often a wait looks at the store: short enough that a release is seen
// at once, long enough that a waiting process costs next to nothing.
constexpr std::chrono::milliseconds kPollInterval{5};
// A waiting process also releases the holds of ended processes, on the
// first look and then once in so many (the holders' liveness is the dearer
// part of a look).
constexpr int kLooksPerHolderSweep = 20;

std::string Quoted(const std::string& name) {
  return name.empty() ? std::string("(unnamed)") : "\"" + name + "\"";
}

// Deletes the events nobody holds any more.
void DeleteUnheldEvents(Store& store) {
  store.Exec(
      "DELETE FROM events WHERE NOT EXISTS "
      "(SELECT 1 FROM event_holds WHERE event_holds.event = events.id)");
}

// Deletes the holds that `where` selects (binding `bind`), with the events
// only they held, journalling each as closed with `result`.
void ReleaseHolds(Store& store, const std::string& where,
                  const std::function<void(Statement&)>& bind, const std::string& result) {
  store.Transaction([&] {
    auto names = store.Prepare(
        "SELECT COALESCE(events.name, '') FROM event_holds JOIN events "
        "ON events.id = event_holds.event WHERE " +
        where);
    bind(names);
    while (names.Step()) Journal("CloseHandle", Quoted(names.Text(0)), result);
    auto remove = store.Prepare("DELETE FROM event_holds WHERE " + where);
    bind(remove);
    remove.Run();
    DeleteUnheldEvents(store);
  });
}

// Releases the holds of processes that ended, as the kernel closes their
// handles.
void ReleaseHoldsOfEndedProcesses(Store& store) {
  std::vector<ProcessRef> ended;
  {
    auto holders = store.Prepare("SELECT DISTINCT pid, start FROM event_holds");
    while (holders.Step()) {
      ProcessRef holder{holders.Int(0), holders.Int(1)};
      if (!IsAlive(holder)) ended.push_back(holder);
    }
  }
  for (const auto& holder : ended)
    ReleaseHolds(
        store, "pid = ? AND start = ?",
        [&](Statement& query) { query.Bind(1, holder.pid).Bind(2, holder.start); },
        "released: process " + std::to_string(holder.pid) + " ended");
}

// One hold on an event, behind a HANDLE.
class EventObject : public KernelObject {
 public:
  EventObject(int64_t hold, int64_t event, std::string name, DWORD access);
  ~EventObject() override;

  DWORD Wait(DWORD milliseconds) override;
  BOOL SetState(const char* api, bool signalled);
  const std::string& name() const { return name_; }

  // Gives the hold up, once; `result` says why in the journal.
  void Release(const std::string& result);

 private:
  // Takes the signal if the event is signalled: an automatic-reset event
  // falls back. Empty when the event is gone from the store.
  std::optional<bool> TakeSignal(bool sweep_holders);
  // False when the store this handle was taken in is no longer the process's.
  bool SameMachine() const { return MachineDir() == machine_; }

  int64_t hold_;
  int64_t event_;
  std::string name_;
  DWORD access_;
  std::filesystem::path machine_;
  bool released_ = false;
};

// The event handles of this process, so that a clean exit closes them as
// the platform does. Never destroyed: it is used while the process ends.
struct LiveEvents {
  std::mutex mutex;
  std::set<EventObject*> objects;
};
LiveEvents& Live() {
  static auto* live = new LiveEvents;
  return *live;
}

void ReleaseHoldsAtExit() {
  auto& live = Live();
  std::lock_guard<std::mutex> lock(live.mutex);
  for (EventObject* object : live.objects) object->Release("released at exit");
}

// Registered once the store and the handle table exist, so that it runs
// before either is destroyed.
void ReleaseHoldsAtExitOnce() {
  static std::once_flag registered;
  std::call_once(registered, [] { std::atexit(ReleaseHoldsAtExit); });
}

EventObject::EventObject(int64_t hold, int64_t event, std::string name, DWORD access)
    : hold_(hold), event_(event), name_(std::move(name)), access_(access), machine_(MachineDir()) {
  auto& live = Live();
  std::lock_guard<std::mutex> lock(live.mutex);
  live.objects.insert(this);
}

EventObject::~EventObject() {
  DWORD last_error = GetLastError();
  Release("");
  SetLastError(last_error);
  auto& live = Live();
  std::lock_guard<std::mutex> lock(live.mutex);
  live.objects.erase(this);
}

void EventObject::Release(const std::string& result) {
  // A handle of a machine the process has left has nothing to release here.
  if (released_ || !SameMachine()) return;
  released_ = true;
  try {
    ReleaseHolds(
        Store::Get(), "event_holds.id = ?", [&](Statement& query) { query.Bind(1, hold_); },
        result);
  } catch (...) {
    // A store that fails now leaves the hold to the clean-up of ended holders.
  }
}

std::optional<bool> EventObject::TakeSignal(bool sweep_holders) {
  auto& store = Store::Get();
  if (sweep_holders) ReleaseHoldsOfEndedProcesses(store);
  // Look without the write lock first: most looks find the event unsignalled.
  // (The statement ends before the transaction begins, so that no old read
  // snapshot stands in the way of the write.)
  bool signalled = false, manual_reset = false;
  {
    auto state = store.Prepare("SELECT signalled, manual_reset FROM events WHERE id = ?");
    state.Bind(1, event_);
    if (!state.Step()) return std::nullopt;
    signalled = state.Int(0) != 0;
    manual_reset = state.Int(1) != 0;
  }
  if (!signalled || manual_reset) return signalled;
  bool taken = false;
  store.Transaction([&] {
    store.Prepare("UPDATE events SET signalled = 0 WHERE id = ? AND signalled = 1")
        .Bind(1, event_)
        .Run();
    taken = sqlite3_changes(store.db()) == 1;
  });
  return taken;  // another waiter may have taken it first
}

DWORD EventObject::Wait(DWORD milliseconds) {
  if (!(access_ & SYNCHRONIZE)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return WAIT_FAILED;
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  for (int look = 0;; ++look) {
    auto signal = SameMachine() ? TakeSignal(look % kLooksPerHolderSweep == 0) : std::nullopt;
    if (!signal) {
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
    if (*signal) {
      Journal("WaitForSingleObject", Quoted(name_), "WAIT_OBJECT_0");
      return WAIT_OBJECT_0;
    }
    auto now = std::chrono::steady_clock::now();
    if (milliseconds != INFINITE && now >= deadline) return WAIT_TIMEOUT;
    auto pause = kPollInterval;
    if (milliseconds != INFINITE)
      pause = std::min(pause, std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - now + std::chrono::microseconds(999)));
    Sleep(static_cast<DWORD>(pause.count()));
  }
}

BOOL EventObject::SetState(const char* api, bool signalled) {
  if (!(access_ & EVENT_MODIFY_STATE)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (auto fault = TakeFault(api, name_)) {
    SetLastError(*fault);
    return FALSE;
  }
  if (!SameMachine()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  auto& store = Store::Get();
  store.Transaction([&] {
    ReleaseHoldsOfEndedProcesses(store);
    store.Prepare("UPDATE events SET signalled = ? WHERE id = ?")
        .Bind(1, signalled ? 1 : 0)
        .Bind(2, event_)
        .Run();
    Journal(api, Quoted(name_));
  });
  return TRUE;
}

// Adds this process's hold on event `event` and gives the handle.
HANDLE HoldEvent(Store& store, int64_t event, const std::string& name, DWORD access) {
  ProcessRef self = SelfProcess();
  store.Prepare("INSERT INTO event_holds(event, pid, start) VALUES(?, ?, ?)")
      .Bind(1, event)
      .Bind(2, self.pid)
      .Bind(3, self.start)
      .Run();
  HANDLE handle = AddHandle(
      std::make_unique<EventObject>(sqlite3_last_insert_rowid(store.db()), event, name, access));
  ReleaseHoldsAtExitOnce();
  return handle;
}

std::optional<int64_t> FindEvent(Store& store, const std::string& name) {
  auto query = store.Prepare("SELECT id FROM events WHERE name = ?");
  query.Bind(1, name);
  if (!query.Step()) return std::nullopt;
  return query.Int(0);
}

EventObject* FindEventHandle(HANDLE handle) {
  auto* event = FindHandleAs<EventObject>(handle);
  if (!event) SetLastError(ERROR_INVALID_HANDLE);
  return event;
}

}  // namespace
}  // namespace kxhost

using kxhost::Store;

HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manual_reset, BOOL initial_state,
                           LPCSTR name) {
  // An empty name makes an unnamed event, as on the platform.
  std::string event_name = name ? name : "";
  if (auto fault = kxhost::TakeFault("CreateEventA", event_name)) {
    SetLastError(*fault);
    return nullptr;
  }
  auto& store = Store::Get();
  HANDLE handle = nullptr;
  bool existed = false;
  store.Transaction([&] {
    kxhost::ReleaseHoldsOfEndedProcesses(store);
    std::optional<int64_t> event;
    if (!event_name.empty()) event = kxhost::FindEvent(store, event_name);
    existed = event.has_value();
    if (!existed) {
      auto insert =
          store.Prepare("INSERT INTO events(name, manual_reset, signalled) VALUES(?, ?, ?)");
      if (event_name.empty())
        insert.BindNull(1);
      else
        insert.Bind(1, event_name);
      insert.Bind(2, manual_reset ? 1 : 0).Bind(3, initial_state ? 1 : 0).Run();
      event = sqlite3_last_insert_rowid(store.db());
    }
    handle = kxhost::HoldEvent(store, *event, event_name, EVENT_ALL_ACCESS);
    kxhost::Journal("CreateEventA",
                    kxhost::Quoted(event_name) + (manual_reset ? " manual reset" : " auto reset") +
                        (initial_state ? ", signalled" : ", not signalled"),
                    existed ? "opened existing (183)" : "created");
  });
  // The existing event keeps its reset kind and state.
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}

HANDLE WINAPI OpenEventA(DWORD access, BOOL, LPCSTR name) {
  if (!name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::string event_name = name;
  if (auto fault = kxhost::TakeFault("OpenEventA", event_name)) {
    SetLastError(*fault);
    return nullptr;
  }
  auto& store = Store::Get();
  HANDLE handle = nullptr;
  store.Transaction([&] {
    kxhost::ReleaseHoldsOfEndedProcesses(store);
    std::optional<int64_t> event;
    if (!event_name.empty()) event = kxhost::FindEvent(store, event_name);
    if (!event) return;
    handle = kxhost::HoldEvent(store, *event, event_name, access);
    kxhost::Journal("OpenEventA", kxhost::Quoted(event_name));
  });
  if (!handle) SetLastError(ERROR_FILE_NOT_FOUND);
  return handle;
}

BOOL WINAPI SetEvent(HANDLE handle) {
  auto* event = kxhost::FindEventHandle(handle);
  return event ? event->SetState("SetEvent", true) : FALSE;
}

BOOL WINAPI ResetEvent(HANDLE handle) {
  auto* event = kxhost::FindEventHandle(handle);
  return event ? event->SetState("ResetEvent", false) : FALSE;
}

DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  auto* object = kxhost::FindHandle(handle);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  auto* event = dynamic_cast<kxhost::EventObject*>(object);
  if (auto fault = kxhost::TakeFault("WaitForSingleObject", event ? event->name() : "")) {
    SetLastError(*fault);
    return WAIT_FAILED;
  }
  return object->Wait(milliseconds);
}
