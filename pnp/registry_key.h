// An open registry key, closed when the object goes.
#pragma once

#include "platform.h"

class RegistryKey {
 public:
  RegistryKey() = default;
  explicit RegistryKey(HKEY key) : key_(key) {}
  RegistryKey(RegistryKey&& other) noexcept;
  RegistryKey& operator=(RegistryKey&& other) noexcept;
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;
  ~RegistryKey();

  HKEY get() const { return key_; }
  explicit operator bool() const { return key_ != nullptr; }

  // Closes the key now, for callers that need the result of the closing.
  LONG Close();

 private:
  HKEY key_ = nullptr;
};

// Opens (RegOpenKeyA) or creates (RegCreateKeyA) `path` below `parent`;
// the key is not open when that fails.
RegistryKey OpenRegistryKey(HKEY parent, const char* path);
RegistryKey CreateRegistryKey(HKEY parent, const char* path);
