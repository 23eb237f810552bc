// The setup program's entry point: one fixed sequence, once. Its arguments
// and show state are not looked at, and it ends with 0 whatever failed.
#include "setup.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  LocateDirectories(instance);
  RemoveOldPrinter();
  AddPortMonitor();
  AddKx51Driver();
  AddKx51Printer();
  // Gives the spooler time to settle the new printer before it is changed.
  WaitSeconds(1);
  MakeDefaultPrinter();
  WriteStatusMonitorStrings();
  InstallInfFile("WIN95.INF");
  return 0;
}
