#include "platform.h"

long DeleteRegistryTree(HKEY parent, const char* subkey) {
  HKEY key = nullptr;
  LONG status = RegOpenKeyA(parent, subkey, &key);
  if (status != ERROR_SUCCESS) return status;
  // Delete the first child until none is left: indexes shift as children go.
  char child[MAX_PATH];
  for (;;) {
    status = RegEnumKeyA(key, 0, child, sizeof child);
    if (status != ERROR_SUCCESS) break;
    status = DeleteRegistryTree(key, child);
    if (status != ERROR_SUCCESS) break;
  }
  RegCloseKey(key);
  if (status != ERROR_NO_MORE_ITEMS) return status;
  return RegDeleteKeyA(parent, subkey);
}
