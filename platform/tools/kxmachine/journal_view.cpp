// The journal as a timeline: one column a process, a mark where it acted
// and a line while it lives between its first and last entry; the call is
// written after the columns, so that long details do not break the layout.
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>

#include "host.h"
#include "kxmachine.h"

namespace kxmachine {
namespace {

struct Column {
  char letter;
  std::string program;
  int64_t pid;
  int64_t first_seq;
  int64_t last_seq;
};

std::vector<kxhost::JournalEntry> EntriesToShow(bool all) {
  int64_t after = 0;
  if (!all) {
    if (auto created = kxhost::Store::Get().Setting(kCreatedSeqSetting))
      after = std::stoll(*created);
  }
  return kxhost::ReadJournal(after);
}

std::string CallText(const kxhost::JournalEntry& entry) {
  std::string text = entry.op;
  if (!entry.detail.empty()) text += " " + Printable(entry.detail);
  if (!entry.result.empty()) text += "  -> " + Printable(entry.result);
  return text;
}

std::string ClockText(int64_t time_us) {
  time_t seconds = static_cast<time_t>(time_us / 1000000);
  tm utc{};
  gmtime_r(&seconds, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &utc);
  return text;
}

}  // namespace

int ShowJournal(bool all, bool plain) {
  auto entries = EntriesToShow(all);
  if (entries.empty()) {
    std::printf("(the journal is empty)\n");
    return 0;
  }
  const int64_t start_us = entries.front().time_us;

  if (plain) {
    for (const auto& entry : entries)
      std::printf("%+9.3fs  %-14s %7lld  %s\n", (entry.time_us - start_us) / 1e6,
                  entry.program.c_str(), static_cast<long long>(entry.pid),
                  CallText(entry).c_str());
    return 0;
  }

  // Columns in the order the processes first appear.
  std::vector<Column> columns;
  std::map<int64_t, size_t> column_of_pid;
  for (const auto& entry : entries) {
    auto found = column_of_pid.find(entry.pid);
    if (found == column_of_pid.end()) {
      char letter = columns.size() < 26 ? static_cast<char>('A' + columns.size())
                                        : static_cast<char>('a' + (columns.size() - 26) % 26);
      column_of_pid[entry.pid] = columns.size();
      columns.push_back({letter, entry.program, entry.pid, entry.seq, entry.seq});
    } else {
      columns[found->second].last_seq = entry.seq;
    }
  }

  std::printf("Timeline from %s, one column a process:\n", ClockText(start_us).c_str());
  for (const auto& column : columns)
    std::printf("  %c  %s (pid %lld)\n", column.letter, column.program.c_str(),
                static_cast<long long>(column.pid));
  std::printf("\n      time  ");
  for (const auto& column : columns) std::printf("%c ", column.letter);
  std::printf("\n");

  for (const auto& entry : entries) {
    size_t own = column_of_pid[entry.pid];
    std::string lanes;
    for (size_t i = 0; i < columns.size(); ++i) {
      const auto& column = columns[i];
      if (i == own)
        lanes += '*';
      else if (column.first_seq < entry.seq && entry.seq < column.last_seq)
        lanes += '|';
      else
        lanes += ' ';
      lanes += ' ';
    }
    std::printf("%+9.3fs  %s %c %s\n", (entry.time_us - start_us) / 1e6, lanes.c_str(),
                columns[own].letter, CallText(entry).c_str());
  }
  return 0;
}

int ShowBoxes() {
  auto boxes = kxhost::RecordedBoxes();
  if (boxes.empty()) std::printf("(no message box was shown)\n");
  for (const auto& box : boxes) {
    std::printf("%s  pid %lld, owner %#zx, style %u\n    caption \"%s\"\n    text    \"%s\"\n",
                ClockText(box.shown_us).c_str(), static_cast<long long>(box.pid),
                static_cast<size_t>(box.owner), box.style, Printable(box.caption).c_str(),
                Printable(box.text).c_str());
    if (box.closed_us)
      std::printf("    answered %d after %.3fs\n", box.result,
                  (box.closed_us - box.shown_us) / 1e6);
    else
      std::printf("    still open\n");
  }
  return 0;
}

}  // namespace kxmachine
