// SPDX-License-Identifier: GPL-2.0-or-later
// ZRNetwork: creation of SOAP connections and the three broker operations,
// as policy: which connection may carry an exchange, and which error, text
// and kind each failure the SOAP exchange (zrsoapexchange.h) reports becomes.
#include "zrnetwork.h"

#include <cstdio>
#include <sstream>
#include <utility>

#include "zrcompatibility.h"
#include "zrdiagnostics.h"
#include "zrexchangerecorder.h"
#include "zrhostname.h"
#include "zrlookupcause.h"
#include "zrsoapexchange.h"
#include "zrthrow.h"

namespace ZR {

namespace {

const char* const kModule = "ZRNetwork";
const char* const kNotInitialized = "connection not initialized";
// The fault texts of an end point whose host cannot name any host.
const char* const kNoHost = "Host not found";
const char* const kNoHostDetail = "no usable host in the end point";

// Time-outs of the default connection, in seconds.
const int kDefaultConnectionTimeout = 8;

struct soap* newContext(const char* method, bool keepAlive)
{
    struct soap* context = newClientContext(keepAlive, isAcceptableHost, installExchangeRecorder);
    if (!context)
        throw ZRError(kModule, method, "cannot allocate a SOAP context", __FILE__, __LINE__);
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

ZRErrorKind lookUpFailureKind(const ZRSoapFailure& failure, const ZRExchangeReport& report)
{
    if (report.connectFailed)
        return ZRErrorKind::BrokerUnreachable;
    if (failure.receivedFault)
        return ZRErrorKind::UnknownModule;
    return ZRErrorKind::LookupFailed;
}

ZRErrorKind callFailureKind(const ZRSoapFailure& failure, const ZRExchangeReport& report)
{
    if (failure.receivedFault)
        return ZRErrorKind::RemoteFault;
    if (report.connectFailed || failure.transportFailure || lostAfterRequest(report))
        return ZRErrorKind::ConnectionFailed;
    return ZRErrorKind::BadReply;
}

std::string bytes(unsigned long long count)
{
    return std::to_string(count) + (count == 1 ? " byte" : " bytes");
}

// The lines that follow the peer's texts in a failed call's error: what the
// transport knows that gSOAP's description does not.
std::string transportLines(const ZRSoapFailure& failure, const ZRExchangeReport& report,
                           const std::string& refusal)
{
    std::string lines;
    if (report.outOfDescriptors)
        lines += "\n\ttoo many open files: the process has no file descriptor left for a connection";
    if (!failure.receivedFault && lostAfterRequest(report)) {
        const char* how = report.reset ? "reset" : "closed";
        lines += report.receivedBytes == 0
                     ? std::string("\n\tthe module ") + how + " the connection after the request went out, " +
                           "before any reply: it may have run the call"
                     : std::string("\n\tthe module ") + how + " the connection after " +
                           bytes(report.receivedBytes) +
                           " of the reply had arrived: it may have run the call";
    }
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
    struct soap* context = newContext("initDefaultConnection", false);
    setContextTimeouts(context, kDefaultConnectionTimeout);
    defaultConnection->context = context;
}

boost::shared_ptr<ZRConnection> ZRNetwork::createConnection(
    const boost::shared_ptr<zr__ZRModuleInfoVexel>& info, const std::string& url, const int& timeout)
{
    boost::shared_ptr<ZRConnection> connection(new ZRConnection);
    connection->endpoint = url;
    // Keep-alive both ways: successive calls reuse one TCP connection for as
    // long as the peer keeps it open.
    connection->context = newContext("createConnection", true);
    setModuleBindFlags(connection->context);
    connection->setModuleInfo(info);
    if (timeout != 0)
        setContextTimeouts(connection->context, timeout);
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

    ZRSoapExchange exchange(connection->context);
    const std::string endpoint = connection->getEndpoint();
    const std::string failed = "failed to get module " + moduleName + " " + endpoint;
    if (!endpointHostUsable(endpoint)) {
        ZRNetworkError error(kModule, "getModuleByName", failed + "\n\t" + unusableHostCause(endpoint),
                             __FILE__, __LINE__);
        error.withFault(kNoHost, kNoHostDetail);
        throwWithKind(error, ZRErrorKind::BrokerUnreachable);
    }
    zr__ZRModuleInfoVexel received;
    if (!exchange.lookUp(endpoint, moduleName, received)) {
        const ZRExchangeReport report = exchange.report();
        const ZRSoapFailure failure = exchange.failure();
        const std::string limit = limitText(report, "no answer", "no answer");
        // Out of descriptors, the transport's own line says why; otherwise
        // the cause the exchange shows.
        const std::string lines =
            report.outOfDescriptors ? transportLines(failure, report, exchange.refusal()) : std::string();
        const std::string cause =
            limit.empty() && lines.empty() ? "\n\t" + lookUpCause(failure, report, endpoint) : "";
        ZRNetworkError error(kModule, "getModuleByName",
                             (limit.empty() ? failed + cause : failed + ": " + limit) + lines, __FILE__,
                             __LINE__);
        error.withFault(failure.faultString, failure.detail);
        // A half-done exchange must not leave its bytes to the next one.
        if (!limit.empty())
            exchange.dropConnection();
        throwWithKind(error, limit.empty() ? lookUpFailureKind(failure, report) : limitKind(report));
    }

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
    *moduleInfo = received;
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
    {
        // A call that failed left its exchange in the context, its fault
        // readable until now; a run of failing calls must not pile them up.
        const ZRSoapExchangeCleanup previous(context);
    }
    const std::string endpoint = connection->getEndpoint();
    if (!endpointHostUsable(endpoint))
        throwWithKind(ZRError(info->name, std::string("SOAP error:") + kNoHost,
                              std::string("SOAP detail: ") + kNoHostDetail, nullptr, 0)
                          .withFault(kNoHost, kNoHostDetail),
                      ZRErrorKind::ConnectionFailed);
    // The exchange's memory goes when the call ends, failed or not: a failed
    // reply can be gigabytes, and nothing reads it after the error is made.
    const ZRSoapExchangeCleanup cleanup(context);
    ZRSoapExchange exchange(context);
    ZRValue result;
    bool completed = true;
    try {
        completed = exchange.call(endpoint, info->name, methodName, parameters, result);
    } catch (ZRError& error) {
        // The value reader refused what it read (a fault element where the
        // value should be) and has dropped the half-read connection. Unless
        // a limit cut the reply short, that is the error to report.
        const ZRExchangeReport report = exchange.report();
        if (report.end == ZRWaitEnd::Completed) {
            // A reply cut off by the peer reads as a broken value; say what
            // happened to the connection instead.
            const std::string refusal = exchange.refusal();
            if (lostAfterRequest(report) || !refusal.empty())
                throwWithKind(ZRError(info->name, methodName,
                                      "the reply could not be read" +
                                          transportLines(exchange.failure(), report, refusal),
                                      nullptr, 0),
                              refusal.empty() ? ZRErrorKind::ConnectionFailed : ZRErrorKind::BadReply);
            if (error.kind() == ZRErrorKind::Unspecified)
                error.withKind(ZRErrorKind::BadReply);
            throw;
        }
        completed = false;
    }
    const ZRExchangeReport report = exchange.report();
    const std::string limit = limitText(report, "no complete reply", "no connection");
    if (!limit.empty()) {
        // Whatever was read, the reply is incomplete, and the rest of it
        // must not be taken for the next one.
        exchange.dropConnection();
        throwWithKind(ZRError(info->name, methodName, limit, nullptr, 0), limitKind(report));
    }
    // A reply the limit refused is bad even when its value was read.
    const std::string refusal = exchange.refusal();
    if (!completed && (!result.hasValue() || !refusal.empty())) {
        const ZRSoapFailure failure = exchange.failure();
        throwWithKind(
            ZRError(info->name, "SOAP error:" + failure.faultString,
                    "SOAP detail: " + failure.detail + transportLines(failure, report, refusal), nullptr, 0)
                .withFault(failure.faultString, failure.detail),
            refusal.empty() ? callFailureKind(failure, report) : ZRErrorKind::BadReply);
    }

    // Throws when Binary bytes were lost on the way; only a result that
    // comes back whole earns the warning below instead of an error.
    exchange.restoreAttachments(result);
    if (!completed)
        printDiagnostic(compatibility::kMismatchLine);
    return result;
}

}  // namespace

}  // namespace ZR
