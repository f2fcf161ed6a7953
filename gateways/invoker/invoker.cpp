// SPDX-License-Identifier: GPL-2.0-or-later
// The invoker MEX module: invoker(handle, methodName, parameters[, options])
// calls one method of the module behind a proxy that connector made and
// returns the converted result. Options (a struct) may limit the call in
// time and ask for numeric array results; the user's Ctrl-C ends it.
#include <string>

#include "mex.h"
#include "zrcalloptions.h"
#include "zrhostinterrupt.h"
#include "zrinvokerfutures.h"
#include "zrmxconvert.h"
#include "zrmxfailure.h"
#include "zrmxhandle.h"
#include "zrproxyremote.h"

namespace {

const char kUsage[] = "Usage: proxy(methodname[, parameters])";
const char kAsyncUsage[] = "Usage: invoker('async', handle, methodname[, parameters][, options])";

void invoke(mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    if (nrhs < 3)
        throw ZR::ZRMxArgumentError(ZR::identifier::usage, kUsage);
    // The host's own note on a handle of the wrong class, before the error
    // that every unusable handle gets.
    if (!mxIsUint32(prhs[0]))
        mexPrintf("wrong pointertype!\n");
    ZR::ZRProxyRemote& proxy = ZR::proxyOf(prhs[0]);
    const std::string methodName = ZR::mxArrayName(prhs[1], "The method name");
    const ZR::ZRValue parameters = ZR::mxArrayToParameters(prhs[2]);
    // The proxy's own limits unless the options say otherwise.
    ZR::ZRCallOptions defaults;
    defaults.limits = proxy.limits();
    const ZR::ZRCallOptions options = ZR::callOptions(nrhs > 3 ? prhs[3] : nullptr, defaults);
    ZR::ZRValue result;
    proxy.call(methodName, parameters, result, options.limits, ZR::hostInterruptRequested);
    plhs[0] = ZR::zrValueToMxArray(result, options.arrayResults);
}

// invoker('async', handle, methodName[, parameters][, options]): converted
// here and now, started in the background; the future's key comes back.
// Parameters are a cell array, so a struct in their place is the options
// of a call without parameters (ZRProxy passes p.async's arguments on as
// they came).
void startInBackground(mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    if (nrhs < 3 || nrhs > 5)
        throw ZR::ZRMxArgumentError(ZR::identifier::usage, kAsyncUsage);
    const bool withParameters = nrhs == 5 || (nrhs == 4 && !mxIsStruct(prhs[3]));
    ZR::ZRProxyRemote& proxy = ZR::proxyOf(prhs[1]);
    const std::string methodName = ZR::mxArrayName(prhs[2], "The method name");
    ZR::ZRValue parameters = withParameters ? ZR::mxArrayToParameters(prhs[3]) : ZR::ZRValue();
    const mxArray* given = nrhs > (withParameters ? 4 : 3) ? prhs[nrhs - 1] : nullptr;
    ZR::ZRCallOptions defaults;
    defaults.limits = proxy.limits();
    const ZR::ZRCallOptions options = ZR::callOptions(given, defaults);
    // ZRProxy passes its Connections with every call: only a change reaches
    // the workers.
    if (options.connections && options.connections != proxy.connections())
        proxy.setConnections(options.connections);
    plhs[0] = ZR::holdFuture(proxy.start(methodName, std::move(parameters), options.limits),
                             options.arrayResults, methodName);
}

bool isAsyncCommand(int nrhs, const mxArray* prhs[])
{
    if (nrhs < 1 || !mxIsChar(prhs[0]) || mxGetNumberOfElements(prhs[0]) != 5)
        return false;
    char text[6] = {0};
    return mxGetString(prhs[0], text, sizeof text) == 0 && std::string(text) == "async";
}

}  // namespace

void mexFunction(int /*nlhs*/, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    // Every C++ object of the call is gone once failureOf returns; the
    // error is raised here, outside any handler that could swallow it.
    if (const ZR::ZRMxFailure failure = ZR::failureOf([&] {
            if (isAsyncCommand(nrhs, prhs))
                startInBackground(plhs, nrhs, prhs);
            else if (nrhs >= 1 && ZR::isFutureCommand(prhs[0]))
                ZR::runFutureCommand(plhs, nrhs, prhs);
            else
                invoke(plhs, nrhs, prhs);
        }))
        ZR::raise(failure);
}
