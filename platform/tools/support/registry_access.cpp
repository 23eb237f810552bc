#include "registry_access.h"

#include <utility>

namespace kxtools {

UniqueKey& UniqueKey::operator=(UniqueKey&& other) noexcept {
  if (this != &other) {
    reset();
    key_ = std::exchange(other.key_, nullptr);
  }
  return *this;
}

void UniqueKey::reset() {
  if (!key_) return;
  DWORD error = GetLastError();
  RegCloseKey(key_);
  SetLastError(error);
  key_ = nullptr;
}

LONG ReadRegistryValues(HKEY key, std::vector<RegistryValue>* values) {
  values->clear();
  // The longest value name the platform allows, zero included.
  std::vector<char> name(16384);
  std::vector<BYTE> data(1024);
  for (DWORD index = 0;;) {
    DWORD name_size = static_cast<DWORD>(name.size());
    DWORD data_size = static_cast<DWORD>(data.size());
    DWORD type = REG_NONE;
    LONG status =
        RegEnumValueA(key, index, name.data(), &name_size, nullptr, &type, data.data(), &data_size);
    if (status == ERROR_MORE_DATA && data_size > data.size()) {
      // Grow to what the value asks for and read the same index again.
      data.resize(data_size);
      continue;
    }
    if (status == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (status != ERROR_SUCCESS) return status;
    values->push_back({std::string(name.data(), name_size), type,
                       std::vector<BYTE>(data.begin(), data.begin() + data_size)});
    ++index;
  }
}

}  // namespace kxtools
