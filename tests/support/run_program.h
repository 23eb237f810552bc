// Running a host program to its end from a test.
#pragma once

#include <string>
#include <vector>

namespace kxtest {

struct ProgramRun {
  int status = -1;     // exit code; -1 when it did not exit normally
  std::string output;  // standard output and error together
};

// Runs `argv` (argv[0] a path) to its end; it inherits the test's machine.
// Its output goes to a file rather than a pipe: programs it starts (a shell
// that stays) keep the output open long after it ended.
ProgramRun RunProgram(const std::vector<std::string>& argv);

}  // namespace kxtest
