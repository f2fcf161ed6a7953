// SPDX-License-Identifier: GPL-2.0-or-later
// ZRError, the exception that the value and remote-call code throws, with
// the kind of failure it reports and the peer's own fault texts.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include "zrexport.h"

namespace ZR {

// Why a call failed, for callers that must tell causes apart (the gateways
// turn it into an error identifier). The text never depends on it.
enum class ZRErrorKind {
    Unspecified,
    BrokerUnreachable,  // no connection to the broker during a look-up
    UnknownModule,      // the broker answered the look-up with a fault
    LookupFailed,       // any other failure of a look-up
    RemoteFault,        // a SOAP fault sent by the module
    ConnectionFailed,   // connection refused or lost, HTTP error
    BadReply,           // a reply that cannot be decoded faithfully
    Timeout,            // a time-out set by the caller expired
    Interrupted,        // the host asked the call to stop (Ctrl-C)
    Cancelled,          // the caller cancelled a call started in the background
};

// The identifier by which a failure of this kind is reported to users
// ("zrbridge:timeout", ...); "zrbridge:failed" for Unspecified.
ZR_API const char* errorIdentifier(ZRErrorKind kind) noexcept;

// The one exception class of the value and remote-call code. Its text is
// composed as "\t" module "::" method "\n" "\t" description.
class ZR_API ZRError : public std::runtime_error {
public:
    ZRError(const std::string& module, const std::string& method, const std::string& description,
            const char* file, int line);
    ZRError(const ZRError& other);
    ZRError& operator=(const ZRError& other) = default;
    ~ZRError() override;

    std::string message() const;

    ZRErrorKind kind() const { return kind_; }
    // Marks the cause. `throw ZRError(...).withKind(k)` throws a ZRError: a
    // subclass that must keep its type is marked first and thrown by name.
    ZRError& withKind(ZRErrorKind kind)
    {
        kind_ = kind;
        return *this;
    }

    static std::string compose(const std::string& module, const std::string& method,
                               const std::string& description);

    // The peer's own account of a failed exchange (a SOAP fault's string and
    // detail, or the transport's description), for callers that show it
    // without taking the message apart. Empty texts when none was recorded.
    const std::string& faultString() const;
    const std::string& faultDetail() const;
    ZRError& withFault(const std::string& faultString, const std::string& detail);

private:
    struct Fault {
        std::string faultString;
        std::string detail;
    };

    ZRErrorKind kind_ = ZRErrorKind::Unspecified;
    // Shared, so that copying an error in flight cannot throw.
    std::shared_ptr<const Fault> fault_;
};

// A failure of the broker connection while a proxy is being built.
class ZR_API ZRNetworkError : public ZRError {
public:
    ZRNetworkError(std::string module, std::string method, std::string description, const char* file,
                   int line);
    ZRNetworkError(const ZRNetworkError& other);
    ZRNetworkError& operator=(const ZRNetworkError& other) = default;
    ~ZRNetworkError() override;
};

}  // namespace ZR
