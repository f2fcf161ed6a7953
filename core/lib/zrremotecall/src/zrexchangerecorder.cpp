// SPDX-License-Identifier: GPL-2.0-or-later
// The exchange recorder: a gSOAP plug-in entry holding the callbacks it
// wraps, the history its context records into, and the exchange being
// recorded. Bytes are turned into text as they pass (ZRMessageText), so a
// large message is never held a second time.
#include "zrexchangerecorder.h"

#include <netdb.h>
#include <sys/socket.h>

#include <chrono>

#include <stdsoap2.h>

#include "zrconnection.h"
#include "zrhostname.h"
#include "zrmessagetext.h"
#include "zrpluginstate.h"
#include "zrtrace.h"

namespace ZR {

struct RecorderState {
    int (*send)(struct soap*, const char*, size_t) = nullptr;
    size_t (*receive)(struct soap*, char*, size_t) = nullptr;
    std::shared_ptr<ZRExchangeHistory> history;

    // The exchange being recorded, if any.
    bool recording = false;
    bool peerNoted = false;
    ZRMessageText request;
    ZRMessageText reply;
    ZRExchangeRecord record;
    std::chrono::steady_clock::time_point begun;
};

namespace {

const char kPluginId[] = "ZR-ExchangeRecorder";

RecorderState* stateOf(struct soap* soap)
{
    return static_cast<RecorderState*>(soap_lookup_plugin(soap, kPluginId));
}

// The address the connection reached, when the end point named it
// otherwise ("localhost:4500 (127.0.0.1)").
void notePeer(struct soap* soap, RecorderState& state)
{
    state.peerNoted = true;
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    char host[NI_MAXHOST];
    if (!soap_valid_socket(soap->socket) ||
        ::getpeername(soap->socket, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        ::getnameinfo(reinterpret_cast<sockaddr*>(&address), length, host, sizeof host, nullptr, 0,
                      NI_NUMERICHOST) != 0)
        return;
    const std::string numeric = host;
    const std::string& peer = state.record.peer;
    const std::string named = peer.substr(0, peer.rfind(':'));
    if (named != numeric && named != "[" + numeric + "]")
        state.record.peer += " (" + numeric + ")";
}

int sendBytes(struct soap* soap, const char* data, size_t size)
{
    RecorderState* state = stateOf(soap);
    if (state->recording) {
        if (!state->peerNoted)
            notePeer(soap, *state);
        state->request.add(data, size);
    }
    return state->send(soap, data, size);
}

size_t receiveBytes(struct soap* soap, char* buffer, size_t size)
{
    RecorderState* state = stateOf(soap);
    const size_t received = state->receive(soap, buffer, size);
    if (state->recording && received > 0)
        state->reply.add(buffer, received);
    return received;
}

// A copied context records into the same history, but not the exchange
// its original was in the middle of.
int copyState(struct soap*, struct soap_plugin* destination, struct soap_plugin* source)
{
    const RecorderState& original = *static_cast<const RecorderState*>(source->data);
    RecorderState* copy = new RecorderState;
    copy->send = original.send;
    copy->receive = original.receive;
    copy->history = original.history;
    destination->data = copy;
    return SOAP_OK;
}

int createPlugin(struct soap* soap, struct soap_plugin* plugin, void*)
{
    RecorderState* state = new RecorderState;
    state->send = soap->fsend;
    state->receive = soap->frecv;
    plugin->id = kPluginId;
    plugin->data = state;
    plugin->fcopy = copyState;
    plugin->fdelete = deletePluginState<RecorderState>;
    soap->fsend = sendBytes;
    soap->frecv = receiveBytes;
    return SOAP_OK;
}

double posixSeconds(std::chrono::system_clock::time_point when)
{
    return std::chrono::duration<double>(when.time_since_epoch()).count();
}

}  // namespace

void installExchangeRecorder(struct soap* context)
{
    startTraceFromEnvironment();
    if (!stateOf(context))
        soap_register_plugin_arg(context, createPlugin, nullptr);
}

void setExchangeHistory(struct soap* context, std::shared_ptr<ZRExchangeHistory> history)
{
    if (RecorderState* state = stateOf(context))
        state->history = std::move(history);
}

ZRExchangeRecording::ZRExchangeRecording(const boost::shared_ptr<ZRValue>& handle, const std::string& method,
                                         const std::string& module)
{
    const ZRConnection* connection = dynamic_cast<const ZRConnection*>(handle.get());
    if (!connection || !connection->context)
        return;
    RecorderState* state = stateOf(connection->context);
    if (!state || !((state->history && state->history->capacity() > 0) || traceEnabled()))
        return;
    state_ = state;
    state->recording = true;
    state->peerNoted = false;
    state->request = ZRMessageText();
    state->reply = ZRMessageText();
    ZRExchangeRecord& record = state->record;
    record = ZRExchangeRecord();
    record.method = method;
    if (!module.empty())
        record.module = module;
    else if (connection->moduleInfo)
        record.module = connection->moduleInfo->name;
    record.peer = hostAndPortOfUrl(connection->endpoint);
    record.started = posixSeconds(std::chrono::system_clock::now());
    state->begun = std::chrono::steady_clock::now();
}

ZRExchangeRecording::~ZRExchangeRecording()
{
    if (state_ && state_->recording)
        finish(errorIdentifier(ZRErrorKind::Unspecified));
}

void ZRExchangeRecording::finish(const char* outcome) noexcept
{
    RecorderState& state = *state_;
    state.recording = false;
    try {
        ZRExchangeRecord& record = state.record;
        record.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - state.begun).count();
        record.outcome = outcome ? outcome : "";
        record.request = state.request.take();
        record.reply = state.reply.take();
        if (traceEnabled())
            writeTrace(record);
        if (state.history)
            state.history->add(std::move(record));
        state.record = ZRExchangeRecord();
    } catch (...) {
        // Out of memory while recording: the exchange itself stands.
        state.record = ZRExchangeRecord();
    }
}

}  // namespace ZR
