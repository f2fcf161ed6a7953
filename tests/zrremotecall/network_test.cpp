// The broker operations and the proxy on the wire, against scripted peers:
// what is sent where, how answers and failures reach the caller, and how the
// kept-alive TCP connection is used.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
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
#include "zrnetwork.h"
#include "zrproxyremote.h"
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

// Every failure of the look-up gives the same text; the cause is told by
// the error's kind, and the broker's own texts ride along as fault texts.
TEST(NetworkWire, FailedLookupRaisesFailedToGetModule)
{
    const struct {
        const char* name;
        ScriptedResponse reply;
        ZRErrorKind kind;
        const char* faultString;
    } cases[] = {
        {"SOAP fault", ScriptedResponse::keepAlive(faultReply("No such module", "<why>gone</why>")),
         ZRErrorKind::UnknownModule, "No such module"},
        {"HTTP 404", ScriptedResponse::keepAlive(httpResponse("not here", 404, "Not Found", "text/plain")),
         ZRErrorKind::LookupFailed, "HTTP Error"},
        {"not XML", ScriptedResponse::keepAlive(httpResponse("hello")), ZRErrorKind::LookupFailed, nullptr},
        {"boolean True", ScriptedResponse::keepAlive(lookupReply("<isABroker>True</isABroker>")),
         ZRErrorKind::LookupFailed, nullptr},
        {"boolean 2", ScriptedResponse::keepAlive(lookupReply("<isABroker>2</isABroker>")),
         ZRErrorKind::LookupFailed, nullptr},
        {"closed", ScriptedResponse::closeBefore(), ZRErrorKind::LookupFailed, nullptr},
        {"cut short", ScriptedResponse::closeMidReply(lookupReply("Tracker", "1.2.3.4", 1), 60),
         ZRErrorKind::LookupFailed, nullptr},
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
        EXPECT_EQ(
            visibleText(error->what()),
            visibleText("\tZRNetwork::getModuleByName\n\tfailed to get module Tracker " + broker.endpoint()))
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
    for (const std::string& endpoint :
         {nobody, std::string("http://127.0.0.1 :1"), std::string("http://:1")}) {
        DirectConnection direct(endpoint);
        testing::internal::CaptureStdout();
        const auto error = caught<ZRNetworkError>(
            [&] { direct.network.getModuleByName(direct.handle, "Tracker", direct.info); });
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << endpoint;
        ASSERT_TRUE(error) << endpoint;
        EXPECT_EQ(visibleText(error->what()),
                  visibleText("\tZRNetwork::getModuleByName\n\tfailed to get module Tracker " + endpoint));
        EXPECT_EQ(error->kind(), ZRErrorKind::BrokerUnreachable) << endpoint;
    }
}

TEST(ProxyWire, ConstructionFailsWithTheLookupError)
{
    ScriptedPeer broker;
    broker.push(faultReply("No such module"));
    EXPECT_THROW_MSG(ZRProxyRemote("Tracker", "127.0.0.1", broker.port(), 0, 0), ZRNetworkError,
                     "\tZRNetwork::getModuleByName\n\tfailed to get module Tracker " + broker.endpoint());
}

TEST(NetworkWire, EmptyLookupAnswerResetsTheDescription)
{
    ScriptedPeer broker;
    broker.push(lookupReply(""));
    DirectConnection direct(broker.endpoint());
    *direct.info = zr__ZRModuleInfoVexel{"Tracker", 3, "robot.local.", 8000, -1, -1, true, true};

    EXPECT_EQ(direct.network.getModuleByName(direct.handle, "Tracker", direct.info), 0);
    EXPECT_EQ(direct.info->name, "");
    EXPECT_EQ(direct.info->architecture, 0);
    EXPECT_EQ(direct.info->ip, "");
    EXPECT_EQ(direct.info->port, 0);
    EXPECT_EQ(direct.info->processId, 0);
    EXPECT_EQ(direct.info->modulePointer, 0);
    EXPECT_FALSE(direct.info->isABroker);
    EXPECT_FALSE(direct.info->keepAlive);
    // The connection holds the very same description.
    EXPECT_EQ(direct.connection->getModuleInfo().get(), direct.info.get());
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
        {"peer closes after the HTTP header", ScriptedResponse::closeMidReply(reply, headerSize),
         "\tTracker::SOAP error:Error 200: HTTP 200 OK\n\tSOAP detail: ", ZRErrorKind::BadReply},
        {"peer closes mid-body", ScriptedResponse::closeMidReply(reply, reply.find("<item") + 5),
         "\tTracker::SOAP error:End of file or no input: message transfer interrupted\n\tSOAP detail: ",
         ZRErrorKind::ConnectionFailed},
        {"peer closes without reply", ScriptedResponse::closeBefore(),
         "\tTracker::SOAP error:End of file or no input: message transfer interrupted\n\tSOAP detail: ",
         ZRErrorKind::ConnectionFailed},
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
        EXPECT_EQ("\t" + direct.info->name + "::SOAP error:" + error->faultString() +
                      "\n\tSOAP detail: " + error->faultDetail(),
                  c.expected)
            << c.name;
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
    EXPECT_EQ(listener.dropped(), 1);
}

// A peer that stays silent holds a call only as long as the caller allows:
// the call's Timeout, the look-up's ConnectTimeout, or an interrupt. The
// connection is dropped, and the next call works on a new one.
TEST(ProxyWire, LimitsAndInterruptsEndSilentWaits)
{
    const auto silence = std::chrono::milliseconds(1500);
    {
        ScriptedPeer broker;
        broker.push(ScriptedResponse::stalled(lookupReply("Tracker", "127.0.0.1", 1), silence));
        ZRCallLimits limits;
        limits.connectTimeout = 0.2;
        const auto error =
            caught<ZRNetworkError>([&] { ZRProxyRemote("Tracker", "127.0.0.1", broker.port(), limits); });
        ASSERT_TRUE(error);
        EXPECT_EQ(visibleText(error->what()),
                  visibleText("\tZRNetwork::getModuleByName\n\tfailed to get module Tracker " +
                              broker.endpoint() + ": no answer within 0.2 s (ConnectTimeout)"));
        EXPECT_EQ(error->kind(), ZRErrorKind::Timeout);
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

}  // namespace
