// SPDX-License-Identifier: GPL-2.0-or-later
// Client contexts and their exchanges: the settings every context gets, the
// two broker operations through the generated stubs, and the failure texts
// and codes gSOAP leaves in the context, read out once.
#include "zrsoapexchange.h"

#include <atomic>
#include <cstring>

#include "zrcompatibility.h"
#include "zrreplyguard.h"
#include "zrreplylimit.h"
#include "zrsoapH.h"
#include "zrvaluesoap.h"

namespace ZR {

namespace {

typedef int (*PostHeaderWriter)(struct soap*, const char*, const char*);

// gSOAP's own HTTP header writer: one function of the runtime, the same in
// every context, taken from the first context made.
std::atomic<PostHeaderWriter> runtimePostHeader{nullptr};

// Brokers have always seen this client as "gSOAP/2.7"; keep saying so
// whatever version of the runtime is linked.
int postHeader(struct soap* context, const char* key, const char* value)
{
    if (key && std::strcmp(key, "User-Agent") == 0)
        value = compatibility::kUserAgent;
    return runtimePostHeader.load()(context, key, value);
}

// Settings every context gets, whoever made it.
void configureCommon(struct soap* context, ZRHostCheck hostUsable, ZRByteHooks byteHooks)
{
    runtimePostHeader.store(context->fposthdr);
    context->fposthdr = postHeader;
    // A peer that drops the connection while we write must give us EPIPE,
    // not a SIGPIPE that kills the host process.
#ifdef MSG_NOSIGNAL
    context->socket_flags = MSG_NOSIGNAL;
#endif
    context->max_keep_alive = -1;
    // Every wait must end on the caller's deadline or Ctrl-C, and no
    // failure may fall back to the process's standard input and output.
    installTransport(context, hostUsable);
    // Without time-outs, a read past the end of a reply would wait for as
    // long as the peer keeps the connection open. Wraps the transport.
    installReplyLimit(context);
    // Sees the bytes as gSOAP does, after the limit; wraps both.
    if (byteHooks)
        byteHooks(context);
    // gSOAP's own parser takes minutes over a flood of attributes, and no
    // wait ends a parse: both bounded where the pieces arrive.
    installReplyGuard(context, exchangeShouldStop);
}

// The longest peer text that goes into an error.
const std::size_t kMaxFaultText = 64 * 1024;

std::string textOrEmpty(const char* const* slot)
{
    if (!slot || !*slot)
        return std::string();
    const std::size_t length = std::strlen(*slot);
    if (length <= kMaxFaultText)
        return std::string(*slot, length);
    return std::string(*slot, kMaxFaultText) + "... (" + std::to_string(length - kMaxFaultText) +
           " more bytes cut)";
}

// A SOAP fault received from the peer; gSOAP tells client and server
// faults apart.
bool isReceivedFault(int error)
{
    return error == SOAP_FAULT || error == SOAP_CLI_FAULT || error == SOAP_SVR_FAULT;
}

// gSOAP reports an HTTP reply without a SOAP message in it by its status
// code. A success status with no message is a reply that cannot be read;
// any other status an HTTP error.
bool isTransportFailure(int error)
{
    return error == SOAP_EOF || error == SOAP_TCP_ERROR || error == SOAP_HTTP_ERROR || error == SOAP_LENGTH ||
           error == SOAP_SSL_ERROR || (error >= 100 && error < 600 && (error < 200 || error >= 300));
}

}  // namespace

struct soap* newClientContext(bool keepAlive, ZRHostCheck hostUsable, ZRByteHooks byteHooks)
{
    const soap_mode mode = keepAlive ? SOAP_IO_KEEPALIVE : SOAP_IO_DEFAULT;
    struct soap* context = soap_new2(mode, mode);
    if (context)
        configureCommon(context, hostUsable, byteHooks);
    return context;
}

void setContextTimeouts(struct soap* context, int timeout)
{
    context->recv_timeout = timeout;
    context->send_timeout = timeout;
    context->connect_timeout = timeout;
    context->accept_timeout = timeout;
}

void setModuleBindFlags(struct soap* context)
{
    context->bind_flags = compatibility::kModuleBindFlags;
}

void releaseContext(struct soap* context)
{
    soap_destroy(context);
    soap_end(context);
    soap_free(context);  // soap_done, then the context itself
}

bool ZRSoapExchange::lookUp(const std::string& endpoint, const std::string& moduleName,
                            zr__ZRModuleInfoVexel& answer)
{
    resetExchangeReport(context_);
    zrsoap::zrbroker__getModuleByNameResponse response;
    if (zrsoap::soap_call_zrbroker__getModuleByName(context_, endpoint.c_str(), "", moduleName, response) !=
        SOAP_OK)
        return false;
    const zrsoap::zr__ZRModuleInfo& received = response._return;
    answer.name = received.name;
    answer.architecture = received.architecture;
    answer.ip = received.ip;
    answer.port = received.port;
    answer.processId = received.processId;
    answer.modulePointer = received.modulePointer;
    answer.isABroker = received.isABroker;
    answer.keepAlive = received.keepAlive;
    return true;
}

bool ZRSoapExchange::call(const std::string& endpoint, const std::string& module, const std::string& method,
                          const ZRValue& parameters, ZRValue& result)
{
    registerBinaryAttachments(context_, parameters);
    resetExchangeReport(context_);
    const ZRValueTextReuse textReuse(context_);
    zrsoap::zrbroker__callVexelResponse response;
    const int status = zrsoap::soap_call_zrbroker__callVexel(context_, endpoint.c_str(), "", module, method,
                                                             parameters, response);
    // The response is a local here: its value goes to the caller whole
    // instead of as a deep copy, also when the exchange failed after it.
    result = std::move(response._return);
    return status == SOAP_OK;
}

void ZRSoapExchange::restoreAttachments(ZRValue& result)
{
    int attachmentIndex = 0;
    restoreBinaryAttachments(context_, result, attachmentIndex);
}

ZRSoapFailure ZRSoapExchange::failure() const
{
    const int error = context_->error;
    // A received fault carries its own texts; for a transport, HTTP or
    // parse failure gSOAP only records the error code, so have it describe
    // the code.
    if (error != SOAP_FAULT && !*soap_faultstring(context_))
        soap_set_fault(context_);
    ZRSoapFailure failure;
    failure.receivedFault = isReceivedFault(error);
    failure.transportFailure = isTransportFailure(error);
    failure.endOfInput = error == SOAP_EOF;
    failure.httpStatus = error >= 100 && error < 600 ? error : 0;
    failure.systemError = context_->errnum;
    failure.faultString = textOrEmpty(soap_faultstring(context_));
    failure.detail = textOrEmpty(soap_faultdetail(context_));
    return failure;
}

ZRExchangeReport ZRSoapExchange::report() const
{
    return exchangeReport(context_);
}

std::string ZRSoapExchange::refusal() const
{
    return replyRefusal(context_);
}

void ZRSoapExchange::dropConnection()
{
    soap_force_closesock(context_);
}

// This is soap_end without its soap_free_temp: that sweeps gSOAP's id and
// pointer hash tables whole, thousands of slots, and the next exchange's
// soap_begin sweeps them again anyway; the small parser state it frees
// lives until then (or until the context goes).
ZRSoapExchangeCleanup::~ZRSoapExchangeCleanup()
{
    soap_destroy(context_);
    soap_dealloc(context_, nullptr);
    soap_closesock(context_);
}

}  // namespace ZR
