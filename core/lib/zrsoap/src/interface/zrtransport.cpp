// SPDX-License-Identifier: GPL-2.0-or-later
// The client transport: gSOAP's socket callbacks replaced by ones that never
// block for longer than one short poll step. Between steps they look at the
// deadline and the interrupt check armed on the context, which is how a call
// can end after a time-out or on Ctrl-C while the peer stays silent. Error
// texts are those gSOAP's own TCP transport gives, so callers see the same
// messages as before.
#include "zrtransport.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include <stdsoap2.h>

#include "zrpluginstate.h"

namespace ZR {

// What an armed exchange may take.
struct ZRArmedLimits {
    // Every wait ends here, reported as `deadlineEnd`.
    ZRDeadline deadline = noDeadline();
    ZRWaitEnd deadlineEnd = ZRWaitEnd::TimedOut;
    ZRCallLimits limits;
    ZRInterruptCheck interrupted;
};

namespace {

const char kPluginId[] = "ZR-Transport";

// The longest single wait: the interrupt check runs at least this often.
const std::chrono::milliseconds kPollStep{50};

struct TransportState : ZRArmedLimits {
    ZRExchangeReport report;
    // The context's connect_timeout, while a connect runs.
    int connectTimeoutOfContext = 0;
    // The errno of a failed send, given again to every later read.
    int sendError = 0;
    // The process that opened the socket. After fork, parent and child hold
    // the same connection; only its owner may send, read or shut it down.
    pid_t owner = 0;
    ZRHostCheck hostUsable = nullptr;
};

TransportState* stateOf(const struct soap* soap)
{
    return static_cast<TransportState*>(soap_lookup_plugin(const_cast<struct soap*>(soap), kPluginId));
}

// Records a transport failure the way gSOAP's own transport does; the texts
// are copied into the context, which keeps them until the next exchange.
SOAP_SOCKET connectFailure(struct soap* soap, const char* text, const char* detail)
{
    soap_set_receiver_error(soap, soap_strdup(soap, text), detail, SOAP_TCP_ERROR);
    return SOAP_INVALID_SOCKET;
}

enum class Wait { Ready, Stopped };

// A time-out in gSOAP's units (seconds when positive, microseconds when
// negative) as a deadline from now. The context's own time-outs bound each
// single wait, as gSOAP's transport does; the limits armed by the caller
// bound the whole exchange.
ZRDeadline waitDeadline(int timeout)
{
    if (timeout == 0)
        return noDeadline();
    return timeout > 0 ? deadlineAfter(timeout) : deadlineAfter(-timeout / 1e6);
}

// Waits until `fd` is ready for `events`, `deadline` passes (the report
// then says `onExpiry`), the context's own time-out `gsoapTimeout` for one
// wait passes, or the interrupt check fires. The interrupt is looked at
// first, so a request made before the wait is seen at once.
Wait waitFor(TransportState& state, int fd, short events, ZRDeadline deadline, ZRWaitEnd onExpiry,
             int gsoapTimeout)
{
    // A limit that ended one wait ends every later one of the exchange:
    // the host may have taken its interrupt request already, and gSOAP
    // goes on to read a reply even after some failed sends.
    if (state.report.end != ZRWaitEnd::Completed)
        return Wait::Stopped;
    const ZRDeadline waitEnd = waitDeadline(gsoapTimeout);
    for (;;) {
        if (state.interrupted && state.interrupted()) {
            state.report.end = ZRWaitEnd::Interrupted;
            return Wait::Stopped;
        }
        const ZRDeadline now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            state.report.end = onExpiry;
            return Wait::Stopped;
        }
        if (now >= waitEnd)
            return Wait::Stopped;
        auto step = kPollStep;
        const ZRDeadline next = std::min(deadline, waitEnd);
        if (next - now < step)
            step = std::chrono::ceil<std::chrono::milliseconds>(next - now);
        pollfd descriptor{fd, events, 0};
        const int ready = ::poll(&descriptor, 1, static_cast<int>(step.count()));
        // An error or hang-up counts as ready: the next send, receive or
        // SO_ERROR says what happened.
        if (ready > 0 || (ready < 0 && errno != EINTR))
            return Wait::Ready;
    }
}

// The socket options gSOAP's own transport sets on a client connection.
void configureSocket(struct soap* soap, int fd)
{
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if ((soap->omode & SOAP_IO_KEEPALIVE) || soap->tcp_keep_alive)
        ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
}

// Connects to one address; the socket stays non-blocking. -1 with errno
// set when the peer cannot be reached, -2 when a limit stopped the wait.
int connectTo(TransportState& state, const addrinfo& address, ZRDeadline deadline)
{
    const int fd =
        ::socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, address.ai_protocol);
    if (fd < 0) {
        if (errno == EMFILE || errno == ENFILE)
            state.report.outOfDescriptors = true;
        return -1;
    }
    if (::connect(fd, address.ai_addr, address.ai_addrlen) == 0)
        return fd;
    if (errno != EINPROGRESS) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    const int gsoapTimeout = state.connectTimeoutOfContext;
    const Wait wait = deadline < state.deadline
                          ? waitFor(state, fd, POLLOUT, deadline, ZRWaitEnd::ConnectTimedOut, gsoapTimeout)
                          : waitFor(state, fd, POLLOUT, state.deadline, state.deadlineEnd, gsoapTimeout);
    if (wait == Wait::Stopped) {
        ::close(fd);
        return -2;
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        error = errno;
    if (error == 0)
        return fd;
    ::close(fd);
    errno = error;
    return -1;
}

SOAP_SOCKET openConnection(struct soap* soap, const char* /*endpoint*/, const char* host, int port)
{
    TransportState& state = *stateOf(soap);
    state.report.connectFailed = true;
    soap->errnum = 0;
    if (!host || !state.hostUsable(host))
        return connectFailure(soap, "Host not found", "no usable host in the end point");

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* addresses = nullptr;
    const std::string service = std::to_string(port);
    const int lookup = ::getaddrinfo(host, service.c_str(), &hints, &addresses);
    if (lookup == EAI_SYSTEM && (errno == EMFILE || errno == ENFILE)) {
        // The resolver could not open its own files.
        state.report.outOfDescriptors = true;
        soap->errnum = errno;
        return connectFailure(soap, std::strerror(errno), "getaddrinfo failed in tcp_connect()");
    }
    if (lookup != 0)
        return connectFailure(soap, ::gai_strerror(lookup), "getaddrinfo failed in tcp_connect()");

    const ZRDeadline connectDeadline = deadlineAfter(state.limits.connectTimeout);
    state.connectTimeoutOfContext = soap->connect_timeout;
    int fd = -1;
    int error = ECONNREFUSED;
    for (const addrinfo* address = addresses; address && fd == -1; address = address->ai_next) {
        fd = connectTo(state, *address, connectDeadline);
        if (fd == -1)
            error = errno;
    }
    ::freeaddrinfo(addresses);
    if (fd == -2)
        return connectFailure(soap, "Connection timed out", "connect failed in tcp_connect()");
    if (fd < 0) {
        soap->errnum = error;
        return connectFailure(soap, std::strerror(error), "connect failed in tcp_connect()");
    }
    configureSocket(soap, fd);
    state.owner = ::getpid();
    state.report.connectFailed = false;
    state.report.connected = true;
    return fd;
}

int sendBytes(struct soap* soap, const char* data, std::size_t size)
{
    TransportState& state = *stateOf(soap);
    // Once a send failed, the request cannot arrive whole: gSOAP may write
    // on, and each write fails with the first error.
    if (state.report.sendFailed) {
        soap->errnum = state.sendError;
        return SOAP_EOF;
    }
    soap->errnum = 0;
    // Without a connection gSOAP would write to standard output.
    if (!soap_valid_socket(soap->socket) || state.owner != ::getpid())
        return SOAP_EOF;
    while (size > 0) {
        const ssize_t sent = ::send(soap->socket, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            state.report.sent = true;
            data += sent;
            size -= static_cast<std::size_t>(sent);
        } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (waitFor(state, soap->socket, POLLOUT, state.deadline, state.deadlineEnd,
                        soap->send_timeout) == Wait::Stopped) {
                state.report.sendFailed = true;
                return SOAP_EOF;
            }
        } else if (sent < 0 && errno != EINTR) {
            soap->errnum = errno;
            state.sendError = errno;
            state.report.reset = errno == ECONNRESET || errno == EPIPE;
            state.report.sendFailed = true;
            return SOAP_EOF;
        }
    }
    return SOAP_OK;
}

std::size_t receiveBytes(struct soap* soap, char* buffer, std::size_t size)
{
    TransportState& state = *stateOf(soap);
    // gSOAP goes on to read the reply even when the request could not be
    // sent; none is coming, and the send's error is the one to report.
    if (state.report.sendFailed) {
        soap->errnum = state.sendError;
        return 0;
    }
    soap->errnum = 0;
    // Without a connection gSOAP would read standard input.
    if (!soap_valid_socket(soap->socket) || state.owner != ::getpid())
        return 0;
    // gSOAP reads only once the whole request has gone out.
    if (state.report.sent)
        state.report.requestSent = true;
    for (;;) {
        const ssize_t received = ::recv(soap->socket, buffer, size, MSG_DONTWAIT);
        if (received > 0) {
            state.report.received = true;
            state.report.receivedBytes += static_cast<unsigned long long>(received);
        }
        if (received == 0)
            state.report.closed = true;
        if (received >= 0)
            return static_cast<std::size_t>(received);
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (waitFor(state, soap->socket, POLLIN, state.deadline, state.deadlineEnd, soap->recv_timeout) ==
                Wait::Stopped)
                return 0;
        } else if (errno != EINTR) {
            soap->errnum = errno;
            state.report.reset = errno == ECONNRESET;
            return 0;
        }
    }
}

// Whether a kept-alive connection can carry the next request: it must still
// be open, which is checked before any byte of the request goes out, and it
// must belong to this process. A connection inherited across fork is left
// to its owner: the duplicate descriptor is closed here, without a byte on
// the wire, and gSOAP opens a new connection to the same address. Unread
// bytes are left to whoever polls after us. gSOAP's own poll uses select(),
// which cannot watch descriptors past FD_SETSIZE.
int pollConnection(struct soap* soap)
{
    if (!soap_valid_socket(soap->socket))
        return SOAP_EOF;
    if (stateOf(soap)->owner != ::getpid()) {
        ::close(soap->socket);
        soap->socket = SOAP_INVALID_SOCKET;
        return SOAP_EOF;
    }
    return pendingInput(soap->socket) == ZRPendingInput::Closed ? SOAP_EOF : SOAP_OK;
}

// gSOAP shuts a connection down before it closes it; that would end the
// connection for every process holding it, so only its owner does.
int shutDownConnection(struct soap* soap, SOAP_SOCKET socket, int how)
{
    const TransportState* state = stateOf(soap);
    if (state && state->owner != ::getpid())
        return 0;
    return ::shutdown(socket, how);
}

int createPlugin(struct soap* soap, struct soap_plugin* plugin, void* hostUsable)
{
    plugin->id = kPluginId;
    TransportState* state = new TransportState;
    state->hostUsable = reinterpret_cast<ZRHostCheck>(hostUsable);
    plugin->data = state;
    plugin->fcopy = copyPluginState<TransportState>;
    plugin->fdelete = deletePluginState<TransportState>;
    soap->fopen = openConnection;
    soap->fsend = sendBytes;
    soap->frecv = receiveBytes;
    soap->fpoll = pollConnection;
    soap->fshutdownsocket = shutDownConnection;
    // gSOAP uses these descriptors when a context has no socket; with none
    // valid, such a write or read fails.
    soap->sendfd = -1;
    soap->recvfd = -1;
    return SOAP_OK;
}

}  // namespace

void installTransport(struct soap* context, ZRHostCheck hostUsable)
{
    if (!stateOf(context))
        soap_register_plugin_arg(context, createPlugin, reinterpret_cast<void*>(hostUsable));
}

ZRExchangeReport exchangeReport(const struct soap* context)
{
    const TransportState* state = stateOf(context);
    return state ? state->report : ZRExchangeReport();
}

ZRDeadline deadlineAfter(double seconds)
{
    if (!(seconds > 0))
        return noDeadline();
    // Beyond a year is as good as no limit, and cannot overflow the clock.
    if (seconds > 365.0 * 24 * 3600)
        return noDeadline();
    return std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                  std::chrono::duration<double>(seconds));
}

bool lostAfterRequest(const ZRExchangeReport& report)
{
    return report.end == ZRWaitEnd::Completed && report.requestSent && (report.reset || report.closed);
}

void resetExchangeReport(struct soap* context)
{
    if (TransportState* state = stateOf(context)) {
        state->report = ZRExchangeReport();
        state->report.limits = state->limits;
        state->sendError = 0;
    }
}

ZRExchangeLimits::ZRExchangeLimits(struct soap* context, ZRExchangeKind kind, const ZRCallLimits& limits,
                                   ZRDeadline callDeadline, const ZRInterruptCheck& interrupted)
    : context_(context), previous_(nullptr)
{
    TransportState* state = stateOf(context_);
    if (!state)
        return;
    previous_ = new ZRArmedLimits(*state);
    ZRArmedLimits& armed = *state;
    armed.deadline = callDeadline;
    armed.deadlineEnd = ZRWaitEnd::TimedOut;
    if (kind == ZRExchangeKind::LookUp) {
        const ZRDeadline lookUpDeadline = deadlineAfter(limits.connectTimeout);
        if (lookUpDeadline < callDeadline) {
            armed.deadline = lookUpDeadline;
            armed.deadlineEnd = ZRWaitEnd::ConnectTimedOut;
        }
    }
    armed.limits = limits;
    armed.interrupted = interrupted;
}

ZRExchangeLimits::~ZRExchangeLimits()
{
    TransportState* state = stateOf(context_);
    if (state && previous_)
        static_cast<ZRArmedLimits&>(*state) = *previous_;
    delete previous_;
}

}  // namespace ZR

namespace ZR {

// Asked between the pieces of a reply while it is parsed, so that a long
// parse ends on the deadline or the interrupt as a wait does; records why.
ZRPendingInput pendingInput(int socket)
{
    char byte;
    const ssize_t peeked = ::recv(socket, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (peeked > 0)
        return ZRPendingInput::Bytes;
    if (peeked < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        return ZRPendingInput::None;
    return ZRPendingInput::Closed;
}

bool exchangeShouldStop(struct soap* context)
{
    TransportState* state = stateOf(context);
    if (!state)
        return false;
    if (state->interrupted && state->interrupted()) {
        state->report.end = ZRWaitEnd::Interrupted;
        return true;
    }
    if (std::chrono::steady_clock::now() >= state->deadline) {
        state->report.end = state->deadlineEnd;
        return true;
    }
    return false;
}

}  // namespace ZR
