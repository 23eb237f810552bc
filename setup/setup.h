// The setup program: its program-wide values and the steps of its one
// sequence (WinMain runs them in order).
#pragma once

#include "platform.h"

// The printer's name, which is also its driver's name: GB2312 bytes.
extern char PrinterName[25];
// The program's own directory, ending with a backslash ("A:\").
extern char ModuleDirectory[MAX_PATH];
// The Windows INF directory, without a trailing backslash.
extern char InfDirectory[MAX_PATH];

// Sets ModuleDirectory and InfDirectory: 1, or 0 (both left empty) when the
// program's own path, or a Windows directory with room for "\INF", is not
// available.
int LocateDirectories(HINSTANCE instance);
// Cuts a full path after its last backslash (the first byte is not looked
// at; double-byte characters are stepped over whole).
void CutAfterLastBackslash(LPSTR path);

// Waits until the tick count's whole seconds have advanced by `seconds`,
// giving the processor away meanwhile.
void WaitSeconds(DWORD seconds);

// Writes the thread's last error under `operation` into the failure log.
// Called right after the failed operation.
void LogSetupError(LPCSTR operation);

// The spooler steps of the sequence; each logs its own failures.
void RemoveOldPrinter();
void AddPortMonitor();
void AddKx51Driver();
void AddKx51Printer();
void MakeDefaultPrinter();

// Writes the status monitor's four captions; always 1.
int WriteStatusMonitorStrings();

// Copies `file_name` from ModuleDirectory into InfDirectory as the first
// free OEMn.INF: 1 when copied, else 0.
int InstallInfFile(LPCSTR file_name);
