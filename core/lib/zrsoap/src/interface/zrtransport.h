// SPDX-License-Identifier: GPL-2.0-or-later
// The TCP transport of every client context: connect, send, receive and the
// keep-alive poll done with non-blocking sockets and short waits, so that a
// wait ends at the caller's deadline or on the host's interrupt request, and
// a context without a connection fails instead of falling back to standard
// input and output.
#pragma once

#include <chrono>
#include <string>

#include "zrcalllimits.h"

struct soap;

namespace ZR {

// Which host names a connection may be opened to; the caller's rule.
typedef bool (*ZRHostCheck)(const std::string& host);

// Replaces the context's socket callbacks (open, send, receive, poll) and
// stops gSOAP from ever using the process's standard streams. A connection
// to a host that `hostUsable` refuses fails as an unknown host would.
// Installing twice does nothing.
void installTransport(struct soap* context, ZRHostCheck hostUsable);

// How the waits of the last exchange ended.
enum class ZRWaitEnd {
    Completed,        // no limit was hit
    TimedOut,         // the call's Timeout passed
    ConnectTimedOut,  // a connect, or a look-up, took longer than ConnectTimeout
    Interrupted,      // the interrupt check said stop
};

// What the transport saw during the last exchange on a context.
struct ZRExchangeReport {
    ZRWaitEnd end = ZRWaitEnd::Completed;
    // The exchange failed before a connection was made: no request byte
    // left this process.
    bool connectFailed = false;
    // At least one byte of a request was handed to the network.
    bool sent = false;
    // A new connection was made for the exchange (else it went out on one
    // kept open from an earlier exchange).
    bool connected = false;
    // At least one byte of a reply arrived.
    bool received = false;
    // The peer reset the connection (ECONNRESET, EPIPE).
    bool reset = false;
    // The peer closed the connection (end of file) while a reply was read.
    bool closed = false;
    // The request went out whole: the module may have run it from then on.
    bool requestSent = false;
    // A send failed: no reply is waited for after it.
    bool sendFailed = false;
    // Reply bytes received from the network (HTTP header included).
    unsigned long long receivedBytes = 0;
    // The process could not get a file descriptor for a new connection.
    bool outOfDescriptors = false;
    // The limits the exchange ran under, for the texts that name them.
    ZRCallLimits limits;
};

ZRExchangeReport exchangeReport(const struct soap* context);

// Whether the peer closed or reset the connection after the whole request
// had gone out and before the reply was read to its end. Such a request is
// never sent again: the module may have run it.
bool lostAfterRequest(const ZRExchangeReport& report);
// Starts a new report; ZRNetwork does it before every exchange.
void resetExchangeReport(struct soap* context);

typedef std::chrono::steady_clock::time_point ZRDeadline;
// "No deadline".
inline ZRDeadline noDeadline()
{
    return ZRDeadline::max();
}
// `seconds` from now, or noDeadline() for 0 or less.
ZRDeadline deadlineAfter(double seconds);

struct ZRArmedLimits;

// What an armed exchange is: a method call, bounded as a whole by the
// call's deadline, or a look-up at the broker, bounded as a whole by
// ConnectTimeout as well.
enum class ZRExchangeKind { Call, LookUp };

// Arms a context for the exchanges of one call (retries included) and gives
// it back the limits it had before when it goes, so a look-up armed inside
// a call leaves the call's limits in force. While armed, every wait on the
// context ends at `callDeadline` (reported as TimedOut), every connect after
// the limits' connectTimeout, and each of them once `interrupted` says so.
class ZRExchangeLimits {
public:
    ZRExchangeLimits(struct soap* context, ZRExchangeKind kind, const ZRCallLimits& limits,
                     ZRDeadline callDeadline, const ZRInterruptCheck& interrupted);
    ~ZRExchangeLimits();
    ZRExchangeLimits(const ZRExchangeLimits&) = delete;
    ZRExchangeLimits& operator=(const ZRExchangeLimits&) = delete;

private:
    struct soap* context_;
    struct ZRArmedLimits* previous_;
};

// What waits unread on a connected socket, looked at without reading it or
// waiting for it.
enum class ZRPendingInput {
    Bytes,   // at least one byte can be read now
    None,    // the connection is open and nothing has arrived
    Closed,  // the peer closed or reset it, or the socket failed
};
ZRPendingInput pendingInput(int socket);

// Whether the exchange armed on `context` must stop now (its deadline has
// passed or the interrupt check says so); records the reason in the report.
// Asked while a reply is parsed, between its pieces.
bool exchangeShouldStop(struct soap* context);

}  // namespace ZR
