// Bytes of the machine shown on a terminal.
#include <cstdio>

#include "kxmachine.h"

namespace kxmachine {

std::string Printable(const std::string& bytes) {
  std::string shown;
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7f) {
      shown += static_cast<char>(c);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
      shown += escaped;
    }
  }
  return shown;
}

std::string HexBytes(const unsigned char* data, size_t size) {
  std::string hex;
  for (size_t i = 0; i < size; ++i) {
    char byte[4];
    std::snprintf(byte, sizeof byte, "%02x", data[i]);
    if (i) hex += ' ';
    hex += byte;
  }
  return hex;
}

}  // namespace kxmachine
