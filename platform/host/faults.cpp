// Faults armed in the store: how tests make any operation of any process of
// the machine fail with a chosen error.
#include <string>

#include "host.h"

namespace kxhost {

KX_HOST_SCHEMA("faults",
               "CREATE TABLE IF NOT EXISTS faults("
               " id INTEGER PRIMARY KEY AUTOINCREMENT,"
               " op TEXT NOT NULL COLLATE NOCASE,"
               " error INTEGER NOT NULL,"
               " match TEXT NOT NULL,"
               " remaining INTEGER NOT NULL)");

bool PatternMatches(std::string_view pattern, std::string_view text) {
  // Iterative glob with backtracking to the last star.
  size_t p = 0, t = 0, star = std::string_view::npos, mark = 0;
  auto fold = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
  while (t < text.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || fold(pattern[p]) == fold(text[t]))) {
      ++p;
      ++t;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      mark = t;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      t = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

void ArmFault(std::string_view op, uint32_t error, std::string_view match, int count) {
  auto& store = Store::Get();
  store.Transaction([&] {
    store.Prepare("INSERT INTO faults(op, error, match, remaining) VALUES(?, ?, ?, ?)")
        .Bind(1, op)
        .Bind(2, static_cast<int64_t>(error))
        .Bind(3, match)
        .Bind(4, count)
        .Run();
  });
}

void ClearFaults() {
  auto& store = Store::Get();
  store.Transaction([&] { store.Exec("DELETE FROM faults"); });
}

std::optional<uint32_t> TakeFault(std::string_view op, std::string_view argument) {
  auto& store = Store::Get();
  std::optional<uint32_t> error;
  // Most calls meet no fault: look before taking the write lock. The look
  // ends before the transaction begins: a statement left open would keep
  // this connection on an old snapshot that can never take the write lock.
  {
    auto armed = store.Prepare("SELECT 1 FROM faults WHERE op = ? AND remaining != 0 LIMIT 1");
    armed.Bind(1, op);
    if (!armed.Step()) return std::nullopt;
  }
  store.Transaction([&] {
    auto query = store.Prepare(
        "SELECT id, error, match, remaining FROM faults WHERE op = ? AND remaining != 0 "
        "ORDER BY id");
    query.Bind(1, op);
    while (query.Step()) {
      if (!PatternMatches(query.Text(2), argument)) continue;
      error = static_cast<uint32_t>(query.Int(1));
      if (query.Int(3) > 0)
        store.Prepare("UPDATE faults SET remaining = remaining - 1 WHERE id = ?")
            .Bind(1, query.Int(0))
            .Run();
      break;
    }
  });
  if (error)
    Journal("fault", std::string(op) + " " + std::string(argument), std::to_string(*error));
  return error;
}

}  // namespace kxhost
