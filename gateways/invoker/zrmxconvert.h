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
    // `identifier` is one of those below; it must outlive the error (a
    // string literal).
    ZRMxArgumentError(const char* identifier, const std::string& text)
        : std::runtime_error(text), identifier_(identifier)
    {
    }
    // An argument of the wrong kind or value.
    explicit ZRMxArgumentError(const std::string& text);

    const char* identifier() const noexcept { return identifier_; }

private:
    const char* identifier_;
};

// The error identifiers that the gateways raise, one per cause, so that a
// program can tell causes apart without reading the text.
namespace identifier {
extern const char usage[];            // too few arguments
extern const char badArgument[];      // an argument of the wrong kind or value
extern const char unsupportedType[];  // a parameter that has no wire form
extern const char invalidHandle[];    // a handle that names no live proxy
extern const char brokerUnreachable[];
extern const char unknownModule[];
extern const char lookupFailed[];
extern const char remoteFault[];
extern const char connectionFailed[];
extern const char badReply[];
extern const char timeout[];
extern const char interrupted[];
extern const char cancelled[];    // a call started in the background was cancelled
extern const char unspecified[];  // a failure of no known cause
}  // namespace identifier

// The identifier for a failure of the core library.
const char* identifierOf(ZRErrorKind kind) noexcept;

// A failure on its way out of a MEX call: identifier and text, both in
// memory that lives until the call ends. Empty (text null) on success.
struct ZRMxFailure {
    const char* identifier = nullptr;
    const char* text = nullptr;
    explicit operator bool() const noexcept { return text != nullptr; }
};

// One call parameter from one MATLAB array. Texts become Strings, doubles
// single-precision Floats, int8..uint32 Ints (low 32 bits), logicals Bools;
// arrays of more than one element become Arrays of rows, cell arrays of
// more than one element Arrays of their converted cells, a zrbinary object
// a Binary. Under MATLAB, string scalars become Strings, string arrays
// Arrays of Strings, and int64/uint64 values that fit in an int32 Ints.
// Classes without a wire form print "Unknown parameter type: <class id>"
// and throw ZRMxArgumentError; sparse, complex and N-d arrays throw it with
// a text that names their form ("complex double", "2x2x2 double").
ZRValue mxArrayToZRValue(const mxArray* array);

// How Arrays in a call result come back.
enum class ZRArrayResults {
    Cell,     // every Array as a column cell array, element by element
    Numeric,  // Arrays of numbers, Ints or Bools of one kind as a 1xN row,
              // two or more such rows of one kind and length as a matrix
};

// The ArrayResults field ('cell' or 'numeric', in any case) of invoker's
// optional options struct; `options` null means no options. Other fields
// are left to their readers.
ZRArrayResults arrayResultsOption(const mxArray* options);

// The MATLAB form of a call result, owned by the caller, or null for
// Invalid and Object values (inside a cell array: an empty cell). Not const:
// reading a String's text may change the value's representation.
mxArray* zrValueToMxArray(ZRValue& value, ZRArrayResults arrayResults = ZRArrayResults::Cell);

// The whole text of a char array (or, under MATLAB, of a string scalar) as
// UTF-8; ZRMxArgumentError(`failure`) for any other array.
std::string mxArrayText(const mxArray* array, const char* failure);

// Copies a failure text into host-managed memory, which the host frees when
// the MEX call ends, so the text outlives the call's C++ objects and can be
// handed to mexErrMsgTxt outside every try block.
const char* hostCopy(const char* text) noexcept;

// Sends the core library's warning lines to the host for as long as it
// lives. Only for the length of one MEX call: the module that installs the
// printer may be unloaded between calls.
class HostDiagnostics {
public:
    HostDiagnostics() noexcept;
    ~HostDiagnostics();
    HostDiagnostics(const HostDiagnostics&) = delete;
    HostDiagnostics& operator=(const HostDiagnostics&) = delete;
};

// Runs `body` and turns every exception into its identifier and text (see
// hostCopy), so that no C++ exception leaves the MEX module. Empty when
// `body` succeeded.
// While the call runs, the core library's warning lines go to the host's
// command window (mexPrintf) rather than the process's standard output.
template <typename Body>
ZRMxFailure failureOf(Body body) noexcept
{
    const HostDiagnostics diagnostics;
    ZRMxFailure failure;
    try {
        body();
    } catch (const ZRMxArgumentError& error) {
        failure = {error.identifier(), hostCopy(error.what())};
    } catch (const ZRError& error) {
        failure = {identifierOf(error.kind()), hostCopy(error.what())};
    } catch (const std::exception& error) {
        failure = {identifier::unspecified, hostCopy(error.what())};
    } catch (...) {
        failure = {identifier::unspecified, hostCopy("Unexpected failure of an unknown kind")};
    }
    return failure;
}

// Raises `failure` as the host's error; does not return. The text is passed
// as an argument, never as a format, so a '%' in it is shown as it is.
[[noreturn]] void raise(const ZRMxFailure& failure);

}  // namespace ZR
