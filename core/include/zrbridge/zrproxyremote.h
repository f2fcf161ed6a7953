// SPDX-License-Identifier: GPL-2.0-or-later
// ZRProxyRemote: one named module hosted by a remote broker. Building one
// looks the module up at the broker; call() invokes one of its methods.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "zrcalllimits.h"
#include "zrerror.h"
#include "zrexchangehistory.h"
#include "zrexport.h"
#include "zrmoduleinfo.h"
#include "zrvalue.h"

namespace ZR {

struct ZRProxyRemoteData;

struct ZRCallFutureState;

// Where a call started with ZRProxyRemote::start() is.
enum class ZRCallState {
    Queued,    // waiting for a free connection
    Running,   // on a connection of its own
    Finished,  // with a result or an error; it stays so
};

// The handle of a call that runs in the background. Copies share the call.
// Every member may be used from any thread; the result and the error of a
// finished call never change again, and outlive the proxy that made it.
class ZR_API ZRCallFuture {
public:
    // A handle with no call: valid() is false, every other member throws.
    ZRCallFuture();

    bool valid() const { return static_cast<bool>(state_); }
    ZRCallState state() const;

    // Blocks until the call has finished (true), `seconds` have passed (less
    // than 0: no limit), or `interrupted` says stop (asked at least every
    // 50 ms on the waiting thread); false in both latter cases, the call
    // going on.
    bool wait(double seconds = -1, const ZRInterruptCheck& interrupted = ZRInterruptCheck()) const;

    // Waits, then gives the result (unwrapped as call() unwraps it), or
    // raises the call's error: a ZRError of the kind and text that call()
    // would have raised. May be asked again; the reference lives as long as
    // a handle.
    const ZRValue& get() const;

    // Of a finished call, its error as get() would raise it (kind and text);
    // null when it has a result or is not finished.
    const ZRError* error() const;

    // Ends the call unless it has finished: a queued one never starts, a
    // running one drops its connection at once (the worker notices within
    // 50 ms). Either way it is finished now, with a ZRErrorKind::Cancelled
    // error. False when it had already finished, which it keeps as it was.
    bool cancel() const;

    // The index of one finished call among `futures` (invalid handles are
    // skipped), waiting up to `seconds` (less than 0: no limit) while
    // `interrupted` allows; -1 when none finished in time. Indices in `skip`
    // (sorted or not) are not considered.
    static int waitAny(const std::vector<ZRCallFuture>& futures, const std::vector<std::size_t>& skip,
                       double seconds, const ZRInterruptCheck& interrupted = ZRInterruptCheck());

private:
    friend class ZRCallPool;
    explicit ZRCallFuture(std::shared_ptr<ZRCallFutureState> state);
    std::shared_ptr<ZRCallFutureState> state_;
};

// The peer's own texts of the last failure (see ZRError::faultString()).
struct ZRFaultTexts {
    std::string faultString;
    std::string detail;
};

class ZR_API ZRProxyRemote {
public:
    // Raises ZRNetworkError when the broker cannot be reached or does not
    // know the module. `extra` is unused; `timeout` goes to the module
    // connection (0: no time-outs).
    ZRProxyRemote(const std::string& moduleName, const std::string& host, int port, int extra, int timeout);
    // The same with the caller's limits: ConnectTimeout bounds the look-up
    // (Timeout does when ConnectTimeout is 0), and both become the defaults
    // of call(). `interrupted` is asked while the look-up waits. Every
    // exchange, the look-up included, goes to `history` when it keeps any
    // (also when construction fails); null gives the proxy a history that
    // keeps nothing until setHistorySize().
    ZRProxyRemote(const std::string& moduleName, const std::string& host, int port,
                  const ZRCallLimits& limits, const ZRInterruptCheck& interrupted = ZRInterruptCheck(),
                  std::shared_ptr<ZRExchangeHistory> history = nullptr);
    virtual ~ZRProxyRemote();

    ZRProxyRemote(const ZRProxyRemote&) = delete;
    ZRProxyRemote& operator=(const ZRProxyRemote&) = delete;

    // One remote call; a reply Array(Int 1 or Int 0, X, ...) is unwrapped to X.
    // Runs under the limits given at construction.
    void call(const std::string& methodName, const ZRValue& parameters, ZRValue& result);
    // The same under `limits`, asking `interrupted` while it waits. When the
    // module cannot be connected to (the request was certainly not sent),
    // the broker is asked once for the module's current address and the
    // call is made once more.
    void call(const std::string& methodName, const ZRValue& parameters, ZRValue& result,
              const ZRCallLimits& limits, const ZRInterruptCheck& interrupted);

    // Starts a call in the background and returns at once. Up to
    // connections() calls run side by side, each on a connection of its own
    // to the module (made on first need, kept open for the next); the rest
    // wait in the order they were started. The parameters are taken over
    // (and freed once the call is done with them). `limits.timeout` counts
    // from now, queueing included. call() goes on working meanwhile, on its
    // own connection. A call that cannot connect fails with
    // ConnectionFailed; it is not made again after a new look-up. Deleting
    // the proxy cancels the calls that have not finished.
    ZRCallFuture start(const std::string& methodName, ZRValue parameters);
    ZRCallFuture start(const std::string& methodName, ZRValue parameters, const ZRCallLimits& limits);

    // The most connections that started calls use at once (default
    // kDefaultConnections). Lowering it does not close connections already
    // open; it bounds the ones opened from then on. At least 1.
    void setConnections(std::size_t count);
    std::size_t connections() const;
    static constexpr std::size_t kDefaultConnections = 4;

    // The limits given at construction.
    const ZRCallLimits& limits() const;
    // The fault texts of the last call when it failed; empty otherwise.
    const ZRFaultTexts& lastFault() const;

    // The last exchanges of this proxy, oldest first: as many as the
    // history size, 0 (nothing kept, nothing recorded) unless set.
    std::vector<ZRExchangeRecord> history() const;
    std::size_t historySize() const;
    void setHistorySize(std::size_t size);

    // The module's description as the broker reported it (after the fix-ups).
    const zr__ZRModuleInfoVexel& moduleInfo() const;
    // The URL that calls are posted to.
    std::string endpoint() const;

    // Completes a host name: ".local." is appended to a name that does not
    // start with a digit and does not contain ".local".
    static std::string normalizeHost(const std::string& host);

    // The result a reply stands for: element 1 of an Array(Int 1 or Int 0,
    // X, ...) of at least two elements, otherwise the whole reply. Taken by
    // value so that a reply passed as a temporary is moved, never copied.
    static ZRValue unwrapReply(ZRValue reply);

private:
    void connect(const std::string& moduleName, const std::string& host, int port, int timeout,
                 const ZRCallLimits& limits, const ZRInterruptCheck& interrupted,
                 std::shared_ptr<ZRExchangeHistory> history = nullptr);

    ZRProxyRemoteData* d;
};

}  // namespace ZR
