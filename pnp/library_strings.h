// The library's own strings, loaded from the module kept at attach.
#pragma once

#include <string>

#include "platform.h"

// Keeps the module whose string table the library loads from.
void SetStringModule(HINSTANCE module);

// The whole string `id` of the library's table, whatever its length; empty
// when the table has no such string.
std::string LoadLibraryString(UINT id);
