// SPDX-License-Identifier: GPL-2.0-or-later
// ZRValue: construction, assignment and deep copy, conversions and their type
// checks, array operations, equality, and the failures they raise.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>

#include "expectthrow.h"
#include "valuebuilders.h"
#include "zrvalue.h"

using ZR::TZRValueBytes;
using ZR::TZRValueString;
using ZR::ZRError;
using ZR::ZRValue;
using ZRTest::arrayOf;
using ZRTest::binaryOf;
using ZRTest::objectFromBase64;

namespace {

const std::string kTypeError = "\tZRValue::xAssertType: type error\n\t";
const std::string kCompatibleError = "\tZRValue::xAssertCompatibleType: type error\n\t";
const std::string kSizeError = "\tZRValue::xAssertArraySize\n\t";

const float kNaN = std::numeric_limits<float>::quiet_NaN();

// ---- Construction and assignment -----------------------------------------

TEST(Value, DefaultIsInvalid)
{
    const ZRValue value;
    EXPECT_EQ(value.valueType(), ZRValue::Invalid);
    EXPECT_EQ(value.size(), 0);
    EXPECT_FALSE(value.hasValue());
    EXPECT_THROW_MSG((void)static_cast<bool>(value), ZRError,
                     "\tZRValue::const bool() const\n\tCannot cast to bool an ZRValue of invalid type.");
}

TEST(Value, ConstructorsSetTagAndSize)
{
    struct Case {
        ZRValue value;
        ZRValue::Type type;
        int size;
    };
    const Case cases[] = {
        {ZRValue(true), ZRValue::Bool, 0},
        {ZRValue(-7), ZRValue::Int, 0},
        {ZRValue(2.5f), ZRValue::Float, 0},
        {ZRValue(2.5), ZRValue::Float, 0},
        {ZRValue(std::string("abc")), ZRValue::String, 3},
        {ZRValue("abc"), ZRValue::String, 3},
        {ZRValue(TZRValueString("a\0b", 3)), ZRValue::String, 3},
        {ZRValue(""), ZRValue::String, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value.toString(1));
        EXPECT_EQ(c.value.valueType(), c.type);
        EXPECT_EQ(c.value.size(), c.size);
        EXPECT_TRUE(c.value.hasValue());
        EXPECT_FALSE(c.value.holdsObject());
    }
}

TEST(Value, NullTextIsRefusedAndLeavesTheValue)
{
    const std::string text = "\tZRValue::Assert failed\n\tcore/libzrvalue/src/zrvalue:345";
    const char* none = nullptr;
    ZRValue value(5);
    EXPECT_THROW_MSG(value = none, ZRError, text);
    EXPECT_EQ(value, ZRValue(5));
    EXPECT_THROW_MSG(ZRValue{none}, ZRError, text);
}

TEST(Value, AssignmentChangesKind)
{
    ZRValue value = arrayOf({1, "two"});
    value = 3;
    EXPECT_EQ(value, ZRValue(3));
    value = "text";
    EXPECT_EQ(value, ZRValue("text"));
    value = "longer text that replaces the old one";
    EXPECT_EQ(value.size(), 37);
    value = 1.5f;
    EXPECT_EQ(value, ZRValue(1.5f));
    // A double narrows as it does on the wire: beyond single range to INF.
    value = 0.1;
    EXPECT_EQ(static_cast<float>(value), 0.1f);
    value = 1e39;
    EXPECT_EQ(static_cast<float>(value), std::numeric_limits<float>::infinity());
    value = false;
    EXPECT_EQ(value, ZRValue(false));
    value = TZRValueBytes{1, 0, 2};
    EXPECT_EQ(value.valueType(), ZRValue::Binary);
    EXPECT_EQ(value.size(), 3);
    EXPECT_EQ(value.byteData()[2], 2);
    value = TZRValueBytes{9};
    EXPECT_EQ(value, binaryOf("\x09"));
    value.reset();
    EXPECT_EQ(value.valueType(), ZRValue::Invalid);
    EXPECT_EQ(value.size(), 0);
}

TEST(Value, AssignBytesCopiesTheBytes)
{
    unsigned char bytes[] = {0, 255, 7};
    ZRValue value("was a string");
    value.assignBytes(bytes, 3);
    bytes[0] = 1;
    EXPECT_EQ(value, binaryOf(std::string("\0\xFF\x07", 3)));

    value.assignBytes(bytes, 0);
    EXPECT_EQ(value.valueType(), ZRValue::Binary);
    EXPECT_EQ(value.size(), 0);
    EXPECT_THROW((void)value.byteData(), std::out_of_range);
    EXPECT_THROW(value.assignBytes(bytes, -1), std::length_error);
}

TEST(Value, CopiesAreDeep)
{
    const ZRValue original = arrayOf({arrayOf({1, "inner"}), binaryOf("xy"), "s"});
    ZRValue copy(original);
    ZRValue assigned;
    assigned = original;
    EXPECT_EQ(copy, original);
    EXPECT_EQ(assigned, original);

    copy[0][1] = "changed";
    copy[1].assignBytes("zz", 2);
    assigned[0].append(3);
    EXPECT_EQ(original, arrayOf({arrayOf({1, "inner"}), binaryOf("xy"), "s"}));
    EXPECT_NE(copy, original);
    EXPECT_NE(assigned, original);

    const ZRValue object = objectFromBase64("YWJj");
    const ZRValue objectCopy(object);
    EXPECT_TRUE(objectCopy.holdsObject());
    EXPECT_EQ(objectCopy, object);
}

TEST(Value, SelfAssignmentKeepsTheValue)
{
    ZRValue value = arrayOf({1, arrayOf({"a"})});
    const ZRValue& same = value;
    value = same;
    EXPECT_EQ(value, arrayOf({1, arrayOf({"a"})}));
    ZRValue& alias = value;
    value = std::move(alias);
    EXPECT_EQ(value, arrayOf({1, arrayOf({"a"})}));
}

// The source lives inside the destination: the copy must be taken before
// the destination's payload is released.
TEST(Value, AssignsFromItsOwnElement)
{
    ZRValue value = arrayOf({arrayOf({1, "deep"}), "other"});
    value = value[0];
    EXPECT_EQ(value, arrayOf({1, "deep"}));

    value = value.elements()[1];
    EXPECT_EQ(value, ZRValue("deep"));

    ZRValue moved = arrayOf({arrayOf({2, 3})});
    moved = std::move(moved[0]);
    EXPECT_EQ(moved, arrayOf({2, 3}));
}

// Appending grows the array, which moves the element being appended.
TEST(Value, AppendsItsOwnElementsAndItself)
{
    ZRValue value = arrayOf({"first", arrayOf({1})});
    for (int i = 0; i < 40; ++i)
        value.append(value[i % 2]);
    ASSERT_EQ(value.size(), 42);
    for (int i = 0; i < 42; ++i)
        EXPECT_EQ(value[i], i % 2 == 0 ? ZRValue("first") : arrayOf({1})) << "element " << i;

    ZRValue pair = arrayOf({1, 2});
    pair.append(pair);
    EXPECT_EQ(pair, arrayOf({1, 2, arrayOf({1, 2})}));

    ZRValue nothing;
    nothing.append(nothing);
    EXPECT_EQ(nothing, arrayOf({ZRValue()}));
}

TEST(Value, MoveLeavesTheSourceInvalid)
{
    ZRValue source = arrayOf({"a", 1});
    ZRValue target(std::move(source));
    EXPECT_EQ(source.valueType(), ZRValue::Invalid);
    EXPECT_EQ(target, arrayOf({"a", 1}));
    source = std::move(target);
    EXPECT_EQ(target.valueType(), ZRValue::Invalid);
    EXPECT_EQ(source, arrayOf({"a", 1}));
}

TEST(Value, ResetReleasesEveryKind)
{
    ZRValue values[] = {arrayOf({arrayOf({"x"})}), ZRValue("s"), binaryOf("b"), objectFromBase64("YWJj"),
                        ZRValue(1)};
    for (ZRValue& value : values) {
        value.reset();
        EXPECT_EQ(value.valueType(), ZRValue::Invalid);
        EXPECT_EQ(value.size(), 0);
        EXPECT_FALSE(value.holdsObject());
    }
}

// ---- Conversions -----------------------------------------------------------

TEST(Value, BoolConversion)
{
    struct Case {
        ZRValue value;
        bool expected;
    };
    const Case cases[] = {
        {arrayOf({}), false},          {arrayOf({false}), true},
        {ZRValue(false), false},       {ZRValue(true), true},
        {ZRValue(0), false},           {ZRValue(-3), true},
        {ZRValue(0.0f), false},        {ZRValue(-0.0f), false},
        {ZRValue(kNaN), true},         {ZRValue(0.25f), true},
        {ZRValue(""), false},          {ZRValue("0"), true},
        {binaryOf(""), false},         {binaryOf(std::string(1, '\0')), true},
        {objectFromBase64(""), false}, {objectFromBase64("AA=="), true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(static_cast<bool>(c.value), c.expected) << testing::PrintToString(c.value);
}

TEST(Value, IntConversion)
{
    struct Case {
        ZRValue value;
        int expected;
    };
    // Every non-numeric kind reads as 0 without an error.
    const Case cases[] = {
        {ZRValue(-17), -17}, {ZRValue(true), 1},       {ZRValue(false), 0},           {ZRValue(-2.7f), -2},
        {ZRValue(2.9f), 2},  {ZRValue(kNaN), INT_MIN}, {ZRValue(3e9f), INT_MIN},      {ZRValue("12"), 0},
        {arrayOf({5}), 0},   {binaryOf("\x05"), 0},    {objectFromBase64("BQ=="), 0}, {ZRValue(), 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(static_cast<int>(c.value), c.expected) << testing::PrintToString(c.value);
}

TEST(Value, FloatConversion)
{
    EXPECT_EQ(static_cast<float>(ZRValue(2.5f)), 2.5f);
    EXPECT_EQ(static_cast<float>(ZRValue(16777217)), 16777216.0f);

    struct Case {
        ZRValue value;
        const char* description;
    };
    const Case cases[] = {
        {ZRValue("ab"), "Expected a Float but received a String (zrvalue contents: \"ab\" )"},
        {ZRValue(true), "Expected a Float but received a Bool (zrvalue contents: true )"},
        {ZRValue(), "Expected a Float but received a Invalid (zrvalue contents:  )"},
        {arrayOf({1, "x"}), "Expected a Float but received a Array (zrvalue contents: [1, \"x\"] )"},
        {binaryOf("\x01\xFF"), "Expected a Float but received a Binary (zrvalue contents: \\1\\255 )"},
    };
    for (const Case& c : cases)
        EXPECT_THROW_MSG((void)static_cast<float>(c.value), ZRError, kTypeError + c.description);
}

TEST(Value, TypeCheckExemptions)
{
    struct Case {
        ZRValue value;
        ZRValue::Type wanted;
        bool passes;
    };
    const Case cases[] = {
        {ZRValue("s"), ZRValue::String, true},  // same tag
        {ZRValue("s"), ZRValue::Int, true},     // a wanted Int always passes
        {arrayOf({}), ZRValue::Int, true},
        {ZRValue(1.0f), ZRValue::String, true},  // a stored Float always passes
        {ZRValue(1.0f), ZRValue::Array, true},
        {ZRValue(1), ZRValue::Float, false},
        {ZRValue(true), ZRValue::Int, true},
        {ZRValue(1), ZRValue::Bool, false},
        {ZRValue(), ZRValue::Array, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.value) + " as " + ZRValue::TypeToString(c.wanted));
        if (c.passes)
            EXPECT_NO_THROW(c.value.xAssertType(c.wanted));
        else
            EXPECT_THROW(c.value.xAssertType(c.wanted), ZRError);
    }
    EXPECT_THROW_MSG(ZRValue(1).xAssertType(ZRValue::Bool), ZRError,
                     kTypeError + "Expected a Bool but received a Int (zrvalue contents: 1 )");
}

// ---- The string accessor ---------------------------------------------------

const char* const kWarning =
    "WARNING: ZRValue::operator const TZRValueString&: creating a string on the fly to patch possible ruby "
    "encoding problem (size of binary: %d)\n";

std::string warningFor(int size)
{
    char line[256];
    std::snprintf(line, sizeof line, kWarning, size);
    return line;
}

TEST(Value, StringAccessorReturnsTheString)
{
    ZRValue value(TZRValueString("a\0b", 3));
    testing::internal::CaptureStdout();
    const TZRValueString& text = value;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(text, TZRValueString("a\0b", 3));
}

TEST(Value, StringAccessorTurnsSmallBinaryIntoString)
{
    ZRValue value = binaryOf("abc");
    testing::internal::CaptureStdout();
    const TZRValueString first = value;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), warningFor(3));
    EXPECT_EQ(first, TZRValueString("abc\0", 4));
    EXPECT_EQ(value.valueType(), ZRValue::String);
    EXPECT_EQ(value.size(), 4);

    testing::internal::CaptureStdout();
    const TZRValueString second = value;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(second, first);

    ZRValue empty = binaryOf("");
    testing::internal::CaptureStdout();
    const TZRValueString nul = empty;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), warningFor(0));
    EXPECT_EQ(nul, TZRValueString(1, '\0'));
}

TEST(Value, StringAccessorConvertsBinaryOnlyBelow100000Bytes)
{
    ZRValue below = binaryOf(std::string(99999, 'A'));
    testing::internal::CaptureStdout();
    const TZRValueString converted = below;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), warningFor(99999));
    EXPECT_EQ(converted.size(), 100000u);

    ZRValue limit = binaryOf(std::string(100000, 'A'));
    std::string rendering;
    for (int i = 0; i < 100000; ++i)
        rendering += "\\65";
    testing::internal::CaptureStdout();
    EXPECT_THROW_MSG(
        (void)static_cast<const TZRValueString&>(limit), ZRError,
        kTypeError + "Expected a String but received a Binary (zrvalue contents: " + rendering + " )");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(limit.valueType(), ZRValue::Binary);
    EXPECT_EQ(limit.size(), 100000);
}

// Unlike xAssertType, the accessor lets no stored Float through.
TEST(Value, StringAccessorRefusesOtherKinds)
{
    struct Case {
        ZRValue value;
        const char* description;
    };
    Case cases[] = {
        {ZRValue(2.5f), "Expected a String but received a Float (zrvalue contents: 2.5 )"},
        {ZRValue(3), "Expected a String but received a Int (zrvalue contents: 3 )"},
        {ZRValue(), "Expected a String but received a Invalid (zrvalue contents:  )"},
        {objectFromBase64("YWJj"), "Expected a String but received a Object (zrvalue contents: abc )"},
    };
    for (Case& c : cases) {
        const ZRValue before(c.value);
        EXPECT_THROW_MSG((void)static_cast<const TZRValueString&>(c.value), ZRError,
                         kTypeError + c.description);
        EXPECT_EQ(c.value, before);
    }
}

// ---- Arrays ------------------------------------------------------------------

TEST(Value, IndexingAnInvalidValue)
{
    const ZRValue constant;
    EXPECT_THROW_MSG((void)constant[0], ZRError,
                     kTypeError + "Expected a Array but received a Invalid (zrvalue contents:  )");
    EXPECT_EQ(constant.valueType(), ZRValue::Invalid);

    ZRValue writable;
    EXPECT_THROW_MSG((void)writable[0], ZRError,
                     kSizeError + "The array has a size of 0 and you want it to be of size 1");
    EXPECT_EQ(writable, arrayOf({}));
}

TEST(Value, IndexingOtherKinds)
{
    const ZRValue real(1.5f);
    EXPECT_THROW_MSG((void)real[0], ZRError, kSizeError + "try to use a Float like an array");
    const ZRValue number(7);
    EXPECT_THROW_MSG((void)number[0], ZRError,
                     kTypeError + "Expected a Array but received a Int (zrvalue contents: 7 )");
    ZRValue text("ab");
    EXPECT_THROW_MSG((void)text[0], ZRError,
                     kCompatibleError + "Expected a Array but received a String (zrvalue contents: \"ab\" )");
    EXPECT_EQ(text, ZRValue("ab"));
}

TEST(Value, IndexBounds)
{
    ZRValue array = arrayOf({1, 2});
    const ZRValue& constant = array;
    EXPECT_EQ(constant[1], ZRValue(2));
    array[1] = "two";
    EXPECT_EQ(constant[1], ZRValue("two"));

    const std::string tooFar = kSizeError + "The array has a size of 2 and you want it to be of size 3";
    EXPECT_THROW_MSG((void)array[2], ZRError, tooFar);
    EXPECT_THROW_MSG((void)constant[2], ZRError, tooFar);
    EXPECT_THROW((void)array[-1], std::out_of_range);
    EXPECT_THROW((void)constant[-1], std::out_of_range);
    EXPECT_THROW((void)constant[INT_MAX], std::out_of_range);
    EXPECT_EQ(array.size(), 2);
}

TEST(Value, AppendWidensInvalidAndRefusesOtherKinds)
{
    ZRValue value;
    value.append("x");
    EXPECT_EQ(value, arrayOf({"x"}));

    ZRValue text("keep");
    EXPECT_THROW_MSG(
        text.append(1), ZRError,
        kCompatibleError + "Expected a Array but received a String (zrvalue contents: \"keep\" )");
    EXPECT_EQ(text, ZRValue("keep"));
}

TEST(Value, ResizeAndReserve)
{
    ZRValue value;
    value.resizeArray(3);
    ASSERT_EQ(value.size(), 3);
    for (const ZRValue& element : value.elements())
        EXPECT_EQ(element.valueType(), ZRValue::Invalid);

    value = arrayOf({1, 2, 3});
    value.resizeArray(1);
    EXPECT_EQ(value, arrayOf({1}));
    value.resizeArray(0);
    EXPECT_EQ(value, arrayOf({}));

    ZRValue reserved;
    reserved.reserveArray(100);
    EXPECT_EQ(reserved, arrayOf({}));

    ZRValue number(4);
    EXPECT_THROW_MSG(number.resizeArray(1), ZRError,
                     kCompatibleError + "Expected a Array but received a Int (zrvalue contents: 4 )");
    EXPECT_THROW_MSG(number.reserveArray(1), ZRError,
                     kCompatibleError + "Expected a Array but received a Int (zrvalue contents: 4 )");
}

TEST(Value, ArraySizeCheck)
{
    const ZRValue pair = arrayOf({1, 2});
    EXPECT_NO_THROW(pair.xAssertArraySize(2));
    EXPECT_NO_THROW(pair.xAssertArraySize(-5));
    EXPECT_THROW_MSG(pair.xAssertArraySize(3), ZRError,
                     kSizeError + "The array has a size of 2 and you want it to be of size 3");
    EXPECT_THROW_MSG(ZRValue(true).xAssertArraySize(0), ZRError,
                     kSizeError + "try to use a Bool like an array");
    EXPECT_THROW_MSG(ZRValue().xAssertArraySize(0), ZRError,
                     kSizeError + "try to use a Invalid like an array");
}

TEST(Value, CompatibleTypeWidensInvalidToAnEmptyValue)
{
    struct Case {
        ZRValue::Type wanted;
        ZRValue expected;
    };
    const Case cases[] = {
        {ZRValue::Array, arrayOf({})},   {ZRValue::String, ZRValue("")},
        {ZRValue::Binary, binaryOf("")}, {ZRValue::Object, objectFromBase64("")},
        {ZRValue::Bool, ZRValue(false)}, {ZRValue::Int, ZRValue(0)},
        {ZRValue::Float, ZRValue(0.0f)}, {ZRValue::Invalid, ZRValue()},
    };
    for (const Case& c : cases) {
        ZRValue value;
        value.xAssertCompatibleType(c.wanted);
        EXPECT_EQ(value, c.expected) << ZRValue::TypeToString(c.wanted);
        value.xAssertCompatibleType(c.wanted);
        EXPECT_EQ(value, c.expected) << ZRValue::TypeToString(c.wanted);
    }
    ZRValue text("s");
    EXPECT_THROW_MSG(text.xAssertCompatibleType(ZRValue::Binary), ZRError,
                     kCompatibleError + "Expected a Binary but received a String (zrvalue contents: \"s\" )");
}

// ---- Equality ------------------------------------------------------------------

TEST(Value, Equality)
{
    struct Case {
        ZRValue left;
        ZRValue right;
        bool equal;
    };
    const Case cases[] = {
        {ZRValue(), ZRValue(), true},
        {ZRValue(1), ZRValue(true), false},
        {ZRValue(1), ZRValue(1.0f), false},
        {ZRValue(true), ZRValue(true), true},
        {ZRValue(false), ZRValue(false), true},
        {ZRValue(true), ZRValue(false), false},
        {ZRValue(-4), ZRValue(-4), true},
        {ZRValue(-4), ZRValue(4), false},
        {ZRValue(TZRValueString("a\0b", 3)), ZRValue(TZRValueString("a\0c", 3)), false},
        {ZRValue(TZRValueString("a\0", 2)), ZRValue("a"), false},
        {ZRValue("ab"), ZRValue("ab"), true},
        {binaryOf("ab"), binaryOf("ab"), true},
        {binaryOf("ab"), binaryOf("abc"), false},
        {binaryOf("abc"), ZRValue("abc"), false},
        {binaryOf("abc"), objectFromBase64("YWJj"), false},
        {objectFromBase64("YWJj"), objectFromBase64("YWJj"), true},
        {objectFromBase64("YWJj"), objectFromBase64("YWJk"), false},
        {arrayOf({1, 2}), arrayOf({1, 2}), true},
        {arrayOf({1, 2}), arrayOf({1, 2, 3}), false},
        {arrayOf({1, 2, 3}), arrayOf({1, 2}), false},
        {arrayOf({arrayOf({1, "x"}), 2}), arrayOf({arrayOf({1, "x"}), 2}), true},
        {arrayOf({arrayOf({1, "x"}), 2}), arrayOf({arrayOf({1, "y"}), 2}), false},
        {arrayOf({arrayOf({}), 2}), arrayOf({arrayOf({ZRValue()}), 2}), false},
        {arrayOf({}), ZRValue(), false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.left == c.right, c.equal)
            << testing::PrintToString(c.left) << " vs " << testing::PrintToString(c.right);
        EXPECT_EQ(c.left != c.right, !c.equal);
    }
}

// Relative to the left operand, absolute near zero, NaN never equal.
TEST(Value, FloatTolerance)
{
    struct Case {
        float left;
        float right;
        bool equal;
    };
    const Case cases[] = {
        {100.0f, 100.005f, true},   {100.0f, 100.02f, false}, {-100.0f, -100.005f, true},
        {100.0f, -100.0f, false},   {1e-13f, 2e-13f, false},  {0.0f, 5e-17f, true},
        {0.0f, 2e-16f, false},      {1e-12f, 1e-12f, true},   {7.0f, 6.9993f, true},
        {6.9993f, 7.0f, false},     {kNaN, kNaN, false},      {kNaN, 1.0f, false},
        {1.0f, kNaN, false},        {0.0f, kNaN, false},      {-0.0f, 0.0f, true},
        {625.0f, 624.9375f, false},  // the ratio is exactly 0.0001f: not below the bound
        {0.0f, 1e-16f, false},       // 1e-16f lies just above the double 1e-16
    };
    for (const Case& c : cases)
        EXPECT_EQ(ZRValue(c.left) == ZRValue(c.right), c.equal) << c.left << " == " << c.right;

    const ZRValue withNaN = arrayOf({1, kNaN});
    EXPECT_FALSE(withNaN == ZRValue(withNaN));
}

// ---- Depth ---------------------------------------------------------------------

// Copy, comparison, rendering and destruction of a deeply nested value must
// not depend on the call stack.
TEST(Value, DeepNestingNeedsNoDeepStack)
{
    constexpr int kDepth = 1000000;
    ZRValue shell;
    shell.resizeArray(1);
    ZRValue chain(7);
    for (int level = 0; level < kDepth; ++level) {
        ZRValue outer(shell);
        outer[0] = std::move(chain);
        chain = std::move(outer);
    }

    ZRValue copy(chain);
    EXPECT_TRUE(copy == chain);
    ZRValue* innermost = &copy;
    while (innermost->valueType() == ZRValue::Array)
        innermost = &(*innermost)[0];
    EXPECT_EQ(*innermost, ZRValue(7));
    *innermost = 8;
    EXPECT_FALSE(copy == chain);

    const std::string text = chain.toString(1);
    ASSERT_EQ(text.size(), 2u * kDepth + 1);
    EXPECT_EQ(text.substr(kDepth - 2, 5), "[[7]]");

    chain.reset();
    EXPECT_EQ(chain.valueType(), ZRValue::Invalid);
}

}  // namespace
