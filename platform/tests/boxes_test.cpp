// Message boxes and the restart request: what they record, the delay that
// holds a box open, and their faults.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "host.h"
#include "planted_files.h"
#include "temp_machine.h"

namespace {

LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  return DefWindowProcA(window, message, wparam, lparam);
}

HWND OwnerWindow() {
  WNDCLASSA window_class{};
  window_class.lpfnWndProc = Procedure;
  window_class.lpszClassName = "KxBoxOwner";
  RegisterClassA(&window_class);
  return CreateWindowExA(0, "KxBoxOwner", "Owner", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr,
                         nullptr, nullptr, nullptr);
}

TEST(MessageBoxA, RecordsTheBoxAndAnswersOk) {
  kxtest::TempMachine machine;
  HWND owner = OwnerWindow();
  ASSERT_NE(owner, nullptr);
  // Texts are bytes of any code page.
  EXPECT_EQ(MessageBoxA(owner, "Text \xB0\xA1", "Caption", MB_ICONERROR), IDOK);
  EXPECT_EQ(MessageBoxA(nullptr, "", nullptr, MB_OK), IDOK);
  auto boxes = kxhost::RecordedBoxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].owner, reinterpret_cast<uintptr_t>(owner));
  EXPECT_EQ(boxes[0].text, "Text \xB0\xA1");
  EXPECT_EQ(boxes[0].caption, "Caption");
  EXPECT_EQ(boxes[0].style, static_cast<UINT>(MB_ICONERROR));
  EXPECT_EQ(boxes[0].result, IDOK);
  EXPECT_EQ(boxes[0].pid, getpid());
  EXPECT_GE(boxes[0].closed_us, boxes[0].shown_us);
  EXPECT_EQ(boxes[1].owner, 0u);
  EXPECT_EQ(boxes[1].text, "");
  EXPECT_EQ(boxes[1].caption, "Error");  // the platform's title for none

  std::vector<std::string> journaled;
  for (const auto& entry : kxhost::ReadJournal())
    if (entry.op == "MessageBoxA") journaled.push_back(entry.detail);
  EXPECT_EQ(journaled, (std::vector<std::string>{"Caption: Text \xB0\xA1 (style 0x10)",
                                                 "Error:  (style 0x0)"}));
  DestroyWindow(owner);
}

TEST(MessageBoxA, FailsForAFaultOrAnOwnerThatIsNoWindow) {
  kxtest::TempMachine machine;
  kxhost::ArmFault("MessageBoxA", ERROR_NOT_ENOUGH_MEMORY, "*failing*", 1);
  SetLastError(0);
  EXPECT_EQ(MessageBoxA(nullptr, "failing text", "Caption", MB_ICONERROR), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  EXPECT_EQ(MessageBoxA(reinterpret_cast<HWND>(0x4321), "text", "Caption", MB_ICONERROR), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  EXPECT_TRUE(kxhost::RecordedBoxes().empty());
}

TEST(MessageBoxA, StaysOpenForTheMachinesDelay) {
  kxtest::TempMachine machine;
  kxhost::Store::Get().SetSetting("box_delay_ms", "300");
  auto begin = std::chrono::steady_clock::now();
  std::thread box([] { EXPECT_EQ(MessageBoxA(nullptr, "held", "Caption", MB_OK), IDOK); });
  // Another process sees the box open through the store.
  bool seen_open = kxtest::Eventually([] {
    auto boxes = kxhost::RecordedBoxes();
    return boxes.size() == 1 && boxes[0].closed_us == 0;
  });
  box.join();
  EXPECT_TRUE(seen_open);
  EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(300));
  auto boxes = kxhost::RecordedBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_GE(boxes[0].closed_us - boxes[0].shown_us, 300000);
}

TEST(ExitWindowsEx, RecordsTheRequestAndReturns) {
  kxtest::TempMachine machine;
  EXPECT_TRUE(ExitWindowsEx(EWX_REBOOT, 0));
  auto requests = kxhost::RestartRequests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].flags, static_cast<UINT>(EWX_REBOOT));
  EXPECT_EQ(requests[0].pid, getpid());
  auto journal = kxhost::ReadJournal();
  ASSERT_FALSE(journal.empty());
  EXPECT_EQ(journal.back().op, "ExitWindowsEx");
  EXPECT_EQ(journal.back().detail, "2");

  kxhost::ArmFault("ExitWindowsEx", ERROR_ACCESS_DENIED, "*", 1);
  SetLastError(0);
  EXPECT_FALSE(ExitWindowsEx(EWX_REBOOT, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(kxhost::RestartRequests().size(), 1u);
}

}  // namespace
