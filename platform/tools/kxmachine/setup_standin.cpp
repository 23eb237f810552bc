// A stand-in for the setup program, for machines made while the real one is
// not built: it records its start (its Windows path, its current directory
// and its command line) and exits with 0, as the setup program does.
#include "host.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char program[MAX_PATH] = "";
  GetModuleFileNameA(nullptr, program, sizeof program);
  char directory[MAX_PATH] = "";
  GetCurrentDirectoryA(sizeof directory, directory);
  kxhost::Journal("started", std::string(program) + " in " + directory,
                  std::string("command line: ") + GetCommandLineA());
  return 0;
}
