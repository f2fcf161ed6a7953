// zrconsumer PORT: calls the Echo module of the broker at 127.0.0.1:PORT
// through the installed library, the same in the background, then asks for
// a module the broker does not know. Prints what came back; exits non-zero when either step misbehaves.
#include <cstdlib>
#include <iostream>
#include <string>

#include "zrproxyremote.h"
#include "zrvalue.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: zrconsumer PORT\n";
        return 2;
    }
    const int port = std::atoi(argv[1]);

    ZR::ZRProxyRemote echo("Echo", "127.0.0.1", port, 0, 0);
    ZR::ZRValue parameters;
    parameters.append(ZR::ZRValue(7));
    parameters.append(ZR::ZRValue("seven"));
    ZR::ZRValue result;
    echo.call("echo", parameters, result);
    if (result.valueType() != ZR::ZRValue::Array || result.size() != 2) {
        std::cerr << "zrconsumer: echo returned " << result.toString(1) << "\n";
        return 1;
    }
    const int number = result[0];
    const std::string& text = result[1];
    std::cout << "echo: " << number << " " << text << "\n";

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

    // The library's exceptions must be catchable by type out here.
    try {
        ZR::ZRProxyRemote missing("NoSuchModule", "127.0.0.1", port, 0, 0);
    } catch (const ZR::ZRNetworkError& error) {
        std::cout << "unknown module: " << error.message() << "\n";
        return 0;
    }
    std::cerr << "zrconsumer: a module the broker does not know was found\n";
    return 1;
}
