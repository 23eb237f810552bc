// The one header that the library and the setup program include.
//
// On Windows it brings the platform's own headers; on the Linux host it
// declares the same names, types and constants, implemented by
// platform/host over a machine folder. Product code has no target #ifdef.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <winspool.h>
#else
#include "host/win32_api.h"
#endif

#include "registry_tree.h"
