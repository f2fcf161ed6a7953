// ZRProxyRemote: one named module hosted by a remote broker. Building one
// looks the module up at the broker; call() invokes one of its methods.
#pragma once

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
