// SPDX-License-Identifier: GPL-2.0-or-later
// The base64 codec of Binary and Object values: alphabet, padding, the line
// feed after every 72 characters, and where decoding stops.
#include <gtest/gtest.h>

#include <string>

#include "valuebuilders.h"
#include "zrvalue.h"

using ZR::TZRValueString;
using ZR::ZRValue;
using ZRTest::binaryOf;

namespace {

std::string encode(const ZRValue& value)
{
    TZRValueString out;
    value.encodeBase64(out);
    return out;
}

std::string bytesOf(const ZRValue& value)
{
    return value.size() == 0 ? std::string()
                             : std::string(reinterpret_cast<const char*>(value.byteData()),
                                           static_cast<std::size_t>(value.size()));
}

std::string pattern(std::size_t length)
{
    std::string bytes;
    for (std::size_t i = 0; i < length; ++i)
        bytes += static_cast<char>(i * 37 + 11);
    return bytes;
}

TEST(Base64, EncodesWithPadding)
{
    struct Case {
        std::string bytes;
        const char* text;
    };
    const Case cases[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {std::string("\0\0\0", 3), "AAAA"},
        {"\xFB\xEF\xBE", "++++"},
        {"\xFF\xFF\xFF", "////"},
        {"\xFB\xFF", "+/8="},
    };
    for (const Case& c : cases)
        EXPECT_EQ(encode(binaryOf(c.bytes)), c.text);
}

TEST(Base64, LineFeedAfterEvery18FullGroups)
{
    const std::string line = std::string(72, 'A');
    EXPECT_EQ(encode(binaryOf(std::string(52, '\0'))), std::string(70, 'A') + "==");
    EXPECT_EQ(encode(binaryOf(std::string(53, '\0'))), std::string(71, 'A') + "=");
    EXPECT_EQ(encode(binaryOf(std::string(54, '\0'))), line + "\n");
    EXPECT_EQ(encode(binaryOf(std::string(55, '\0'))), line + "\nAA==");
    EXPECT_EQ(encode(binaryOf(std::string(56, '\0'))), line + "\nAAA=");
    EXPECT_EQ(encode(binaryOf(std::string(108, '\0'))), line + "\n" + line + "\n");

    for (std::size_t length = 0; length <= 400; ++length) {
        const std::string text = encode(binaryOf(pattern(length)));
        const std::size_t lines = length / 54;
        ASSERT_EQ(text.size(), (length + 2) / 3 * 4 + lines) << length << " bytes";
        for (std::size_t at = 0; at < text.size(); ++at)
            ASSERT_EQ(text[at] == '\n', at % 73 == 72) << length << " bytes, position " << at;
    }
}

TEST(Base64, AppendsToTheOutput)
{
    TZRValueString out = "prefix:";
    binaryOf("f").encodeBase64(out);
    EXPECT_EQ(out, "prefix:Zg==");

    ZRValue object;
    object.decodeBase64Object("Zm9v");
    EXPECT_EQ(encode(object), "Zm9v");
}

TEST(Base64, Decodes)
{
    struct Case {
        const char* text;
        std::string bytes;
    };
    const Case cases[] = {
        {"", ""},
        {"Zm9vYmFy", "foobar"},
        {"Zm9v\nYmFy\n", "foobar"},
        {"\r\n Z m9v\tYm Fy", "foobar"},
        {"Zm9v!YmFy", "foobar"},
        {"Zg==", "f"},
        {"Zm8=", "fo"},
        {"++++////", "\xFB\xEF\xBE\xFF\xFF\xFF"},
        {"Zm9v=YmFy", "foo"},       // "=" first in a group
        {"Zm9vY=Fy", "foo"},        // "=" second
        {"Zm9vYm=Fy", "foob"},      // "=" third: one more byte
        {"Zm9vYmE=Zm9v", "fooba"},  // "=" fourth: two more bytes, then nothing
        {"Zg==Zm9v", "f"},
        {"=Zm9v", ""},
        {"Zm9vY", "foo"},  // unpadded remainders add nothing
        {"Zm9vYm", "foo"},
        {"Zm9vYmF", "foo"},
        {"Zm9v\nYm", "foo"},
        {"!!@@##", ""},
    };
    for (const Case& c : cases) {
        ZRValue value;
        EXPECT_TRUE(value.decodeBase64(c.text));
        EXPECT_EQ(value.valueType(), ZRValue::Binary) << c.text;
        EXPECT_EQ(bytesOf(value), c.bytes) << c.text;
    }
}

TEST(Base64, DecodingReplacesAnyValue)
{
    ZRValue value("old text");
    EXPECT_TRUE(value.decodeBase64Object("YWJj"));
    EXPECT_TRUE(value.holdsObject());
    EXPECT_EQ(bytesOf(value), "abc");

    EXPECT_TRUE(value.decodeBase64("Zm9v"));
    EXPECT_EQ(value.valueType(), ZRValue::Binary);
    EXPECT_EQ(bytesOf(value), "foo");
}

// The text may live in the very value that is being replaced.
TEST(Base64, DecodesTextHeldByTheValueItself)
{
    ZRValue value("Zm9vYmFy");
    const TZRValueString& text = value;
    EXPECT_TRUE(value.decodeBase64(text.c_str()));
    EXPECT_EQ(bytesOf(value), "foobar");
}

TEST(Base64, RoundTrip)
{
    for (std::size_t length = 0; length <= 300; ++length) {
        const std::string bytes = pattern(length);
        ZRValue decoded;
        decoded.decodeBase64(encode(binaryOf(bytes)).c_str());
        ASSERT_EQ(bytesOf(decoded), bytes) << length << " bytes";
    }
    std::string everyByte;
    for (int byte = 0; byte < 256; ++byte)
        everyByte += static_cast<char>(byte);
    ZRValue decoded;
    decoded.decodeBase64Object(encode(binaryOf(everyByte)).c_str());
    EXPECT_EQ(bytesOf(decoded), everyByte);
}

}  // namespace
