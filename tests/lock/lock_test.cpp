// The installation lock between real host processes: the library's phases
// run by RunDLL32 in a machine made by the machine command, and what they
// did read back from the machine's journal. A phase that shows an error box
// (a device key without "Model") holds the lock as long as the machine keeps
// its boxes open, which is how these tests hold it.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "host.h"
#include "platform.h"
#include "temp_machine.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;

constexpr const char* kLockName = "\"ZVKInstalled\"";
const std::string kDeviceKey = "Enum\\LPTENUM\\KALDRENKX512E10";
// A device key without "Model": its first phase shows an error box.
const std::string kBoxKey = "Enum\\LPTENUM\\NOMODEL";

constexpr int64_t kSettleUs = 1000 * 1000;  // the sleep after a wait
// A phase that takes the lock at once makes its first registry change
// within this much of taking the event.
constexpr int64_t kAtOnceUs = 300 * 1000;

std::string FirstPhase(const std::string& device_key) {
  return "RUNDLL32.EXE KX51PNP,SchedulePrinterInstallation " + device_key + " A:\\";
}

// Runs the machine command to its end; its exit status.
int Kxmachine(std::vector<std::string> args) {
  args.insert(args.begin(), std::string(KX_BIN_DIR) + "/kxmachine");
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 20s) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

// One phase's dealings with the lock, from the journal (times in us; -1:
// not there).
struct PhaseRun {
  int64_t pid = 0;
  std::string created_result;  // "created" or "opened existing (183)"
  int64_t created = -1;
  int64_t signalled = -1;   // its wait that took the signal
  int64_t first_work = -1;  // its first entry once it held the lock
  int64_t released = -1;    // its SetEvent
  int64_t closed = -1;      // its CloseHandle of the event
  std::vector<kxhost::JournalEntry> dispatches;
};

std::vector<PhaseRun> PhaseRuns() {
  std::vector<PhaseRun> runs;
  auto journal = kxhost::ReadJournal();
  for (const auto& entry : journal) {
    if (entry.op != "CreateEventA" || entry.detail.rfind(kLockName, 0) != 0) continue;
    PhaseRun run;
    run.pid = entry.pid;
    run.created = entry.time_us;
    run.created_result = entry.result;
    for (const auto& later : journal) {
      if (later.pid != run.pid || later.seq <= entry.seq) continue;
      if (later.op == "DispatchMessageA") run.dispatches.push_back(later);
      if (later.op == "WaitForSingleObject" && later.result == "WAIT_OBJECT_0")
        run.signalled = later.time_us;
      if (later.op == "SetEvent" && run.released < 0) run.released = later.time_us;
      if (later.op == "CloseHandle" && later.detail == kLockName && later.result.empty() &&
          run.closed < 0)
        run.closed = later.time_us;
      // While it waits a phase does nothing but wait and dispatch.
      bool lock_step = later.op == "WaitForSingleObject" || later.op == "DispatchMessageA" ||
                       later.op == "fault" || later.op == "SetEvent" || later.op == "CloseHandle";
      if (!lock_step && run.first_work < 0) run.first_work = later.time_us;
    }
    runs.push_back(run);
  }
  return runs;
}

const PhaseRun* RunOf(const std::vector<PhaseRun>& runs, int64_t pid) {
  for (const auto& run : runs)
    if (run.pid == pid) return &run;
  return nullptr;
}

std::string Timeline() {
  std::string text;
  auto journal = kxhost::ReadJournal();
  int64_t start = journal.empty() ? 0 : journal.front().time_us;
  for (const auto& entry : journal)
    text += std::to_string((entry.time_us - start) / 1000) + " ms  " + std::to_string(entry.pid) +
            "  " + entry.op + " " + entry.detail + " -> " + entry.result + "\n";
  return text;
}

// The pid of the n-th process that the journal shows taking the event
// (0-based), once it is there.
int64_t NthLockTaker(size_t n) {
  int64_t pid = 0;
  WaitFor([&] {
    auto runs = PhaseRuns();
    if (runs.size() <= n) return false;
    pid = runs[n].pid;
    return true;
  });
  return pid;
}

bool JournalHas(int64_t pid, const std::string& op) {
  for (const auto& entry : kxhost::ReadJournal())
    if (entry.pid == pid && entry.op == op) return true;
  return false;
}

class LockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(Kxmachine({"create", "--setup-standin"}), 0);
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, kBoxKey.c_str(), &key), ERROR_SUCCESS);
    RegCloseKey(key);
  }

  // A device key with a model of its own.
  std::string AddDevice(const std::string& name) {
    std::string path = "Enum\\LPTENUM\\" + name;
    std::string model = "KX51 Laser " + name;
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, path.c_str(), &key), ERROR_SUCCESS);
    RegSetValueExA(key, "Model", 0, REG_SZ, reinterpret_cast<const BYTE*>(model.c_str()),
                   static_cast<DWORD>(model.size() + 1));
    RegCloseKey(key);
    return path;
  }

  void Start(const std::string& command_line) { ASSERT_EQ(Kxmachine({"run", command_line}), 0); }
  void WaitForTheMachine() { ASSERT_EQ(Kxmachine({"wait", "--timeout", "60"}), 0); }

  // Starts a first phase that shows its box and holds the lock while the
  // box stays open for `box_ms`; gives its pid once the box is shown.
  int64_t StartBoxHolder(int box_ms) {
    kxhost::Store::Get().SetSetting("box_delay_ms", std::to_string(box_ms));
    Start(FirstPhase(kBoxKey));
    int64_t holder = NthLockTaker(0);
    EXPECT_TRUE(WaitFor([&] { return JournalHas(holder, "MessageBoxA"); }));
    return holder;
  }

  kxtest::TempMachine machine_;
};

TEST_F(LockTest, WithNoOtherPhaseTheLockIsTakenAtOnce) {
  Start(FirstPhase(kDeviceKey));
  WaitForTheMachine();
  auto runs = PhaseRuns();
  ASSERT_EQ(runs.size(), 1u) << Timeline();
  EXPECT_EQ(runs[0].created_result, "created");
  EXPECT_FALSE(JournalHas(runs[0].pid, "WaitForSingleObject"));
  ASSERT_GE(runs[0].first_work, 0) << Timeline();
  EXPECT_LT(runs[0].first_work - runs[0].created, kAtOnceUs) << Timeline();
  EXPECT_GE(runs[0].released, runs[0].first_work);
  // Released, and gone with its last handle.
  EXPECT_EQ(OpenEventA(SYNCHRONIZE, FALSE, "ZVKInstalled"), nullptr);
}

TEST_F(LockTest, PhasesForThreeDevicesStartedTogetherRunOneAfterAnother) {
  // A phase takes so little time that three started one by one would not
  // meet: the test holds the lock until all three wait for it.
  HANDLE held = CreateEventA(nullptr, FALSE, FALSE, "ZVKInstalled");
  ASSERT_NE(held, nullptr);
  std::vector<std::string> devices = {AddDevice("ONE"), AddDevice("TWO"), AddDevice("THREE")};
  for (const auto& device : devices) Start(FirstPhase(device));
  ASSERT_TRUE(WaitFor([] { return PhaseRuns().size() == 4; })) << Timeline();
  SetEvent(held);
  CloseHandle(held);
  WaitForTheMachine();

  auto runs = PhaseRuns();
  ASSERT_EQ(runs.size(), 4u) << Timeline();
  // The test's own hold first, then the phases in the order they worked.
  std::sort(runs.begin() + 1, runs.end(),
            [](const PhaseRun& a, const PhaseRun& b) { return a.first_work < b.first_work; });
  for (size_t i = 1; i < runs.size(); ++i) {
    const PhaseRun& before = runs[i - 1];
    const PhaseRun& after = runs[i];
    EXPECT_EQ(after.created_result, "opened existing (183)") << Timeline();
    EXPECT_GT(after.first_work, before.released) << "their work overlaps\n" << Timeline();
    EXPECT_GE(after.first_work - before.released, kSettleUs) << Timeline();
  }
  // Each phase did its whole work.
  for (const char* name : {"ONE", "TWO", "THREE"}) {
    HKEY key = nullptr;
    std::string path = std::string("Enum\\LPTENUM\\") + name;
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, path.c_str(), &key), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExA(key, "ConfigFlags", nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS)
        << name;
    RegCloseKey(key);
  }
}

TEST_F(LockTest, AWaitingPhaseDispatchesOneMessagePerTimedOutWait) {
  int64_t holder = StartBoxHolder(4500);
  Start(FirstPhase(kDeviceKey));
  int64_t waiter = NthLockTaker(1);
  // RunDLL32's own window belongs to the waiting thread.
  HWND window = nullptr;
  for (const auto& entry : kxhost::ReadJournal())
    if (entry.pid == waiter && entry.op == "CreateWindowExA")
      window =
          reinterpret_cast<HWND>(static_cast<uintptr_t>(std::stoull(entry.result, nullptr, 0)));
  ASSERT_NE(window, nullptr) << Timeline();
  for (UINT i = 0; i < 8; ++i) ASSERT_TRUE(PostMessageA(window, WM_USER + i, i, 0));
  WaitForTheMachine();

  auto runs = PhaseRuns();
  const PhaseRun* waiting = RunOf(runs, waiter);
  ASSERT_NE(waiting, nullptr);
  ASSERT_GE(waiting->signalled, 0) << Timeline();
  // One message after each step that timed out once they were posted (the
  // step under way then may end before or after the posts); the rest stays
  // in the queue.
  int64_t posted = -1;
  for (const auto& entry : kxhost::ReadJournal())
    if (entry.op == "PostMessageA" && posted < 0) posted = entry.time_us;
  auto steps = static_cast<size_t>((waiting->signalled - posted) / (1000 * 1000));
  EXPECT_GE(waiting->dispatches.size(), std::max<size_t>(steps, 2) - 1) << Timeline();
  EXPECT_LE(waiting->dispatches.size(), steps + 1) << Timeline();
  int64_t previous = waiting->created;
  for (size_t i = 0; i < waiting->dispatches.size(); ++i) {
    const auto& dispatch = waiting->dispatches[i];
    char message[32];
    std::snprintf(message, sizeof message, "message %#x wParam", WM_USER + static_cast<UINT>(i));
    EXPECT_NE(dispatch.detail.find(message), std::string::npos) << "in the order posted\n"
                                                                << Timeline();
    EXPECT_GE(dispatch.time_us - previous, 950 * 1000) << "one a step\n" << Timeline();
    EXPECT_LT(dispatch.time_us, waiting->signalled);
    previous = dispatch.time_us;
  }
  EXPECT_GT(waiting->first_work, RunOf(runs, holder)->released);
}

TEST_F(LockTest, APhaseShowingABoxHoldsTheLockUntilTheBoxIsAnswered) {
  int64_t holder = StartBoxHolder(2500);
  Start(FirstPhase(kDeviceKey));
  int64_t waiter = NthLockTaker(1);
  WaitForTheMachine();

  auto boxes = kxhost::RecordedBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].pid, holder);
  auto runs = PhaseRuns();
  const PhaseRun* waiting = RunOf(runs, waiter);
  ASSERT_NE(waiting, nullptr);
  EXPECT_LT(waiting->created, boxes[0].closed_us) << "it came while the box was open";
  EXPECT_GE(waiting->first_work - boxes[0].closed_us, kSettleUs) << Timeline();
  EXPECT_GT(waiting->first_work, RunOf(runs, holder)->released) << Timeline();
}

TEST_F(LockTest, WithTheShellRunningTheSecondPhaseWorksAfterTheFirstReturned) {
  Start("C:\\WINDOWS\\EXPLORER.EXE /stay 60");
  HWND shell = nullptr;
  ASSERT_TRUE(
      WaitFor([&] { return (shell = FindWindowA(nullptr, "Program Manager")) != nullptr; }));
  // The test holds a handle to the event throughout, as a phase that has
  // released the lock but not yet closed it: the second phase then always
  // finds the event, whether the first has released it by then or not.
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, "ZVKInstalled");
  ASSERT_NE(event, nullptr);
  Start(FirstPhase(kDeviceKey));
  ASSERT_TRUE(WaitFor([] { return PhaseRuns().size() == 2; })) << Timeline();
  SetEvent(event);
  // The first phase starts the second at once; both end.
  ASSERT_TRUE(WaitFor([] {
    auto runs = PhaseRuns();
    return runs.size() == 3 && runs[1].closed >= 0 && runs[2].closed >= 0;
  })) << Timeline();
  CloseHandle(event);
  PostMessageA(shell, WM_CLOSE, 0, 0);
  WaitForTheMachine();

  auto runs = PhaseRuns();
  ASSERT_EQ(runs.size(), 3u) << Timeline();
  const PhaseRun& first = runs[1];
  const PhaseRun& second = runs[2];
  EXPECT_EQ(second.created_result, "opened existing (183)") << Timeline();
  EXPECT_GT(second.first_work, first.closed) << Timeline();
  EXPECT_GE(second.first_work - first.released, kSettleUs) << Timeline();
}

TEST_F(LockTest, AWaiterWhoseHolderWasKilledGoesOnWaiting) {
  int64_t holder = StartBoxHolder(60000);
  Start(FirstPhase(kDeviceKey));
  int64_t waiter = NthLockTaker(1);
  ASSERT_TRUE(WaitFor([&] { return JournalHas(waiter, "CreateEventA"); }));
  ASSERT_EQ(kill(static_cast<pid_t>(holder), SIGKILL), 0);

  // The waiter's next look at the event releases the killed holder's handle...
  std::string released = "released: process " + std::to_string(holder) + " ended";
  ASSERT_TRUE(WaitFor(
      [&] {
        for (const auto& entry : kxhost::ReadJournal())
          if (entry.op == "CloseHandle" && entry.result == released) return true;
        return false;
      },
      5s))
      << Timeline();
  // ... and nobody signals the event the waiter now holds alone.
  std::this_thread::sleep_for(3s);
  auto runs = PhaseRuns();
  EXPECT_EQ(RunOf(runs, waiter)->signalled, -1) << Timeline();
  EXPECT_EQ(RunOf(runs, waiter)->first_work, -1) << Timeline();
  ASSERT_EQ(kill(static_cast<pid_t>(waiter), SIGKILL), 0);
  WaitForTheMachine();

  // With the waiter gone too, a new phase takes the lock at once.
  Start(FirstPhase(kDeviceKey));
  WaitForTheMachine();
  runs = PhaseRuns();
  ASSERT_EQ(runs.size(), 3u) << Timeline();
  EXPECT_EQ(runs[2].created_result, "created") << Timeline();
  EXPECT_LT(runs[2].first_work - runs[2].created, kAtOnceUs) << Timeline();
}

// The lock never reports a failure: without the event the phase goes on
// unordered; a failed wait ends the waiting as a signal would.
TEST_F(LockTest, FailuresOfTheEventLetThePhaseGoOn) {
  kxhost::ArmFault("CreateEventA", ERROR_NOT_ENOUGH_MEMORY, "ZVKInstalled", 1);
  Start(FirstPhase(kDeviceKey));
  WaitForTheMachine();
  EXPECT_TRUE(PhaseRuns().empty()) << Timeline();
  bool worked = false, signalled = false;
  for (const auto& entry : kxhost::ReadJournal()) {
    worked |= entry.op == "RegSetValueExA";
    signalled |= entry.op == "SetEvent";
  }
  EXPECT_TRUE(worked) << Timeline();
  EXPECT_FALSE(signalled) << "nothing to release\n" << Timeline();

  int64_t holder = StartBoxHolder(5000);
  kxhost::ArmFault("WaitForSingleObject", ERROR_INVALID_HANDLE, "ZVKInstalled", 1);
  Start(FirstPhase(kDeviceKey));
  int64_t waiter = NthLockTaker(1);
  ASSERT_TRUE(WaitFor([&] { return JournalHas(waiter, "SetEvent"); })) << Timeline();
  auto runs = PhaseRuns();
  const PhaseRun* waiting = RunOf(runs, waiter);
  EXPECT_GE(waiting->first_work - waiting->created, kSettleUs) << "it still sleeps\n" << Timeline();
  EXPECT_EQ(RunOf(runs, holder)->released, -1) << "it did not wait for the holder";
  WaitForTheMachine();
}

}  // namespace
