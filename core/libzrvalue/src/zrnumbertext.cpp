// SPDX-License-Identifier: GPL-2.0-or-later
// Number text. Floats are written from their exact value: double arithmetic
// decides the rounding wherever its error cannot matter, and printf in a C
// locale of our own decides the rest (a tie, a value at a power of ten, a
// read-back on the edge). Reading takes exact double arithmetic where it is
// correctly rounded and strtof in that locale elsewhere.
//
// The C library's locale-aware calls, not std::to_chars/from_chars for
// floating point: those need a libstdc++ newer than the one MATLAB loads.
#include "zrnumbertext.h"
#include "zrtextchars.h"

#include <cassert>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <string>

#include <locale.h>

namespace ZR {

namespace {

// The C locale as an object of its own: printf and strtof use it for this
// thread only, whatever the process locale is.
locale_t cLocale()
{
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    // "C" is always there: only memory can be lacking.
    if (!locale)
        throw std::bad_alloc();
    return locale;
}

void trimXmlSpace(const char*& begin, const char*& end)
{
    while (begin != end && isXmlSpace(*begin))
        ++begin;
    while (end != begin && isXmlSpace(end[-1]))
        --end;
}

// ---------------------------------------------------------------- writing

// Decimal exponents that the scaling of a float needs: to its first digit
// (10^-38 for FLT_MAX) and to eight or nine digits (10^53 for the smallest
// denormal, 1e-45).
const int kMinPower = -38;
const int kMaxPower = 53;

// The nearest doubles to 10^k for k from kMinPower on: the compiler rounds
// each literal correctly (exact up to 10^22).
const double kPowersOfTen[] = {
    1e-38, 1e-37, 1e-36, 1e-35, 1e-34, 1e-33, 1e-32, 1e-31, 1e-30, 1e-29, 1e-28, 1e-27, 1e-26, 1e-25,
    1e-24, 1e-23, 1e-22, 1e-21, 1e-20, 1e-19, 1e-18, 1e-17, 1e-16, 1e-15, 1e-14, 1e-13, 1e-12, 1e-11,
    1e-10, 1e-9,  1e-8,  1e-7,  1e-6,  1e-5,  1e-4,  1e-3,  1e-2,  1e-1,  1e0,   1e1,   1e2,   1e3,
    1e4,   1e5,   1e6,   1e7,   1e8,   1e9,   1e10,  1e11,  1e12,  1e13,  1e14,  1e15,  1e16,  1e17,
    1e18,  1e19,  1e20,  1e21,  1e22,  1e23,  1e24,  1e25,  1e26,  1e27,  1e28,  1e29,  1e30,  1e31,
    1e32,  1e33,  1e34,  1e35,  1e36,  1e37,  1e38,  1e39,  1e40,  1e41,  1e42,  1e43,  1e44,  1e45,
    1e46,  1e47,  1e48,  1e49,  1e50,  1e51,  1e52,  1e53};
static_assert(sizeof kPowersOfTen / sizeof *kPowersOfTen == kMaxPower - kMinPower + 1,
              "one power per exponent");

double powerOfTen(int k)
{
    assert(k >= kMinPower && k <= kMaxPower);
    return kPowersOfTen[k - kMinPower];
}

// A float's magnitude rounded to `precision` significant digits: `digits`
// holds exactly `precision` of them, `exponent` is the decimal exponent of
// the first, `above` tells on which side of the exact value the digits lie
// and `distance` how far off they are, in units of their last digit.
struct Rounding {
    std::uint32_t digits;
    int exponent;
    bool above;
    double distance;
    double scale;  // the power of ten that took the value to `precision` digits
};

// The slack allowed for the error of the double arithmetic below (at most a
// few units of 2^-53 relative, so under 1e-6 in units of the last digit):
// anything this close to a decision point is left to the exact path.
const double kSlack = 1e-5;

// Rounds `magnitude` (a float's, as a double) to `precision` digits, given
// the decimal exponent `exponent` of its first digit. False when the result
// lies too close to a tie for double arithmetic to decide.
bool roundToDigits(double magnitude, int precision, int exponent, Rounding& rounding)
{
    const double low = powerOfTen(precision - 1);
    const double high = powerOfTen(precision);
    rounding.scale = powerOfTen(precision - 1 - exponent);
    const double scaled = magnitude * rounding.scale;
    if (scaled < low + kSlack || scaled > high - kSlack)
        return false;
    const double whole = std::floor(scaled);
    const double fraction = scaled - whole;
    if (std::fabs(fraction - 0.5) < kSlack)
        return false;
    rounding.above = fraction > 0.5;
    rounding.distance = rounding.above ? 1.0 - fraction : fraction;
    double digits = rounding.above ? whole + 1.0 : whole;
    rounding.exponent = exponent;
    if (digits == high) {
        digits = low;
        ++rounding.exponent;
    }
    rounding.digits = static_cast<std::uint32_t>(digits);
    return true;
}

// The decimal exponent of the first digit of `magnitude`, or false when the
// value lies too close to a power of ten to tell.
bool decimalExponent(double magnitude, int& exponent)
{
    int binaryExponent = 0;
    std::frexp(magnitude, &binaryExponent);
    // magnitude lies in [2^(e-1), 2^e): its decimal exponent is this
    // estimate or the next one up.
    const int estimate = static_cast<int>(std::floor((binaryExponent - 1) * 0.30102999566398120));
    const double scaled = magnitude * powerOfTen(-estimate);
    if (std::fabs(scaled - 10.0) < 1e-9 || std::fabs(scaled - 1.0) < 1e-9)
        return false;
    exponent = scaled >= 10.0 ? estimate + 1 : estimate;
    return true;
}

// Whether `rounding` reads back as the float whose magnitude is `magnitude`:
// it must lie closer than halfway to the neighbouring floats. False in
// `decided` when it lies too close to halfway to tell.
bool readsBack(double magnitude, const Rounding& rounding, bool& decided)
{
    int binaryExponent = 0;
    const double fraction = std::frexp(magnitude, &binaryExponent);
    // The gap to the next float up; at a power of two the gap below is half
    // of it (except at the smallest normal, below which denormals keep the gap).
    const int gapExponent = binaryExponent - 24 < -149 ? -149 : binaryExponent - 24;
    double halfGap = std::ldexp(1.0, gapExponent - 1);
    if (!rounding.above && fraction == 0.5 &&
        magnitude > static_cast<double>(std::numeric_limits<float>::min()))
        halfGap /= 2;
    const double limit = halfGap * rounding.scale;
    decided = std::fabs(rounding.distance - limit) > kSlack;
    return rounding.distance < limit;
}

// printf's "%.<precision>g" of the digits: fixed notation for exponents from
// -4 up to precision - 1, else scientific; no trailing zeros.
char* writeGeneral(bool negative, const Rounding& rounding, int precision, char* out)
{
    char digits[10];
    std::uint32_t rest = rounding.digits;
    for (int i = precision - 1; i >= 0; --i) {
        digits[i] = static_cast<char>('0' + rest % 10);
        rest /= 10;
    }
    int count = precision;
    while (count > 1 && digits[count - 1] == '0')
        --count;
    const int exponent = rounding.exponent;
    if (negative)
        *out++ = '-';
    if (exponent < -4 || exponent >= precision) {
        *out++ = digits[0];
        if (count > 1) {
            *out++ = '.';
            std::memcpy(out, digits + 1, std::size_t(count - 1));
            out += count - 1;
        }
        *out++ = 'e';
        *out++ = exponent < 0 ? '-' : '+';
        const int magnitude = exponent < 0 ? -exponent : exponent;
        if (magnitude < 10)
            *out++ = '0';
        return writeDecimal(magnitude, out);
    }
    if (exponent >= 0) {
        const int integerDigits = exponent + 1;
        for (int i = 0; i < integerDigits; ++i)
            *out++ = i < count ? digits[i] : '0';
        if (count > integerDigits) {
            *out++ = '.';
            std::memcpy(out, digits + integerDigits, std::size_t(count - integerDigits));
            out += count - integerDigits;
        }
        return out;
    }
    *out++ = '0';
    *out++ = '.';
    for (int i = 0; i < -exponent - 1; ++i)
        *out++ = '0';
    std::memcpy(out, digits, std::size_t(count));
    return out + count;
}

// The exact path: printf itself.
char* writeFloatExactly(float number, char* out)
{
    const double widened = number;
    char* end = writeGeneralNumber(widened, 8, out);
    // writeGeneralNumber leaves the text NUL-terminated.
    if (strtof_l(out, nullptr, cLocale()) != number)
        end = writeGeneralNumber(widened, 9, out);
    return end;
}

// The fast path; false where it must leave the decision to the exact one.
bool writeFloatQuickly(float number, char*& out)
{
    const double magnitude = std::fabs(static_cast<double>(number));
    int exponent = 0;
    if (!decimalExponent(magnitude, exponent))
        return false;
    Rounding rounding{};
    if (!roundToDigits(magnitude, 8, exponent, rounding))
        return false;
    bool decided = false;
    const bool eightDigits = readsBack(magnitude, rounding, decided);
    if (!decided)
        return false;
    // Nine digits always read back: their rounding error stays below a
    // quarter of the gap between floats.
    if (!eightDigits && !roundToDigits(magnitude, 9, exponent, rounding))
        return false;
    out = writeGeneral(std::signbit(number), rounding, eightDigits ? 8 : 9, out);
    return true;
}

// ---------------------------------------------------------------- reading

// A decimal number's text, [begin, end) without a sign: digits with an
// optional fraction and exponent. Its digits, when at most 19 (leading zeros
// included), and the exponent of the last one.
struct Decimal {
    std::uint64_t digits = 0;
    int count = 0;  // digits in the text; above 19 `digits` is not kept
    long exponent = 0;
};

const int kMaxKeptDigits = 19;
// Exponents are clamped here: far beyond any float, and no overflow.
const long kExponentClamp = 100000;

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Whether the whole of [begin, end) is one decimal number, as strtof reads
// one (hexadecimal and the named values aside).
bool scanDecimal(const char* p, const char* end, Decimal& decimal)
{
    // Digits beyond 19 overflow `digits`, which is then not used.
    std::uint64_t digits = 0;
    const char* const integerStart = p;
    for (; p != end && isDigit(*p); ++p)
        digits = digits * 10 + std::uint64_t(*p - '0');
    long count = p - integerStart;
    long fractionDigits = 0;
    if (p != end && *p == '.') {
        const char* const fractionStart = ++p;
        for (; p != end && isDigit(*p); ++p)
            digits = digits * 10 + std::uint64_t(*p - '0');
        fractionDigits = p - fractionStart;
        count += fractionDigits;
    }
    if (count == 0)
        return false;
    long exponent = 0;
    if (p != end && (*p == 'e' || *p == 'E')) {
        ++p;
        bool negative = false;
        if (p != end && (*p == '+' || *p == '-'))
            negative = *p++ == '-';
        if (p == end || !isDigit(*p))
            return false;
        for (; p != end && isDigit(*p); ++p)
            if (exponent < kExponentClamp)
                exponent = exponent * 10 + (*p - '0');
        if (negative)
            exponent = -exponent;
    }
    decimal.digits = digits;
    decimal.count = count > kMaxKeptDigits ? kMaxKeptDigits + 1 : static_cast<int>(count);
    decimal.exponent = exponent - fractionDigits;
    return p == end;
}

// The powers of ten a double holds exactly.
const int kMaxExactPower = 22;
const std::uint64_t kMaxExactInteger = std::uint64_t(1) << 53;

// The float nearest to `decimal` where exact double arithmetic finds it:
// digits and power of ten both exact, so one operation rounds once, and
// the double then narrows to the nearest float unless it lies exactly
// halfway between two floats (where the double's own rounding may have
// put it), among the denormals (whose halfway points differ) or beyond
// float range. False for the rest.
bool readFloatQuickly(const Decimal& decimal, float& number)
{
    if (decimal.count > kMaxKeptDigits || decimal.digits > kMaxExactInteger)
        return false;
    if (decimal.digits == 0) {
        number = 0.0f;
        return true;
    }
    double digits = static_cast<double>(decimal.digits);
    long exponent = decimal.exponent;
    // Beyond 10^22, digits that leave room take the excess exactly.
    while (exponent > kMaxExactPower && digits * 10 <= static_cast<double>(kMaxExactInteger)) {
        digits *= 10;
        --exponent;
    }
    if (exponent < -kMaxExactPower || exponent > kMaxExactPower)
        return false;
    const double power = powerOfTen(static_cast<int>(exponent < 0 ? -exponent : exponent));
    const double wide = exponent < 0 ? digits / power : digits * power;
    if (wide < static_cast<double>(std::numeric_limits<float>::min()) ||
        wide > static_cast<double>(std::numeric_limits<float>::max()))
        return false;
    std::uint64_t bits = 0;
    std::memcpy(&bits, &wide, sizeof bits);
    // The 29 bits a float lacks: exactly one half of its last place.
    const std::uint64_t belowFloat = (std::uint64_t(1) << 29) - 1;
    if ((bits & belowFloat) == std::uint64_t(1) << 28)
        return false;
    number = static_cast<float>(wide);
    return true;
}

// strtof in the C locale, on text that scanDecimal has accepted.
bool readFloatExactly(const char* begin, const char* end, float& number)
{
    char small[64];
    std::string large;
    const std::size_t length = std::size_t(end - begin);
    const char* text = small;
    if (length < sizeof small) {
        std::memcpy(small, begin, length);
        small[length] = '\0';
    } else {
        large.assign(begin, end);
        text = large.c_str();
    }
    char* stop = nullptr;
    // Beyond float range strtof gives the rounded result, infinity or zero,
    // and sets ERANGE, which changes nothing here.
    number = strtof_l(text, &stop, cLocale());
    return stop == text + length;
}

}  // namespace

char* writeDecimal(long long number, char* out)
{
    unsigned long long magnitude = static_cast<unsigned long long>(number);
    if (number < 0) {
        *out++ = '-';
        magnitude = 0 - magnitude;
    }
    char reversed[20];
    int count = 0;
    do {
        reversed[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    while (count > 0)
        *out++ = reversed[--count];
    return out;
}

void appendDecimal(long long number, std::string& out)
{
    char text[kMaxNumberText];
    out.append(text, writeDecimal(number, text));
}

std::string decimalText(long long number)
{
    std::string text;
    appendDecimal(number, text);
    return text;
}

char* writeGeneralNumber(double number, int precision, char* out)
{
    const locale_t previous = uselocale(cLocale());
    const int length = std::snprintf(out, kMaxNumberText, "%.*g", precision, number);
    uselocale(previous);
    return out + (length < 0 ? 0 : length);
}

char* writeFloatText(float number, char* out)
{
    if (std::isnan(number)) {
        std::memcpy(out, "NaN", 3);
        return out + 3;
    }
    if (std::isinf(number)) {
        const char* text = number < 0 ? "-INF" : "INF";
        const std::size_t length = std::strlen(text);
        std::memcpy(out, text, length);
        return out + length;
    }
    if (number == 0.0f) {
        if (std::signbit(number))
            *out++ = '-';
        *out++ = '0';
        return out;
    }
    char* end = out;
    if (writeFloatQuickly(number, end))
        return end;
    return writeFloatExactly(number, out);
}

// Trims XML white space around [begin, end) and takes an optional sign;
// false when no text is left for the number itself.
bool takeSign(const char*& begin, const char*& end, bool& negative)
{
    trimXmlSpace(begin, end);
    negative = false;
    if (begin != end && (*begin == '+' || *begin == '-')) {
        negative = *begin == '-';
        ++begin;
    }
    return begin != end;
}

bool readFloatText(const char* begin, const char* end, float& number)
{
    bool negative = false;
    if (!takeSign(begin, end, negative))
        return false;
    float magnitude = 0.0f;
    if (isDigit(*begin) || *begin == '.') {
        Decimal decimal;
        if (!scanDecimal(begin, end, decimal))
            return false;
        if (!readFloatQuickly(decimal, magnitude) && !readFloatExactly(begin, end, magnitude))
            return false;
    } else if (equalsIgnoringCase(begin, end, "nan")) {
        magnitude = std::numeric_limits<float>::quiet_NaN();
    } else if (equalsIgnoringCase(begin, end, "inf") || equalsIgnoringCase(begin, end, "infinity")) {
        magnitude = std::numeric_limits<float>::infinity();
    } else {
        return false;
    }
    number = negative ? -magnitude : magnitude;
    return true;
}

bool readIntText(const char* begin, const char* end, int& number)
{
    bool negative = false;
    if (!takeSign(begin, end, negative))
        return false;
    const long long limit = negative ? 2147483648LL : 2147483647LL;
    long long magnitude = 0;
    for (const char* p = begin; p != end; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        magnitude = magnitude * 10 + (*p - '0');
        if (magnitude > limit)
            return false;
    }
    number = static_cast<int>(negative ? -magnitude : magnitude);
    return true;
}

}  // namespace ZR
