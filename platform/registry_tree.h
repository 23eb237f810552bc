// Deleting a registry key with everything beneath it, on every platform.
//
// The Windows 95 family's RegDeleteKeyA removes a whole tree, the NT
// family's refuses a key that has subkeys (and SHDeleteKey/RegDeleteTree
// are missing on the Windows 95 family), so the installer deletes trees
// through this helper, written over the plain registry calls.
#pragma once

// Deletes `subkey` of `parent` and all keys and values beneath it.
// Returns 0 (ERROR_SUCCESS) or the platform's error code of the first
// call that failed.
long DeleteRegistryTree(HKEY parent, const char* subkey);
