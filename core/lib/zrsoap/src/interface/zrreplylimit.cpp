// SPDX-License-Identifier: GPL-2.0-or-later
// The reply limit: a gSOAP plug-in entry holds the callbacks it wraps and
// what it knows about the reply being read.
//
// gSOAP reads a reply in one pass: soap_begin_recv calls fprepareinitrecv,
// reads the HTTP header through frecv and fparse (fparsehdr per line), and
// from then on frecv delivers body bytes; soap_end_recv calls
// fpreparefinalrecv once the whole message, attachments included, is read.
// gSOAP itself never stops at Content-Length: it reads until the XML parser
// is satisfied, so an incomplete body on a kept-open connection would block
// in frecv for good.
#include "zrreplylimit.h"

#include <stdsoap2.h>

#include "zrchunkframing.h"
#include "zrpluginstate.h"
#include "zrtransport.h"

namespace ZR {

namespace {

const char kPluginId[] = "ZR-ReplyLimit";

struct ReplyLimit {
    // The callbacks wrapped, as installed when the limit was.
    size_t (*receive)(struct soap*, char*, size_t);
    int (*parseHeader)(struct soap*);
    int (*parseHeaderLine)(struct soap*, const char*, const char*);
    int (*prepareReceive)(struct soap*);
    int (*finishReceive)(struct soap*);
    int (*poll)(struct soap*);

    bool announcedLength = false;   // the current reply's header had Content-Length
    bool framed = false;            // its body ends where its header says
    bool bounded = false;           // body bytes are counted against `remaining`
    ULONG64 remaining = 0;          // body bytes the transport has yet to deliver
    bool lastReplyComplete = true;  // the previous reply was read to its end
    // Bytes of the current reply the transport delivered, against the most
    // one reply may take: a chunked body or DIME attachment has no length
    // that could be refused up front.
    unsigned long long replyBytes = 0;
    unsigned long long byteLimit = 0;
    // The chunked framing of the current body, checked as it arrives.
    bool checkChunks = false;
    ZRChunkFraming chunks;
    // Why the current reply was cut short; empty while it was not.
    std::string refusal;
};

ReplyLimit* limitOf(const struct soap* soap)
{
    return static_cast<ReplyLimit*>(soap_lookup_plugin(const_cast<struct soap*>(soap), kPluginId));
}

// Ends the body: gSOAP sees the end of input.
size_t framingBroken(ReplyLimit* limit)
{
    limit->refusal = "the reply's chunked framing is broken: " + limit->chunks.problem();
    return 0;
}

int startReceive(struct soap* soap)
{
    ReplyLimit* limit = limitOf(soap);
    limit->announcedLength = false;
    limit->framed = false;
    limit->bounded = false;
    limit->remaining = 0;
    limit->lastReplyComplete = false;
    limit->replyBytes = 0;
    limit->checkChunks = false;
    limit->chunks = ZRChunkFraming();
    limit->refusal.clear();
    return limit->prepareReceive ? limit->prepareReceive(soap) : SOAP_OK;
}

// The largest reply accepted. gSOAP may allocate a buffer of the announced
// length before any of it arrives (an HTTP error body, a DIME record), so a
// forged length must not reach it; no reply of a method call comes close.
const unsigned long long kMaxReplyBytes = 1ULL << 32;

// The announced length when `value` is a byte count (decimal digits only,
// surrounding blanks allowed), or -1. gSOAP itself reads "-33" as a length
// near 2^64.
long long byteCountOf(const char* value)
{
    if (!value)
        return -1;
    while (*value == ' ' || *value == '\t')
        ++value;
    unsigned long long count = 0;
    int digits = 0;
    for (; *value >= '0' && *value <= '9'; ++value) {
        if (++digits > 18)
            return -1;
        count = count * 10 + static_cast<unsigned>(*value - '0');
    }
    while (*value == ' ' || *value == '\t')
        ++value;
    return digits > 0 && *value == '\0' ? static_cast<long long>(count) : -1;
}

int parseHeaderLine(struct soap* soap, const char* key, const char* value)
{
    ReplyLimit* limit = limitOf(soap);
    if (key && !soap_tag_cmp(key, "Content-Length")) {
        limit->announcedLength = true;
        const long long length = byteCountOf(value);
        if (length < 0)
            return soap_set_receiver_error(soap, "HTTP Error", "Content-Length is not a byte count",
                                           SOAP_LENGTH);
        if (static_cast<unsigned long long>(length) > kMaxReplyBytes)
            return soap_set_receiver_error(soap, "HTTP Error", "Content-Length is over 4 GiB", SOAP_LENGTH);
    }
    return limit->parseHeaderLine(soap, key, value);
}

bool isChunked(const struct soap* soap)
{
    return (soap->imode & SOAP_IO) == SOAP_IO_CHUNK || (soap->mode & SOAP_IO) == SOAP_IO_CHUNK;
}

// The header has been read; what is left in the buffer is the start of the
// body, and gSOAP has stored the announced length.
int parseHeader(struct soap* soap)
{
    ReplyLimit* limit = limitOf(soap);
    const int status = limit->parseHeader(soap);
    const bool chunked = isChunked(soap);
    limit->framed = chunked || limit->announcedLength;
    if (status == SOAP_OK && (soap->status == 204 || soap->status == 304)) {
        // These statuses never have a body, whatever the header says; gSOAP
        // would wait for one.
        soap->buflen = soap->bufidx;
        limit->framed = true;
        limit->bounded = true;
        limit->remaining = 0;
        limit->refusal = "the reply has no body (HTTP " + std::to_string(soap->status) + ")";
        return status;
    }
    if (status == SOAP_OK && chunked) {
        // gSOAP reads the chunks already buffered without asking frecv.
        limit->checkChunks = true;
        if (!limit->chunks.take(soap->buf + soap->bufidx, soap->buflen - soap->bufidx)) {
            // gSOAP gets the body up to the break, then the end of input.
            soap->buflen = soap->bufidx + static_cast<size_t>(limit->chunks.accepted());
            limit->bounded = true;
            limit->remaining = 0;
            framingBroken(limit);
        }
    }
    if (limit->announcedLength && !chunked) {
        const size_t buffered = soap->buflen - soap->bufidx;
        if (buffered >= soap->length) {
            // Whatever came after the body is not part of this reply.
            soap->buflen = soap->bufidx + static_cast<size_t>(soap->length);
            limit->remaining = 0;
        } else {
            limit->remaining = soap->length - buffered;
        }
        limit->bounded = true;
    }
    return status;
}

// Reads through the wrapped transport, never past the reply's byte limit.
size_t receiveWithinLimit(struct soap* soap, ReplyLimit* limit, char* buffer, size_t size)
{
    const unsigned long long allowed = limit->byteLimit - limit->replyBytes;
    if (allowed == 0) {
        limit->refusal =
            "the reply is larger than " + std::to_string(limit->byteLimit) + " bytes (the reply limit)";
        return 0;
    }
    if (size > allowed)
        size = static_cast<size_t>(allowed);
    const size_t received = limit->receive(soap, buffer, size);
    limit->replyBytes += received;
    if (limit->checkChunks && !limit->chunks.take(buffer, received))
        return framingBroken(limit);
    return received;
}

size_t receive(struct soap* soap, char* buffer, size_t size)
{
    ReplyLimit* limit = limitOf(soap);
    if (!limit->bounded)
        return receiveWithinLimit(soap, limit, buffer, size);
    // A zero-length read is gSOAP's end of input.
    if (limit->remaining == 0)
        return 0;
    if (size > limit->remaining)
        size = static_cast<size_t>(limit->remaining);
    const size_t received = receiveWithinLimit(soap, limit, buffer, size);
    limit->remaining -= received;
    return received;
}

// gSOAP has read what it takes for the message. A body without length or
// chunks ends only where the peer closes the connection (gSOAP reads none of
// it on a kept-alive one), and a message may end before its announced
// length: either way, unread bytes of this reply are still on the way.
int finishReceive(struct soap* soap)
{
    ReplyLimit* limit = limitOf(soap);
    limit->lastReplyComplete = limit->framed && !(limit->bounded && limit->remaining > 0);
    return limit->finishReceive ? limit->finishReceive(soap) : SOAP_OK;
}

// Bytes that arrived after the end of the last reply (a peer that sent more
// than it announced) would be read as the start of the next one.
bool hasStaleInput(const struct soap* soap)
{
    return soap_valid_socket(soap->socket) && pendingInput(soap->socket) == ZRPendingInput::Bytes;
}

// gSOAP polls a kept-alive connection before it sends on it and opens a new
// one when the poll fails.
int poll(struct soap* soap)
{
    ReplyLimit* limit = limitOf(soap);
    if (!limit->lastReplyComplete || hasStaleInput(soap))
        return SOAP_EOF;
    return limit->poll ? limit->poll(soap) : SOAP_OK;
}

int createPlugin(struct soap* soap, struct soap_plugin* plugin, void*)
{
    ReplyLimit* limit = new ReplyLimit;
    limit->receive = soap->frecv;
    limit->parseHeader = soap->fparse;
    limit->parseHeaderLine = soap->fparsehdr;
    limit->prepareReceive = soap->fprepareinitrecv;
    limit->finishReceive = soap->fpreparefinalrecv;
    limit->poll = soap->fpoll;
    limit->byteLimit = kMaxReplyBytes;
    plugin->id = kPluginId;
    plugin->data = limit;
    plugin->fcopy = copyPluginState<ReplyLimit>;
    plugin->fdelete = deletePluginState<ReplyLimit>;

    soap->frecv = receive;
    soap->fparse = parseHeader;
    soap->fparsehdr = parseHeaderLine;
    soap->fprepareinitrecv = startReceive;
    soap->fpreparefinalrecv = finishReceive;
    soap->fpoll = poll;
    return SOAP_OK;
}

}  // namespace

void installReplyLimit(struct soap* context)
{
    if (!limitOf(context))
        soap_register_plugin_arg(context, createPlugin, nullptr);
}

void setReplyByteLimit(struct soap* context, unsigned long long bytes)
{
    if (ReplyLimit* limit = limitOf(context))
        limit->byteLimit = bytes;
}

std::string replyRefusal(const struct soap* context)
{
    const ReplyLimit* limit = limitOf(context);
    return limit ? limit->refusal : std::string();
}

}  // namespace ZR
