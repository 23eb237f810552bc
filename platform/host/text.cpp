// ASCII case folding, as the platform matches registry and file names.
#include "host.h"

namespace kxhost {

std::string FoldCase(std::string_view text) {
  std::string folded(text);
  for (char& c : folded)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return folded;
}

bool EqualsNoCase(std::string_view a, std::string_view b) { return FoldCase(a) == FoldCase(b); }

}  // namespace kxhost
