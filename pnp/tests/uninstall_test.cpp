// The uninstaller's hooks: the device key goes with everything beneath it,
// and a restart is requested.
#include <string>
#include <vector>

#include "entry_points.h"
#include "host.h"
#include "pnp_fixture.h"

namespace {

using pnptest::kDeviceKeyPath;
using pnptest::KeyExists;
using pnptest::RestartRequests;

constexpr const char* kPortEnumeratorPath = "Enum\\LPTENUM";

class UninstallTest : public pnptest::PnpTest {
 protected:
  // A device key with values and keys beneath it, and a neighbour.
  void WriteDeviceTree() {
    pnptest::WriteModel(pnptest::kModel);
    pnptest::WriteValue(kDeviceKeyPath, "ConfigFlags", REG_BINARY, pnptest::ConfigFlagsZero());
    pnptest::WriteValue("Enum\\LPTENUM\\KALDRENKX512E10\\Control\\Deep", "Value", REG_SZ,
                        std::string("x", 2));
    pnptest::WriteValue("Enum\\LPTENUM\\KALDRENKX512E10\\LogConf", "Other", REG_SZ,
                        std::string("y", 2));
    pnptest::WriteValue("Enum\\LPTENUM\\OTHERDEVICE", "Model", REG_SZ, std::string("z", 2));
  }
};

TEST_F(UninstallTest, UnInitializeDeletesTheTreeAndRequestsARestart) {
  WriteDeviceTree();
  int64_t before = pnptest::LastJournalSeq();
  EXPECT_EQ(UninstUnInitialize(1, 2, 3), 0);
  // The restart is asked for only once the key is gone (the keys beneath
  // it go one by one first).
  std::vector<std::string> ops;
  for (const std::string& change : pnptest::ChangesAfter(before)) {
    std::string op = change.substr(0, change.find(' '));
    if (ops.empty() || ops.back() != op) ops.push_back(op);
  }
  EXPECT_EQ(ops, (std::vector<std::string>{"RegDeleteKeyA", "ExitWindowsEx"}));
  EXPECT_FALSE(KeyExists(kDeviceKeyPath));
  EXPECT_FALSE(KeyExists("Enum\\LPTENUM\\KALDRENKX512E10\\Control\\Deep"));
  EXPECT_TRUE(KeyExists("Enum\\LPTENUM\\OTHERDEVICE"));
  EXPECT_TRUE(KeyExists(kPortEnumeratorPath));
  EXPECT_EQ(RestartRequests(), 1);
}

TEST_F(UninstallTest, CleanPnpKeysAloneRequestsNoRestart) {
  WriteDeviceTree();
  CleanPnpKeys();
  EXPECT_FALSE(KeyExists(kDeviceKeyPath));
  EXPECT_TRUE(KeyExists("Enum\\LPTENUM\\OTHERDEVICE"));
  EXPECT_EQ(RestartRequests(), 0);
}

TEST_F(UninstallTest, RestartIsRequestedWhateverTheKeyGave) {
  const struct {
    const char* name;
    bool enumerator;
    bool device;
    const char* refused_op;
    bool device_after;
  } cases[] = {
      {"device key absent", true, false, nullptr, false},
      {"Enum\\LPTENUM absent", false, false, nullptr, false},
      {"deletion refused", true, true, "RegDeleteKeyA", true},
      {"enumerator refused", true, true, "RegOpenKeyA", true},
  };
  for (const auto& row : cases) {
    kxtest::TempMachine machine;
    if (row.device)
      WriteDeviceTree();
    else if (row.enumerator)
      pnptest::WriteValue("Enum\\LPTENUM\\OTHERDEVICE", "Model", REG_SZ, std::string("z", 2));
    if (row.refused_op) kxhost::ArmFault(row.refused_op, ERROR_ACCESS_DENIED, "Enum\\LPTENUM*");
    EXPECT_EQ(UninstUnInitialize(0, 0, 0), 0) << row.name;
    kxhost::ClearFaults();
    EXPECT_EQ(KeyExists(kDeviceKeyPath), row.device_after) << row.name;
    EXPECT_EQ(KeyExists(kPortEnumeratorPath), row.enumerator) << row.name;
    EXPECT_EQ(RestartRequests(), 1) << row.name;
  }
}

TEST_F(UninstallTest, InitializeChangesNothing) {
  WriteDeviceTree();
  int64_t before = pnptest::LastJournalSeq();
  EXPECT_EQ(UninstInitialize(0, 0, 0), 0);
  EXPECT_TRUE(pnptest::ChangesAfter(before).empty());
  EXPECT_TRUE(KeyExists(kDeviceKeyPath));
}

}  // namespace
