// SPDX-License-Identifier: GPL-2.0-or-later
// The look-up on the wire, against scripted peers: what is sent where, the
// address the broker reports and how it is fixed up, and how a failed or
// unusable look-up reaches the caller.
#include "networkwire.h"

namespace {

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

}  // namespace
