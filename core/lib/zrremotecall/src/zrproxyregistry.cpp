// SPDX-License-Identifier: GPL-2.0-or-later
// The registry of live proxies: a map from never-repeating keys to the
// proxies it owns, until they are removed.
#include "zrproxyregistry.h"

#include <limits>
#include <map>
#include <mutex>
#include <random>

namespace ZR {

namespace ZRProxyRegistry {

namespace {

// Keys start somewhere in [2^20, 2^31): small numbers that tests and
// users type by hand never name a proxy, and at least 2^31 keys remain.
std::uint32_t randomFirstKey()
{
    std::random_device entropy;
    std::uniform_int_distribution<std::uint32_t> pick(1u << 20, (1u << 31) - 1);
    return pick(entropy);
}

struct Registry {
    std::mutex mutex;
    std::map<std::uint32_t, std::unique_ptr<ZRProxyRemote>> proxies;
    std::uint32_t lastKey = randomFirstKey();
};

Registry& registry()
{
    static Registry instance;
    return instance;
}

}  // namespace

std::uint32_t add(std::unique_ptr<ZRProxyRemote> proxy)
{
    if (!proxy)
        throw ZRError("ZRProxyRegistry", "add", "no proxy to register", __FILE__, __LINE__);
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    // A wrapped counter would hand out keys again; refuse instead.
    if (r.lastKey == std::numeric_limits<std::uint32_t>::max())
        throw ZRError("ZRProxyRegistry", "add", "no proxy keys left", __FILE__, __LINE__);
    const std::uint32_t key = ++r.lastKey;
    r.proxies.emplace(key, std::move(proxy));
    return key;
}

ZRProxyRemote* find(std::uint32_t key)
{
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.proxies.find(key);
    return it == r.proxies.end() ? nullptr : it->second.get();
}

bool remove(std::uint32_t key)
{
    std::unique_ptr<ZRProxyRemote> removed;
    {
        Registry& r = registry();
        std::lock_guard<std::mutex> lock(r.mutex);
        auto it = r.proxies.find(key);
        if (it == r.proxies.end())
            return false;
        removed = std::move(it->second);
        r.proxies.erase(it);
    }
    // Closed outside the lock: closing a connection may take a moment.
    return true;
}

std::size_t size()
{
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    return r.proxies.size();
}

}  // namespace ZRProxyRegistry

}  // namespace ZR
