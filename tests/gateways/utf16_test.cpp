// SPDX-License-Identifier: GPL-2.0-or-later
// UTF-8 to UTF-16 and back: well-formed text both ways, and what stands
// for text that cannot be transcoded.
#include <gtest/gtest.h>

#include <string>

#include "zrutf16.h"

namespace {

std::u16string toUtf16(const std::string& text)
{
    return ZR::utf16FromUtf8(text.data(), text.size());
}

std::string toUtf8(const std::u16string& units)
{
    return ZR::utf8FromUtf16(units.data(), units.size());
}

TEST(Utf16, WellFormedTextRoundTrips)
{
    const struct {
        std::string utf8;
        std::u16string utf16;
    } cases[] = {
        {"", u""},
        {"abc", u"abc"},
        {std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
        {"\x7f\xc2\x80", u"\x7f\x80"},
        {"caf\xc3\xa9", u"caf\u00e9"},
        {"\xdf\xbf\xe0\xa0\x80", u"\u07ff\u0800"},
        {"\xe2\x82\xac", u"\u20ac"},
        {"\xed\x9f\xbf\xee\x80\x80", u"\ud7ff\ue000"},
        {"\xef\xbf\xbf", u"\uffff"},
        {"\xf0\x90\x80\x80", u"\U00010000"},
        {"x\xf0\x9f\x98\x80y", u"x\U0001F600y"},
        {"\xf4\x8f\xbf\xbf", u"\U0010FFFF"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(toUtf16(c.utf8), c.utf16) << c.utf8;
        EXPECT_EQ(toUtf8(c.utf16), c.utf8) << c.utf8;
    }
}

TEST(Utf16, IllFormedUtf8BecomesReplacementCharacters)
{
    const struct {
        std::string utf8;
        std::u16string utf16;
    } cases[] = {
        {"\x80", u"\ufffd"},                                // stray continuation byte
        {"a\xc3", u"a\ufffd"},                              // cut short at the end
        {"\xe2\x82z", u"\ufffdz"},                          // cut short: one for the part
        {"\xc0\xaf", u"\ufffd\ufffd"},                      // overlong, lead never valid
        {"\xe0\x80\xaf", u"\ufffd\ufffd\ufffd"},            // overlong three-byte form
        {"\xed\xa0\x80", u"\ufffd\ufffd\ufffd"},            // encoded surrogate
        {"\xf4\x90\x80\x80", u"\ufffd\ufffd\ufffd\ufffd"},  // beyond U+10FFFF
        {"\xf5\x80", u"\ufffd\ufffd"},
        {"\xff\xfe", u"\ufffd\ufffd"},
        {"\xf0\x9f\x98", u"\ufffd"},                // four-byte form cut short
        {"\xf0\x9f\x98\xc3\xa9", u"\ufffd\u00e9"},  // next character survives
    };
    for (const auto& c : cases)
        EXPECT_EQ(toUtf16(c.utf8), c.utf16) << testing::PrintToString(c.utf8);
}

TEST(Utf16, LoneSurrogatesBecomeReplacementCharacters)
{
    const struct {
        std::u16string utf16;
        std::string utf8;
    } cases[] = {
        {u"\xd800", "\xef\xbf\xbd"},
        {std::u16string{0xdc00, u'a'},
         "\xef\xbf\xbd"
         "a"},
        {std::u16string{0xd800, 0xd800, 0xdc00}, "\xef\xbf\xbd\xf0\x90\x80\x80"},
        {std::u16string{u'a', 0xdbff}, "a\xef\xbf\xbd"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(toUtf8(c.utf16), c.utf8);
}

}  // namespace
