// Where the library's warning lines go.
#include "zrdiagnostics.h"

#include <cstdio>

namespace ZR {

namespace {

ZRDiagnosticPrinter installedPrinter = nullptr;

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
