// Timeout and ConnectTimeout from a MATLAB options struct.
#include "zrcalloptions.h"

#include <cmath>
#include <string>

#include "zrmxconvert.h"

namespace ZR {

namespace {

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

void readField(const mxArray* options, const char* field, double& seconds)
{
    if (const mxArray* value = mxGetField(options, 0, field))
        seconds = secondsOf(value, field);
}

}  // namespace

void readCallLimits(const mxArray* options, ZRCallLimits& limits)
{
    if (!mxIsStruct(options) || mxGetNumberOfElements(options) == 0)
        return;
    readField(options, "Timeout", limits.timeout);
    readField(options, "ConnectTimeout", limits.connectTimeout);
}

}  // namespace ZR
