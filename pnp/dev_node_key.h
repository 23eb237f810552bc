// The printer's device key (its device node) for the length of a phase:
// the model name is read from it, the configuration flags written to it.
#pragma once

#include <string>

#include "registry_key.h"

class DevNodeKey {
 public:
  // Opens `key_path` below HKEY_LOCAL_MACHINE; when that fails the object
  // holds no key and every operation reports nothing found or failure.
  explicit DevNodeKey(const char* key_path);

  // The "Model" text; empty when the key is not open, when "Model" is
  // missing, not REG_SZ or empty, or cannot be read.
  std::string GetModel() const;

  // With true writes "ConfigFlags" as four zero bytes of REG_BINARY, with
  // false deletes it. 1 on success, 0 on failure.
  int SetConfigFlags(bool set);

 private:
  RegistryKey key_;
};
