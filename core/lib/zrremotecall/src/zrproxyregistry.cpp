// The registry of live proxies: a map from never-repeating keys to the
// proxies it owns. Proxies are never removed, so a pointer handed out by
// find() stays valid for the life of the process.
#include "zrproxyregistry.h"

#include <limits>
#include <map>
#include <mutex>

namespace ZR {

namespace ZRProxyRegistry {

namespace {

struct Registry {
    std::mutex mutex;
    std::map<std::uint32_t, std::unique_ptr<ZRProxyRemote>> proxies;
    std::uint32_t lastKey = 0;
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

std::size_t size()
{
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    return r.proxies.size();
}

}  // namespace ZRProxyRegistry

}  // namespace ZR
