// REGEDIT4 text: reading it into the registry and writing keys out as it.
#pragma once

#include <istream>
#include <ostream>
#include <string>

#include "platform.h"
#include "registry_access.h"

namespace regfile {

// Imports REGEDIT4 text: "[KEY]" creates a key, "[-KEY]" deletes it with all
// beneath it, `"name"=...` or `@=...` sets a value, `"name"=-` deletes one.
// Value forms: "text", dword:XXXXXXXX, hex:.., hex(N):.. (lines may continue
// with a trailing backslash). Gives an empty text on success, else what
// went wrong and on which line; what came before that line stays imported.
std::string Import(std::istream& text);

// Exports `key_path` ("HKEY_LOCAL_MACHINE\\Enum", or a root alone) and every
// key beneath it as REGEDIT4 text. Gives an empty text on success.
std::string Export(const std::string& key_path, std::ostream& out);

}  // namespace regfile
