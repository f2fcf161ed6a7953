// The options struct that connector and invoker take as an optional last
// argument: Timeout and ConnectTimeout in seconds, and ArrayResults. Every
// rule for these fields is here, so both gateways read them alike.
#pragma once

#include "mex.h"
#include "zrcalllimits.h"
#include "zrmxconvert.h"

namespace ZR {

struct ZRCallOptions {
    ZRCallLimits limits;
    ZRArrayResults arrayResults = ZRArrayResults::Cell;
};

// `defaults` with what `options` sets. `options` null or [] means no
// options; otherwise it must be a 1x1 struct ("The options must be a
// struct"). Timeout and ConnectTimeout take a positive real scalar, or []
// or Inf for no limit; ArrayResults 'cell' or 'numeric', in any case. A
// value outside these is refused with ZRMxArgumentError; fields of other
// names are left to whoever knows them.
ZRCallOptions callOptions(const mxArray* options, const ZRCallOptions& defaults);

// The normal form of `options` as a new 1x1 struct, owned by the caller:
// Timeout and ConnectTimeout in seconds or [] for no limit, ArrayResults
// 'cell' or 'numeric'. What ZRProxy keeps, so that the class and the
// gateways follow one set of rules.
mxArray* callOptionsArray(const ZRCallOptions& options);

}  // namespace ZR
