// The invoker MEX module: invoker(handle, methodName, parameters[, options])
// calls one method of the module behind a proxy that connector made and
// returns the converted result. Options (a struct) may limit the call in
// time and ask for numeric array results; the user's Ctrl-C ends it.
#include <string>

#include "mex.h"
#include "zrcalloptions.h"
#include "zrhostinterrupt.h"
#include "zrmxconvert.h"
#include "zrmxfailure.h"
#include "zrmxhandle.h"
#include "zrproxyremote.h"

namespace {

const char kUsage[] = "Usage: proxy(methodname[, parameters])";

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

}  // namespace

void mexFunction(int /*nlhs*/, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    // Every C++ object of the call is gone once failureOf returns; the
    // error is raised here, outside any handler that could swallow it.
    if (const ZR::ZRMxFailure failure = ZR::failureOf([&] { invoke(plhs, nrhs, prhs); }))
        ZR::raise(failure);
}
