// The demo broker as a child process, driven through the generated client
// stubs and the ZRValue codec: module look-up, the modules' methods, DIME
// attachments both ways, faults, dropped and stalled replies, garbage input
// and shutdown by signal.
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
#include <cstring>
#include <string>
#include <thread>

#include "brokerprocess.h"
#include "scriptedpeer.h"
#include "zrsoapH.h"
#include "zrvaluesoap.h"

using ZR::ZRValue;
using namespace std::chrono_literals;

namespace {

// zrdemobroker --port 0, stopped when the test ends.
class BrokerProcess : public ZRTest::BrokerProcess {
public:
    BrokerProcess() : ZRTest::BrokerProcess(ZR_DEMOBROKER_PATH) {}
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

// Sends raw bytes on a new connection and reads until the broker closes it
// or 5 s pass.
std::string exchangeRaw(int port, const std::string& bytes, bool halfClose)
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    std::string reply;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
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

std::string callVexelBody(const std::string& parameterXml)
{
    return ZRTest::soapEnvelope(
        "<zrbroker:callVexel><zrbroker:mod>Echo</zrbroker:mod>"
        "<zrbroker:meth>echo</zrbroker:meth>" +
        parameterXml + "</zrbroker:callVexel>");
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

    Reply method = client.call("Echo", "frobnicate", ZRValue(1));
    EXPECT_EQ(method.faultstring, "Unknown method");
    EXPECT_EQ(method.detail, "Echo::frobnicate");

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
