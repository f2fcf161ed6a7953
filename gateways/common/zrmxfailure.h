// SPDX-License-Identifier: GPL-2.0-or-later
// How the gateways fail: the error identifiers, the argument error, and the
// way every failure leaves a MEX call (caught inside, raised outside every
// try block). Shared by connector and invoker.
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
extern const char noResult[];     // a result was asked of a method that gave none
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
