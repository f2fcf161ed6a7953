// SPDX-License-Identifier: GPL-2.0-or-later
// The demo broker's gSOAP server: accept loop, one thread per kept-alive
// connection, and the two broker operations on top of the ModuleHost.
#include "brokerserver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <thread>

#include "connectionguard.h"
#include "zrsoapH.h"

using ZR::ZRValue;

namespace ZRDemo {

namespace {

// Bounds what one request may make the broker hold in memory.
constexpr int maxRequestBytes = 128 * 1024 * 1024;

// The peer's address as text: connections are shared out per address.
std::string peerAddress(int socket)
{
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    if (::getpeername(socket, reinterpret_cast<sockaddr*>(&peer), &length) != 0) {
        return std::string();
    }
    char text[INET6_ADDRSTRLEN] = "";
    if (peer.ss_family == AF_INET6) {
        ::inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(&peer)->sin6_addr, text, sizeof text);
    } else {
        ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&peer)->sin_addr, text, sizeof text);
    }
    return text;
}

// Fault details are written into the envelope as literal XML.
std::string escapeXml(const std::string& text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        default: out += c;
        }
    }
    return out;
}

// Faulty.drop: the start of a plausible reply, announced longer than what
// follows, then the connection goes down.
int dropMidReply(struct soap* soap)
{
    static const char partial[] =
        "HTTP/1.1 200 OK\r\n"
        "Content-Type: text/xml; charset=utf-8\r\n"
        "Content-Length: 1000\r\n"
        "Connection: keep-alive\r\n"
        "\r\n"
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\"><SOAP-ENV:Body>";
    ssize_t sent = ::send(soap->socket, partial, sizeof partial - 1, MSG_NOSIGNAL);
    (void)sent;
    ::shutdown(soap->socket, SHUT_RDWR);
    soap->keep_alive = 0;
    return SOAP_EOF;
}

// Ends a connection that gets no (further) reply.
int closeWithoutReply(struct soap* soap)
{
    ::shutdown(soap->socket, SHUT_RDWR);
    soap->keep_alive = 0;
    return SOAP_EOF;
}

// Faulty.trickle's reply: a complete, well-formed answer (the String
// "trickled") with its exact length announced.
std::string trickledReply()
{
    static const char envelope[] =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\""
        " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
        "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\""
        " xmlns:zrbroker=\"urn:zrbroker\"><SOAP-ENV:Body><zrbroker:callVexelResponse><zrbroker:return>"
        "<item xsi:type=\"xsd:string\">trickled</item>"
        "</zrbroker:return></zrbroker:callVexelResponse></SOAP-ENV:Body></SOAP-ENV:Envelope>";
    return "HTTP/1.1 200 OK\r\nContent-Type: text/xml; charset=utf-8\r\nContent-Length: " +
           std::to_string(sizeof envelope - 1) + "\r\nConnection: close\r\n\r\n" + envelope;
}

}  // namespace

BrokerServer::BrokerServer(const BrokerLimits& limits)
    : modules_(stop_), limits_(limits), replyBudget_(limits.maxReplyBytes, limits.replyMemory)
{
    modules_.setStoreLimit(limits.storeBytes);
}

BrokerServer::~BrokerServer()
{
    if (master_) {
        soap_destroy(master_);
        soap_end(master_);
        soap_free(master_);
    }
}

void BrokerServer::bind(const std::string& address, int port)
{
    master_ = soap_new1(SOAP_IO_KEEPALIVE);
    master_->bind_flags = SO_REUSEADDR;
    // poll() reports the listening socket readable first; the time-out only
    // guards against a client that vanished in between.
    master_->accept_timeout = 1;
    if (!soap_valid_socket(soap_bind(master_, address.c_str(), port, 64))) {
        char text[512];
        soap_sprint_fault(master_, text, sizeof text);
        throw std::runtime_error("cannot listen on " + address + ":" + std::to_string(port) + ": " + text);
    }
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    ::getsockname(master_->master, reinterpret_cast<sockaddr*>(&bound), &length);
    port_ = bound.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port)
                                        : ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    // A broker listening on every interface cannot name one address; "0.0.0.0"
    // tells the client to use the address it reached the broker at.
    reportedAddress_ = (address.empty() || address == "0.0.0.0" || address == "::") ? "0.0.0.0" : address;
}

void BrokerServer::run(int stopFd)
{
    pollfd waits[2] = {{master_->master, POLLIN, 0}, {stopFd, POLLIN, 0}};
    for (;;) {
        if (::poll(waits, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            std::perror("zrdemobroker: poll");
            break;
        }
        if (waits[1].revents != 0) {
            break;
        }
        if (waits[0].revents != 0) {
            acceptOne();
        }
        joinFinished();
    }
    stop_.request();
    shutdownAll();
}

void BrokerServer::acceptOne()
{
    SOAP_SOCKET socket = soap_accept(master_);
    if (!soap_valid_socket(socket)) {
        return;
    }
    master_->socket = SOAP_INVALID_SOCKET;
    const std::string peer = peerAddress(socket);
    std::lock_guard<std::mutex> lock(workersMutex_);
    int live = 0;
    int fromPeer = 0;
    for (const Worker& worker : workers_) {
        if (!worker.done) {
            ++live;
            fromPeer += worker.peer == peer ? 1 : 0;
        }
    }
    if (live >= limits_.maxConnections) {
        std::fprintf(stderr, "zrdemobroker: %d connections open, refusing another\n", limits_.maxConnections);
        ::close(socket);
        return;
    }
    if (fromPeer >= limits_.perClient()) {
        std::fprintf(stderr, "zrdemobroker: %s holds %d connections, its share; refusing another\n",
                     peer.c_str(), fromPeer);
        ::close(socket);
        return;
    }
    struct soap* context = soap_copy(master_);
    if (!context) {
        ::close(socket);
        return;
    }
    context->socket = socket;
    if (!guardConnection(context, limits_.idleSeconds, replyBudget_)) {
        soap_force_closesock(context);
        soap_free(context);
        return;
    }
    context->recv_maxlength = maxRequestBytes;
    // No cap on the requests per connection (gSOAP's default closes after
    // 100); the guard's time limits end forgotten connections instead.
    context->max_keep_alive = 0;
    if (verbose_) {
        std::fprintf(stderr, "connection from %s\n", context->host);
    }

    workers_.emplace_back();
    Worker* worker = &workers_.back();
    worker->socket = socket;
    worker->peer = peer;
    // Signals go to the main thread, whose poll() the handler wakes.
    sigset_t blocked;
    sigset_t previous;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGINT);
    sigaddset(&blocked, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &blocked, &previous);
    worker->thread = std::thread(&BrokerServer::serve, this, worker, context);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

void BrokerServer::serve(Worker* worker, struct soap* context)
{
    try {
        ZR::serveBrokerRequests(context, *this);
    } catch (const std::exception& error) {
        // The codec throws on some malformed values while gSOAP is parsing;
        // the request cannot be answered, so the connection is dropped.
        std::fprintf(stderr, "zrdemobroker: request dropped: %s\n", error.what());
    }
    // After a request that gSOAP could not parse the socket is still open
    // (soap_free does not close it): close it, or the client waits forever.
    soap_force_closesock(context);
    soap_destroy(context);
    soap_end(context);
    soap_free(context);
    std::lock_guard<std::mutex> lock(workersMutex_);
    worker->socket = -1;
    worker->done = true;
}

void BrokerServer::joinFinished()
{
    std::lock_guard<std::mutex> lock(workersMutex_);
    for (auto it = workers_.begin(); it != workers_.end();) {
        if (it->done) {
            it->thread.join();
            it = workers_.erase(it);
        } else {
            ++it;
        }
    }
}

void BrokerServer::shutdownAll()
{
    {
        std::lock_guard<std::mutex> lock(workersMutex_);
        for (Worker& worker : workers_) {
            if (!worker.done) {
                ::shutdown(worker.socket, SHUT_RDWR);
            }
        }
    }
    // No new workers start now; each one ends once its socket is down.
    for (Worker& worker : workers_) {
        worker.thread.join();
    }
    workers_.clear();
}

int BrokerServer::getModuleByName(struct soap* soap, const std::string& moduleName,
                                  zrsoap::zr__ZRModuleInfo& info)
{
    if (verbose_) {
        std::fprintf(stderr, "getModuleByName %s\n", moduleName.c_str());
    }
    if (lookupDelay_ > 0 && !waitWhileConnected(soap, lookupDelay_)) {
        return closeWithoutReply(soap);
    }
    int index = modules_.find(moduleName);
    if (index < 0) {
        return sendFault(soap, {true, "Unknown module", moduleName});
    }
    const ModuleDescription& module = modules_.modules()[index];
    info.name = module.name;
    info.architecture = 3;
    info.ip = module.anyAddress ? "0.0.0.0" : reportedAddress_;
    info.port = reportedPort_ > 0 ? reportedPort_ : port_;
    info.processId = static_cast<int>(::getpid());
    info.modulePointer = index + 1;
    info.isABroker = false;
    info.keepAlive = true;
    return SOAP_OK;
}

int BrokerServer::callVexel(struct soap* soap, const std::string& moduleName, const std::string& methodName,
                            ZRValue& parameters, ZRValue& result)
{
    if (verbose_) {
        std::fprintf(stderr, "callVexel %s::%s\n", moduleName.c_str(), methodName.c_str());
    }
    try {
        if (modules_.find(moduleName) < 0) {
            return sendFault(soap, {true, "Unknown module", moduleName});
        }
        result = modules_.call(moduleName, methodName, parameters, replyTicketOf(soap));
    } catch (const MethodFault& fault) {
        return sendFault(soap, fault);
    } catch (const DropConnection&) {
        return dropMidReply(soap);
    } catch (const StaySilent&) {
        return staySilent(soap);
    } catch (const GarbageReply&) {
        return garbageReply(soap);
    } catch (const TrickleReply& trickle) {
        return trickleReply(soap, trickle.interval);
    } catch (const std::exception& error) {
        return sendFault(soap,
                         {false, "Method failed", moduleName + "::" + methodName + ": " + error.what()});
    }
    // The result's Binary values are registered as attachments after this
    // returns, and gSOAP sends attachments only in DIME mode. The codec
    // switches it on for an Array; a lone Binary needs it switched on here.
    if (result.valueType() == ZRValue::Binary) {
        soap_set_dime(soap);
    }
    return SOAP_OK;
}

bool BrokerServer::waitWhileConnected(struct soap* soap, double seconds)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return true;
        }
        if (stop_.requested()) {
            return false;
        }
        // The client sends nothing more while it waits for this reply:
        // anything readable is its close.
        pollfd socket{soap->socket, POLLIN | POLLRDHUP, 0};
        if (::poll(&socket, 1, static_cast<int>(std::min<long long>(left.count(), 100))) > 0) {
            return false;
        }
    }
}

int BrokerServer::staySilent(struct soap* soap)
{
    while (waitWhileConnected(soap, 1.0)) {
    }
    return closeWithoutReply(soap);
}

int BrokerServer::trickleReply(struct soap* soap, double interval)
{
    const std::string reply = trickledReply();
    for (char byte : reply) {
        if (::send(soap->socket, &byte, 1, MSG_NOSIGNAL) != 1 || !waitWhileConnected(soap, interval)) {
            break;
        }
    }
    return closeWithoutReply(soap);
}

int BrokerServer::garbageReply(struct soap* soap)
{
    static const char reply[] =
        "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 12\r\nConnection: close\r\n\r\n"
        "not a reply\n";
    ssize_t sent = ::send(soap->socket, reply, sizeof reply - 1, MSG_NOSIGNAL);
    (void)sent;
    return closeWithoutReply(soap);
}

int BrokerServer::sendFault(struct soap* soap, const MethodFault& fault)
{
    if (verbose_) {
        std::fprintf(stderr, "  fault: %s (%s)\n", fault.faultstring.c_str(), fault.detail.c_str());
    }
    const char* faultstring = soap_strdup(soap, fault.faultstring.c_str());
    const char* detail = fault.detail.empty() ? nullptr : soap_strdup(soap, escapeXml(fault.detail).c_str());
    return fault.sender ? soap_sender_fault(soap, faultstring, detail)
                        : soap_receiver_fault(soap, faultstring, detail);
}

}  // namespace ZRDemo
