// SPDX-License-Identifier: GPL-2.0-or-later
// Instruction count of small remote calls, for callgrind: the same echo call
// as zrbench_remotecall, made N times through a proxy against the demo
// broker, with instrumentation on only around those calls. Instruction
// counts repeat from run to run, where times on a shared machine do not.
//
// Usage: valgrind --tool=callgrind --instr-atstart=no zrbench_callcount [N [H]]
//        (the broker runs natively as a child; divide the total by N; H > 0
//        keeps a history of H exchanges, H = -1 writes a trace to
//        /dev/null instead)
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>

#include <valgrind/callgrind.h>

#include "brokerprocess.h"
#include "zrproxyremote.h"
#include "zrtrace.h"

int main(int argc, char** argv)
{
    const int calls = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int history = argc > 2 ? std::atoi(argv[2]) : 0;
    try {
        ZRTest::BrokerProcess broker(ZR_DEMOBROKER);
        if (history < 0)
            ZR::startTrace("/dev/null");
        ZR::ZRProxyRemote proxy("Echo", "127.0.0.1", broker.port(), ZR::ZRCallLimits(), nullptr,
                                std::make_shared<ZR::ZRExchangeHistory>(history > 0 ? history : 0));
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
