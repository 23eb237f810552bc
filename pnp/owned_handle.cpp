#include "owned_handle.h"

#include <utility>

OwnedHandle::OwnedHandle(OwnedHandle&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)) {}

OwnedHandle& OwnedHandle::operator=(OwnedHandle&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, nullptr);
  }
  return *this;
}

OwnedHandle::~OwnedHandle() { Close(); }

void OwnedHandle::Close() {
  if (!handle_) return;
  // Closing on the way out must not disturb the error a caller reads next.
  DWORD last_error = GetLastError();
  CloseHandle(std::exchange(handle_, nullptr));
  SetLastError(last_error);
}
