// SPDX-License-Identifier: GPL-2.0-or-later
// A tap on the bytes of a client context: a gSOAP plug-in that shows every
// byte the context sends and receives (after the transport and the reply
// limit have had them) to an object of the layer above. While the tap is
// not listening, bytes pass after one flag test.
#pragma once

#include <cstddef>
#include <string>

struct soap;

namespace ZR {

class ZRByteTap {
public:
    virtual ~ZRByteTap() = default;

    // The bytes of a request as they go out on `context`.
    virtual void sent(struct soap* context, const char* data, std::size_t size) = 0;
    // The bytes of a reply as they arrive.
    virtual void received(const char* data, std::size_t size) = 0;
    // The tap of a copy of the context (soap_copy).
    virtual ZRByteTap* copy() const = 0;

    // Whether sent() and received() are called now.
    bool listening = false;
};

// Wraps the send and receive callbacks of `context`, whatever transport and
// limits are installed at the time, and hands them to `tap`, which the
// context owns from then on. Does nothing (and deletes `tap`) when a tap is
// installed already.
void installByteTap(struct soap* context, ZRByteTap* tap);
// The context's tap; null when none was installed.
ZRByteTap* byteTapOf(struct soap* context);

// The numeric address of the peer `context` is connected to; empty when it
// has no connection or the address cannot be read.
std::string connectedPeerAddress(struct soap* context);

}  // namespace ZR
