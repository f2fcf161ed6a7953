// The connector MEX module: connector(moduleName, host, port) looks the
// module up at the broker and returns a handle, a 1x1 uint32 key into the
// registry of live proxies that invoker calls through.
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>

#include "mex.h"
#include "zrmxconvert.h"
#include "zrproxyregistry.h"
#include "zrproxyremote.h"

namespace {

const char kUsage[] = "Usage: proxy = ZRProxy('moduleName','ip',port)";
const char kBadPort[] = "The port must be a real number from 0 to 65535";

// The broker port, truncated toward zero (5000.9 is port 5000).
int portOf(const mxArray* array)
{
    if (!mxIsNumeric(array) || mxIsEmpty(array) || mxIsComplex(array))
        throw ZR::ZRMxArgumentError(kBadPort);
    const double port = std::trunc(mxGetScalar(array));
    if (!(port >= 0 && port <= 65535))
        throw ZR::ZRMxArgumentError(kBadPort);
    return static_cast<int>(port);
}

void connect(mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    if (nrhs < 3)
        throw ZR::ZRMxArgumentError(ZR::identifier::usage, kUsage);
    const std::string moduleName = ZR::mxArrayText(prhs[0], "The module name must be a char array");
    const std::string host = ZR::mxArrayText(prhs[1], "The host must be a char array");
    const int port = portOf(prhs[2]);

    const std::uint32_t key =
        ZR::ZRProxyRegistry::add(std::make_unique<ZR::ZRProxyRemote>(moduleName, host, port, 0, 0));
    // The registry and the gSOAP runtime that the proxies' connections use
    // live in libraries this module loaded: keep it in memory for as long
    // as a handle may be used, that is for the rest of the process.
    if (!mexIsLocked())
        mexLock();

    plhs[0] = mxCreateNumericMatrix(1, 1, mxUINT32_CLASS, mxREAL);
    *static_cast<std::uint32_t*>(mxGetData(plhs[0])) = key;
}

}  // namespace

void mexFunction(int /*nlhs*/, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    // Every C++ object of the call is gone once failureOf returns; the
    // error is raised here, outside any handler that could swallow it.
    if (const ZR::ZRMxFailure failure = ZR::failureOf([&] { connect(plhs, nrhs, prhs); }))
        ZR::raise(failure);
}
