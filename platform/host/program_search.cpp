// Finding a program or a library as the platform does: a name with a path
// is taken as it stands, a bare name is searched along the platform's
// order of directories.
#include "host.h"

namespace kxhost {
namespace {

// The Windows 95 family's PATH after a standard installation.
constexpr const char* kDefaultPath = "C:\\WINDOWS;C:\\WINDOWS\\COMMAND";

bool HasDirectory(std::string_view name) {
  return name.find_first_of("\\/:") != std::string_view::npos;
}

// The name with the default extension when its last component has none; a
// name that ends in a dot asks for no extension (the dot itself is no part
// of a file name on the platform).
std::string WithDefaultExtension(std::string_view name, std::string_view extension) {
  size_t last = name.find_last_of("\\/:");
  std::string_view base = last == std::string_view::npos ? name : name.substr(last + 1);
  std::string result(name);
  if (base.find('.') == std::string_view::npos) return result + std::string(extension);
  while (!result.empty() && result.back() == '.') result.pop_back();
  return result;
}

bool IsMachineFile(const std::string& windows_path) {
  if (windows_path.empty()) return false;
  std::error_code error;
  return std::filesystem::is_regular_file(HostPath(windows_path), error);
}

std::string ParentOf(const std::string& windows_path) {
  size_t last = windows_path.rfind('\\');
  if (last == std::string::npos) return std::string();
  return windows_path.substr(0, last == 2 ? 3 : last);  // "C:\" keeps its backslash
}

std::vector<std::string> SearchDirectories() {
  std::vector<std::string> directories;
  if (std::string program = ProgramWindowsPath(); !program.empty())
    directories.push_back(ParentOf(program));
  directories.push_back(CurrentDirectory());
  directories.push_back(SystemDirectory());
  directories.push_back(WindowsDirectory());
  std::string path = Store::Get().Setting("path").value_or(kDefaultPath);
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(';', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) directories.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return directories;
}

}  // namespace

std::string SearchMachineFile(std::string_view name, std::string_view default_extension) {
  if (name.empty()) return std::string();
  std::string file = WithDefaultExtension(name, default_extension);
  if (HasDirectory(file)) {
    std::string full = FullWindowsPath(file);
    return IsMachineFile(full) ? full : std::string();
  }
  for (const auto& directory : SearchDirectories()) {
    std::string full = FullWindowsPath(directory + "\\" + file);
    if (IsMachineFile(full)) return full;
  }
  return std::string();
}

}  // namespace kxhost
