// SPDX-License-Identifier: GPL-2.0-or-later
// Bounds on what gSOAP's own XML parser is handed: every piece of a reply
// passes here before any parser sees it. gSOAP compares each attribute and
// namespace declaration with all earlier ones, so an element with 100,000 of
// them costs minutes; such a reply is refused before it is parsed. Between
// pieces the caller's stop check (deadline, interrupt) is asked, so a long
// parse ends as a long wait does. A second `return` element, which gSOAP
// would skip with its value, refuses the reply too. The value itself is read
// by the value reader, which bounds what it reads; the guard stands aside
// for it.
#pragma once

#include <cstddef>

struct soap;

namespace ZR {

// More attributes (namespace declarations included) on one element refuse
// the reply.
const std::size_t kMaxAttributesPerElement = 256;
// More namespace declarations in scope at once refuse the reply.
const std::size_t kMaxNamespacesInScope = 1024;

// Asked before each piece of a reply is parsed; true ends the reading (the
// check records why).
typedef bool (*ZRReadStopCheck)(struct soap* context);

// Wraps the context's receive hooks (whatever is installed at the time) so
// that each reply body's markup is counted as it arrives and `stop` is asked
// for every piece. A refused reply fails with SOAP_SYNTAX_ERROR and a fault
// string that says why; a stop with SOAP_EOF. Installing twice does nothing.
void installReplyGuard(struct soap* context, ZRReadStopCheck stop);

// The value reader reads the value at gSOAP's read index with bounds of its
// own; the guard need not scan it. `insideValue`: gSOAP has already read
// the value's start tag (it peeked at a non-empty element).
void replyValueBegins(struct soap* context, bool insideValue);
// The value reader stopped at gSOAP's read index, after the value or before
// an end tag (`insideEndTag`: just after its "</"); the scan goes on from
// there. SOAP_OK or the refusal of what follows in the buffer.
int replyValueEnds(struct soap* context, bool insideEndTag);
// The value reader failed: the reply is not scanned further.
void replyValueAbandoned(struct soap* context);

}  // namespace ZR
