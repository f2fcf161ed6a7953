// SPDX-License-Identifier: GPL-2.0-or-later
// The demo broker as a child process, driven through the generated client
// stubs and the ZRValue codec: module look-up, the modules' methods, DIME
// attachments both ways, faults, dropped, stalled and delayed replies, and
// garbage input.
#include "demobrokertest.h"

TEST_F(DemoBroker, LooksUpHostedModules)
{
    BrokerClient client(broker.port());
    const struct {
        const char* name;
        const char* ip;
    } cases[] = {{"Echo", "127.0.0.1"},
                 {"Math", "127.0.0.1"},
                 {"Store", "127.0.0.1"},
                 {"Faulty", "127.0.0.1"},
                 {"Anywhere", "0.0.0.0"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        zrsoap::zr__ZRModuleInfo info;
        ASSERT_EQ(client.lookup(c.name, info).code, SOAP_OK);
        EXPECT_EQ(info.name, c.name);
        EXPECT_EQ(info.ip, c.ip);
        EXPECT_EQ(info.port, broker.port());
        EXPECT_EQ(info.processId, broker.pid());
        EXPECT_FALSE(info.isABroker);
        EXPECT_TRUE(info.keepAlive);
    }
}

TEST_F(DemoBroker, UnknownModulesAndMethodsAreFaults)
{
    BrokerClient client(broker.port());
    zrsoap::zr__ZRModuleInfo info;
    Reply lookup = client.lookup("Nope", info);
    EXPECT_NE(lookup.code, SOAP_OK);
    EXPECT_EQ(lookup.faultstring, "Unknown module");
    EXPECT_EQ(lookup.detail, "Nope");

    Reply module = client.call("Nope", "echo", ZRValue(1));
    EXPECT_EQ(module.faultstring, "Unknown module");
    EXPECT_EQ(module.detail, "Nope");

    // The detail starts as it always has and then names what the module has.
    Reply method = client.call("Echo", "frobnicate", ZRValue(1));
    EXPECT_EQ(method.faultstring, "Unknown method");
    EXPECT_EQ(method.detail,
              "Echo::frobnicate\nmethods of Echo: echo, wrap, first, typeOf, types, sizeOf, delay");
    Reply faulty = client.call("Faulty", "nosuch", ZRValue());
    EXPECT_EQ(faulty.detail,
              "Faulty::nosuch\nmethods of Faulty: fail, drop, stall, silent, garbage, trickle");

    // The connection closed after the fault; the next call reconnects.
    EXPECT_EQ(client.call("Echo", "echo", ZRValue(5)).value, ZRValue(5));
}

TEST_F(DemoBroker, MethodsAnswerAsDocumented)
{
    ZRValue object;
    object.decodeBase64Object("YWJj");
    const ZRValue mixed = array({ZRValue(-7), ZRValue(2.5f), ZRValue(true), ZRValue("a b<&\t\xC3\xA9"),
                                 array({array({}), ZRValue(), ZRValue(2147483647)}), object});
    const struct {
        const char* module;
        const char* method;
        ZRValue arguments;
        ZRValue expected;
    } cases[] = {
        {"Echo", "echo", mixed, mixed},
        {"Echo", "echo", ZRValue(), ZRValue()},
        {"Anywhere", "echo", ZRValue("x"), ZRValue("x")},
        {"Echo", "wrap", mixed, array({ZRValue(1), mixed})},
        {"Echo", "first", array({ZRValue("a"), ZRValue(2)}), array({ZRValue(0), ZRValue("a"), ZRValue(2)})},
        {"Echo", "typeOf", ZRValue(2.5f), ZRValue("Float")},
        {"Echo", "types", mixed,
         array({ZRValue("Int"), ZRValue("Float"), ZRValue("Bool"), ZRValue("String"), ZRValue("Array"),
                ZRValue("Object")})},
        {"Echo", "sizeOf", mixed, ZRValue(6)},
        {"Math", "sum", array({ZRValue(1), array({ZRValue(2.5f), array({ZRValue(3)})}), ZRValue(3.5f)}),
         ZRValue(10.0f)},
        {"Math", "matmul",
         array({array({array({ZRValue(1.0f), ZRValue(2.0f)}), array({ZRValue(3.0f), ZRValue(4.0f)})}),
                array({array({ZRValue(5.0f)}), array({ZRValue(6.0f)})})}),
         array({array({ZRValue(17.0f)}), array({ZRValue(39.0f)})})},
        {"Math", "matmul",
         array({array({ZRValue(1.0f), ZRValue(2.0f)}), array({array({ZRValue(3)}), array({ZRValue(4)})})}),
         array({array({ZRValue(11.0f)})})},
        {"Math", "scale", array({ZRValue(2), array({ZRValue(1), array({ZRValue(1.5f)})})}),
         array({ZRValue(2.0f), array({ZRValue(3.0f)})})},
        {"Faulty", "stall", array({ZRValue(0)}), ZRValue(0.0f)},
        {"Echo", "delay", array({ZRValue(1)}), ZRValue(1)},
        {"Echo", "delay", ZRValue(0.5f), ZRValue(0.5f)},
        {"Echo", "delay", array({ZRValue(0), mixed}), mixed},
        {"Anywhere", "delay", array({ZRValue(2), ZRValue("later")}), ZRValue("later")},
        // Last: the trickled reply closes the connection.
        {"Faulty", "trickle", array({ZRValue(0.001f)}), ZRValue("trickled")},
    };
    BrokerClient client(broker.port());
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.module) + "::" + c.method);
        Reply reply = client.call(c.module, c.method, c.arguments);
        ASSERT_EQ(reply.code, SOAP_OK) << reply.faultstring << " / " << reply.detail;
        if (c.expected.valueType() == ZRValue::Float) {
            ASSERT_EQ(reply.value.valueType(), ZRValue::Float);
            EXPECT_NEAR(static_cast<float>(reply.value), static_cast<float>(c.expected), 0.01);
        } else {
            EXPECT_EQ(reply.value, c.expected) << reply.value.toString(1);
        }
    }
}

TEST_F(DemoBroker, LargeValuesCrossBothWays)
{
    // Envelopes far larger than gSOAP's 64 KB buffer, in plain and in DIME
    // requests (an Array argument switches the client to DIME for good), one
    // of them followed by an attachment.
    ZRValue manyInts;
    for (int i = 0; i < 20000; ++i) {
        manyInts.append(ZRValue(i - 10000));
    }
    manyInts.append(binary(patternBytes(100000, 4)));
    const ZRValue longText(std::string(300000, 'x') + "<&>\t");
    BrokerClient client(broker.port());
    for (const ZRValue& value : {longText, manyInts, longText}) {
        SCOPED_TRACE(ZRValue::TypeToString(value.valueType()));
        Reply reply = client.call("Echo", "echo", value);
        ASSERT_EQ(reply.code, SOAP_OK) << reply.faultstring << " / " << reply.detail;
        EXPECT_TRUE(reply.value == value);
    }
}

TEST_F(DemoBroker, BinaryValuesTravelAsAttachmentsBothWays)
{
    BrokerClient client(broker.port());
    const std::string large = patternBytes(300000, 1);
    const std::string small = patternBytes(3, 2);
    const std::string middle = patternBytes(70000, 3);
    auto reversed = [](std::string text) { return std::string(text.rbegin(), text.rend()); };

    Reply put = client.call("Store", "put", array({ZRValue("blob"), binary(large)}));
    ASSERT_EQ(put.code, SOAP_OK) << put.faultstring << " / " << put.detail;
    EXPECT_EQ(put.value, ZRValue(static_cast<int>(large.size())));

    // A lone Binary result.
    EXPECT_EQ(client.call("Store", "get", array({ZRValue("blob")})).value, binary(large));

    // Several attachments each way, matched by order across nesting.
    const ZRValue several =
        array({binary(small), ZRValue(5), array({binary(middle), ZRValue("x")}), binary(large)});
    EXPECT_EQ(client.call("Store", "sizes", several).value,
              array({ZRValue(3), ZRValue(70000), ZRValue(300000)}));
    EXPECT_EQ(client.call("Store", "reverse", several).value,
              array({binary(reversed(small)), ZRValue(5), array({binary(reversed(middle)), ZRValue("x")}),
                     binary(reversed(large))}));
    EXPECT_EQ(client.call("Store", "concat", several).value, binary(small + middle + large));

    Reply missing = client.call("Store", "get", array({ZRValue("none")}));
    EXPECT_EQ(missing.faultstring, "Unknown blob");
    EXPECT_EQ(missing.detail, "none");
}

TEST_F(DemoBroker, FaultsCarryTheirTexts)
{
    BrokerClient client(broker.port());
    const struct {
        const char* module;
        const char* method;
        ZRValue arguments;
        const char* faultstring;
        const char* detail;
    } cases[] = {
        {"Faulty", "fail", array({ZRValue("Disk on fire"), ZRValue("sector 7")}), "Disk on fire", "sector 7"},
        {"Faulty", "fail", ZRValue(), "Requested failure", "Faulty::fail"},
        {"Faulty", "fail", array({ZRValue("a<b"), ZRValue("x & y")}), "a<b", "x &amp; y"},
        {"Math", "sum", array({ZRValue("x")}), "Bad argument", "Math::sum: expected a number, got String"},
        {"Math", "matmul",
         array({array({array({ZRValue(1)}), array({ZRValue(2)})}),
                array({array({ZRValue(1)}), array({ZRValue(2)})})}),
         "Bad argument", "Math::matmul: a 2x1 matrix cannot multiply a 2x1 matrix"},
        {"Faulty", "stall", ZRValue(31), "Bad argument",
         "Faulty::stall: the delay must be between 0 and 30 seconds"},
        {"Echo", "delay", array({ZRValue(60001), ZRValue(1)}), "Bad argument",
         "Echo::delay: the delay must be between 0 and 60000 milliseconds"},
        {"Echo", "delay", ZRValue(-1), "Bad argument",
         "Echo::delay: the delay must be between 0 and 60000 milliseconds"},
        {"Echo", "delay", array({ZRValue("soon")}), "Bad argument",
         "Echo::delay: expected a number, got String"},
        {"Echo", "delay", ZRValue(), "Bad argument", "Echo::delay: expected a number, got Invalid"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.module) + "::" + c.method);
        Reply reply = client.call(c.module, c.method, c.arguments);
        EXPECT_NE(reply.code, SOAP_OK);
        EXPECT_EQ(reply.faultstring, c.faultstring);
        EXPECT_EQ(reply.detail, c.detail);
    }
}

TEST_F(DemoBroker, DroppedReplyFailsTheCallOnly)
{
    BrokerClient client(broker.port());
    Reply dropped = client.call("Faulty", "drop", ZRValue());
    EXPECT_NE(dropped.code, SOAP_OK);
    EXPECT_FALSE(dropped.value.hasValue());
    EXPECT_EQ(client.call("Echo", "echo", ZRValue(7)).value, ZRValue(7));
}

// A silent method holds its connection until the client gives up; the
// broker then lets it go and goes on serving.
TEST_F(DemoBroker, SilentCallEndsWhenTheClientGivesUp)
{
    BrokerClient client(broker.port());
    client.context()->recv_timeout = 1;
    Reply silent = client.call("Faulty", "silent", ZRValue());
    EXPECT_NE(silent.code, SOAP_OK);
    EXPECT_FALSE(silent.value.hasValue());
    EXPECT_EQ(BrokerClient(broker.port()).call("Echo", "echo", ZRValue(4)).value, ZRValue(4));
}

TEST_F(DemoBroker, StalledCallDoesNotHoldUpOtherClients)
{
    std::atomic<bool> stallDone{false};
    Reply stalled;
    std::thread slow([&] {
        BrokerClient client(broker.port());
        stalled = client.call("Faulty", "stall", array({ZRValue(2)}));
        stallDone = true;
    });
    // Another client, and an idle kept-alive one, are served meanwhile.
    BrokerClient idle(broker.port());
    EXPECT_EQ(idle.call("Echo", "echo", ZRValue(1)).value, ZRValue(1));
    std::this_thread::sleep_for(200ms);
    BrokerClient other(broker.port());
    EXPECT_EQ(other.call("Echo", "echo", ZRValue(2)).value, ZRValue(2));
    EXPECT_FALSE(stallDone.load());
    slow.join();
    ASSERT_EQ(stalled.code, SOAP_OK);
    EXPECT_GE(static_cast<float>(stalled.value), 1.9f);
}

TEST_F(DemoBroker, SurvivesGarbage)
{
    std::string nested;
    for (int i = 0; i < 5000; ++i) {
        nested += "<item xsi:type=\"Array\">";
    }
    // Each sender closes its side after the bytes, as a client that gave up
    // would; an unfinished request otherwise waits for the idle time-out.
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"not HTTP", std::string("\x01\x02garbage\r\n\r\n", 13)},
        {"broken XML", post("<SOAP-ENV:Envelope><unclosed")},
        {"short body", post(callVexelBody("<zrbroker:p>"), "text/xml", 100000)},
        {"nesting", post(callVexelBody("<zrbroker:p>" + nested + "</zrbroker:p>"))},
        {"binary without text",
         post(callVexelBody("<zrbroker:p><item xsi:type=\"xsd:base64Binary\"></item></zrbroker:p>"))},
        {"fault as value",
         post(callVexelBody("<zrbroker:p><SOAP-ENV:Fault><faultstring>x</faultstring></SOAP-ENV:Fault>"
                            "</zrbroker:p>"))},
        {"broken DIME",
         post(std::string("\x0E\x20\x00\x00\x00\x00\x00\x29\xFF\xFF\xFF\xFF", 12), "application/dime")},
        {"truncated DIME",
         post(ZRTest::DimeMessage(callVexelBody("<zrbroker:p/>")).attach("abc").bytes().substr(0, 30),
              "application/dime", 5000)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        exchangeRaw(broker.port(), c.bytes, true);
        ASSERT_TRUE(broker.running());
        BrokerClient client(broker.port());
        EXPECT_EQ(client.call("Echo", "echo", ZRValue(3)).value, ZRValue(3));
    }
}

// Many calls sleep at once, each on its own connection, and the broker
// answers others meanwhile.
TEST_F(DemoBroker, DelayedCallsRunSideBySide)
{
    constexpr int calls = 16;
    std::vector<Reply> replies(calls);
    std::atomic<int> finished{0};
    std::vector<std::thread> callers;
    for (int i = 0; i < calls; ++i) {
        callers.emplace_back([&, i] {
            replies[i] =
                BrokerClient(broker.port()).call("Echo", "delay", array({ZRValue(3000), ZRValue(i)}));
            ++finished;
        });
    }
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(BrokerClient(broker.port()).call("Echo", "echo", ZRValue(9)).value, ZRValue(9));
    // Served one after another, the first would have ended before all had
    // started; side by side, none has ended yet.
    EXPECT_EQ(finished.load(), 0);
    for (std::thread& caller : callers) {
        caller.join();
    }
    for (int i = 0; i < calls; ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(replies[i].code, SOAP_OK) << replies[i].faultstring << " / " << replies[i].detail;
        EXPECT_EQ(replies[i].value, ZRValue(i));
    }
}
