// SPDX-License-Identifier: GPL-2.0-or-later
// The floor under the gateway benchmark. The HTTP exchange of one echo call
// is captured once through the core library, then replayed as raw bytes over
// one kept-alive socket (BM_Replay); BM_CoreCall makes the same call through
// ZRNetwork without Octave, the part of an invoker call that is not MEX
// conversion. The payloads are those bench_gateways.m sends.
//
// Usage: zrgateways_replay --port=PORT [Google Benchmark flags]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>

#include <benchmark/benchmark.h>
#include <stdsoap2.h>
#include <boost/make_shared.hpp>

#include "zrnetwork.h"

namespace {

int brokerPort = 0;

enum Payload { Small, Vector, Matrix };

// The parameter list invoker builds for {1}, {v} with v = mod(0:999999,
// 1000) + 0.25, and {reshape(v, 1000, 1000)}: a matrix travels as rows.
ZR::ZRValue parameters(Payload payload)
{
    ZR::ZRValue list;
    list.resizeArray(1);
    ZR::ZRValue& value = list[0];
    switch (payload) {
    case Small: value = 1.0f; break;
    case Vector:
        value.resizeArray(1000000);
        for (int k = 0; k < 1000000; ++k)
            value[k] = static_cast<float>(k % 1000 + 0.25);
        break;
    case Matrix:
        value.resizeArray(1000);
        for (int i = 0; i < 1000; ++i) {
            ZR::ZRValue& row = value[i];
            row.resizeArray(1000);
            for (int j = 0; j < 1000; ++j)
                row[j] = static_cast<float>((i + 1000 * j) % 1000 + 0.25);
        }
        break;
    }
    return list;
}

// A connection to the Echo module, made the way a proxy makes it.
struct EchoConnection {
    ZR::ZRNetwork network;
    boost::shared_ptr<ZR::zr__ZRModuleInfoVexel> info = boost::make_shared<ZR::zr__ZRModuleInfoVexel>();
    boost::shared_ptr<ZR::ZRConnection> connection;

    EchoConnection()
    {
        const std::string url = "http://127.0.0.1:" + std::to_string(brokerPort);
        network.initDefaultConnection(url);
        info->name = "Echo";
        connection = network.createConnection(info, url, 0);
        network.getModuleByName(connection, "Echo", info);
        network.setEndPoint(connection, "127.0.0.1", info->port);
    }
};

// The bytes one call sends and receives, recorded by wrapping the gSOAP
// context's transport callbacks. Used from one thread only.
struct Recording {
    std::string sent;
    std::string received;
    int (*send)(struct soap*, const char*, size_t) = nullptr;
    size_t (*receive)(struct soap*, char*, size_t) = nullptr;
};
Recording recording;

int recordingSend(struct soap* context, const char* data, size_t length)
{
    recording.sent.append(data, length);
    return recording.send(context, data, length);
}

size_t recordingReceive(struct soap* context, char* data, size_t length)
{
    const size_t received = recording.receive(context, data, length);
    recording.received.append(data, received);
    return received;
}

struct Exchange {
    std::string request;
    std::string response;
    int modulePort;
};

Exchange capture(Payload payload)
{
    EchoConnection echo;
    const ZR::ZRValue params = parameters(payload);
    struct soap* context = echo.connection->context;
    recording = Recording();
    recording.send = context->fsend;
    recording.receive = context->frecv;
    context->fsend = recordingSend;
    context->frecv = recordingReceive;
    echo.network.callMethod(echo.connection, "echo", params);
    context->fsend = recording.send;
    context->frecv = recording.receive;
    return Exchange{recording.sent, recording.received, echo.info->port};
}

class RawSocket {
public:
    explicit RawSocket(int port) : fd_(socket(AF_INET, SOCK_STREAM, 0))
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const int one = 1;
        setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (fd_ < 0 || connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            throw std::runtime_error("cannot connect to the module");
    }
    ~RawSocket() { close(fd_); }

    void sendAll(const std::string& bytes)
    {
        for (size_t done = 0; done < bytes.size();) {
            const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0)
                throw std::runtime_error("send failed");
            done += static_cast<size_t>(n);
        }
    }

    // Reads one HTTP response (Content-Length or chunked body); returns
    // its size in bytes.
    size_t receiveResponse()
    {
        size_t headerEnd;
        while ((headerEnd = buffer_.find("\r\n\r\n")) == std::string::npos)
            fill();
        const std::string headers = lowercase(buffer_.substr(0, headerEnd + 4));
        size_t consumed = headerEnd + 4;
        if (headers.find("transfer-encoding: chunked") != std::string::npos) {
            for (;;) {
                size_t lineEnd;
                while ((lineEnd = buffer_.find("\r\n", consumed)) == std::string::npos)
                    fill();
                const size_t chunk = std::strtoul(buffer_.c_str() + consumed, nullptr, 16);
                consumed = lineEnd + 2 + chunk + 2;
                while (buffer_.size() < consumed)
                    fill();
                if (chunk == 0)
                    break;
            }
        } else {
            const size_t at = headers.find("content-length:");
            if (at == std::string::npos)
                throw std::runtime_error("response without a length");
            consumed += std::strtoul(headers.c_str() + at + 15, nullptr, 10);
            while (buffer_.size() < consumed)
                fill();
        }
        buffer_.erase(0, consumed);
        return consumed;
    }

private:
    static std::string lowercase(std::string text)
    {
        for (char& c : text)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return text;
    }

    void fill()
    {
        char chunk[65536];
        const ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
        if (n <= 0)
            throw std::runtime_error("the module closed the connection");
        buffer_.append(chunk, static_cast<size_t>(n));
    }

    int fd_;
    std::string buffer_;
};

double peakResidentMegabytes()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, 6, "VmHWM:") == 0)
            return std::strtod(line.c_str() + 6, nullptr) / 1024.0;
    return 0;
}

void BM_Replay(benchmark::State& state)
{
    const Exchange exchange = capture(static_cast<Payload>(state.range(0)));
    RawSocket socket(exchange.modulePort);
    size_t responseBytes = 0;
    for (auto _ : state) {
        socket.sendAll(exchange.request);
        responseBytes = socket.receiveResponse();
    }
    if (responseBytes != exchange.response.size())
        state.SkipWithError("the replayed response differs in size from the captured one");
    state.counters["request_bytes"] = static_cast<double>(exchange.request.size());
    state.counters["response_bytes"] = static_cast<double>(responseBytes);
}

void BM_CoreCall(benchmark::State& state)
{
    EchoConnection echo;
    const ZR::ZRValue params = parameters(static_cast<Payload>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(echo.network.callMethod(echo.connection, "echo", params));
    state.counters["VmHWM_MB"] = peakResidentMegabytes();
}

BENCHMARK(BM_Replay)->ArgName("small")->Arg(Small)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Replay)->ArgName("vector")->Arg(Vector)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_Replay)->ArgName("matrix")->Arg(Matrix)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_CoreCall)->ArgName("small")->Arg(Small)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CoreCall)->ArgName("vector")->Arg(Vector)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_CoreCall)->ArgName("matrix")->Arg(Matrix)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--port=", 7) == 0)
            brokerPort = std::atoi(argv[i] + 7);
    if (brokerPort <= 0) {
        std::fprintf(stderr, "usage: %s --port=PORT [benchmark flags]\n", argv[0]);
        return 2;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
