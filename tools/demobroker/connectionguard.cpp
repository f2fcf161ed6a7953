// SPDX-License-Identifier: GPL-2.0-or-later
// The connection guard: gSOAP reads each request through frecv after
// calling fprepareinitrecv once per request, and writes each reply through
// fsend; both are replaced here by waits that end at the message's deadline.
#include "connectionguard.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace ZRDemo {

namespace {

const char kPluginId[] = "ZRDemo-ConnectionGuard";

using Clock = std::chrono::steady_clock;

struct ConnectionGuard {
    ConnectionGuard(double seconds, ReplyBudget& budget)
        : limit(std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds))),
          ticket(budget)
    {
    }

    const Clock::duration limit;
    Clock::time_point requestDeadline = Clock::now() + limit;
    bool replyStarted = false;
    Clock::time_point replyDeadline;
    ReplyTicket ticket;
    int (*prepareReceive)(struct soap*) = nullptr;
};

ConnectionGuard* guardOf(struct soap* soap)
{
    return static_cast<ConnectionGuard*>(soap_lookup_plugin(soap, kPluginId));
}

// Milliseconds left until `deadline`, capped for poll().
int millisecondsUntil(Clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 1000000));
}

// Waits until `events` are possible on the socket or the deadline passes;
// false for the latter and for a failed wait.
bool waitFor(struct soap* soap, short events, Clock::time_point deadline)
{
    for (;;) {
        const int left = millisecondsUntil(deadline);
        if (left == 0) {
            soap->errnum = ETIMEDOUT;
            return false;
        }
        pollfd socket{soap->socket, events, 0};
        const int ready = ::poll(&socket, 1, left);
        if (ready > 0) {
            return true;
        }
        if (ready < 0 && errno != EINTR) {
            soap->errnum = errno;
            return false;
        }
    }
}

// A new request starts: the previous reply has gone out whole.
int startRequest(struct soap* soap)
{
    ConnectionGuard* guard = guardOf(soap);
    guard->requestDeadline = Clock::now() + guard->limit;
    guard->replyStarted = false;
    guard->ticket.release();
    return guard->prepareReceive ? guard->prepareReceive(soap) : SOAP_OK;
}

// A zero-length read is gSOAP's end of input: the connection then closes.
size_t receive(struct soap* soap, char* buffer, size_t size)
{
    ConnectionGuard* guard = guardOf(soap);
    for (;;) {
        if (!waitFor(soap, POLLIN, guard->requestDeadline)) {
            return 0;
        }
        const ssize_t received = ::recv(soap->socket, buffer, size, MSG_DONTWAIT);
        if (received >= 0) {
            return static_cast<size_t>(received);
        }
        if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
            soap->errnum = errno;
            return 0;
        }
    }
}

int send(struct soap* soap, const char* bytes, size_t size)
{
    ConnectionGuard* guard = guardOf(soap);
    if (!guard->replyStarted) {
        guard->replyStarted = true;
        guard->replyDeadline = Clock::now() + guard->limit;
    }
    while (size > 0) {
        if (!waitFor(soap, POLLOUT, guard->replyDeadline)) {
            return SOAP_EOF;
        }
        const ssize_t sent = ::send(soap->socket, bytes, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent >= 0) {
            bytes += sent;
            size -= static_cast<size_t>(sent);
        } else if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
            soap->errnum = errno;
            return SOAP_EOF;
        }
    }
    return SOAP_OK;
}

// A guard belongs to one connection. gSOAP deletes a copied context's
// plug-in data only when the plug-in can be copied, so the function must
// exist; it refuses.
int refuseCopy(struct soap*, struct soap_plugin*, struct soap_plugin*)
{
    return SOAP_PLUGIN_ERROR;
}

void deleteGuard(struct soap*, struct soap_plugin* plugin)
{
    delete static_cast<ConnectionGuard*>(plugin->data);
    plugin->data = nullptr;
}

struct GuardSettings {
    double seconds;
    ReplyBudget* budget;
};

int createGuard(struct soap* soap, struct soap_plugin* plugin, void* argument)
{
    const GuardSettings* settings = static_cast<const GuardSettings*>(argument);
    ConnectionGuard* guard = new ConnectionGuard(settings->seconds, *settings->budget);
    guard->prepareReceive = soap->fprepareinitrecv;
    plugin->id = kPluginId;
    plugin->data = guard;
    plugin->fcopy = refuseCopy;
    plugin->fdelete = deleteGuard;
    soap->fprepareinitrecv = startRequest;
    soap->frecv = receive;
    soap->fsend = send;
    return SOAP_OK;
}

}  // namespace

bool guardConnection(struct soap* soap, double seconds, ReplyBudget& budget)
{
    GuardSettings settings{seconds, &budget};
    return soap_register_plugin_arg(soap, createGuard, &settings) == SOAP_OK;
}

ReplyTicket& replyTicketOf(struct soap* soap)
{
    return guardOf(soap)->ticket;
}

}  // namespace ZRDemo
