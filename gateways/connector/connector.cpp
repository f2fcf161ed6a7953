// SPDX-License-Identifier: GPL-2.0-or-later
// The connector MEX module: connector(moduleName, host, port[, options])
// looks the module up at the broker and returns a handle, a 1x1 uint32 key
// into the registry of live proxies that invoker calls through. It also
// releases proxies and answers what their owner needs to know:
//   connector('release', h)  closes the proxy's connection and forgets the
//                            key; true when there was such a proxy
//   connector('count')       the number of live proxies
//   connector('fault')       the fault texts of the last failed look-up
//   connector('fault', h)    the fault texts of the proxy's last failed call
//   connector('options', s)  the options struct s checked and in its normal
//                            form, as ZRProxy keeps it
//   connector('history', h)  the proxy's last exchanges, oldest first, as an
//                            Nx1 struct array (Method, Started, Seconds,
//                            Request, Reply, Outcome)
//   connector('history', h, n)  keep the last n exchanges from now on
//   connector('history')     the exchanges of the last failed look-up
//   connector('trace')       the trace file in use, or ''
//   connector('trace', file) append every exchange of the process to file;
//                            connector('trace', 'off') stops
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "mex.h"
#include "zrcalloptions.h"
#include "zrexchangehistory.h"
#include "zrhostinterrupt.h"
#include "zrhostname.h"
#include "zrmxconvert.h"
#include "zrmxfailure.h"
#include "zrmxhandle.h"
#include "zrproxyregistry.h"
#include "zrproxyremote.h"
#include "zrtrace.h"

namespace {

const char kUsage[] = "Usage: proxy = ZRProxy('moduleName','ip',port)";
const char kBadPort[] = "The port must be a real number from 0 to 65535";
const char kBadHost[] = "The host must be a host name or an address, without blanks";

// What the broker said when the last look-up failed, kept for the caller
// that asks after catching the error (there is no proxy to ask).
ZR::ZRFaultTexts lastLookUpFault;
// The exchanges of the last failed look-up, for the same caller.
std::shared_ptr<ZR::ZRExchangeHistory> lastLookUpHistory;

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

mxArray* faultStruct(const ZR::ZRFaultTexts& fault)
{
    const char* fields[] = {"faultstring", "detail"};
    mxArray* result = mxCreateStructMatrix(1, 1, 2, fields);
    mxSetField(result, 0, "faultstring", mxCreateString(fault.faultString.c_str()));
    mxSetField(result, 0, "detail", mxCreateString(fault.detail.c_str()));
    return result;
}

// A command instead of a module name: true when one was carried out.
bool command(mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    if (nrhs < 1 || nrhs > 2 || !mxIsChar(prhs[0]))
        return false;
    const std::string name = ZR::mxArrayText(prhs[0], "");
    if (name == "release" && nrhs == 2) {
        plhs[0] = mxCreateLogicalScalar(ZR::ZRProxyRegistry::remove(ZR::handleKey(prhs[1])));
    } else if (name == "count" && nrhs == 1) {
        plhs[0] = mxCreateDoubleScalar(static_cast<double>(ZR::ZRProxyRegistry::size()));
    } else if (name == "fault" && nrhs == 1) {
        plhs[0] = faultStruct(lastLookUpFault);
    } else if (name == "options" && nrhs == 2) {
        plhs[0] = ZR::callOptionsArray(ZR::callOptions(prhs[1], ZR::ZRCallOptions()));
    } else if (name == "fault" && nrhs == 2) {
        plhs[0] = faultStruct(ZR::proxyOf(prhs[1]).lastFault());
    } else {
        return false;
    }
    return true;
}

mxArray* historyStruct(const std::vector<ZR::ZRExchangeRecord>& records)
{
    const char* fields[] = {"Method", "Started", "Seconds", "Request", "Reply", "Outcome"};
    mxArray* result = mxCreateStructMatrix(records.size(), 1, 6, fields);
    for (std::size_t i = 0; i < records.size(); ++i) {
        const ZR::ZRExchangeRecord& record = records[i];
        // Texts whole, zero bytes included, as call results are made.
        ZR::ZRValue method(record.method), request(record.request), reply(record.reply),
            outcome(record.outcome);
        mxSetField(result, i, "Method", ZR::zrValueToMxArray(method));
        mxSetField(result, i, "Started", mxCreateDoubleScalar(record.started));
        mxSetField(result, i, "Seconds", mxCreateDoubleScalar(record.seconds));
        mxSetField(result, i, "Request", ZR::zrValueToMxArray(request));
        mxSetField(result, i, "Reply", ZR::zrValueToMxArray(reply));
        mxSetField(result, i, "Outcome", ZR::zrValueToMxArray(outcome));
    }
    return result;
}

// The commands that show what went over the wire: true when one was
// carried out.
bool recordingCommand(mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    if (nrhs < 1 || nrhs > 3 || !mxIsChar(prhs[0]))
        return false;
    const std::string name = ZR::mxArrayText(prhs[0], "");
    // A module called "history" is looked up with a host, not a handle.
    if (nrhs >= 2 && name == "history" && !mxIsUint32(prhs[1]))
        return false;
    if (name == "history" && nrhs == 1) {
        plhs[0] = historyStruct(lastLookUpHistory ? lastLookUpHistory->records()
                                                  : std::vector<ZR::ZRExchangeRecord>());
    } else if (name == "history") {
        ZR::ZRProxyRemote& proxy = ZR::proxyOf(prhs[1]);
        if (nrhs == 3)
            proxy.setHistorySize(ZR::historySize(prhs[2]));
        else
            plhs[0] = historyStruct(proxy.history());
    } else if (name == "trace" && nrhs == 1) {
        plhs[0] = mxCreateString(ZR::traceFile().c_str());
    } else if (name == "trace" && nrhs == 2) {
        const std::string file = ZR::mxArrayText(prhs[1], "The trace file must be a char array");
        if (file == "off") {
            ZR::stopTrace();
            return true;
        }
        try {
            ZR::startTrace(file);
        } catch (const ZR::ZRError&) {
            throw ZR::ZRMxArgumentError("Cannot open the trace file '" + file + "' for appending");
        }
    } else {
        return false;
    }
    return true;
}

void connect(mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    if (recordingCommand(plhs, nrhs, prhs) || command(plhs, nrhs, prhs))
        return;
    if (nrhs < 3)
        throw ZR::ZRMxArgumentError(ZR::identifier::usage, kUsage);
    const std::string moduleName = ZR::mxArrayName(prhs[0], "The module name");
    const std::string host = ZR::mxArrayName(prhs[1], "The host");
    // Refused before any I/O: such a host would make an end point without
    // a host, which the SOAP runtime serves from the standard streams.
    if (!ZR::isAcceptableHost(host))
        throw ZR::ZRMxArgumentError(kBadHost);
    const int port = portOf(prhs[2]);
    // A fourth argument that is no struct has always been ignored here.
    const ZR::ZRCallLimits limits = nrhs >= 4 && mxIsStruct(prhs[3])
                                        ? ZR::callOptions(prhs[3], ZR::ZRCallOptions()).limits
                                        : ZR::ZRCallLimits();

    lastLookUpFault = ZR::ZRFaultTexts();
    lastLookUpHistory = std::make_shared<ZR::ZRExchangeHistory>(nrhs >= 4 && mxIsStruct(prhs[3]) ? ZR::callOptions(prhs[3], ZR::ZRCallOptions()).history : 0);
    std::unique_ptr<ZR::ZRProxyRemote> proxy;
    try {
        proxy.reset(new ZR::ZRProxyRemote(moduleName, host, port, limits, ZR::hostInterruptRequested,
                                          lastLookUpHistory));
    } catch (const ZR::ZRError& error) {
        lastLookUpFault = ZR::ZRFaultTexts{error.faultString(), error.faultDetail()};
        throw;
    }
    lastLookUpHistory.reset();
    const std::uint32_t key = ZR::ZRProxyRegistry::add(std::move(proxy));
    // The registry and the gSOAP runtime that the proxies' connections use
    // live in libraries this module loaded: keep it in memory for as long
    // as a handle may be used, that is for the rest of the process.
    if (!mexIsLocked())
        mexLock();

    plhs[0] = ZR::handleArray(key);
}

}  // namespace

void mexFunction(int /*nlhs*/, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    // Every C++ object of the call is gone once failureOf returns; the
    // error is raised here, outside any handler that could swallow it.
    if (const ZR::ZRMxFailure failure = ZR::failureOf([&] { connect(plhs, nrhs, prhs); }))
        ZR::raise(failure);
}
