// The platform conformance suite: what the installer relies on of the
// registry, events, windows, processes and profile files, written over the
// platform header alone so that the same expectations run on the host
// platform and, built for Windows, under Wine. A difference between the two
// is a fault of the host platform.
#pragma once

#include <gtest/gtest.h>

#include "platform.h"

#ifdef _WIN32
namespace kxtest {
// Under Wine every test program gets a fresh prefix from its runner.
struct ConformanceMachine {};
}  // namespace kxtest
#else
#include "temp_machine.h"
namespace kxtest {
using ConformanceMachine = TempMachine;
}  // namespace kxtest
#endif
