// Top-level windows as the installer and the shell use them: titles read
// back with the platform's truncation, the z-order of EnumWindows, what an
// invalid window handle gives, and the messages of creation and closing.
#include <string>
#include <vector>

#include "conformance.h"

namespace {

constexpr const char* kClassName = "KxConformanceWindow";
constexpr DWORD kPoison = 0xDEADBEEF;

// Messages seen by the procedure of the fixture's class, in order.
std::vector<UINT>& SeenMessages() {
  static std::vector<UINT> seen;
  return seen;
}

LRESULT CALLBACK RecordingProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_CREATE || message == WM_DESTROY || message == WM_CLOSE)
    SeenMessages().push_back(message);
  if (message == WM_CREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lparam);
    // The creation parameter asks to refuse the window.
    if (create && create->lpCreateParams == reinterpret_cast<LPVOID>(1)) return -1;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

// One window of the fixture's class, destroyed when it goes.
class TestWindow {
 public:
  explicit TestWindow(const char* title, LPVOID param = nullptr)
      : window_(CreateWindowExA(0, kClassName, title, WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                GetModuleHandleA(nullptr), param)) {}
  ~TestWindow() {
    if (window_ && IsWindow(window_)) DestroyWindow(window_);
  }
  TestWindow(const TestWindow&) = delete;
  TestWindow& operator=(const TestWindow&) = delete;
  HWND get() const { return window_; }

 private:
  HWND window_;
};

class WindowsConformance : public ::testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSA window_class{};
    window_class.lpfnWndProc = RecordingProcedure;
    window_class.hInstance = GetModuleHandleA(nullptr);
    window_class.lpszClassName = kClassName;
    // Registered once a process; a second registration is the platform's
    // refusal that a test below checks.
    static const WORD atom = RegisterClassA(&window_class);
    ASSERT_NE(atom, 0);
    SeenMessages().clear();
  }

  kxtest::ConformanceMachine machine_;
};

std::vector<HWND> EnumeratedWindows() {
  std::vector<HWND> windows;
  EnumWindows(
      [](HWND window, LPARAM param) -> BOOL {
        reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&windows));
  return windows;
}

ptrdiff_t PositionOf(const std::vector<HWND>& windows, HWND window) {
  for (size_t i = 0; i < windows.size(); ++i)
    if (windows[i] == window) return static_cast<ptrdiff_t>(i);
  return -1;
}

TEST_F(WindowsConformance, TitleIsReadBackTruncatedToTheBuffer) {
  TestWindow window("Program Manager");
  ASSERT_NE(window.get(), nullptr);
  EXPECT_EQ(GetWindowTextLengthA(window.get()), 15);

  struct Case {
    int size;
    int count;
    const char* text;
  };
  const Case cases[] = {
      {64, 15, "Program Manager"},
      {16, 15, "Program Manager"},
      {15, 14, "Program Manage"},
      {5, 4, "Prog"},
      {1, 0, ""},
  };
  for (const auto& row : cases) {
    std::string buffer(80, 'X');
    EXPECT_EQ(GetWindowTextA(window.get(), &buffer[0], row.size), row.count) << "size " << row.size;
    EXPECT_STREQ(buffer.c_str(), row.text) << "size " << row.size;
    EXPECT_EQ(buffer[row.size], 'X') << "size " << row.size << ": written past the buffer";
  }
  char untouched[4] = "abc";
  EXPECT_EQ(GetWindowTextA(window.get(), untouched, 0), 0);
  EXPECT_STREQ(untouched, "abc");
}

TEST_F(WindowsConformance, SetWindowTextKeepsTheBytes) {
  TestWindow window("first");
  ASSERT_NE(window.get(), nullptr);
  const char eight_bit[] = "\xC0\xE9 title";
  ASSERT_TRUE(SetWindowTextA(window.get(), eight_bit));
  char buffer[32];
  EXPECT_EQ(GetWindowTextA(window.get(), buffer, sizeof buffer), 8);
  EXPECT_STREQ(buffer, eight_bit);
  ASSERT_TRUE(SetWindowTextA(window.get(), ""));
  EXPECT_EQ(GetWindowTextLengthA(window.get()), 0);
}

// A handle of a window that was destroyed. (A null handle is left out: Wine
// takes it for the desktop window in some of these calls.)
TEST_F(WindowsConformance, InvalidWindowGivesZeroAndError1400) {
  HWND gone;
  {
    TestWindow window("soon gone");
    gone = window.get();
    ASSERT_NE(gone, nullptr);
  }
  SetLastError(kPoison);
  EXPECT_EQ(GetWindowTextLengthA(gone), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE) << "GetWindowTextLengthA";

  char buffer[16] = "poisoned";
  SetLastError(kPoison);
  EXPECT_EQ(GetWindowTextA(gone, buffer, sizeof buffer), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE) << "GetWindowTextA";
  EXPECT_STREQ(buffer, "");

  SetLastError(kPoison);
  EXPECT_FALSE(SetWindowTextA(gone, "x"));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE) << "SetWindowTextA";

  DWORD process = kPoison;
  SetLastError(kPoison);
  EXPECT_EQ(GetWindowThreadProcessId(gone, &process), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE) << "GetWindowThreadProcessId";

  // The error differs: 1400 on Windows, ERROR_ACCESS_DENIED under Wine.
  EXPECT_FALSE(DestroyWindow(gone));
  EXPECT_FALSE(IsWindow(gone));
}

TEST_F(WindowsConformance, EnumWindowsListsTheNewestFirstAndStopsWhenAsked) {
  TestWindow older("older");
  TestWindow newer("newer");
  ASSERT_NE(older.get(), nullptr);
  ASSERT_NE(newer.get(), nullptr);
  auto windows = EnumeratedWindows();
  ptrdiff_t older_at = PositionOf(windows, older.get());
  ptrdiff_t newer_at = PositionOf(windows, newer.get());
  ASSERT_GE(older_at, 0);
  ASSERT_GE(newer_at, 0);
  EXPECT_LT(newer_at, older_at);

  int calls = 0;
  EXPECT_FALSE(EnumWindows(
      [](HWND, LPARAM param) -> BOOL {
        ++*reinterpret_cast<int*>(param);
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&calls)));
  EXPECT_EQ(calls, 1);
}

TEST_F(WindowsConformance, DestroyedWindowIsNoLongerListed) {
  HWND window = CreateWindowExA(0, kClassName, "listed", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(window, nullptr);
  EXPECT_GE(PositionOf(EnumeratedWindows(), window), 0);
  ASSERT_TRUE(DestroyWindow(window));
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(PositionOf(EnumeratedWindows(), window), -1);
}

TEST_F(WindowsConformance, CreationAndClosingReachTheProcedure) {
  {
    TestWindow window("messages");
    ASSERT_NE(window.get(), nullptr);
    EXPECT_TRUE(IsWindow(window.get()));
    // The default procedure answers WM_CLOSE by destroying the window.
    DefWindowProcA(window.get(), WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(window.get()));
  }
  EXPECT_EQ(SeenMessages(), (std::vector<UINT>{WM_CREATE, WM_DESTROY}));

  SeenMessages().clear();
  TestWindow refused("refused", reinterpret_cast<LPVOID>(1));
  EXPECT_EQ(refused.get(), nullptr);
  // A refused window was never made: it gets no WM_DESTROY.
  EXPECT_EQ(SeenMessages(), (std::vector<UINT>{WM_CREATE}));
}

TEST_F(WindowsConformance, ClassesAndOwners) {
  WNDCLASSA window_class{};
  window_class.lpfnWndProc = RecordingProcedure;
  window_class.hInstance = GetModuleHandleA(nullptr);
  window_class.lpszClassName = kClassName;
  SetLastError(kPoison);
  EXPECT_EQ(RegisterClassA(&window_class), 0);
  EXPECT_EQ(GetLastError(), ERROR_CLASS_ALREADY_EXISTS);

  SetLastError(kPoison);
  EXPECT_EQ(CreateWindowExA(0, "KxNoSuchClass", "x", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                            GetModuleHandleA(nullptr), nullptr),
            nullptr);
  // Windows gives ERROR_CANNOT_FIND_WND_CLASS, Wine ERROR_CLASS_DOES_NOT_EXIST.
  EXPECT_TRUE(GetLastError() == ERROR_CANNOT_FIND_WND_CLASS ||
              GetLastError() == ERROR_CLASS_DOES_NOT_EXIST)
      << GetLastError();

  TestWindow window("KX51 conformance owner");
  ASSERT_NE(window.get(), nullptr);
  DWORD process = 0;
  EXPECT_EQ(GetWindowThreadProcessId(window.get(), &process), GetCurrentThreadId());
  EXPECT_EQ(process, GetCurrentProcessId());
  EXPECT_EQ(FindWindowA(kClassName, "KX51 conformance owner"), window.get());
  EXPECT_EQ(FindWindowA(nullptr, "KX51 conformance owner"), window.get());
  EXPECT_EQ(FindWindowA(kClassName, "KX51 conformance nobody"), nullptr);
}

}  // namespace
