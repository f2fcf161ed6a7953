// SPDX-License-Identifier: GPL-2.0-or-later
// The exchange recorder: the byte tap of a context (zrbytetap.h) holding
// the history its context records into and the exchange being recorded.
// Bytes are turned into text as they pass (ZRMessageText), so a large
// message is never held a second time.
#include "zrexchangerecorder.h"

#include <chrono>

#include "zrbytetap.h"
#include "zrconnection.h"
#include "zrhostname.h"
#include "zrmessagetext.h"
#include "zrtrace.h"

namespace ZR {

struct RecorderState : ZRByteTap {
    std::shared_ptr<ZRExchangeHistory> history;

    // The exchange being recorded, if any: `listening` is true while one is.
    bool peerNoted = false;
    ZRMessageText request;
    ZRMessageText reply;
    ZRExchangeRecord record;
    std::chrono::steady_clock::time_point begun;

    void sent(struct soap* context, const char* data, std::size_t size) override
    {
        if (!peerNoted)
            notePeer(context);
        request.add(data, size);
    }

    void received(const char* data, std::size_t size) override { reply.add(data, size); }

    // A copied context records into the same history, but not the exchange
    // its original was in the middle of.
    ZRByteTap* copy() const override
    {
        RecorderState* copy = new RecorderState;
        copy->history = history;
        return copy;
    }

    // The address the connection reached, when the end point named it
    // otherwise ("localhost:4500 (127.0.0.1)").
    void notePeer(struct soap* context)
    {
        peerNoted = true;
        const std::string numeric = connectedPeerAddress(context);
        if (numeric.empty())
            return;
        const std::string& peer = record.peer;
        const std::string named = peer.substr(0, peer.rfind(':'));
        if (named != numeric && named != "[" + numeric + "]")
            record.peer += " (" + numeric + ")";
    }
};

namespace {

RecorderState* stateOf(struct soap* soap)
{
    return dynamic_cast<RecorderState*>(byteTapOf(soap));
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
        installByteTap(context, new RecorderState);
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
    state->listening = true;
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
    if (state_ && state_->listening)
        finish(errorIdentifier(ZRErrorKind::Unspecified));
}

void ZRExchangeRecording::finish(const char* outcome) noexcept
{
    RecorderState& state = *state_;
    state.listening = false;
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
