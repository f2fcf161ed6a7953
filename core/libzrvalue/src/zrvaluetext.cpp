// SPDX-License-Identifier: GPL-2.0-or-later
// Text forms of ZRValue: the type names that every type error quotes, and the
// rendering of a whole value at a chosen verbosity.
#include <cinttypes>
#include <cstdio>

#include "zrnumbertext.h"
#include "zrvalue.h"
#include "zrvaluefailure.h"
#include "zrvaluewalk.h"

namespace ZR {
namespace {

// Upper-case hex digits zero-padded to the width of a pointer, without a
// prefix: the callers write "0x" themselves.
std::string pointerDigits(std::uintptr_t bits)
{
    char text[32];
    std::snprintf(text, sizeof text, "%0*" PRIXPTR, static_cast<int>(sizeof(void*) * 2), bits);
    return text;
}

void appendByte(std::string& text, unsigned char byte)
{
    text += '\\';
    appendDecimal(byte, text);
}

}  // namespace

std::string ZRValue::TypeToString(int type)
{
    static const char* const kNames[] = {"Invalid", "Array",  "Bool",   "Int",
                                         "Float",   "String", "Object", "Binary"};
    if (static_cast<unsigned>(type) >= sizeof kNames / sizeof kNames[0])
        failure::unknownType(type);
    return kNames[type];
}

// Level 1 is the compact form that error texts quote; level 2 adds labels,
// addresses and the raw payload slot; level 3 and above wrap every value and
// element in tag-like lines.
std::string ZRValue::toString(int verbosity) const
{
    std::string text;
    if (verbosity <= 0)
        return text;
    text.reserve(1024);
    const bool labelled = verbosity >= 2;
    const bool tagged = verbosity >= 3;

    // Ends a value; `element` when it stands inside an array.
    auto finish = [&](bool element) {
        if (tagged) {
            text += "\n</ZrValue>\n";
            if (element)
                text += "\n</elem>";
        }
    };

    // Renders a value up to the first element of an array, or whole.
    auto begin = [&](const ZRValue& value) {
        if (tagged)
            text += "\n<ZrValue>";
        if (labelled) {
            text += "ZrValue at 0x" + pointerDigits(reinterpret_cast<std::uintptr_t>(&value)) + ", ";
            text += "Type: " + TypeToString(value.type_) + ", ";
            text += "Value: 0x" + pointerDigits(static_cast<std::uintptr_t>(value.value_.raw)) + ", ";
        }
        switch (value.type_) {
        case Invalid: break;
        case Array:
            text += tagged ? "\n<Vector>" : "[";
            if (labelled)
                text += "Vector of " + decimalText(value.size()) + " elem(s):";
            return;
        case Bool:
            if (labelled)
                text += "Bool:";
            text += value.value_.boolean ? "true" : "false";
            break;
        case Int: {
            if (labelled) {
                char hex[11];
                std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(value.value_.integer));
                text += std::string("Int: ") + hex + " (";
            }
            text += decimalText(value.value_.integer);
            if (labelled)
                text += ")";
            if (tagged)
                text += "\n";
            break;
        }
        case Float: {
            if (labelled)
                text += "Float: ";
            // As printf's "%.6g" writes it in the C locale, whatever the
            // process locale.
            char number[kMaxNumberText];
            text.append(number, writeGeneralNumber(static_cast<double>(value.value_.real), 6, number));
            if (tagged)
                text += "\n";
            break;
        }
        case String:
            if (labelled)
                text += "String of size " + decimalText(value.size()) + ": ";
            text += '"';
            text += *value.value_.string;
            text += '"';
            if (tagged)
                text += "\n";
            break;
        case Object: text.append(value.value_.bytes->begin(), value.value_.bytes->end()); break;
        case Binary:
            if (tagged)
                text += "\n<Binary>Binary: " + decimalText(value.size()) + " bytes(s):\n";
            for (unsigned char byte : *value.value_.bytes)
                appendByte(text, byte);
            // Closed at level 3 and above only: at level 2 the byte list
            // ends the body, as it was opened without the tag line.
            if (tagged)
                text += "</Binary>\n";
            break;
        }
    };

    // Arrays open around the value being rendered.
    int depth = 0;
    walkValue(
        *this,
        [&](const ZRValue& value, int index) {
            if (index > 0 && !tagged)
                text += ", ";
            if (index >= 0 && tagged)
                text += "\n<elem>\n";
            begin(value);
            if (value.type_ == Array)
                ++depth;
            else
                finish(index >= 0);
            return true;
        },
        [&](const ZRValue&) {
            --depth;
            text += tagged ? "\n</Vector>" : "]";
            finish(depth > 0);
        });
    return text;
}

}  // namespace ZR
