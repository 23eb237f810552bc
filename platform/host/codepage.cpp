// The machine's active code page and its lead bytes, and the 8-bit text
// helpers of the platform.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host.h"

namespace {

// Read once for each opening of the store: tests switch machines.
UINT ActiveCodePage() {
  static const kxhost::Store* read_from = nullptr;
  static uint64_t read_generation = 0;
  static UINT code_page = 1252;
  auto& store = kxhost::Store::Get();
  if (read_from != &store || read_generation != kxhost::Store::Generation()) {
    auto setting = store.Setting("codepage");
    // A setting that is no number leaves the default, as a machine without one.
    unsigned long number = setting ? std::strtoul(setting->c_str(), nullptr, 10) : 0;
    code_page = number ? static_cast<UINT>(number) : 1252u;
    read_from = &store;
    read_generation = kxhost::Store::Generation();
  }
  return code_page;
}

}  // namespace

UINT WINAPI GetACP(void) { return ActiveCodePage(); }

BOOL WINAPI IsDBCSLeadByte(BYTE c) {
  switch (ActiveCodePage()) {
    case 932:  // Shift-JIS
      return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
    case 936:  // GBK
    case 949:  // Unified Hangul
    case 950:  // Big5
      return c >= 0x81 && c <= 0xFE;
    default:
      return FALSE;
  }
}

LPSTR WINAPI CharNextA(LPCSTR current) {
  if (!*current) return const_cast<LPSTR>(current);
  if (IsDBCSLeadByte(static_cast<BYTE>(*current)) && current[1])
    return const_cast<LPSTR>(current + 2);
  return const_cast<LPSTR>(current + 1);
}

int WINAPI lstrlenA(LPCSTR text) { return text ? static_cast<int>(std::strlen(text)) : 0; }

LPSTR WINAPI lstrcpyA(LPSTR destination, LPCSTR source) { return std::strcpy(destination, source); }

LPSTR WINAPI lstrcatA(LPSTR destination, LPCSTR source) { return std::strcat(destination, source); }

int WINAPI lstrcmpA(LPCSTR a, LPCSTR b) { return std::strcmp(a, b); }

// The platform's formatter writes at most 1024 bytes, zero included; %ld is
// a 32-bit long there, which the host's vsnprintf reads as its own long, so
// the arguments are taken as the platform's (32-bit) integers.
int wsprintfA(LPSTR buffer, LPCSTR format, ...) {
  std::string host_format;
  for (const char* p = format; *p; ++p) {
    host_format += *p;
    if (*p == '%' && p[1] == 'l' && (p[2] == 'd' || p[2] == 'u' || p[2] == 'x')) ++p;
  }
  va_list args;
  va_start(args, format);
  int written = std::vsnprintf(buffer, 1024, host_format.c_str(), args);
  va_end(args);
  return written < 0 ? 0 : (written > 1023 ? 1023 : written);
}
