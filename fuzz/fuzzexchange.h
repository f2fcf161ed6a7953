// SPDX-License-Identifier: GPL-2.0-or-later
// FuzzExchange: one module connection set up as ZRNetwork sets it up (keep-
// alive context, reply limit) but with an in-memory transport, so a fuzz
// target can hand ZRNetwork::callMethod any reply bytes and check that the
// connection still carries the next call.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <stdsoap2.h>
#include <boost/shared_ptr.hpp>

#include "memorytransport.h"
#include "scriptedpeer.h"
#include "zrconnection.h"
#include "zrmoduleinfo.h"
#include "zrnetwork.h"
#include "zrreplyguard.h"
#include "zrreplylimit.h"
#include "zrvalue.h"
#include "zrvaluesoap.h"

namespace ZRFuzz {

// Splits a reply into pieces of this many bytes per receive (0: as much as
// asked for), so tags, references and DIME headers straddle reads.
inline std::size_t pieceSizeFor(std::uint8_t selector)
{
    static const std::size_t sizes[] = {0, 1, 2, 3, 5, 8, 13, 64, 512, 4096};
    return sizes[selector % (sizeof sizes / sizeof sizes[0])];
}

// Stops the run with a message libFuzzer reports as a crash.
[[noreturn]] inline void violated(const char* what, const std::string& detail)
{
    std::fprintf(stderr, "property violated: %s\n%s\n", what, detail.c_str());
    std::abort();
}

class FuzzExchange {
public:
    FuzzExchange() : info_(new ZR::zr__ZRModuleInfoVexel), connection_(new ZR::ZRConnection)
    {
        info_->name = "Fuzz";
        connection_->setModuleInfo(info_);
        connection_->endpoint = "http://fuzz.test:8000";
        connection_->context = soap_new2(SOAP_IO_KEEPALIVE, SOAP_IO_KEEPALIVE);
        if (!connection_->context)
            std::abort();
        transport_.reset(new ZRTest::MemoryTransport(connection_->context));
        transportPoll_ = connection_->context->fpoll;
        connection_->context->user = this;
        connection_->context->fpoll = pollWithStaleInput;
        // After the transport, so the limit wraps its callbacks; the guard
        // counts markup as every client context does (no deadline here).
        ZR::installReplyLimit(connection_->context);
        ZR::installReplyGuard(connection_->context, nullptr);
        handle_ = connection_;
    }

    ~FuzzExchange()
    {
        // The transport gives the context its callbacks back; it must go
        // before the connection releases the context.
        transport_.reset();
    }

    FuzzExchange(const FuzzExchange&) = delete;
    FuzzExchange& operator=(const FuzzExchange&) = delete;

    // One call answered by `reply`. True with `result` set when the call
    // returned; false when it raised ZRError (the user's MATLAB error).
    bool call(const std::string& reply, std::size_t pieceSize, ZR::ZRValue& result,
              const ZR::ZRValue& parameters = ZR::ZRValue())
    {
        transport_->addReply(reply, pieceSize);
        try {
            result = network_.callMethod(handle_, "fuzz", parameters);
            return true;
        } catch (const ZR::ZRError& error) {
            lastError_ = error.what();
            return false;
        }
    }

    // Whatever the previous reply did, the connection must carry a good one.
    void expectNextCallWorks()
    {
        const std::string reply = ZRTest::httpResponse(ZRTest::soapEnvelope(
            "<zrbroker:callVexelResponse><zrbroker:return><item xsi:type=\"xsd:int\">9</item>"
            "</zrbroker:return></zrbroker:callVexelResponse>"));
        ZR::ZRValue result;
        if (!call(reply, 0, result))
            violated("the call after a bad reply raised an error", lastError_);
        if (!(result == ZR::ZRValue(9)))
            violated("the call after a bad reply returned another value", result.toString(1));
    }

private:
    // The reply limit peeks at the socket for bytes left over from the last
    // reply; the memory transport has no socket, so its poll answers for it.
    static int pollWithStaleInput(struct soap* soap)
    {
        FuzzExchange* self = static_cast<FuzzExchange*>(soap->user);
        if (self->transport_->unreadBytes() > 0)
            return SOAP_EOF;
        return self->transportPoll_(soap);
    }

    int (*transportPoll_)(struct soap*) = nullptr;
    ZR::ZRNetwork network_;
    boost::shared_ptr<ZR::zr__ZRModuleInfoVexel> info_;
    boost::shared_ptr<ZR::ZRConnection> connection_;
    boost::shared_ptr<ZR::ZRValue> handle_;
    std::unique_ptr<ZRTest::MemoryTransport> transport_;
    std::string lastError_;
};

}  // namespace ZRFuzz
