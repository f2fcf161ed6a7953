// SPDX-License-Identifier: GPL-2.0-or-later
// Records what goes over the wire: a byte tap (zrbytetap.h) that sees every
// byte a context sends and receives, and a guard that turns the bytes of
// one exchange into a record for the connection's history and the
// process's trace. While neither wants a record, the tap passes bytes on
// after one flag test.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include <boost/shared_ptr.hpp>

#include "zrexchangehistory.h"
#include "zrvalue.h"

struct soap;

namespace ZR {

struct RecorderState;

// Taps the bytes of `context`, whatever transport and limits are installed
// at the time. Installing twice does nothing.
void installExchangeRecorder(struct soap* context);

// Where the exchanges of `context` go besides the trace: a proxy's history,
// shared by all its connections. Null for none.
void setExchangeHistory(struct soap* context, std::shared_ptr<ZRExchangeHistory> history);

// One exchange on a connection, recorded from construction to finish().
// `module` empty means the connection's module. A connection without a
// context, or one whose history keeps nothing while the trace is off, is
// not recorded.
class ZRExchangeRecording {
public:
    ZRExchangeRecording(const boost::shared_ptr<ZRValue>& connection, const std::string& method,
                        const std::string& module);
    // Unfinished (an exception that is no ZRError went through): recorded
    // as failed.
    ~ZRExchangeRecording();
    ZRExchangeRecording(const ZRExchangeRecording&) = delete;
    ZRExchangeRecording& operator=(const ZRExchangeRecording&) = delete;

    bool active() const { return state_ != nullptr; }
    // `outcome` null on success, else the error identifier.
    void finish(const char* outcome) noexcept;

private:
    RecorderState* state_ = nullptr;
};

// Runs `exchange` (one request and its reply on `connection`) and records
// it with its outcome.
template <typename Exchange>
auto recordExchange(const boost::shared_ptr<ZRValue>& connection, const std::string& method,
                    const std::string& module, Exchange&& exchange) -> decltype(exchange())
{
    ZRExchangeRecording recording(connection, method, module);
    if (!recording.active())
        return exchange();
    try {
        auto result = exchange();
        recording.finish(nullptr);
        return result;
    } catch (const ZRError& error) {
        recording.finish(errorIdentifier(error.kind()));
        throw;
    }
}

}  // namespace ZR
