// SPDX-License-Identifier: GPL-2.0-or-later
// UTF-8 to UTF-16 and back, for hosts whose char arrays hold UTF-16 code
// units (MATLAB) while the wire carries UTF-8. Header-only and free of the
// MEX API, so that it is tested on its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace ZR {

// Stands for whatever cannot be transcoded: a lone surrogate, or a byte
// sequence that is not well-formed UTF-8.
constexpr char16_t kReplacementCharacter = 0xFFFD;

// The UTF-8 form of `count` UTF-16 code units. `Unit` is the host's
// character type (two bytes wide under MATLAB). A surrogate that is not
// part of a pair becomes U+FFFD.
template <typename Unit>
std::string utf8FromUtf16(const Unit* units, std::size_t count)
{
    std::string text;
    text.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        std::uint32_t code = static_cast<std::uint16_t>(units[i]);
        if (code >= 0xD800 && code <= 0xDFFF) {
            const std::uint32_t low = i + 1 < count ? static_cast<std::uint16_t>(units[i + 1]) : 0;
            if (code <= 0xDBFF && low >= 0xDC00 && low <= 0xDFFF) {
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            } else {
                code = kReplacementCharacter;
            }
        }
        if (code < 0x80) {
            text += static_cast<char>(code);
        } else if (code < 0x800) {
            text += static_cast<char>(0xC0 | (code >> 6));
            text += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            text += static_cast<char>(0xE0 | (code >> 12));
            text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            text += static_cast<char>(0xF0 | (code >> 18));
            text += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return text;
}

// The UTF-16 form of UTF-8 text. A sequence that is not well-formed
// (overlong, a surrogate, beyond U+10FFFF, cut short, a stray continuation
// byte) becomes one U+FFFD per maximal ill-formed part, and decoding goes
// on with the first byte that does not belong to it, so that text after a
// damaged character survives.
inline std::u16string utf16FromUtf8(const char* text, std::size_t length)
{
    std::u16string units;
    units.reserve(length);
    const auto byteAt = [text](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    std::size_t i = 0;
    while (i < length) {
        const unsigned char lead = byteAt(i++);
        if (lead < 0x80) {
            units += static_cast<char16_t>(lead);
            continue;
        }
        int more;
        std::uint32_t code;
        // The range the second byte must fall in rules out overlong forms,
        // surrogates and code points beyond U+10FFFF.
        unsigned char low = 0x80, high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            more = 1;
            code = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            more = 2;
            code = lead & 0x0F;
            if (lead == 0xE0)
                low = 0xA0;
            else if (lead == 0xED)
                high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            more = 3;
            code = lead & 0x07;
            if (lead == 0xF0)
                low = 0x90;
            else if (lead == 0xF4)
                high = 0x8F;
        } else {
            units += kReplacementCharacter;
            continue;
        }
        bool complete = true;
        for (int k = 0; k < more; ++k) {
            if (i >= length || byteAt(i) < low || byteAt(i) > high) {
                complete = false;
                break;
            }
            code = (code << 6) | (byteAt(i++) & 0x3F);
            low = 0x80;
            high = 0xBF;
        }
        if (!complete) {
            units += kReplacementCharacter;
        } else if (code >= 0x10000) {
            code -= 0x10000;
            units += static_cast<char16_t>(0xD800 + (code >> 10));
            units += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
        } else {
            units += static_cast<char16_t>(code);
        }
    }
    return units;
}

}  // namespace ZR
