// Named events as the installer's lock relies on them: existence while a
// handle is held, opening by a name that nobody holds, creating over an
// existing event, automatic and manual reset, timed waits, access rights
// and names compared with their letter case.
#include "conformance.h"

namespace {

constexpr DWORD kPoison = 0xDEADBEEF;
// A handle value that names nothing in a fresh process.
const HANDLE kBogusHandle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0xBAD0));

class EventsConformance : public ::testing::Test {
 protected:
  // Creates an event, checking that it came back; keeps it to close at the end.
  HANDLE Create(const char* name, BOOL manual_reset, BOOL initial_state) {
    HANDLE event = CreateEventA(nullptr, manual_reset, initial_state, name);
    EXPECT_NE(event, nullptr) << "CreateEventA(" << (name ? name : "NULL") << ")";
    if (event) held_.push_back(event);
    return event;
  }
  HANDLE Open(DWORD access, const char* name) {
    HANDLE event = OpenEventA(access, FALSE, name);
    if (event) held_.push_back(event);
    return event;
  }
  void Close(HANDLE event) {
    for (auto it = held_.begin(); it != held_.end(); ++it) {
      if (*it == event) {
        held_.erase(it);
        break;
      }
    }
    EXPECT_TRUE(CloseHandle(event));
  }
  void TearDown() override {
    for (HANDLE event : held_) CloseHandle(event);
  }

  kxtest::ConformanceMachine machine_;
  std::vector<HANDLE> held_;
};

TEST_F(EventsConformance, CreatingANewEventSetsNoError) {
  SetLastError(kPoison);
  ASSERT_NE(Create("KxConformanceNew", FALSE, FALSE), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
}

TEST_F(EventsConformance, CreatingAnExistingEventOpensItAndKeepsItsState) {
  // Manual reset and signalled; the second create asks for the opposite.
  HANDLE first = Create("KxConformanceExisting", TRUE, TRUE);
  SetLastError(kPoison);
  HANDLE second = Create("KxConformanceExisting", FALSE, FALSE);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_NE(second, first);
  // Still signalled, and still manual: two waits both pass.
  EXPECT_EQ(WaitForSingleObject(second, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(WaitForSingleObject(second, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  // One event behind both handles.
  ASSERT_TRUE(ResetEvent(first));
  EXPECT_EQ(WaitForSingleObject(second, 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

TEST_F(EventsConformance, OpeningANameNobodyHoldsFailsWithFileNotFound) {
  SetLastError(kPoison);
  EXPECT_EQ(Open(SYNCHRONIZE, "KxConformanceNobody"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(EventsConformance, AnEventExistsWhileSomeHandleIsOpen) {
  HANDLE created = Create("KxConformanceLife", FALSE, FALSE);
  HANDLE opened = Open(SYNCHRONIZE, "KxConformanceLife");
  ASSERT_NE(opened, nullptr);
  Close(created);
  // The opened handle still holds it, with the state it had.
  HANDLE again = Open(SYNCHRONIZE, "KxConformanceLife");
  EXPECT_NE(again, nullptr);
  Close(opened);
  Close(again);
  SetLastError(kPoison);
  EXPECT_EQ(Open(SYNCHRONIZE, "KxConformanceLife"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  // A new event of that name starts afresh.
  SetLastError(kPoison);
  Create("KxConformanceLife", FALSE, FALSE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
}

TEST_F(EventsConformance, AutomaticResetLetsOneWaitThroughPerSignal) {
  HANDLE event = Create("KxConformanceAuto", FALSE, TRUE);
  HANDLE other = Open(SYNCHRONIZE, "KxConformanceAuto");
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(WaitForSingleObject(other, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  ASSERT_TRUE(SetEvent(event));
  // Two signals without a waiter between them are one.
  ASSERT_TRUE(SetEvent(event));
  EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(WaitForSingleObject(other, 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

TEST_F(EventsConformance, ManualResetStaysSignalledUntilReset) {
  HANDLE event = Create("KxConformanceManual", TRUE, FALSE);
  EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  ASSERT_TRUE(SetEvent(event));
  EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(WaitForSingleObject(event, 100), static_cast<DWORD>(WAIT_OBJECT_0));
  ASSERT_TRUE(ResetEvent(event));
  EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

TEST_F(EventsConformance, AWaitOnAnUnsignalledEventLastsItsTimeOut) {
  HANDLE event = Create("KxConformanceTimeOut", FALSE, FALSE);
  DWORD before = GetTickCount();
  EXPECT_EQ(WaitForSingleObject(event, 300), static_cast<DWORD>(WAIT_TIMEOUT));
  DWORD elapsed = GetTickCount() - before;
  // The platform's tick count moves in steps of up to 16 ms.
  EXPECT_GE(elapsed, 280u);
  EXPECT_LT(elapsed, 2000u);
}

TEST_F(EventsConformance, NamesAreComparedWithTheirLetterCase) {
  Create("KxConformanceCase", FALSE, TRUE);
  SetLastError(kPoison);
  EXPECT_EQ(Open(SYNCHRONIZE, "kxconformancecase"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  SetLastError(kPoison);
  HANDLE upper = Create("KXCONFORMANCECASE", FALSE, FALSE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(WaitForSingleObject(upper, 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

TEST_F(EventsConformance, UnnamedEventsAreEachTheirOwn) {
  HANDLE first = Create(nullptr, TRUE, TRUE);
  SetLastError(kPoison);
  HANDLE second = Create(nullptr, TRUE, FALSE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(WaitForSingleObject(first, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(WaitForSingleObject(second, 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

// What a handle may do is what it was opened for.
TEST_F(EventsConformance, AccessIsWhatTheHandleWasOpenedFor) {
  Create("KxConformanceAccess", TRUE, TRUE);
  HANDLE wait_only = Open(SYNCHRONIZE, "KxConformanceAccess");
  HANDLE modify_only = Open(EVENT_MODIFY_STATE, "KxConformanceAccess");
  ASSERT_NE(wait_only, nullptr);
  ASSERT_NE(modify_only, nullptr);

  EXPECT_EQ(WaitForSingleObject(wait_only, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  SetLastError(kPoison);
  EXPECT_FALSE(SetEvent(wait_only));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

  EXPECT_TRUE(ResetEvent(modify_only));
  SetLastError(kPoison);
  EXPECT_EQ(WaitForSingleObject(modify_only, 0), static_cast<DWORD>(WAIT_FAILED));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(EventsConformance, CallsOnAHandleThatNamesNothingFail) {
  SetLastError(kPoison);
  EXPECT_EQ(WaitForSingleObject(kBogusHandle, 0), static_cast<DWORD>(WAIT_FAILED));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  SetLastError(kPoison);
  EXPECT_FALSE(SetEvent(kBogusHandle));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  SetLastError(kPoison);
  EXPECT_EQ(OpenEventA(SYNCHRONIZE, FALSE, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

}  // namespace
