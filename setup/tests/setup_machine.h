// A fresh machine laid out for the setup program: the Windows, system and
// INF directories, and helpers to read what a run leaves behind.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "host.h"
#include "setup.h"
#include "temp_machine.h"

namespace setuptest {

// "凯仑激光打印机 云岭 KX51" in GB2312.
inline const std::string kPrinterName =
    "\xBF\xAD\xC2\xD8\xBC\xA4\xB9\xE2\xB4\xF2\xD3\xA1\xBB\xFA \xD4\xC6\xC1\xEB KX51";

inline std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

inline void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

class SetupMachine : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* directory : {"C:\\WINDOWS\\SYSTEM", "C:\\WINDOWS\\INF"})
      std::filesystem::create_directories(kxhost::HostPath(directory));
    ModuleDirectory[0] = '\0';
    InfDirectory[0] = '\0';
  }

  // The failure log's host file.
  std::filesystem::path FailureLogFile() const {
    return kxhost::HostPath("C:\\WINDOWS\\SYSTEM\\WIN.INI");
  }

  // The keys and values of section "ZEBLIN" of the failure log.
  std::map<std::string, std::string> LoggedErrors() const {
    std::map<std::string, std::string> logged;
    char keys[4096];
    const char* log = "C:\\WINDOWS\\SYSTEM\\WIN.INI";
    GetPrivateProfileStringA("ZEBLIN", nullptr, "", keys, sizeof keys, log);
    for (const char* key = keys; *key; key += std::strlen(key) + 1) {
      char value[256];
      GetPrivateProfileStringA("ZEBLIN", key, "", value, sizeof value, log);
      logged[key] = value;
    }
    return logged;
  }

  // Points the program's directories at a source folder on drive A: and the
  // machine's INF directory, as LocateDirectories does for A:\Setup.Exe.
  void UseSourceDirectory() {
    std::filesystem::create_directories(kxhost::HostPath("A:\\"));
    lstrcpyA(ModuleDirectory, "A:\\");
    lstrcpyA(InfDirectory, "C:\\WINDOWS\\INF");
  }

  // The names in the INF directory, sorted.
  std::vector<std::string> InfDirectoryNames() const {
    std::vector<std::string> names;
    for (const auto& entry :
         std::filesystem::directory_iterator(kxhost::HostPath("C:\\WINDOWS\\INF")))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  kxtest::TempMachine machine_;
};

// The comment that makes a printer's level-2 information larger than the
// sequence's 2000-byte buffer.
inline const std::string kLargeComment(3000, 'c');

// A printer of the name that stays (its deletion is refused from now on),
// on "LPT2:" with `attributes` and a comment that makes its level-2
// information larger than the sequence's buffer.
inline void InstallLargePrinter(DWORD attributes) {
  DRIVER_INFO_3 driver{};
  char driver_file[] = "KX51.DRV";
  std::string name = kPrinterName;
  driver.pName = name.data();
  driver.pDriverPath = driver.pDataFile = driver.pConfigFile = driver_file;
  ASSERT_TRUE(AddPrinterDriverA(nullptr, 3, reinterpret_cast<LPBYTE>(&driver)));
  std::string comment = kLargeComment;
  char port[] = "LPT2:", processor[] = "WinPrint";
  PRINTER_INFO_2 old{};
  old.pPrinterName = name.data();
  old.pPortName = port;
  old.pDriverName = name.data();
  old.pPrintProcessor = processor;
  old.pComment = comment.data();
  old.Attributes = attributes;
  HANDLE added = AddPrinterA(nullptr, 2, reinterpret_cast<LPBYTE>(&old));
  ASSERT_NE(added, nullptr);
  ClosePrinter(added);
  kxhost::ArmFault("DeletePrinter", ERROR_ACCESS_DENIED);
}

}  // namespace setuptest
