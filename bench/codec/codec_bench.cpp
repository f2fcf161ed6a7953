// SPDX-License-Identifier: GPL-2.0-or-later
// zrbench_codec: encoding and decoding of large values. Encoding is the
// writer alone, into one string and (InPieces) in the pieces the output
// hook keeps between its passes; decoding goes the way a reply does, through the generated
// callVexel stub and the input hook, with the HTTP response replayed from
// memory. Decode/Floats at 1M and 2M elements shows whether decoding is
// linear in the size of the value; Decode/LongText at 20 and 100 MB whether
// one long text is.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "memorytransport.h"
#include "zrreplyguard.h"
#include "zrsoapH.h"
#include "zrvaluesoap.h"

using ZR::ZRValue;

namespace {

ZRValue floats(int count)
{
    ZRValue value;
    value.resizeArray(count);
    for (int i = 0; i < count; ++i)
        value[i] = 0.001f * static_cast<float>(i) - 17.25f;
    return value;
}

ZRValue strings(int count, int length)
{
    ZRValue value;
    value.resizeArray(count);
    for (int i = 0; i < count; ++i) {
        std::string text(length, ' ');
        for (int c = 0; c < length; ++c)
            text[c] = c % 11 == 10 ? ' ' : static_cast<char>('a' + (i + c) % 26);
        value[i] = text.c_str();
    }
    return value;
}

ZRValue matrix(int rows, int columns)
{
    ZRValue row = floats(columns);
    ZRValue value;
    value.resizeArray(rows);
    for (int r = 0; r < rows; ++r)
        value[r] = row;
    return value;
}

std::string encoded(const ZRValue& value)
{
    std::string text;
    text.reserve(10000);
    ZR::writeValueXml(value, text, false);
    return text;
}

std::string httpReply(const ZRValue& value)
{
    const std::string body =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\""
        " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
        "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\""
        " xmlns:zrbroker=\"urn:zrbroker\"><SOAP-ENV:Body><zrbroker:callVexelResponse><zrbroker:return>" +
        encoded(value) +
        "</zrbroker:return></zrbroker:callVexelResponse></SOAP-ENV:Body></SOAP-ENV:Envelope>";
    return "HTTP/1.1 200 OK\r\nContent-Type: text/xml; charset=utf-8\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\nConnection: keep-alive\r\n\r\n" + body;
}

void encode(benchmark::State& state, const ZRValue& value)
{
    std::size_t bytes = 0;
    for (auto _ : state) {
        const std::string text = encoded(value);
        bytes = text.size();
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
    state.counters["text_MB"] = static_cast<double>(bytes) / 1e6;
}

void decode(benchmark::State& state, const ZRValue& value)
{
    const std::string reply = httpReply(value);
    struct soap* soap = soap_new2(SOAP_IO_KEEPALIVE, SOAP_IO_KEEPALIVE);
    // Every client context counts the reply's markup as it arrives.
    ZR::installReplyGuard(soap, nullptr);
    {
        ZRTest::MemoryTransport transport(soap);
        const ZRValue parameters;
        for (auto _ : state) {
            state.PauseTiming();
            transport.addReply(reply);
            state.ResumeTiming();
            zrsoap::zrbroker__callVexelResponse response;
            if (zrsoap::soap_call_zrbroker__callVexel(soap, "http://bench:1", "", "M", "m", parameters,
                                                      response) != SOAP_OK ||
                response._return.size() != value.size()) {
                state.SkipWithError("the reply did not decode");
                break;
            }
            soap_destroy(soap);
            soap_end(soap);
        }
    }
    soap_free(soap);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * reply.size()));
    state.SetComplexityN(value.size());
}

// As the output hook writes a message's value: in pieces of 1 MB, kept for
// the sending pass.
void encodeInPieces(benchmark::State& state, const ZRValue& value)
{
    std::size_t bytes = 0;
    for (auto _ : state) {
        std::vector<std::string> pieces;
        std::string text;
        ZR::writeValueXml(value, text, false, std::size_t(1) << 20,
                          [&](std::string& piece) { pieces.push_back(std::move(piece)); });
        pieces.push_back(std::move(text));
        bytes = 0;
        for (const std::string& piece : pieces)
            bytes += piece.size();
        benchmark::DoNotOptimize(pieces.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
    state.counters["text_MB"] = static_cast<double>(bytes) / 1e6;
}

void BM_EncodeFloats(benchmark::State& state)
{
    encode(state, floats(static_cast<int>(state.range(0))));
}
void BM_EncodeFloatsInPieces(benchmark::State& state)
{
    encodeInPieces(state, floats(static_cast<int>(state.range(0))));
}
void BM_DecodeFloats(benchmark::State& state)
{
    decode(state, floats(static_cast<int>(state.range(0))));
}
void BM_EncodeStrings(benchmark::State& state)
{
    encode(state, strings(10000, 100));
}
void BM_DecodeStrings(benchmark::State& state)
{
    decode(state, strings(10000, 100));
}
void BM_EncodeMatrix(benchmark::State& state)
{
    encode(state, matrix(1000, 1000));
}
void BM_DecodeMatrix(benchmark::State& state)
{
    decode(state, matrix(1000, 1000));
}
// One String of the given number of MB, which arrives in many pieces: its
// time at 20 and 100 MB shows whether reading one long text is linear.
void BM_DecodeLongText(benchmark::State& state)
{
    ZRValue value;
    value.resizeArray(1);
    value[0] = std::string(static_cast<std::size_t>(state.range(0)) << 20, 'x').c_str();
    decode(state, value);
}

}  // namespace

BENCHMARK(BM_EncodeFloats)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeFloatsInPieces)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeFloats)
    ->Arg(1000000)
    ->Arg(2000000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);
BENCHMARK(BM_EncodeStrings)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeStrings)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeMatrix)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeMatrix)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeLongText)->Arg(20)->Arg(100)->Unit(benchmark::kMillisecond)->Iterations(1);

BENCHMARK_MAIN();
