// SPDX-License-Identifier: GPL-2.0-or-later
// Helpers for the fault-injection tests: calls guarded against hanging, and
// the outcome of a call as the user sees it (a value or an error text).
#pragma once

#include <chrono>
#include <functional>
#include <future>
#include <string>

#include <gtest/gtest.h>

#include "expectthrow.h"
#include "zrvalue.h"

namespace ZRTest {

// A call that has not returned after this long is taken to hang.
constexpr std::chrono::seconds kHangLimit{20};

struct CallOutcome {
    bool raised = false;
    bool hung = false;
    std::string error;
    ZR::ZRErrorKind kind = ZR::ZRErrorKind::Unspecified;
    ZR::ZRValue value;
};

// Runs `call` on a worker thread. If it is still blocked after kHangLimit,
// the outcome says so and `unblock` (which must make the call return, for
// example by stopping the peer) is run before the worker is joined.
inline CallOutcome guardedCall(const std::function<ZR::ZRValue()>& call, const std::function<void()>& unblock)
{
    std::future<ZR::ZRValue> pending = std::async(std::launch::async, call);
    CallOutcome outcome;
    if (pending.wait_for(kHangLimit) != std::future_status::ready) {
        outcome.hung = true;
        unblock();
    }
    try {
        outcome.value = pending.get();
    } catch (const ZR::ZRError& error) {
        outcome.raised = true;
        outcome.error = error.what();
        outcome.kind = error.kind();
    }
    return outcome;
}

// What a case expects: a value, an exact error text, (for texts that gSOAP
// composes) an error text that starts with a given prefix, or only that the
// call returns (where gSOAP's answer depends on how the bytes were split).
// A reply that cannot be decoded faithfully is also marked as such.
struct Expected {
    enum class Kind { Value, Error, ErrorPrefix, Returns };
    Kind kind;
    ZR::ZRValue value;
    std::string text;
    bool marksBadReply = false;

    static Expected valueOf(const ZR::ZRValue& value) { return {Kind::Value, value, ""}; }
    static Expected error(std::string text) { return {Kind::Error, ZR::ZRValue(), std::move(text)}; }
    static Expected badReply(std::string text) { return {Kind::Error, ZR::ZRValue(), std::move(text), true}; }
    static Expected errorStartingWith(std::string text)
    {
        return {Kind::ErrorPrefix, ZR::ZRValue(), std::move(text)};
    }
    static Expected returns() { return {Kind::Returns, ZR::ZRValue(), ""}; }
};

inline void expectOutcome(const CallOutcome& outcome, const Expected& expected)
{
    ASSERT_FALSE(outcome.hung) << "the call did not return";
    switch (expected.kind) {
    case Expected::Kind::Value:
        EXPECT_FALSE(outcome.raised) << visibleText(outcome.error);
        EXPECT_TRUE(outcome.value == expected.value)
            << "got " << outcome.value.toString(1) << ", expected " << expected.value.toString(1);
        break;
    case Expected::Kind::Error:
        EXPECT_TRUE(outcome.raised) << "returned " << outcome.value.toString(1);
        EXPECT_EQ(visibleText(outcome.error), visibleText(expected.text));
        if (expected.marksBadReply) {
            EXPECT_EQ(outcome.kind, ZR::ZRErrorKind::BadReply);
        }
        break;
    case Expected::Kind::ErrorPrefix:
        EXPECT_TRUE(outcome.raised) << "returned " << outcome.value.toString(1);
        EXPECT_EQ(visibleText(outcome.error.substr(0, expected.text.size())), visibleText(expected.text))
            << "whole text: " << visibleText(outcome.error);
        break;
    case Expected::Kind::Returns: break;
    }
}

}  // namespace ZRTest
