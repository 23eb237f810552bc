// The uninstaller's hooks.
#include "entry_points.h"
#include "registry_key.h"

namespace {

constexpr const char* kPortEnumeratorKeyPath = "Enum\\LPTENUM";
constexpr const char* kDeviceKeyName = "KALDRENKX512E10";

}  // namespace

void CleanPnpKeys() {
  RegistryKey port_enumerator = OpenRegistryKey(HKEY_LOCAL_MACHINE, kPortEnumeratorKeyPath);
  if (!port_enumerator) return;
  // The whole tree on every platform: the NT family's RegDeleteKeyA would
  // refuse a device key that has subkeys.
  DeleteRegistryTree(port_enumerator.get(), kDeviceKeyName);
}

extern "C" int WINAPI UninstInitialize(DWORD /*first*/, DWORD /*second*/, DWORD /*third*/) {
  return 0;
}

extern "C" int WINAPI UninstUnInitialize(DWORD /*first*/, DWORD /*second*/, DWORD /*third*/) {
  CleanPnpKeys();
  // The restart is asked for whether or not the key could be deleted.
  ExitWindowsEx(EWX_REBOOT, 0);
  return 0;
}
