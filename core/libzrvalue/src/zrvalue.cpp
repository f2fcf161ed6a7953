// SPDX-License-Identifier: GPL-2.0-or-later
// ZRValue: storage and deep copy, construction and assignment, array
// operations, and the type checks. What a value tells (conversions,
// equality) is in zrvalueconversion.cpp, the base64 codec in zrbase64.cpp.
#include "zrvalue.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <utility>

#include "zrbase64.h"
#include "zrcompatibility.h"
#include "zrdiagnostics.h"
#include "zrvaluefailure.h"
#include "zrvaluewalk.h"

namespace ZR {
namespace {

// Room reserved in containers created on demand: most values are built by
// appending, and these cover the common sizes without a reallocation.
constexpr std::size_t kArrayReserve = 32;
constexpr std::size_t kStringReserve = 64;
constexpr std::size_t kBytesReserve = 1024;

// The count an index needs. Wraps like the processor for INT_MAX, so that
// index is refused by the bounds-tested access rather than overflowing.
int countForIndex(int index)
{
    return static_cast<int>(static_cast<unsigned>(index) + 1u);
}

}  // namespace

// ---- Storage ---------------------------------------------------------------

void ZRValue::adopt(Type type, Payload payload)
{
    if (value_.raw != 0) {
        release(type, payload);
        switch (type) {
        case Array: failure::assertFailed(failure::CopyArrayIntoOccupied);
        case String: failure::assertFailed(failure::CopyStringIntoOccupied);
        case Binary: failure::assertFailed(failure::CopyBinaryIntoOccupied);
        case Object: failure::assertFailed(failure::CopyObjectIntoOccupied);
        default: break;
        }
    }
    type_ = type;
    value_ = payload;
}

void ZRValue::release(Type type, Payload payload) noexcept
{
    switch (type) {
    case Array: {
        TZRValueElements* elements = payload.elements;
        if (elements == nullptr)
            break;
        // Nested arrays are emptied innermost first, each once its own
        // elements are done, so that destroying an element never goes more
        // than one level deep: no nesting depth can exhaust the call stack.
        const bool nested = std::any_of(elements->begin(), elements->end(),
                                        [](const ZRValue& element) { return element.type_ == Array; });
        if (nested) {
            ZRValue root;
            root.type_ = Array;
            root.value_.elements = elements;
            walkValue(
                root, [](ZRValue&, int) { return true; },
                [](ZRValue& array) {
                    if (array.value_.elements != nullptr)
                        array.value_.elements->clear();
                });
            root.type_ = Invalid;
        }
        delete elements;
        break;
    }
    case String: delete payload.string; break;
    case Binary:
    case Object: delete payload.bytes; break;
    case Invalid:
    case Bool:
    case Int:
    case Float: break;
    }
}

void ZRValue::copyFrom(const ZRValue& source)
{
    // The copies of the arrays whose elements are being copied, innermost
    // last. Each is created with its final element count, so the addresses
    // kept here stay valid.
    std::vector<ZRValue*> copies;
    auto copyOne = [&](const ZRValue& from, int index) {
        ZRValue& to = index < 0 ? *this : (*copies.back()->value_.elements)[static_cast<std::size_t>(index)];
        Payload copy{};
        switch (from.type_) {
        case Array:
            if (from.value_.elements == nullptr)
                failure::assertFailed(failure::CopyArrayFromNull);
            copy.elements = new TZRValueElements(from.value_.elements->size());
            break;
        case String:
            if (from.value_.string == nullptr)
                failure::assertFailed(failure::CopyStringFromNull);
            copy.string = new TZRValueString(*from.value_.string);
            break;
        case Binary:
            if (from.value_.bytes == nullptr)
                failure::assertFailed(failure::CopyBinaryFromNull);
            copy.bytes = new TZRValueBytes(*from.value_.bytes);
            break;
        case Object:
            if (from.value_.bytes == nullptr)
                failure::assertFailed(failure::CopyObjectFromNull);
            copy.bytes = new TZRValueBytes(*from.value_.bytes);
            break;
        case Invalid:
        case Bool:
        case Int:
        case Float: copy = from.value_; break;
        }
        to.adopt(from.type_, copy);
        if (from.type_ == Array)
            copies.push_back(&to);
        return true;
    };
    walkValue(source, copyOne, [&](const ZRValue&) { copies.pop_back(); });
}

void ZRValue::reset()
{
    const Type type = type_;
    const Payload payload = value_;
    type_ = Invalid;
    value_.raw = 0;
    release(type, payload);
}

// ---- Construction and assignment -----------------------------------------

ZRValue::ZRValue() : type_(Invalid)
{
    value_.raw = 0;
}

ZRValue::ZRValue(const bool& value) : ZRValue()
{
    *this = value;
}

ZRValue::ZRValue(const int& value) : ZRValue()
{
    *this = value;
}

ZRValue::ZRValue(const float& value) : ZRValue()
{
    *this = value;
}

ZRValue::ZRValue(const double& value) : ZRValue()
{
    *this = value;
}

ZRValue::ZRValue(const char* text) : ZRValue()
{
    *this = text;
}

ZRValue::ZRValue(const TZRValueString& text) : ZRValue()
{
    Payload payload{};
    payload.string = new TZRValueString(text);
    adopt(String, payload);
}

// Delegating to the default constructor makes a copy that fails half-way
// release what it already holds.
ZRValue::ZRValue(const ZRValue& other) : ZRValue()
{
    copyFrom(other);
}

ZRValue::ZRValue(ZRValue&& other) noexcept : type_(other.type_), value_(other.value_)
{
    other.type_ = Invalid;
    other.value_.raw = 0;
}

ZRValue::~ZRValue()
{
    reset();
}

ZRValue& ZRValue::operator=(const ZRValue& other)
{
    if (this == &other)
        return *this;
    // Copied before anything is released: `other` may live inside this value.
    ZRValue copy;
    copy.copyFrom(other);
    return *this = std::move(copy);
}

ZRValue& ZRValue::operator=(ZRValue&& other) noexcept
{
    if (this == &other)
        return *this;
    // Detached before anything is released: `other` may live inside this value.
    const Type type = other.type_;
    const Payload payload = other.value_;
    other.type_ = Invalid;
    other.value_.raw = 0;
    reset();
    adopt(type, payload);
    return *this;
}

// Scalars clear the whole slot first, so that the slot reads the same
// whatever was held before.
ZRValue& ZRValue::operator=(const bool& value)
{
    if (type_ != Bool) {
        reset();
        type_ = Bool;
    }
    value_.raw = 0;
    value_.boolean = value;
    return *this;
}

ZRValue& ZRValue::operator=(const int& value)
{
    if (type_ != Int) {
        reset();
        type_ = Int;
    }
    value_.raw = 0;
    value_.integer = value;
    return *this;
}

ZRValue& ZRValue::operator=(const float& value)
{
    if (type_ != Float) {
        reset();
        type_ = Float;
    }
    value_.raw = 0;
    value_.real = value;
    return *this;
}

ZRValue& ZRValue::operator=(const double& value)
{
    // Beyond single range a double becomes an infinity of its sign, as it
    // does on the wire; the plain cast would be undefined there.
    const double largest = static_cast<double>(std::numeric_limits<float>::max());
    if (value > largest || value < -largest)
        return *this = std::copysign(std::numeric_limits<float>::infinity(),
                                     static_cast<float>(value > 0 ? 1 : -1));
    return *this = static_cast<float>(value);
}

ZRValue& ZRValue::operator=(const char* text)
{
    if (text == nullptr)
        failure::assertFailed(failure::NullTextAssigned);
    if (type_ == String) {
        value_.string->assign(text);
        return *this;
    }
    // Built before the old payload goes: `text` may point into it.
    std::unique_ptr<TZRValueString> string(new TZRValueString);
    string->reserve(kStringReserve);
    string->assign(text);
    reset();
    Payload payload{};
    payload.string = string.release();
    adopt(String, payload);
    return *this;
}

ZRValue& ZRValue::operator=(const TZRValueBytes& bytes)
{
    if (type_ == Binary) {
        *value_.bytes = bytes;
        return *this;
    }
    std::unique_ptr<TZRValueBytes> buffer(new TZRValueBytes);
    buffer->reserve(kBytesReserve);
    buffer->assign(bytes.begin(), bytes.end());
    reset();
    Payload payload{};
    payload.bytes = buffer.release();
    adopt(Binary, payload);
    return *this;
}

ZRValue& ZRValue::assignBytes(const void* data, int count)
{
    if (count < 0)
        throw std::length_error("ZRValue::assignBytes: negative byte count");
    // A new buffer even for a Binary value: `data` may point into the old one.
    const unsigned char* first = static_cast<const unsigned char*>(data);
    std::unique_ptr<TZRValueBytes> buffer(new TZRValueBytes);
    buffer->reserve(static_cast<std::size_t>(count) + kBytesReserve);
    if (count > 0)
        buffer->assign(first, first + count);
    reset();
    Payload payload{};
    payload.bytes = buffer.release();
    adopt(Binary, payload);
    return *this;
}

// A null text decodes like an empty one.
bool ZRValue::decodeBase64(const char* text)
{
    if (text == nullptr)
        text = "";
    // Decoded aside first: `text` may point into this value's own payload.
    std::unique_ptr<TZRValueBytes> buffer(new TZRValueBytes);
    buffer->reserve(std::strlen(text) * 3 / 4 + 1);
    decodeBase64Into(text, *buffer);
    reset();
    Payload payload{};
    payload.bytes = buffer.release();
    adopt(Binary, payload);
    return true;
}

// Object values share the Binary storage; only the tag differs.
bool ZRValue::decodeBase64Object(const char* text)
{
    decodeBase64(text);
    type_ = Object;
    return true;
}

// ---- Arrays ------------------------------------------------------------------

const ZRValue& ZRValue::operator[](int index) const
{
    xAssertType(Array);
    xAssertArraySize(countForIndex(index));
    return value_.elements->at(static_cast<std::size_t>(index));
}

ZRValue& ZRValue::operator[](int index)
{
    xAssertCompatibleType(Array);
    xAssertArraySize(countForIndex(index));
    return value_.elements->at(static_cast<std::size_t>(index));
}

void ZRValue::append(const ZRValue& value)
{
    // Copied first: `value` may be one of this array's elements, or this
    // value itself, and growing the array moves its elements.
    ZRValue copy(value);
    xAssertCompatibleType(Array);
    value_.elements->push_back(std::move(copy));
}

void ZRValue::resizeArray(int count)
{
    xAssertCompatibleType(Array);
    value_.elements->resize(static_cast<std::size_t>(count));
}

void ZRValue::reserveArray(int count)
{
    xAssertCompatibleType(Array);
    value_.elements->reserve(static_cast<std::size_t>(count));
}

// ---- Type checks -------------------------------------------------------------

// Two exemptions: any value may be read as an Int (it reads as 0), and a
// Float passes so that indexing one fails with the "like an array" text.
void ZRValue::xAssertType(Type wanted) const
{
    if (type_ == wanted || wanted == Int || type_ == Float)
        return;
    failure::typeMismatch("xAssertType: type error", wanted, *this);
}

void ZRValue::xAssertCompatibleType(Type wanted)
{
    if (type_ == wanted)
        return;
    if (type_ != Invalid)
        failure::typeMismatch("xAssertCompatibleType: type error", wanted, *this);

    Payload payload{};
    switch (wanted) {
    case Array: {
        std::unique_ptr<TZRValueElements> elements(new TZRValueElements);
        elements->reserve(kArrayReserve);
        payload.elements = elements.release();
        break;
    }
    case String: {
        std::unique_ptr<TZRValueString> string(new TZRValueString);
        string->reserve(kStringReserve);
        payload.string = string.release();
        break;
    }
    // No caller widens to Object; it gets the same empty buffer as Binary.
    case Binary:
    case Object: {
        std::unique_ptr<TZRValueBytes> bytes(new TZRValueBytes);
        bytes->reserve(kBytesReserve);
        payload.bytes = bytes.release();
        break;
    }
    case Invalid:
    case Bool:
    case Int:
    case Float: break;
    default: failure::unknownType(wanted);
    }
    adopt(wanted, payload);
}

void ZRValue::xAssertArraySize(int wanted) const
{
    if (type_ != Array)
        failure::notAnArray(type_);
    const int count = size();
    if (count < wanted)
        failure::arrayTooSmall(count, wanted);
}

}  // namespace ZR
