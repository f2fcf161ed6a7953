// SPDX-License-Identifier: GPL-2.0-or-later
// The demo broker as a child process, driven through the generated client
// stubs and the ZRValue codec: module look-up, the modules' methods and
// their listing, DIME attachments both ways, faults, dropped, stalled and
// delayed replies, garbage input, the limits on clients, and shutdown by
// signal.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "brokerprocess.h"
#include "scriptedpeer.h"
#include "zrsoapH.h"
#include "zrvaluesoap.h"

using ZR::ZRValue;
using namespace std::chrono_literals;

namespace {

// zrdemobroker --port 0 with `options`, stopped when the test ends.
class BrokerProcess : public ZRTest::BrokerProcess {
public:
    explicit BrokerProcess(const std::vector<std::string>& options = {})
        : ZRTest::BrokerProcess(ZR_DEMOBROKER_PATH, options)
    {
    }
};

struct Reply {
    int code = SOAP_OK;
    ZRValue value;
    std::string faultstring;
    std::string detail;
};

// One keep-alive client context, used the way the remote-call code uses it.
class BrokerClient {
public:
    explicit BrokerClient(int port)
        : soap_(soap_new1(SOAP_IO_KEEPALIVE)), endpoint_("http://127.0.0.1:" + std::to_string(port))
    {
        // Bounds every test step; the broker answers at once.
        soap_->connect_timeout = 10;
        soap_->recv_timeout = 10;
        soap_->send_timeout = 10;
    }
    ~BrokerClient()
    {
        soap_destroy(soap_);
        soap_end(soap_);
        soap_free(soap_);
    }

    Reply lookup(const std::string& name, zrsoap::zr__ZRModuleInfo& info)
    {
        zrsoap::zrbroker__getModuleByNameResponse response;
        Reply reply;
        reply.code =
            zrsoap::soap_call_zrbroker__getModuleByName(soap_, endpoint_.c_str(), "", name, response);
        if (reply.code == SOAP_OK) {
            info = response._return;
        }
        return finish(reply);
    }

    Reply call(const std::string& module, const std::string& method, const ZRValue& arguments)
    {
        ZR::registerBinaryAttachments(soap_, arguments);
        zrsoap::zrbroker__callVexelResponse response;
        Reply reply;
        reply.code = zrsoap::soap_call_zrbroker__callVexel(soap_, endpoint_.c_str(), "", module, method,
                                                           arguments, response);
        if (reply.code == SOAP_OK) {
            reply.value = response._return;
            int counter = 0;
            ZR::restoreBinaryAttachments(soap_, reply.value, counter);
        }
        return finish(reply);
    }

    struct soap* context() { return soap_; }

private:
    Reply finish(Reply& reply)
    {
        if (reply.code != SOAP_OK) {
            const char* faultstring = *soap_faultstring(soap_);
            const char* detail = *soap_faultdetail(soap_);
            reply.faultstring = faultstring ? faultstring : "";
            reply.detail = detail ? detail : "";
        }
        soap_destroy(soap_);
        soap_end(soap_);
        return reply;
    }

    struct soap* soap_;
    std::string endpoint_;
};

ZRValue array(std::initializer_list<ZRValue> elements)
{
    ZRValue out;
    out.resizeArray(0);
    for (const ZRValue& element : elements) {
        out.append(element);
    }
    return out;
}

ZRValue binary(const std::string& bytes)
{
    ZRValue out;
    out.assignBytes(bytes.data(), static_cast<int>(bytes.size()));
    return out;
}

std::string patternBytes(std::size_t count, unsigned seed)
{
    std::string out(count, '\0');
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = static_cast<char>((i * 131 + seed) % 251);
    }
    return out;
}

// A connection to the broker from loopback address `from` (any 127.x.y.z
// serves as another client), or -1.
int connectFrom(const char* from, int port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in source{};
    source.sin_family = AF_INET;
    ::inet_pton(AF_INET, from, &source.sin_addr);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (::bind(fd, reinterpret_cast<sockaddr*>(&source), sizeof source) != 0 ||
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// True when the broker closes `fd` within `seconds` (end of input or a
// reset); bytes it sends before are read and dropped.
bool closedByBroker(int fd, int seconds)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    char chunk[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd wait{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&wait, 1, static_cast<int>(left.count())) <= 0) {
            return false;
        }
        if (::recv(fd, chunk, sizeof chunk, 0) <= 0) {
            return true;
        }
    }
}

// Reads one reply on a kept-alive connection: until its envelope ends, the
// broker closes the connection or 10 s pass.
std::string readReply(int fd)
{
    std::string reply;
    pollfd wait{fd, POLLIN, 0};
    char chunk[4096];
    ssize_t got = 0;
    while (reply.find("</SOAP-ENV:Envelope>") == std::string::npos && ::poll(&wait, 1, 10000) > 0 &&
           (got = ::recv(fd, chunk, sizeof chunk, 0)) > 0) {
        reply.append(chunk, static_cast<std::size_t>(got));
    }
    return reply;
}

// Sends raw bytes on a new connection and reads until the broker closes it
// or 5 s pass.
std::string exchangeRaw(int port, const std::string& bytes, bool halfClose, const char* from = "127.0.0.1")
{
    int fd = connectFrom(from, port);
    std::string reply;
    if (fd >= 0) {
        ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (halfClose) {
            ::shutdown(fd, SHUT_WR);
        }
        pollfd wait{fd, POLLIN, 0};
        char chunk[4096];
        ssize_t got = 0;
        while (::poll(&wait, 1, 5000) > 0 && (got = ::recv(fd, chunk, sizeof chunk, 0)) > 0) {
            reply.append(chunk, static_cast<std::size_t>(got));
        }
    }
    ::close(fd);
    return reply;
}

bool accepting(int port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

std::string post(const std::string& body, const std::string& contentType = "text/xml; charset=utf-8",
                 std::size_t announced = std::string::npos)
{
    return "POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: " + contentType +
           "\r\nContent-Length: " + std::to_string(announced == std::string::npos ? body.size() : announced) +
           "\r\nSOAPAction: \"\"\r\n\r\n" + body;
}

std::string callVexelBody(const std::string& parameterXml, const std::string& module = "Echo",
                          const std::string& method = "echo")
{
    return ZRTest::soapEnvelope("<zrbroker:callVexel><zrbroker:mod>" + module +
                                "</zrbroker:mod><zrbroker:meth>" + method + "</zrbroker:meth>" +
                                parameterXml + "</zrbroker:callVexel>");
}

// A request for Echo.echo of the Int `number`, as raw bytes.
std::string echoRequest(int number)
{
    return post(callVexelBody("<zrbroker:p><item xsi:type=\"xsd:int\">" + std::to_string(number) +
                              "</item></zrbroker:p>"));
}

// The standard output of zrdemobroker run with `option`.
std::string brokerOutput(const std::string& option)
{
    std::string out;
    FILE* pipe = ::popen((std::string(ZR_DEMOBROKER_PATH) + " " + option).c_str(), "r");
    if (!pipe) {
        return out;
    }
    char chunk[4096];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) {
        out.append(chunk, got);
    }
    ::pclose(pipe);
    return out;
}

std::string fileText(const std::string& path)
{
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

class DemoBroker : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_GT(broker.port(), 0) << "the broker did not report its port"; }

    BrokerProcess broker;
};

}  // namespace

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
