// The options struct that connector and invoker take as an optional last
// argument: the fields Timeout and ConnectTimeout, in seconds.
#pragma once

#include "mex.h"
#include "zrcalllimits.h"

namespace ZR {

// Overwrites the limits named in `options` (a struct) and leaves the others
// as they are. [] and Inf mean no limit; anything but a positive real
// scalar is refused with ZRMxArgumentError. Fields of other names are left
// to whoever knows them.
void readCallLimits(const mxArray* options, ZRCallLimits& limits);

}  // namespace ZR
