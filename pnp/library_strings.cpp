#include "library_strings.h"

#include <vector>

namespace {

HINSTANCE string_module = nullptr;

}  // namespace

void SetStringModule(HINSTANCE module) { string_module = module; }

std::string LoadLibraryString(UINT id) {
  // LoadStringA truncates to the buffer and reports what it copied: a text
  // that filled the buffer to the last byte may have been cut, so grow and
  // load again until there is room to spare.
  std::vector<char> buffer(64);
  for (;;) {
    int copied = LoadStringA(string_module, id, buffer.data(), static_cast<int>(buffer.size()));
    if (copied <= 0) return std::string();
    if (static_cast<size_t>(copied) < buffer.size() - 1) return std::string(buffer.data(), copied);
    buffer.resize(buffer.size() * 2);
  }
}
