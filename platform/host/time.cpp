// Sleep and the tick count.
#include <time.h>
#include <unistd.h>

#include "host.h"

void WINAPI Sleep(DWORD milliseconds) {
  timespec delay{static_cast<time_t>(milliseconds / 1000),
                 static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&delay, &delay) != 0) {
  }
}

// Milliseconds since the host started, wrapping at 2^32 as the platform's.
DWORD WINAPI GetTickCount(void) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<DWORD>(static_cast<uint64_t>(now.tv_sec) * 1000u +
                            static_cast<uint64_t>(now.tv_nsec) / 1000000u);
}
