// ZRNetwork: creation of SOAP connections and the three broker operations.
// gSOAP reports failures as integer codes; they become exceptions here, where
// the generated stubs are called.
#include "zrnetwork.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <utility>

#include "zrdiagnostics.h"
#include "zrhostname.h"
#include "zrreplyguard.h"
#include "zrreplylimit.h"
#include "zrsoapH.h"
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
// SO_REUSEADDR as the Windows socket interface numbers it; the value the
// module connections have always carried.
const int kModuleBindFlags = 4;

typedef int (*PostHeaderWriter)(struct soap*, const char*, const char*);

// gSOAP's own HTTP header writer: one function of the runtime, the same in
// every context, taken from the first context made.
std::atomic<PostHeaderWriter> runtimePostHeader{nullptr};

// Brokers have always seen this client as "gSOAP/2.7"; keep saying so
// whatever version of the runtime is linked.
int postHeader(struct soap* context, const char* key, const char* value)
{
    if (key && std::strcmp(key, "User-Agent") == 0)
        value = "gSOAP/2.7";
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
    installTransport(context);
    // Without time-outs, a read past the end of a reply would wait for as
    // long as the peer keeps the connection open. Wraps the transport.
    installReplyLimit(context);
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

std::string textOrEmpty(const char* const* slot)
{
    return (slot && *slot) ? std::string(*slot) : std::string();
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
    if (report.connectFailed || isTransportFailure(context->error))
        return ZRErrorKind::ConnectionFailed;
    return ZRErrorKind::BadReply;
}

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
    connection->context->bind_flags = kModuleBindFlags;
    connection->setModuleInfo(info);
    if (timeout != 0)
        setTimeouts(connection->context, timeout);
    return connection;
}

int ZRNetwork::getModuleByName(const boost::shared_ptr<ZRValue>& handle, const std::string& moduleName,
                               const boost::shared_ptr<zr__ZRModuleInfoVexel>& moduleInfo)
{
    const boost::shared_ptr<ZRConnection> connection = usableConnection(handle);
    if (!connection || !moduleInfo) {
        ZRNetworkError error(kModule, "getModuleByName", kNotInitialized, __FILE__, __LINE__);
        error.withKind(ZRErrorKind::LookupFailed);
        throw error;
    }

    struct soap* context = connection->context;
    const std::string endpoint = connection->getEndpoint();
    const std::string failed = "failed to get module " + moduleName + " " + endpoint;
    // gSOAP would talk to standard input and output for lack of a host.
    if (!isAcceptableHost(hostOfUrl(endpoint))) {
        ZRNetworkError error(kModule, "getModuleByName", failed, __FILE__, __LINE__);
        error.withKind(ZRErrorKind::BrokerUnreachable).withFault(kNoHost, kNoHostDetail);
        throw error;
    }
    resetExchangeReport(context);
    zrsoap::zrbroker__getModuleByNameResponse response;
    const int status =
        zrsoap::soap_call_zrbroker__getModuleByName(context, endpoint.c_str(), "", moduleName, response);
    if (status != SOAP_OK) {
        const ZRExchangeReport report = exchangeReport(context);
        describeFailure(context);
        const std::string limit = limitText(report, "no answer", "no answer");
        ZRNetworkError error(kModule, "getModuleByName", limit.empty() ? failed : failed + ": " + limit,
                             __FILE__, __LINE__);
        error.withKind(limit.empty() ? lookUpFailureKind(context, report) : limitKind(report))
            .withFault(textOrEmpty(soap_faultstring(context)), textOrEmpty(soap_faultdetail(context)));
        // A half-done exchange must not leave its bytes to the next one.
        if (!limit.empty())
            soap_force_closesock(context);
        throw error;
    }

    // The context's memory is left alone here: the received strings are
    // released by the clean-up after the next method call.
    const zrsoap::zr__ZRModuleInfo& received = response._return;
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

void ZRNetwork::setEndPoint(const boost::shared_ptr<ZRValue>& handle, const std::string& ip, const int& port)
{
    const boost::shared_ptr<ZRConnection> connection = boost::dynamic_pointer_cast<ZRConnection>(handle);
    if (!connection)
        throw ZRError(kModule, "setEndPoint", kNotInitialized, __FILE__, __LINE__);
    std::ostringstream url;
    url << "http://" << urlHost(ip) << ":" << port;
    connection->endpoint = url.str();
}

ZRValue ZRNetwork::callMethod(const boost::shared_ptr<ZRValue>& handle, const std::string& methodName,
                              const ZRValue& parameters)
{
    const boost::shared_ptr<ZRConnection> connection = usableConnection(handle);
    const boost::shared_ptr<zr__ZRModuleInfoVexel> info =
        connection ? connection->getModuleInfo() : boost::shared_ptr<zr__ZRModuleInfoVexel>();
    if (!info)
        throw ZRError(kModule, "callMethod" + methodName, kNotInitialized, __FILE__, __LINE__)
            .withKind(ZRErrorKind::ConnectionFailed);

    struct soap* context = connection->context;
    zrsoap::zrbroker__callVexelResponse response;
    ZRValue& result = response._return;

    {
        // A call that failed left its exchange in the context, its fault
        // readable until now; a run of failing calls must not pile them up.
        const ContextCleanup previous(context);
    }
    const std::string endpoint = connection->getEndpoint();
    // gSOAP would talk to standard input and output for lack of a host.
    if (!isAcceptableHost(hostOfUrl(endpoint)))
        throw ZRError(info->name, std::string("SOAP error:") + kNoHost,
                      std::string("SOAP detail: ") + kNoHostDetail, nullptr, 0)
            .withKind(ZRErrorKind::ConnectionFailed)
            .withFault(kNoHost, kNoHostDetail);
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
        if (exchangeReport(context).end == ZRWaitEnd::Completed) {
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
        throw ZRError(info->name, methodName, limit, nullptr, 0).withKind(limitKind(report));
    }
    if (status != SOAP_OK) {
        if (!result.hasValue()) {
            describeFailure(context);
            // The context is not cleaned up: the fault stays readable until
            // the next exchange, which starts afresh anyway.
            const std::string faultString = textOrEmpty(soap_faultstring(context));
            const std::string detail = textOrEmpty(soap_faultdetail(context));
            throw ZRError(info->name, "SOAP error:" + faultString, "SOAP detail: " + detail, nullptr, 0)
                .withKind(callFailureKind(context, report))
                .withFault(faultString, detail);
        }
    }

    const ContextCleanup cleanup(context);
    int attachmentIndex = 0;
    // Throws when Binary bytes were lost on the way; only a result that
    // comes back whole earns the warning below instead of an error.
    restoreBinaryAttachments(context, result, attachmentIndex);
    if (status != SOAP_OK)
        printDiagnostic("\nThe return value mismatch with communication protocol, check your return value\n");
    // The response is a local of this call: its value can go to the caller
    // whole instead of as a deep copy.
    return std::move(result);
}

}  // namespace ZR
