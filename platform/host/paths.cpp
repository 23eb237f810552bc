// Windows paths on the machine folder: drive C: is drive_c, names are found
// regardless of letter case as the platform's file system finds them.
#include <cctype>
#include <cstdlib>
#include <mutex>

#include "host.h"

namespace kxhost {
namespace {

// The environment variable through which a started process inherits its
// parent's current directory.
constexpr const char* kCurrentDirectoryVariable = "KX51_CWD";

std::string& CurrentDirectoryStorage() {
  static std::string current = [] {
    const char* inherited = std::getenv(kCurrentDirectoryVariable);
    std::string full = inherited ? FullWindowsPath(inherited) : std::string();
    return full.empty() ? std::string("C:\\") : full;
  }();
  return current;
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

std::string CurrentDirectory() { return CurrentDirectoryStorage(); }

void SetCurrentDirectoryPath(const std::string& windows_path) {
  CurrentDirectoryStorage() = windows_path;
  setenv(kCurrentDirectoryVariable, windows_path.c_str(), 1);
}

std::string FullWindowsPath(std::string_view path) {
  std::string drive;
  std::string_view rest = path;
  std::string base;
  if (path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]))) {
    drive =
        std::string(1, static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])))) + ":";
    rest = path.substr(2);
    if (rest.empty() || !IsSeparator(rest[0])) {
      // "C:name": relative to the current directory when it is on that drive.
      std::string current = CurrentDirectory();
      base = current.compare(0, 2, drive) == 0 ? current.substr(2) : "\\";
    }
  } else if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    return std::string();  // UNC names are no part of the machine
  } else {
    std::string current = CurrentDirectory();
    drive = current.substr(0, 2);
    base = (!rest.empty() && IsSeparator(rest[0])) ? std::string() : current.substr(2);
  }
  std::vector<std::string> parts;
  auto take = [&](std::string_view text) {
    size_t start = 0;
    while (start <= text.size()) {
      size_t end = start;
      while (end < text.size() && !IsSeparator(text[end])) ++end;
      std::string_view part = text.substr(start, end - start);
      if (part == "..") {
        if (!parts.empty()) parts.pop_back();
      } else if (!part.empty() && part != ".") {
        parts.emplace_back(part);
      }
      start = end + 1;
    }
  };
  take(base);
  take(rest);
  std::string full = drive + "\\";
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i) full += '\\';
    full += parts[i];
  }
  return full;
}

std::filesystem::path HostPath(std::string_view windows_path) {
  std::string full = FullWindowsPath(windows_path);
  if (full.empty()) return {};
  char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(full[0])));
  std::filesystem::path host = MachineDir() / (std::string("drive_") + letter);
  size_t start = 3;
  while (start < full.size()) {
    size_t end = full.find('\\', start);
    if (end == std::string::npos) end = full.size();
    std::string part = full.substr(start, end - start);
    std::filesystem::path next = host / part;
    std::error_code error;
    if (!std::filesystem::exists(next, error) && std::filesystem::is_directory(host, error)) {
      for (const auto& entry : std::filesystem::directory_iterator(host, error)) {
        if (EqualsNoCase(entry.path().filename().string(), part)) {
          next = entry.path();
          break;
        }
      }
    }
    host = next;
    start = end + 1;
  }
  return host;
}

std::string WindowsPathOf(const std::filesystem::path& host_path) {
  std::error_code error;
  auto machine = std::filesystem::weakly_canonical(MachineDir(), error);
  auto target = std::filesystem::weakly_canonical(host_path, error);
  auto relative = target.lexically_relative(machine);
  if (relative.empty()) return std::string();
  auto it = relative.begin();
  std::string drive = it->string();
  if (drive.size() != 7 || drive.compare(0, 6, "drive_") != 0) return std::string();
  std::string windows(1, static_cast<char>(std::toupper(static_cast<unsigned char>(drive[6]))));
  windows += ":\\";
  bool first = true;
  for (++it; it != relative.end(); ++it) {
    if (it->empty() || *it == ".") continue;
    if (!first) windows += '\\';
    windows += it->string();
    first = false;
  }
  return windows;
}

}  // namespace kxhost
