// SPDX-License-Identifier: GPL-2.0-or-later
// Text forms of ZRValue: type names, and the rendering at verbosity 0 to 3.
#include <gtest/gtest.h>

#include <cstdint>
#include <iomanip>
#include <limits>
#include <sstream>
#include <string>

#include "expectthrow.h"
#include "valuebuilders.h"
#include "zrvalue.h"

using ZR::TZRValueString;
using ZR::ZRError;
using ZR::ZRValue;
using ZRTest::arrayOf;
using ZRTest::binaryOf;
using ZRTest::objectFromBase64;

namespace {

// Pointer-width upper-case hex digits, as the rendering writes addresses.
std::string digits(std::uintptr_t bits)
{
    std::ostringstream out;
    out << std::hex << std::uppercase << std::setfill('0') << std::setw(2 * sizeof(void*)) << bits;
    return out.str();
}

std::string digits(const void* address)
{
    return digits(reinterpret_cast<std::uintptr_t>(address));
}

std::string header(const ZRValue& value, const std::string& slotDigits)
{
    return "ZrValue at 0x" + digits(&value) + ", Type: " + ZRValue::TypeToString(value.valueType()) +
           ", Value: 0x" + slotDigits + ", ";
}

// The slot of a Binary or Object value is the address of a buffer the tests
// cannot reach: it is checked for shape and replaced by "?".
std::string maskSlot(std::string text)
{
    const std::string label = "Value: 0x";
    const std::size_t at = text.find(label);
    if (at == std::string::npos)
        return text;
    const std::size_t first = at + label.size();
    const std::size_t width = 2 * sizeof(void*);
    const std::string slot = text.substr(first, width);
    if (slot.size() != width || slot.find_first_not_of("0123456789ABCDEF") != std::string::npos ||
        slot == std::string(width, '0'))
        return text;
    return text.replace(first, width, "?");
}

TEST(Text, TypeNames)
{
    const char* const names[] = {"Invalid", "Array", "Bool", "Int", "Float", "String", "Object", "Binary"};
    for (int type = 0; type < 8; ++type)
        EXPECT_EQ(ZRValue::TypeToString(type), names[type]);

    for (int type : {8, 9, -1, std::numeric_limits<int>::min()})
        EXPECT_THROW_MSG(ZRValue::TypeToString(type), ZRError,
                         "\tZRValue::TypeToString\n\tUnknown type: " + std::to_string(type));
}

TEST(Text, CompactForm)
{
    struct Case {
        ZRValue value;
        std::string text;
    };
    const Case cases[] = {
        {ZRValue(), ""},
        {ZRValue(true), "true"},
        {ZRValue(false), "false"},
        {ZRValue(-5), "-5"},
        {ZRValue(2.5f), "2.5"},
        {ZRValue(0.1f), "0.1"},
        {ZRValue(1234567.0f), "1.23457e+06"},
        {ZRValue(std::numeric_limits<float>::quiet_NaN()), "nan"},
        {ZRValue("ab"), "\"ab\""},
        {ZRValue("say \"hi\""), "\"say \"hi\"\""},
        {ZRValue(TZRValueString("a\0b", 3)), std::string("\"a\0b\"", 5)},
        {arrayOf({1, "ab", arrayOf({false})}), "[1, \"ab\", [false]]"},
        {arrayOf({ZRValue(), 2}), "[, 2]"},
        {arrayOf({}), "[]"},
        {arrayOf({arrayOf({}), 1}), "[[], 1]"},
        {binaryOf("\x01\x02\xFF"), "\\1\\2\\255"},
        {binaryOf(std::string("\0\x0A\x64", 3)), "\\0\\10\\100"},
        {binaryOf(""), ""},
        {objectFromBase64("YWJj"), "abc"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.value.toString(1), c.text);
        EXPECT_EQ(c.value.toString(0), "");
        EXPECT_EQ(c.value.toString(-1), "");
    }
}

TEST(Text, LabelledScalars)
{
    ZRValue value(42);
    EXPECT_EQ(value.toString(2), header(value, digits(0x2A)) + "Int: 0x0000002A (42)");
    EXPECT_EQ(value.toString(2), "ZrValue at 0x" + digits(&value) + ", Type: Int, Value: 0x" + digits(0x2A) +
                                     ", Int: 0x0000002A (42)");

    value = -1;
    EXPECT_EQ(value.toString(2), header(value, digits(0xFFFFFFFFu)) + "Int: 0xFFFFFFFF (-1)");
    value = 1.0f;
    EXPECT_EQ(value.toString(2), header(value, digits(0x3F800000u)) + "Float: 1");
    value = false;
    EXPECT_EQ(value.toString(2), header(value, digits(std::uintptr_t(0))) + "Bool:false");
    value = true;
    EXPECT_EQ(value.toString(2), header(value, digits(1)) + "Bool:true");
    value.reset();
    EXPECT_EQ(value.toString(2), header(value, digits(std::uintptr_t(0))));
}

// A scalar stored over a heap address must not leave pieces of it in the slot.
TEST(Text, ScalarSlotIsCleared)
{
    ZRValue value("a string long enough to live on the heap");
    value = 42;
    EXPECT_EQ(value.toString(2), header(value, digits(0x2A)) + "Int: 0x0000002A (42)");
    value = arrayOf({1});
    value = true;
    EXPECT_EQ(value.toString(2), header(value, digits(1)) + "Bool:true");
    value = arrayOf({1});
    value = 1.0f;
    EXPECT_EQ(value.toString(2), header(value, digits(0x3F800000u)) + "Float: 1");
}

TEST(Text, LabelledContainers)
{
    ZRValue text("ab");
    const TZRValueString& string = text;
    EXPECT_EQ(text.toString(2), header(text, digits(&string)) + "String of size 2: \"ab\"");

    const ZRValue array = arrayOf({1, arrayOf({})});
    const ZRValue& first = array[0];
    const ZRValue& second = array[1];
    EXPECT_EQ(array.toString(2), header(array, digits(&array.elements())) + "[Vector of 2 elem(s):" +
                                     header(first, digits(1)) + "Int: 0x00000001 (1), " +
                                     header(second, digits(&second.elements())) + "[Vector of 0 elem(s):]]");

    // At level 2 the byte list closes the Binary body; the tag lines belong to level 3.
    const ZRValue binary = binaryOf("\x01\x02");
    EXPECT_EQ(maskSlot(binary.toString(2)), maskSlot(header(binary, "?")) + "\\1\\2");
    EXPECT_NE(maskSlot(binary.toString(2)), binary.toString(2));

    const ZRValue object = objectFromBase64("YWJj");
    EXPECT_EQ(maskSlot(object.toString(2)), header(object, "?") + "abc");
}

TEST(Text, TaggedScalars)
{
    const ZRValue number(42);
    EXPECT_EQ(number.toString(3),
              "\n<ZrValue>" + header(number, digits(0x2A)) + "Int: 0x0000002A (42)\n\n</ZrValue>\n");
    EXPECT_EQ(number.toString(7), number.toString(3));

    const ZRValue real(2.5f);
    EXPECT_EQ(real.toString(3),
              "\n<ZrValue>" + header(real, digits(0x40200000u)) + "Float: 2.5\n\n</ZrValue>\n");

    const ZRValue flag(true);
    EXPECT_EQ(flag.toString(3), "\n<ZrValue>" + header(flag, digits(1)) + "Bool:true\n</ZrValue>\n");

    ZRValue text("ab");
    const TZRValueString& string = text;
    EXPECT_EQ(text.toString(3),
              "\n<ZrValue>" + header(text, digits(&string)) + "String of size 2: \"ab\"\n\n</ZrValue>\n");

    const ZRValue binary = binaryOf("\x01\xFF");
    EXPECT_EQ(maskSlot(binary.toString(3)),
              "\n<ZrValue>" + header(binary, "?") +
                  "\n<Binary>Binary: 2 bytes(s):\n\\1\\255</Binary>\n\n</ZrValue>\n");
}

TEST(Text, TaggedArray)
{
    const ZRValue array = arrayOf({1, arrayOf({true})});
    const ZRValue& first = array[0];
    const ZRValue& inner = array[1];
    const ZRValue& innermost = inner[0];
    const std::string expected =
        "\n<ZrValue>" + header(array, digits(&array.elements())) +
        "\n<Vector>Vector of 2 elem(s):" + "\n<elem>\n" + "\n<ZrValue>" + header(first, digits(1)) +
        "Int: 0x00000001 (1)\n\n</ZrValue>\n" + "\n</elem>" + "\n<elem>\n" + "\n<ZrValue>" +
        header(inner, digits(&inner.elements())) + "\n<Vector>Vector of 1 elem(s):" + "\n<elem>\n" +
        "\n<ZrValue>" + header(innermost, digits(1)) + "Bool:true\n</ZrValue>\n" + "\n</elem>" +
        "\n</Vector>\n</ZrValue>\n" + "\n</elem>" + "\n</Vector>\n</ZrValue>\n";
    EXPECT_EQ(array.toString(3), expected);

    const ZRValue empty = arrayOf({});
    EXPECT_EQ(empty.toString(3), "\n<ZrValue>" + header(empty, digits(&empty.elements())) +
                                     "\n<Vector>Vector of 0 elem(s):\n</Vector>\n</ZrValue>\n");
}

}  // namespace
