// A program that records that it was started: the Wine tests plant it
// where no program should be started (for instance C:\Program.exe) and use
// it as the simplest program under test.
//
//   probe [/box TEXT CAPTION]
//
// Appends one line to C:\kxprobe.log: its own path, its command line and
// its current directory, separated by tabs. With /box it then shows a
// message box (no owner, MB_ICONERROR) with TEXT and CAPTION.
#include <windows.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  char program[MAX_PATH] = "";
  GetModuleFileNameA(nullptr, program, sizeof program);
  char directory[MAX_PATH] = "";
  GetCurrentDirectoryA(sizeof directory, directory);
  if (FILE* log = std::fopen("C:\\kxprobe.log", "ab")) {
    std::fprintf(log, "%s\t%s\t%s\n", program, GetCommandLineA(), directory);
    std::fclose(log);
  }
  if (argc == 4 && std::strcmp(argv[1], "/box") == 0)
    MessageBoxA(nullptr, argv[2], argv[3], MB_ICONERROR);
  return 0;
}
