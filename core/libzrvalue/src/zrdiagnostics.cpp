// SPDX-License-Identifier: GPL-2.0-or-later
// Where the library's warning lines go.
#include "zrdiagnostics.h"

#include <cstdio>

namespace ZR {

namespace {

// One per thread: the gateways install the host's printer on the
// interpreter thread for the length of a call, and a line printed on any
// other thread (a background call) must never reach the host's API.
thread_local ZRDiagnosticPrinter installedPrinter = nullptr;

}  // namespace

void setDiagnosticPrinter(ZRDiagnosticPrinter printer)
{
    installedPrinter = printer;
}

void printDiagnostic(const char* text)
{
    if (installedPrinter) {
        installedPrinter(text);
        return;
    }
    std::fputs(text, stdout);
    std::fflush(stdout);
}

}  // namespace ZR
