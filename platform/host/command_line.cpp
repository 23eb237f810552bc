// Command lines as the platform's start-up code and C runtime read them: the
// program name skipped, the arguments split with their quotes and
// backslashes.
#include "host.h"

namespace kxhost {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

const char* CommandLineArguments(const char* command_line) {
  const char* p = command_line;
  if (!p) return "";
  // The name ends at the first blank or control character outside quotes;
  // the second byte of a double-byte character is never taken for either.
  bool quoted = false;
  while (static_cast<unsigned char>(*p) > ' ' || (*p && quoted)) {
    if (*p == '"') quoted = !quoted;
    if (IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1]) ++p;
    ++p;
  }
  while (*p && static_cast<unsigned char>(*p) <= ' ') ++p;
  return p;
}

std::vector<std::string> SplitCommandLineArguments(std::string_view text) {
  std::vector<std::string> arguments;
  size_t i = 0;
  for (;;) {
    while (i < text.size() && IsBlank(text[i])) ++i;
    if (i >= text.size()) break;
    std::string argument;
    bool quoted = false;
    while (i < text.size() && (quoted || !IsBlank(text[i]))) {
      size_t backslashes = 0;
      while (i < text.size() && text[i] == '\\') {
        ++backslashes;
        ++i;
      }
      if (i < text.size() && text[i] == '"') {
        // 2n backslashes and a quote: n backslashes, the quote delimits;
        // 2n+1: n backslashes and a literal quote.
        argument.append(backslashes / 2, '\\');
        if (backslashes % 2) {
          argument += '"';
        } else if (quoted && i + 1 < text.size() && text[i + 1] == '"') {
          argument += '"';  // "" inside quotes is one literal quote
          ++i;
        } else {
          quoted = !quoted;
        }
        ++i;
      } else {
        argument.append(backslashes, '\\');
        if (i < text.size() && (quoted || !IsBlank(text[i]))) argument += text[i++];
      }
    }
    arguments.push_back(std::move(argument));
  }
  return arguments;
}

}  // namespace kxhost
