// How a host module carries its string table: a module that has one exports
// the array `KxStringTable`, ended by an entry whose text is null. LoadStringA
// finds it in the module named by its handle. On Windows the same strings
// are a STRINGTABLE resource.
#pragma once

extern "C" {
struct KxStringResource {
  unsigned id;
  unsigned short language;  // 1042: Korean
  const char* text;
};
}

#define KX_STRING_TABLE_SYMBOL "KxStringTable"
