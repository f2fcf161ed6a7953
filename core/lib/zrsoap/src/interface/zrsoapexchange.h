// SPDX-License-Identifier: GPL-2.0-or-later
// The one room that touches gSOAP's context for a client: making a context
// with the transport, the reply limit and the reply guard installed, one
// exchange on it (send the request, read the reply), and what a failed
// exchange reports. The remote-call layer above decides the policy: which
// error, which kind, whether to try again.
#pragma once

#include <string>

#include "zrmoduleinfo.h"
#include "zrtransport.h"
#include "zrvalue.h"

struct soap;

namespace ZR {

// Wraps the byte callbacks of a new context after the reply limit and
// before the reply guard, so that it sees the bytes as gSOAP does (the
// exchange recorder).
typedef void (*ZRByteHooks)(struct soap* context);

// A client context: keep-alive both ways or not, every wait bounded by the
// transport, connections only to hosts that `hostUsable` accepts. Null when
// it cannot be allocated.
struct soap* newClientContext(bool keepAlive, ZRHostCheck hostUsable, ZRByteHooks byteHooks);
// Every time-out of the context (gSOAP units: seconds when positive,
// microseconds when negative).
void setContextTimeouts(struct soap* context, int timeout);
// The bind flags module connections have always carried.
void setModuleBindFlags(struct soap* context);
// Releases the context with everything it still holds.
void releaseContext(struct soap* context);

// What a failed exchange reports, in the terms the layer above decides by.
struct ZRSoapFailure {
    bool receivedFault = false;     // the peer answered with a SOAP fault
    bool transportFailure = false;  // the connection or HTTP failed (no SOAP message)
    bool endOfInput = false;        // the reply ended before its message did
    int httpStatus = 0;             // the HTTP status given instead of a message, else 0
    int systemError = 0;            // the errno of a failed connect, else 0
    // The fault texts (gSOAP describes a failure that brought none), each
    // cut at 64 KiB: a hostile peer can send gigabytes of fault string.
    std::string faultString;
    std::string detail;
};

// One exchange on a context that stays owned elsewhere (a ZRConnection).
class ZRSoapExchange {
public:
    explicit ZRSoapExchange(struct soap* context) : context_(context) {}

    // Asks the broker at `endpoint` for `moduleName`; false when the
    // exchange failed (failure() says how). The received texts stay in the
    // context until the next exchange releases them.
    bool lookUp(const std::string& endpoint, const std::string& moduleName, zr__ZRModuleInfoVexel& answer);
    // Calls `method` of `module` at `endpoint`, Binary parameters going as
    // attachments; false when the exchange failed. A reply the value
    // reader refuses throws its ZRError.
    bool call(const std::string& endpoint, const std::string& module, const std::string& method,
              const ZRValue& parameters, ZRValue& result);
    // Puts the attachments of the reply back into its Binary values; throws
    // when bytes were lost.
    void restoreAttachments(ZRValue& result);

    ZRSoapFailure failure() const;
    ZRExchangeReport report() const;
    // Why the reply limit refused the reply; empty when it did not.
    std::string refusal() const;
    // Closes the connection: a half-read reply must not be taken for the
    // next one.
    void dropConnection();

private:
    struct soap* context_;
};

// Releases what one exchange left in the context (the socket stays open on
// a keep-alive connection), also when restoring the attachments throws.
class ZRSoapExchangeCleanup {
public:
    explicit ZRSoapExchangeCleanup(struct soap* context) : context_(context) {}
    ~ZRSoapExchangeCleanup();
    ZRSoapExchangeCleanup(const ZRSoapExchangeCleanup&) = delete;
    ZRSoapExchangeCleanup& operator=(const ZRSoapExchangeCleanup&) = delete;

private:
    struct soap* context_;
};

}  // namespace ZR
