// SPDX-License-Identifier: GPL-2.0-or-later
// MemoryTransport: gSOAP's transport callbacks (open, close, send, receive,
// poll) replaced by a byte log and a queue of canned replies. The transport
// finds itself through a gSOAP plugin entry, leaving soap->user to the code
// under test.
#include "memorytransport.h"

#include <algorithm>
#include <cstring>

namespace ZRTest {

namespace {

const char kPluginId[] = "ZRTest-MemoryTransport";
// Never a real descriptor: nothing may treat it as one.
const SOAP_SOCKET kFakeSocket = 1 << 30;

int createPlugin(struct soap* soap, struct soap_plugin* plugin, void* transport)
{
    (void)soap;
    plugin->id = kPluginId;
    plugin->data = transport;
    plugin->fcopy = nullptr;
    plugin->fdelete = [](struct soap*, struct soap_plugin*) {};
    return SOAP_OK;
}

struct soap_plugin* findPlugin(struct soap* soap)
{
    for (struct soap_plugin* plugin = soap->plugins; plugin; plugin = plugin->next)
        if (plugin->id == kPluginId)
            return plugin;
    return nullptr;
}

}  // namespace

MemoryTransport::MemoryTransport(struct soap* soap, Role role)
    : soap_(soap),
      role_(role),
      savedOpen_(soap->fopen),
      savedClose_(soap->fclose),
      savedSend_(soap->fsend),
      savedReceive_(soap->frecv),
      savedPoll_(soap->fpoll),
      savedShutdownSocket_(soap->fshutdownsocket),
      savedCloseSocket_(soap->fclosesocket)
{
    if (struct soap_plugin* plugin = findPlugin(soap))
        plugin->data = this;
    else
        soap_register_plugin_arg(soap, createPlugin, this);
    soap->fopen = open;
    soap->fclose = close;
    soap->fsend = send;
    soap->frecv = receive;
    soap->fpoll = poll;
    soap->fshutdownsocket = shutdownSocket;
    soap->fclosesocket = closeSocket;
    if (role == Role::Server)
        soap->socket = kFakeSocket;
}

MemoryTransport::~MemoryTransport()
{
    if (struct soap_plugin* plugin = findPlugin(soap_))
        plugin->data = nullptr;
    if (soap_->socket == kFakeSocket)
        soap_->socket = SOAP_INVALID_SOCKET;
    soap_->fopen = savedOpen_;
    soap_->fclose = savedClose_;
    soap_->fsend = savedSend_;
    soap_->frecv = savedReceive_;
    soap_->fpoll = savedPoll_;
    soap_->fshutdownsocket = savedShutdownSocket_;
    soap_->fclosesocket = savedCloseSocket_;
}

void MemoryTransport::addReply(std::string bytes, std::size_t pieceSize)
{
    queued_.push_back(Piece{std::move(bytes), 0, pieceSize});
}

std::string MemoryTransport::takeSent()
{
    std::string sent;
    sent.swap(sent_);
    return sent;
}

std::size_t MemoryTransport::unreadBytes() const
{
    std::size_t unread = 0;
    for (const Piece& piece : released_)
        unread += piece.bytes.size() - piece.position;
    return unread;
}

MemoryTransport* MemoryTransport::of(struct soap* soap)
{
    struct soap_plugin* plugin = findPlugin(soap);
    return plugin ? static_cast<MemoryTransport*>(plugin->data) : nullptr;
}

// A reply is on the wire once the message it answers has been sent.
void MemoryTransport::releaseDueReplies()
{
    const int due = messagesSent_ + (role_ == Role::Server ? 1 : 0);
    while (repliesReleased_ < due && !queued_.empty()) {
        released_.push_back(std::move(queued_.front()));
        queued_.pop_front();
        ++repliesReleased_;
    }
}

SOAP_SOCKET MemoryTransport::open(struct soap* soap, const char* endpoint, const char* host, int port)
{
    (void)endpoint;
    (void)host;
    (void)port;
    MemoryTransport* transport = of(soap);
    ++transport->opens_;
    transport->peerClosed_ = false;
    soap->socket = kFakeSocket;
    return kFakeSocket;
}

int MemoryTransport::close(struct soap* soap)
{
    MemoryTransport* transport = of(soap);
    ++transport->closes_;
    // What the peer had sent on the closed connection is gone with it.
    transport->released_.clear();
    soap->socket = SOAP_INVALID_SOCKET;
    return SOAP_OK;
}

int MemoryTransport::send(struct soap* soap, const char* data, std::size_t size)
{
    MemoryTransport* transport = of(soap);
    if (!transport->lastWasSend_) {
        transport->lastWasSend_ = true;
        ++transport->messagesSent_;
    }
    transport->sent_.append(data, size);
    return SOAP_OK;
}

std::size_t MemoryTransport::receive(struct soap* soap, char* data, std::size_t size)
{
    MemoryTransport* transport = of(soap);
    transport->lastWasSend_ = false;
    transport->releaseDueReplies();
    while (!transport->released_.empty() &&
           transport->released_.front().position == transport->released_.front().bytes.size())
        transport->released_.pop_front();
    if (transport->released_.empty() || transport->peerClosed_) {
        ++transport->starvedReads_;
        // A server's peer is the next request's sender: nothing to reopen.
        transport->peerClosed_ = transport->role_ == Role::Client;
        return 0;
    }
    Piece& piece = transport->released_.front();
    std::size_t count = std::min(size, piece.bytes.size() - piece.position);
    if (piece.pieceSize > 0)
        count = std::min(count, piece.pieceSize);
    std::memcpy(data, piece.bytes.data() + piece.position, count);
    piece.position += count;
    return count;
}

int MemoryTransport::poll(struct soap* soap)
{
    return of(soap)->peerClosed_ ? SOAP_EOF : SOAP_OK;
}

int MemoryTransport::shutdownSocket(struct soap* soap, SOAP_SOCKET socket, int how)
{
    (void)soap;
    (void)socket;
    (void)how;
    return SOAP_OK;
}

int MemoryTransport::closeSocket(struct soap* soap, SOAP_SOCKET socket)
{
    (void)soap;
    (void)socket;
    return SOAP_OK;
}

}  // namespace ZRTest
