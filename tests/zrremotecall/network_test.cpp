// SPDX-License-Identifier: GPL-2.0-or-later
// The broker operations and the proxy on the wire, against scripted peers:
// what is sent where, how answers and failures reach the caller, and how the
// kept-alive TCP connection is used.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <thread>

#include <gtest/gtest.h>
#include <stdsoap2.h>

#include "brokerreplies.h"
#include "compatibility.h"
#include "expectthrow.h"
#include "memorytransport.h"
#include "scriptedpeer.h"
#include "zrconnection.h"
#include "zrexchangehistory.h"
#include "zrnetwork.h"
#include "zrproxyremote.h"
#include "zrreplylimit.h"
#include "zrtrace.h"
#include "zrtransport.h"

using ZR::zr__ZRModuleInfoVexel;
using ZR::ZRCallLimits;
using ZR::ZRConnection;
using ZR::ZRError;
using ZR::ZRErrorKind;
using ZR::ZRNetwork;
using ZR::ZRNetworkError;
using ZR::ZRProxyRemote;
using ZR::ZRValue;
using namespace ZRTest;

namespace {

const std::string kMismatchWarning =
    "\nThe return value mismatch with communication protocol, check your return value\n";

// A connection made the way the proxy makes it, pointed at `endpoint`.
struct DirectConnection {
    explicit DirectConnection(const std::string& endpoint, const std::string& module = "Tracker")
        : info(new zr__ZRModuleInfoVexel)
    {
        info->name = module;
        connection = network.createConnection(info, endpoint, 0);
        handle = connection;
    }

    ZRValue call(const std::string& method, const ZRValue& parameters = ZRValue())
    {
        return network.callMethod(handle, method, parameters);
    }

    ZRNetwork network;
    boost::shared_ptr<zr__ZRModuleInfoVexel> info;
    boost::shared_ptr<ZRConnection> connection;
    boost::shared_ptr<ZRValue> handle;
};

// An end point on which nothing listens: a peer's port after it stopped.
std::string refusingEndpoint()
{
    std::unique_ptr<ScriptedPeer> gone(new ScriptedPeer);
    const std::string endpoint = gone->endpoint();
    gone.reset();
    return endpoint;
}

std::string portText(const ScriptedPeer& peer)
{
    return std::to_string(peer.port());
}

// The HTTP header of a request without attachments on a module connection.
std::string expectedHeader(const ScriptedPeer& peer, const std::string& body)
{
    return "POST / HTTP/1.1\r\nHost: 127.0.0.1:" + portText(peer) +
           "\r\nUser-Agent: " + compatibility::kUserAgent +
           "\r\nContent-Type: text/xml; charset=utf-8\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: keep-alive\r\nSOAPAction: \"\"\r\n\r\n";
}

TEST(ProxyWire, LooksUpAtTheBrokerThenCallsTheModuleAtItsOwnAddress)
{
    ScriptedPeer broker;
    ScriptedPeer module;
    broker.push(lookupReply("Tracker", "127.0.0.1", module.port()));

    ZRProxyRemote proxy("Tracker", "127.0.0.1", broker.port(), 0, 0);

    ASSERT_EQ(broker.requests().size(), 1u);
    const RecordedRequest lookup = broker.requests()[0];
    EXPECT_EQ(lookup.header, expectedHeader(broker, lookup.body));
    EXPECT_NE(lookup.body.find("<SOAP-ENV:Body><zrbroker:getModuleByName><zrbroker:pModuleName>Tracker"
                               "</zrbroker:pModuleName></zrbroker:getModuleByName></SOAP-ENV:Body>"),
              std::string::npos)
        << lookup.body;

    const zr__ZRModuleInfoVexel& info = proxy.moduleInfo();
    EXPECT_EQ(info.name, "Tracker");
    EXPECT_EQ(info.architecture, 1);
    EXPECT_EQ(info.ip, "127.0.0.1");
    EXPECT_EQ(info.port, module.port());
    EXPECT_EQ(info.processId, 4242);
    EXPECT_EQ(info.modulePointer, 17);
    EXPECT_FALSE(info.isABroker);
    EXPECT_TRUE(info.keepAlive);
    EXPECT_EQ(proxy.endpoint(), module.endpoint());

    module.push(callReply(intItem(5)));
    ZRValue result;
    proxy.call("getData", ZRValue(), result);
    EXPECT_TRUE(result == ZRValue(5));

    EXPECT_EQ(broker.requests().size(), 1u);
    ASSERT_EQ(module.requests().size(), 1u);
    const RecordedRequest call = module.requests()[0];
    EXPECT_EQ(call.header, expectedHeader(module, call.body));
    EXPECT_NE(call.body.find("<zrbroker:callVexel><zrbroker:mod>Tracker</zrbroker:mod><zrbroker:meth>getData"
                             "</zrbroker:meth><zrbroker:p></zrbroker:p></zrbroker:callVexel>"),
              std::string::npos)
        << call.body;
}

// "127.1" reaches the loopback peer like "127.0.0.1" does, but is not the text
// "127.0.0.1" that the second fix-up looks for.
TEST(ProxyWire, FixesUpTheReportedAddress)
{
    const struct {
        const char* host;
        const char* reportedIp;
        const char* expectedIp;
    } cases[] = {
        {"127.1", "10.1.2.3", "10.1.2.3"},      {"127.1", "0.0.0.0", "127.1"},
        {"127.0.0.1", "10.1.2.3", "127.0.0.1"}, {"127.0.0.1", "0.0.0.0", "127.0.0.1"},
        {"127.0.0.1", "", "127.0.0.1"},         {"127.1", "", ""},
    };
    for (const auto& c : cases) {
        ScriptedPeer broker;
        broker.push(lookupReply("Tracker", c.reportedIp, 7070));
        ZRProxyRemote proxy("Tracker", c.host, broker.port(), 0, 0);
        EXPECT_EQ(proxy.moduleInfo().ip, c.expectedIp) << c.host << " / " << c.reportedIp;
        EXPECT_EQ(proxy.endpoint(), std::string("http://") + c.expectedIp + ":7070")
            << c.host << " / " << c.reportedIp;
        ASSERT_EQ(broker.requests().size(), 1u);
        EXPECT_NE(broker.requests()[0].header.find(std::string("\r\nHost: ") + c.host + ":"),
                  std::string::npos);
    }
}

// Every failure of the look-up starts with the same text, and a line says
// why; the error's kind tells the cause to programs, and the broker's own
// texts ride along as fault texts.
TEST(NetworkWire, FailedLookupRaisesFailedToGetModule)
{
    const std::string invalid =
        "the broker's reply could not be read: Validation constraint violation: "
        "invalid value in element 'isABroker'";
    const struct {
        const char* name;
        ScriptedResponse reply;
        ZRErrorKind kind;
        const char* faultString;
        std::string cause;
    } cases[] = {
        {"SOAP fault", ScriptedResponse::keepAlive(faultReply("No such module", "<why>gone</why>")),
         ZRErrorKind::UnknownModule, "No such module", "the broker answered with a fault: No such module"},
        {"HTTP 404", ScriptedResponse::keepAlive(httpResponse("not here", 404, "Not Found", "text/plain")),
         ZRErrorKind::LookupFailed, "HTTP Error", "the reply was not SOAP: HTTP status 404"},
        {"not XML", ScriptedResponse::keepAlive(httpResponse("hello")), ZRErrorKind::LookupFailed, nullptr,
         "the reply held no SOAP message (HTTP status 200)"},
        {"boolean True", ScriptedResponse::keepAlive(lookupReply("<isABroker>True</isABroker>")),
         ZRErrorKind::LookupFailed, nullptr, invalid},
        {"boolean 2", ScriptedResponse::keepAlive(lookupReply("<isABroker>2</isABroker>")),
         ZRErrorKind::LookupFailed, nullptr, invalid},
        {"closed", ScriptedResponse::closeBefore(), ZRErrorKind::LookupFailed, nullptr,
         "the broker closed the connection without answering"},
        {"cut short", ScriptedResponse::closeMidReply(lookupReply("Tracker", "1.2.3.4", 1), 60),
         ZRErrorKind::LookupFailed, nullptr, "the reply held no SOAP message (HTTP status 200)"},
        {"cut in the body",
         ScriptedResponse::closeMidReply(lookupReply("Tracker", "1.2.3.4", 1),
                                         lookupReply("Tracker", "1.2.3.4", 1).find("<ip>")),
         ZRErrorKind::LookupFailed, nullptr, "the broker's reply ended early"},
    };
    for (const auto& c : cases) {
        ScriptedPeer broker;
        broker.push(c.reply);
        DirectConnection direct(broker.endpoint());
        direct.info->ip = "kept";
        direct.info->port = 99;
        const auto error = caught<ZRNetworkError>(
            [&] { direct.network.getModuleByName(direct.handle, "Tracker", direct.info); });
        ASSERT_TRUE(error) << c.name;
        EXPECT_EQ(visibleText(error->what()),
                  visibleText("\tZRNetwork::getModuleByName\n\tfailed to get module Tracker " +
                              broker.endpoint() + "\n\t" + c.cause))
            << c.name;
        EXPECT_EQ(error->kind(), c.kind) << c.name;
        if (c.faultString) {
            EXPECT_EQ(error->faultString(), c.faultString) << c.name;
        }
        EXPECT_EQ(direct.info->ip, "kept") << c.name;
        EXPECT_EQ(direct.info->port, 99) << c.name;
    }

    // No broker there, or no host to look for one at: nothing is sent, and
    // nothing goes to standard output instead.
    const std::string nobody = refusingEndpoint();
    const struct {
        std::string endpoint;
        std::string cause;
    } unsent[] = {
        {nobody, "connection refused at " + nobody.substr(7) + ": is a broker listening there?"},
        {"http://127.0.0.1 :1", "no usable host in http://127.0.0.1 :1"},
        {"http://:1", "no usable host in http://:1"},
        {"http://no-such-host.invalid:1",
         "the host name no-such-host.invalid did not resolve (Name or service not known)"},
    };
    for (const auto& c : unsent) {
        const std::string& endpoint = c.endpoint;
        DirectConnection direct(endpoint);
        testing::internal::CaptureStdout();
        const auto error = caught<ZRNetworkError>(
            [&] { direct.network.getModuleByName(direct.handle, "Tracker", direct.info); });
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << endpoint;
        ASSERT_TRUE(error) << endpoint;
        EXPECT_EQ(visibleText(error->what()),
                  visibleText("\tZRNetwork::getModuleByName\n\tfailed to get module Tracker " + endpoint +
                              "\n\t" + c.cause));
        EXPECT_EQ(error->kind(), ZRErrorKind::BrokerUnreachable) << endpoint;
    }
}

TEST(ProxyWire, ConstructionFailsWithTheLookupError)
{
    ScriptedPeer broker;
    broker.push(faultReply("No such module"));
    EXPECT_THROW_MSG(ZRProxyRemote("Tracker", "127.0.0.1", broker.port(), 0, 0), ZRNetworkError,
                     "\tZRNetwork::getModuleByName\n\tfailed to get module Tracker " + broker.endpoint() +
                         "\n\tthe broker answered with a fault: No such module");
}

// An answer that gives no usable address fails the look-up and names the
// module, instead of leaving later calls to fail at port 0 (or at the port
// modulo 65536).
TEST(NetworkWire, LookupAnswerWithoutAUsableAddressFails)
{
    const struct {
        const char* name;
        std::string reply;
        std::string why;
    } cases[] = {
        {"empty return", lookupReply(""), "the broker's answer gives no address for module Tracker"},
        {"empty Body", httpResponse(soapEnvelope("")),
         "the broker's answer gives no address for module Tracker"},
        {"port 0", lookupReply("Tracker", "127.0.0.1", 0),
         "the broker's answer gives no address for module Tracker"},
        {"port 65536 + 80", lookupReply("Tracker", "127.0.0.1", 65536 + 80),
         "the broker reported port 65616 for module Tracker, outside 1-65535"},
        {"negative port", lookupReply("Tracker", "127.0.0.1", -5),
         "the broker reported port -5 for module Tracker, outside 1-65535"},
    };
    for (const auto& c : cases) {
        ScriptedPeer broker;
        broker.push(c.reply);
        DirectConnection direct(broker.endpoint());
        *direct.info = zr__ZRModuleInfoVexel{"Tracker", 3, "robot.local.", 8000, -1, -1, true, true};
        const auto error = caught<ZRNetworkError>(
            [&] { direct.network.getModuleByName(direct.handle, "Tracker", direct.info); });
        ASSERT_TRUE(error) << c.name;
        EXPECT_EQ(visibleText(error->what()),
                  visibleText("\tZRNetwork::getModuleByName\n\tfailed to get module Tracker " +
                              broker.endpoint() + "\n\t" + c.why))
            << c.name;
        EXPECT_EQ(error->kind(), ZRErrorKind::LookupFailed) << c.name;
        // The description the connection holds is left as it was.
        EXPECT_EQ(direct.info->port, 8000) << c.name;
        EXPECT_EQ(direct.info->ip, "robot.local.") << c.name;
    }
}

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

TEST(NetworkWire, KeptAliveConnectionCarriesEveryCall)
{
    ScriptedPeer broker;
    ScriptedPeer module;
    broker.push(lookupReply("Tracker", "127.0.0.1", module.port()));
    ZRProxyRemote proxy("Tracker", "127.0.0.1", broker.port(), 0, 0);

    const int calls = 100;
    for (int i = 0; i < calls; ++i)
        module.push(callReply(intItem(i)));
    ZRValue arguments;
    arguments.append(ZRValue(1));
    for (int i = 0; i < calls; ++i) {
        ZRValue result;
        proxy.call("next", arguments, result);
        ASSERT_TRUE(result == ZRValue(i)) << "call " << i;
    }
    EXPECT_EQ(module.connectionCount(), 1);
    EXPECT_EQ(module.requests().size(), static_cast<std::size_t>(calls));
    EXPECT_EQ(broker.connectionCount(), 1);
}

// Waits until the peer's close has reached the context's socket.
bool peerClosed(const ZRConnection& connection)
{
    pollfd socket{connection.context->socket, POLLIN | POLLRDHUP, 0};
    return ::poll(&socket, 1, 5000) == 1;
}

TEST(NetworkWire, ClosedConnectionIsReopenedForTheNextCall)
{
    const int calls = 5;
    const std::string closingBody = callEnvelope(intItem(8));
    const std::string announcedClose =
        "HTTP/1.1 200 OK\r\nContent-Type: text/xml; charset=utf-8\r\nContent-Length: " +
        std::to_string(closingBody.size()) + "\r\nConnection: close\r\n\r\n" + closingBody;
    {
        // The peer says it closes.
        ScriptedPeer peer;
        for (int i = 0; i < calls; ++i)
            peer.push(ScriptedResponse::closeAfter(announcedClose));
        DirectConnection direct(peer.endpoint());
        for (int i = 0; i < calls; ++i)
            EXPECT_TRUE(direct.call("getData") == ZRValue(8)) << "call " << i;
        EXPECT_EQ(peer.connectionCount(), calls);
    }
    {
        // The peer promises keep-alive and closes anyway, between calls.
        ScriptedPeer peer;
        for (int i = 0; i < calls; ++i)
            peer.push(ScriptedResponse::closeAfter(callReply(intItem(8))));
        DirectConnection direct(peer.endpoint());
        for (int i = 0; i < calls; ++i) {
            EXPECT_TRUE(direct.call("getData") == ZRValue(8)) << "call " << i;
            ASSERT_TRUE(peerClosed(*direct.connection));
        }
        EXPECT_EQ(peer.connectionCount(), calls);
    }
}

// Accepts connections and drops each one as soon as the client has started
// to send: FIN first (shutdown), then RST (close with unread data). A client
// that goes on writing after that gets EPIPE, and SIGPIPE unless it asked
// for none.
class DroppingListener {
public:
    DroppingListener()
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(fd_, 4) != 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error("cannot listen on 127.0.0.1");
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { run(); });
    }

    ~DroppingListener()
    {
        stop_ = true;
        thread_.join();
        ::close(fd_);
    }

    std::string endpoint() const { return "http://127.0.0.1:" + std::to_string(port_); }
    int dropped() const { return dropped_; }

private:
    void run()
    {
        while (!stop_) {
            pollfd listening{fd_, POLLIN, 0};
            if (::poll(&listening, 1, 50) != 1)
                continue;
            const int connection = ::accept(fd_, nullptr, nullptr);
            if (connection < 0)
                continue;
            ::shutdown(connection, SHUT_WR);
            pollfd incoming{connection, POLLIN, 0};
            ::poll(&incoming, 1, 5000);
            ::close(connection);
            ++dropped_;
        }
    }

    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> dropped_{0};
    std::thread thread_;
};

TEST(NetworkWire, PeerDroppingTheConnectionDoesNotRaiseSigpipe)
{
    struct sigaction current {};
    ASSERT_EQ(::sigaction(SIGPIPE, nullptr, &current), 0);
    ASSERT_EQ(current.sa_handler, SIG_DFL)
        << "SIGPIPE must keep its default action for this test to mean anything";

    DroppingListener listener;
    DirectConnection direct(listener.endpoint());
    // Large enough that the client is still writing when the peer is gone.
    const ZRValue bulky(std::string(8 << 20, 'x'));
    EXPECT_THROW_MSG(direct.call("store", bulky), ZRError,
                     "\tTracker::SOAP error:Broken pipe\n\tSOAP detail: ");
    // The failed send failed the call: no reply was waited for.
    EXPECT_EQ(listener.dropped(), 1);
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

// A listener that never accepts: the kernel completes connections into its
// backlog, and nobody ever reads what is sent.
class DeafListener {
public:
    DeafListener()
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(fd_, 4) != 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error("cannot listen on 127.0.0.1");
        port_ = ntohs(address.sin_port);
    }
    ~DeafListener() { ::close(fd_); }
    std::string endpoint() const { return "http://127.0.0.1:" + std::to_string(port_); }

private:
    int fd_ = -1;
    int port_ = 0;
};

// The host's interrupt request is taken when reported (Ctrl-C is seen
// once); one that arrives while a large request is still going out ends
// the call, instead of the call going on to wait for a reply.
TEST(NetworkWire, InterruptDuringALargeSendEndsTheCall)
{
    DeafListener deaf;
    DirectConnection direct(deaf.endpoint());
    const ZRValue bulky(std::string(64 << 20, 'x'));
    int checks = 0;
    const ZR::ZRInterruptCheck takenOnce = [&] { return ++checks == 3; };
    const ZRCallLimits limits{5, 0};
    const ZR::ZRExchangeLimits armed(direct.connection->context, ZR::ZRExchangeKind::Call, limits,
                                     ZR::deadlineAfter(limits.timeout), takenOnce);
    const auto error = caught<ZRError>([&] { direct.call("store", bulky); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), ZRErrorKind::Interrupted) << visibleText(error->what());
    EXPECT_EQ(visibleText(error->what()), visibleText("\tTracker::store\n\tinterrupted"));
}

// A reply that grows past the reply limit (here a DIME attachment sent in
// chunks that never end) is cut there, and the error says why.
TEST(NetworkWire, ReplyBeyondTheReplyLimitFails)
{
    const std::string envelope =
        callEnvelope("<item xsi:type=\"xsd:base64Binary\" href=\"cid:image\">MQ==</item>");
    std::string message = dimeRecord(true, false, false, DimeTypeFormat::AbsoluteUri, "",
                                     "http://schemas.xmlsoap.org/soap/envelope/", envelope);
    const std::string piece(64 * 1024, 'd');
    message +=
        dimeRecord(false, false, true, DimeTypeFormat::MediaType, "image", "application/octet-stream", piece);
    for (int i = 0; i < 40; ++i)
        message += dimeRecord(false, false, true, DimeTypeFormat::Unchanged, "", "", piece);
    ScriptedPeer peer;
    peer.push(httpResponse(message, 200, "OK", "application/dime"));
    peer.push(callReply(intItem(7)));
    DirectConnection direct(peer.endpoint());
    ZR::setReplyByteLimit(direct.connection->context, 1 << 20);
    const auto error = caught<ZRError>([&] { direct.call("getImage"); });
    ASSERT_TRUE(error);
    const std::string text = error->what();
    const std::string limitLine = "\n\tthe reply is larger than 1048576 bytes (the reply limit)";
    ASSERT_GE(text.size(), limitLine.size());
    EXPECT_EQ(visibleText(text.substr(text.size() - limitLine.size())), visibleText(limitLine));
    EXPECT_EQ(error->kind(), ZRErrorKind::BadReply);
    // The rest of the oversized reply is not taken for the next one.
    EXPECT_TRUE(direct.call("getData") == ZRValue(7));
}

// Opens descriptors until the process has none left, and gives them back.
class DescriptorExhaustion {
public:
    DescriptorExhaustion()
    {
        ::getrlimit(RLIMIT_NOFILE, &saved_);
        rlimit lowered = saved_;
        lowered.rlim_cur = std::min<rlim_t>(saved_.rlim_cur, 4096);
        ::setrlimit(RLIMIT_NOFILE, &lowered);
        for (;;) {
            const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
            if (fd < 0)
                break;
            held_.push_back(fd);
        }
    }
    ~DescriptorExhaustion()
    {
        for (int fd : held_)
            ::close(fd);
        ::setrlimit(RLIMIT_NOFILE, &saved_);
    }

private:
    rlimit saved_{};
    std::vector<int> held_;
};

TEST(NetworkWire, RunningOutOfFileDescriptorsSaysSo)
{
    const std::string noneLeft =
        "\n\ttoo many open files: the process has no file descriptor left for a connection";
    ScriptedPeer peer;
    DirectConnection direct(peer.endpoint());
    std::unique_ptr<ZRNetworkError> lookUpError;
    std::unique_ptr<ZRError> callError;
    {
        const DescriptorExhaustion exhaustion;
        lookUpError = caught<ZRNetworkError>(
            [&] { direct.network.getModuleByName(direct.handle, "Tracker", direct.info); });
        callError = caught<ZRError>([&] { direct.call("getData"); });
    }
    ASSERT_TRUE(lookUpError);
    EXPECT_EQ(visibleText(lookUpError->what()),
              visibleText("\tZRNetwork::getModuleByName\n\tfailed to get module Tracker " + peer.endpoint() +
                          noneLeft));
    ASSERT_TRUE(callError);
    EXPECT_EQ(visibleText(callError->what()),
              visibleText("\tTracker::SOAP error:Too many open files\n\tSOAP detail: connect failed in "
                          "tcp_connect()" +
                          noneLeft));
    EXPECT_EQ(peer.connectionCount(), 0);
}

ZRValue binaryOf(const std::string& bytes)
{
    ZRValue value;
    value.assignBytes(bytes.data(), static_cast<int>(bytes.size()));
    return value;
}

// The process's address space in bytes.
std::size_t addressSpaceInUse()
{
    std::ifstream statm("/proc/self/statm");
    std::size_t pages = 0;
    statm >> pages;
    return pages * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

// Runs `body` in a child process and gives its exit status (-1 when it did
// not exit normally). The child leaves with _exit: the peers' threads live
// in the parent only.
int inChildProcess(const std::function<int()>& body)
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(body());
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A Binary whose attachment cannot be registered would leave the later
// Binary values paired with the wrong bytes: the call fails, unsent.
TEST(NetworkWire, AttachmentThatCannotBeRegisteredFailsTheCallUnsent)
{
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "the address sanitizer ends the process when an allocation fails";
#endif
    ScriptedPeer peer;
    peer.push(callReply(intItem(1)));
    const std::size_t bigSize = 256u << 20;
    const int status = inChildProcess([&] {
        DirectConnection direct(peer.endpoint());
        ZRValue parameters;
        parameters.append(binaryOf("a"));
        parameters.append(binaryOf(std::string(bigSize, 'b')));
        parameters.append(binaryOf("c"));
        // Room for the request's small allocations, none for a copy of the
        // large Binary.
        const rlimit limit{addressSpaceInUse() + (64u << 20), RLIM_INFINITY};
        if (::setrlimit(RLIMIT_AS, &limit) != 0)
            return 2;
        try {
            direct.call("store", parameters);
        } catch (const ZRError& error) {
            return std::string(error.what()) ==
                           "\tZRValue::registerBinaryAttachments\n\tBinary value 2 of the parameters (" +
                               std::to_string(bigSize) +
                               " bytes) could not be attached: out of memory; nothing was sent"
                       ? 0
                       : 3;
        }
        return 4;
    });
    EXPECT_EQ(status, 0) << "2: no limit, 3: another error, 4: no error";
    EXPECT_EQ(peer.requests().size(), 0u);
}

// The module's answer to a call is the parameter it was sent.
std::string echoOf(const RecordedRequest& request)
{
    const std::string open = "<zrbroker:p>";
    const std::size_t from = request.body.find(open);
    const std::size_t to = request.body.find("</zrbroker:p>");
    if (from == std::string::npos || to == std::string::npos)
        return httpResponse("no parameter", 500, "Internal Server Error", "text/plain");
    return callReply(request.body.substr(from + open.size(), to - from - open.size()));
}

// Calls `proxy` `count` times with "<tag>-<i>" and counts the answers that
// are not the caller's own, failures included.
int foreignAnswers(ZRProxyRemote& proxy, const std::string& tag, int count)
{
    int wrong = 0;
    for (int i = 0; i < count; ++i) {
        const std::string sent = tag + "-" + std::to_string(i);
        try {
            ZRValue result;
            proxy.call("echo", ZRValue(sent.c_str()), result);
            wrong += result == ZRValue(sent.c_str()) ? 0 : 1;
        } catch (const ZRError&) {
            ++wrong;
        }
    }
    return wrong;
}

// After fork, parent and child both hold the proxy's connection. Each
// process's calls go on a connection of its own (the child opens one, with
// no new look-up), and the child leaves the parent's connection untouched,
// also when it releases the proxy.
TEST(ProxyWire, ConnectionBelongsToTheProcessThatOpenedIt)
{
    ScriptedPeer broker;
    ScriptedPeer module;
    module.answerWith(echoOf);
    broker.push(lookupReply("Tracker", "127.0.0.1", module.port()));
    // The time limit keeps a call that lost its reply to the other process
    // from waiting for ever.
    std::unique_ptr<ZRProxyRemote> proxy(
        new ZRProxyRemote("Tracker", "127.0.0.1", broker.port(), ZRCallLimits{10, 5}));
    EXPECT_EQ(foreignAnswers(*proxy, "first", 1), 0);

    const int calls = 300;
    const pid_t child = ::fork();
    if (child == 0) {
        const int wrong = foreignAnswers(*proxy, "child", calls);
        proxy.reset();
        ::_exit(std::min(wrong, 100));
    }
    ASSERT_GT(child, 0);
    const int wrongInParent = foreignAnswers(*proxy, "parent", calls);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "wrong answers in the child";
    EXPECT_EQ(wrongInParent, 0);
    EXPECT_EQ(foreignAnswers(*proxy, "after", 3), 0);
    EXPECT_EQ(module.connectionCount(), 2);
    EXPECT_EQ(broker.requests().size(), 1u);
}

}  // namespace
