// SPDX-License-Identifier: GPL-2.0-or-later
// Character and entity references in text and attribute values: checked,
// and decoded the way the writer escapes (a numeric reference up to 255 is
// that one byte, a larger one the character's UTF-8 form).
#include <algorithm>
#include <cstring>

#include "zrtextchars.h"
#include "zrxmltokenizer.h"

namespace ZR {

namespace {

void appendUtf8(unsigned long code, std::string& out)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | code >> 6);
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | code >> 12);
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | code >> 18);
        out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

}  // namespace

// Checks the reference at `at` (an '&' before `limit`) and appends what it
// stands for to `into` when given; returns the position after it. Numeric
// references up to 255 stand for that one byte, as the writer escapes every
// byte; larger ones for the UTF-8 form of the character.
const char* XmlTokenizer::reference(const char* at, const char* limit, std::string* into) const
{
    const char* p = at + 1;
    if (p != limit && *p == '#') {
        ++p;
        const bool hexadecimal = p != limit && *p == 'x';
        if (hexadecimal)
            ++p;
        unsigned long code = 0;
        const char* digits = p;
        for (; p != limit; ++p) {
            int digit = -1;
            if (*p >= '0' && *p <= '9')
                digit = *p - '0';
            else if (hexadecimal && *p >= 'a' && *p <= 'f')
                digit = *p - 'a' + 10;
            else if (hexadecimal && *p >= 'A' && *p <= 'F')
                digit = *p - 'A' + 10;
            if (digit < 0)
                break;
            code = code * (hexadecimal ? 16 : 10) + static_cast<unsigned long>(digit);
            if (code > 0x10FFFF)
                malformed(at, "the character reference " + quotedText(at, std::size_t(p - at + 1)) +
                                  " is out of range");
        }
        if (p == digits || p == limit || *p != ';')
            malformed(at, "invalid character reference " +
                              quotedText(at, std::size_t(std::min(p + 1, limit) - at)));
        if (code >= 0xD800 && code <= 0xDFFF)
            malformed(at, "the character reference " + quotedText(at, std::size_t(p + 1 - at)) +
                              " names no character");
        if (into) {
            if (code <= 0xFF)
                *into += static_cast<char>(code);
            else
                appendUtf8(code, *into);
        }
        return p + 1;
    }
    static const struct {
        const char* name;
        char character;
    } kNamed[] = {{"amp;", '&'}, {"lt;", '<'}, {"gt;", '>'}, {"quot;", '"'}, {"apos;", '\''}};
    for (const auto& named : kNamed) {
        const std::size_t length = std::strlen(named.name);
        if (std::size_t(limit - p) >= length && std::memcmp(p, named.name, length) == 0) {
            if (into)
                *into += named.character;
            return p + length;
        }
    }
    const char* nameEnd = p;
    while (nameEnd != limit && isXmlNameChar(*nameEnd))
        ++nameEnd;
    if (nameEnd != p && nameEnd != limit && *nameEnd == ';')
        malformed(at, "undefined entity reference " + quotedText(at, std::size_t(nameEnd + 1 - at)));
    malformed(at, "'&' starts no reference");
}

void XmlTokenizer::decodeReferences(const char* from, const char* to, std::string& into) const
{
    while (from != to) {
        const char* amp = static_cast<const char*>(std::memchr(from, '&', std::size_t(to - from)));
        if (!amp) {
            into.append(from, to);
            return;
        }
        into.append(from, amp);
        from = reference(amp, to, &into);
    }
}

}  // namespace ZR
