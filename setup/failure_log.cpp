// The failure log: section "ZEBLIN" of WIN.INI in the system directory, one
// key per failed spooler operation.
#include "setup.h"

namespace {
// The system directory is asked with a 255-byte limit, leaving room for
// "\WIN.INI" in a path buffer.
constexpr UINT kSystemDirectoryLimit = 255;
}  // namespace

void LogSetupError(LPCSTR operation) {
  // First, before any other call can change it.
  const LONG code = static_cast<LONG>(GetLastError());
  char value[32];
  wsprintfA(value, "Error code : %ld", code);
  char path[MAX_PATH] = "";
  const UINT length = GetSystemDirectoryA(path, kSystemDirectoryLimit);
  if (length == 0 || length >= kSystemDirectoryLimit) return;  // no path to write to
  lstrcatA(path, "\\WIN.INI");
  WritePrivateProfileStringA("ZEBLIN", operation, value, path);
}
