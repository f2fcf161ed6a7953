// SPDX-License-Identifier: GPL-2.0-or-later
// ZRProxyRemote: builds the broker connection for one module, looks the
// module up and moves the connection to the module's own address; call()
// forwards to ZRNetwork::callMethod, looks the module up again when it
// cannot be reached, and unwraps the reply.
#include "zrproxyremote.h"

#include <memory>
#include <utility>

#include "zrcallpool.h"
#include "zrcompatibility.h"
#include "zrconnection.h"
#include "zrexchangerecorder.h"
#include "zrhostname.h"
#include "zrmoduleinfo.h"
#include "zrnetwork.h"
#include "zrtransport.h"

namespace ZR {

struct ZRProxyRemoteData {
    std::int32_t flag = 0;
    boost::shared_ptr<ZRValue> connection;
    boost::shared_ptr<zr__ZRModuleInfoVexel> moduleInfo;
    std::string text;
    boost::shared_ptr<ZRNetwork> network;

    // What a new look-up needs: the name, the host as given, the host
    // contacted (completed or as given) and the broker's URL.
    std::string moduleName;
    std::string givenHost;
    std::string contactHost;
    std::string brokerUrl;
    ZRCallLimits limits;
    ZRFaultTexts lastFault;
    std::shared_ptr<ZRExchangeHistory> history;

    // The calls started in the background; made on the first. Last, so
    // that its workers are gone before the network they use.
    std::size_t connections = ZRProxyRemote::kDefaultConnections;
    std::unique_ptr<ZRCallPool> pool;

    struct soap* context() const { return boost::static_pointer_cast<ZRConnection>(connection)->context; }
};

namespace {

// Placeholders that the broker's answer replaces.
const std::int32_t kUnknownArchitecture = 3;
const std::int32_t kUnknownId = -1;

// Asks the broker where the module lives and points the connection there.
// On failure the connection keeps the address it had.
void lookUp(ZRProxyRemoteData& data, const ZRCallLimits& limits, ZRDeadline callDeadline,
            const ZRInterruptCheck& interrupted)
{
    const boost::shared_ptr<ZRConnection> connection =
        boost::static_pointer_cast<ZRConnection>(data.connection);
    const std::string previousEndpoint = connection->endpoint;
    connection->endpoint = data.brokerUrl;
    try {
        const ZRExchangeLimits armed(connection->context, ZRExchangeKind::LookUp, limits, callDeadline,
                                     interrupted);
        data.network->getModuleByName(data.connection, data.moduleName, data.moduleInfo);
    } catch (...) {
        connection->endpoint = previousEndpoint;
        throw;
    }

    // "0.0.0.0" means "wherever you reached me"; and a client that talks to
    // the loopback address keeps doing so whatever the broker believes its
    // own address to be.
    zr__ZRModuleInfoVexel& info = *data.moduleInfo;
    if (info.ip == "0.0.0.0")
        info.ip = data.contactHost;
    if (data.givenHost == "127.0.0.1")
        info.ip = "127.0.0.1";
    data.network->setEndPoint(data.connection, std::string(info.ip), info.port);
}

// Whether a failed call may be made once more at the module's current
// address: it could not connect, so the module has not seen the request.
bool mayRetryElsewhere(const ZRError& error, const ZRExchangeReport& report)
{
    return error.kind() == ZRErrorKind::ConnectionFailed && report.connectFailed && !report.sent;
}

}  // namespace

ZRValue callOnConnection(ZRNetwork& network, const boost::shared_ptr<ZRValue>& connection,
                         const std::string& methodName, const ZRValue& parameters)
{
    // Never sent twice: a kept-alive connection the module closed while
    // idle is found and replaced by the transport before the request goes
    // out; once any of it went out, a lost connection fails the call.
    return network.callMethod(connection, methodName, parameters);
}

ZRProxyRemote::ZRProxyRemote(const std::string& moduleName, const std::string& host, int port, int /*extra*/,
                             int timeout)
    : d(nullptr)
{
    connect(moduleName, host, port, timeout, ZRCallLimits(), ZRInterruptCheck());
}

ZRProxyRemote::ZRProxyRemote(const std::string& moduleName, const std::string& host, int port,
                             const ZRCallLimits& limits, const ZRInterruptCheck& interrupted,
                             std::shared_ptr<ZRExchangeHistory> history)
    : d(nullptr)
{
    connect(moduleName, host, port, 0, limits, interrupted, std::move(history));
}

void ZRProxyRemote::connect(const std::string& moduleName, const std::string& host, int port, int timeout,
                            const ZRCallLimits& limits, const ZRInterruptCheck& interrupted,
                            std::shared_ptr<ZRExchangeHistory> history)
{
    // Owned locally until construction has succeeded: a failed look-up
    // leaves no record behind.
    std::unique_ptr<ZRProxyRemoteData> data(new ZRProxyRemoteData);
    data->network.reset(new ZRNetwork);
    data->moduleName = moduleName;
    data->givenHost = host;
    data->contactHost = chooseHost(host);
    data->limits = limits;

    data->moduleInfo.reset(new zr__ZRModuleInfoVexel);
    zr__ZRModuleInfoVexel& info = *data->moduleInfo;
    info.name = moduleName;
    info.architecture = kUnknownArchitecture;
    info.ip = data->contactHost;
    info.port = port;
    info.processId = kUnknownId;
    info.modulePointer = kUnknownId;
    info.isABroker = false;
    data->flag = 0;

    data->brokerUrl = endpointUrl(data->contactHost, port);

    data->network->initDefaultConnection(data->brokerUrl);
    data->connection = data->network->createConnection(data->moduleInfo, data->brokerUrl, timeout);
    data->history = history ? std::move(history) : std::make_shared<ZRExchangeHistory>();
    setExchangeHistory(data->context(), data->history);
    // Users read Timeout as the limit of the whole thing: without a
    // ConnectTimeout of its own, the look-up gets the call's.
    const ZRDeadline lookUpDeadline =
        limits.connectTimeout > 0 ? noDeadline() : deadlineAfter(limits.timeout);
    lookUp(*data, limits, lookUpDeadline, interrupted);
    d = data.release();
}

ZRProxyRemote::~ZRProxyRemote()
{
    delete d;
}

void ZRProxyRemote::call(const std::string& methodName, const ZRValue& parameters, ZRValue& result)
{
    call(methodName, parameters, result, d->limits, ZRInterruptCheck());
}

void ZRProxyRemote::call(const std::string& methodName, const ZRValue& parameters, ZRValue& result,
                         const ZRCallLimits& limits, const ZRInterruptCheck& interrupted)
{
    d->lastFault = ZRFaultTexts();
    const ZRDeadline deadline = deadlineAfter(limits.timeout);
    try {
        ZRValue reply;
        {
            const ZRExchangeLimits armed(d->context(), ZRExchangeKind::Call, limits, deadline, interrupted);
            try {
                reply = callOnConnection(*d->network, d->connection, methodName, parameters);
            } catch (const ZRError& error) {
                // A request that went out is never sent again, whatever
                // became of the connection: the module may have run it. A
                // kept-alive connection the module closed while idle is found
                // before the request goes out, and replaced then.
                const ZRExchangeReport report = exchangeReport(d->context());
                if (!mayRetryElsewhere(error, report))
                    throw;
                try {
                    lookUp(*d, limits, deadline, interrupted);
                } catch (const ZRError& lookUpError) {
                    // The user asked to stop, or time ran out: say so. Any
                    // other failure of the look-up tells less than the
                    // call's own.
                    if (lookUpError.kind() == ZRErrorKind::Timeout ||
                        lookUpError.kind() == ZRErrorKind::Interrupted)
                        throw;
                    throw error;
                }
                reply = d->network->callMethod(d->connection, methodName, parameters);
            }
        }
        result = unwrapReply(std::move(reply));
    } catch (const ZRError& error) {
        d->lastFault = ZRFaultTexts{error.faultString(), error.faultDetail()};
        throw;
    }
}

ZRCallFuture ZRProxyRemote::start(const std::string& methodName, ZRValue parameters)
{
    return start(methodName, std::move(parameters), d->limits);
}

ZRCallFuture ZRProxyRemote::start(const std::string& methodName, ZRValue parameters,
                                  const ZRCallLimits& limits)
{
    if (!d->pool)
        d->pool.reset(new ZRCallPool(*d->network, d->connections));
    // Where call() goes now: a look-up it made since the last start moved it.
    d->pool->setTarget(*d->moduleInfo, endpoint());
    return d->pool->submit(methodName, std::move(parameters), limits);
}

void ZRProxyRemote::setConnections(std::size_t count)
{
    d->connections = count < 1 ? 1 : count;
    if (d->pool)
        d->pool->setConnections(d->connections);
}

std::size_t ZRProxyRemote::connections() const
{
    return d->connections;
}

const ZRCallLimits& ZRProxyRemote::limits() const
{
    return d->limits;
}

const ZRFaultTexts& ZRProxyRemote::lastFault() const
{
    return d->lastFault;
}

std::vector<ZRExchangeRecord> ZRProxyRemote::history() const
{
    return d->history->records();
}

std::size_t ZRProxyRemote::historySize() const
{
    return d->history->capacity();
}

void ZRProxyRemote::setHistorySize(std::size_t size)
{
    d->history->setCapacity(size);
}

const zr__ZRModuleInfoVexel& ZRProxyRemote::moduleInfo() const
{
    return *d->moduleInfo;
}

std::string ZRProxyRemote::endpoint() const
{
    boost::shared_ptr<ZRConnection> connection = boost::dynamic_pointer_cast<ZRConnection>(d->connection);
    return connection ? connection->getEndpoint() : std::string();
}

std::string ZRProxyRemote::normalizeHost(const std::string& host)
{
    std::string completed = host;
    const bool startsWithDigit = !host.empty() && host[0] >= '0' && host[0] <= '9';
    if (!startsWithDigit && host.find(".local") == std::string::npos)
        completed += compatibility::kHostSuffix;
    return completed;
}

ZRValue ZRProxyRemote::unwrapReply(ZRValue reply)
{
    // Modules answer Array(status, value, ...) with status Int 1 or Int 0;
    // the caller only wants the value. Anything else is the result itself.
    // Either way the reply is taken apart, not copied.
    if (reply.valueType() == ZRValue::Array && reply.size() >= 2) {
        const ZRValue& status = reply[0];
        if (status == ZRValue(1) || status == ZRValue(0))
            return std::move(reply[1]);
    }
    return reply;
}

}  // namespace ZR
