// ZRNetwork: creation of SOAP connections and the three broker operations.
// gSOAP reports failures as integer codes; they become exceptions here, where
// the generated stubs are called.
#include "zrnetwork.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <utility>

#include "zrreplylimit.h"
#include "zrsoapH.h"
#include "zrvaluesoap.h"

namespace ZR {

namespace {

const char* const kModule = "ZRNetwork";
const char* const kNotInitialized = "connection not initialized";

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
    // Without time-outs, a read past the end of a reply would wait for as
    // long as the peer keeps the connection open.
    installReplyLimit(context);
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
    if (!connection || !moduleInfo)
        throw ZRNetworkError(kModule, "getModuleByName", kNotInitialized, __FILE__, __LINE__);

    const std::string endpoint = connection->getEndpoint();
    zrsoap::zrbroker__getModuleByNameResponse response;
    const int status = zrsoap::soap_call_zrbroker__getModuleByName(connection->context, endpoint.c_str(), "",
                                                                   moduleName, response);
    if (status != SOAP_OK)
        throw ZRNetworkError(kModule, "getModuleByName",
                             "failed to get module " + moduleName + " " + endpoint, __FILE__, __LINE__);

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
    url << "http://" << ip << ":" << port;
    connection->endpoint = url.str();
}

ZRValue ZRNetwork::callMethod(const boost::shared_ptr<ZRValue>& handle, const std::string& methodName,
                              const ZRValue& parameters)
{
    const boost::shared_ptr<ZRConnection> connection = usableConnection(handle);
    const boost::shared_ptr<zr__ZRModuleInfoVexel> info =
        connection ? connection->getModuleInfo() : boost::shared_ptr<zr__ZRModuleInfoVexel>();
    if (!info)
        throw ZRError(kModule, "callMethod" + methodName, kNotInitialized, __FILE__, __LINE__);

    struct soap* context = connection->context;
    zrsoap::zrbroker__callVexelResponse response;
    ZRValue& result = response._return;

    {
        // A call that failed left its exchange in the context, its fault
        // readable until now; a run of failing calls must not pile them up.
        const ContextCleanup previous(context);
    }
    registerBinaryAttachments(context, parameters);
    const std::string endpoint = connection->getEndpoint();
    const ZRValueTextReuse textReuse(context);
    // A ZRError from the value reader (a fault element where the value
    // should be) passes through; the reader has dropped the half-read
    // connection by then.
    const int status = zrsoap::soap_call_zrbroker__callVexel(context, endpoint.c_str(), "", info->name,
                                                             methodName, parameters, response);
    if (status != SOAP_OK) {
        if (!result.hasValue()) {
            // A received fault carries its own texts. For a transport, HTTP
            // or parse failure gSOAP only records the error code; have it
            // describe the code so the user sees more than an empty text.
            if (context->error != SOAP_FAULT && !*soap_faultstring(context))
                soap_set_fault(context);
            // The context is not cleaned up: the fault stays readable until
            // the next exchange, which starts afresh anyway.
            throw ZRError(info->name, "SOAP error:" + textOrEmpty(soap_faultstring(context)),
                          "SOAP detail: " + textOrEmpty(soap_faultdetail(context)), nullptr, 0);
        }
    }

    const ContextCleanup cleanup(context);
    int attachmentIndex = 0;
    // Throws when Binary bytes were lost on the way; only a result that
    // comes back whole earns the warning below instead of an error.
    restoreBinaryAttachments(context, result, attachmentIndex);
    if (status != SOAP_OK)
        std::printf("\nThe return value mismatch with communication protocol, check your return value\n");
    // The response is a local of this call: its value can go to the caller
    // whole instead of as a deep copy.
    return std::move(result);
}

}  // namespace ZR
