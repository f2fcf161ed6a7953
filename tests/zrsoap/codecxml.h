// SPDX-License-Identifier: GPL-2.0-or-later
// What the codec tests share: the writer's text of a value, an item element,
// the reader's value or failure for a text, and float bits.
#pragma once

#include <gtest/gtest.h>

#include <tinyxml.h>

#include <climits>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <locale>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "compatibility.h"
#include "expectthrow.h"
#include "stdsoap2.h"
#include "valuebuilders.h"
#include "valuefingerprint.h"
#include "zrnumbertext.h"
#include "zrvaluesoap.h"

using ZR::TZRValueString;
using ZR::ZRError;
using ZR::ZRValue;
using ZRTest::arrayOf;
using ZRTest::binaryOf;
using ZRTest::objectFromBase64;
namespace compatibility = ZRTest::compatibility;

namespace ZRTest {

inline std::string written(const ZRValue& value, bool nested = true)
{
    std::string out;
    ZR::writeValueXml(value, out, nested);
    return out;
}

inline std::string item(const std::string& type, const std::string& text)
{
    return "<item xsi:type=\"" + type + "\">" + text + "</item>";
}

inline ZRValue decoded(const std::string& xml)
{
    ZRValue out;
    ZR::readValueXml(xml.data(), xml.size(), out);
    return out;
}

// The error kind the reader gives `xml`, with its text in `text`.
inline ZR::ZRErrorKind failureOf(const std::string& xml, std::string& text)
{
    try {
        decoded(xml);
    } catch (const ZRError& error) {
        text = error.what();
        return error.kind();
    }
    text.clear();
    return ZR::ZRErrorKind::Unspecified;
}

inline std::uint32_t bitsOf(float number)
{
    std::uint32_t bits;
    std::memcpy(&bits, &number, sizeof bits);
    return bits;
}

inline float floatFromBits(std::uint32_t bits)
{
    float number;
    std::memcpy(&number, &bits, sizeof number);
    return number;
}

inline ZRValue nestedArrays(int depth)
{
    ZRValue value;
    value.resizeArray(0);
    for (int level = 1; level < depth; ++level) {
        ZRValue outer;
        outer.resizeArray(1);
        outer[0] = std::move(value);
        value = std::move(outer);
    }
    return value;
}

}  // namespace ZRTest

using namespace ZRTest;
