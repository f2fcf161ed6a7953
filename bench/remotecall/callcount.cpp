// Instruction count of small remote calls, for callgrind: the same echo call
// as zrbench_remotecall, made N times through a proxy against the demo
// broker, with instrumentation on only around those calls. Instruction
// counts repeat from run to run, where times on a shared machine do not.
//
// Usage: valgrind --tool=callgrind --instr-atstart=no zrbench_callcount [N]
//        (the broker runs natively as a child; divide the total by N)
#include <cstdio>
#include <cstdlib>
#include <exception>

#include <valgrind/callgrind.h>

#include "brokerprocess.h"
#include "zrproxyremote.h"

int main(int argc, char** argv)
{
    const int calls = argc > 1 ? std::atoi(argv[1]) : 1000;
    try {
        ZRTest::BrokerProcess broker(ZR_DEMOBROKER);
        ZR::ZRProxyRemote proxy("Echo", "127.0.0.1", broker.port(), 0, 0);
        ZR::ZRValue arguments;
        arguments.resizeArray(1);
        arguments[0] = 1.0f;
        ZR::ZRValue result;
        // Connection set-up and first-call allocations stay out of the count.
        for (int i = 0; i < 50; ++i)
            proxy.call("echo", arguments, result);
        CALLGRIND_ZERO_STATS;
        CALLGRIND_START_INSTRUMENTATION;
        for (int i = 0; i < calls; ++i)
            proxy.call("echo", arguments, result);
        CALLGRIND_STOP_INSTRUMENTATION;
        CALLGRIND_DUMP_STATS_AT("echo calls");
        if (!(result == arguments)) {
            std::fprintf(stderr, "zrbench_callcount: the echo came back different\n");
            return 1;
        }
        std::printf("%d calls\n", calls);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zrbench_callcount: %s\n", error.what());
        return 1;
    }
    return 0;
}
