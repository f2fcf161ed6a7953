// SPDX-License-Identifier: GPL-2.0-or-later
// MemoryTransport: a gSOAP transport that never touches a socket. What the
// context sends is captured; what it receives is replayed from canned bytes,
// optionally in small pieces, so that tests and fuzz targets can drive the
// generated stubs (or soap_serve) byte for byte and without a peer.
#pragma once

#include <cstddef>
#include <deque>
#include <string>

#include "stdsoap2.h"

namespace ZRTest {

class MemoryTransport {
public:
    // A client context receives reply k after it has sent its k-th message,
    // as from a peer that answers requests; a server context receives its
    // first "reply" (a request) before it has sent anything.
    enum class Role { Client, Server };

    // Installs the transport on `soap` (which must outlive it); the
    // destructor gives the context gSOAP's own callbacks back.
    explicit MemoryTransport(struct soap* soap, Role role = Role::Client);
    ~MemoryTransport();
    MemoryTransport(const MemoryTransport&) = delete;
    MemoryTransport& operator=(const MemoryTransport&) = delete;

    // Queues the next reply. With a `pieceSize` above 0 each receive gets at
    // most that many bytes of it, so tags and records split across reads.
    void addReply(std::string bytes, std::size_t pieceSize = 0);

    // Everything sent since the previous call.
    std::string takeSent();

    int opens() const { return opens_; }
    int closes() const { return closes_; }
    // Receives attempted with nothing left to deliver. Such a receive
    // stands for a peer that closed the connection (or a receive time-out):
    // the connection then polls as closed until it is opened again.
    int starvedReads() const { return starvedReads_; }
    std::size_t unreadBytes() const;

private:
    struct Piece {
        std::string bytes;
        std::size_t position;
        std::size_t pieceSize;
    };

    static MemoryTransport* of(struct soap* soap);
    static SOAP_SOCKET open(struct soap* soap, const char* endpoint, const char* host, int port);
    static int close(struct soap* soap);
    static int send(struct soap* soap, const char* data, std::size_t size);
    static std::size_t receive(struct soap* soap, char* data, std::size_t size);
    static int poll(struct soap* soap);
    static int shutdownSocket(struct soap* soap, SOAP_SOCKET socket, int how);
    static int closeSocket(struct soap* soap, SOAP_SOCKET socket);

    void releaseDueReplies();

    struct soap* soap_;
    Role role_;
    std::deque<Piece> queued_;
    std::deque<Piece> released_;
    std::string sent_;
    int messagesSent_ = 0;
    int repliesReleased_ = 0;
    bool lastWasSend_ = false;
    int opens_ = 0;
    int closes_ = 0;
    int starvedReads_ = 0;
    bool peerClosed_ = false;

    // gSOAP's callbacks, given back by the destructor.
    SOAP_SOCKET (*savedOpen_)(struct soap*, const char*, const char*, int);
    int (*savedClose_)(struct soap*);
    int (*savedSend_)(struct soap*, const char*, std::size_t);
    std::size_t (*savedReceive_)(struct soap*, char*, std::size_t);
    int (*savedPoll_)(struct soap*);
    int (*savedShutdownSocket_)(struct soap*, SOAP_SOCKET, int);
    int (*savedCloseSocket_)(struct soap*, SOAP_SOCKET);
};

}  // namespace ZRTest
