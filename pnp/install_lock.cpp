#include "install_lock.h"

namespace {

constexpr char kLockEventName[] = "ZVKInstalled";
// A waiting phase looks at its message queue once a step.
constexpr DWORD kWaitStepMilliseconds = 1000;
// After the release, the phase gives the one that released time to end.
constexpr DWORD kSettleMilliseconds = 1000;

// Waits until the holder signals the event, or the wait fails. After each
// step that timed out, takes at most one message of the thread's queue and
// dispatches it, so that the thread's windows keep receiving messages.
void WaitForRelease(HANDLE event) {
  while (WaitForSingleObject(event, kWaitStepMilliseconds) == WAIT_TIMEOUT) {
    MSG message;
    if (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }
}

}  // namespace

// One create-or-open step takes the event, so that no phase can slip in
// between finding the event held and holding it: the handle this phase waits
// on is the handle it then holds.
InstallLock::InstallLock() : event_(CreateEventA(nullptr, FALSE, FALSE, kLockEventName)) {
  if (event_.get() && GetLastError() == ERROR_ALREADY_EXISTS) {
    WaitForRelease(event_.get());
    Sleep(kSettleMilliseconds);
  }
}

// The signal releases one waiting phase; event_ closes the handle after it.
InstallLock::~InstallLock() {
  if (event_.get()) SetEvent(event_.get());
}
