// SPDX-License-Identifier: GPL-2.0-or-later
// zrconsumer PORT: uses the installed library as any C++ program would,
// through <zrbridge/...> only: builds values, calls the Echo module of the
// broker at 127.0.0.1:PORT under call limits, the same in the background,
// reads the module's description, routes the library's warning lines, and
// asks for a module the broker does not know. Prints what came back; exits
// non-zero when a step misbehaves. Every function the headers declare is
// referenced here, so a declaration the library does not export fails the
// link.
#include <zrbridge/zrcalllimits.h>
#include <zrbridge/zrdiagnostics.h>
#include <zrbridge/zrerror.h>
#include <zrbridge/zrmoduleinfo.h>
#include <zrbridge/zrproxyremote.h>
#include <zrbridge/zrvalue.h>
#include <zrbridge/zrversion.h>

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

namespace {

int printedLines = 0;

void countLine(const char*)
{
    ++printedLines;
}

int fail(const std::string& what)
{
    std::cerr << "zrconsumer: " << what << "\n";
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: zrconsumer PORT\n";
        return 2;
    }
    const int port = std::atoi(argv[1]);

    if (std::strcmp(ZR::libraryVersion(), ZRBRIDGE_VERSION_STRING) != 0)
        return fail(std::string("headers say ") + ZRBRIDGE_VERSION_STRING + ", library " + ZR::libraryVersion());
    std::cout << "version: " << ZRBRIDGE_VERSION_MAJOR << "." << ZRBRIDGE_VERSION_MINOR << "."
              << ZRBRIDGE_VERSION_PATCH << "\n";

    ZR::setDiagnosticPrinter(countLine);
    ZR::printDiagnostic("one line\n");
    ZR::setDiagnosticPrinter(nullptr);
    if (printedLines != 1)
        return fail("the installed printer did not get the line");

    ZR::ZRCallLimits limits;
    limits.timeout = 10;
    limits.connectTimeout = 5;
    ZR::ZRProxyRemote echo("Echo", "127.0.0.1", port, limits);
    if (echo.moduleInfo().name != "Echo" || echo.limits().timeout != 10)
        return fail("the module description or the limits are not what was asked for");

    ZR::ZRValue parameters;
    parameters.append(ZR::ZRValue(7));
    parameters.append(ZR::ZRValue(std::string("seven")));
    parameters.append(ZR::ZRValue(0.5));
    ZR::ZRValue result;
    echo.call("echo", parameters, result);
    if (result.valueType() != ZR::ZRValue::Array || result.size() != 3)
        return fail("echo returned " + result.toString(1));
    const int number = result[0];
    const std::string& text = result[1];
    const float half = result[2];
    std::cout << "echo: " << number << " " << text << " " << half << "\n";

    // Two slow calls side by side, each on a connection of its own.
    ZR::ZRValue first;
    first.append(ZR::ZRValue(100));
    first.append(ZR::ZRValue("first"));
    ZR::ZRValue second;
    second.append(ZR::ZRValue(100));
    second.append(ZR::ZRValue("second"));
    const ZR::ZRCallFuture one = echo.start("delay", first);
    const ZR::ZRCallFuture two = echo.start("delay", second);
    if (!one.wait(30) || !two.wait(30) || one.state() != ZR::ZRCallState::Finished) {
        std::cerr << "zrconsumer: the calls in the background did not finish\n";
        return 1;
    }
    // The text accessor is not const: read it from copies.
    ZR::ZRValue firstResult = one.get();
    ZR::ZRValue secondResult = two.get();
    const std::string& firstText = firstResult;
    const std::string& secondText = secondResult;
    std::cout << "futures: " << firstText << " " << secondText << "\n";

    // The library's exceptions must be catchable by type out here, with
    // their kind and the broker's own fault texts.
    try {
        ZR::ZRProxyRemote missing("NoSuchModule", "127.0.0.1", port, limits);
    } catch (const ZR::ZRNetworkError& error) {
        if (error.kind() != ZR::ZRErrorKind::UnknownModule)
            return fail("the failed look-up has the wrong kind");
        std::cout << "unknown module: " << error.message() << "\n";
        std::cout << "fault: " << error.faultString() << "\n";
        return 0;
    }
    return fail("a module the broker does not know was found");
}
