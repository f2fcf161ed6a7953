// SPDX-License-Identifier: GPL-2.0-or-later
// A text that tells two values apart wherever the codec could: kinds, float
// bits (every NaN alike: the wire has one), string and byte contents,
// array shapes. Value equality is looser (floats within a tolerance, never a
// NaN), so round-trip checks compare fingerprints.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "zrvalue.h"

namespace ZRTest {

inline std::string fingerprint(const ZR::ZRValue& value)
{
    using ZR::ZRValue;
    switch (value.valueType()) {
    case ZRValue::Invalid: return "I";
    case ZRValue::Bool: return static_cast<bool>(value) ? "T" : "F";
    case ZRValue::Int: return "i" + std::to_string(static_cast<int>(value));
    case ZRValue::Float: {
        const float number = static_cast<float>(value);
        if (std::isnan(number))
            return "fnan";
        std::uint32_t bits;
        std::memcpy(&bits, &number, sizeof bits);
        char text[16];
        std::snprintf(text, sizeof text, "f%08x", static_cast<unsigned>(bits));
        return text;
    }
    case ZRValue::Array: {
        std::string out = "[";
        for (const ZRValue& element : value.elements())
            out += fingerprint(element) + ",";
        return out + "]";
    }
    case ZRValue::String: {
        ZRValue copy(value);
        const ZR::TZRValueString& text = static_cast<const ZR::TZRValueString&>(copy);
        return "s" + std::to_string(text.size()) + ":" + text;
    }
    case ZRValue::Binary:
    case ZRValue::Object: {
        std::string out = value.valueType() == ZRValue::Binary ? "b:" : "o:";
        if (value.size() > 0)
            out.append(reinterpret_cast<const char*>(value.byteData()), std::size_t(value.size()));
        return out;
    }
    }
    return "?";
}

}  // namespace ZRTest
