// SPDX-License-Identifier: GPL-2.0-or-later
// invoker's calls in the background: invoker('async', h, method, params[,
// options]) starts one and returns its key (a uint32); 'wait', 'next',
// 'state', 'fetch', 'error', 'method', 'cancel', 'release' and 'count'
// work on keys.
// Everything here runs on the interpreter thread; the calls themselves run
// on the proxies' workers, which never touch a MATLAB value.
#pragma once

#include <string>

#include "mex.h"
#include "zrmxconvert.h"
#include "zrproxyremote.h"

namespace ZR {

// Keeps `future`, a call of `methodName`, under a new key and returns the
// key (a 1x1 uint32); its result will be converted with `arrayResults`.
mxArray* holdFuture(const ZRCallFuture& future, ZRArrayResults arrayResults, const std::string& methodName);

// Whether `command` (invoker's first argument) names one of the commands
// on keys above; anything else is left to the other forms.
bool isFutureCommand(const mxArray* command);

// Runs the command in prhs[0] with the arguments after it.
void runFutureCommand(mxArray* plhs[], int nrhs, const mxArray* prhs[]);

}  // namespace ZR
