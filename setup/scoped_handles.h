// Scope objects that own one handle each: a file, a printer, a registry key.
// The destructor closes the handle and keeps the thread's last error as it
// was, so that a failure is still the caller's to read.
#pragma once

#include "platform.h"

template <class Traits>
class ScopedHandle {
 public:
  using Handle = typename Traits::Handle;

  explicit ScopedHandle(Handle handle = Traits::Invalid()) : handle_(handle) {}
  ScopedHandle(ScopedHandle&& other) noexcept : handle_(other.handle_) {
    other.handle_ = Traits::Invalid();
  }
  ScopedHandle& operator=(ScopedHandle&& other) noexcept {
    if (this != &other) {
      Reset();
      handle_ = other.handle_;
      other.handle_ = Traits::Invalid();
    }
    return *this;
  }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ~ScopedHandle() { Reset(); }

  Handle get() const { return handle_; }
  bool valid() const { return handle_ != Traits::Invalid(); }

  // Closes now and tells whether the platform closed it.
  bool Close() {
    if (!valid()) return false;
    Handle handle = handle_;
    handle_ = Traits::Invalid();
    return Traits::Close(handle);
  }

 private:
  void Reset() {
    if (!valid()) return;
    const DWORD saved = GetLastError();
    Close();
    SetLastError(saved);
  }

  Handle handle_;
};

struct FileTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return INVALID_HANDLE_VALUE; }
  static bool Close(Handle handle) { return CloseHandle(handle) != FALSE; }
};

struct PrinterTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return nullptr; }
  static bool Close(Handle handle) { return ClosePrinter(handle) != FALSE; }
};

struct RegistryKeyTraits {
  using Handle = HKEY;
  static Handle Invalid() { return nullptr; }
  static bool Close(Handle handle) { return RegCloseKey(handle) == ERROR_SUCCESS; }
};

using FileHandle = ScopedHandle<FileTraits>;
using PrinterHandle = ScopedHandle<PrinterTraits>;
using RegistryKey = ScopedHandle<RegistryKeyTraits>;
