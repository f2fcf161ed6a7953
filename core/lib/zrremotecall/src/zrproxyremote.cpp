// ZRProxyRemote: builds the broker connection for one module, looks the
// module up and moves the connection to the module's own address; call()
// forwards to ZRNetwork::callMethod and unwraps the reply.
#include "zrproxyremote.h"

#include <memory>
#include <sstream>
#include <utility>

#include "zrconnection.h"
#include "zrmoduleinfo.h"
#include "zrnetwork.h"

namespace ZR {

struct ZRProxyRemoteData {
    std::int32_t flag = 0;
    boost::shared_ptr<ZRValue> connection;
    boost::shared_ptr<zr__ZRModuleInfoVexel> moduleInfo;
    std::string text;
    boost::shared_ptr<ZRNetwork> network;
};

namespace {

// Placeholders that the broker's answer replaces.
const std::int32_t kUnknownArchitecture = 3;
const std::int32_t kUnknownId = -1;

}  // namespace

ZRProxyRemote::ZRProxyRemote(const std::string& moduleName, const std::string& host, int port, int /*extra*/,
                             int timeout)
    : d(nullptr)
{
    // Owned locally until construction has succeeded: a failed look-up
    // leaves no record behind.
    std::unique_ptr<ZRProxyRemoteData> data(new ZRProxyRemoteData);
    data->network.reset(new ZRNetwork);

    const std::string completedHost = normalizeHost(host);

    data->moduleInfo.reset(new zr__ZRModuleInfoVexel);
    zr__ZRModuleInfoVexel& info = *data->moduleInfo;
    info.name = moduleName;
    info.architecture = kUnknownArchitecture;
    info.ip = completedHost;
    info.port = port;
    info.processId = kUnknownId;
    info.modulePointer = kUnknownId;
    info.isABroker = false;
    data->flag = 0;

    std::ostringstream url;
    url << "http://" << completedHost << ":" << port;

    data->network->initDefaultConnection(url.str());
    data->connection = data->network->createConnection(data->moduleInfo, url.str(), timeout);
    data->network->getModuleByName(data->connection, moduleName, data->moduleInfo);

    // "0.0.0.0" means "wherever you reached me"; and a client that talks to
    // the loopback address keeps doing so whatever the broker believes its
    // own address to be.
    if (info.ip == "0.0.0.0")
        info.ip = completedHost;
    if (host == "127.0.0.1")
        info.ip = "127.0.0.1";

    data->network->setEndPoint(data->connection, std::string(info.ip), info.port);
    d = data.release();
}

ZRProxyRemote::~ZRProxyRemote()
{
    delete d;
}

void ZRProxyRemote::call(const std::string& methodName, const ZRValue& parameters, ZRValue& result)
{
    result = unwrapReply(d->network->callMethod(d->connection, methodName, parameters));
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
        completed += ".local.";
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
