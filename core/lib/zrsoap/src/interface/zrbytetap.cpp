// SPDX-License-Identifier: GPL-2.0-or-later
// The byte tap's plug-in entry: the callbacks it wraps and the tap it
// hands the bytes to.
#include "zrbytetap.h"

#include <netdb.h>
#include <sys/socket.h>

#include <stdsoap2.h>

namespace ZR {

namespace {

const char kPluginId[] = "ZR-ExchangeRecorder";

struct TapState {
    int (*send)(struct soap*, const char*, size_t) = nullptr;
    size_t (*receive)(struct soap*, char*, size_t) = nullptr;
    ZRByteTap* tap = nullptr;
};

TapState* stateOf(struct soap* soap)
{
    return static_cast<TapState*>(soap_lookup_plugin(soap, kPluginId));
}

int sendBytes(struct soap* soap, const char* data, size_t size)
{
    TapState* state = stateOf(soap);
    if (state->tap->listening)
        state->tap->sent(soap, data, size);
    return state->send(soap, data, size);
}

size_t receiveBytes(struct soap* soap, char* buffer, size_t size)
{
    TapState* state = stateOf(soap);
    const size_t received = state->receive(soap, buffer, size);
    if (state->tap->listening && received > 0)
        state->tap->received(buffer, received);
    return received;
}

int copyState(struct soap*, struct soap_plugin* destination, struct soap_plugin* source)
{
    const TapState& original = *static_cast<const TapState*>(source->data);
    TapState* copy = new TapState(original);
    copy->tap = original.tap->copy();
    destination->data = copy;
    return SOAP_OK;
}

void deleteState(struct soap*, struct soap_plugin* plugin)
{
    TapState* state = static_cast<TapState*>(plugin->data);
    delete state->tap;
    delete state;
    plugin->data = nullptr;
}

int createPlugin(struct soap* soap, struct soap_plugin* plugin, void* tap)
{
    TapState* state = new TapState;
    state->send = soap->fsend;
    state->receive = soap->frecv;
    state->tap = static_cast<ZRByteTap*>(tap);
    plugin->id = kPluginId;
    plugin->data = state;
    plugin->fcopy = copyState;
    plugin->fdelete = deleteState;
    soap->fsend = sendBytes;
    soap->frecv = receiveBytes;
    return SOAP_OK;
}

}  // namespace

void installByteTap(struct soap* context, ZRByteTap* tap)
{
    if (stateOf(context) || soap_register_plugin_arg(context, createPlugin, tap) != SOAP_OK)
        delete tap;
}

ZRByteTap* byteTapOf(struct soap* context)
{
    const TapState* state = stateOf(context);
    return state ? state->tap : nullptr;
}

std::string connectedPeerAddress(struct soap* context)
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    char host[NI_MAXHOST];
    if (!soap_valid_socket(context->socket) ||
        ::getpeername(context->socket, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        ::getnameinfo(reinterpret_cast<sockaddr*>(&address), length, host, sizeof host, nullptr, 0,
                      NI_NUMERICHOST) != 0)
        return std::string();
    return host;
}

}  // namespace ZR
