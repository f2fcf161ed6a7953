// SPDX-License-Identifier: GPL-2.0-or-later
// What the proxy records of its exchanges on the wire: the history it keeps
// and the trace it appends to.
#include "networkwire.h"

namespace {

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// A proxy with a history keeps its exchanges, the look-up first, failures
// with their identifier, the texts as they went over the wire without the
// bytes of attachments and cut at their bound, and only the last ones.
TEST(ProxyWire, HistoryKeepsTheLastExchangesAsTheyWentOverTheWire)
{
    ScriptedPeer broker;
    ScriptedPeer module;
    broker.push(lookupReply("Tracker", "127.0.0.1", module.port()));
    const auto history = std::make_shared<ZR::ZRExchangeHistory>(10);
    ZRProxyRemote proxy("Tracker", "127.0.0.1", broker.port(), ZRCallLimits(), nullptr, history);

    const std::string sentBytes(70000, 'S'), returnedBytes(5000, 'R');
    const std::string binaryItem = "<item xsi:type=\"xsd:base64Binary\">MQ==</item>";
    module.push(faultReply("Unknown method"));
    module.push(callReply(intItem(3)));
    module.push(httpResponse(
        DimeMessage(callEnvelope("<item xsi:type=\"Array\">" + binaryItem + intItem(2) + "</item>"))
            .attach(returnedBytes, "back", "application/x-test")
            .bytes(),
        200, "OK", "application/dime"));

    ZRValue result;
    EXPECT_THROW(proxy.call("nope", ZRValue(), result), ZRError);
    const ZRValue large(std::string(200000, 'x'));
    proxy.call("put", large, result);
    ZRValue binary;
    binary.assignBytes(sentBytes.data(), static_cast<int>(sentBytes.size()));
    ZRValue withBinary;
    withBinary.append(binary);
    proxy.call("store", withBinary, result);

    const std::vector<ZR::ZRExchangeRecord> records = proxy.history();
    ASSERT_EQ(records.size(), 4u);
    const std::vector<RecordedRequest> calls = module.requests();
    ASSERT_EQ(calls.size(), 3u);

    const ZR::ZRExchangeRecord& lookUp = records[0];
    EXPECT_EQ(lookUp.method, "getModuleByName");
    EXPECT_EQ(lookUp.outcome, "");
    EXPECT_EQ(lookUp.peer, "127.0.0.1:" + portText(broker));
    EXPECT_EQ(lookUp.request, broker.requests()[0].raw);
    EXPECT_EQ(lookUp.reply, lookupReply("Tracker", "127.0.0.1", module.port()));
    EXPECT_GE(lookUp.seconds, 0);
    EXPECT_LE(lookUp.seconds, records[1].started - lookUp.started + 1e-3);
    EXPECT_GT(lookUp.started, 1.7e9);

    EXPECT_EQ(records[1].method, "nope");
    EXPECT_EQ(records[1].outcome, "zrbridge:remoteFault");
    EXPECT_EQ(records[1].request, calls[0].raw);
    EXPECT_EQ(records[1].reply, faultReply("Unknown method"));

    // DIME both ways: the SOAP text and one line per attachment.
    const ZR::ZRExchangeRecord& store = records[3];
    EXPECT_EQ(store.outcome, "");
    EXPECT_TRUE(contains(store.request, calls[2].header)) << store.request;
    EXPECT_TRUE(contains(store.request, "<zrbroker:meth>store</zrbroker:meth>")) << store.request;
    EXPECT_TRUE(contains(store.request, "</SOAP-ENV:Envelope>")) << store.request;
    EXPECT_TRUE(contains(store.request, "\n[attachment id=\"")) << store.request;
    EXPECT_TRUE(contains(store.request, "\" type=\"application/octet-stream\" 70000 bytes]"))
        << store.request;
    EXPECT_FALSE(contains(store.request, "SSSS"));
    EXPECT_TRUE(contains(store.reply, "<zrbroker:callVexelResponse>")) << store.reply;
    EXPECT_TRUE(contains(store.reply, "\n[attachment id=\"back\" type=\"application/x-test\" 5000 bytes]"))
        << store.reply;
    EXPECT_FALSE(contains(store.reply, "RRRR"));

    // Cut at the bound; the marker says how much was left out.
    const ZR::ZRExchangeRecord& put = records[2];
    const std::size_t bound = 64 * 1024;
    EXPECT_TRUE(put.request == calls[1].raw.substr(0, bound) + "\n[... " +
                                   std::to_string(calls[1].raw.size() - bound) + " bytes left out]");

    proxy.setHistorySize(2);
    const std::vector<ZR::ZRExchangeRecord> last = proxy.history();
    ASSERT_EQ(last.size(), 2u);
    EXPECT_EQ(last[0].method, "put");
    EXPECT_EQ(last[1].method, "store");

    // A look-up that fails still reaches the caller's history.
    ScriptedPeer refusing;
    refusing.push(faultReply("Unknown module"));
    const auto failed = std::make_shared<ZR::ZRExchangeHistory>(5);
    EXPECT_THROW(ZRProxyRemote("Nope", "127.0.0.1", refusing.port(), ZRCallLimits(), nullptr, failed),
                 ZRNetworkError);
    ASSERT_EQ(failed->records().size(), 1u);
    EXPECT_EQ(failed->records()[0].outcome, "zrbridge:unknownModule");
    EXPECT_EQ(failed->records()[0].reply, faultReply("Unknown module"));

    // Without a history nothing is kept.
    broker.push(lookupReply("Tracker", "127.0.0.1", module.port()));
    module.push(callReply(intItem(4)));
    ZRProxyRemote plain("Tracker", "127.0.0.1", broker.port(), ZRCallLimits());
    plain.call("get", ZRValue(), result);
    EXPECT_TRUE(plain.history().empty());
    EXPECT_EQ(plain.historySize(), 0u);
}

std::string fileText(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// The trace gets every exchange of every connection while it is on, with
// the time, the peer, the outcome and both texts; nothing when it is off.
TEST(ProxyWire, TraceAppendsEveryExchangeWhileOn)
{
    char path[] = "/tmp/zrtraceXXXXXX";
    const int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    ::close(fd);
    ASSERT_EQ(ZR::traceFile(), "");

    ScriptedPeer broker;
    ScriptedPeer module;
    broker.push(lookupReply("Tracker", "127.0.0.1", module.port()));
    module.push(callReply(intItem(1)));
    module.push(callReply(intItem(2)));
    ZR::startTrace(path);
    EXPECT_EQ(ZR::traceFile(), path);
    ZRProxyRemote proxy("Tracker", "127.0.0.1", broker.port(), ZRCallLimits());
    ZRValue result;
    proxy.call("first", ZRValue(), result);
    ZR::stopTrace();
    EXPECT_EQ(ZR::traceFile(), "");
    proxy.call("second", ZRValue(), result);

    const std::string text = fileText(path);
    std::remove(path);
    const std::string lookUpLine =
        "  peer 127.0.0.1:" + portText(broker) + "  module Tracker  method getModuleByName  ";
    EXPECT_TRUE(contains(text, lookUpLine)) << text;
    EXPECT_TRUE(contains(text, "-- request\n" + broker.requests()[0].raw + "\n-- reply\n" +
                                   lookupReply("Tracker", "127.0.0.1", module.port()) + "\n\n"))
        << text;
    EXPECT_TRUE(contains(text, "  peer 127.0.0.1:" + portText(module) + "  module Tracker  method first  "));
    EXPECT_TRUE(contains(text, " s  ok\n-- request\n" + module.requests()[0].raw)) << text;
    EXPECT_FALSE(contains(text, "method second"));
    EXPECT_EQ(text.compare(0, 5, "== 20"), 0) << text;
    EXPECT_TRUE(contains(text, " UTC  peer ")) << text;

    EXPECT_THROW(ZR::startTrace("/nonexistent-dir/trace.txt"), ZRError);
    EXPECT_EQ(ZR::traceFile(), "");
}

}  // namespace
