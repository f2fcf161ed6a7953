// SPDX-License-Identifier: GPL-2.0-or-later
// Fault injection against the demo broker: faults, dropped and stalled
// replies, a broker that goes away, and a broker started with its stop
// signals blocked.
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <limits>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "brokerprocess.h"
#include "faultcheck.h"
#include "valuefingerprint.h"
#include "zrproxyremote.h"

using ZR::ZRError;
using ZR::ZRProxyRemote;
using ZR::ZRValue;
using namespace ZRTest;

namespace {

ZRValue argumentsOf(const ZRValue& value)
{
    ZRValue arguments;
    arguments.append(value);
    return arguments;
}

ZRValue argumentsOf(const ZRValue& first, const ZRValue& second)
{
    ZRValue arguments = argumentsOf(first);
    arguments.append(second);
    return arguments;
}

ZRValue callOn(ZRProxyRemote& proxy, const std::string& method, const ZRValue& arguments = ZRValue())
{
    ZRValue result;
    proxy.call(method, arguments, result);
    return result;
}

class BrokerFaults : public testing::Test {
protected:
    BrokerFaults() : broker_(new BrokerProcess(ZR_DEMOBROKER)) {}

    std::unique_ptr<ZRProxyRemote> proxy(const std::string& module)
    {
        return std::unique_ptr<ZRProxyRemote>(new ZRProxyRemote(module, "127.0.0.1", broker_->port(), 0, 0));
    }

    // Stopping the broker closes its connections, which ends any read.
    CallOutcome guarded(ZRProxyRemote& proxy, const std::string& method, const ZRValue& arguments = ZRValue())
    {
        return guardedCall([&] { return callOn(proxy, method, arguments); }, [this] { broker_.reset(); });
    }

    void expectEchoWorks(ZRProxyRemote& proxy)
    {
        expectOutcome(guarded(proxy, "echo", argumentsOf(ZRValue(3))),
                      Expected::valueOf(argumentsOf(ZRValue(3))));
    }

    std::unique_ptr<BrokerProcess> broker_;
};

TEST_F(BrokerFaults, FailuresOfOneCallLeaveTheProxyUsable)
{
    const struct {
        const char* method;
        ZRValue arguments;
        Expected expected;
    } cases[] = {
        {"fail", ZRValue(),
         Expected::error("\tFaulty::SOAP error:Requested failure\n\tSOAP detail: Faulty::fail")},
        {"fail", argumentsOf(ZRValue("x < y"), ZRValue("a & b")),
         Expected::error("\tFaulty::SOAP error:x < y\n\tSOAP detail: a &amp; b")},
        {"drop", ZRValue(), Expected::errorStartingWith("\tFaulty::SOAP error:")},
        {"nosuch", ZRValue(),
         Expected::error("\tFaulty::SOAP error:Unknown method\n\tSOAP detail: Faulty::nosuch\n"
                         "methods of Faulty: fail, drop, stall, silent, garbage, trickle")},
        // No time-out: a stalled call returns when the broker answers.
        {"stall", argumentsOf(ZRValue(1)), Expected::returns()},
    };
    std::unique_ptr<ZRProxyRemote> faulty = proxy("Faulty");
    std::unique_ptr<ZRProxyRemote> echo = proxy("Echo");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.method);
        const CallOutcome outcome = guarded(*faulty, c.method, c.arguments);
        expectOutcome(outcome, c.expected);
        if (c.expected.kind == Expected::Kind::Returns) {
            EXPECT_FALSE(outcome.raised) << visibleText(outcome.error);
            EXPECT_GE(static_cast<float>(outcome.value), 1.0f);
        }
        // The same proxy goes on.
        const CallOutcome next = guarded(*faulty, "stall", argumentsOf(ZRValue(0)));
        EXPECT_FALSE(next.raised) << visibleText(next.error);
        EXPECT_EQ(next.value.valueType(), ZRValue::Float);
        expectEchoWorks(*echo);
        std::unique_ptr<ZRProxyRemote> fresh = proxy("Echo");
        expectEchoWorks(*fresh);
    }
}

// Every value the writer can produce comes back from the broker's echo as
// it was sent, through both codecs and a real socket, call after call on one
// connection.
TEST_F(BrokerFaults, EchoedValuesComeBackUnchanged)
{
    const float infinity = std::numeric_limits<float>::infinity();
    std::string everyByte;
    for (int byte = 0; byte < 256; ++byte)
        everyByte += static_cast<char>(byte);
    auto bytes = [](const std::string& content) {
        ZRValue value;
        value.assignBytes(content.data(), static_cast<int>(content.size()));
        return value;
    };
    const ZRValue cases[] = {
        ZRValue(std::numeric_limits<float>::quiet_NaN()),
        ZRValue(infinity),
        ZRValue(-infinity),
        ZRValue(std::numeric_limits<float>::max()),
        ZRValue(std::numeric_limits<float>::denorm_min()),
        ZRValue(-0.0f),
        ZRValue(0.1f),
        ZRValue(std::numeric_limits<int>::min()),
        ZRValue(false),
        ZRValue(""),
        ZRValue(" "),
        ZRValue("   "),
        ZRValue("\t"),
        ZRValue(" \n "),
        ZRValue(" a "),
        ZRValue("\r\n"),
        ZRValue(std::string("a\0b", 3)),
        ZRValue(std::string(1, '\0')),
        ZRValue(everyByte),
        ZRValue("\xE2\x82\xAC \xF0\x9F\x98\x80 <&>\"'"),
        bytes(""),
        bytes("1"),
        bytes(everyByte),
        argumentsOf(argumentsOf(ZRValue(" x "), ZRValue()), argumentsOf(bytes("deep"), ZRValue(infinity))),
    };
    std::unique_ptr<ZRProxyRemote> echo = proxy("Echo");
    for (const ZRValue& value : cases) {
        // Two arguments: a reply of the form [Int 0 or 1, X] would be unwrapped.
        const ZRValue arguments = argumentsOf(ZRValue("tag"), value);
        const CallOutcome outcome = guarded(*echo, "echo", arguments);
        ASSERT_FALSE(outcome.hung);
        EXPECT_FALSE(outcome.raised) << visibleText(outcome.error);
        EXPECT_EQ(fingerprint(outcome.value), fingerprint(arguments)) << value.toString(1);
    }
}

TEST_F(BrokerFaults, BrokerGoneFailsEveryCallUntilItIsBack)
{
    std::unique_ptr<ZRProxyRemote> echo = proxy("Echo");
    expectEchoWorks(*echo);
    broker_.reset();
    for (int attempt = 0; attempt < 3; ++attempt)
        expectOutcome(guarded(*echo, "echo", argumentsOf(ZRValue(3))),
                      Expected::errorStartingWith("\tEcho::SOAP error:"));
}

// Octave starts programs with SIGINT and SIGTERM blocked; the mask survives
// exec. The broker must still stop on SIGTERM.
TEST(BrokerSignals, StopsOnSigtermEvenWhenStartedWithItBlocked)
{
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigset_t previous;
    ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &stopSignals, &previous), 0);
    int output[2];
    ASSERT_EQ(::pipe2(output, O_CLOEXEC), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(output[1], STDOUT_FILENO);
        ::execl(ZR_DEMOBROKER, ZR_DEMOBROKER, "--port", "0", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    ::close(output[1]);
    ASSERT_GT(pid, 0);

    // Once it has printed its port it has set up its signal handling.
    char buffer[64];
    pollfd readable{output[0], POLLIN, 0};
    ASSERT_EQ(::poll(&readable, 1, 20000), 1);
    ASSERT_GT(::read(output[0], buffer, sizeof buffer), 0);
    ::close(output[0]);

    ::kill(pid, SIGTERM);
    int status = 0;
    pid_t ended = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while ((ended = ::waitpid(pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (ended == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        FAIL() << "the broker ignored SIGTERM";
    }
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
