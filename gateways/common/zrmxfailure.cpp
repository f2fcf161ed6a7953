// SPDX-License-Identifier: GPL-2.0-or-later
// The gateways' error identifiers, and how a failure's text reaches the
// host: copied into host memory, raised once every C++ object is gone.
#include "zrmxfailure.h"

#include <cstdlib>
#include <cstring>

#include "zrdiagnostics.h"

namespace ZR {

ZRMxArgumentError::ZRMxArgumentError(const std::string& text)
    : ZRMxArgumentError(identifier::badArgument, text)
{
}

namespace identifier {
const char usage[] = "zrbridge:usage";
const char badArgument[] = "zrbridge:badArgument";
const char unsupportedType[] = "zrbridge:unsupportedType";
const char invalidHandle[] = "zrbridge:invalidHandle";
const char brokerUnreachable[] = "zrbridge:brokerUnreachable";
const char unknownModule[] = "zrbridge:unknownModule";
const char lookupFailed[] = "zrbridge:lookupFailed";
const char remoteFault[] = "zrbridge:remoteFault";
const char connectionFailed[] = "zrbridge:connectionFailed";
const char badReply[] = "zrbridge:badReply";
const char timeout[] = "zrbridge:timeout";
const char interrupted[] = "zrbridge:interrupted";
const char cancelled[] = "zrbridge:cancelled";
const char noResult[] = "zrbridge:noResult";
const char unspecified[] = "zrbridge:failed";
}  // namespace identifier

const char* identifierOf(ZRErrorKind kind) noexcept
{
    // The core names the identifiers, so that what a call's history records
    // is what the host raises.
    return errorIdentifier(kind);
}

namespace {

void printToHost(const char* text)
{
    mexPrintf("%s", text);
}

}  // namespace

HostDiagnostics::HostDiagnostics() noexcept
{
    setDiagnosticPrinter(printToHost);
}

HostDiagnostics::~HostDiagnostics()
{
    setDiagnosticPrinter(nullptr);
}

void raise(const ZRMxFailure& failure)
{
    mexErrMsgIdAndTxt(failure.identifier, "%s", failure.text);
    // mexErrMsgIdAndTxt does not return; this keeps [[noreturn]] honest
    // should a host ever let it.
    std::abort();
}

const char* hostCopy(const char* text) noexcept
{
    if (!text || !*text)
        text = "Unexpected failure without a message";
    try {
        const std::size_t length = std::strlen(text);
        if (char* copy = static_cast<char*>(mxMalloc(length + 1))) {
            std::memcpy(copy, text, length + 1);
            return copy;
        }
    } catch (...) {
        // Octave's mxMalloc throws when memory runs out.
    }
    return "Out of memory while reporting a failure";
}

}  // namespace ZR
