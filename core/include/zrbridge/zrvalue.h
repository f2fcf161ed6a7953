// SPDX-License-Identifier: GPL-2.0-or-later
// ZRValue: the dynamically typed value that every argument list and every
// result of a remote call travels as.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "zrerror.h"
#include "zrexport.h"

namespace ZR {

class ZRValue;

// A byte string with explicit length: NUL bytes are ordinary content.
typedef std::string TZRValueString;
// The storage of Binary and Object values.
typedef std::vector<unsigned char> TZRValueBytes;
// The elements of an Array value.
typedef std::vector<ZRValue> TZRValueElements;

class ZR_API ZRValue {
public:
    enum Type { Invalid = 0, Array = 1, Bool = 2, Int = 3, Float = 4, String = 5, Object = 6, Binary = 7 };

    ZRValue();
    ZRValue(const bool& value);
    ZRValue(const int& value);
    ZRValue(const float& value);
    // A Float, narrowed to single precision as every double that travels is.
    ZRValue(const double& value);
    ZRValue(const char* text);
    ZRValue(const TZRValueString& text);
    ZRValue(const ZRValue& other);
    ZRValue(ZRValue&& other) noexcept;
    virtual ~ZRValue();

    ZRValue& operator=(const ZRValue& other);
    ZRValue& operator=(ZRValue&& other) noexcept;
    ZRValue& operator=(const bool& value);
    ZRValue& operator=(const int& value);
    ZRValue& operator=(const float& value);
    ZRValue& operator=(const double& value);
    ZRValue& operator=(const char* text);
    ZRValue& operator=(const TZRValueBytes& bytes);
    ZRValue& assignBytes(const void* data, int count);
    bool decodeBase64(const char* text);
    bool decodeBase64Object(const char* text);
    void reset();

    Type valueType() const { return type_; }
    bool hasValue() const { return type_ != Invalid; }
    bool holdsObject() const { return type_ == Object; }
    int size() const;

    explicit operator bool() const;
    operator int() const;
    operator float() const;
    // Not const: a small Binary is turned into a String on the fly.
    operator const TZRValueString&();

    // Binary and Object values only; the caller tests the tag.
    const unsigned char* byteData() const;
    // Array values only; the caller tests the tag.
    const TZRValueElements& elements() const;
    // Binary and Object values only; the caller tests the tag.
    void encodeBase64(TZRValueString& out) const;

    bool operator==(const ZRValue& other) const;
    bool operator!=(const ZRValue& other) const { return !(*this == other); }

    const ZRValue& operator[](int index) const;
    ZRValue& operator[](int index);
    void append(const ZRValue& value);
    void resizeArray(int count);
    void reserveArray(int count);

    void xAssertType(Type wanted) const;
    void xAssertCompatibleType(Type wanted);
    void xAssertArraySize(int wanted) const;

    static std::string TypeToString(int type);
    std::string toString(int verbosity) const;

private:
    // The payload slot. `raw` is cleared before a scalar is stored so that the
    // slot renders the same whatever was held before.
    union Payload {
        std::uint64_t raw;
        bool boolean;
        int integer;
        float real;
        TZRValueElements* elements;
        TZRValueString* string;
        TZRValueBytes* bytes;
    };

    // Deep copy of `source` into this value, which must be Invalid. Iterative,
    // so the nesting depth is bounded by memory, not by the stack.
    void copyFrom(const ZRValue& source);
    // Takes over `payload` of kind `type`; this value must be Invalid.
    void adopt(Type type, Payload payload);
    // Frees what `payload` owns; nested arrays are flattened, not recursed.
    static void release(Type type, Payload payload) noexcept;
    bool sameAs(const ZRValue& other) const;

    Type type_;
    Payload value_;
};

}  // namespace ZR
