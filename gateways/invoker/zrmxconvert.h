// Conversion between MATLAB arrays and ZRValue, and the text helpers both
// gateways use at the MEX boundary. Compiled into each MEX module, since it
// needs the host's mex.h; everything else lives in the core library.
#pragma once

#include <stdexcept>
#include <string>

#include "mex.h"
#include "zrvalue.h"

namespace ZR {

// A MATLAB argument the gateway refuses. Its text is reported through
// mexErrMsgTxt once the gateway has left every try block: in Octave that
// function throws, and a handler around it would swallow the error.
class ZRMxArgumentError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One call parameter from one MATLAB array. Texts become Strings, doubles
// single-precision Floats, int8..uint32 Ints (low 32 bits), logicals Bools;
// arrays of more than one element become Arrays of rows, cell arrays of
// more than one element Arrays of their converted cells. Anything else
// prints "Unknown parameter type: <class id>" and throws ZRMxArgumentError.
ZRValue mxArrayToZRValue(const mxArray* array);

// The MATLAB form of a call result, owned by the caller, or null for
// Invalid and Object values (inside a cell array: an empty cell). Not const:
// reading a String's text may change the value's representation.
mxArray* zrValueToMxArray(ZRValue& value);

// The whole text of a char array; ZRMxArgumentError(`failure`) for any
// other array.
std::string mxArrayText(const mxArray* array, const char* failure);

// Copies a failure text into host-managed memory, which the host frees when
// the MEX call ends, so the text outlives the call's C++ objects and can be
// handed to mexErrMsgTxt outside every try block.
const char* hostCopy(const char* text) noexcept;

// Runs `body` and turns every exception into its text (see hostCopy), so
// that no C++ exception leaves the MEX module. Null when `body` succeeded.
template <typename Body>
const char* failureOf(Body body) noexcept
{
    try {
        body();
        return nullptr;
    } catch (const std::exception& error) {
        return hostCopy(error.what());
    } catch (...) {
        return hostCopy("Unexpected failure of an unknown kind");
    }
}

}  // namespace ZR
