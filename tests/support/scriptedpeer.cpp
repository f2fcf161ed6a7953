// SPDX-License-Identifier: GPL-2.0-or-later
// The scripted HTTP peer and the byte builders of scriptedpeer.h.
#include "scriptedpeer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace ZRTest {

namespace {

// A reply that would block this long is given up; tests never need longer.
constexpr int sendTimeoutMs = 10000;

void closeFd(int& fd)
{
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

void setNonBlocking(int fd)
{
    int flags = ::fcntl(fd, F_GETFL, 0);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

void appendPadded(std::string& out, const std::string& field)
{
    out += field;
    out.append((4 - field.size() % 4) % 4, '\0');
}

void appendBigEndian(std::string& out, std::uint32_t value, int bytes)
{
    for (int shift = (bytes - 1) * 8; shift >= 0; shift -= 8) {
        out += static_cast<char>((value >> shift) & 0xFF);
    }
}

// The Content-Length of a header, 0 when absent; -1 when it is unreadable.
long long contentLength(const std::string& header)
{
    std::string lower(header);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const std::string name = "\r\ncontent-length:";
    std::size_t at = lower.find(name);
    if (at == std::string::npos) {
        return 0;
    }
    const char* text = header.c_str() + at + name.size();
    char* end = nullptr;
    errno = 0;
    long long value = std::strtoll(text, &end, 10);
    if (end == text || errno != 0 || value < 0) {
        return -1;
    }
    return value;
}

}  // namespace

ScriptedResponse ScriptedResponse::keepAlive(std::string bytes)
{
    ScriptedResponse response;
    response.bytes = std::move(bytes);
    return response;
}

ScriptedResponse ScriptedResponse::closeAfter(std::string bytes)
{
    ScriptedResponse response = keepAlive(std::move(bytes));
    response.mode = ReplyMode::CloseAfterReply;
    return response;
}

ScriptedResponse ScriptedResponse::closeBefore()
{
    ScriptedResponse response;
    response.mode = ReplyMode::CloseBeforeReply;
    return response;
}

ScriptedResponse ScriptedResponse::closeMidReply(std::string bytes, std::size_t cutAfter)
{
    ScriptedResponse response = keepAlive(std::move(bytes));
    response.mode = ReplyMode::CloseMidReply;
    response.cutAfter = cutAfter;
    return response;
}

ScriptedResponse ScriptedResponse::resetOnNext(std::string bytes)
{
    ScriptedResponse response = keepAlive(std::move(bytes));
    response.mode = ReplyMode::ResetOnNext;
    return response;
}

ScriptedResponse ScriptedResponse::resetWhenIdle(std::string bytes, std::chrono::milliseconds after)
{
    ScriptedResponse response = keepAlive(std::move(bytes));
    response.mode = ReplyMode::ResetWhenIdle;
    response.resetAfter = after;
    return response;
}

ScriptedResponse ScriptedResponse::resetAfterRequest()
{
    ScriptedResponse response;
    response.mode = ReplyMode::ResetAfterRequest;
    return response;
}

ScriptedResponse ScriptedResponse::shortBody(std::string bytes, std::size_t missing)
{
    ScriptedResponse response = keepAlive(std::move(bytes));
    response.mode = ReplyMode::ShortBody;
    response.missing = missing;
    return response;
}

ScriptedResponse ScriptedResponse::stalled(std::string bytes, std::chrono::milliseconds stall)
{
    ScriptedResponse response = keepAlive(std::move(bytes));
    response.stall = stall;
    return response;
}

std::string httpResponse(const std::string& body, int status, const std::string& reason,
                         const std::string& contentType, const std::string& extraHeaders)
{
    std::string out = "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\n";
    out += "Content-Type: " + contentType + "\r\n";
    out += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    out += "Connection: keep-alive\r\n";
    out += extraHeaders;
    out += "\r\n";
    out += body;
    return out;
}

std::string soapEnvelope(const std::string& bodyContent)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<SOAP-ENV:Envelope"
           " xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\""
           " xmlns:SOAP-ENC=\"http://schemas.xmlsoap.org/soap/encoding/\""
           " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\""
           " xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\""
           " xmlns:zrbroker=\"urn:zrbroker\""
           " xmlns:zr=\"urn:korvantis\">"
           "<SOAP-ENV:Body>" +
           bodyContent + "</SOAP-ENV:Body></SOAP-ENV:Envelope>";
}

std::string soapFault(const std::string& faultcode, const std::string& faultstring, const std::string& detail)
{
    std::string out = "<SOAP-ENV:Fault><faultcode>" + faultcode + "</faultcode><faultstring>" + faultstring +
                      "</faultstring>";
    if (!detail.empty()) {
        out += "<detail>" + detail + "</detail>";
    }
    return out + "</SOAP-ENV:Fault>";
}

std::string dimeRecord(bool messageBegin, bool messageEnd, bool chunked, DimeTypeFormat format,
                       const std::string& id, const std::string& type, const std::string& data,
                       const std::string& options)
{
    std::string out;
    out +=
        static_cast<char>(0x08 | (messageBegin ? 0x04 : 0) | (messageEnd ? 0x02 : 0) | (chunked ? 0x01 : 0));
    out += static_cast<char>(static_cast<std::uint8_t>(format) << 4);
    appendBigEndian(out, static_cast<std::uint32_t>(options.size()), 2);
    appendBigEndian(out, static_cast<std::uint32_t>(id.size()), 2);
    appendBigEndian(out, static_cast<std::uint32_t>(type.size()), 2);
    appendBigEndian(out, static_cast<std::uint32_t>(data.size()), 4);
    appendPadded(out, options);
    appendPadded(out, id);
    appendPadded(out, type);
    appendPadded(out, data);
    return out;
}

DimeMessage::DimeMessage(std::string envelope, std::string envelopeId)
{
    records_.push_back({DimeTypeFormat::AbsoluteUri, std::move(envelopeId),
                        "http://schemas.xmlsoap.org/soap/envelope/", std::move(envelope)});
}

DimeMessage& DimeMessage::attach(std::string data, std::string id, std::string type)
{
    records_.push_back({DimeTypeFormat::MediaType, std::move(id), std::move(type), std::move(data)});
    return *this;
}

std::string DimeMessage::bytes() const
{
    std::string out;
    for (std::size_t i = 0; i < records_.size(); ++i) {
        const Record& record = records_[i];
        out += dimeRecord(i == 0, i + 1 == records_.size(), false, record.format, record.id, record.type,
                          record.data);
    }
    return out;
}

ScriptedPeer::ScriptedPeer()
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) {
        throw std::runtime_error("ScriptedPeer: pipe failed");
    }
    wakeRead_ = pipeFds[0];
    wakeWrite_ = pipeFds[1];

    listenFd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listenFd_, 16) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        closeFd(listenFd_);
        closeFd(wakeRead_);
        closeFd(wakeWrite_);
        throw std::runtime_error("ScriptedPeer: cannot listen on 127.0.0.1");
    }
    port_ = ntohs(address.sin_port);
    setNonBlocking(listenFd_);
    thread_ = std::thread(&ScriptedPeer::run, this);
}

ScriptedPeer::~ScriptedPeer()
{
    char stop = 's';
    ssize_t written = ::write(wakeWrite_, &stop, 1);
    (void)written;
    thread_.join();
    for (Connection& connection : connections_) {
        closeFd(connection.fd);
    }
    closeFd(listenFd_);
    closeFd(wakeRead_);
    closeFd(wakeWrite_);
}

std::string ScriptedPeer::endpoint() const
{
    return "http://127.0.0.1:" + std::to_string(port_);
}

void ScriptedPeer::push(ScriptedResponse response)
{
    std::lock_guard<std::mutex> lock(mutex_);
    script_.push_back(std::move(response));
}

std::vector<RecordedRequest> ScriptedPeer::requests() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

int ScriptedPeer::connectionCount() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return connectionCount_;
}

int ScriptedPeer::resetCount() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return resetCount_;
}

bool ScriptedPeer::waitForResets(int count) const
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (resetCount() < count) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

void ScriptedPeer::answerWith(std::function<std::string(const RecordedRequest&)> responder)
{
    std::lock_guard<std::mutex> lock(mutex_);
    responder_ = std::move(responder);
}

void ScriptedPeer::resetConnection(Connection& connection)
{
    // Closed with no lingering: the client's next read or poll sees a reset.
    const linger abort{1, 0};
    ::setsockopt(connection.fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    closeFd(connection.fd);
    std::lock_guard<std::mutex> lock(mutex_);
    ++resetCount_;
}

std::size_t ScriptedPeer::pendingResponses() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return script_.size();
}

ScriptedResponse ScriptedPeer::nextResponse(const RecordedRequest& request)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (script_.empty() && responder_)
        return ScriptedResponse::keepAlive(responder_(request));
    if (script_.empty()) {
        return ScriptedResponse::closeAfter(
            httpResponse("no scripted response", 500, "Internal Server Error", "text/plain"));
    }
    ScriptedResponse response = std::move(script_.front());
    script_.pop_front();
    return response;
}

void ScriptedPeer::run()
{
    for (;;) {
        std::vector<pollfd> fds;
        fds.push_back({wakeRead_, POLLIN, 0});
        fds.push_back({listenFd_, POLLIN, 0});
        for (const Connection& connection : connections_) {
            fds.push_back({connection.fd, POLLIN, 0});
        }
        // A connection due for a reset wakes the loop in time.
        int timeout = -1;
        const auto now = std::chrono::steady_clock::now();
        for (const Connection& connection : connections_) {
            if (connection.resetAt == std::chrono::steady_clock::time_point{})
                continue;
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(std::max(connection.resetAt - now, std::chrono::steady_clock::duration::zero()));
            if (timeout < 0 || left.count() < timeout)
                timeout = static_cast<int>(left.count());
        }
        if (::poll(fds.data(), fds.size(), timeout) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[0].revents != 0) {
            return;
        }
        // Connections are served before new ones are taken, so indexes into
        // `fds` still match `connections_` here.
        std::vector<Connection> kept;
        for (std::size_t i = 0; i < connections_.size(); ++i) {
            Connection& connection = connections_[i];
            bool open = true;
            const bool resetDue = connection.resetAt != std::chrono::steady_clock::time_point{} &&
                                  std::chrono::steady_clock::now() >= connection.resetAt;
            if ((fds[i + 2].revents != 0 && connection.resetOnNext) || resetDue) {
                // Closed with the request unread.
                resetConnection(connection);
                open = false;
            } else if (fds[i + 2].revents != 0) {
                open = readFrom(connection) && serveBuffered(connection);
            }
            if (open) {
                kept.push_back(std::move(connection));
            } else {
                closeFd(connection.fd);
            }
            if (!sleepUnlessStopped(std::chrono::milliseconds(0))) {
                // Stopping: keep the remaining descriptors so the destructor closes them.
                for (std::size_t j = i + 1; j < connections_.size(); ++j) {
                    kept.push_back(std::move(connections_[j]));
                }
                connections_ = std::move(kept);
                return;
            }
        }
        connections_ = std::move(kept);
        if (fds[1].revents != 0) {
            acceptConnection();
        }
    }
}

void ScriptedPeer::acceptConnection()
{
    for (;;) {
        int fd = ::accept(listenFd_, nullptr, nullptr);
        if (fd < 0) {
            return;
        }
        setNonBlocking(fd);
        connections_.push_back({fd, std::string()});
        std::lock_guard<std::mutex> lock(mutex_);
        ++connectionCount_;
    }
}

bool ScriptedPeer::readFrom(Connection& connection)
{
    char chunk[65536];
    for (;;) {
        ssize_t got = ::recv(connection.fd, chunk, sizeof chunk, 0);
        if (got > 0) {
            connection.buffer.append(chunk, static_cast<std::size_t>(got));
            if (connection.buffer.size() > maxHeaderBytes + maxBodyBytes) {
                return false;
            }
            continue;
        }
        if (got == 0) {
            // The client closed; what it sent before still gets answered.
            serveBuffered(connection);
            return false;
        }
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    }
}

bool ScriptedPeer::serveBuffered(Connection& connection)
{
    for (;;) {
        std::size_t headerEnd = connection.buffer.find("\r\n\r\n");
        if (headerEnd == std::string::npos) {
            return connection.buffer.size() <= maxHeaderBytes;
        }
        headerEnd += 4;
        if (headerEnd > maxHeaderBytes) {
            return false;
        }
        long long length = contentLength(connection.buffer.substr(0, headerEnd));
        if (length < 0 || static_cast<unsigned long long>(length) > maxBodyBytes) {
            return false;
        }
        std::size_t total = headerEnd + static_cast<std::size_t>(length);
        if (connection.buffer.size() < total) {
            return true;
        }
        RecordedRequest request;
        request.raw = connection.buffer.substr(0, total);
        request.header = connection.buffer.substr(0, headerEnd);
        request.body = connection.buffer.substr(headerEnd, total - headerEnd);
        connection.buffer.erase(0, total);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(request);
        }
        if (!perform(connection, nextResponse(request))) {
            return false;
        }
    }
}

bool ScriptedPeer::perform(Connection& connection, const ScriptedResponse& response)
{
    const int fd = connection.fd;
    if (!sleepUnlessStopped(std::min(response.stall, maxStall))) {
        return false;
    }
    const std::string& bytes = response.bytes;
    switch (response.mode) {
    case ReplyMode::KeepAlive: return sendAll(fd, bytes.data(), bytes.size());
    case ReplyMode::CloseAfterReply: sendAll(fd, bytes.data(), bytes.size()); return false;
    case ReplyMode::CloseBeforeReply: return false;
    case ReplyMode::CloseMidReply:
        sendAll(fd, bytes.data(), std::min(response.cutAfter, bytes.size()));
        return false;
    case ReplyMode::ShortBody:
        sendAll(fd, bytes.data(), bytes.size() - std::min(response.missing, bytes.size()));
        return false;
    case ReplyMode::ResetOnNext:
        connection.resetOnNext = true;
        return sendAll(fd, bytes.data(), bytes.size());
    case ReplyMode::ResetWhenIdle:
        connection.resetAt = std::chrono::steady_clock::now() + response.resetAfter;
        return sendAll(fd, bytes.data(), bytes.size());
    case ReplyMode::ResetAfterRequest: resetConnection(connection); return false;
    }
    return false;
}

bool ScriptedPeer::sendAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
        if (sent > 0) {
            data += sent;
            size -= static_cast<std::size_t>(sent);
            continue;
        }
        if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            return false;
        }
        pollfd fds[2] = {{fd, POLLOUT, 0}, {wakeRead_, POLLIN, 0}};
        if (::poll(fds, 2, sendTimeoutMs) <= 0 || fds[1].revents != 0) {
            return false;
        }
    }
    return true;
}

bool ScriptedPeer::sleepUnlessStopped(std::chrono::milliseconds duration)
{
    pollfd wake{wakeRead_, POLLIN, 0};
    auto deadline = std::chrono::steady_clock::now() + duration;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        int result = ::poll(&wake, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
        if (result > 0) {
            return false;
        }
        if (result == 0 || errno != EINTR) {
            return true;
        }
    }
}

}  // namespace ZRTest
