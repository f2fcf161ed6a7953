// SPDX-License-Identifier: GPL-2.0-or-later
// Shorthands for building values in tests, and the
// printer that makes GoogleTest show a ZRValue as its compact text.
#pragma once

#include <initializer_list>
#include <ostream>
#include <string>

#include "zrvalue.h"

namespace ZR {

inline void PrintTo(const ZRValue& value, std::ostream* out)
{
    *out << ZRValue::TypeToString(value.valueType()) << " " << value.toString(1);
}

}  // namespace ZR

namespace ZRTest {

inline ZR::ZRValue arrayOf(std::initializer_list<ZR::ZRValue> items)
{
    ZR::ZRValue array;
    array.resizeArray(0);
    for (const ZR::ZRValue& item : items)
        array.append(item);
    return array;
}

inline ZR::ZRValue binaryOf(const std::string& bytes)
{
    ZR::ZRValue value;
    value.assignBytes(bytes.data(), static_cast<int>(bytes.size()));
    return value;
}

// Object values only come out of the base64 decoder.
inline ZR::ZRValue objectFromBase64(const char* text)
{
    ZR::ZRValue value;
    value.decodeBase64Object(text);
    return value;
}

}  // namespace ZRTest
