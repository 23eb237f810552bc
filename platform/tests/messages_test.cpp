// The thread message queue of the host platform: order, filters, dispatch
// into the window's procedure, the quit state, the errors, and posting from
// another process of the machine.
#include <gtest/gtest.h>

#include "child_process.h"
#include "host.h"
#include "platform.h"
#include "temp_machine.h"

namespace {

using kxtest::ChildProcess;
using namespace std::chrono_literals;

const HWND kThreadOnly = reinterpret_cast<HWND>(static_cast<intptr_t>(-1));
const HWND kBogusWindow = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x7fff0000));

// Child roles: "post-window HWND MESSAGE" posts to a window of the parent;
// "post-thread THREAD MESSAGE" to a thread of the parent; "dispatch HWND"
// dispatches a message for the parent's window here. Each exits with 0 on
// success, else with the last error's low byte.
int ChildRole(const std::vector<std::string>& words) {
  if (words.size() < 2) return 100;
  auto number = [](const std::string& text) { return std::stoull(text, nullptr, 0); };
  HWND window = reinterpret_cast<HWND>(static_cast<uintptr_t>(number(words[1])));
  std::this_thread::sleep_for(200ms);  // so that the parent is waiting by then
  BOOL done = FALSE;
  if (words[0] == "post-window" && words.size() == 3)
    done = PostMessageA(window, static_cast<UINT>(number(words[2])), 1, 2);
  else if (words[0] == "post-thread" && words.size() == 3)
    done = PostThreadMessageA(static_cast<DWORD>(number(words[1])),
                              static_cast<UINT>(number(words[2])), 3, 4);
  else if (words[0] == "dispatch") {
    MSG msg{window, WM_USER, 0, 0, 0, {0, 0}};
    SetLastError(0);
    DispatchMessageA(&msg);
    return GetLastError() == ERROR_MESSAGE_SYNC_ONLY ? 0 : 1;
  }
  return done ? 0 : static_cast<int>(GetLastError() & 0xff);
}
const int kChild = kxtest::RunIfChild(ChildRole);

struct Call {
  HWND window;
  UINT message;
  WPARAM wparam;
  LPARAM lparam;
  bool operator==(const Call& other) const {
    return window == other.window && message == other.message && wparam == other.wparam &&
           lparam == other.lparam;
  }
};
std::vector<Call> calls;

LRESULT CALLBACK RecordingProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message >= WM_USER) {
    calls.push_back({window, message, wparam, lparam});
    return 40 + static_cast<LRESULT>(message - WM_USER);
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

class MessagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    calls.clear();
    static bool registered = false;
    if (!registered) {
      WNDCLASSA window_class{};
      window_class.lpfnWndProc = RecordingProcedure;
      window_class.lpszClassName = "KxMessagesTest";
      ASSERT_NE(RegisterClassA(&window_class), 0);
      registered = true;
    }
    window_ = CreateWindowExA(0, "KxMessagesTest", "messages", WS_POPUP, 0, 0, 0, 0, nullptr,
                              nullptr, nullptr, nullptr);
    ASSERT_NE(window_, nullptr);
  }
  void TearDown() override {
    DestroyWindow(window_);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
  }

  kxtest::TempMachine machine_;
  HWND window_ = nullptr;
};

TEST_F(MessagesTest, MessagesComeInTheOrderPosted) {
  ASSERT_TRUE(PostThreadMessageA(GetCurrentThreadId(), WM_USER + 1, 10, 0));
  ASSERT_TRUE(PostMessageA(window_, WM_USER + 2, 20, 0));
  ASSERT_TRUE(PostMessageA(nullptr, WM_USER + 3, 30, 0));  // to this thread

  MSG msg{};
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER + 1));
  std::vector<UINT> taken;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) taken.push_back(msg.message - WM_USER);
  EXPECT_EQ(taken, (std::vector<UINT>{1, 2, 3}));
}

TEST_F(MessagesTest, FiltersChooseWhichMessageIsTaken) {
  PostThreadMessageA(GetCurrentThreadId(), WM_USER + 1, 0, 0);
  PostMessageA(window_, WM_USER + 2, 0, 0);
  PostMessageA(window_, WM_USER + 3, 0, 0);
  PostThreadMessageA(GetCurrentThreadId(), WM_QUIT, 0, 0);
  struct Row {
    const char* what;
    HWND window;
    UINT min, max;
    UINT expected;  // 0: none
  };
  const Row rows[] = {
      {"the window's own", window_, 0, 0, WM_USER + 2},
      {"thread messages only", kThreadOnly, 0, 0, WM_USER + 1},
      {"a range", nullptr, WM_USER + 3, WM_USER + 9, WM_USER + 3},
      {"WM_QUIT passes any range", nullptr, WM_USER + 10, WM_USER + 11, WM_QUIT},
  };
  for (const auto& row : rows) {
    MSG msg{};
    BOOL got = PeekMessageA(&msg, row.window, row.min, row.max, PM_NOREMOVE);
    ASSERT_TRUE(got) << row.what;
    EXPECT_EQ(msg.message, row.expected) << row.what;
  }
}

TEST_F(MessagesTest, MessagesForADestroyedWindowGoWithIt) {
  HWND doomed = CreateWindowExA(0, "KxMessagesTest", "doomed", WS_POPUP, 0, 0, 0, 0, nullptr,
                                nullptr, nullptr, nullptr);
  ASSERT_TRUE(PostMessageA(doomed, WM_USER + 1, 0, 0));
  ASSERT_TRUE(PostMessageA(window_, WM_USER + 2, 0, 0));
  ASSERT_TRUE(DestroyWindow(doomed));
  MSG msg{};
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER + 2));
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(MessagesTest, DispatchCallsTheWindowProcedureAndIsJournalled) {
  ASSERT_TRUE(PostMessageA(window_, WM_USER + 5, 7, 8));
  MSG msg{};
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_FALSE(TranslateMessage(&msg));
  EXPECT_EQ(DispatchMessageA(&msg), 45);
  EXPECT_EQ(calls, (std::vector<Call>{{window_, WM_USER + 5, 7, 8}}));
  int dispatches = 0;
  for (const auto& entry : kxhost::ReadJournal())
    if (entry.op == "DispatchMessageA") {
      ++dispatches;
      EXPECT_NE(entry.detail.find("message 0x405 wParam 0x7 lParam 0x8"), std::string::npos);
    }
  EXPECT_EQ(dispatches, 1);
}

TEST_F(MessagesTest, GetMessageEndsWithTheQuitAfterThePostedMessages) {
  PostQuitMessage(7);
  PostMessageA(window_, WM_USER, 0, 0);
  MSG msg{};
  EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), TRUE);
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER));
  EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), FALSE);
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(msg.wParam, 7u);
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) << "the quit is taken once";
}

TEST_F(MessagesTest, CallsOnWhatDoesNotExistFail) {
  MSG msg{kBogusWindow, WM_USER, 0, 0, 0, {0, 0}};
  // One row: the call fails and sets the error.
  auto row = [](const char* name, auto call, DWORD error) {
    SetLastError(0xDEADBEEF);
    EXPECT_TRUE(!call()) << name;
    EXPECT_EQ(GetLastError(), error) << name;
  };
  row(
      "PostMessageA", [] { return PostMessageA(kBogusWindow, WM_USER, 0, 0); },
      ERROR_INVALID_WINDOW_HANDLE);
  row(
      "PostThreadMessageA", [] { return PostThreadMessageA(0x7ffffff0, WM_USER, 0, 0); },
      ERROR_INVALID_THREAD_ID);
  row(
      "PeekMessageA", [&] { return PeekMessageA(&msg, kBogusWindow, 0, 0, PM_REMOVE); },
      ERROR_INVALID_WINDOW_HANDLE);
  row(
      "GetMessageA", [&] { return GetMessageA(&msg, kBogusWindow, 0, 0) != -1; },
      ERROR_INVALID_WINDOW_HANDLE);
  row(
      "DispatchMessageA", [&] { return DispatchMessageA(&msg) != 0; }, ERROR_INVALID_WINDOW_HANDLE);
}

TEST_F(MessagesTest, AnotherProcessPostsToTheWindowAndGetMessageWaitsForIt) {
  char role[64];
  std::snprintf(role, sizeof role, "post-window %#zx %u",
                static_cast<size_t>(reinterpret_cast<uintptr_t>(window_)), WM_USER + 9);
  ChildProcess poster(role);
  MSG msg{};
  ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), TRUE);
  EXPECT_EQ(poster.Wait(), 0);
  EXPECT_EQ(msg.hwnd, window_);
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER + 9));
  DispatchMessageA(&msg);
  EXPECT_EQ(calls, (std::vector<Call>{{window_, WM_USER + 9, 1, 2}}));
}

TEST_F(MessagesTest, AnotherProcessPostsToAThreadThatHasAQueue) {
  MSG msg{};
  PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);  // this thread's queue exists from here
  ChildProcess poster("post-thread " + std::to_string(GetCurrentThreadId()) + " 0x777");
  ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), TRUE);
  EXPECT_EQ(poster.Wait(), 0);
  EXPECT_EQ(msg.hwnd, nullptr);
  EXPECT_EQ(msg.message, 0x777u);
  EXPECT_EQ(msg.wParam, 3u);
}

TEST_F(MessagesTest, AWindowOfAnotherProcessIsNotDispatchedThere) {
  char role[64];
  std::snprintf(role, sizeof role, "dispatch %#zx",
                static_cast<size_t>(reinterpret_cast<uintptr_t>(window_)));
  ChildProcess dispatcher(role);
  EXPECT_EQ(dispatcher.Wait(), 0);
  EXPECT_TRUE(calls.empty());
}

}  // namespace
