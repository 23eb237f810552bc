// The copy of a text file as the platform's text streams would make it,
// done here over binary file reads and writes so that it does not depend on
// what a runtime's streams do: reading turns CR LF into LF (also when the
// pair is split between two reads) and ends the input at the first 0x1A;
// writing puts a CR before every LF. Zero bytes are copied as they are.
#pragma once

#include "platform.h"

// Copies `source` into `destination`: true when everything was read and
// written, false at the first read or write error.
bool CopyAsText(HANDLE source, HANDLE destination);
