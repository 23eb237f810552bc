// Bytes of the machine shown on a terminal.
#include <iconv.h>

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

namespace {

// `bytes` decoded from a double-byte code page into UTF-8; empty when they
// are not text of that code page.
std::string Decoded(const std::string& bytes, const char* code_page) {
  iconv_t converter = iconv_open("UTF-8", code_page);
  if (converter == reinterpret_cast<iconv_t>(-1)) return std::string();
  std::string input = bytes;
  std::string output(bytes.size() * 4 + 4, '\0');
  char* in = input.data();
  size_t in_left = input.size();
  char* out = output.data();
  size_t out_left = output.size();
  size_t result = iconv(converter, &in, &in_left, &out, &out_left);
  iconv_close(converter);
  if (result == static_cast<size_t>(-1) || in_left != 0) return std::string();
  output.resize(output.size() - out_left);
  return output;
}

}  // namespace

std::string Readings(const std::string& bytes) {
  std::string text = bytes;
  while (!text.empty() && text.back() == '\0') text.pop_back();
  bool ascii = true;
  for (unsigned char c : text) ascii = ascii && c >= 0x20 && c < 0x7f;
  if (ascii || text.find('\0') != std::string::npos) return std::string();
  std::string readings;
  // The bytes say nothing of their code page: show what they spell in each
  // double-byte code page that the installer writes.
  const struct {
    const char* iconv_name;
    const char* shown;
  } code_pages[] = {{"CP936", "936"}, {"CP949", "949"}};
  for (const auto& code_page : code_pages) {
    std::string decoded = Decoded(text, code_page.iconv_name);
    if (decoded.empty()) continue;
    readings += readings.empty() ? "reads " : ", ";
    readings += "\"" + decoded + "\" in code page " + code_page.shown;
  }
  return readings;
}

}  // namespace kxmachine
