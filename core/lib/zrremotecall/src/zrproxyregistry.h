// The registry of live proxies: the one owner of every ZRProxyRemote that
// the connector made. MATLAB holds small integer keys into it, never
// addresses, so a forged or stale key is an error rather than a crash.
#pragma once

#include <cstdint>
#include <memory>

#include "zrexport.h"
#include "zrproxyremote.h"

namespace ZR {

namespace ZRProxyRegistry {

// Takes ownership and returns a new non-zero key; keys are never reused.
ZR_API std::uint32_t add(std::unique_ptr<ZRProxyRemote> proxy);
// The proxy for `key`, or null when no live proxy has that key (0 included).
ZR_API ZRProxyRemote* find(std::uint32_t key);
// Number of live proxies.
ZR_API std::size_t size();

}  // namespace ZRProxyRegistry

}  // namespace ZR
