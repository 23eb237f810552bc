// The device key: reading "Model" and writing or deleting "ConfigFlags".
#include "dev_node_key.h"

#include <string>

#include "host.h"
#include "pnp_fixture.h"

namespace {

using pnptest::ConfigFlagsZero;
using pnptest::kDeviceKeyPath;
using pnptest::ReadValue;
using pnptest::WriteValue;

class DevNodeKeyTest : public pnptest::PnpTest {};

struct ModelCase {
  const char* name;
  DWORD type;
  std::string data;
  std::string model;
  // Bytes of `data` handed over; the rest only follows them in memory.
  size_t count = std::string::npos;
};

TEST_F(DevNodeKeyTest, GetModelTakesOnlyNonEmptyRegSz) {
  using namespace std::string_literals;
  const std::string mebibyte_model(1024 * 1024, 'M');
  const ModelCase cases[] = {
      {"REG_SZ", REG_SZ, "KX51 Laser\0"s, "KX51 Laser"},
      {"REG_SZ, empty text", REG_SZ, "\0"s, ""},
      {"REG_SZ, no data", REG_SZ, "", ""},
      // The platform adds a zero that the count left out only when one
      // follows the text; here more text follows.
      {"REG_SZ without a terminator: taken whole", REG_SZ, "KX51+", "KX51", 4},
      {"REG_SZ, text ends at the first zero", REG_SZ, "KX\0junk\0"s, "KX"},
      {"REG_SZ of 1 MiB", REG_SZ, mebibyte_model + '\0', mebibyte_model},
      {"REG_EXPAND_SZ", REG_EXPAND_SZ, "KX51 Laser\0"s, ""},
      {"REG_MULTI_SZ", REG_MULTI_SZ, "KX51 Laser\0\0"s, ""},
      {"REG_BINARY", REG_BINARY, "KX51 Laser\0"s, ""},
  };
  for (const auto& row : cases) {
    WriteValue(kDeviceKeyPath, "Model", row.type, row.data, row.count);
    DevNodeKey device(kDeviceKeyPath);
    EXPECT_EQ(device.GetModel(), row.model) << row.name;
  }
}

TEST_F(DevNodeKeyTest, GetModelWithoutValueOrKeyIsEmpty) {
  EXPECT_EQ(DevNodeKey(kDeviceKeyPath).GetModel(), "") << "no key";
  WriteValue(kDeviceKeyPath, "Other", REG_SZ, std::string("KX51", 5));
  EXPECT_EQ(DevNodeKey(kDeviceKeyPath).GetModel(), "") << "no value";
}

TEST_F(DevNodeKeyTest, GetModelIsEmptyWhenTheReadIsRefused) {
  pnptest::WriteModel("KX51 Laser");
  kxhost::ArmFault("RegQueryValueExA", ERROR_ACCESS_DENIED, "*:Model", 1);
  EXPECT_EQ(DevNodeKey(kDeviceKeyPath).GetModel(), "");
  EXPECT_EQ(DevNodeKey(kDeviceKeyPath).GetModel(), "KX51 Laser") << "once the fault is used up";
}

TEST_F(DevNodeKeyTest, KeyThatCannotBeOpenedGivesNothing) {
  DevNodeKey device(kDeviceKeyPath);
  EXPECT_EQ(device.GetModel(), "");
  EXPECT_EQ(device.SetConfigFlags(true), 0);
  EXPECT_EQ(device.SetConfigFlags(false), 0);
  EXPECT_FALSE(pnptest::KeyExists(kDeviceKeyPath)) << "nothing is created";
}

TEST_F(DevNodeKeyTest, SetConfigFlagsReplacesAnyEarlierValueWithFourZeroBytes) {
  WriteValue(kDeviceKeyPath, "ConfigFlags", REG_SZ, std::string("longer text", 12));
  DevNodeKey device(kDeviceKeyPath);
  EXPECT_EQ(device.SetConfigFlags(true), 1);
  auto flags = ReadValue(kDeviceKeyPath, "ConfigFlags");
  ASSERT_TRUE(flags);
  EXPECT_EQ(flags->type, static_cast<DWORD>(REG_BINARY));
  EXPECT_EQ(flags->data, ConfigFlagsZero());
}

TEST_F(DevNodeKeyTest, SetConfigFlagsFalseDeletesAndFailsWhenAbsent) {
  WriteValue(kDeviceKeyPath, "ConfigFlags", REG_BINARY, ConfigFlagsZero());
  DevNodeKey device(kDeviceKeyPath);
  EXPECT_EQ(device.SetConfigFlags(false), 1);
  EXPECT_FALSE(ReadValue(kDeviceKeyPath, "ConfigFlags"));
  EXPECT_EQ(device.SetConfigFlags(false), 0) << "already gone";
}

TEST_F(DevNodeKeyTest, RefusedWriteOrDeleteGivesZero) {
  WriteValue(kDeviceKeyPath, "ConfigFlags", REG_SZ, std::string("old", 4));
  DevNodeKey device(kDeviceKeyPath);
  kxhost::ArmFault("RegSetValueExA", ERROR_ACCESS_DENIED, "*:ConfigFlags");
  kxhost::ArmFault("RegDeleteValueA", ERROR_ACCESS_DENIED, "*:ConfigFlags");
  EXPECT_EQ(device.SetConfigFlags(true), 0);
  EXPECT_EQ(device.SetConfigFlags(false), 0);
  auto flags = ReadValue(kDeviceKeyPath, "ConfigFlags");
  ASSERT_TRUE(flags) << "left as it was";
  EXPECT_EQ(flags->type, static_cast<DWORD>(REG_SZ));
}

}  // namespace
