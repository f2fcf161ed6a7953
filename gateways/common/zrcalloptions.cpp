// SPDX-License-Identifier: GPL-2.0-or-later
// Timeout, ConnectTimeout, ArrayResults and History from a MATLAB options
// struct.
#include "zrcalloptions.h"

#include <cmath>
#include <string>

#include "zrtextchars.h"

namespace ZR {

namespace {

const char kNotAStruct[] = "The options must be a struct";
const char kBadArrayResults[] = "ArrayResults must be 'cell' or 'numeric'";
const char kBadConnections[] = "Connections must be a whole number from 1 to 1024";
const char kBadHistory[] = "History must be a whole number of exchanges from 0 to 10000";

// Seconds from one field; 0 stands for no limit, as in ZRCallLimits.
double secondsOf(const mxArray* value, const char* field)
{
    if (mxIsEmpty(value) && (mxIsNumeric(value) || mxIsCell(value)))
        return 0;
    if (mxIsNumeric(value) && !mxIsComplex(value) && mxGetNumberOfElements(value) == 1) {
        const double seconds = mxGetScalar(value);
        if (std::isinf(seconds) && seconds > 0)
            return 0;
        if (seconds > 0)
            return seconds;
    }
    throw ZRMxArgumentError(std::string(field) +
                            " must be a positive number of seconds, or [] or Inf for no limit");
}

void readSeconds(const mxArray* options, const char* field, double& seconds)
{
    if (const mxArray* value = mxGetField(options, 0, field))
        seconds = secondsOf(value, field);
}

void readArrayResults(const mxArray* options, ZRArrayResults& arrayResults)
{
    const mxArray* field = mxGetField(options, 0, "ArrayResults");
    if (!field)
        return;
    const std::string mode = mxArrayText(field, kBadArrayResults);
    const char* const end = mode.data() + mode.size();
    if (equalsIgnoringCase(mode.data(), end, "cell"))
        arrayResults = ZRArrayResults::Cell;
    else if (equalsIgnoringCase(mode.data(), end, "numeric"))
        arrayResults = ZRArrayResults::Numeric;
    else
        throw ZRMxArgumentError(kBadArrayResults);
}

std::size_t connectionsOf(const mxArray* value)
{
    if (!mxIsNumeric(value) || mxIsComplex(value) || mxGetNumberOfElements(value) != 1)
        throw ZRMxArgumentError(kBadConnections);
    const double count = mxGetScalar(value);
    if (!(count >= 1 && count <= 1024) || count != std::trunc(count))
        throw ZRMxArgumentError(kBadConnections);
    return static_cast<std::size_t>(count);
}

}  // namespace

std::size_t historySize(const mxArray* value)
{
    if (mxIsEmpty(value) && mxIsNumeric(value))
        return 0;
    if (!mxIsNumeric(value) || mxIsComplex(value) || mxGetNumberOfElements(value) != 1)
        throw ZRMxArgumentError(kBadHistory);
    const double size = mxGetScalar(value);
    if (!(size >= 0 && size <= static_cast<double>(kMostHistory)) || size != std::trunc(size))
        throw ZRMxArgumentError(kBadHistory);
    return static_cast<std::size_t>(size);
}

mxArray* callOptionsArray(const ZRCallOptions& options)
{
    const char* fields[] = {"Timeout", "ConnectTimeout", "ArrayResults", "History"};
    mxArray* result = mxCreateStructMatrix(1, 1, 4, fields);
    const auto seconds = [](double value) {
        return value > 0 ? mxCreateDoubleScalar(value) : mxCreateDoubleMatrix(0, 0, mxREAL);
    };
    mxSetField(result, 0, "Timeout", seconds(options.limits.timeout));
    mxSetField(result, 0, "ConnectTimeout", seconds(options.limits.connectTimeout));
    mxSetField(result, 0, "ArrayResults",
               mxCreateString(options.arrayResults == ZRArrayResults::Numeric ? "numeric" : "cell"));
    mxSetField(result, 0, "History", mxCreateDoubleScalar(static_cast<double>(options.history)));
    if (options.connections) {
        mxAddField(result, "Connections");
        mxSetField(result, 0, "Connections", mxCreateDoubleScalar(static_cast<double>(options.connections)));
    }
    return result;
}

ZRCallOptions callOptions(const mxArray* options, const ZRCallOptions& defaults)
{
    ZRCallOptions result = defaults;
    // [] stands for no options, as MATLAB functions commonly take it.
    if (!options || (mxIsDouble(options) && mxIsEmpty(options)))
        return result;
    if (!mxIsStruct(options) || mxGetNumberOfElements(options) != 1)
        throw ZRMxArgumentError(kNotAStruct);
    readSeconds(options, "Timeout", result.limits.timeout);
    readSeconds(options, "ConnectTimeout", result.limits.connectTimeout);
    readArrayResults(options, result.arrayResults);
    if (const mxArray* history = mxGetField(options, 0, "History"))
        result.history = historySize(history);
    if (const mxArray* connections = mxGetField(options, 0, "Connections"))
        result.connections = connectionsOf(connections);
    return result;
}

}  // namespace ZR
