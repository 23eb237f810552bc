// The journal: every call that changes the machine or shows something, with
// the process that made it and the time, in the order the store took them.
#include <sys/time.h>
#include <unistd.h>

#include <fstream>

#include "host.h"

namespace kxhost {
namespace {

std::string& Label() {
  static std::string label;
  return label;
}

int64_t NowMicroseconds() {
  timeval now{};
  gettimeofday(&now, nullptr);
  return static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_usec;
}

}  // namespace

KX_HOST_SCHEMA("journal",
               "CREATE TABLE IF NOT EXISTS journal("
               " seq INTEGER PRIMARY KEY AUTOINCREMENT,"
               " time_us INTEGER NOT NULL,"
               " pid INTEGER NOT NULL,"
               " program TEXT NOT NULL,"
               " op TEXT NOT NULL,"
               " detail TEXT NOT NULL,"
               " result TEXT NOT NULL)");

void SetProcessLabel(std::string_view label) { Label() = std::string(label); }

std::string ProcessLabel() {
  if (Label().empty()) {
    std::ifstream comm("/proc/self/comm");
    std::getline(comm, Label());
  }
  return Label();
}

void Journal(std::string_view op, std::string_view detail, std::string_view result) {
  auto& store = Store::Get();
  store.Transaction([&] {
    store
        .Prepare(
            "INSERT INTO journal(time_us, pid, program, op, detail, result) "
            "VALUES(?, ?, ?, ?, ?, ?)")
        .Bind(1, NowMicroseconds())
        .Bind(2, static_cast<int64_t>(getpid()))
        .Bind(3, ProcessLabel())
        .Bind(4, op)
        .Bind(5, detail)
        .Bind(6, result)
        .Run();
  });
}

std::vector<JournalEntry> ReadJournal(int64_t after_seq) {
  auto query = Store::Get().Prepare(
      "SELECT seq, time_us, pid, program, op, detail, result FROM journal WHERE seq > ? "
      "ORDER BY seq");
  query.Bind(1, after_seq);
  std::vector<JournalEntry> entries;
  while (query.Step())
    entries.push_back({query.Int(0), query.Int(1), query.Int(2), query.Text(3), query.Text(4),
                       query.Text(5), query.Text(6)});
  return entries;
}

}  // namespace kxhost
