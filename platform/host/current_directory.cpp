// The process's current directory, as SetCurrentDirectoryA and
// GetCurrentDirectoryA see it: a Windows path that must name an existing
// directory of the machine.
#include <cstring>

#include "host.h"

BOOL WINAPI SetCurrentDirectoryA(LPCSTR path) {
  if (!path || !*path) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (auto error = kxhost::TakeFault("SetCurrentDirectoryA", path)) {
    SetLastError(*error);
    return FALSE;
  }
  kxhost::MachineFile directory = kxhost::ResolveMachineFile(path);
  if (directory.windows.empty()) {
    SetLastError(ERROR_INVALID_NAME);
    return FALSE;
  }
  std::error_code error;
  const auto& host = directory.host;
  if (!std::filesystem::is_directory(host, error)) {
    // As the platform: a missing last component is "file not found", a
    // missing directory on the way "path not found", a file "not a directory".
    DWORD code = std::filesystem::exists(host, error)                       ? ERROR_DIRECTORY
                 : std::filesystem::is_directory(host.parent_path(), error) ? ERROR_FILE_NOT_FOUND
                                                                            : ERROR_PATH_NOT_FOUND;
    SetLastError(code);
    return FALSE;
  }
  kxhost::SetCurrentDirectoryPath(directory.windows);
  return TRUE;
}

DWORD WINAPI GetCurrentDirectoryA(DWORD size, LPSTR buffer) {
  std::string current = kxhost::CurrentDirectory();
  // Too small: the size needed, zero included, and the buffer untouched.
  if (!buffer || size <= current.size()) return static_cast<DWORD>(current.size() + 1);
  std::memcpy(buffer, current.c_str(), current.size() + 1);
  return static_cast<DWORD>(current.size());
}
