// SPDX-License-Identifier: GPL-2.0-or-later
// What the demo broker's tests share: the broker as a child process, a
// client through the generated stubs, raw requests and their replies, and
// the broker's printed help.
#pragma once

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

namespace demobrokertest {

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

inline ZRValue array(std::initializer_list<ZRValue> elements)
{
    ZRValue out;
    out.resizeArray(0);
    for (const ZRValue& element : elements) {
        out.append(element);
    }
    return out;
}

inline ZRValue binary(const std::string& bytes)
{
    ZRValue out;
    out.assignBytes(bytes.data(), static_cast<int>(bytes.size()));
    return out;
}

inline std::string patternBytes(std::size_t count, unsigned seed)
{
    std::string out(count, '\0');
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = static_cast<char>((i * 131 + seed) % 251);
    }
    return out;
}

// A connection to the broker from loopback address `from` (any 127.x.y.z
// serves as another client), or -1.
inline int connectFrom(const char* from, int port)
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
inline bool closedByBroker(int fd, int seconds)
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
inline std::string readReply(int fd)
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
inline std::string exchangeRaw(int port, const std::string& bytes, bool halfClose,
                               const char* from = "127.0.0.1")
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

inline bool accepting(int port)
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

inline std::string post(const std::string& body, const std::string& contentType = "text/xml; charset=utf-8",
                        std::size_t announced = std::string::npos)
{
    return "POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: " + contentType +
           "\r\nContent-Length: " + std::to_string(announced == std::string::npos ? body.size() : announced) +
           "\r\nSOAPAction: \"\"\r\n\r\n" + body;
}

inline std::string callVexelBody(const std::string& parameterXml, const std::string& module = "Echo",
                                 const std::string& method = "echo")
{
    return ZRTest::soapEnvelope("<zrbroker:callVexel><zrbroker:mod>" + module +
                                "</zrbroker:mod><zrbroker:meth>" + method + "</zrbroker:meth>" +
                                parameterXml + "</zrbroker:callVexel>");
}

// A request for Echo.echo of the Int `number`, as raw bytes.
inline std::string echoRequest(int number)
{
    return post(callVexelBody("<zrbroker:p><item xsi:type=\"xsd:int\">" + std::to_string(number) +
                              "</item></zrbroker:p>"));
}

// The standard output of zrdemobroker run with `option`.
inline std::string brokerOutput(const std::string& option)
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

inline std::string fileText(const std::string& path)
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

}  // namespace demobrokertest

using namespace demobrokertest;
