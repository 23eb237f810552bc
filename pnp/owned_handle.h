// A kernel object handle, closed when the object goes.
#pragma once

#include "platform.h"

class OwnedHandle {
 public:
  OwnedHandle() = default;
  explicit OwnedHandle(HANDLE handle) : handle_(handle) {}
  OwnedHandle(OwnedHandle&& other) noexcept;
  OwnedHandle& operator=(OwnedHandle&& other) noexcept;
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  ~OwnedHandle();

  HANDLE get() const { return handle_; }

 private:
  void Close();

  HANDLE handle_ = nullptr;
};
