// main() for host programs that define WinMain: the process is set up as
// the platform sets up a program, and WinMain gets the command line after
// the program's name.
#include "host.h"

int main(int, char**) {
  std::string program = kxhost::ProgramWindowsPath();
  if (!program.empty()) kxhost::SetProcessLabel(program.substr(program.find_last_of('\\') + 1));
  LPSTR arguments = const_cast<LPSTR>(kxhost::CommandLineArguments(GetCommandLineA()));
  return WinMain(GetModuleHandleA(nullptr), nullptr, arguments, kxhost::StartShowCommand());
}
