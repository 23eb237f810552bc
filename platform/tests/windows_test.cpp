// The host's windows beyond what the conformance suite checks: windows of
// other processes, the end of a process, the journal and faults.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "host.h"
#include "temp_machine.h"

namespace {

constexpr const char* kClassName = "KxHostWindowTest";

LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  return DefWindowProcA(window, message, wparam, lparam);
}

void RegisterTestClass() {
  static const WORD atom = [] {
    WNDCLASSA window_class{};
    window_class.lpfnWndProc = Procedure;
    window_class.lpszClassName = kClassName;
    return RegisterClassA(&window_class);
  }();
  ASSERT_NE(atom, 0);
}

HWND CreateTestWindow(const char* title) {
  return CreateWindowExA(0, kClassName, title, WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr,
                         nullptr);
}

bool Listed(HWND wanted) {
  struct Search {
    HWND wanted;
    bool found;
  } search{wanted, false};
  EnumWindows(
      [](HWND window, LPARAM param) -> BOOL {
        auto* search = reinterpret_cast<Search*>(param);
        search->found |= window == search->wanted;
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

int64_t StoredWindows() {
  auto query = kxhost::Store::Get().Prepare("SELECT COUNT(*) FROM windows");
  query.Step();
  return query.Int(0);
}

// A window made by another process, which ends when the object goes (or
// when Kill is called).
class OtherProcessWindow {
 public:
  explicit OtherProcessWindow(const char* title) {
    int ready[2];
    if (pipe(ready) != 0) return;
    // The store is not carried over a fork: the child opens its own.
    kxhost::Store::Reset();
    child_ = fork();
    if (child_ == 0) {
      close(ready[0]);
      RegisterTestClass();
      HWND window = CreateTestWindow(title);
      if (write(ready[1], &window, sizeof window) != sizeof window) _exit(1);
      pause();
      _exit(0);
    }
    close(ready[1]);
    if (read(ready[0], &window_, sizeof window_) != sizeof window_) window_ = nullptr;
    close(ready[0]);
  }
  ~OtherProcessWindow() { Kill(); }
  OtherProcessWindow(const OtherProcessWindow&) = delete;
  OtherProcessWindow& operator=(const OtherProcessWindow&) = delete;

  void Kill() {
    if (child_ <= 0) return;
    kill(child_, SIGKILL);
    waitpid(child_, nullptr, 0);
    child_ = 0;
  }
  HWND get() const { return window_; }
  pid_t pid() const { return child_; }

 private:
  pid_t child_ = 0;
  HWND window_ = nullptr;
};

class HostWindows : public ::testing::Test {
 protected:
  void SetUp() override { RegisterTestClass(); }
  kxtest::TempMachine machine_;
};

TEST_F(HostWindows, WindowOfAnotherProcessIsSeenUntilItsProcessEnds) {
  OtherProcessWindow other("Program Manager");
  ASSERT_NE(other.get(), nullptr);

  EXPECT_TRUE(IsWindow(other.get()));
  EXPECT_TRUE(Listed(other.get()));
  EXPECT_EQ(FindWindowA(nullptr, "Program Manager"), other.get());
  char title[32];
  EXPECT_EQ(GetWindowTextA(other.get(), title, sizeof title), 15);
  DWORD process = 0;
  EXPECT_NE(GetWindowThreadProcessId(other.get(), &process), 0u);
  EXPECT_EQ(process, static_cast<DWORD>(other.pid()));

  // Its procedure is an address in the other process: not known here.
  kxhost::WindowOwner owner;
  ASSERT_TRUE(kxhost::FindWindowOwner(other.get(), &owner));
  EXPECT_EQ(owner.process.pid, other.pid());
  EXPECT_EQ(owner.procedure, nullptr);

  SetLastError(0);
  EXPECT_FALSE(DestroyWindow(other.get()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

  other.Kill();
  EXPECT_FALSE(IsWindow(other.get()));
  EXPECT_FALSE(kxhost::FindWindowOwner(other.get(), &owner));
  SetLastError(0);
  EXPECT_EQ(GetWindowTextLengthA(other.get()), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  EXPECT_FALSE(Listed(other.get()));
  EXPECT_EQ(FindWindowA(nullptr, "Program Manager"), nullptr);
  EXPECT_EQ(StoredWindows(), 0) << "the window of a process that ended stays in the store";
}

TEST_F(HostWindows, OwnWindowGivesItsProcedureAndThread) {
  HWND window = CreateTestWindow("own");
  ASSERT_NE(window, nullptr);
  kxhost::WindowOwner owner;
  ASSERT_TRUE(kxhost::FindWindowOwner(window, &owner));
  EXPECT_EQ(owner.procedure, &Procedure);
  EXPECT_EQ(owner.thread, GetCurrentThreadId());
  EXPECT_EQ(owner.process.pid, kxhost::SelfProcess().pid);

  // Only the thread that made a window destroys it.
  BOOL destroyed = TRUE;
  DWORD error = 0;
  std::thread([&] {
    destroyed = DestroyWindow(window);
    error = GetLastError();
  }).join();
  EXPECT_FALSE(destroyed);
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(DestroyWindow(window));
}

TEST_F(HostWindows, ChangesAreJournaled) {
  HWND window = CreateTestWindow("Program Manager");
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(SetWindowTextA(window, "renamed"));
  ASSERT_TRUE(DestroyWindow(window));
  std::vector<std::string> ops;
  for (const auto& entry : kxhost::ReadJournal()) ops.push_back(entry.op + " " + entry.detail);
  ASSERT_EQ(ops.size(), 3u);
  EXPECT_EQ(ops[0], "CreateWindowExA class \"KxHostWindowTest\" title \"Program Manager\"");
  EXPECT_NE(ops[1].find("SetWindowTextA"), std::string::npos);
  EXPECT_NE(ops[1].find("\"renamed\""), std::string::npos);
  EXPECT_NE(ops[2].find("DestroyWindow"), std::string::npos);
}

TEST_F(HostWindows, FaultsReachCreationAndTitles) {
  kxhost::ArmFault("CreateWindowExA", ERROR_NOT_ENOUGH_MEMORY, "Program*", 1);
  SetLastError(0);
  EXPECT_EQ(CreateTestWindow("Program Manager"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  EXPECT_EQ(StoredWindows(), 0);
  HWND window = CreateTestWindow("Program Manager");  // the fault was used up
  ASSERT_NE(window, nullptr);

  kxhost::ArmFault("SetWindowTextA", ERROR_ACCESS_DENIED);
  EXPECT_FALSE(SetWindowTextA(window, "other"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  char title[32];
  GetWindowTextA(window, title, sizeof title);
  EXPECT_STREQ(title, "Program Manager");

  kxhost::ArmFault("EnumWindows", ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_FALSE(Listed(window));
  DestroyWindow(window);
}

}  // namespace
