// Events of the host platform across processes: holds released when a
// process ends, one waiting process released per signal, the journal, the
// faults, and the cost of waiting.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include "child_process.h"
#include "host.h"
#include "platform.h"
#include "temp_machine.h"

namespace {

using kxtest::ChildProcess;
using kxtest::JournalShows;
using namespace std::chrono_literals;

// Child roles: "hold NAME" creates the event and stays; "hold-and-exit NAME"
// creates it and exits; "wait NAME MS" opens it and waits, exiting with 0 on
// the signal, 1 on the time-out, 2 on a failure.
int ChildRole(const std::vector<std::string>& words) {
  if (words.size() < 2) return 3;
  const std::string& role = words[0];
  const char* name = words[1].c_str();
  if (role == "hold" || role == "hold-and-exit") {
    if (!CreateEventA(nullptr, FALSE, FALSE, name)) return 2;
    if (role == "hold")
      for (;;) pause();
    return 0;
  }
  if (role == "wait" && words.size() == 3) {
    HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, name);
    if (!event) return 2;
    switch (WaitForSingleObject(event, static_cast<DWORD>(std::stoul(words[2])))) {
      case WAIT_OBJECT_0:
        return 0;
      case WAIT_TIMEOUT:
        return 1;
      default:
        return 2;
    }
  }
  return 3;
}
const int kChild = kxtest::RunIfChild(ChildRole);

class EventsTest : public ::testing::Test {
 protected:
  kxtest::TempMachine machine_;
};

std::vector<kxhost::JournalEntry> EntriesOf(const std::string& op) {
  std::vector<kxhost::JournalEntry> found;
  for (auto& entry : kxhost::ReadJournal())
    if (entry.op == op) found.push_back(entry);
  return found;
}

TEST_F(EventsTest, TheHoldOfAKilledProcessIsReleased) {
  ChildProcess holder("hold KxKilled");
  ASSERT_TRUE(JournalShows(holder.pid(), "CreateEventA"));
  HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, "KxKilled");
  ASSERT_NE(event, nullptr);
  holder.Kill();

  // Our handle keeps the event; nobody will signal it.
  EXPECT_EQ(WaitForSingleObject(event, 200), static_cast<DWORD>(WAIT_TIMEOUT));
  auto released = EntriesOf("CloseHandle");
  ASSERT_EQ(released.size(), 1u);
  EXPECT_EQ(released[0].detail, "\"KxKilled\"");
  EXPECT_NE(released[0].result.find("process " + std::to_string(holder.pid()) + " ended"),
            std::string::npos);

  ASSERT_TRUE(CloseHandle(event));
  SetLastError(0);
  EXPECT_EQ(OpenEventA(SYNCHRONIZE, FALSE, "KxKilled"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(EventsTest, AKilledProcessAloneHoldingAnEventTakesItAway) {
  ChildProcess holder("hold KxAlone");
  ASSERT_TRUE(JournalShows(holder.pid(), "CreateEventA"));
  holder.Kill();
  SetLastError(0);
  EXPECT_EQ(OpenEventA(SYNCHRONIZE, FALSE, "KxAlone"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  // A new event of the name is made afresh.
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, "KxAlone");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  CloseHandle(event);
}

TEST_F(EventsTest, AProcessThatExitsClosesItsHandles) {
  ChildProcess holder("hold-and-exit KxExit");
  ASSERT_EQ(holder.Wait(), 0);
  auto released = EntriesOf("CloseHandle");
  ASSERT_EQ(released.size(), 1u);
  EXPECT_EQ(released[0].pid, holder.pid());
  EXPECT_EQ(released[0].result, "released at exit");
  EXPECT_EQ(OpenEventA(SYNCHRONIZE, FALSE, "KxExit"), nullptr);
}

TEST_F(EventsTest, EachSignalReleasesOneWaitingProcess) {
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, "KxOne");
  ChildProcess first("wait KxOne 10000");
  ChildProcess second("wait KxOne 10000");
  ASSERT_TRUE(JournalShows(first.pid(), "OpenEventA"));
  ASSERT_TRUE(JournalShows(second.pid(), "OpenEventA"));

  ASSERT_TRUE(SetEvent(event));
  auto ended_first = [&] { return first.Ended(0ms) || second.Ended(0ms); };
  auto deadline = std::chrono::steady_clock::now() + 2s;
  while (!ended_first() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(5ms);
  std::this_thread::sleep_for(300ms);
  EXPECT_NE(first.Ended(0ms), second.Ended(0ms)) << "one signal, one waiter released";
  EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT))
      << "the event fell back";

  ASSERT_TRUE(SetEvent(event));
  EXPECT_EQ(first.Wait(), 0);
  EXPECT_EQ(second.Wait(), 0);
  EXPECT_EQ(EntriesOf("WaitForSingleObject").size(), 2u);
  CloseHandle(event);
}

TEST_F(EventsTest, TheJournalShowsWhatChangedTheMachine) {
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, "KxJournal");
  HANDLE again = CreateEventA(nullptr, FALSE, FALSE, "KxJournal");
  WaitForSingleObject(event, 0);  // times out: changes nothing
  SetEvent(event);
  WaitForSingleObject(again, 0);
  CloseHandle(again);
  CloseHandle(event);

  std::vector<std::string> seen;
  for (const auto& entry : kxhost::ReadJournal())
    seen.push_back(entry.op + " " + entry.detail + " -> " + entry.result);
  EXPECT_EQ(seen,
            (std::vector<std::string>{
                "CreateEventA \"KxJournal\" auto reset, not signalled -> created",
                "CreateEventA \"KxJournal\" auto reset, not signalled -> opened existing (183)",
                "SetEvent \"KxJournal\" -> ",
                "WaitForSingleObject \"KxJournal\" -> WAIT_OBJECT_0",
                "CloseHandle \"KxJournal\" -> ",
                "CloseHandle \"KxJournal\" -> ",
            }));
}

// Each call that can fail on the platform can be made to fail on the host.
TEST_F(EventsTest, ArmedFaultsMakeTheCallsFail) {
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, "KxFault");
  struct Row {
    const char* op;
    bool (*fails)(HANDLE event);
  };
  const Row rows[] = {
      {"CreateEventA",
       [](HANDLE) { return CreateEventA(nullptr, FALSE, FALSE, "KxFault") == nullptr; }},
      {"OpenEventA", [](HANDLE) { return OpenEventA(SYNCHRONIZE, FALSE, "KxFault") == nullptr; }},
      {"SetEvent", [](HANDLE event) { return !SetEvent(event); }},
      {"ResetEvent", [](HANDLE event) { return !ResetEvent(event); }},
      {"WaitForSingleObject",
       [](HANDLE event) { return WaitForSingleObject(event, 0) == WAIT_FAILED; }},
  };
  for (const auto& row : rows) {
    kxhost::ArmFault(row.op, ERROR_NOT_ENOUGH_MEMORY, "KxFault", 1);
    SetLastError(0);
    EXPECT_TRUE(row.fails(event)) << row.op;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY)) << row.op;
    EXPECT_FALSE(row.fails(event)) << row.op << " fails once only";
  }
  CloseHandle(event);
}

TEST_F(EventsTest, WaitingCostsLittleTime) {
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, "KxIdle");
  rusage before{}, after{};
  getrusage(RUSAGE_SELF, &before);
  EXPECT_EQ(WaitForSingleObject(event, 1000), static_cast<DWORD>(WAIT_TIMEOUT));
  getrusage(RUSAGE_SELF, &after);
  auto micros = [](const timeval& t) { return t.tv_sec * 1000000L + t.tv_usec; };
  long used = micros(after.ru_utime) - micros(before.ru_utime) + micros(after.ru_stime) -
              micros(before.ru_stime);
  EXPECT_LT(used, 250000L) << "a waiting second used " << used << " us of processor time";
  CloseHandle(event);
}

}  // namespace
