// SPDX-License-Identifier: GPL-2.0-or-later
// Lines the library prints for the user and then goes on: warnings, never
// errors. They go to standard output unless the host application installs
// a printer of its own, as the MEX gateways do so that MATLAB shows them in
// its command window.
#pragma once

#include "zrexport.h"

namespace ZR {

typedef void (*ZRDiagnosticPrinter)(const char* text);

// Sets the printer of the calling thread; null restores standard output.
// Lines printed on other threads go to standard output.
ZR_API void setDiagnosticPrinter(ZRDiagnosticPrinter printer);

// Prints `text` (which carries its own line feeds) where the calling
// thread's printer sends it.
ZR_API void printDiagnostic(const char* text);

}  // namespace ZR
