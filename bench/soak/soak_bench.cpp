// SPDX-License-Identifier: GPL-2.0-or-later
// Soak: 100,000 small calls, 1,000 calls that carry 1 MiB each way, and
// 20,000 calls answered by a fault, each run on one proxy against the demo
// broker. The process's resident set (VmRSS) is sampled every tenth of a run;
// it must stay flat once the first calls have warmed the allocator and gSOAP's
// buffers up. Each sample is printed; the counters give the first and last
// sample and the largest rise over the first.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "brokerprocess.h"
#include "zrproxyremote.h"

using ZR::ZRValue;

namespace {

std::unique_ptr<ZRTest::BrokerProcess> broker;

// VmRSS of this process in KiB, from /proc/self/status.
long residentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, 6, "VmRSS:") == 0)
            return std::stol(line.substr(6));
    return -1;
}

ZRValue smallArguments()
{
    ZRValue arguments;
    arguments.append(ZRValue(42));
    arguments.append(ZRValue("soak"));
    arguments.append(ZRValue(2.5f));
    return arguments;
}

ZRValue megabyteArguments()
{
    std::string bytes(1 << 20, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 131 + 7);
    ZRValue blob;
    blob.assignBytes(bytes.data(), static_cast<int>(bytes.size()));
    ZRValue arguments;
    arguments.append(blob);
    return arguments;
}

// Calls of `method` of `module` with `arguments` on one proxy (as many as the
// benchmark's iterations), sampling VmRSS `samples` times at even intervals.
// `payloadBytes` is what one call carries each way. A call that fails must
// fail every time (`failing`); one that answers must echo its arguments.
void soak(benchmark::State& state, const char* name, const char* module, const char* method,
          const ZRValue& arguments, bool failing, int samples, long payloadBytes)
{
    ZR::ZRProxyRemote proxy(module, "127.0.0.1", broker->port(), 0, 0);
    const int calls = static_cast<int>(state.max_iterations);
    const int every = calls / samples;
    std::vector<long> resident;
    ZRValue result;
    int done = 0;
    int failures = 0;
    for (auto _ : state) {
        try {
            proxy.call(method, arguments, result);
        } catch (const ZR::ZRError&) {
            ++failures;
        }
        if (++done % every == 0)
            resident.push_back(residentKiB());
    }
    if (failing ? failures != done : (failures != 0 || !(result == arguments))) {
        state.SkipWithError("the calls did not answer as expected");
        return;
    }
    long largestRise = 0;
    std::fprintf(stderr, "%s: VmRSS (KiB) every %d calls:", name, every);
    for (long sample : resident) {
        std::fprintf(stderr, " %ld", sample);
        largestRise = std::max(largestRise, sample - resident.front());
    }
    std::fprintf(stderr, "\n");
    state.counters["rss_first_KiB"] = static_cast<double>(resident.front());
    state.counters["rss_last_KiB"] = static_cast<double>(resident.back());
    state.counters["rss_rise_KiB"] = static_cast<double>(largestRise);
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * 2 * payloadBytes);
}

void BM_SoakSmallCalls(benchmark::State& state)
{
    soak(state, "small calls", "Echo", "echo", smallArguments(), false, 10, 0);
}
BENCHMARK(BM_SoakSmallCalls)->Iterations(100000)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_SoakMegabyteCalls(benchmark::State& state)
{
    soak(state, "1 MiB calls", "Echo", "echo", megabyteArguments(), false, 10, 1 << 20);
}
BENCHMARK(BM_SoakMegabyteCalls)->Iterations(1000)->UseRealTime()->Unit(benchmark::kMillisecond);

// Each failed call leaves its reply in the context until the next call.
void BM_SoakFailingCalls(benchmark::State& state)
{
    ZRValue arguments;
    arguments.append(ZRValue(std::string(4000, 'f')));
    arguments.append(ZRValue("detail"));
    soak(state, "failing calls", "Faulty", "fail", arguments, true, 10, 0);
}
BENCHMARK(BM_SoakFailingCalls)->Iterations(20000)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    broker.reset(new ZRTest::BrokerProcess(ZR_DEMOBROKER));
    benchmark::RunSpecifiedBenchmarks();
    broker.reset();
    benchmark::Shutdown();
    return 0;
}
