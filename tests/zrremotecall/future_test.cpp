// SPDX-License-Identifier: GPL-2.0-or-later
// Calls started in the background (ZRProxyRemote::start): results and errors
// as the synchronous call gives them, side by side on several connections,
// queueing, time limits counted from the start, cancellation, the proxy going
// first, and hostile modules. Against the demo broker and a scripted peer.
#include <dirent.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "brokerprocess.h"
#include "brokerreplies.h"
#include "scriptedpeer.h"
#include "zrproxyremote.h"

using ZR::ZRCallFuture;
using ZR::ZRCallLimits;
using ZR::ZRCallState;
using ZR::ZRError;
using ZR::ZRErrorKind;
using ZR::ZRProxyRemote;
using ZR::ZRValue;

namespace {

class Futures : public testing::Test {
protected:
    static void SetUpTestSuite() { broker_.reset(new ZRTest::BrokerProcess(ZR_DEMOBROKER)); }
    static void TearDownTestSuite() { broker_.reset(); }

    static std::unique_ptr<ZRProxyRemote> proxy(const std::string& module, double timeout = 0)
    {
        ZRCallLimits limits;
        limits.timeout = timeout;
        return std::unique_ptr<ZRProxyRemote>(
            new ZRProxyRemote(module, "127.0.0.1", broker_->port(), limits));
    }

    static std::unique_ptr<ZRTest::BrokerProcess> broker_;
};

std::unique_ptr<ZRTest::BrokerProcess> Futures::broker_;

ZRValue list(std::initializer_list<ZRValue> elements)
{
    ZRValue value;
    for (const ZRValue& element : elements)
        value.append(element);
    return value;
}

// {ms, value}: Echo.delay answers `value` after `ms` milliseconds.
ZRValue delay(int milliseconds, int value)
{
    return list({ZRValue(milliseconds), ZRValue(value)});
}

ZRErrorKind kindOf(const ZRCallFuture& future)
{
    const ZRError* error = future.error();
    return error ? error->kind() : ZRErrorKind::Unspecified;
}

std::size_t openDescriptors()
{
    std::size_t count = 0;
    if (DIR* directory = ::opendir("/proc/self/fd")) {
        while (::readdir(directory))
            ++count;
        ::closedir(directory);
    }
    return count;
}

TEST_F(Futures, ResultsAndErrorsAreThoseOfTheSynchronousCall)
{
    struct Case {
        const char* module;
        const char* method;
        ZRValue parameters;
    };
    const Case cases[] = {
        {"Echo", "echo", list({ZRValue(7), ZRValue("a b")})},
        {"Echo", "wrap", list({ZRValue(1), ZRValue(2)})},
        {"Echo", "nosuchmethod", ZRValue()},
        {"Faulty", "fail", list({ZRValue("broken"), ZRValue("on purpose")})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.module) + "." + c.method);
        auto p = proxy(c.module);
        ZRValue expected;
        std::string expectedError;
        ZRErrorKind expectedKind = ZRErrorKind::Unspecified;
        try {
            p->call(c.method, c.parameters, expected);
        } catch (const ZRError& error) {
            expectedError = error.what();
            expectedKind = error.kind();
        }
        const ZRCallFuture future = p->start(c.method, c.parameters);
        ASSERT_TRUE(future.wait(30));
        EXPECT_EQ(future.state(), ZRCallState::Finished);
        for (int again = 0; again < 2; ++again) {
            if (expectedError.empty()) {
                EXPECT_EQ(future.error(), nullptr);
                EXPECT_TRUE(future.get() == expected);
            } else {
                ASSERT_NE(future.error(), nullptr);
                EXPECT_EQ(future.error()->what(), expectedError);
                EXPECT_EQ(future.error()->kind(), expectedKind);
                try {
                    future.get();
                    ADD_FAILURE() << "get() gave a result";
                } catch (const ZRError& error) {
                    EXPECT_EQ(error.what(), expectedError);
                }
            }
        }
    }
}

TEST_F(Futures, RunSideBySideWhileTheSynchronousCallGoesOn)
{
    auto p = proxy("Echo");
    p->setConnections(4);
    std::vector<ZRCallFuture> slow;
    for (int i = 0; i < 4; ++i)
        slow.push_back(p->start("delay", delay(20000, i)));
    // All four are running at once, not one after another.
    for (const ZRCallFuture& future : slow) {
        for (int tries = 0; future.state() != ZRCallState::Running && tries < 1000; ++tries)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_EQ(future.state(), ZRCallState::Running);
    }
    // A fifth waits for a free connection.
    const ZRCallFuture queued = p->start("echo", list({ZRValue(5)}));
    EXPECT_EQ(queued.state(), ZRCallState::Queued);
    ZRValue result;
    p->call("echo", list({ZRValue(9)}), result);
    EXPECT_TRUE(result == list({ZRValue(9)}));
    for (const ZRCallFuture& future : slow) {
        EXPECT_FALSE(future.wait(0));
        EXPECT_TRUE(future.cancel());
        EXPECT_EQ(kindOf(future), ZRErrorKind::Cancelled);
    }
    // The cancelled calls free their connections for the queued one.
    ASSERT_TRUE(queued.wait(30));
    EXPECT_TRUE(queued.get() == list({ZRValue(5)}));
}

TEST_F(Futures, QueuedCallsRunInOrderOnOneConnection)
{
    auto p = proxy("Store");
    p->setConnections(1);
    std::vector<ZRCallFuture> futures;
    for (int i = 0; i < 20; ++i)
        futures.push_back(p->start("put", list({ZRValue("order"), ZRValue(std::to_string(i))})));
    const ZRCallFuture last = p->start("get", list({ZRValue("order")}));
    ASSERT_TRUE(last.wait(30));
    // The last put before the get won.
    ZRValue expected;
    p->call("get", list({ZRValue("order")}), expected);
    EXPECT_TRUE(last.get() == expected);
    for (const ZRCallFuture& future : futures)
        EXPECT_EQ(future.state(), ZRCallState::Finished);
}

TEST_F(Futures, CancelEndsQueuedAndRunningCallsAndKeepsFinishedOnes)
{
    auto p = proxy("Echo");
    p->setConnections(1);
    const ZRCallFuture running = p->start("delay", delay(20000, 1));
    const ZRCallFuture queued = p->start("echo", list({ZRValue(2)}));
    for (int tries = 0; running.state() != ZRCallState::Running && tries < 1000; ++tries)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(queued.cancel());
    EXPECT_TRUE(running.cancel());
    EXPECT_FALSE(running.cancel());
    for (const ZRCallFuture* future : {&running, &queued}) {
        EXPECT_EQ(future->state(), ZRCallState::Finished);
        EXPECT_EQ(kindOf(*future), ZRErrorKind::Cancelled);
    }
    EXPECT_STREQ(running.error()->what(), "\tEcho::delay\n\tcancelled");
    // The one connection is free again at once: the running call dropped it.
    const ZRCallFuture next = p->start("echo", list({ZRValue(3)}));
    ASSERT_TRUE(next.wait(5));
    EXPECT_TRUE(next.get() == list({ZRValue(3)}));
    EXPECT_FALSE(next.cancel());
    EXPECT_TRUE(next.get() == list({ZRValue(3)}));
}

TEST_F(Futures, DeletingTheProxyCancelsWhatIsLeftAndFinishedResultsStay)
{
    auto p = proxy("Echo");
    p->setConnections(2);
    const ZRCallFuture done = p->start("echo", list({ZRValue(4)}));
    ASSERT_TRUE(done.wait(30));
    std::vector<ZRCallFuture> pending;
    for (int i = 0; i < 5; ++i)
        pending.push_back(p->start("delay", delay(20000, i)));
    p.reset();
    for (const ZRCallFuture& future : pending) {
        EXPECT_EQ(future.state(), ZRCallState::Finished);
        EXPECT_EQ(kindOf(future), ZRErrorKind::Cancelled);
    }
    EXPECT_TRUE(done.get() == list({ZRValue(4)}));
}

TEST_F(Futures, WaitAnyHandsOutFinishedCallsAndSkipsTheOnesGiven)
{
    auto p = proxy("Echo");
    p->setConnections(3);
    std::vector<ZRCallFuture> futures{p->start("delay", delay(20000, 0)), p->start("delay", delay(1, 1)),
                                      p->start("echo", list({ZRValue(2)}))};
    std::vector<std::size_t> handed;
    for (int k = 0; k < 2; ++k) {
        const int index = ZRCallFuture::waitAny(futures, handed, 30);
        ASSERT_TRUE(index == 1 || index == 2) << index;
        handed.push_back(static_cast<std::size_t>(index));
    }
    EXPECT_EQ(ZRCallFuture::waitAny(futures, handed, 0.05), -1);
    futures[0].cancel();
    EXPECT_EQ(ZRCallFuture::waitAny(futures, handed, 0), 0);
}

TEST_F(Futures, ThousandCallsToASilentModuleAllTimeOutFromTheirStartAndLeaveNoDescriptors)
{
    const std::size_t before = openDescriptors();
    {
        auto p = proxy("Faulty", 0.5);
        std::vector<ZRCallFuture> futures;
        for (int i = 0; i < 1000; ++i)
            futures.push_back(p->start("silent", ZRValue()));
        // Queued calls count their time from the start: they do not wait
        // 0.5 s each for a connection (250 rounds on 4 connections).
        for (const ZRCallFuture& future : futures) {
            ASSERT_TRUE(future.wait(10));
            ASSERT_EQ(kindOf(future), ZRErrorKind::Timeout) << future.error()->what();
            // Queued or running, the text the synchronous call gives.
            ASSERT_STREQ(future.error()->what(),
                         "\tFaulty::silent\n\tno complete reply within 0.5 s (Timeout)");
        }
    }
    EXPECT_EQ(openDescriptors(), before);
}

TEST_F(Futures, CancelRacingCompletionGivesAResultOrAnErrorNeverBoth)
{
    auto p = proxy("Echo");
    p->setConnections(4);
    int results = 0;
    int cancelled = 0;
    for (int i = 0; i < 10000; ++i) {
        const ZRCallFuture future = p->start("echo", list({ZRValue(i)}));
        if (i % 3)
            std::this_thread::sleep_for(std::chrono::microseconds(i % 200));
        const bool ended = future.cancel();
        ASSERT_TRUE(future.wait(30));
        const ZRError* error = future.error();
        if (ended) {
            ASSERT_NE(error, nullptr);
            ASSERT_EQ(error->kind(), ZRErrorKind::Cancelled);
            ++cancelled;
            continue;
        }
        ASSERT_EQ(error, nullptr);
        ASSERT_TRUE(future.get() == list({ZRValue(i)}));
        ++results;
    }
    RecordProperty("results", results);
    RecordProperty("cancelled", cancelled);
}

// A module that cuts one of several connections in the middle of its reply:
// only the call on it fails; the others get their results.
TEST(FuturesOnScriptedPeer, ACutConnectionFailsOnlyItsOwnCall)
{
    ZRTest::ScriptedPeer peer;
    peer.push(ZRTest::lookupReply("Echo", "127.0.0.1", peer.port()));
    const std::string reply = ZRTest::callReply(ZRTest::intItem(42));
    const int calls = 6;
    for (int i = 0; i < calls; ++i) {
        if (i == 2)
            peer.push(ZRTest::ScriptedResponse::closeMidReply(reply, reply.find("<item") + 5));
        else
            peer.push(reply);
    }
    ZRProxyRemote proxy("Echo", "127.0.0.1", peer.port(), ZRCallLimits());
    proxy.setConnections(3);
    std::vector<ZRCallFuture> futures;
    for (int i = 0; i < calls; ++i)
        futures.push_back(proxy.start("echo", ZRValue(i)));
    int failed = 0;
    for (const ZRCallFuture& future : futures) {
        ASSERT_TRUE(future.wait(30));
        if (future.error()) {
            EXPECT_EQ(future.error()->kind(), ZRErrorKind::ConnectionFailed) << future.error()->what();
            ++failed;
        } else {
            EXPECT_TRUE(future.get() == ZRValue(42));
        }
    }
    EXPECT_EQ(failed, 1);
    EXPECT_GE(peer.connectionCount(), 2);
}

}  // namespace
