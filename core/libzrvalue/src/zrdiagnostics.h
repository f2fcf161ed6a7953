// Lines the library prints for the user and then goes on: warnings, never
// errors. They go to standard output unless the host application installs
// a printer of its own, as the MEX gateways do so that MATLAB shows them in
// its command window.
#pragma once

#include "zrexport.h"

namespace ZR {

typedef void (*ZRDiagnosticPrinter)(const char* text);

// Null restores standard output. Applies to the calling thread only: set it
// around the calls that may print, from the thread that makes them.
ZR_API void setDiagnosticPrinter(ZRDiagnosticPrinter printer);

// Prints `text` (which carries its own line feeds) where the host wants it.
void printDiagnostic(const char* text);

}  // namespace ZR
