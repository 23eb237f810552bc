// The thread's last error.
#include "host.h"

namespace {
thread_local DWORD last_error = 0;
}

DWORD WINAPI GetLastError(void) { return last_error; }
void WINAPI SetLastError(DWORD code) { last_error = code; }
