// SPDX-License-Identifier: GPL-2.0-or-later
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
// Each process starts its keys at a random point far from 0, so that a key
// carried into another process (a saved raw handle) is unlikely to name one
// of that process's proxies.
ZR_API std::uint32_t add(std::unique_ptr<ZRProxyRemote> proxy);
// The proxy for `key`, or null when no live proxy has that key (0 included).
// The pointer stays valid until remove(key).
ZR_API ZRProxyRemote* find(std::uint32_t key);
// Destroys the proxy for `key`, closing its connection. False when there
// was none (already removed, never issued, or 0).
ZR_API bool remove(std::uint32_t key);
// Number of live proxies.
ZR_API std::size_t size();

}  // namespace ZRProxyRegistry

}  // namespace ZR
