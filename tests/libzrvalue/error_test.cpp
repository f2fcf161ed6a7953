// SPDX-License-Identifier: GPL-2.0-or-later
// ZRError and ZRNetworkError: text composition, copies, and catching through
// the base classes.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "zrvalue.h"

using ZR::ZRError;
using ZR::ZRNetworkError;

namespace {

struct Composition {
    const char* module;
    const char* method;
    const char* description;
    const char* text;
};

const Composition kCompositions[] = {
    {"ZRValue", "xAssertArraySize", "try to use a Int like an array",
     "\tZRValue::xAssertArraySize\n\ttry to use a Int like an array"},
    {"", "callMethod", "lost", "::callMethod\n\tlost"},
    {"ZRNetwork", "", "lost", "\tZRNetwork\n\tlost"},
    {"", "", "lost", "\n\tlost"},
    {"ZRNetwork", "callMethod", "", "\tZRNetwork::callMethod\n\t"},
    {"M", "m", "two\nlines", "\tM::m\n\ttwo\nlines"},
};

TEST(Error, ComposesModuleMethodAndDescription)
{
    for (const Composition& c : kCompositions) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ZRError::compose(c.module, c.method, c.description), c.text);
        const ZRError error(c.module, c.method, c.description, "somefile.cpp", 12);
        EXPECT_STREQ(error.what(), c.text);
        EXPECT_EQ(error.message(), c.text);
        const ZRNetworkError networkError(c.module, c.method, c.description, nullptr, 0);
        EXPECT_STREQ(networkError.what(), c.text);
    }
}

TEST(Error, FileAndLineDoNotEnterTheText)
{
    const ZRError withFile("ZRValue", "m", "d", "core/libzrvalue/src/zrvalue", 345);
    const ZRError withoutFile("ZRValue", "m", "d", nullptr, -1);
    EXPECT_STREQ(withFile.what(), withoutFile.what());
}

TEST(Error, CopiesKeepTheText)
{
    const ZRError original("ZRValue", "TypeToString", "Unknown type: 9", nullptr, 0);
    const ZRError copy(original);
    EXPECT_STREQ(copy.what(), "\tZRValue::TypeToString\n\tUnknown type: 9");
    ZRError assigned("other", "other", "other", nullptr, 0);
    assigned = original;
    EXPECT_EQ(assigned.message(), original.message());

    const ZRNetworkError network("ZRNetwork", "getModuleByName", "no answer", nullptr, 0);
    const ZRNetworkError networkCopy(network);
    EXPECT_STREQ(networkCopy.what(), network.what());
}

TEST(Error, NetworkErrorIsCaughtThroughEveryBase)
{
    const std::string text = "\tZRNetwork::getModuleByName\n\tno answer";
    auto raise = [] {
        throw ZRNetworkError("ZRNetwork", "getModuleByName", "no answer", __FILE__, __LINE__);
    };

    try {
        raise();
        FAIL() << "nothing thrown";
    } catch (const ZRError& error) {
        EXPECT_EQ(error.message(), text);
    }
    try {
        raise();
        FAIL() << "nothing thrown";
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(error.what(), text);
    }
    try {
        raise();
        FAIL() << "nothing thrown";
    } catch (const std::exception& error) {
        EXPECT_EQ(error.what(), text);
    }
}

}  // namespace
