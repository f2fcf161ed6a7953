// The invoker MEX module: invoker(handle, methodName, parameters[, options])
// calls one method of the module behind a proxy that connector made and
// returns the converted result. Options (a struct) may limit the call in
// time and ask for numeric array results; the user's Ctrl-C ends it.
#include <cstdint>
#include <string>

#include "mex.h"
#include "zrcalloptions.h"
#include "zrhostinterrupt.h"
#include "zrinvokerfutures.h"
#include "zrmxconvert.h"
#include "zrproxyregistry.h"
#include "zrproxyremote.h"

namespace {

const char kUsage[] = "Usage: proxy(methodname[, parameters])";
const char kNullObject[] = "Object is NULL !\n";
const char kAsyncUsage[] = "Usage: invoker('async', handle, methodname, parameters[, options])";

// The handle is a uint32 key into the proxy registry; only its first
// element counts. An unknown key is answered like the key 0.
ZR::ZRProxyRemote* handleToProxy(const mxArray* handle)
{
    if (!mxIsUint32(handle)) {
        mexPrintf("wrong pointertype!\n");
        throw ZR::ZRMxArgumentError(ZR::identifier::invalidHandle, kNullObject);
    }
    if (mxGetNumberOfElements(handle) == 0)
        throw ZR::ZRMxArgumentError(ZR::identifier::invalidHandle, kNullObject);
    const std::uint32_t key = *static_cast<const std::uint32_t*>(mxGetData(handle));
    ZR::ZRProxyRemote* proxy = ZR::ZRProxyRegistry::find(key);
    if (!proxy)
        throw ZR::ZRMxArgumentError(ZR::identifier::invalidHandle, kNullObject);
    return proxy;
}

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
    ZR::ZRProxyRemote* proxy = handleToProxy(prhs[0]);
    const std::string methodName = ZR::mxArrayText(prhs[1], "The method name must be a char array");
    const ZR::ZRValue parameters = parametersOf(prhs[2]);
    const ZR::ZRArrayResults arrayResults = ZR::arrayResultsOption(nrhs > 3 ? prhs[3] : nullptr);
    // The proxy's own limits unless the options say otherwise.
    ZR::ZRCallLimits limits = proxy->limits();
    if (nrhs >= 4)
        ZR::readCallLimits(prhs[3], limits);
    ZR::ZRValue result;
    proxy->call(methodName, parameters, result, limits, ZR::hostInterruptRequested);
    plhs[0] = ZR::zrValueToMxArray(result, arrayResults);
}

// The Connections field of the options: how many connections the proxy's
// background calls may use; 0 when absent.
std::size_t connectionsOption(const mxArray* options)
{
    const mxArray* field = mxIsStruct(options) ? mxGetField(options, 0, "Connections") : nullptr;
    if (!field || mxIsEmpty(field))
        return 0;
    const double count = mxIsNumeric(field) && !mxIsComplex(field) && mxGetNumberOfElements(field) == 1
                             ? mxGetScalar(field)
                             : 0;
    if (!(count >= 1 && count <= 1024) || count != static_cast<double>(static_cast<int>(count)))
        throw ZR::ZRMxArgumentError("Connections must be a whole number from 1 to 1024");
    return static_cast<std::size_t>(count);
}

// invoker('async', handle, methodName, parameters[, options]): converted
// here and now, started in the background; the future's key comes back.
void startInBackground(mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    if (nrhs < 4)
        throw ZR::ZRMxArgumentError(ZR::identifier::usage, kAsyncUsage);
    ZR::ZRProxyRemote* proxy = handleToProxy(prhs[1]);
    const std::string methodName = ZR::mxArrayText(prhs[2], "The method name must be a char array");
    ZR::ZRValue parameters = parametersOf(prhs[3]);
    const mxArray* options = nrhs > 4 ? prhs[4] : nullptr;
    const ZR::ZRArrayResults arrayResults = ZR::arrayResultsOption(options);
    ZR::ZRCallLimits limits = proxy->limits();
    if (options) {
        ZR::readCallLimits(options, limits);
        if (const std::size_t connections = connectionsOption(options))
            proxy->setConnections(connections);
    }
    plhs[0] = ZR::holdFuture(proxy->start(methodName, std::move(parameters), limits), arrayResults);
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
