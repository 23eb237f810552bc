// The library's string table for the host platform: LoadStringA finds the
// exported KxStringTable in the module it is given.
#include "resource.h"
#include "string_resources.h"

// Korean, as the Windows resource is.
static constexpr unsigned short kStringLanguage = 1042;

extern "C" __attribute__((visibility("default"))) const KxStringResource KxStringTable[] = {
#define KX_STRING(id, text) {id, kStringLanguage, text},
#include "string_table.inc"
#undef KX_STRING
    {0, 0, nullptr},
};
