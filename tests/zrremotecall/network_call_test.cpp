// SPDX-License-Identifier: GPL-2.0-or-later
// Method calls on the wire, against scripted peers: results and their
// unwrapping, fault texts, a result read before a failure, the limits and
// interrupts that end waits and parses, retries after a move, and a request
// never sent twice.
#include "networkwire.h"

namespace {

// The unwrapping rule itself is a unit test; here only that call() applies it.
TEST(ProxyWire, CallUnwrapsStatusArrays)
{
    ScriptedPeer peer;
    peer.push(lookupReply("Tracker", "127.0.0.1", peer.port()));
    ZRProxyRemote proxy("Tracker", "127.0.0.1", peer.port(), 0, 0);
    const std::string wrapped =
        "<item xsi:type=\"Array\">" + intItem(1) + "<item xsi:type=\"xsd:string\">ok</item></item>";
    const std::string unwrapped =
        "<item xsi:type=\"Array\">" + intItem(2) + "<item xsi:type=\"xsd:string\">ok</item></item>";
    peer.push(callReply(wrapped));
    peer.push(callReply(unwrapped));

    ZRValue result;
    proxy.call("get", ZRValue(), result);
    EXPECT_TRUE(result == ZRValue("ok"));
    proxy.call("get", ZRValue(), result);
    ASSERT_EQ(result.valueType(), ZRValue::Array);
    EXPECT_EQ(result.size(), 2);
}

// What the user reads when a call fails: the fault texts of the broker, or
// gSOAP's description of a transport failure.
TEST(NetworkWire, FailedCallRaisesTheFaultTexts)
{
    const std::string unreachable = refusingEndpoint();
    const std::string reply = callReply(intItem(5));
    const std::size_t headerSize = reply.find("\r\n\r\n") + 4;
    const struct {
        const char* name;
        ScriptedResponse reply;
        std::string expected;
        ZRErrorKind kind;
    } cases[] = {
        {"fault without detail", ScriptedResponse::keepAlive(faultReply("Unknown method")),
         "\tTracker::SOAP error:Unknown method\n\tSOAP detail: ", ZRErrorKind::RemoteFault},
        {"fault with detail",
         ScriptedResponse::keepAlive(faultReply("Bad argument", "<reason>x &lt; 0</reason>")),
         "\tTracker::SOAP error:Bad argument\n\tSOAP detail: <reason>x &lt; 0</reason>",
         ZRErrorKind::RemoteFault},
        {"HTTP 500 without SOAP body",
         ScriptedResponse::keepAlive(httpResponse("it broke", 500, "Internal Server Error", "text/plain")),
         "\tTracker::SOAP error:Error 500: HTTP 500 Internal Server Error\n\tSOAP detail: ",
         ZRErrorKind::ConnectionFailed},
        // A reply cut off is a lost connection, not a bad reply, and says
        // how much of it came.
        {"peer closes after the HTTP header", ScriptedResponse::closeMidReply(reply, headerSize),
         "\tTracker::SOAP error:Error 200: HTTP 200 OK\n\tSOAP detail: \n\tthe module closed the connection "
         "after " +
             std::to_string(headerSize) + " bytes of the reply had arrived: it may have run the call",
         ZRErrorKind::ConnectionFailed},
        {"peer closes mid-body", ScriptedResponse::closeMidReply(reply, reply.find("<item") + 5),
         "\tTracker::SOAP error:End of file or no input: message transfer interrupted\n\tSOAP detail: "
         "\n\tthe module closed the connection after " +
             std::to_string(reply.find("<item") + 5) +
             " bytes of the reply had arrived: it may have run the call",
         ZRErrorKind::ConnectionFailed},
        {"peer closes without reply", ScriptedResponse::closeBefore(),
         "\tTracker::SOAP error:End of file or no input: message transfer interrupted\n\tSOAP detail: "
         "\n\tthe module closed the connection after the request went out, before any reply: it may have "
         "run the call",
         ZRErrorKind::ConnectionFailed},
        {"peer resets after reading the request", ScriptedResponse::resetAfterRequest(),
         "\tTracker::SOAP error:Connection reset by peer\n\tSOAP detail: \n\tthe module reset the connection "
         "after the request went out, before any reply: it may have run the call",
         ZRErrorKind::ConnectionFailed},
        // A hostile peer's fault string is cut, and the error says so.
        {"fault string of 200,000 bytes", ScriptedResponse::keepAlive(faultReply(std::string(200000, 'f'))),
         "\tTracker::SOAP error:" + std::string(65536, 'f') + "... (134464 more bytes cut)\n\tSOAP detail: ",
         ZRErrorKind::RemoteFault},
        {"not XML", ScriptedResponse::keepAlive(httpResponse("hello")),
         "\tTracker::SOAP error:Error 200: HTTP 200 OK\n\tSOAP detail: ", ZRErrorKind::BadReply},
    };
    for (const auto& c : cases) {
        ScriptedPeer peer;
        peer.push(c.reply);
        DirectConnection direct(peer.endpoint());
        const auto error = caught<ZRError>([&] { direct.call("getData"); });
        ASSERT_TRUE(error) << c.name;
        EXPECT_EQ(visibleText(error->what()), visibleText(c.expected)) << c.name;
        EXPECT_EQ(error->kind(), c.kind) << c.name;
        // The peer's texts are the first two lines.
        const std::string peerTexts = "\t" + direct.info->name + "::SOAP error:" + error->faultString() +
                                      "\n\tSOAP detail: " + error->faultDetail();
        EXPECT_EQ(c.expected.substr(0, peerTexts.size()), peerTexts) << c.name;
    }

    // Nobody listening, or an end point without a usable host: no request
    // leaves, and none goes to standard output instead.
    const struct {
        std::string endpoint;
        std::string expected;
    } unsent[] = {
        {unreachable,
         "\tTracker::SOAP error:Connection refused\n\tSOAP detail: connect failed in tcp_connect()"},
        {"http://127.0.0.1 :1",
         "\tTracker::SOAP error:Host not found\n\tSOAP detail: no usable host in the end point"},
        {"http://::1:1",
         "\tTracker::SOAP error:Host not found\n\tSOAP detail: no usable host in the end point"},
        {"http://no-such-host.invalid:1",
         "\tTracker::SOAP error:Name or service not known\n\tSOAP detail: getaddrinfo failed in "
         "tcp_connect()"},
    };
    for (const auto& c : unsent) {
        DirectConnection direct(c.endpoint);
        testing::internal::CaptureStdout();
        const auto error = caught<ZRError>([&] { direct.call("getData"); });
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << c.endpoint;
        ASSERT_TRUE(error) << c.endpoint;
        EXPECT_EQ(visibleText(error->what()), visibleText(c.expected)) << c.endpoint;
        EXPECT_EQ(error->kind(), ZRErrorKind::ConnectionFailed) << c.endpoint;
    }
}

TEST(NetworkWire, ConnectionWorksAfterAFailedCall)
{
    const struct {
        const char* name;
        std::string failure;
        std::string expected;
        ZRErrorKind kind;
    } cases[] = {
        {"SOAP fault", faultReply("Unknown method"),
         "\tTracker::SOAP error:Unknown method\n\tSOAP detail: ", ZRErrorKind::RemoteFault},
        // A fault element in place of the value is raised by the value
        // reader, in the middle of reading the reply; it is still the
        // module's fault.
        {"fault as value",
         callReply("<SOAP-ENV:Fault><faultcode>SOAP-ENV:Server</faultcode>"
                   "<faultstring>boom</faultstring></SOAP-ENV:Fault>"),
         compatibility::faultText("Fault: 'SOAP-ENV:Fault': faultcode: SOAP-ENV:Server, faultstring: boom, "),
         ZRErrorKind::RemoteFault},
    };
    for (const auto& c : cases) {
        ScriptedPeer peer;
        peer.push(c.failure);
        peer.push(callReply(intItem(5)));
        DirectConnection direct(peer.endpoint());
        const auto error = caught<ZRError>([&] { direct.call("getData"); });
        ASSERT_TRUE(error) << c.name;
        EXPECT_EQ(visibleText(error->what()), visibleText(c.expected)) << c.name;
        EXPECT_EQ(error->kind(), c.kind) << c.name;
        ZRValue result;
        EXPECT_NO_THROW(result = direct.call("getData")) << c.name;
        EXPECT_TRUE(result == ZRValue(5)) << c.name;
        EXPECT_EQ(peer.requests().size(), 2u) << c.name;
    }
}

TEST(NetworkWire, ResultReadBeforeAFailureIsReturnedWithAWarning)
{
    const std::string envelopeEnd = "</SOAP-ENV:Body></SOAP-ENV:Envelope>";
    const struct {
        const char* name;
        ScriptedResponse reply;
    } cases[] = {
        // The value arrives, then the peer hangs up before the envelope ends.
        {"closed before the envelope end",
         ScriptedResponse::shortBody(callReply(intItem(5)), envelopeEnd.size())},
        // The value arrives, then the response element holds an envelope
        // element, which the record reader refuses.
        {"envelope element after the value",
         ScriptedResponse::keepAlive(
             httpResponse(soapEnvelope("<zrbroker:callVexelResponse><zrbroker:return>" + intItem(5) +
                                       "</zrbroker:return><SOAP-ENV:Stray/></zrbroker:callVexelResponse>")))},
    };
    for (const auto& c : cases) {
        ScriptedPeer peer;
        peer.push(c.reply);
        DirectConnection direct(peer.endpoint());

        testing::internal::CaptureStdout();
        ZRValue result;
        EXPECT_NO_THROW(result = direct.call("getData")) << c.name;
        EXPECT_EQ(testing::internal::GetCapturedStdout(), kMismatchWarning) << c.name;
        EXPECT_TRUE(result == ZRValue(5)) << c.name;
    }
}

// A reply that has fully arrived is still parsed under the call's limits:
// the interrupt and a passed deadline end a long parse as they end a wait,
// each with its own kind. The reply comes from memory, so no wait happens.
TEST(NetworkWire, ParsingStopsOnTheInterruptAndTheDeadline)
{
    const std::string reply =
        callReply("<item xsi:type=\"xsd:string\">" + std::string(std::size_t(4) << 20, 'x') + "</item>");
    for (const bool interrupt : {true, false}) {
        SCOPED_TRACE(interrupt ? "interrupt" : "deadline");
        DirectConnection direct("http://127.0.0.1:9");
        MemoryTransport transport(direct.connection->context);
        transport.addReply(reply, 65536);
        ZRCallLimits limits;
        limits.timeout = interrupt ? 0 : 1e-9;
        const ZR::ZRExchangeLimits armed(direct.connection->context, ZR::ZRExchangeKind::Call, limits,
                                         interrupt ? ZR::noDeadline() : ZR::deadlineAfter(1e-9),
                                         [interrupt] { return interrupt; });
        try {
            direct.call("getData");
            ADD_FAILURE() << "the call was not stopped";
        } catch (const ZRError& error) {
            EXPECT_EQ(error.kind(), interrupt ? ZRErrorKind::Interrupted : ZRErrorKind::Timeout)
                << error.what();
        }
    }
}

// A peer that stays silent holds a call only as long as the caller allows:
// the call's Timeout, the look-up's ConnectTimeout, or an interrupt. The
// connection is dropped, and the next call works on a new one.
TEST(ProxyWire, LimitsAndInterruptsEndSilentWaits)
{
    const auto silence = std::chrono::milliseconds(1500);
    // The look-up: ConnectTimeout bounds it when given, Timeout otherwise.
    const struct {
        ZRCallLimits limits;
        const char* limit;
    } lookUps[] = {
        {ZRCallLimits{0, 0.2}, "0.2 s (ConnectTimeout)"},
        {ZRCallLimits{0.2, 0}, "0.2 s (Timeout)"},
        {ZRCallLimits{0.1, 0.3}, "0.3 s (ConnectTimeout)"},
    };
    for (const auto& c : lookUps) {
        ScriptedPeer broker;
        broker.push(ScriptedResponse::stalled(lookupReply("Tracker", "127.0.0.1", 1), silence));
        const auto error =
            caught<ZRNetworkError>([&] { ZRProxyRemote("Tracker", "127.0.0.1", broker.port(), c.limits); });
        ASSERT_TRUE(error) << c.limit;
        EXPECT_EQ(visibleText(error->what()),
                  visibleText("\tZRNetwork::getModuleByName\n\tfailed to get module Tracker " +
                              broker.endpoint() + ": no answer within " + c.limit));
        EXPECT_EQ(error->kind(), ZRErrorKind::Timeout) << c.limit;
    }

    ScriptedPeer broker;
    ScriptedPeer module;
    broker.push(lookupReply("Tracker", "127.0.0.1", module.port()));
    ZRProxyRemote proxy("Tracker", "127.0.0.1", broker.port(), ZRCallLimits());
    std::atomic<int> checks{0};
    const struct {
        const char* name;
        ZRCallLimits limits;
        ZR::ZRInterruptCheck interrupted;
        std::string expected;
        ZRErrorKind kind;
    } cases[] = {
        {"Timeout", ZRCallLimits{0.25, 0}, nullptr,
         "\tTracker::getData\n\tno complete reply within 0.25 s (Timeout)", ZRErrorKind::Timeout},
        {"interrupt", ZRCallLimits(), [&] { return ++checks > 3; }, "\tTracker::getData\n\tinterrupted",
         ZRErrorKind::Interrupted},
    };
    for (const auto& c : cases) {
        module.push(ScriptedResponse::stalled(callReply(intItem(1)), silence));
        module.push(callReply(intItem(2)));
        ZRValue result;
        const auto error =
            caught<ZRError>([&] { proxy.call("getData", ZRValue(), result, c.limits, c.interrupted); });
        ASSERT_TRUE(error) << c.name;
        const int connectionsBefore = module.connectionCount();
        EXPECT_EQ(visibleText(error->what()), visibleText(c.expected)) << c.name;
        EXPECT_EQ(error->kind(), c.kind) << c.name;
        // The peer answers only once its silence is over.
        proxy.call("getData", ZRValue(), result, ZRCallLimits(), nullptr);
        EXPECT_TRUE(result == ZRValue(2)) << c.name;
        EXPECT_EQ(module.connectionCount(), connectionsBefore + 1) << c.name;
    }
}

// A module that moved is found again, but only when the request certainly
// did not reach the old address.
TEST(ProxyWire, CallThatCannotConnectLooksTheModuleUpOnceAndRetries)
{
    ScriptedPeer broker;
    std::unique_ptr<ScriptedPeer> before(new ScriptedPeer);
    ScriptedPeer after;
    broker.push(lookupReply("Tracker", "127.0.0.1", before->port()));
    ZRProxyRemote proxy("Tracker", "127.0.0.1", broker.port(), ZRCallLimits());
    before->push(callReply(intItem(1)));
    ZRValue result;
    proxy.call("getData", ZRValue(), result);
    EXPECT_TRUE(result == ZRValue(1));

    before.reset();
    broker.push(lookupReply("Tracker", "127.0.0.1", after.port()));
    after.push(callReply(intItem(2)));
    proxy.call("getData", ZRValue(), result);
    EXPECT_TRUE(result == ZRValue(2));
    EXPECT_EQ(broker.requests().size(), 2u);
    EXPECT_EQ(proxy.endpoint(), after.endpoint());

    // The request went out and the answer was lost: not repeated.
    after.push(ScriptedResponse::closeBefore());
    const auto error = caught<ZRError>([&] { proxy.call("getData", ZRValue(), result); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), ZRErrorKind::ConnectionFailed);
    EXPECT_EQ(broker.requests().size(), 2u);
    EXPECT_EQ(after.requests().size(), 2u);
}

// A request is never sent twice. A kept-alive connection that the module
// closed while idle is found before anything goes out, and replaced; one
// that is reset once the request went out fails the call, since the module
// may have run it: a counting module must never count a call twice.
TEST(ProxyWire, RequestIsNeverSentTwice)
{
    ScriptedPeer broker;
    ScriptedPeer module;
    broker.push(lookupReply("Tracker", "127.0.0.1", module.port()));
    ZRProxyRemote proxy("Tracker", "127.0.0.1", broker.port(), ZRCallLimits());
    ZRValue result;

    // Reset while idle, before the next request: a new connection carries it.
    module.push(ScriptedResponse::resetWhenIdle(callReply(intItem(1)), std::chrono::milliseconds(20)));
    proxy.call("count", ZRValue(), result);
    EXPECT_TRUE(result == ZRValue(1));
    ASSERT_TRUE(module.waitForResets(1));
    module.push(callReply(intItem(2)));
    proxy.call("count", ZRValue(), result);
    EXPECT_TRUE(result == ZRValue(2));
    EXPECT_EQ(module.connectionCount(), 2);
    EXPECT_EQ(module.requests().size(), 2u);

    // Reset once the request is on its way: whether the module read it or
    // not, the client cannot tell, so the call fails and nothing is resent.
    const std::string mayHaveRun =
        "\tTracker::SOAP error:Connection reset by peer\n\tSOAP detail: \n\tthe module "
        "reset the connection after the request went out, before any reply: it may "
        "have run the call";
    const struct {
        const char* name;
        ScriptedResponse before;
        ScriptedResponse reset;
        std::size_t requestsSeen;
    } cases[] = {
        {"executes, then resets", ScriptedResponse::keepAlive(callReply(intItem(3))),
         ScriptedResponse::resetAfterRequest(), 2},
        {"resets unread as the request comes", ScriptedResponse::resetOnNext(callReply(intItem(3))),
         ScriptedResponse::keepAlive(callReply(intItem(98))), 1},
    };
    for (const auto& c : cases) {
        module.push(c.before);
        proxy.call("count", ZRValue(), result);
        EXPECT_TRUE(result == ZRValue(3)) << c.name;
        const std::size_t requestsBefore = module.requests().size();
        module.push(c.reset);
        // What a second sending of the request would be answered with.
        module.push(callReply(intItem(99)));
        const auto error = caught<ZRError>([&] { proxy.call("count", ZRValue(), result); });
        ASSERT_TRUE(error) << c.name << ": returned " << result.toString(1);
        EXPECT_EQ(error->kind(), ZRErrorKind::ConnectionFailed) << c.name;
        EXPECT_EQ(visibleText(error->what()), visibleText(mayHaveRun)) << c.name;
        EXPECT_EQ(module.requests().size(), requestsBefore + c.requestsSeen - 1) << c.name;
        // The proxy carries the next call on a new connection.
        while (module.pendingResponses() > 1)
            proxy.call("drain", ZRValue(), result);
        proxy.call("count", ZRValue(), result);
        EXPECT_TRUE(result == ZRValue(99)) << c.name;
    }
}

}  // namespace
