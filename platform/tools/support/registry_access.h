// What the tools share in reading the registry: an owned key and the values
// of a key read whole. Written over the platform header alone, for the host
// tools and for the Wine tests' shell.
#pragma once

#include <string>
#include <vector>

#include "platform.h"

namespace kxtools {

// An open registry key, closed when the object goes; closing keeps the
// thread's last error as it was.
class UniqueKey {
 public:
  UniqueKey() = default;
  explicit UniqueKey(HKEY key) : key_(key) {}
  UniqueKey(UniqueKey&& other) noexcept : key_(other.key_) { other.key_ = nullptr; }
  UniqueKey& operator=(UniqueKey&& other) noexcept;
  UniqueKey(const UniqueKey&) = delete;
  UniqueKey& operator=(const UniqueKey&) = delete;
  ~UniqueKey() { reset(); }

  HKEY get() const { return key_; }
  explicit operator bool() const { return key_ != nullptr; }
  // Closes the key held and gives the place for a new one.
  HKEY* put() {
    reset();
    return &key_;
  }
  void reset();

 private:
  HKEY key_ = nullptr;
};

struct RegistryValue {
  std::string name;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

// Reads every value of `key`, in the platform's order, into `values`.
// Gives ERROR_SUCCESS, or the error of the read that failed.
LONG ReadRegistryValues(HKEY key, std::vector<RegistryValue>* values);

}  // namespace kxtools
