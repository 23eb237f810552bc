// The machine's Windows and system directories, laid out as the Windows 95
// family lays them.
#include <cstring>

#include "host.h"

namespace kxhost {

std::string WindowsDirectory() { return "C:\\WINDOWS"; }
std::string SystemDirectory() { return "C:\\WINDOWS\\SYSTEM"; }

}  // namespace kxhost

namespace {

// The platform's contract: the length without the zero when the buffer
// holds the path, else the size needed with the zero (buffer untouched).
UINT CopyDirectory(const std::string& path, LPSTR buffer, UINT size) {
  const UINT needed = static_cast<UINT>(path.size()) + 1;
  if (!buffer || size < needed) return needed;
  std::memcpy(buffer, path.c_str(), needed);
  return needed - 1;
}

}  // namespace

UINT WINAPI GetWindowsDirectoryA(LPSTR buffer, UINT size) {
  return CopyDirectory(kxhost::WindowsDirectory(), buffer, size);
}

UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size) {
  return CopyDirectory(kxhost::SystemDirectory(), buffer, size);
}
