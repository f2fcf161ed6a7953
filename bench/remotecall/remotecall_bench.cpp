// SPDX-License-Identifier: GPL-2.0-or-later
// Round-trip time of one small remote call on loopback against the demo
// broker: through a proxy, and as the same request and response bytes
// replayed over one kept-alive socket with plain send/recv. The replay is the
// floor that the broker and the loopback transport set; the ratio of the two
// is what the client side costs.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <stdsoap2.h>

#include "brokerprocess.h"
#include "zrconnection.h"
#include "zrmoduleinfo.h"
#include "zrnetwork.h"
#include "zrproxyremote.h"
#include "zrtrace.h"

using ZR::ZRValue;

namespace {

std::unique_ptr<ZRTest::BrokerProcess> broker;

ZRValue smallArguments()
{
    ZRValue arguments;
    arguments.append(ZRValue(42));
    return arguments;
}

void BM_ProxyCall(benchmark::State& state)
{
    ZR::ZRProxyRemote proxy("Echo", "127.0.0.1", broker->port(), 0, 0);
    const ZRValue arguments = smallArguments();
    ZRValue result;
    for (auto _ : state) {
        proxy.call("echo", arguments, result);
        benchmark::DoNotOptimize(result);
    }
    if (!(result == arguments))
        state.SkipWithError("the echo came back different");
}
BENCHMARK(BM_ProxyCall)->UseRealTime();

// The same call recording its exchanges: into a history of 20 (argument
// 1), or also into the process's trace (argument 2, a file that is
// removed afterwards).
void BM_ProxyCallRecorded(benchmark::State& state)
{
    char tracePath[] = "/tmp/zrbench_traceXXXXXX";
    if (state.range(0) == 2) {
        const int fd = ::mkstemp(tracePath);
        if (fd < 0) {
            state.SkipWithError("cannot make a trace file");
            return;
        }
        ::close(fd);
        ZR::startTrace(tracePath);
    }
    ZR::ZRProxyRemote proxy("Echo", "127.0.0.1", broker->port(), ZR::ZRCallLimits(), nullptr,
                            std::make_shared<ZR::ZRExchangeHistory>(20));
    const ZRValue arguments = smallArguments();
    ZRValue result;
    for (auto _ : state) {
        proxy.call("echo", arguments, result);
        benchmark::DoNotOptimize(result);
    }
    if (state.range(0) == 2) {
        ZR::stopTrace();
        std::remove(tracePath);
    }
    if (!(result == arguments))
        state.SkipWithError("the echo came back different");
}
BENCHMARK(BM_ProxyCallRecorded)->Arg(1)->Arg(2)->UseRealTime();

// The same call started in the background on N connections, 256 in flight,
// each result taken in the order started: items per second against
// BM_ProxyCall's calls per second is what running side by side gains.
void BM_ProxyFutures(benchmark::State& state)
{
    ZR::ZRProxyRemote proxy("Echo", "127.0.0.1", broker->port(), 0, 0);
    proxy.setConnections(static_cast<std::size_t>(state.range(0)));
    const ZRValue arguments = smallArguments();
    const std::size_t window = 256;
    std::vector<ZR::ZRCallFuture> ring(window);
    std::size_t started = 0;
    for (auto _ : state) {
        ZR::ZRCallFuture& slot = ring[started % window];
        if (slot.valid() && !(slot.get() == arguments)) {
            state.SkipWithError("the echo came back different");
            break;
        }
        slot = proxy.start("echo", arguments);
        ++started;
    }
    for (const ZR::ZRCallFuture& future : ring)
        if (future.valid())
            future.wait();
    state.SetItemsProcessed(static_cast<std::int64_t>(started));
}
BENCHMARK(BM_ProxyFutures)->Arg(1)->Arg(4)->Arg(8)->UseRealTime();

// One exchange as it went over the wire.
struct Exchange {
    std::string request;
    std::string response;
};

// The transport callbacks of the context under capture, and what passed them.
struct Recorder {
    int (*send)(struct soap*, const char*, std::size_t) = nullptr;
    std::size_t (*receive)(struct soap*, char*, std::size_t) = nullptr;
    Exchange exchange;
};
Recorder recorder;

int recordingSend(struct soap* context, const char* data, std::size_t size)
{
    recorder.exchange.request.append(data, size);
    return recorder.send(context, data, size);
}

std::size_t recordingReceive(struct soap* context, char* data, std::size_t size)
{
    const std::size_t count = recorder.receive(context, data, size);
    recorder.exchange.response.append(data, count);
    return count;
}

// The bytes of one call like the proxy's, taken after a first call so that
// the context is in the state every later call sees (DIME output on).
Exchange captureExchange()
{
    ZR::ZRNetwork network;
    boost::shared_ptr<ZR::zr__ZRModuleInfoVexel> info(new ZR::zr__ZRModuleInfoVexel);
    info->name = "Echo";
    const std::string url = "http://127.0.0.1:" + std::to_string(broker->port());
    const boost::shared_ptr<ZR::ZRConnection> connection = network.createConnection(info, url, 0);
    const ZRValue arguments = smallArguments();
    network.callMethod(connection, "echo", arguments);

    struct soap* context = connection->context;
    recorder.send = context->fsend;
    recorder.receive = context->frecv;
    context->fsend = recordingSend;
    context->frecv = recordingReceive;
    network.callMethod(connection, "echo", arguments);
    context->fsend = recorder.send;
    context->frecv = recorder.receive;
    return recorder.exchange;
}

int connectToBroker()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(broker->port()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        throw std::runtime_error("cannot connect to the broker");
    // gSOAP sets TCP_NODELAY on its client sockets too.
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

bool sendAll(int fd, const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t sent = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        done += static_cast<std::size_t>(sent);
    }
    return true;
}

// Reads one HTTP response (header, then Content-Length bytes) into `buffer`.
bool receiveResponse(int fd, std::string& buffer)
{
    buffer.clear();
    char chunk[65536];
    std::size_t total = std::string::npos;
    while (total == std::string::npos || buffer.size() < total) {
        const ssize_t count = ::recv(fd, chunk, sizeof chunk, 0);
        if (count <= 0)
            return false;
        buffer.append(chunk, static_cast<std::size_t>(count));
        const std::size_t headerEnd = buffer.find("\r\n\r\n");
        if (total == std::string::npos && headerEnd != std::string::npos) {
            const std::size_t field = buffer.find("Content-Length: ");
            if (field == std::string::npos || field > headerEnd)
                return false;
            total = headerEnd + 4 + std::strtoul(buffer.c_str() + field + 16, nullptr, 10);
        }
    }
    return buffer.size() == total;
}

void BM_RawReplay(benchmark::State& state)
{
    // Google Benchmark runs this function several times; one capture will do.
    static const Exchange exchange = captureExchange();
    const int fd = connectToBroker();
    std::string response;
    for (auto _ : state) {
        if (!sendAll(fd, exchange.request) || !receiveResponse(fd, response)) {
            state.SkipWithError("the replayed exchange failed");
            break;
        }
    }
    ::close(fd);
    if (response != exchange.response)
        state.SkipWithError("the replayed response differs from the captured one");
    state.counters["request_bytes"] = static_cast<double>(exchange.request.size());
    state.counters["response_bytes"] = static_cast<double>(exchange.response.size());
}
BENCHMARK(BM_RawReplay)->UseRealTime();

// The console report, plus the ratio of the two round-trip times at the end
// (of the medians when the runs were repeated).
class RatioReporter : public benchmark::ConsoleReporter {
public:
    RatioReporter() : ConsoleReporter(::isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.error_occurred)
                continue;
            const std::string name = run.run_name.function_name;
            if (run.run_type == Run::RT_Iteration)
                last_[name] = run.GetAdjustedRealTime();
            else if (run.aggregate_name == "median")
                median_[name] = run.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void printRatio() const
    {
        const double proxy = perCall("BM_ProxyCall");
        const double replay = perCall("BM_RawReplay");
        if (proxy > 0 && replay > 0)
            std::printf("\nproxy call / raw replay: %.2f\n", proxy / replay);
    }

private:
    double perCall(const std::string& name) const
    {
        const auto median = median_.find(name);
        if (median != median_.end())
            return median->second;
        const auto last = last_.find(name);
        return last == last_.end() ? 0 : last->second;
    }

    std::map<std::string, double> last_;
    std::map<std::string, double> median_;
};

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    try {
        broker.reset(new ZRTest::BrokerProcess(ZR_DEMOBROKER));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zrbench_remotecall: %s\n", error.what());
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatio();
    broker.reset();
    benchmark::Shutdown();
    return 0;
}
