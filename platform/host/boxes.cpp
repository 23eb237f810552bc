// Message boxes: recorded in the store and the journal, written to standard
// error, and answered OK at once or after the delay that the machine sets
// (setting "box_delay_ms"), so that a test can hold a box open.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "host.h"

namespace kxhost {
namespace {

KX_HOST_SCHEMA("boxes",
               "CREATE TABLE IF NOT EXISTS boxes("
               " id INTEGER PRIMARY KEY AUTOINCREMENT,"
               " pid INTEGER NOT NULL,"
               " owner INTEGER NOT NULL,"
               " text BLOB NOT NULL,"
               " caption BLOB NOT NULL,"
               " style INTEGER NOT NULL,"
               " result INTEGER NOT NULL DEFAULT 0,"
               " shown_us INTEGER NOT NULL,"
               " closed_us INTEGER NOT NULL DEFAULT 0)");

int64_t NowMicroseconds() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string BlobText(const Statement& query, int column) {
  auto bytes = query.Blob(column);
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace

std::vector<RecordedBox> RecordedBoxes() {
  auto query = Store::Get().Prepare(
      "SELECT id, pid, owner, text, caption, style, result, shown_us, closed_us FROM boxes"
      " ORDER BY id");
  std::vector<RecordedBox> boxes;
  while (query.Step()) {
    RecordedBox box;
    box.id = query.Int(0);
    box.pid = query.Int(1);
    box.owner = static_cast<uintptr_t>(query.Int(2));
    box.text = BlobText(query, 3);
    box.caption = BlobText(query, 4);
    box.style = static_cast<UINT>(query.Int(5));
    box.result = static_cast<int>(query.Int(6));
    box.shown_us = query.Int(7);
    box.closed_us = query.Int(8);
    boxes.push_back(std::move(box));
  }
  return boxes;
}

}  // namespace kxhost

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  // The platform titles a box without a caption "Error".
  std::string body = text ? text : "";
  std::string title = caption ? caption : "Error";
  if (auto error = kxhost::TakeFault("MessageBoxA", body)) {
    SetLastError(*error);
    return 0;
  }
  kxhost::WindowOwner window;
  if (owner && !kxhost::FindWindowOwner(owner, &window)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  auto& store = kxhost::Store::Get();
  int64_t id = 0;
  char style[16];
  std::snprintf(style, sizeof style, "0x%X", type);
  store.Transaction([&] {
    store
        .Prepare(
            "INSERT INTO boxes(pid, owner, text, caption, style, shown_us)"
            " VALUES(?, ?, ?, ?, ?, ?)")
        .Bind(1, static_cast<int64_t>(getpid()))
        .Bind(2, static_cast<int64_t>(reinterpret_cast<uintptr_t>(owner)))
        .BindBlob(3, body.data(), body.size())
        .BindBlob(4, title.data(), title.size())
        .Bind(5, static_cast<int64_t>(type))
        .Bind(6, kxhost::NowMicroseconds())
        .Run();
    id = sqlite3_last_insert_rowid(store.db());
    kxhost::Journal("MessageBoxA", title + ": " + body + " (style " + style + ")", "1");
  });
  std::fprintf(stderr, "[message box, owner %p, style %s] %s: %s\n", static_cast<void*>(owner),
               style, title.c_str(), body.c_str());
  auto delay = store.Setting("box_delay_ms");
  if (delay) Sleep(static_cast<DWORD>(std::strtoul(delay->c_str(), nullptr, 10)));
  store.Transaction([&] {
    store.Prepare("UPDATE boxes SET result = ?, closed_us = ? WHERE id = ?")
        .Bind(1, static_cast<int64_t>(IDOK))
        .Bind(2, kxhost::NowMicroseconds())
        .Bind(3, id)
        .Run();
  });
  return IDOK;
}
