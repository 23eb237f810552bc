#include "installation_checks.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <winspool.h>

#include <cstring>
#include <map>
#include <vector>

#include "wine_machine.h"

namespace kxwine {
namespace {

// The printer's name as the setup program hands it to the spooler: GB2312.
const char kPrinterName[] =
    "\xBF\xAD\xC2\xD8\xBC\xA4\xB9\xE2\xB4\xF2\xD3\xA1\xBB\xFA \xD4\xC6\xC1\xEB KX51";

constexpr DWORD kDefaultPrinterAttributes = 0x844;

std::string InfDirectory() {
  char windows[MAX_PATH] = "";
  GetWindowsDirectoryA(windows, sizeof windows);
  return std::string(windows) + "\\INF\\";
}

// Section "ZEBLIN" of WIN.INI in the system directory: key to value.
std::map<std::string, std::string> FailureLog() {
  char system[MAX_PATH] = "";
  GetSystemDirectoryA(system, sizeof system);
  std::string file = std::string(system) + "\\WIN.INI";
  std::vector<char> section(32768);
  DWORD size = GetPrivateProfileSectionA("ZEBLIN", section.data(),
                                         static_cast<DWORD>(section.size()), file.c_str());
  std::map<std::string, std::string> entries;
  for (const char* entry = section.data(); entry < section.data() + size && *entry;
       entry += strlen(entry) + 1) {
    std::string line = entry;
    size_t equals = line.find('=');
    entries[line.substr(0, equals)] = equals == std::string::npos ? "" : line.substr(equals + 1);
  }
  return entries;
}

bool DriverInstalled() {
  DWORD needed = 0, count = 0;
  EnumPrinterDriversA(nullptr, nullptr, 1, nullptr, 0, &needed, &count);
  std::vector<BYTE> buffer(needed + 1);
  if (!EnumPrinterDriversA(nullptr, nullptr, 1, buffer.data(), needed, &needed, &count))
    return false;
  auto* drivers = reinterpret_cast<DRIVER_INFO_1A*>(buffer.data());
  for (DWORD i = 0; i < count; ++i)
    if (std::string(drivers[i].pName) == kPrinterName) return true;
  return false;
}

// The printer's level-2 attributes as stored, when the printer exists.
std::optional<DWORD> PrinterAttributes() {
  HANDLE printer = nullptr;
  if (!OpenPrinterA(const_cast<char*>(kPrinterName), &printer, nullptr)) return {};
  DWORD needed = 0;
  GetPrinterA(printer, 2, nullptr, 0, &needed);
  std::vector<BYTE> buffer(needed + 1);
  std::optional<DWORD> attributes;
  if (GetPrinterA(printer, 2, buffer.data(), needed, &needed))
    attributes = reinterpret_cast<PRINTER_INFO_2A*>(buffer.data())->Attributes;
  ClosePrinter(printer);
  return attributes;
}

}  // namespace

std::set<std::string> TakenOemInfs() {
  std::set<std::string> taken;
  for (int n = 0; n <= 998; ++n) {
    std::string name = "OEM" + std::to_string(n) + ".INF";
    if (PathExists(InfDirectory() + name)) taken.insert(name);
  }
  return taken;
}

std::string FirstFreeOemInf(const std::set<std::string>& taken) {
  for (int n = 0; n <= 998; ++n) {
    std::string name = "OEM" + std::to_string(n) + ".INF";
    if (!taken.count(name)) return name;
  }
  return "";
}

void ExpectFailureLogMatchesSpooler() {
  std::map<std::string, std::string> log = FailureLog();
  for (const auto& [key, value] : log)
    std::printf("WIN.INI [ZEBLIN] %s=%s\n", key.c_str(), value.c_str());
  EXPECT_EQ(log["AddMonitor"], "Error code : 87");

  // Each other entry stands for a failure that the spooler's state shows,
  // and each failure shown has its entry.
  bool driver = DriverInstalled();
  std::optional<DWORD> attributes = PrinterAttributes();
  bool printer = attributes.has_value() || [] {
    HANDLE handle = nullptr;
    bool opened = OpenPrinterA(const_cast<char*>(kPrinterName), &handle, nullptr);
    if (opened) ClosePrinter(handle);
    return opened;
  }();
  std::printf("spooler: driver %s, printer %s, attributes 0x%lx\n", driver ? "installed" : "absent",
              printer ? "installed" : "absent", attributes.value_or(0));
  EXPECT_EQ(log.count("AddPrinterDriver") == 1, !driver) << "AddPrinterDriver";
  EXPECT_EQ(log.count("AddPrinter") == 1, !printer) << "AddPrinter";
  EXPECT_EQ(log.count("OpenPrinter") == 1, !printer) << "OpenPrinter";
  bool default_step_failed = log.count("GetPrinter") || log.count("SetPrinter");
  if (printer && !default_step_failed) {
    // Wine's spooler does not make it the default printer; the attributes
    // are checked as stored.
    EXPECT_EQ(attributes, kDefaultPrinterAttributes);
  }
  for (const auto& [key, value] : log) {
    static const std::set<std::string> kOperations = {
        "AddMonitor", "AddPrinterDriver", "AddPrinter", "OpenPrinter", "GetPrinter", "SetPrinter"};
    EXPECT_TRUE(kOperations.count(key)) << "unexpected entry " << key;
    EXPECT_EQ(value.rfind("Error code : ", 0), 0u) << key << "=" << value;
    EXPECT_NE(value, "Error code : 0") << key;
  }
}

void ExpectStatusMonitorCaptions() {
  const char* key = "SOFTWARE\\Tovarra\\Quindle Status Monitor Window";
  const std::pair<const char*, std::string> captions[] = {
      {"BtnHelp", std::string("\xB5\xB5\xBF\xF2\xB8\xBB(&H)", 11)},
      {"FrmIdError", std::string("\xBB\xF3\xC5\xC2 \xB0\xCB\xBB\xE7 \xBF\xA1\xB7\xAF", 15)},
      {"LabelMsg", std::string("\xBB\xF3\xC5\xC2 \xB0\xCB\xBB\xE7 \xBF\xA1\xB7\xAF "
                               "\xC0\xD4\xB4\xCF\xB4\xD9.",
                               23)},
      {"Caption",
       std::string("\xC5\xE4\xB9\xD9\xB6\xF3 \xC4\xFD\xB5\xE9 \xB8\xF0\xB4\xCF\xC5\xCD", 19)},
  };
  for (const auto& [name, bytes] : captions) {
    std::optional<RegistryValue> value = QueryValue(key, name);
    if (!value) {
      ADD_FAILURE() << name << " is missing";
      continue;
    }
    EXPECT_EQ(value->type, static_cast<DWORD>(REG_SZ)) << name;
    EXPECT_EQ(value->data, bytes) << name;
  }
}

void ExpectInfCopied(const std::string& inf_name, const std::string& source_inf) {
  std::string expected;
  for (size_t i = 0; i < source_inf.size(); ++i) {
    if (source_inf[i] == '\n' && (i == 0 || source_inf[i - 1] != '\r')) expected += '\r';
    expected += source_inf[i];
  }
  std::optional<std::string> copy = ReadWholeFile(InfDirectory() + inf_name);
  ASSERT_TRUE(copy) << inf_name << " is missing from " << InfDirectory();
  EXPECT_EQ(*copy, expected) << inf_name;
}

}  // namespace kxwine
