// The failure log: section "ZEBLIN" of WIN.INI in the system directory, one
// key per failed spooler operation.
#include "setup.h"

namespace {
// The system directory is asked with a 255-byte limit.
constexpr UINT kSystemDirectoryLimit = 255;
constexpr char kLogFileName[] = "\\WIN.INI";
}  // namespace

void LogSetupError(LPCSTR operation) {
  // First, before any other call can change it.
  const LONG code = static_cast<LONG>(GetLastError());
  char value[32];
  wsprintfA(value, "Error code : %ld", code);
  char path[MAX_PATH] = "";
  const UINT length = GetSystemDirectoryA(path, kSystemDirectoryLimit);
  // No path to write to, or none within the platform's path limit: a
  // directory of up to 254 bytes may leave no room for "\WIN.INI".
  if (length == 0 || length >= kSystemDirectoryLimit || length + sizeof kLogFileName > sizeof path)
    return;
  lstrcatA(path, kLogFileName);
  WritePrivateProfileStringA("ZEBLIN", operation, value, path);
}
