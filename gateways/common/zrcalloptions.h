// SPDX-License-Identifier: GPL-2.0-or-later
// The options struct that connector and invoker take as an optional last
// argument: Timeout and ConnectTimeout in seconds, ArrayResults, and the
// number of exchanges a proxy keeps for its History. Every
// rule for these fields is here, so both gateways read them alike.
#pragma once

#include <cstddef>

#include "mex.h"
#include "zrcalllimits.h"
#include "zrmxconvert.h"

namespace ZR {

struct ZRCallOptions {
    ZRCallLimits limits;
    ZRArrayResults arrayResults = ZRArrayResults::Cell;
    // Exchanges a proxy keeps (connector only; invoker ignores it).
    std::size_t history = 0;
    // Connections the proxy's background calls use at most (invoker's
    // 'async' only); 0 leaves the proxy's count as it is.
    std::size_t connections = 0;
};

// The most exchanges a proxy keeps: each may hold 2 x 64 KB of text.
const std::size_t kMostHistory = 10000;

// A History value: a whole number from 0 to kMostHistory, or [] for 0.
std::size_t historySize(const mxArray* value);

// `defaults` with what `options` sets. `options` null or [] means no
// options; otherwise it must be a 1x1 struct ("The options must be a
// struct"). Timeout and ConnectTimeout take a positive real scalar, or []
// or Inf for no limit; ArrayResults 'cell' or 'numeric', in any case;
// History as historySize() takes it; Connections a whole number from 1 to
// 1024 (not part of the normal form: the proxy keeps it). A
// value outside these is refused with ZRMxArgumentError; fields of other
// names are left to whoever knows them.
ZRCallOptions callOptions(const mxArray* options, const ZRCallOptions& defaults);

// The normal form of `options` as a new 1x1 struct, owned by the caller:
// Timeout and ConnectTimeout in seconds or [] for no limit, ArrayResults
// 'cell' or 'numeric', History a number, and Connections when it was
// given. What ZRProxy keeps, so that the class and the gateways follow one
// set of rules.
mxArray* callOptionsArray(const ZRCallOptions& options);

}  // namespace ZR
