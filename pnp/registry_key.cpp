#include "registry_key.h"

#include <utility>

RegistryKey::RegistryKey(RegistryKey&& other) noexcept : key_(std::exchange(other.key_, nullptr)) {}

RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept {
  if (this != &other) {
    Close();
    key_ = std::exchange(other.key_, nullptr);
  }
  return *this;
}

RegistryKey::~RegistryKey() {
  // Closing on the way out must not disturb the error a caller reads next.
  DWORD last_error = GetLastError();
  Close();
  SetLastError(last_error);
}

LONG RegistryKey::Close() {
  if (!key_) return ERROR_SUCCESS;
  return RegCloseKey(std::exchange(key_, nullptr));
}

RegistryKey OpenRegistryKey(HKEY parent, const char* path) {
  HKEY key = nullptr;
  if (RegOpenKeyA(parent, path, &key) != ERROR_SUCCESS) return RegistryKey();
  return RegistryKey(key);
}

RegistryKey CreateRegistryKey(HKEY parent, const char* path) {
  HKEY key = nullptr;
  if (RegCreateKeyA(parent, path, &key) != ERROR_SUCCESS) return RegistryKey();
  return RegistryKey(key);
}
