// A folder of its own in the Windows directory for each conformance test,
// and whole-file reads and writes through the platform's file operations.
#pragma once

#include <string>

#include "conformance.h"

namespace kxtest {

class FileFolder {
 public:
  FileFolder() {
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, MAX_PATH);
    CreateDirectoryA(windows, nullptr);  // there already, except on a bare host machine
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    folder_ = std::string(windows) + "\\KX" + test->name();
    CreateDirectoryA(folder_.c_str(), nullptr);
  }

  const std::string& folder() const { return folder_; }
  std::string Path(const std::string& name) const { return folder_ + "\\" + name; }

 private:
  std::string folder_;
};

// The file's bytes; "<missing>" when it cannot be opened.
inline std::string ReadWholeFile(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "<missing>";
  std::string bytes;
  char block[4096];
  DWORD got = 0;
  while (ReadFile(file, block, sizeof block, &got, nullptr) && got > 0) bytes.append(block, got);
  CloseHandle(file);
  return bytes;
}

inline bool WriteWholeFile(const std::string& path, const std::string& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok =
      WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == bytes.size();
}

}  // namespace kxtest
