// String resources: LoadStringA over the string table that a module
// exports (string_resources.h), with the platform's semantics.
#include <cstring>

#include "host.h"
#include "string_resources.h"

int WINAPI LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int size) {
  // The platform answers a zero size with -1 and touches nothing; a
  // negative one, which it would take for a huge buffer, is answered alike.
  if (size < 1) return -1;
  if (auto error = kxhost::TakeFault("LoadStringA", std::to_string(id))) {
    if (buffer) buffer[0] = '\0';
    SetLastError(*error);
    return 0;
  }
  auto* table =
      static_cast<const KxStringResource*>(kxhost::ModuleSymbol(instance, KX_STRING_TABLE_SYMBOL));
  // The platform keeps strings in blocks of 16 ids: an id whose block
  // exists but that has no text gives an empty string and no error.
  const char* text = nullptr;
  bool block_found = false;
  for (auto* entry = table; entry && entry->text; ++entry) {
    if ((entry->id >> 4) == ((id & 0xFFFF) >> 4)) block_found = true;
    if (entry->id == (id & 0xFFFF)) {
      text = entry->text;
      break;
    }
  }
  if (!block_found)
    SetLastError(table ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
  if (!buffer) return 0;
  // At most size-1 bytes, never half of a double-byte character, and the zero.
  size_t copied = 0;
  size_t length = text ? std::strlen(text) : 0;
  size_t room = static_cast<size_t>(size) - 1;
  while (copied < length) {
    size_t step = (IsDBCSLeadByte(static_cast<BYTE>(text[copied])) && copied + 1 < length) ? 2 : 1;
    if (copied + step > room) break;
    copied += step;
  }
  if (copied) std::memcpy(buffer, text, copied);
  buffer[copied] = '\0';
  return static_cast<int>(copied);
}
