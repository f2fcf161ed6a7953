// SPDX-License-Identifier: GPL-2.0-or-later
// zrconvert_bench(): times the MEX conversion alone, without a broker:
// a 1,000,000-Float Array to a MATLAB array in both result modes, and a
// 1x1,000,000 double row to a parameter value. Prints "RESULT <name> <ms>"
// lines with the median of several rounds; the host's own time to destroy
// the arrays is not counted.
#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <vector>

#include "mex.h"
#include "zrmxconvert.h"

namespace {

const int kCount = 1000000;
const int kRounds = 7;

// `body` makes an array and returns it; it is destroyed untimed.
template <typename Body>
double medianMilliseconds(Body body)
{
    std::vector<double> times;
    for (int round = 0; round < kRounds; ++round) {
        const auto start = std::chrono::steady_clock::now();
        mxArray* made = body();
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        if (made)
            mxDestroyArray(made);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void run()
{
    ZR::ZRValue floats;
    floats.resizeArray(kCount);
    for (int k = 0; k < kCount; ++k)
        floats[k] = static_cast<float>(k % 1000 + 0.25);

    const struct {
        const char* name;
        ZR::ZRArrayResults mode;
    } modes[] = {{"cell", ZR::ZRArrayResults::Cell}, {"numeric", ZR::ZRArrayResults::Numeric}};
    for (const auto& mode : modes) {
        const double ms = medianMilliseconds([&] { return ZR::zrValueToMxArray(floats, mode.mode); });
        mexPrintf("RESULT result_%s_ms %.3f\n", mode.name, ms);
    }

    mxArray* row = mxCreateDoubleMatrix(1, kCount, mxREAL);
    double* data = mxGetPr(row);
    for (int k = 0; k < kCount; ++k)
        data[k] = k % 1000 + 0.25;
    ZR::ZRValue parameter;
    const double ms = medianMilliseconds([&]() -> mxArray* {
        parameter = ZR::mxArrayToZRValue(row);
        return nullptr;
    });
    mxDestroyArray(row);
    if (parameter.size() != kCount)
        throw std::runtime_error("the parameter lost elements");
    mexPrintf("RESULT parameter_ms %.3f\n", ms);
}

}  // namespace

void mexFunction(int /*nlhs*/, mxArray* /*plhs*/[], int /*nrhs*/, const mxArray* /*prhs*/[])
{
    if (const ZR::ZRMxFailure failure = ZR::failureOf(run))
        ZR::raise(failure);
}
