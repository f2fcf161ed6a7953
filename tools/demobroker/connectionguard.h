// SPDX-License-Identifier: GPL-2.0-or-later
// The guard of one accepted connection: a gSOAP plug-in that gives each
// request and each reply a time limit of its own (whole messages, not single
// reads or writes, so that a trickle of bytes cannot keep a slot), and holds
// the share of the reply budget that the current reply uses.
#pragma once

#include <stdsoap2.h>

#include "replybudget.h"

namespace ZRDemo {

// Installs the guard on `soap`, whose socket is an accepted connection. A
// request must arrive whole within `seconds` of the broker starting to wait
// for it, and a reply must be taken whole within `seconds` of its first
// byte; otherwise the connection is closed.
bool guardConnection(struct soap* soap, double seconds, ReplyBudget& budget);

// The share of the budget held for the reply being built on `soap`; given
// back when the next request starts or the connection ends.
ReplyTicket& replyTicketOf(struct soap* soap);

}  // namespace ZRDemo
