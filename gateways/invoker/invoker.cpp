// The invoker MEX module: invoker(handle, methodName, parameters[, options])
// calls one method of the module behind a proxy that connector made and
// returns the converted result. Options (a struct) may limit the call in
// time and ask for numeric array results; the user's Ctrl-C ends it.
#include <cstdint>
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

// One element per cell, column-major; no cells leave the list Invalid.
ZR::ZRValue parametersOf(const mxArray* cells)
{
    if (!mxIsCell(cells))
        throw ZR::ZRMxArgumentError("The parameters must be a cell array");
    ZR::ZRValue parameters;
    const std::size_t count = mxGetNumberOfElements(cells);
    if (count == 0)
        return parameters;
    if (count > static_cast<std::size_t>(INT32_MAX))
        throw ZR::ZRMxArgumentError("Too many parameters");
    // Sized first and filled by moving, so a large parameter is not copied.
    parameters.resizeArray(static_cast<int>(count));
    for (std::size_t i = 0; i < count; ++i)
        parameters[static_cast<int>(i)] = ZR::mxArrayToZRValue(mxGetCell(cells, i));
    return parameters;
}

void invoke(mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    if (nrhs < 3)
        throw ZR::ZRMxArgumentError(ZR::identifier::usage, kUsage);
    // The host's own note on a handle of the wrong class, before the error
    // that every unusable handle gets.
    if (!mxIsUint32(prhs[0]))
        mexPrintf("wrong pointertype!\n");
    ZR::ZRProxyRemote& proxy = ZR::proxyOf(prhs[0]);
    const std::string methodName = ZR::mxArrayText(prhs[1], "The method name must be a char array");
    const ZR::ZRValue parameters = parametersOf(prhs[2]);
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
