// What the Wine test fixtures share: an owned kernel handle and the image
// path of a process.
#pragma once

#include <windows.h>

#include <string>
#include <utility>

namespace kxwindows {

// A kernel handle, closed when it goes (the thread's last error kept).
class KernelHandle {
 public:
  explicit KernelHandle(HANDLE handle = nullptr) : handle_(handle) {}
  ~KernelHandle() {
    if (handle_ && handle_ != INVALID_HANDLE_VALUE) {
      DWORD error = GetLastError();
      CloseHandle(handle_);
      SetLastError(error);
    }
  }
  KernelHandle(KernelHandle&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
  KernelHandle& operator=(KernelHandle&& other) noexcept {
    std::swap(handle_, other.handle_);
    return *this;
  }
  KernelHandle(const KernelHandle&) = delete;
  KernelHandle& operator=(const KernelHandle&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

// The full path of the program that process `pid` runs; empty when it
// cannot be had.
inline std::string ProgramOf(DWORD pid) {
  KernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  char path[MAX_PATH] = "";
  DWORD size = sizeof path;
  if (!process.get() || !QueryFullProcessImageNameA(process.get(), 0, path, &size)) return "";
  return path;
}

}  // namespace kxwindows
