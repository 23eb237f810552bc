// The library's entry points: what RunDLL32, the uninstaller and the
// platform's loader call.
#pragma once

#include "platform.h"

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);

// Installation phases, called by RunDLL32: the window owns the error boxes;
// the instance and the show command are not used.
void WINAPI SchedulePrinterInstallation(HWND window, HINSTANCE instance, LPSTR command_line,
                                        int show);
void WINAPI StartPrinterInstallation(HWND window, HINSTANCE instance, LPSTR command_line, int show);
void WINAPI CompletePrinterInstallation(HWND window, HINSTANCE instance, LPSTR command_line,
                                        int show);

// Uninstall hooks; the arguments are not used.
int WINAPI UninstInitialize(DWORD first, DWORD second, DWORD third);
int WINAPI UninstUnInitialize(DWORD first, DWORD second, DWORD third);

}  // extern "C"

// Deletes the printer's device key with everything beneath it. Exported
// under its C++ name.
void CleanPnpKeys();
