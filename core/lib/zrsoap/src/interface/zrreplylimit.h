// SPDX-License-Identifier: GPL-2.0-or-later
// Keeps a client context from reading past the end of a reply. Module
// connections have no time-outs, so any read beyond what the peer announced
// would wait for as long as the peer keeps the connection open.
#pragma once

#include <string>

struct soap;

namespace ZR {

// Wraps the receive callbacks of `context` (whatever transport is installed
// at the time) so that:
// - a reply body framed by Content-Length is never read past its announced
//   length: the receive callback reports the end of input there, and an
//   incomplete message fails at once instead of waiting;
// - a kept-alive connection carries the next request only when the previous
//   reply was read to its end; otherwise the rest of that reply would be
//   taken for the next one, so the connection is reopened.
// Chunked replies are framed by gSOAP itself. Installing twice does nothing.
void installReplyLimit(struct soap* context);

// The most bytes one reply may take on the wire, header and attachments
// included (4 GiB unless set). Past it the reply ends as if the peer had
// stopped, and replyRefusal() says so.
void setReplyByteLimit(struct soap* context, unsigned long long bytes);

// Why the limit ended the last reply early: its size went past the limit,
// its chunked framing is broken; empty when it did not. Kept until the next
// reply starts.
std::string replyRefusal(const struct soap* context);

}  // namespace ZR
