// SPDX-License-Identifier: GPL-2.0-or-later
// The demo broker's help text, the limits it puts on replies, the store and
// clients, and its shutdown by signal.
#include "demobrokertest.h"

// --help lists every module with its methods and what they take, and both
// READMEs carry the same table.
TEST(DemoBrokerHelp, ListsEveryMethodAsTheReadmesDo)
{
    const std::string help = brokerOutput("--help");
    const struct {
        const char* name;
        const char* takes;
    } expected[] = {
        {"Echo.echo", "anything"},
        {"Echo.delay", "(ms[, value]) or ms, ms from 0 to 60000"},
        {"Math.matmul", "(A, B), each an Array of rows of numbers"},
        {"Store.make", "(n) or n, n from 1 to 67108864"},
        {"Faulty.trickle", "none, or (seconds) or seconds, above 0 to 1"},
        {"Anywhere.*", "the methods of Echo"},
    };
    for (const auto& row : expected) {
        SCOPED_TRACE(row.name);
        const std::size_t at = help.find(std::string("  ") + row.name + " ");
        ASSERT_NE(at, std::string::npos) << help;
        EXPECT_NE(help.find(row.takes, at), std::string::npos);
    }
    for (const char* limit :
         {"--idle-limit", "--max-per-client", "--max-reply-bytes", "--reply-memory", "--store-limit"}) {
        EXPECT_NE(help.find(limit), std::string::npos) << limit;
    }

    // Every listed method, as a row of the broker's README and among its
    // module's methods in the main README.
    const std::string brokerReadme = fileText(ZR_SOURCE_DIR "/tools/demobroker/README.md");
    const std::string mainReadme = fileText(ZR_SOURCE_DIR "/README.md");
    std::istringstream lines(help.substr(help.find("Modules and their methods")));
    std::string line;
    std::vector<std::string> order;
    std::map<std::string, std::string> methodsOf;
    int listed = 0;
    while (std::getline(lines, line)) {
        const std::size_t dot = line.find('.');
        if (line.compare(0, 2, "  ") != 0 || dot == std::string::npos ||
            line.find(".*") != std::string::npos) {
            continue;
        }
        const std::size_t end = line.find(' ', dot);
        const std::string module = line.substr(2, dot - 2);
        const std::string method = line.substr(dot + 1, end - dot - 1);
        const std::string takes = line.substr(line.find_first_not_of(' ', end));
        ++listed;
        EXPECT_NE(brokerReadme.find("| `" + module + "." + method + "` | " + takes + " |"), std::string::npos)
            << module << "." << method << " takes " << takes;
        if (methodsOf.count(module) == 0) {
            order.push_back(module);
        }
        methodsOf[module] += (methodsOf[module].empty() ? "" : ", ") + method;
    }
    EXPECT_EQ(listed, 23);
    for (const std::string& module : order) {
        EXPECT_NE(mainReadme.find("| `" + module + "` | " + methodsOf[module] + " |"), std::string::npos)
            << module << ": " << methodsOf[module];
    }
}

// Replies and the store have caps; going past one is a fault that says so,
// and the broker goes on serving.
TEST(DemoBrokerLimits, RepliesAndStoreHaveCaps)
{
    BrokerProcess broker({"--max-reply-bytes", "200000", "--store-limit", "100000"});
    ASSERT_GT(broker.port(), 0);
    ZRValue column;
    ZRValue row;
    for (int i = 0; i < 1000; ++i) {
        column.append(array({ZRValue(1)}));
        row.append(ZRValue(1));
    }
    const std::string tooLarge = "this broker sends at most 200000 bytes in one reply";
    const std::string full = "it keeps at most 100000 bytes";
    const struct {
        const char* name;
        const char* module;
        const char* method;
        ZRValue arguments;
        ZRValue result;           // when the call succeeds
        const char* faultstring;  // when it fails
        std::string detailPart;
    } cases[] = {
        {"column times row", "Math", "matmul", array({column, row}), ZRValue(), "Reply too large", tooLarge},
        {"large blob", "Store", "make", ZRValue(300000), ZRValue(), "Reply too large", tooLarge},
        {"large echo", "Echo", "echo", ZRValue(std::string(250000, 'x')), ZRValue(), "Reply too large",
         tooLarge},
        {"small blob", "Store", "make", ZRValue(3), binary(std::string("\0\1\2", 3)), nullptr, ""},
        {"first put", "Store", "put", array({ZRValue("a"), ZRValue(std::string(60000, 'a'))}), ZRValue(60000),
         nullptr, ""},
        {"put past the limit", "Store", "put", array({ZRValue("b"), ZRValue(std::string(60000, 'b'))}),
         ZRValue(), "Store full", full},
        {"empty puts under new names add up", "Store", "put",
         array({ZRValue(std::string(40000, 'n')), ZRValue("")}), ZRValue(), "Store full", full},
        {"replacing counts once", "Store", "put", array({ZRValue("a"), ZRValue(std::string(90000, 'c'))}),
         ZRValue(90000), nullptr, ""},
        {"what was refused is not kept", "Store", "names", ZRValue(), array({ZRValue("a")}), nullptr, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BrokerClient client(broker.port());
        Reply reply = client.call(c.module, c.method, c.arguments);
        if (!c.faultstring) {
            ASSERT_EQ(reply.code, SOAP_OK) << reply.faultstring << " / " << reply.detail;
            EXPECT_TRUE(reply.value == c.result) << reply.value.toString(1);
            continue;
        }
        EXPECT_NE(reply.code, SOAP_OK);
        EXPECT_EQ(reply.faultstring, c.faultstring);
        EXPECT_NE(reply.detail.find(c.detailPart), std::string::npos) << reply.detail;
    }
}

// Replies being sent share one budget: a large reply stuck at a client that
// does not read leaves no room for another, until that client goes.
TEST(DemoBrokerLimits, RepliesInFlightShareOneBudget)
{
    BrokerProcess broker({"--reply-memory", "100000000"});
    ASSERT_GT(broker.port(), 0);
    const std::string make = post(callVexelBody(
        "<zrbroker:p><item xsi:type=\"xsd:int\">60000000</item></zrbroker:p>", "Store", "make"));
    int stuck = connectFrom("127.0.0.1", broker.port());
    ASSERT_GE(stuck, 0);
    ASSERT_EQ(::send(stuck, make.data(), make.size(), MSG_NOSIGNAL), static_cast<ssize_t>(make.size()));
    std::this_thread::sleep_for(1s);

    BrokerClient client(broker.port());
    Reply busy = client.call("Store", "make", ZRValue(60000000));
    EXPECT_EQ(busy.faultstring, "Broker busy");
    EXPECT_NE(busy.detail.find("of the 100000000 bytes this broker allows at once"), std::string::npos)
        << busy.detail;
    EXPECT_EQ(client.call("Echo", "echo", ZRValue(1)).value, ZRValue(1));

    ::close(stuck);
    std::this_thread::sleep_for(500ms);
    Reply after = client.call("Store", "make", ZRValue(60000000));
    ASSERT_EQ(after.code, SOAP_OK) << after.faultstring << " / " << after.detail;
    EXPECT_EQ(after.value.size(), 60000000);
}

// The idle limit counts whole requests: a trickle of bytes does not keep a
// connection, a quiet one is closed, and one that sends each request in
// time stays open however long it lives.
TEST(DemoBrokerLimits, IdleLimitCountsWholeRequests)
{
    BrokerProcess broker({"--idle-limit", "1"});
    ASSERT_GT(broker.port(), 0);

    const std::string request = echoRequest(5);
    int trickling = connectFrom("127.0.0.1", broker.port());
    ASSERT_GE(trickling, 0);
    bool closed = false;
    // Ten bytes a second for up to 5 s: a fraction of the request.
    for (std::size_t i = 0; i < 50 && !closed; ++i) {
        closed = ::send(trickling, &request[i], 1, MSG_NOSIGNAL) != 1 || closedByBroker(trickling, 0) ||
                 (std::this_thread::sleep_for(100ms), false);
    }
    EXPECT_TRUE(closed || closedByBroker(trickling, 1)) << "a trickle of bytes kept the connection";
    ::close(trickling);

    int kept = connectFrom("127.0.0.1", broker.port());
    ASSERT_GE(kept, 0);
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        const std::string again = echoRequest(i);
        ASSERT_EQ(::send(kept, again.data(), again.size(), MSG_NOSIGNAL), static_cast<ssize_t>(again.size()));
        EXPECT_NE(readReply(kept).find(">" + std::to_string(i) + "</item>"), std::string::npos);
        std::this_thread::sleep_for(600ms);
    }
    EXPECT_TRUE(closedByBroker(kept, 3)) << "a quiet connection stayed open";
    ::close(kept);
}

// One client address cannot take every connection: past its share its
// connections are closed, and another client is still served.
TEST(DemoBrokerLimits, OneClientCannotTakeEverySlot)
{
    BrokerProcess broker({"--max-connections", "4"});
    ASSERT_GT(broker.port(), 0);
    std::vector<int> held;
    for (int i = 0; i < 4; ++i) {
        held.push_back(connectFrom("127.0.0.1", broker.port()));
        ASSERT_GE(held.back(), 0);
    }
    EXPECT_FALSE(closedByBroker(held[0], 1));
    EXPECT_FALSE(closedByBroker(held[1], 0));
    EXPECT_TRUE(closedByBroker(held[2], 2)) << "a client took more than half of the connections";
    EXPECT_TRUE(closedByBroker(held[3], 2));

    const std::string reply = exchangeRaw(broker.port(), echoRequest(6), true, "127.0.0.2");
    EXPECT_NE(reply.find(">6</item>"), std::string::npos) << reply;
    for (int fd : held) {
        ::close(fd);
    }
}

TEST(DemoBrokerShutdown, SignalsEndTheBrokerWithExitCodeZero)
{
    for (int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        BrokerProcess broker;
        ASSERT_GT(broker.port(), 0);
        // A kept-alive connection stays open across the signal, and a call
        // stalls for far longer than the broker may take to stop.
        BrokerClient client(broker.port());
        ASSERT_EQ(client.call("Echo", "echo", ZRValue(1)).code, SOAP_OK);
        std::thread stalled([&] { BrokerClient(broker.port()).call("Faulty", "stall", ZRValue(30)); });
        std::this_thread::sleep_for(200ms);
        int status = broker.stop(signal);
        stalled.join();
        ASSERT_NE(status, -1) << "the broker did not stop";
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
        EXPECT_FALSE(accepting(broker.port())) << "the listening socket is still open";
    }
}
