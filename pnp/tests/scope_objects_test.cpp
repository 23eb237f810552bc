// The scope objects that own one handle each: closed once, on the way out,
// without disturbing the thread's last error.
#include <utility>

#include "owned_handle.h"
#include "pnp_fixture.h"
#include "registry_key.h"

namespace {

class ScopeObjectsTest : public pnptest::PnpTest {};

TEST_F(ScopeObjectsTest, RegistryKeyClosesOnceAndKeepsTheLastError) {
  HKEY raw = nullptr;
  {
    RegistryKey key = CreateRegistryKey(HKEY_LOCAL_MACHINE, pnptest::kDeviceKeyPath);
    ASSERT_TRUE(key);
    raw = key.get();
    RegistryKey moved = std::move(key);
    EXPECT_FALSE(key);
    EXPECT_EQ(moved.get(), raw);
    SetLastError(0xBEEF);
  }
  EXPECT_EQ(GetLastError(), 0xBEEFu);
  EXPECT_EQ(RegCloseKey(raw), ERROR_INVALID_HANDLE) << "closed by the scope object";
}

TEST_F(ScopeObjectsTest, RegistryKeyThatDidNotOpenHoldsNothing) {
  RegistryKey key = OpenRegistryKey(HKEY_LOCAL_MACHINE, "No\\Such\\Key");
  EXPECT_FALSE(key);
  EXPECT_EQ(key.Close(), ERROR_SUCCESS);
}

TEST_F(ScopeObjectsTest, OwnedHandleClosesOnceAndKeepsTheLastError) {
  HANDLE raw = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  ASSERT_NE(raw, nullptr);
  {
    OwnedHandle handle(raw);
    OwnedHandle moved = std::move(handle);
    EXPECT_EQ(handle.get(), nullptr);
    EXPECT_EQ(moved.get(), raw);
    SetLastError(0xBEEF);
  }
  EXPECT_EQ(GetLastError(), 0xBEEFu);
  EXPECT_FALSE(CloseHandle(raw)) << "closed by the scope object";
}

}  // namespace
