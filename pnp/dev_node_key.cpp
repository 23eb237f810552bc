#include "dev_node_key.h"

#include <cstring>
#include <vector>

namespace {

constexpr const char* kModelValue = "Model";
constexpr const char* kConfigFlagsValue = "ConfigFlags";

}  // namespace

DevNodeKey::DevNodeKey(const char* key_path)
    : key_(OpenRegistryKey(HKEY_LOCAL_MACHINE, key_path)) {}

std::string DevNodeKey::GetModel() const {
  if (!key_) return std::string();
  DWORD type = REG_NONE;
  DWORD size = 0;
  if (RegQueryValueExA(key_.get(), kModelValue, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      type != REG_SZ || size == 0)
    return std::string();
  std::vector<char> data(size);
  DWORD read = size;
  if (RegQueryValueExA(key_.get(), kModelValue, nullptr, nullptr,
                       reinterpret_cast<LPBYTE>(data.data()), &read) != ERROR_SUCCESS)
    return std::string();
  // The name ends at the first zero; data stored without one is taken whole.
  const char* text = data.data();
  size_t limit = read < size ? read : size;
  const void* zero = std::memchr(text, 0, limit);
  return std::string(text, zero ? static_cast<const char*>(zero) - text : limit);
}

int DevNodeKey::SetConfigFlags(bool set) {
  if (!key_) return 0;
  LONG status;
  if (set) {
    const BYTE zero_flags[4] = {0, 0, 0, 0};
    status =
        RegSetValueExA(key_.get(), kConfigFlagsValue, 0, REG_BINARY, zero_flags, sizeof zero_flags);
  } else {
    status = RegDeleteValueA(key_.get(), kConfigFlagsValue);
  }
  return status == ERROR_SUCCESS ? 1 : 0;
}
