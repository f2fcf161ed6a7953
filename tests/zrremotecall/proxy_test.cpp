// SPDX-License-Identifier: GPL-2.0-or-later
// ZRProxyRemote's two pure rules: host completion and reply unwrapping.
#include <gtest/gtest.h>

#include "valuebuilders.h"
#include "zrhostname.h"
#include "zrproxyremote.h"

using ZR::ZRProxyRemote;
using ZR::ZRValue;
using ZRTest::arrayOf;

namespace {

TEST(ProxyRemote, NormalizeHostCompletesBareNames)
{
    const struct {
        const char* host;
        const char* completed;
    } cases[] = {
        {"robot", "robot.local."},
        {"robot.local", "robot.local"},
        {"robot.local.", "robot.local."},
        {"robot.localdomain", "robot.localdomain"},
        {"mylocalbox", "mylocalbox.local."},
        {"192.168.1.10", "192.168.1.10"},
        {"127.0.0.1", "127.0.0.1"},
        {"9lives", "9lives"},
        {"", ".local."},
        {"localhost", "localhost.local."},
        {"ROBOT.LOCAL", "ROBOT.LOCAL.local."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ZRProxyRemote::normalizeHost(c.host), c.completed) << "host '" << c.host << "'";
}

// Which texts name a host, how IPv6 literals are written, and which name is
// contacted: completed first, the given name when only that resolves.
TEST(ProxyRemote, HostRules)
{
    const auto resolves = [](const std::string& host) {
        return host == "localhost" || host == "robot.local." || host == "both" || host == "both.local.";
    };
    const struct {
        const char* host;
        bool acceptable;
        const char* contacted;
        const char* inUrl;
    } cases[] = {
        {"127.0.0.1", true, "127.0.0.1", "127.0.0.1"},
        {"localhost", true, "localhost", "localhost"},
        {"robot", true, "robot.local.", "robot"},
        {"both", true, "both.local.", "both"},
        {"nowhere", true, "nowhere.local.", "nowhere"},
        {"::1", true, "::1", "[::1]"},
        {"[::1]", true, "::1", "[::1]"},
        {"::ffff:127.0.0.1", true, "::ffff:127.0.0.1", "[::ffff:127.0.0.1]"},
        {"fe80::1%eth0", true, "fe80::1%eth0", "[fe80::1%eth0]"},
        {"my_host-2.example", true, "my_host-2.example.local.", "my_host-2.example"},
        {"127.0.0.1 ", false, nullptr, nullptr},
        {" 127.0.0.1", false, nullptr, nullptr},
        {"", false, nullptr, nullptr},
        {"a\tb", false, nullptr, nullptr},
        {"host/path", false, nullptr, nullptr},
        {"user@host", false, nullptr, nullptr},
        {"[robot]", false, nullptr, nullptr},
        {"[::1", false, nullptr, nullptr},
        {"127.0.0.1:80", false, nullptr, nullptr},
        {"::1::2", false, nullptr, nullptr},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ZR::isAcceptableHost(c.host), c.acceptable) << "'" << c.host << "'";
        if (c.acceptable) {
            EXPECT_EQ(ZR::chooseHost(c.host, resolves), c.contacted) << c.host;
            EXPECT_EQ(ZR::urlHost(c.host), c.inUrl) << c.host;
            EXPECT_EQ(ZR::hostOfUrl(std::string("http://") + c.inUrl + ":80/x"), c.inUrl) << c.host;
        }
    }
    EXPECT_FALSE(ZR::isAcceptableHost(std::string(256, 'a')));
}

TEST(ProxyRemote, UnwrapReplyTakesTheValueBehindAnIntStatus)
{
    const ZRValue ok("ok");
    const struct {
        const char* name;
        ZRValue reply;
        ZRValue expected;
    } cases[] = {
        {"Int 1 status", arrayOf({ZRValue(1), ok}), ok},
        {"Int 0 status, extra dropped", arrayOf({ZRValue(0), ZRValue(2.5f), ZRValue(9)}), ZRValue(2.5f)},
        {"nested array value", arrayOf({ZRValue(1), arrayOf({ZRValue(7)})}), arrayOf({ZRValue(7)})},
        {"one element", arrayOf({ZRValue(1)}), arrayOf({ZRValue(1)})},
        {"empty array", arrayOf({}), arrayOf({})},
        {"Int 2 status", arrayOf({ZRValue(2), ok}), arrayOf({ZRValue(2), ok})},
        {"Bool status", arrayOf({ZRValue(true), ok}), arrayOf({ZRValue(true), ok})},
        {"Float status", arrayOf({ZRValue(1.0f), ok}), arrayOf({ZRValue(1.0f), ok})},
        {"String status", arrayOf({ZRValue("1"), ZRValue(5)}), arrayOf({ZRValue("1"), ZRValue(5)})},
        {"Int", ZRValue(1), ZRValue(1)},
        {"Invalid", ZRValue(), ZRValue()},
    };
    for (const auto& c : cases) {
        const ZRValue result = ZRProxyRemote::unwrapReply(c.reply);
        EXPECT_EQ(result.valueType(), c.expected.valueType()) << c.name;
        EXPECT_TRUE(result == c.expected) << c.name;
    }
}

}  // namespace
