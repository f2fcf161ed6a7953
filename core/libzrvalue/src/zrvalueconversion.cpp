// SPDX-License-Identifier: GPL-2.0-or-later
// What a ZRValue tells: its size, the conversions with their type checks,
// its base64 text, and equality (floats within the kept tolerance).
#include <climits>
#include <cmath>
#include <vector>

#include "zrbase64.h"
#include "zrcompatibility.h"
#include "zrdiagnostics.h"
#include "zrvalue.h"
#include "zrvaluefailure.h"
#include "zrvaluewalk.h"

namespace ZR {

namespace {

// Binary values below this size are turned into strings by the string
// accessor; larger ones are refused like any other non-string.
constexpr std::size_t kBinaryToStringLimit = 100000;

// The left operand fixes the scale; near zero the test becomes absolute.
bool floatsMatch(float left, float right)
{
    if (left > 1e-12f || left < -1e-12f)
        return std::fabs((left - right) / left) < static_cast<double>(compatibility::kFloatTolerance);
    return std::fabs(left - right) < 1e-16;
}

// NaN and values outside the int range give INT_MIN, as the processor's
// truncating conversion does, instead of undefined behaviour.
int truncateToInt(float number)
{
    if (!(number >= -2147483648.0f && number < 2147483648.0f))
        return INT_MIN;
    return static_cast<int>(number);
}

}  // namespace

// ---- Inspection and conversion ------------------------------------------

int ZRValue::size() const
{
    switch (type_) {
    case Array:
        if (value_.elements == nullptr)
            failure::assertFailed(failure::SizeOfNullArray);
        return static_cast<int>(value_.elements->size());
    case String:
        if (value_.string == nullptr)
            failure::assertFailed(failure::SizeOfNullString);
        return static_cast<int>(value_.string->size());
    case Object:
        if (value_.bytes == nullptr)
            failure::assertFailed(failure::SizeOfNullObject);
        return static_cast<int>(value_.bytes->size());
    case Binary:
        if (value_.bytes == nullptr)
            failure::assertFailed(failure::SizeOfNullBinary);
        return static_cast<int>(value_.bytes->size());
    case Invalid:
    case Bool:
    case Int:
    case Float: break;
    }
    return 0;
}

ZRValue::operator bool() const
{
    switch (type_) {
    case Invalid: failure::invalidToBool();
    case Bool: return value_.boolean;
    case Int: return value_.integer != 0;
    case Float: return value_.real != 0.0f;  // NaN reads as true
    case Array:
    case String:
    case Object:
    case Binary: return size() != 0;
    }
    return false;
}

// Every kind other than the numeric ones reads as 0: the strict type check
// lets a wanted Int through.
ZRValue::operator int() const
{
    switch (type_) {
    case Int: return value_.integer;
    case Bool: return value_.boolean ? 1 : 0;
    case Float: return truncateToInt(value_.real);
    default: xAssertType(Int); return 0;
    }
}

ZRValue::operator float() const
{
    switch (type_) {
    case Float: return value_.real;
    case Int: return static_cast<float>(value_.integer);
    default: xAssertType(Float); return 0.0f;
    }
}

// Small Binary values read as strings are converted in place; the string
// keeps a trailing NUL that counts in its length, which is what readers of
// such strings have always received.
ZRValue::operator const TZRValueString&()
{
    if (type_ == Binary && value_.bytes->size() < kBinaryToStringLimit) {
        const TZRValueBytes& bytes = *value_.bytes;
        char warning[200];
        std::snprintf(
            warning, sizeof warning,
            "WARNING: ZRValue::operator const TZRValueString&: creating a string on the fly to patch "
            "possible ruby encoding problem (size of binary: %d)\n",
            static_cast<int>(bytes.size()));
        printDiagnostic(warning);
        std::unique_ptr<TZRValueString> string(new TZRValueString(bytes.begin(), bytes.end()));
        string->push_back('\0');
        reset();
        Payload payload{};
        payload.string = string.release();
        adopt(String, payload);
    }
    // No exemption here, unlike xAssertType: only a String will do.
    if (type_ != String)
        failure::typeMismatch("xAssertType: type error", String, *this);
    return *value_.string;
}

const unsigned char* ZRValue::byteData() const
{
    return &value_.bytes->at(0);
}

const TZRValueElements& ZRValue::elements() const
{
    return *value_.elements;
}

void ZRValue::encodeBase64(TZRValueString& out) const
{
    appendBase64(*value_.bytes, out);
}

// ---- Equality ----------------------------------------------------------------

// Tags, scalars and byte contents; arrays only by element count.
bool ZRValue::sameAs(const ZRValue& other) const
{
    if (type_ != other.type_)
        return false;
    switch (type_) {
    case Invalid: return true;
    case Array: return value_.elements->size() == other.value_.elements->size();
    case Bool: return value_.boolean == other.value_.boolean;
    case Int: return value_.integer == other.value_.integer;
    case Float: return floatsMatch(value_.real, other.value_.real);
    case String: return *value_.string == *other.value_.string;
    // Object values are compared byte for byte, like Binary ones.
    case Object:
    case Binary: return *value_.bytes == *other.value_.bytes;
    }
    return false;
}

bool ZRValue::operator==(const ZRValue& other) const
{
    // The arrays of `other` whose elements are being compared, innermost
    // last; sameAs has checked that their sizes match.
    std::vector<const ZRValue*> others;
    auto compareOne = [&](const ZRValue& left, int index) {
        const ZRValue& right =
            index < 0 ? other : (*others.back()->value_.elements)[static_cast<std::size_t>(index)];
        if (!left.sameAs(right))
            return false;
        if (left.type_ == Array)
            others.push_back(&right);
        return true;
    };
    return walkValue(*this, compareOne, [&](const ZRValue&) { others.pop_back(); });
}

}  // namespace ZR
