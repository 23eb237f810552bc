#include "command_line.h"

#include "platform.h"

PhaseCommandLine SplitCommandLine(const char* command_line) {
  if (!command_line) return PhaseCommandLine();
  // Step by characters: the second byte of a double-byte character is
  // never taken for a space.
  const char* position = command_line;
  while (*position && *position != ' ') position = CharNextA(position);
  if (*position == ' ' && position != command_line)
    return {std::string(command_line, position), std::string(position + 1)};
  return {std::string(command_line), std::string()};
}
