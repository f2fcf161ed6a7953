// SPDX-License-Identifier: GPL-2.0-or-later
// ZRError and ZRNetworkError, and the composition of every failure text that
// ZRValue throws.
#include <cstdio>
#include <sstream>

#include "zrcompatibility.h"
#include "zrnumbertext.h"
#include "zrthrow.h"
#include "zrvalue.h"
#include "zrvaluefailure.h"

namespace ZR {

const char* errorIdentifier(ZRErrorKind kind) noexcept
{
    switch (kind) {
    case ZRErrorKind::BrokerUnreachable: return "zrbridge:brokerUnreachable";
    case ZRErrorKind::UnknownModule: return "zrbridge:unknownModule";
    case ZRErrorKind::LookupFailed: return "zrbridge:lookupFailed";
    case ZRErrorKind::RemoteFault: return "zrbridge:remoteFault";
    case ZRErrorKind::ConnectionFailed: return "zrbridge:connectionFailed";
    case ZRErrorKind::BadReply: return "zrbridge:badReply";
    case ZRErrorKind::Timeout: return "zrbridge:timeout";
    case ZRErrorKind::Interrupted: return "zrbridge:interrupted";
    case ZRErrorKind::Cancelled: return "zrbridge:cancelled";
    case ZRErrorKind::Unspecified: break;
    }
    return "zrbridge:failed";
}

ZRError::ZRError(const std::string& module, const std::string& method, const std::string& description,
                 const char* /*file*/, int /*line*/)
    : std::runtime_error(compose(module, method, description))
{
}

ZRError::ZRError(const ZRError& other)
    : std::runtime_error(other.what()), kind_(other.kind_), fault_(other.fault_)
{
}

ZRError::~ZRError() = default;

std::string ZRError::message() const
{
    return what();
}

const std::string& ZRError::faultString() const
{
    static const std::string none;
    return fault_ ? fault_->faultString : none;
}

const std::string& ZRError::faultDetail() const
{
    static const std::string none;
    return fault_ ? fault_->detail : none;
}

ZRError& ZRError::withFault(const std::string& faultString, const std::string& detail)
{
    fault_ = std::make_shared<const Fault>(Fault{faultString, detail});
    return *this;
}

std::string ZRError::compose(const std::string& module, const std::string& method,
                             const std::string& description)
{
    std::ostringstream text;
    if (!module.empty())
        text << '\t' << module;
    if (!method.empty())
        text << "::" << method;
    text << std::endl << '\t' << description;
    return text.str();
}

ZRNetworkError::ZRNetworkError(std::string module, std::string method, std::string description,
                               const char* file, int line)
    : ZRError(module, method, description, file, line)
{
}

ZRNetworkError::ZRNetworkError(const ZRNetworkError& other) : ZRError(other) {}

ZRNetworkError::~ZRNetworkError() = default;

ZRError assertFailure(const char* module, const char* source, int line)
{
    return ZRError(module, "Assert failed", std::string(source) + ":" + decimalText(line), source, line);
}

namespace failure {
namespace {

const char* const kModule = "ZRValue";
const char* const kSource = compatibility::kValueSource;

[[noreturn]] void valueFailure(const std::string& method, const std::string& description, int line)
{
    throw ZRError(kModule, method, description, kSource, line);
}

}  // namespace

void assertFailed(AssertSite site)
{
    throw assertFailure(kModule, kSource, site);
}

void typeMismatch(const char* method, int wanted, const ZRValue& value)
{
    valueFailure(method,
                 "Expected a " + ZRValue::TypeToString(wanted) + " but received a " +
                     ZRValue::TypeToString(value.valueType()) + " (zrvalue contents: " + value.toString(1) +
                     " )",
                 0);
}

void notAnArray(int stored)
{
    valueFailure("xAssertArraySize", "try to use a " + ZRValue::TypeToString(stored) + " like an array", 0);
}

void arrayTooSmall(int count, int wanted)
{
    valueFailure("xAssertArraySize",
                 "The array has a size of " + decimalText(count) + " and you want it to be of size " +
                     decimalText(wanted),
                 0);
}

void invalidToBool()
{
    valueFailure("const bool() const", "Cannot cast to bool an ZRValue of invalid type.", 0);
}

void unknownType(int tag)
{
    valueFailure("TypeToString", "Unknown type: " + decimalText(tag), 148);
}

}  // namespace failure
}  // namespace ZR
