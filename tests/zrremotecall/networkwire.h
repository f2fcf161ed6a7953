// SPDX-License-Identifier: GPL-2.0-or-later
// What the wire tests of the broker operations and the proxy share: a
// connection made as the proxy makes it, an end point nobody listens on,
// and the request header a module connection sends.
#pragma once

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

namespace ZRTest {

inline const std::string kMismatchWarning =
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

// A socket listening on 127.0.0.1 at a port the kernel chose, which it
// writes to `port`. Throws when there is none to be had.
inline int listenOnLoopback(int& port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(fd, 4) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (fd >= 0)
            ::close(fd);
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    port = ntohs(address.sin_port);
    return fd;
}

// An end point on which nothing listens: a peer's port after it stopped.
inline std::string refusingEndpoint()
{
    std::unique_ptr<ScriptedPeer> gone(new ScriptedPeer);
    const std::string endpoint = gone->endpoint();
    gone.reset();
    return endpoint;
}

inline std::string portText(const ScriptedPeer& peer)
{
    return std::to_string(peer.port());
}

// The HTTP header of a request without attachments on a module connection.
inline std::string expectedHeader(const ScriptedPeer& peer, const std::string& body)
{
    return "POST / HTTP/1.1\r\nHost: 127.0.0.1:" + portText(peer) +
           "\r\nUser-Agent: " + compatibility::kUserAgent +
           "\r\nContent-Type: text/xml; charset=utf-8\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: keep-alive\r\nSOAPAction: \"\"\r\n\r\n";
}

}  // namespace ZRTest
