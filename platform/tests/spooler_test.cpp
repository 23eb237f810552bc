// The host print spooler: what it refuses, with the platform's codes, and
// how it hands back a printer's level-2 information.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host.h"
#include "temp_machine.h"

namespace {

constexpr DWORD kPoison = 0xDEADBEEF;

// A writable copy of a text for the spooler's LPSTR members.
struct Text {
  explicit Text(const char* text) : bytes(text, text + std::strlen(text) + 1) {}
  char* get() { return bytes.data(); }
  std::vector<char> bytes;
};

class Spooler : public ::testing::Test {
 protected:
  // A driver "KX51" and a printer "KX51 Printer" on LPT1:.
  void AddDriver(const char* name = "KX51") {
    Text driver_name(name), file("KX51.DRV");
    DRIVER_INFO_3A driver{};
    driver.cVersion = 0x300;
    driver.pName = driver_name.get();
    driver.pDriverPath = driver.pDataFile = driver.pConfigFile = file.get();
    ASSERT_TRUE(AddPrinterDriverA(nullptr, 3, reinterpret_cast<LPBYTE>(&driver)));
  }

  PRINTER_INFO_2A PrinterInfo() {
    PRINTER_INFO_2A info{};
    info.pPrinterName = name_.get();
    info.pPortName = port_.get();
    info.pDriverName = driver_.get();
    info.pPrintProcessor = processor_.get();
    info.pDatatype = datatype_.get();
    info.Attributes = PRINTER_ATTRIBUTE_LOCAL;
    info.Priority = 1;
    return info;
  }

  HANDLE AddPrinter(PRINTER_INFO_2A info) {
    return AddPrinterA(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
  }

  kxtest::TempMachine machine_;
  Text name_{"KX51 Printer"}, port_{"LPT1:"}, driver_{"KX51"}, processor_{"WinPrint"},
      datatype_{"EMF"};
};

TEST_F(Spooler, RefusesMonitorsWithThePlatformsCodes) {
  Text empty(""), environment("Windows x86"), name("KX Port"), dll("KXMON.DLL"),
      other_environment("Windows 3.1");
  struct Case {
    const char* what;
    DWORD level;
    char* name;
    char* environment;
    char* dll;
    DWORD error;  // 0: added
  };
  const Case cases[] = {
      {"empty name", 2, empty.get(), environment.get(), empty.get(), ERROR_INVALID_PARAMETER},
      {"no name", 2, nullptr, environment.get(), dll.get(), ERROR_INVALID_PARAMETER},
      {"level 1", 1, name.get(), environment.get(), dll.get(), ERROR_INVALID_LEVEL},
      {"unknown environment", 2, name.get(), other_environment.get(), dll.get(),
       ERROR_INVALID_ENVIRONMENT},
      {"empty library", 2, name.get(), environment.get(), empty.get(), ERROR_INVALID_PARAMETER},
      {"added", 2, name.get(), environment.get(), dll.get(), 0},
      {"added twice", 2, name.get(), nullptr, dll.get(), ERROR_PRINT_MONITOR_ALREADY_INSTALLED},
  };
  for (const auto& row : cases) {
    MONITOR_INFO_2A monitor{row.name, row.environment, row.dll};
    SetLastError(kPoison);
    BOOL ok = AddMonitorA(nullptr, row.level, reinterpret_cast<LPBYTE>(&monitor));
    EXPECT_EQ(ok, row.error == 0) << row.what;
    EXPECT_EQ(GetLastError(), row.error ? row.error : kPoison) << row.what;
  }
  const auto monitors = kxhost::PrintMonitors();
  ASSERT_EQ(monitors.size(), 1u);
  EXPECT_EQ(monitors[0].name, "KX Port");
  EXPECT_EQ(monitors[0].dll, "KXMON.DLL");
}

TEST_F(Spooler, KeepsDriversWithTheirFiles) {
  Text name("KX51"), file("KX51.DRV"), help("KX51.HLP"), empty(""), emf("EMF");
  char dependent[] = "A.DLL\0KX51.DRV\0";
  DRIVER_INFO_3A driver{};
  driver.cVersion = 0x300;
  driver.pName = name.get();
  driver.pDriverPath = driver.pDataFile = driver.pConfigFile = file.get();
  driver.pHelpFile = help.get();
  driver.pDependentFiles = dependent;
  driver.pMonitorName = empty.get();
  driver.pDefaultDataType = emf.get();
  SetLastError(kPoison);
  EXPECT_FALSE(AddPrinterDriverA(nullptr, 1, reinterpret_cast<LPBYTE>(&driver)));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_LEVEL));
  driver.pDriverPath = nullptr;
  EXPECT_FALSE(AddPrinterDriverA(nullptr, 3, reinterpret_cast<LPBYTE>(&driver)));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  driver.pDriverPath = file.get();
  // Adding it again replaces it, as an upgrade does.
  for (int time = 0; time < 2; ++time)
    EXPECT_TRUE(AddPrinterDriverA(nullptr, 3, reinterpret_cast<LPBYTE>(&driver)));
  const auto drivers = kxhost::PrinterDrivers();
  ASSERT_EQ(drivers.size(), 1u);
  EXPECT_EQ(drivers[0].environment, "Windows 4.0");  // the spooler's own
  EXPECT_EQ(drivers[0].version, 0x300u);
  EXPECT_EQ(drivers[0].dependent_files, (std::vector<std::string>{"A.DLL", "KX51.DRV"}));
  EXPECT_EQ(drivers[0].help_file, "KX51.HLP");
}

TEST_F(Spooler, RefusesPrintersWithThePlatformsCodes) {
  AddDriver();
  struct Case {
    const char* what;
    LPSTR PRINTER_INFO_2A::*member;  // null: the information as it is
    const char* value;
    DWORD error;  // 0: added
  };
  const Case cases[] = {
      {"unknown driver", &PRINTER_INFO_2A::pDriverName, "NOWHERE", ERROR_UNKNOWN_PRINTER_DRIVER},
      {"unknown port", &PRINTER_INFO_2A::pPortName, "LPT9:", ERROR_UNKNOWN_PORT},
      {"unknown print processor", &PRINTER_INFO_2A::pPrintProcessor, "NOWHERE",
       ERROR_UNKNOWN_PRINTPROCESSOR},
      {"unknown data type", &PRINTER_INFO_2A::pDatatype, "NOWHERE", ERROR_INVALID_DATATYPE},
      {"no name", &PRINTER_INFO_2A::pPrinterName, nullptr, ERROR_INVALID_PRINTER_NAME},
      {"backslash in the name", &PRINTER_INFO_2A::pPrinterName, "KX\\51",
       ERROR_INVALID_PRINTER_NAME},
      {"added", nullptr, nullptr, 0},
      {"name taken", nullptr, nullptr, ERROR_PRINTER_ALREADY_EXISTS},
      {"name taken in other letter case", &PRINTER_INFO_2A::pPrinterName, "kx51 PRINTER",
       ERROR_PRINTER_ALREADY_EXISTS},
      {"port in other letter case", &PRINTER_INFO_2A::pPortName,
       "lpt1:", ERROR_PRINTER_ALREADY_EXISTS},
      {"double-byte name", &PRINTER_INFO_2A::pPrinterName, "\xBF\xAD KX", 0},
  };
  for (const auto& row : cases) {
    PRINTER_INFO_2A info = PrinterInfo();
    Text value(row.value ? row.value : "");
    if (row.member) info.*row.member = row.value ? value.get() : nullptr;
    SetLastError(kPoison);
    HANDLE printer = AddPrinter(info);
    EXPECT_EQ(printer != nullptr, row.error == 0) << row.what;
    EXPECT_EQ(GetLastError(), row.error ? row.error : kPoison) << row.what;
    if (printer) {
      EXPECT_TRUE(ClosePrinter(printer)) << row.what;
    }
  }
  EXPECT_EQ(kxhost::Printers().size(), 2u);
}

TEST_F(Spooler, HandlesThatAreNotPrintersAreRefused) {
  HANDLE printer = reinterpret_cast<HANDLE>(0x1234);
  SetLastError(kPoison);
  EXPECT_FALSE(ClosePrinter(printer));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  DWORD needed = kPoison;
  EXPECT_FALSE(GetPrinterA(printer, 2, nullptr, 0, &needed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(DeletePrinter(nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

  HANDLE opened = reinterpret_cast<HANDLE>(kPoison);
  EXPECT_FALSE(OpenPrinterA(name_.get(), &opened, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PRINTER_NAME));
  EXPECT_EQ(opened, nullptr);

  AddDriver();
  HANDLE added = AddPrinter(PrinterInfo());
  ASSERT_NE(added, nullptr);
  EXPECT_TRUE(ClosePrinter(added));
  EXPECT_FALSE(ClosePrinter(added));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(Spooler, GetPrinterPacksTheStructureAndItsTexts) {
  AddDriver();
  Text comment("a comment");
  PRINTER_INFO_2A info = PrinterInfo();
  info.pComment = comment.get();
  ClosePrinter(AddPrinter(info));
  HANDLE printer = nullptr;
  ASSERT_TRUE(OpenPrinterA(name_.get(), &printer, nullptr));

  // Texts follow the structure, each with its zero.
  const size_t size = sizeof(PRINTER_INFO_2A) + sizeof "KX51 Printer" +
                      sizeof "LPT1:" + sizeof "KX51" + sizeof "a comment" + sizeof "WinPrint" +
                      sizeof "EMF";
  DWORD needed = kPoison;
  std::vector<BYTE> buffer(size + 16, 0xCC);
  SetLastError(kPoison);
  EXPECT_FALSE(GetPrinterA(printer, 2, buffer.data(), static_cast<DWORD>(size - 1), &needed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(needed, size);
  EXPECT_EQ(buffer[0], 0xCC) << "a buffer too small stays untouched";
  EXPECT_FALSE(GetPrinterA(printer, 1, buffer.data(), static_cast<DWORD>(size), &needed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_LEVEL));

  ASSERT_TRUE(GetPrinterA(printer, 2, buffer.data(), static_cast<DWORD>(size), &needed));
  PRINTER_INFO_2A got;
  std::memcpy(&got, buffer.data(), sizeof got);
  const char* begin = reinterpret_cast<const char*>(buffer.data()) + sizeof got;
  const char* end = reinterpret_cast<const char*>(buffer.data()) + size;
  for (const char* text : {got.pPrinterName, got.pPortName, got.pDriverName, got.pComment,
                           got.pPrintProcessor, got.pDatatype}) {
    EXPECT_GE(text, begin);
    EXPECT_LT(text, end);
  }
  EXPECT_STREQ(got.pPrinterName, "KX51 Printer");
  EXPECT_STREQ(got.pComment, "a comment");
  EXPECT_EQ(got.pShareName, nullptr);
  EXPECT_EQ(got.pServerName, nullptr);
  EXPECT_EQ(got.Attributes, static_cast<DWORD>(PRINTER_ATTRIBUTE_LOCAL));
  EXPECT_EQ(buffer[size], 0xCC);
  ClosePrinter(printer);
}

TEST_F(Spooler, TheDefaultAttributeMakesTheOneDefaultPrinter) {
  AddDriver();
  PRINTER_INFO_2A first = PrinterInfo();
  first.Attributes |= PRINTER_ATTRIBUTE_DEFAULT;
  ClosePrinter(AddPrinter(first));
  Text second_name("Second");
  PRINTER_INFO_2A second = PrinterInfo();
  second.pPrinterName = second_name.get();
  HANDLE printer = AddPrinter(second);
  ASSERT_NE(printer, nullptr);
  auto defaults = [] {
    std::vector<std::string> names;
    for (const auto& record : kxhost::Printers())
      if (record.is_default) names.push_back(record.name);
    return names;
  };
  EXPECT_EQ(defaults(), std::vector<std::string>{"KX51 Printer"});

  DWORD needed = 0;
  std::vector<BYTE> buffer(2000);
  ASSERT_TRUE(GetPrinterA(printer, 2, buffer.data(), 2000, &needed));
  auto* info = reinterpret_cast<PRINTER_INFO_2A*>(buffer.data());
  info->Attributes = PRINTER_ATTRIBUTE_LOCAL | PRINTER_ATTRIBUTE_DEFAULT;
  SetLastError(kPoison);
  EXPECT_FALSE(SetPrinterA(printer, 2, buffer.data(), 5));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PRINTER_COMMAND));
  EXPECT_TRUE(SetPrinterA(printer, 2, buffer.data(), PRINTER_CONTROL_SET_STATUS));
  EXPECT_EQ(defaults(), std::vector<std::string>{"Second"});
  EXPECT_EQ(kxhost::Printers()[1].attributes, static_cast<DWORD>(PRINTER_ATTRIBUTE_LOCAL));

  // Read back, the default printer's attributes carry the default bit.
  ASSERT_TRUE(GetPrinterA(printer, 2, buffer.data(), 2000, &needed));
  EXPECT_EQ(reinterpret_cast<PRINTER_INFO_2A*>(buffer.data())->Attributes, 0x44u);

  DWORD returned = 0;
  EXPECT_FALSE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &returned));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  buffer.resize(needed);
  ASSERT_TRUE(
      EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, buffer.data(), needed, &needed, &returned));
  EXPECT_EQ(returned, 2u);
  EXPECT_STREQ(reinterpret_cast<PRINTER_INFO_2A*>(buffer.data())[1].pPrinterName, "Second");
  ASSERT_TRUE(
      EnumPrintersA(PRINTER_ENUM_DEFAULT, nullptr, 2, buffer.data(), needed, &needed, &returned));
  EXPECT_EQ(returned, 1u);

  EXPECT_TRUE(DeletePrinter(printer));
  EXPECT_TRUE(ClosePrinter(printer));
  EXPECT_TRUE(defaults().empty());
  EXPECT_EQ(kxhost::Printers().size(), 1u);
}

TEST_F(Spooler, FaultsAndTheJournalNameTheApi) {
  AddDriver();
  kxhost::ArmFault("AddPrinterA", ERROR_ACCESS_DENIED, "KX51 Printer", 1);
  SetLastError(kPoison);
  EXPECT_EQ(AddPrinter(PrinterInfo()), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  HANDLE printer = AddPrinter(PrinterInfo());
  ASSERT_NE(printer, nullptr);
  kxhost::ArmFault("GetPrinterA", 0x80000005u, "kx51 *");
  DWORD needed = 0;
  BYTE buffer[2000];
  EXPECT_FALSE(GetPrinterA(printer, 2, buffer, sizeof buffer, &needed));
  EXPECT_EQ(GetLastError(), 0x80000005u);
  ClosePrinter(printer);

  std::vector<std::string> journaled;
  for (const auto& entry : kxhost::ReadJournal())
    if (entry.op != "fault") journaled.push_back(entry.op + " " + entry.result);
  EXPECT_EQ(journaled, (std::vector<std::string>{"AddPrinterDriverA ok", "AddPrinterA error 5",
                                                 "AddPrinterA ok", "GetPrinterA error 2147483653",
                                                 "ClosePrinter ok"}));
}

}  // namespace
