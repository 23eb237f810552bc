// The installation lock: orders installation phases running in different
// processes through the named event "ZVKInstalled". Each phase takes it
// first and releases it last, its message boxes included.
#pragma once

#include "owned_handle.h"
#include "platform.h"

class InstallLock {
 public:
  // Returns only when the lock is taken; never fails (without an event the
  // phase goes on unordered).
  InstallLock();
  // Releases the lock to the next waiting phase.
  ~InstallLock();
  InstallLock(const InstallLock&) = delete;
  InstallLock& operator=(const InstallLock&) = delete;

 private:
  OwnedHandle event_;
};
