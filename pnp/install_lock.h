// The installation lock: orders installation phases running in different
// processes through the named event "ZVKInstalled".
#pragma once

#include "platform.h"

class InstallLock {
 public:
  // Returns only when the lock is taken.
  InstallLock();
  // Releases the lock.
  ~InstallLock();
  InstallLock(const InstallLock&) = delete;
  InstallLock& operator=(const InstallLock&) = delete;

 private:
  HANDLE event_ = nullptr;
};
