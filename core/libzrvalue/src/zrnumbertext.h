// SPDX-License-Identifier: GPL-2.0-or-later
// Number text: decimal integers for every text the library composes, and the
// wire form of Int and Float values with its strict reading. Nothing here
// depends on the process locale.
#pragma once

#include <cstddef>
#include <string>

namespace ZR {

// Room that writeFloatText and writeDecimal never exceed.
const std::size_t kMaxNumberText = 32;

// Writes `number` as printf's "%lld" does; returns the end of the text.
char* writeDecimal(long long number, char* out);
void appendDecimal(long long number, std::string& out);
std::string decimalText(long long number);

// What printf's "%.<precision>g" writes for `number` in the C locale, for
// precisions up to 17, NUL-terminated; returns the end of the text (at the
// NUL).
char* writeGeneralNumber(double number, int precision, char* out);

// The wire text of a float: what printf's "%.8g" writes for it widened to
// double in the C locale, or "%.9g" where eight digits do not read back as
// the same float; "NaN", "INF" and "-INF" for the non-finite values.
// Returns the end of the text.
char* writeFloatText(float number, char* out);

// Strict readers of the wire texts: the whole of [begin, end) must be one
// number, with XML white space allowed around it. They return false for
// anything else and leave `number` alone.
//
// Float: a decimal number with optional sign, fraction and exponent, or
// "NaN", "INF", "Infinity" (any letter case, optionally signed). A number
// beyond float range gives the narrowed result: infinity or (signed) zero.
bool readFloatText(const char* begin, const char* end, float& number);
// Int: an optionally signed run of decimal digits within 32 bits.
bool readIntText(const char* begin, const char* end, int& number);

}  // namespace ZR
