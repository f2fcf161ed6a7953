// SPDX-License-Identifier: GPL-2.0-or-later
// The base64 codec of byte buffers: the encoder's text (lines of 72
// characters), the lenient decoder, and the strict check the reader applies
// before decoding.
#include "zrbase64.h"

#include <cstdint>

namespace ZR {

namespace {

const char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Groups of three bytes per line of base64 text.
constexpr std::size_t kGroupsPerLine = 18;

// 0..63 for an alphabet character, -1 for anything else.
int base64Digit(unsigned char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

}  // namespace

void appendBase64(const TZRValueBytes& bytes, TZRValueString& out)
{
    const std::size_t count = bytes.size();
    const std::size_t fullGroups = count / 3;
    const std::size_t rest = count % 3;
    out.reserve(out.size() + (fullGroups + (rest != 0)) * 4 + fullGroups / kGroupsPerLine);

    std::size_t at = 0;
    for (std::size_t group = 1; group <= fullGroups; ++group, at += 3) {
        const std::uint32_t bits =
            std::uint32_t(bytes[at]) << 16 | std::uint32_t(bytes[at + 1]) << 8 | bytes[at + 2];
        out += kBase64Alphabet[bits >> 18 & 63];
        out += kBase64Alphabet[bits >> 12 & 63];
        out += kBase64Alphabet[bits >> 6 & 63];
        out += kBase64Alphabet[bits & 63];
        if (group % kGroupsPerLine == 0)
            out += '\n';
    }
    if (rest == 0)
        return;
    const std::uint32_t bits =
        std::uint32_t(bytes[at]) << 16 | (rest == 2 ? std::uint32_t(bytes[at + 1]) << 8 : 0);
    out += kBase64Alphabet[bits >> 18 & 63];
    out += kBase64Alphabet[bits >> 12 & 63];
    out += rest == 2 ? kBase64Alphabet[bits >> 6 & 63] : '=';
    out += '=';
}

// Characters outside the alphabet are skipped. The first "=" ends the text,
// completing the group it stands in; an unfinished group at the end of the
// text is dropped.
void decodeBase64Into(const char* text, TZRValueBytes& out)
{
    unsigned digits[4];
    int filled = 0;
    for (const char* at = text; *at != '\0'; ++at) {
        if (*at == '=') {
            if (filled >= 2)
                out.push_back(static_cast<unsigned char>(digits[0] << 2 | digits[1] >> 4));
            if (filled == 3)
                out.push_back(static_cast<unsigned char>((digits[1] & 15) << 4 | digits[2] >> 2));
            return;
        }
        const int digit = base64Digit(static_cast<unsigned char>(*at));
        if (digit < 0)
            continue;
        digits[filled++] = static_cast<unsigned>(digit);
        if (filled == 4) {
            out.push_back(static_cast<unsigned char>(digits[0] << 2 | digits[1] >> 4));
            out.push_back(static_cast<unsigned char>((digits[1] & 15) << 4 | digits[2] >> 2));
            out.push_back(static_cast<unsigned char>((digits[2] & 3) << 6 | digits[3]));
            filled = 0;
        }
    }
}

bool isStrictBase64(const char* text, std::size_t length)
{
    std::size_t digits = 0;
    std::size_t padding = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r')
            continue;
        if (c == '=') {
            ++padding;
            continue;
        }
        // A digit after padding, or outside the alphabet.
        if (padding > 0 || base64Digit(c) < 0)
            return false;
        ++digits;
    }
    return padding <= 2 && (digits + padding) % 4 == 0;
}

}  // namespace ZR
