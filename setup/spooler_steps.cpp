// The spooler steps of the sequence: remove an old printer of the name, add
// the port monitor, the driver and the printer on LPT1:, and make the
// printer the default printer. Each failure is logged under the operation's
// name right after it, and the sequence goes on.
#include "heap_buffer.h"
#include "scoped_handles.h"
#include "setup.h"

// "凯仑激光打印机 云岭 KX51" (GB2312, 24 bytes): the printer's and the driver's
// name.
char PrinterName[25] =
    "\xBF\xAD\xC2\xD8\xBC\xA4\xB9\xE2\xB4\xF2\xD3\xA1\xBB\xFA \xD4\xC6\xC1\xEB KX51";

namespace {

// The spooler's structures point to writable texts. The monitor's name, its
// library and the driver's monitor share this one empty text.
char EmptyText[] = "";
char MonitorEnvironment[] = "Windows x86";
char DriverFile[] = "KX51.DRV";
char HelpFile[] = "KX51.HLP";
// Each name ends with a zero; the list ends with one more (the literal's).
char DependentFiles[] = "QRN16V40.DLL\0KX51.DRV\0KX51CH.DLL\0LWE16V40.DLL\0KX51.HLP\0";
char EmfDatatype[] = "EMF";
char PortName[] = "LPT1:";
char PrintProcessor[] = "WinPrint";

constexpr DWORD kDriverVersion = 0x300;
constexpr DWORD kAddedAttributes = PRINTER_ATTRIBUTE_LOCAL | PRINTER_ATTRIBUTE_ENABLE_BIDI;
// Replaces whatever the spooler reported: local, bidirectional, default.
constexpr DWORD kDefaultAttributes = kAddedAttributes | PRINTER_ATTRIBUTE_DEFAULT;

// The printer buffer: the structure for the add step and, later, the
// level-2 information read back, changed and handed back.
constexpr DWORD kPrinterBufferSize = 2000;
alignas(PRINTER_INFO_2) BYTE PrinterBuffer[kPrinterBufferSize];

MONITOR_INFO_2 Monitor;
DRIVER_INFO_3 Driver;

// Handles that may delete the printer and read and write its information.
PRINTER_DEFAULTS PrinterAccess = {nullptr, nullptr, PRINTER_ALL_ACCESS};

PrinterHandle OpenKx51Printer() {
  HANDLE opened = nullptr;
  if (!OpenPrinterA(PrinterName, &opened, &PrinterAccess)) return PrinterHandle();
  return PrinterHandle(opened);
}

}  // namespace

void RemoveOldPrinter() {
  // No printer of the name is the usual case: nothing to log.
  PrinterHandle printer = OpenKx51Printer();
  if (printer.valid()) DeletePrinter(printer.get());
}

void AddPortMonitor() {
  Monitor.pName = EmptyText;
  Monitor.pEnvironment = MonitorEnvironment;
  Monitor.pDLLName = EmptyText;
  if (!AddMonitorA(nullptr, 2, reinterpret_cast<LPBYTE>(&Monitor))) LogSetupError("AddMonitor");
}

void AddKx51Driver() {
  Driver = DRIVER_INFO_3{};
  Driver.cVersion = kDriverVersion;
  Driver.pName = PrinterName;
  Driver.pEnvironment = nullptr;  // the spooler's own
  Driver.pDriverPath = DriverFile;
  Driver.pDataFile = DriverFile;
  Driver.pConfigFile = DriverFile;
  Driver.pHelpFile = HelpFile;
  Driver.pDependentFiles = DependentFiles;
  Driver.pMonitorName = EmptyText;
  Driver.pDefaultDataType = EmfDatatype;
  if (!AddPrinterDriverA(nullptr, 3, reinterpret_cast<LPBYTE>(&Driver)))
    LogSetupError("AddPrinterDriver");
}

void AddKx51Printer() {
  // Only the structure at the buffer's start is zeroed.
  auto* printer = reinterpret_cast<PRINTER_INFO_2*>(PrinterBuffer);
  *printer = PRINTER_INFO_2{};
  printer->pPrinterName = PrinterName;
  printer->pPortName = PortName;
  printer->pDriverName = PrinterName;
  printer->pPrintProcessor = PrintProcessor;
  printer->pDatatype = EmfDatatype;
  printer->Attributes = kAddedAttributes;
  printer->Priority = 1;
  printer->Status = 0;
  HANDLE added = AddPrinterA(nullptr, 2, PrinterBuffer);
  if (!added) {
    LogSetupError("AddPrinter");
    return;
  }
  PrinterHandle not_used(added);  // closed at once
}

namespace {

// The four changes that make the printer the default one, made in its
// level-2 information as the spooler gave it, and handed back.
void SetDefaultMembers(HANDLE printer, LPBYTE information) {
  auto* info = reinterpret_cast<PRINTER_INFO_2*>(information);
  info->pPortName = PortName;
  info->pDriverName = PrinterName;
  info->pPrintProcessor = PrintProcessor;
  info->Attributes = kDefaultAttributes;
  if (!SetPrinterA(printer, 2, information, PRINTER_CONTROL_SET_STATUS))
    LogSetupError("SetPrinter");
}

}  // namespace

void MakeDefaultPrinter() {
  PrinterHandle printer = OpenKx51Printer();
  if (!printer.valid()) {
    LogSetupError("OpenPrinter");
    return;
  }
  DWORD needed = 0;
  if (GetPrinterA(printer.get(), 2, PrinterBuffer, kPrinterBufferSize, &needed)) {
    SetDefaultMembers(printer.get(), PrinterBuffer);
    return;
  }
  // Information larger than the printer buffer is read once more into a
  // buffer of the size the spooler asked for.
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed <= kPrinterBufferSize) {
    LogSetupError("GetPrinter");
    return;
  }
  HeapBuffer larger(needed);
  if (!larger.valid() || !GetPrinterA(printer.get(), 2, larger.get(), needed, &needed)) {
    LogSetupError("GetPrinter");
    return;
  }
  SetDefaultMembers(printer.get(), larger.get());
}
