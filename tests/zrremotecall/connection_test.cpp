// SPDX-License-Identifier: GPL-2.0-or-later
// ZRConnection and the parts of ZRNetwork that need no peer: how contexts are
// configured, the down-cast of connection handles, end point formatting and
// the "connection not initialized" errors.
#include <sys/socket.h>

#include <gtest/gtest.h>
#include <stdsoap2.h>

#include "expectthrow.h"
#include "zrconnection.h"
#include "zrnetwork.h"

using ZR::zr__ZRModuleInfoVexel;
using ZR::ZRConnection;
using ZR::ZRError;
using ZR::ZRNetwork;
using ZR::ZRNetworkError;
using ZR::ZRValue;

namespace {

void expectTimeouts(const struct soap* context, int seconds)
{
    EXPECT_EQ(context->recv_timeout, seconds);
    EXPECT_EQ(context->send_timeout, seconds);
    EXPECT_EQ(context->connect_timeout, seconds);
    EXPECT_EQ(context->accept_timeout, seconds);
}

TEST(Connection, StartsEmpty)
{
    const ZRConnection connection;
    EXPECT_FALSE(connection.hasValue());
    EXPECT_FALSE(connection.getModuleInfo());
    EXPECT_EQ(connection.getEndpoint(), "");
    EXPECT_EQ(connection.context, nullptr);
    EXPECT_EQ(connection.spare, "");
}

TEST(Connection, DownCastFindsOnlyConnections)
{
    const boost::shared_ptr<ZRValue> none;
    const boost::shared_ptr<ZRValue> plain(new ZRValue(5));
    const boost::shared_ptr<ZRConnection> made(new ZRConnection);
    const boost::shared_ptr<ZRValue> handle = made;

    EXPECT_FALSE(boost::dynamic_pointer_cast<ZRConnection>(none));
    EXPECT_FALSE(boost::dynamic_pointer_cast<ZRConnection>(plain));
    EXPECT_EQ(boost::dynamic_pointer_cast<ZRConnection>(handle), made);
}

TEST(Connection, ModuleConnectionKeepsAliveWithoutTimeouts)
{
    ZRNetwork network;
    const boost::shared_ptr<zr__ZRModuleInfoVexel> info(new zr__ZRModuleInfoVexel);
    const auto connection = network.createConnection(info, "http://broker.local.:8000", 0);

    ASSERT_NE(connection->context, nullptr);
    EXPECT_EQ(connection->getEndpoint(), "http://broker.local.:8000");
    EXPECT_EQ(connection->getModuleInfo().get(), info.get());
    EXPECT_TRUE(connection->context->imode & SOAP_IO_KEEPALIVE);
    EXPECT_TRUE(connection->context->omode & SOAP_IO_KEEPALIVE);
    EXPECT_EQ(connection->context->bind_flags, 4);
    EXPECT_EQ(connection->context->max_keep_alive, -1);
    EXPECT_EQ(connection->context->socket_flags, MSG_NOSIGNAL);
    expectTimeouts(connection->context, 0);
}

TEST(Connection, NonZeroTimeoutReachesEveryTimeout)
{
    ZRNetwork network;
    const boost::shared_ptr<zr__ZRModuleInfoVexel> info(new zr__ZRModuleInfoVexel);
    for (int timeout : {5, -250000}) {
        const auto connection = network.createConnection(info, "http://h:1", timeout);
        expectTimeouts(connection->context, timeout);
    }
}

TEST(Connection, DefaultConnectionGetsItsContextOnlyWhenInitialised)
{
    ZRNetwork network;
    const auto& connection = network.getDefaultConnection();
    ASSERT_TRUE(connection);
    EXPECT_EQ(connection->context, nullptr);

    network.initDefaultConnection("http://ignored:1");
    ASSERT_NE(connection->context, nullptr);
    EXPECT_FALSE(connection->context->omode & SOAP_IO_KEEPALIVE);
    EXPECT_EQ(connection->context->max_keep_alive, -1);
    EXPECT_EQ(connection->context->socket_flags, MSG_NOSIGNAL);
    expectTimeouts(connection->context, 8);
    EXPECT_EQ(connection->getEndpoint(), "");
}

TEST(Connection, SetEndPointWritesHostAndPortVerbatim)
{
    const struct {
        const char* ip;
        int port;
        const char* endpoint;
    } cases[] = {
        {"10.0.0.5", 8000, "http://10.0.0.5:8000"},
        {"10.0.0.5", -1, "http://10.0.0.5:-1"},
        {"robot.local.", 1234567, "http://robot.local.:1234567"},
        {"", 80, "http://:80"},
        {"::1", 8000, "http://[::1]:8000"},
    };
    ZRNetwork network;
    const boost::shared_ptr<ZRConnection> connection(new ZRConnection);
    connection->endpoint = "http://broker:1";
    for (const auto& c : cases) {
        network.setEndPoint(connection, c.ip, c.port);
        EXPECT_EQ(connection->getEndpoint(), c.endpoint);
    }
}

// A handle that is null, is some other ZRValue, or is a connection that never
// got a context cannot carry a request.
TEST(Connection, OperationsWithoutConnectionRaiseNotInitialized)
{
    ZRNetwork network;
    const boost::shared_ptr<zr__ZRModuleInfoVexel> info(new zr__ZRModuleInfoVexel);
    const boost::shared_ptr<ZRConnection> contextless(new ZRConnection);
    contextless->setModuleInfo(info);
    const boost::shared_ptr<ZRValue> handles[] = {boost::shared_ptr<ZRValue>(),
                                                  boost::shared_ptr<ZRValue>(new ZRValue("x")), contextless};

    for (const auto& handle : handles) {
        EXPECT_THROW_MSG(network.getModuleByName(handle, "Tracker", info), ZRNetworkError,
                         "\tZRNetwork::getModuleByName\n\tconnection not initialized");
        EXPECT_THROW_MSG(network.callMethod(handle, "getData", ZRValue()), ZRError,
                         "\tZRNetwork::callMethodgetData\n\tconnection not initialized");
    }
    for (const auto& handle : {handles[0], handles[1]})
        EXPECT_THROW_MSG(network.setEndPoint(handle, "10.0.0.5", 8000), ZRError,
                         "\tZRNetwork::setEndPoint\n\tconnection not initialized");
}

}  // namespace
