// SPDX-License-Identifier: GPL-2.0-or-later
// The scripted peer, driven by a raw client socket: request framing and
// recording, connection handling per reply mode, the fallback, the stop of a
// stalled peer and the DIME byte layout.
#include "scriptedpeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

using namespace ZRTest;
using namespace std::chrono_literals;

namespace {

class RawClient {
public:
    explicit RawClient(int port)
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<uint16_t>(port));
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~RawClient() { ::close(fd_); }

    bool connected() const { return connected_; }

    void send(const std::string& bytes)
    {
        ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
    }

    // Reads until `limit` bytes arrived, the peer closed, or `quiet` passed
    // without data. `closed` tells whether the peer closed.
    std::string read(std::size_t limit, std::chrono::milliseconds quiet, bool& closed)
    {
        std::string out;
        closed = false;
        while (out.size() < limit) {
            pollfd wait{fd_, POLLIN, 0};
            if (::poll(&wait, 1, static_cast<int>(quiet.count())) <= 0) {
                break;
            }
            char chunk[4096];
            ssize_t got = ::recv(fd_, chunk, std::min(sizeof chunk, limit - out.size()), 0);
            if (got <= 0) {
                closed = true;
                break;
            }
            out.append(chunk, static_cast<std::size_t>(got));
        }
        return out;
    }

    std::string readAll(bool& closed) { return read(1 << 20, 2000ms, closed); }

private:
    int fd_ = -1;
    bool connected_ = false;
};

std::string post(const std::string& body)
{
    return "POST / HTTP/1.1\r\nHost: 127.0.0.1\r\ncontent-LENGTH: " + std::to_string(body.size()) +
           "\r\n\r\n" + body;
}

}  // namespace

TEST(ScriptedPeer, RecordsRequestsByteForByteOnOneKeptAliveConnection)
{
    ScriptedPeer peer;
    const std::string first = httpResponse("<first/>");
    const std::string second = httpResponse("<second/>");
    peer.push(first);
    peer.push(second);

    RawClient client(peer.port());
    ASSERT_TRUE(client.connected());
    const std::string body("a\0b\r\n\r\nc", 8);
    const std::string request = post(body);
    // Split inside the header and inside the body: the peer must wait for
    // the whole Content-Length.
    client.send(request.substr(0, 10));
    std::this_thread::sleep_for(20ms);
    client.send(request.substr(10, request.size() - 13));
    std::this_thread::sleep_for(20ms);
    client.send(request.substr(request.size() - 3));
    bool closed = false;
    EXPECT_EQ(client.read(first.size(), 2000ms, closed), first);

    const std::string bare = "GET /x HTTP/1.1\r\nHost: h\r\n\r\n";
    client.send(bare);
    EXPECT_EQ(client.read(second.size(), 2000ms, closed), second);
    EXPECT_FALSE(closed);

    std::vector<RecordedRequest> requests = peer.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].raw, request);
    EXPECT_EQ(requests[0].body, body);
    EXPECT_EQ(requests[0].header + requests[0].body, request);
    EXPECT_EQ(requests[1].raw, bare);
    EXPECT_EQ(requests[1].header, bare);
    EXPECT_EQ(requests[1].body, "");
    EXPECT_EQ(peer.connectionCount(), 1);
    EXPECT_EQ(peer.pendingResponses(), 0u);
}

TEST(ScriptedPeer, ReplyModesControlBytesSentAndConnection)
{
    const std::string reply = httpResponse("0123456789abcdef");
    struct Case {
        const char* name;
        ScriptedResponse response;
        std::string expected;
        bool closes;
    };
    const Case cases[] = {
        {"keep-alive", ScriptedResponse::keepAlive(reply), reply, false},
        {"close after", ScriptedResponse::closeAfter(reply), reply, true},
        {"close before", ScriptedResponse::closeBefore(), "", true},
        {"close mid reply", ScriptedResponse::closeMidReply(reply, 10), reply.substr(0, 10), true},
        {"short body", ScriptedResponse::shortBody(reply, 5), reply.substr(0, reply.size() - 5), true},
        {"stalled", ScriptedResponse::stalled(reply, 100ms), reply, false},
    };
    ScriptedPeer peer;
    int connections = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        peer.push(c.response);
        RawClient client(peer.port());
        ASSERT_TRUE(client.connected());
        ++connections;
        client.send(post("x"));
        bool closed = false;
        std::string received = client.read(c.expected.size() + 100, 1000ms, closed);
        EXPECT_EQ(received, c.expected);
        EXPECT_EQ(closed, c.closes);
    }
    EXPECT_EQ(peer.connectionCount(), connections);
    EXPECT_EQ(peer.requests().size(), std::size(cases));
}

TEST(ScriptedPeer, AnswersWith500AndClosesWhenTheScriptRunsOut)
{
    ScriptedPeer peer;
    RawClient client(peer.port());
    client.send(post("x"));
    bool closed = false;
    std::string received = client.readAll(closed);
    EXPECT_EQ(received.rfind("HTTP/1.1 500 ", 0), 0u) << received;
    EXPECT_TRUE(closed);
}

TEST(ScriptedPeer, DestructorEndsAStall)
{
    auto peer = std::make_unique<ScriptedPeer>();
    peer->push(ScriptedResponse::stalled(httpResponse("late"), ScriptedPeer::maxStall));
    RawClient client(peer->port());
    client.send(post("x"));
    for (int i = 0; i < 200 && peer->requests().empty(); ++i) {
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_EQ(peer->requests().size(), 1u);
    auto start = std::chrono::steady_clock::now();
    peer.reset();
    // Far below the stall: the stop must not wait it out.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    bool closed = false;
    EXPECT_EQ(client.readAll(closed), "");
    EXPECT_TRUE(closed);
}

TEST(ScriptedPeer, DimeMessageLayout)
{
    const std::string envelopeType = "http://schemas.xmlsoap.org/soap/envelope/";  // 41 bytes
    std::string expected;
    // Record 1: version 1 + MB, TYPE_T absolute URI, no options, no id,
    // type length 41, data length 5; type padded by 3, data by 3.
    expected += std::string("\x0C\x20\x00\x00\x00\x00\x00\x29\x00\x00\x00\x05", 12);
    expected += envelopeType + std::string(3, '\0');
    expected += "<a/>x" + std::string(3, '\0');
    // Record 2: version 1 + ME, TYPE_T media type, id "image" (5, padded by 3),
    // type of 24 bytes, data of 4 bytes (no padding).
    expected += std::string("\x0A\x10\x00\x00\x00\x05\x00\x18\x00\x00\x00\x04", 12);
    expected += "image" + std::string(3, '\0');
    expected += "application/octet-stream";
    expected += std::string("\x00\x01\x02\x03", 4);

    EXPECT_EQ(DimeMessage("<a/>x").attach(std::string("\x00\x01\x02\x03", 4)).bytes(), expected);

    // A lone record carries both MB and ME.
    EXPECT_EQ(DimeMessage("").bytes().substr(0, 2), std::string("\x0E\x20", 2));
}
