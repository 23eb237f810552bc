// The host registry beyond what every platform shares: the Windows 95
// family's tree deletion, keys deleted under open handles, faults and the
// journal.
#include <gtest/gtest.h>

#include "host.h"
#include "platform.h"
#include "temp_machine.h"

namespace {

class HostRegistry : public ::testing::Test {
 protected:
  kxtest::TempMachine machine_;

  HKEY Create(const char* path) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, path, &key), ERROR_SUCCESS) << path;
    return key;
  }
};

TEST_F(HostRegistry, DeleteKeyRemovesTheWholeTreeAsTheWindows95FamilyDoes) {
  RegCloseKey(Create("Enum\\LPTENUM\\KALDRENKX512E10\\0000\\Deep"));
  HKEY enumerator = nullptr;
  ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "Enum\\LPTENUM", &enumerator), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(enumerator, "KALDRENKX512E10"), ERROR_SUCCESS);
  RegCloseKey(enumerator);
  HKEY probe = nullptr;
  EXPECT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "Enum\\LPTENUM\\KALDRENKX512E10\\0000", &probe),
            ERROR_FILE_NOT_FOUND);
  auto count = kxhost::Store::Get().Prepare("SELECT COUNT(*) FROM reg_keys WHERE fold LIKE '0000'");
  ASSERT_TRUE(count.Step());
  EXPECT_EQ(count.Int(0), 0) << "orphaned keys left in the store";
}

TEST_F(HostRegistry, AHandleToADeletedKeyReportsKeyDeleted) {
  HKEY device = Create("Enum\\LPTENUM\\X");
  ASSERT_EQ(DeleteRegistryTree(HKEY_LOCAL_MACHINE, "Enum\\LPTENUM\\X"), ERROR_SUCCESS);
  const BYTE zero[4] = {};
  EXPECT_EQ(RegSetValueExA(device, "ConfigFlags", 0, REG_BINARY, zero, 4), ERROR_KEY_DELETED);
  EXPECT_EQ(RegCloseKey(device), ERROR_SUCCESS);
}

TEST_F(HostRegistry, RootsCannotBeDeletedAndBadArgumentsAreRefused) {
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, ""), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "X", nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegCloseKey(reinterpret_cast<HKEY>(0x4242)), ERROR_INVALID_HANDLE);
  BYTE data[4];
  EXPECT_EQ(RegQueryValueExA(HKEY_LOCAL_MACHINE, "V", nullptr, nullptr, data, nullptr),
            ERROR_INVALID_PARAMETER);
}

struct FaultCase {
  const char* op;
  const char* match;
};

TEST_F(HostRegistry, ArmedFaultsFailTheMatchingCallWithTheirError) {
  const FaultCase cases[] = {
      {"RegOpenKeyA", "enum\\lptenum\\*"},
      {"RegCreateKeyA", "Software\\Microsoft\\Windows\\CurrentVersion\\Run"},
      {"RegSetValueExA", "*:ConfigFlags"},
      {"RegDeleteValueA", "*:ConfigFlags"},
      {"RegQueryValueExA", "*:Model"},
      {"RegDeleteKeyA", "Enum\\LPTENUM\\KALDRENKX512E10"},
      {"RegCloseKey", "Enum\\LPTENUM\\KALDRENKX512E10"},
  };
  RegCloseKey(Create("Software\\Microsoft\\Windows\\CurrentVersion\\Run"));
  for (const auto& row : cases) {
    SCOPED_TRACE(row.op);
    HKEY device = Create("Enum\\LPTENUM\\KALDRENKX512E10");
    const BYTE zero[4] = {};
    ASSERT_EQ(RegSetValueExA(device, "ConfigFlags", 0, REG_BINARY, zero, 4), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(device, "Model", 0, REG_SZ, reinterpret_cast<const BYTE*>("M"), 2),
              ERROR_SUCCESS);
    kxhost::ClearFaults();
    kxhost::ArmFault(row.op, ERROR_ACCESS_DENIED, row.match, 1);

    const std::string op = row.op;
    HKEY key = nullptr;
    DWORD size = 0;
    HKEY enumerator = nullptr;
    LONG first = -1, second = -1;
    auto call = [&]() -> LONG {
      if (op == "RegOpenKeyA")
        return RegOpenKeyA(HKEY_LOCAL_MACHINE, "Enum\\LPTENUM\\KALDRENKX512E10", &key);
      if (op == "RegCreateKeyA")
        return RegCreateKeyA(HKEY_LOCAL_MACHINE,
                             "Software\\Microsoft\\Windows\\CurrentVersion\\Run", &key);
      if (op == "RegSetValueExA")
        return RegSetValueExA(device, "configflags", 0, REG_BINARY, zero, 4);
      if (op == "RegDeleteValueA") return RegDeleteValueA(device, "ConfigFlags");
      if (op == "RegQueryValueExA")
        return RegQueryValueExA(device, "Model", nullptr, nullptr, nullptr, &size);
      if (op == "RegDeleteKeyA") {
        RegOpenKeyA(HKEY_LOCAL_MACHINE, "Enum\\LPTENUM", &enumerator);
        return RegDeleteKeyA(enumerator, "KALDRENKX512E10");
      }
      return RegCloseKey(device);
    };
    first = call();
    if (key) RegCloseKey(key);
    key = nullptr;
    if (enumerator) RegCloseKey(enumerator);
    enumerator = nullptr;
    EXPECT_EQ(first, ERROR_ACCESS_DENIED);
    if (op == "RegDeleteValueA" || op == "RegDeleteKeyA") {
      // The refused call changed nothing: it works once the fault is used up.
      second = call();
      EXPECT_EQ(second, ERROR_SUCCESS);
    }
    if (key) RegCloseKey(key);
    if (enumerator) RegCloseKey(enumerator);
    if (op != "RegCloseKey") RegCloseKey(device);
    RegCloseKey(device);  // after the refused close the handle is still open
    DeleteRegistryTree(HKEY_LOCAL_MACHINE, "Enum");
  }
}

TEST_F(HostRegistry, ChangesAreJournaledWithTheirData) {
  HKEY device = Create("Enum\\LPTENUM\\KALDRENKX512E10");
  const BYTE zero[4] = {};
  RegSetValueExA(device, "ConfigFlags", 0, REG_BINARY, zero, 4);
  RegDeleteValueA(device, "ConfigFlags");
  RegCloseKey(device);
  std::vector<std::string> lines;
  for (const auto& entry : kxhost::ReadJournal()) lines.push_back(entry.op + " " + entry.detail);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "RegCreateKeyA HKLM\\Enum\\LPTENUM\\KALDRENKX512E10");
  EXPECT_EQ(lines[1],
            "RegSetValueExA HKLM\\Enum\\LPTENUM\\KALDRENKX512E10:ConfigFlags REG_BINARY 4 bytes "
            "00 00 00 00 ");
  EXPECT_EQ(lines[2], "RegDeleteValueA HKLM\\Enum\\LPTENUM\\KALDRENKX512E10:ConfigFlags");
}

}  // namespace
