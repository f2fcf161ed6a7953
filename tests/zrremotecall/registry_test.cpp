// SPDX-License-Identifier: GPL-2.0-or-later
// The registry of live proxies: keys, look-up and ownership.
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "brokerreplies.h"
#include "expectthrow.h"
#include "scriptedpeer.h"
#include "zrmoduleinfo.h"
#include "zrproxyregistry.h"

using ZR::ZRError;
using ZR::ZRProxyRemote;
namespace ZRProxyRegistry = ZR::ZRProxyRegistry;

namespace {

TEST(ProxyRegistry, HandsOutFreshNonZeroKeys)
{
    ZRTest::ScriptedPeer broker;
    const int count = 3;
    for (int i = 0; i < count; ++i)
        broker.push(ZRTest::lookupReply("Module" + std::to_string(i), "127.0.0.1", 7000 + i));

    const std::size_t before = ZRProxyRegistry::size();
    std::vector<std::uint32_t> keys;
    std::vector<const ZRProxyRemote*> proxies;
    for (int i = 0; i < count; ++i) {
        std::unique_ptr<ZRProxyRemote> proxy(
            new ZRProxyRemote("Module" + std::to_string(i), "127.0.0.1", broker.port(), 0, 0));
        proxies.push_back(proxy.get());
        keys.push_back(ZRProxyRegistry::add(std::move(proxy)));
    }

    EXPECT_EQ(ZRProxyRegistry::size(), before + count);
    for (int i = 0; i < count; ++i) {
        EXPECT_NE(keys[i], 0u);
        if (i > 0) {
            EXPECT_GT(keys[i], keys[i - 1]) << "keys must never come back";
        }
        EXPECT_EQ(ZRProxyRegistry::find(keys[i]), proxies[i]);
        EXPECT_EQ(ZRProxyRegistry::find(keys[i])->moduleInfo().name, "Module" + std::to_string(i));
    }
}

TEST(ProxyRegistry, RemovedProxiesAreGoneForGood)
{
    ZRTest::ScriptedPeer broker;
    broker.push(ZRTest::lookupReply("Tracker", "127.0.0.1", 7000));
    const std::size_t before = ZRProxyRegistry::size();
    const std::uint32_t key = ZRProxyRegistry::add(
        std::unique_ptr<ZRProxyRemote>(new ZRProxyRemote("Tracker", "127.0.0.1", broker.port(), 0, 0)));
    // Far from the small numbers a hand-made or foreign handle holds.
    EXPECT_GE(key, 1u << 20);

    EXPECT_TRUE(ZRProxyRegistry::remove(key));
    EXPECT_EQ(ZRProxyRegistry::find(key), nullptr);
    EXPECT_EQ(ZRProxyRegistry::size(), before);
    EXPECT_FALSE(ZRProxyRegistry::remove(key));
    EXPECT_FALSE(ZRProxyRegistry::remove(0));
}

TEST(ProxyRegistry, UnknownKeysFindNothing)
{
    EXPECT_EQ(ZRProxyRegistry::find(0), nullptr);
    EXPECT_EQ(ZRProxyRegistry::find(std::numeric_limits<std::uint32_t>::max()), nullptr);
    EXPECT_EQ(ZRProxyRegistry::find(static_cast<std::uint32_t>(ZRProxyRegistry::size()) + 1000), nullptr);
}

TEST(ProxyRegistry, RefusesAMissingProxy)
{
    const std::size_t before = ZRProxyRegistry::size();
    EXPECT_THROW_MSG(ZRProxyRegistry::add(nullptr), ZRError,
                     "\tZRProxyRegistry::add\n\tno proxy to register");
    EXPECT_EQ(ZRProxyRegistry::size(), before);
}

}  // namespace
