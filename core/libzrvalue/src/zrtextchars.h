// SPDX-License-Identifier: GPL-2.0-or-later
// The character tests that every reader of peer text shares: XML white
// space, XML name characters (as lenient as TinyXML: any byte above 127
// counts as a letter), hexadecimal digits, and ASCII case-insensitive
// comparisons that no locale can change.
#pragma once

#include <cstddef>
#include <cstring>

namespace ZR {

inline bool isXmlSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

inline bool isXmlNameStart(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' ||
           static_cast<unsigned char>(c) >= 0x80;
}

inline bool isXmlNameChar(char c)
{
    return isXmlNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

// The value of a hexadecimal digit, or -1 for any other byte.
inline int hexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

inline char asciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whether [begin, end) is `lowered` (lower-case ASCII) in any case.
inline bool equalsIgnoringCase(const char* begin, const char* end, const char* lowered)
{
    const std::size_t length = std::strlen(lowered);
    if (std::size_t(end - begin) != length)
        return false;
    for (std::size_t i = 0; i < length; ++i)
        if (asciiLower(begin[i]) != lowered[i])
            return false;
    return true;
}

// Whether [begin, end) starts with `lowered` (lower-case ASCII) in any case.
inline bool startsWithIgnoringCase(const char* begin, const char* end, const char* lowered)
{
    const std::size_t length = std::strlen(lowered);
    return std::size_t(end - begin) >= length && equalsIgnoringCase(begin, begin + length, lowered);
}

}  // namespace ZR
