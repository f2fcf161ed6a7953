// SPDX-License-Identifier: GPL-2.0-or-later
// Proxies against the demo broker running as a child process: the whole path
// of a call, attachments included, with a real gSOAP server on the far side.
#include <memory>

#include <gtest/gtest.h>

#include "brokerprocess.h"
#include "expectthrow.h"
#include "valuebuilders.h"
#include "zrproxyremote.h"

using ZR::ZRError;
using ZR::ZRNetworkError;
using ZR::ZRProxyRemote;
using ZR::ZRValue;
using ZRTest::binaryOf;

namespace {

class DemoBroker : public testing::Test {
protected:
    static void SetUpTestSuite() { broker_.reset(new ZRTest::BrokerProcess(ZR_DEMOBROKER)); }
    static void TearDownTestSuite() { broker_.reset(); }

    static int port() { return broker_->port(); }
    static std::unique_ptr<ZRTest::BrokerProcess> broker_;
};

std::unique_ptr<ZRTest::BrokerProcess> DemoBroker::broker_;

TEST_F(DemoBroker, CallsEchoAndUnwrapsOnlyStatusArrays)
{
    ZRProxyRemote proxy("Echo", "127.0.0.1", port(), 0, 0);
    EXPECT_EQ(proxy.endpoint(), "http://127.0.0.1:" + std::to_string(port()));

    ZRValue arguments;
    arguments.append(ZRValue(7));
    arguments.append(ZRValue("a b"));
    ZRValue result;
    proxy.call("echo", arguments, result);
    EXPECT_TRUE(result == arguments);

    // wrap answers Array(Int 1, arguments).
    proxy.call("wrap", arguments, result);
    EXPECT_TRUE(result == arguments);
}

TEST_F(DemoBroker, BinaryValuesTravelAsAttachments)
{
    const std::string first("\x00\x01\xfe\xff", 4);
    const std::string second(100000, '\x5a');
    ZRValue nested;
    nested.append(binaryOf(second));
    ZRValue arguments;
    arguments.append(binaryOf(first));
    arguments.append(ZRValue(3));
    arguments.append(nested);

    ZRProxyRemote proxy("Echo", "127.0.0.1", port(), 0, 0);
    ZRValue result;
    proxy.call("echo", arguments, result);
    EXPECT_TRUE(result == arguments);
    // The connection stays in DIME mode; a call without attachments still works.
    proxy.call("typeOf", ZRValue(), result);
    EXPECT_TRUE(result == ZRValue(ZRValue::TypeToString(ZRValue::Invalid)));
}

TEST_F(DemoBroker, ModuleReportedAtAnyAddressIsReachedWhereTheBrokerWas)
{
    ZRProxyRemote proxy("Anywhere", "127.1", port(), 0, 0);
    EXPECT_EQ(proxy.endpoint(), "http://127.1:" + std::to_string(port()));
    ZRValue arguments;
    arguments.append(ZRValue(2));
    ZRValue result;
    proxy.call("echo", arguments, result);
    EXPECT_TRUE(result == arguments);
}

TEST_F(DemoBroker, FailuresReachTheCallerAndTheProxyGoesOn)
{
    EXPECT_THROW_MSG(ZRProxyRemote("Nobody", "127.0.0.1", port(), 0, 0), ZRNetworkError,
                     "\tZRNetwork::getModuleByName\n\tfailed to get module Nobody http://127.0.0.1:" +
                         std::to_string(port()) + "\n\tthe broker answered with a fault: Unknown module");

    ZRProxyRemote proxy("Faulty", "127.0.0.1", port(), 0, 0);
    ZRValue arguments;
    arguments.append(ZRValue("Out of cheese"));
    arguments.append(ZRValue("redo from start"));
    ZRValue result;
    EXPECT_THROW_MSG(proxy.call("fail", arguments, result), ZRError,
                     "\tFaulty::SOAP error:Out of cheese\n\tSOAP detail: redo from start");
    // The peer's texts first, then how far the reply got before the module
    // closed the connection.
    const auto dropped = ZRTest::caught<ZRError>([&] { proxy.call("drop", ZRValue(), result); });
    ASSERT_TRUE(dropped);
    const std::string text = dropped->what();
    const std::string peerTexts =
        "\tFaulty::SOAP error:End of file or no input: message transfer interrupted\n\tSOAP detail: ";
    EXPECT_EQ(text.substr(0, peerTexts.size()), peerTexts);
    EXPECT_NE(text.find("\n\tthe module closed the connection after ", peerTexts.size()), std::string::npos)
        << text;
    EXPECT_EQ(dropped->kind(), ZR::ZRErrorKind::ConnectionFailed);

    ZRValue delay;
    delay.append(ZRValue(0));
    EXPECT_NO_THROW(proxy.call("stall", delay, result));
    EXPECT_EQ(result.valueType(), ZRValue::Float);
}

}  // namespace
