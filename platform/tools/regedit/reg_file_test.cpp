#include "reg_file.h"

#include <gtest/gtest.h>

#include <sstream>

#include "temp_machine.h"

namespace {

const char kFile[] =
    "REGEDIT4\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\Enum\\LPTENUM\\KALDRENKX512E10]\r\n"
    "\"Model\"=\"KX51 \\\"Laser\\\" C:\\\\\"\r\n"
    "\"ConfigFlags\"=hex:00,00,00,00\r\n"
    "@=dword:0000012c\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\Enum\\LPTENUM\\KALDRENKX512E10\\Sub]\r\n"
    "\"Raw\"=hex(1):41,42\r\n"
    "\"Expand\"=hex(2):25,00\r\n"
    "\r\n";

TEST(RegFile, ImportThenExportGivesTheSameText) {
  kxtest::TempMachine machine;
  std::istringstream in(kFile);
  ASSERT_EQ(regfile::Import(in), "");
  std::ostringstream out;
  ASSERT_EQ(regfile::Export("HKEY_LOCAL_MACHINE\\Enum\\LPTENUM\\KALDRENKX512E10", out), "");
  EXPECT_EQ(out.str(), kFile);
}

TEST(RegFile, ImportSetsTypedValues) {
  kxtest::TempMachine machine;
  std::istringstream in(kFile);
  ASSERT_EQ(regfile::Import(in), "");
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "enum\\lptenum\\kaldrenkx512e10", &key), ERROR_SUCCESS);
  char model[32];
  DWORD size = sizeof model, type = 0;
  ASSERT_EQ(RegQueryValueExA(key, "Model", nullptr, &type, reinterpret_cast<BYTE*>(model), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(std::string(model, size), std::string("KX51 \"Laser\" C:\\\0", 17));
  DWORD number = 0;
  size = sizeof number;
  ASSERT_EQ(RegQueryValueExA(key, "", nullptr, &type, reinterpret_cast<BYTE*>(&number), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(number, 300u);
  RegCloseKey(key);
}

TEST(RegFile, DeletionsAndErrorsByLine) {
  kxtest::TempMachine machine;
  std::istringstream setup(kFile);
  ASSERT_EQ(regfile::Import(setup), "");
  std::istringstream removal(
      "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Enum\\LPTENUM\\KALDRENKX512E10]\n\"Model\"=-\n"
      "[-HKEY_LOCAL_MACHINE\\Enum\\LPTENUM\\KALDRENKX512E10\\Sub]\n");
  ASSERT_EQ(regfile::Import(removal), "");
  std::ostringstream out;
  ASSERT_EQ(regfile::Export("HKEY_LOCAL_MACHINE\\Enum", out), "");
  EXPECT_EQ(out.str(),
            "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Enum]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Enum\\LPTENUM]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Enum\\LPTENUM\\KALDRENKX512E10]\r\n"
            "\"ConfigFlags\"=hex:00,00,00,00\r\n@=dword:0000012c\r\n\r\n");

  struct Bad {
    const char* text;
    const char* error;
  } const bad[] = {
      {"REGEDIT5\n", "line 1: not a REGEDIT4 file"},
      {"REGEDIT4\n\"A\"=\"b\"\n", "line 2: value outside a key"},
      {"REGEDIT4\n[HKEY_NOWHERE\\X]\n", "line 2: unknown root in HKEY_NOWHERE\\X"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\X]\n\"A\"=hex:1,zz\n", "line 3: bad value data: hex:1,zz"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\X]\n\"A\"=dword:123456789\n",
       "line 3: bad value data: dword:123456789"},
  };
  for (const auto& row : bad) {
    std::istringstream in(row.text);
    EXPECT_EQ(regfile::Import(in), row.error) << row.text;
  }
}

}  // namespace
