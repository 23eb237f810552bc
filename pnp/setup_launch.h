// Starting the setup program from the installation source directory.
#pragma once

#include <string>

// How often a failed start of the setup program is tried in all, and the
// pause between tries.
constexpr int kSetupStartAttempts = 5;
constexpr unsigned kSetupStartRetryPauseMs = 1000;

// The setup program in `source_directory`: "SETUP.EXE" appended when its
// last byte is a backslash (so also after a double-byte character whose
// second byte is 0x5C), "\Setup.Exe" otherwise.
std::string SetupProgramPath(const std::string& source_directory);

// Starts `program_path` without arguments in the current directory and
// does not wait for it; the new process's handles are closed at once.
// Tries kSetupStartAttempts times, kSetupStartRetryPauseMs apart. True
// when the process was started.
bool StartSetupProgram(const std::string& program_path);
