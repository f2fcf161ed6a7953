// SPDX-License-Identifier: GPL-2.0-or-later
// ScriptedPeer: an in-process HTTP peer for tests. It listens on 127.0.0.1 on
// an ephemeral port, answers each request with the next scripted response and
// records every request byte for byte. Also the helpers that build the canned
// bytes: HTTP responses, SOAP envelopes and DIME messages.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ZRTest {

// One request as the peer read it: the header up to and including the blank
// line, then exactly Content-Length bytes of body.
struct RecordedRequest {
    std::string raw;
    std::string header;
    std::string body;
};

// What the peer does with the connection around one scripted reply.
enum class ReplyMode {
    KeepAlive,          // send the whole reply, keep the connection open
    CloseAfterReply,    // send the whole reply, then close
    CloseBeforeReply,   // close without sending anything
    CloseMidReply,      // send the first `cutAfter` bytes, then close
    ShortBody,          // send all but the last `missing` bytes, then close
    ResetOnNext,        // send the whole reply, keep the connection open, and
                        // reset it (RST) unread when the next request comes
    ResetWhenIdle,      // send the whole reply, then after `resetAfter` reset the
                        // connection (RST) while the client sends nothing
    ResetAfterRequest,  // read the request (a module that runs it), then reset
                        // the connection (RST) without answering
};

struct ScriptedResponse {
    std::string bytes;
    ReplyMode mode = ReplyMode::KeepAlive;
    std::size_t cutAfter = 0;
    std::size_t missing = 0;
    // Waited before the reply (or the close); cut short when the peer stops.
    std::chrono::milliseconds stall{0};
    // ResetWhenIdle: how long after the reply the connection is reset.
    std::chrono::milliseconds resetAfter{0};

    static ScriptedResponse keepAlive(std::string bytes);
    static ScriptedResponse closeAfter(std::string bytes);
    static ScriptedResponse closeBefore();
    static ScriptedResponse closeMidReply(std::string bytes, std::size_t cutAfter);
    static ScriptedResponse shortBody(std::string bytes, std::size_t missing);
    static ScriptedResponse stalled(std::string bytes, std::chrono::milliseconds stall);
    static ScriptedResponse resetOnNext(std::string bytes);
    static ScriptedResponse resetWhenIdle(std::string bytes, std::chrono::milliseconds after);
    static ScriptedResponse resetAfterRequest();
};

// "HTTP/1.1 <status> <reason>" with Content-Type, Content-Length of `body`,
// "Connection: keep-alive" and `extraHeaders` (each line ending in CRLF).
std::string httpResponse(const std::string& body, int status = 200, const std::string& reason = "OK",
                         const std::string& contentType = "text/xml; charset=utf-8",
                         const std::string& extraHeaders = "");

// An XML declaration and a SOAP 1.1 envelope declaring the broker's six
// namespace prefixes, with `bodyContent` inside SOAP-ENV:Body.
std::string soapEnvelope(const std::string& bodyContent);

// A SOAP-ENV:Fault element; `detail` is inserted as is, and omitted when empty.
std::string soapFault(const std::string& faultcode, const std::string& faultstring,
                      const std::string& detail = "");

// DIME type name formats (the TYPE_T field).
enum class DimeTypeFormat : std::uint8_t {
    Unchanged = 0,
    MediaType = 1,
    AbsoluteUri = 2,
    Unknown = 3,
    None = 4
};

// One DIME record: the 12-byte header (version 1, MB, ME, CF flags, TYPE_T,
// options, id, type and data lengths, big-endian), then options, id, type and
// data, each padded with zero bytes to a multiple of 4.
std::string dimeRecord(bool messageBegin, bool messageEnd, bool chunked, DimeTypeFormat format,
                       const std::string& id, const std::string& type, const std::string& data,
                       const std::string& options = "");

// A DIME message: the SOAP envelope as the first record (type the SOAP 1.1
// envelope namespace, as an absolute URI), then one record per attachment
// (media type "application/octet-stream" by default).
class DimeMessage {
public:
    explicit DimeMessage(std::string envelope, std::string envelopeId = "");
    DimeMessage& attach(std::string data, std::string id = "image",
                        std::string type = "application/octet-stream");
    std::string bytes() const;

private:
    struct Record {
        DimeTypeFormat format;
        std::string id;
        std::string type;
        std::string data;
    };
    std::vector<Record> records_;
};

// The peer. It serves every connection from one thread with poll(); a stall
// holds up the whole peer, which is what the tests that use it want. When the
// script has run out, each further request is answered with an HTTP 500
// ("no scripted response") and its connection is closed.
class ScriptedPeer {
public:
    ScriptedPeer();
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    int port() const { return port_; }
    // "http://127.0.0.1:<port>"
    std::string endpoint() const;

    void push(ScriptedResponse response);
    void push(std::string bytes) { push(ScriptedResponse::keepAlive(std::move(bytes))); }

    std::vector<RecordedRequest> requests() const;
    int connectionCount() const;
    // Connections the peer has reset so far.
    int resetCount() const;
    // Waits up to 5 s until resetCount() reaches `count`; false if it did not.
    bool waitForResets(int count) const;
    // When the script has run out, requests are answered with what this
    // makes of them instead of the HTTP 500.
    void answerWith(std::function<std::string(const RecordedRequest&)> responder);
    std::size_t pendingResponses() const;

    // Upper bound of a scripted stall, so a mistaken script cannot hang a test.
    static constexpr std::chrono::milliseconds maxStall{60000};
    // Requests beyond these sizes make the peer drop the connection.
    static constexpr std::size_t maxHeaderBytes = 64 * 1024;
    static constexpr std::size_t maxBodyBytes = 256 * 1024 * 1024;

private:
    struct Connection {
        int fd;
        std::string buffer;
        bool resetOnNext = false;
        // Set: reset the connection at this time unless the client sends.
        std::chrono::steady_clock::time_point resetAt{};
    };

    void run();
    void acceptConnection();
    // Reads what is available; false when the connection is to be dropped.
    bool readFrom(Connection& connection);
    // Answers every complete request in the buffer; false when it closed.
    bool serveBuffered(Connection& connection);
    bool perform(Connection& connection, const ScriptedResponse& response);
    bool sendAll(int fd, const char* data, std::size_t size);
    // Waits up to `duration`; false when the peer is being stopped.
    bool sleepUnlessStopped(std::chrono::milliseconds duration);
    ScriptedResponse nextResponse(const RecordedRequest& request);
    void resetConnection(Connection& connection);

    int listenFd_ = -1;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    int port_ = 0;
    std::vector<Connection> connections_;

    mutable std::mutex mutex_;
    std::deque<ScriptedResponse> script_;
    std::vector<RecordedRequest> requests_;
    int connectionCount_ = 0;
    int resetCount_ = 0;
    std::function<std::string(const RecordedRequest&)> responder_;

    std::thread thread_;
};

}  // namespace ZRTest
