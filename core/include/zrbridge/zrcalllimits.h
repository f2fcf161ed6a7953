// SPDX-License-Identifier: GPL-2.0-or-later
// What bounds one remote call: the caller's time limits and the host's
// interrupt request. The gateways fill these in; the core never asks the
// host application anything itself.
#pragma once

#include <functional>

namespace ZR {

// In seconds; 0 (or less) means no limit.
struct ZRCallLimits {
    // The whole call, from connecting to the last byte of the reply.
    double timeout = 0;
    // Each TCP connect, and the whole look-up at the broker.
    double connectTimeout = 0;
};

// Asked at least every 50 ms while a call waits for the network; true ends
// the call (the user pressed Ctrl-C). Must be cheap and must not throw.
typedef std::function<bool()> ZRInterruptCheck;

}  // namespace ZR
