// `kxmachine printers`: the machine's printers, their drivers and monitors,
// and the default printer, as the spooler keeps them.
#include <cstdio>

#include "host.h"
#include "kxmachine.h"

namespace kxmachine {

int ShowPrinters() {
  auto printers = kxhost::Printers();
  std::string default_name;
  if (printers.empty()) std::printf("printers: (none)\n");
  for (const auto& printer : printers) {
    if (printer.is_default) default_name = printer.name;
    std::printf("printer \"%s\"%s\n    port %s, driver \"%s\", attributes 0x%08lx, status %lu\n",
                Printable(printer.name).c_str(), printer.is_default ? "  (default)" : "",
                Printable(printer.port).c_str(), Printable(printer.driver).c_str(),
                // As GetPrinterA reports them: the default printer carries 0x4.
                static_cast<unsigned long>(printer.attributes |
                                           (printer.is_default ? PRINTER_ATTRIBUTE_DEFAULT : 0)),
                static_cast<unsigned long>(printer.status));
    std::string readings = Readings(printer.name);
    if (!readings.empty()) std::printf("    its name %s\n", readings.c_str());
  }
  for (const auto& driver : kxhost::PrinterDrivers())
    std::printf(
        "driver \"%s\" (%s, version %lu)\n    %s, data %s, config %s, help %s, monitor %s\n",
        Printable(driver.name).c_str(), Printable(driver.environment).c_str(),
        static_cast<unsigned long>(driver.version), Printable(driver.driver_path).c_str(),
        Printable(driver.data_file).c_str(), Printable(driver.config_file).c_str(),
        Printable(driver.help_file).c_str(), Printable(driver.monitor).c_str());
  for (const auto& monitor : kxhost::PrintMonitors())
    std::printf("monitor \"%s\" (%s), %s\n", Printable(monitor.name).c_str(),
                Printable(monitor.environment).c_str(), Printable(monitor.dll).c_str());
  std::printf("default printer: %s\n",
              default_name.empty() ? "(none)" : ("\"" + Printable(default_name) + "\"").c_str());
  return 0;
}

}  // namespace kxmachine
