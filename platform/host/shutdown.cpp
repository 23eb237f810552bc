// The restart request: journaled and recorded; nothing restarts.
#include <unistd.h>

#include <chrono>

#include "host.h"

namespace kxhost {

KX_HOST_SCHEMA("restart_requests",
               "CREATE TABLE IF NOT EXISTS restart_requests("
               " id INTEGER PRIMARY KEY AUTOINCREMENT,"
               " pid INTEGER NOT NULL,"
               " flags INTEGER NOT NULL,"
               " time_us INTEGER NOT NULL)");

std::vector<RestartRequest> RestartRequests() {
  auto query =
      Store::Get().Prepare("SELECT id, pid, flags, time_us FROM restart_requests ORDER BY id");
  std::vector<RestartRequest> requests;
  while (query.Step())
    requests.push_back({query.Int(0), query.Int(1), static_cast<UINT>(query.Int(2)), query.Int(3)});
  return requests;
}

}  // namespace kxhost

BOOL WINAPI ExitWindowsEx(UINT flags, DWORD /*reserved*/) {
  std::string detail = std::to_string(flags);
  if (auto error = kxhost::TakeFault("ExitWindowsEx", detail)) {
    SetLastError(*error);
    return FALSE;
  }
  auto& store = kxhost::Store::Get();
  int64_t now = std::chrono::duration_cast<std::chrono::microseconds>(
                    std::chrono::system_clock::now().time_since_epoch())
                    .count();
  store.Transaction([&] {
    store.Prepare("INSERT INTO restart_requests(pid, flags, time_us) VALUES(?, ?, ?)")
        .Bind(1, static_cast<int64_t>(getpid()))
        .Bind(2, static_cast<int64_t>(flags))
        .Bind(3, now)
        .Run();
    kxhost::Journal("ExitWindowsEx", detail, "1");
  });
  return TRUE;
}
