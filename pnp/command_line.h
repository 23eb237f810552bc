// The phases' command line: the device key path, one space, the source
// directory.
#pragma once

#include <string>

struct PhaseCommandLine {
  std::string device_key_path;
  std::string source_directory;
};

// Splits at the first space, found character by character in the active
// code page. No space, or a space as the very first character: the whole
// text is the key path and the directory is empty. Nothing is trimmed or
// unquoted. A null command line counts as empty.
PhaseCommandLine SplitCommandLine(const char* command_line);
