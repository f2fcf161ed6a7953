// SPDX-License-Identifier: GPL-2.0-or-later
// The kept-alive TCP connection on the wire: every call on one connection,
// a closed one reopened, a peer dropping it without SIGPIPE, and a
// connection that belongs to the process that opened it.
#include "networkwire.h"

namespace {

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
        fd_ = listenOnLoopback(port_);
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
