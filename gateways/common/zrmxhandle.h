// SPDX-License-Identifier: GPL-2.0-or-later
// The handle that connector gives out and both gateways take back: a 1x1
// uint32 array holding a key of the proxy registry, never an address.
#pragma once

#include <cstdint>

#include "mex.h"
#include "zrproxyremote.h"

namespace ZR {

// The answer to every handle that names no live proxy.
extern const char kNullObject[];

// A new handle for `key`, owned by the caller.
mxArray* handleArray(std::uint32_t key);

// The key a handle holds: its first element, or 0 (which names no proxy)
// for an empty one. Anything but a uint32 array is refused with
// zrbridge:invalidHandle and kNullObject.
std::uint32_t handleKey(const mxArray* handle);

// The live proxy a handle names; zrbridge:invalidHandle and kNullObject
// for an unknown, released or 0 key. The reference stays valid until the
// proxy is released.
ZRProxyRemote& proxyOf(const mxArray* handle);

}  // namespace ZR
