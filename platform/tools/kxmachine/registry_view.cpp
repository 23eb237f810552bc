// `kxmachine keys [path]`: the keys and values below a path, read through the
// platform's own registry calls. Values are shown typed; text as text when it
// is plain text with its one terminating zero, otherwise with its bytes.
#include <cstdio>
#include <vector>

#include "host.h"
#include "kxmachine.h"
#include "registry_access.h"

namespace kxmachine {
namespace {

constexpr const char* kRootName = "HKEY_LOCAL_MACHINE";

// An open key below `parent` ("" for the parent itself).
kxtools::UniqueKey OpenKey(HKEY parent, const std::string& path) {
  kxtools::UniqueKey key;
  RegOpenKeyExA(parent, path.c_str(), 0, KEY_READ, key.put());
  return key;
}

const char* TypeName(DWORD type) {
  switch (type) {
    case REG_NONE:
      return "REG_NONE";
    case REG_SZ:
      return "REG_SZ";
    case REG_EXPAND_SZ:
      return "REG_EXPAND_SZ";
    case REG_BINARY:
      return "REG_BINARY";
    case REG_DWORD:
      return "REG_DWORD";
    case REG_MULTI_SZ:
      return "REG_MULTI_SZ";
    default:
      return nullptr;
  }
}

bool IsPlainText(const std::vector<BYTE>& data) {
  if (data.empty() || data.back() != 0) return false;
  for (size_t i = 0; i + 1 < data.size(); ++i)
    if (data[i] < 0x20 || data[i] >= 0x7f) return false;
  return true;
}

std::string ValueText(DWORD type, const std::vector<BYTE>& data) {
  std::string type_text = TypeName(type) ? TypeName(type) : "type " + std::to_string(type);
  if ((type == REG_SZ || type == REG_EXPAND_SZ) && IsPlainText(data))
    return type_text + "  \"" + std::string(data.begin(), data.end() - 1) + "\"";
  if (type == REG_DWORD && data.size() == 4) {
    DWORD value = data[0] | data[1] << 8 | data[2] << 16 | static_cast<DWORD>(data[3]) << 24;
    char number[16];
    std::snprintf(number, sizeof number, "0x%08x", value);
    return type_text + "  " + number + " (" + std::to_string(value) + ")";
  }
  std::string shown = type_text + "  " + std::to_string(data.size()) +
                      " bytes: " + HexBytes(data.data(), data.size());
  if (type == REG_SZ || type == REG_EXPAND_SZ) {
    std::string readings = Readings(std::string(data.begin(), data.end()));
    if (!readings.empty()) shown += "\n" + std::string(31, ' ') + readings;
  }
  return shown;
}

void ShowValues(HKEY key) {
  std::vector<kxtools::RegistryValue> values;
  kxtools::ReadRegistryValues(key, &values);
  for (const auto& value : values)
    std::printf("    %-24s %s\n",
                value.name.empty() ? "(default)" : ("\"" + Printable(value.name) + "\"").c_str(),
                ValueText(value.type, value.data).c_str());
}

void ShowTree(HKEY key, const std::string& path) {
  std::printf("%s%s%s\n", kRootName, path.empty() ? "" : "\\", Printable(path).c_str());
  ShowValues(key);
  char name[256];
  for (DWORD index = 0; RegEnumKeyA(key, index, name, sizeof name) == ERROR_SUCCESS; ++index) {
    kxtools::UniqueKey child = OpenKey(key, name);
    if (child) ShowTree(child.get(), path.empty() ? name : path + "\\" + name);
  }
}

// "HKEY_LOCAL_MACHINE\x", "HKLM\x" and "x" all name x.
std::string PathBelowRoot(std::string path) {
  for (std::string_view prefix : {std::string_view(kRootName), std::string_view("HKLM")}) {
    if (kxhost::EqualsNoCase(path.substr(0, prefix.size()), prefix) &&
        (path.size() == prefix.size() || path[prefix.size()] == '\\')) {
      path.erase(0, std::min(path.size(), prefix.size() + 1));
      break;
    }
  }
  while (!path.empty() && path.back() == '\\') path.pop_back();
  return path;
}

}  // namespace

int ShowKeys(const std::string& path) {
  std::string below = PathBelowRoot(path);
  kxtools::UniqueKey key = OpenKey(HKEY_LOCAL_MACHINE, below);
  if (!key) {
    std::printf("%s\\%s\n    (no such key)\n", kRootName, Printable(below).c_str());
    return 1;
  }
  ShowTree(key.get(), below);
  return 0;
}

}  // namespace kxmachine
