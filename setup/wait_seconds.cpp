// The wait between adding the printer and changing it.
#include "setup.h"

namespace {
// Short enough to end close to the second's turn, long enough to leave the
// processor to the spooler.
constexpr DWORD kWaitStepMilliseconds = 20;
}  // namespace

void WaitSeconds(DWORD seconds) {
  // Whole seconds of the tick count, compared unsigned: a tick count that
  // wraps to 0 ends the wait.
  const DWORD start = GetTickCount() / 1000;
  while (GetTickCount() / 1000 - start < seconds) Sleep(kWaitStepMilliseconds);
}
