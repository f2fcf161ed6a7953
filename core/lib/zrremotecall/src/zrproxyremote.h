// ZRProxyRemote: one named module hosted by a remote broker. Building one
// looks the module up at the broker; call() invokes one of its methods.
#pragma once

#include <string>

#include <boost/shared_ptr.hpp>

#include "zrexport.h"
#include "zrvalue.h"

namespace ZR {

class ZRNetwork;
struct zr__ZRModuleInfoVexel;
struct ZRProxyRemoteData;

class ZR_API ZRProxyRemote {
public:
    // Raises ZRNetworkError when the broker cannot be reached or does not
    // know the module. `extra` is unused; `timeout` goes to the module
    // connection (0: no time-outs).
    ZRProxyRemote(const std::string& moduleName, const std::string& host, int port, int extra,
                  int timeout);
    virtual ~ZRProxyRemote();

    ZRProxyRemote(const ZRProxyRemote&) = delete;
    ZRProxyRemote& operator=(const ZRProxyRemote&) = delete;

    // One remote call; a reply Array(Int 1 or Int 0, X, ...) is unwrapped to X.
    void call(const std::string& methodName, const ZRValue& parameters, ZRValue& result);

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
    ZRProxyRemoteData* d;
};

}  // namespace ZR
