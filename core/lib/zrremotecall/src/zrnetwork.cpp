// SPDX-License-Identifier: GPL-2.0-or-later
// ZRNetwork: creation of SOAP connections and the three broker operations.
// gSOAP reports failures as integer codes; they become exceptions here, where
// the generated stubs are called.
#include "zrnetwork.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <utility>

#include "zrcompatibility.h"
#include "zrdiagnostics.h"
#include "zrexchangerecorder.h"
#include "zrhostname.h"
#include "zrlookupcause.h"
#include "zrreplyguard.h"
#include "zrreplylimit.h"
#include "zrsoapH.h"
#include "zrthrow.h"
#include "zrtransport.h"
#include "zrvaluesoap.h"

namespace ZR {

namespace {

const char* const kModule = "ZRNetwork";
const char* const kNotInitialized = "connection not initialized";
// The fault texts of an end point whose host cannot name any host.
const char* const kNoHost = "Host not found";
const char* const kNoHostDetail = "no usable host in the end point";

// Time-outs of the default connection, in seconds.
const int kDefaultConnectionTimeout = 8;

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
void configureCommon(struct soap* context)
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
    installTransport(context, isAcceptableHost);
    // Without time-outs, a read past the end of a reply would wait for as
    // long as the peer keeps the connection open. Wraps the transport.
    installReplyLimit(context);
    // Sees the bytes as gSOAP does, after the limit; wraps both.
    installExchangeRecorder(context);
    // gSOAP's own parser takes minutes over a flood of attributes, and no
    // wait ends a parse: both bounded where the pieces arrive.
    installReplyGuard(context, exchangeShouldStop);
}

void setTimeouts(struct soap* context, int timeout)
{
    context->recv_timeout = timeout;
    context->send_timeout = timeout;
    context->connect_timeout = timeout;
    context->accept_timeout = timeout;
}

struct soap* newContext(const char* method, soap_mode inputMode, soap_mode outputMode)
{
    struct soap* context = soap_new2(inputMode, outputMode);
    if (!context)
        throw ZRError(kModule, method, "cannot allocate a SOAP context", __FILE__, __LINE__);
    configureCommon(context);
    return context;
}

// A connection that is missing, is not a connection, or never got a context
// cannot carry a request.
boost::shared_ptr<ZRConnection> usableConnection(const boost::shared_ptr<ZRValue>& handle)
{
    boost::shared_ptr<ZRConnection> connection = boost::dynamic_pointer_cast<ZRConnection>(handle);
    if (connection && !connection->context)
        connection.reset();
    return connection;
}

// Releases what one exchange left in the context (the socket stays open on
// a keep-alive connection), also when restoring the attachments throws.
// This is soap_end without its soap_free_temp: that sweeps gSOAP's id and
// pointer hash tables whole, thousands of slots, and the next exchange's
// soap_begin sweeps them again anyway; the small parser state it frees
// lives until then (or until the context goes).
class ContextCleanup {
public:
    explicit ContextCleanup(struct soap* context) : context_(context) {}
    ~ContextCleanup()
    {
        soap_destroy(context_);
        soap_dealloc(context_, nullptr);
        soap_closesock(context_);
    }
    ContextCleanup(const ContextCleanup&) = delete;
    ContextCleanup& operator=(const ContextCleanup&) = delete;

private:
    struct soap* context_;
};

// The longest peer text that goes into an error; a hostile peer can send
// gigabytes of fault string.
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

// A failed exchange's fault texts. A received fault carries its own; for a
// transport, HTTP or parse failure gSOAP only records the error code, so
// have it describe the code.
void describeFailure(struct soap* context)
{
    if (context->error != SOAP_FAULT && !*soap_faultstring(context))
        soap_set_fault(context);
}

std::string seconds(double value)
{
    std::ostringstream text;
    text << value;
    return text.str();
}

// Why a limit ended the exchange, or empty when none did: what did not
// arrive in time, and the limit by name.
std::string limitText(const ZRExchangeReport& report, const std::string& missingReply,
                      const std::string& missingConnection)
{
    switch (report.end) {
    case ZRWaitEnd::TimedOut:
        return missingReply + " within " + seconds(report.limits.timeout) + " s (Timeout)";
    case ZRWaitEnd::ConnectTimedOut:
        return missingConnection + " within " + seconds(report.limits.connectTimeout) + " s (ConnectTimeout)";
    case ZRWaitEnd::Interrupted: return "interrupted";
    case ZRWaitEnd::Completed: break;
    }
    return std::string();
}

ZRErrorKind limitKind(const ZRExchangeReport& report)
{
    return report.end == ZRWaitEnd::Interrupted ? ZRErrorKind::Interrupted : ZRErrorKind::Timeout;
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

ZRErrorKind lookUpFailureKind(const struct soap* context, const ZRExchangeReport& report)
{
    if (report.connectFailed)
        return ZRErrorKind::BrokerUnreachable;
    if (isReceivedFault(context->error))
        return ZRErrorKind::UnknownModule;
    return ZRErrorKind::LookupFailed;
}

ZRErrorKind callFailureKind(const struct soap* context, const ZRExchangeReport& report)
{
    if (isReceivedFault(context->error))
        return ZRErrorKind::RemoteFault;
    if (report.connectFailed || isTransportFailure(context->error) || lostAfterRequest(report))
        return ZRErrorKind::ConnectionFailed;
    return ZRErrorKind::BadReply;
}

std::string bytes(unsigned long long count)
{
    return std::to_string(count) + (count == 1 ? " byte" : " bytes");
}

// The lines that follow the peer's texts in a failed call's error: what the
// transport knows that gSOAP's description does not.
std::string transportLines(const struct soap* context, const ZRExchangeReport& report)
{
    std::string lines;
    if (report.outOfDescriptors)
        lines += "\n\ttoo many open files: the process has no file descriptor left for a connection";
    if (!isReceivedFault(context->error) && lostAfterRequest(report)) {
        const char* how = report.reset ? "reset" : "closed";
        lines += report.receivedBytes == 0
                     ? std::string("\n\tthe module ") + how + " the connection after the request went out, " +
                           "before any reply: it may have run the call"
                     : std::string("\n\tthe module ") + how + " the connection after " +
                           bytes(report.receivedBytes) +
                           " of the reply had arrived: it may have run the call";
    }
    const std::string refusal = replyRefusal(context);
    if (!refusal.empty())
        lines += "\n\t" + refusal;
    return lines;
}

// The two exchanges, recorded by the members that call them.
int lookUpModule(const boost::shared_ptr<ZRValue>& handle, const std::string& moduleName,
                 const boost::shared_ptr<zr__ZRModuleInfoVexel>& moduleInfo);
ZRValue callModule(const boost::shared_ptr<ZRValue>& handle, const std::string& methodName,
                   const ZRValue& parameters);

}  // namespace

ZRNetwork::ZRNetwork() : defaultConnection(new ZRConnection), reservedFlag1(false), reservedFlag2(false) {}

ZRNetwork::~ZRNetwork() = default;

void ZRNetwork::initDefaultConnection(const std::string& /*url*/)
{
    if (defaultConnection->context)
        return;
    struct soap* context = newContext("initDefaultConnection", SOAP_IO_DEFAULT, SOAP_IO_DEFAULT);
    setTimeouts(context, kDefaultConnectionTimeout);
    defaultConnection->context = context;
}

boost::shared_ptr<ZRConnection> ZRNetwork::createConnection(
    const boost::shared_ptr<zr__ZRModuleInfoVexel>& info, const std::string& url, const int& timeout)
{
    boost::shared_ptr<ZRConnection> connection(new ZRConnection);
    connection->endpoint = url;
    // Keep-alive both ways: successive calls reuse one TCP connection for as
    // long as the peer keeps it open.
    connection->context = newContext("createConnection", SOAP_IO_KEEPALIVE, SOAP_IO_KEEPALIVE);
    connection->context->bind_flags = compatibility::kModuleBindFlags;
    connection->setModuleInfo(info);
    if (timeout != 0)
        setTimeouts(connection->context, timeout);
    return connection;
}

int ZRNetwork::getModuleByName(const boost::shared_ptr<ZRValue>& handle, const std::string& moduleName,
                               const boost::shared_ptr<zr__ZRModuleInfoVexel>& moduleInfo)
{
    return recordExchange(handle, "getModuleByName", moduleName,
                          [&] { return lookUpModule(handle, moduleName, moduleInfo); });
}

ZRValue ZRNetwork::callMethod(const boost::shared_ptr<ZRValue>& handle, const std::string& methodName,
                              const ZRValue& parameters)
{
    return recordExchange(handle, methodName, std::string(),
                          [&] { return callModule(handle, methodName, parameters); });
}

namespace {

int lookUpModule(const boost::shared_ptr<ZRValue>& handle, const std::string& moduleName,
                 const boost::shared_ptr<zr__ZRModuleInfoVexel>& moduleInfo)
{
    const boost::shared_ptr<ZRConnection> connection = usableConnection(handle);
    if (!connection || !moduleInfo) {
        throwWithKind(ZRNetworkError(kModule, "getModuleByName", kNotInitialized, __FILE__, __LINE__),
                      ZRErrorKind::LookupFailed);
    }

    struct soap* context = connection->context;
    const std::string endpoint = connection->getEndpoint();
    const std::string failed = "failed to get module " + moduleName + " " + endpoint;
    if (!endpointHostUsable(endpoint)) {
        ZRNetworkError error(kModule, "getModuleByName", failed + "\n\t" + unusableHostCause(endpoint),
                             __FILE__, __LINE__);
        error.withFault(kNoHost, kNoHostDetail);
        throwWithKind(error, ZRErrorKind::BrokerUnreachable);
    }
    resetExchangeReport(context);
    zrsoap::zrbroker__getModuleByNameResponse response;
    const int status =
        zrsoap::soap_call_zrbroker__getModuleByName(context, endpoint.c_str(), "", moduleName, response);
    if (status != SOAP_OK) {
        const ZRExchangeReport report = exchangeReport(context);
        describeFailure(context);
        const std::string limit = limitText(report, "no answer", "no answer");
        // Out of descriptors, the transport's own line says why; otherwise
        // the cause the exchange shows.
        const std::string lines = report.outOfDescriptors ? transportLines(context, report) : std::string();
        const std::string cause =
            limit.empty() && lines.empty() ? "\n\t" + lookUpCause(context, report, endpoint) : "";
        ZRNetworkError error(kModule, "getModuleByName",
                             (limit.empty() ? failed + cause : failed + ": " + limit) + lines, __FILE__,
                             __LINE__);
        error.withFault(textOrEmpty(soap_faultstring(context)), textOrEmpty(soap_faultdetail(context)));
        // A half-done exchange must not leave its bytes to the next one.
        if (!limit.empty())
            soap_force_closesock(context);
        throwWithKind(error, limit.empty() ? lookUpFailureKind(context, report) : limitKind(report));
    }

    // The context's memory is left alone here: the received strings are
    // released by the clean-up after the next method call.
    const zrsoap::zr__ZRModuleInfo& received = response._return;
    // An empty answer (no record, or a record without fields) leaves the
    // port 0; a port beyond 16 bits would be taken modulo 65536 by connect.
    if (received.port < 1 || received.port > 65535) {
        const std::string why = received.port == 0
                                    ? "the broker's answer gives no address for module " + moduleName
                                    : "the broker reported port " + std::to_string(received.port) +
                                          " for module " + moduleName + ", outside 1-65535";
        throwWithKind(ZRNetworkError(kModule, "getModuleByName", failed + "\n\t" + why, __FILE__, __LINE__),
                      ZRErrorKind::LookupFailed);
    }
    zr__ZRModuleInfoVexel& info = *moduleInfo;
    info.name = received.name;
    info.architecture = received.architecture;
    info.ip = received.ip;
    info.port = received.port;
    info.processId = received.processId;
    info.modulePointer = received.modulePointer;
    info.isABroker = received.isABroker;
    info.keepAlive = received.keepAlive;
    return 0;
}

}  // namespace

void ZRNetwork::setEndPoint(const boost::shared_ptr<ZRValue>& handle, const std::string& ip, const int& port)
{
    const boost::shared_ptr<ZRConnection> connection = boost::dynamic_pointer_cast<ZRConnection>(handle);
    if (!connection)
        throw ZRError(kModule, "setEndPoint", kNotInitialized, __FILE__, __LINE__);
    connection->endpoint = endpointUrl(ip, port);
}

namespace {

ZRValue callModule(const boost::shared_ptr<ZRValue>& handle, const std::string& methodName,
                   const ZRValue& parameters)
{
    const boost::shared_ptr<ZRConnection> connection = usableConnection(handle);
    const boost::shared_ptr<zr__ZRModuleInfoVexel> info =
        connection ? connection->getModuleInfo() : boost::shared_ptr<zr__ZRModuleInfoVexel>();
    if (!info)
        throwWithKind(ZRError(kModule, "callMethod" + methodName, kNotInitialized, __FILE__, __LINE__),
                      ZRErrorKind::ConnectionFailed);

    struct soap* context = connection->context;
    zrsoap::zrbroker__callVexelResponse response;
    ZRValue& result = response._return;

    {
        // A call that failed left its exchange in the context, its fault
        // readable until now; a run of failing calls must not pile them up.
        const ContextCleanup previous(context);
    }
    const std::string endpoint = connection->getEndpoint();
    if (!endpointHostUsable(endpoint))
        throwWithKind(ZRError(info->name, std::string("SOAP error:") + kNoHost,
                              std::string("SOAP detail: ") + kNoHostDetail, nullptr, 0)
                          .withFault(kNoHost, kNoHostDetail),
                      ZRErrorKind::ConnectionFailed);
    // The exchange's memory goes when the call ends, failed or not: a failed
    // reply can be gigabytes, and nothing reads it after the error is made.
    const ContextCleanup cleanup(context);
    registerBinaryAttachments(context, parameters);
    resetExchangeReport(context);
    const ZRValueTextReuse textReuse(context);
    int status = SOAP_OK;
    try {
        status = zrsoap::soap_call_zrbroker__callVexel(context, endpoint.c_str(), "", info->name, methodName,
                                                       parameters, response);
    } catch (ZRError& error) {
        // The value reader refused what it read (a fault element where the
        // value should be) and has dropped the half-read connection. Unless
        // a limit cut the reply short, that is the error to report.
        const ZRExchangeReport report = exchangeReport(context);
        if (report.end == ZRWaitEnd::Completed) {
            // A reply cut off by the peer reads as a broken value; say what
            // happened to the connection instead.
            const bool refused = !replyRefusal(context).empty();
            if (lostAfterRequest(report) || refused)
                throwWithKind(
                    ZRError(info->name, methodName,
                            "the reply could not be read" + transportLines(context, report), nullptr, 0),
                    refused ? ZRErrorKind::BadReply : ZRErrorKind::ConnectionFailed);
            if (error.kind() == ZRErrorKind::Unspecified)
                error.withKind(ZRErrorKind::BadReply);
            throw;
        }
        status = SOAP_EOF;
    }
    const ZRExchangeReport report = exchangeReport(context);
    const std::string limit = limitText(report, "no complete reply", "no connection");
    if (!limit.empty()) {
        // Whatever was read, the reply is incomplete, and the rest of it
        // must not be taken for the next one.
        soap_force_closesock(context);
        throwWithKind(ZRError(info->name, methodName, limit, nullptr, 0), limitKind(report));
    }
    // A reply the limit refused is bad even when its value was read.
    const bool refused = !replyRefusal(context).empty();
    if (status != SOAP_OK && (!result.hasValue() || refused)) {
        describeFailure(context);
        const std::string faultString = textOrEmpty(soap_faultstring(context));
        const std::string detail = textOrEmpty(soap_faultdetail(context));
        throwWithKind(ZRError(info->name, "SOAP error:" + faultString,
                              "SOAP detail: " + detail + transportLines(context, report), nullptr, 0)
                          .withFault(faultString, detail),
                      refused ? ZRErrorKind::BadReply : callFailureKind(context, report));
    }

    int attachmentIndex = 0;
    // Throws when Binary bytes were lost on the way; only a result that
    // comes back whole earns the warning below instead of an error.
    restoreBinaryAttachments(context, result, attachmentIndex);
    if (status != SOAP_OK)
        printDiagnostic(compatibility::kMismatchLine);
    // The response is a local of this call: its value can go to the caller
    // whole instead of as a deep copy.
    return std::move(result);
}

}  // namespace

}  // namespace ZR
