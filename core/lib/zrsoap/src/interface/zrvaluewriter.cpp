// SPDX-License-Identifier: GPL-2.0-or-later
// The writer of the item encoding: every value as one <item> element whose
// xsi:type names its kind, arrays nesting items, scalars as element text.
// Also the one XML escaper of the library.
#include <cstring>
#include <limits>

#include "zrcompatibility.h"
#include "zrnumbertext.h"
#include "zrthrow.h"
#include "zrvaluesoap.h"
#include "zrvaluewalk.h"

namespace ZR {

namespace {

const char* const kModule = "ZRValue";

const char kArrayStart[] = "<item xsi:type=\"Array\">";
const char kBoolStart[] = "<item xsi:type=\"xsd:boolean\">";
const char kIntStart[] = "<item xsi:type=\"xsd:int\">";
const char kFloatStart[] = "<item xsi:type=\"xsd:float\">";
const char kStringStart[] = "<item xsi:type=\"xsd:string\">";
const char kObjectStart[] = "<item xsi:type=\"xsd:base64Object\">";
const char kItemEnd[] = "</item>";
const char kNilItem[] = "<item xsi:nil=\"true\" xsi:type=\"nil\">nil</item>";
// The base64 text of the one byte "1": the place of a Binary whose bytes
// travel as an attachment.
const char kBinaryPlaceholder[] = "<item xsi:type=\"xsd:base64Binary\">MQ==</item>";

template <std::size_t N>
char* copyLiteral(const char (&literal)[N], char* out)
{
    std::memcpy(out, literal, N - 1);
    return out + N - 1;
}

// A number element in one append: start tag, number text, end tag.
template <std::size_t N, class WriteNumber>
void appendNumberItem(const char (&start)[N], WriteNumber writeNumber, std::string& out)
{
    char text[N + kMaxNumberText + sizeof kItemEnd];
    char* end = copyLiteral(kItemEnd, writeNumber(copyLiteral(start, text)));
    out.append(text, end);
}

// The string accessor is not const because it turns a small Binary into a
// String; on a String value it only hands out the payload.
const TZRValueString& stringOf(const ZRValue& value)
{
    return static_cast<const TZRValueString&>(const_cast<ZRValue&>(value));
}

// Every kind but Array, whose start and end tags the walk writes.
void writeLeaf(const ZRValue& value, std::string& out, bool nested)
{
    switch (value.valueType()) {
    case ZRValue::Invalid:
        if (nested)
            out += kNilItem;
        return;
    case ZRValue::Bool:
        out += kBoolStart;
        out += static_cast<bool>(value) ? "true" : "false";
        break;
    case ZRValue::Int: {
        const int number = static_cast<int>(value);
        appendNumberItem(
            kIntStart, [number](char* at) { return writeDecimal(number, at); }, out);
        return;
    }
    case ZRValue::Float: {
        const float number = static_cast<float>(value);
        appendNumberItem(
            kFloatStart, [number](char* at) { return writeFloatText(number, at); }, out);
        return;
    }
    case ZRValue::String: {
        const TZRValueString& text = stringOf(value);
        out += kStringStart;
        appendEscapedXml(text.data(), text.size(), out);
        break;
    }
    case ZRValue::Object:
        out += kObjectStart;
        value.encodeBase64(out);
        break;
    case ZRValue::Binary: out += kBinaryPlaceholder; return;
    default: throw assertFailure(kModule, compatibility::kCodecSource, compatibility::kUnknownValueTypeLine);
    }
    out += kItemEnd;
}

}  // namespace

void appendEscapedXml(const char* data, std::size_t size, std::string& out)
{
    std::size_t plainStart = 0;
    for (std::size_t i = 0; i < size; ++i) {
        const unsigned char byte = static_cast<unsigned char>(data[i]);
        const char* named = nullptr;
        switch (byte) {
        case '&': named = "&amp;"; break;
        case '<': named = "&lt;"; break;
        case '>': named = "&gt;"; break;
        case '"': named = "&quot;"; break;
        case '\'': named = "&apos;"; break;
        default:
            if (byte >= 33 && byte <= 127)
                continue;
        }
        out.append(data + plainStart, i - plainStart);
        if (named) {
            out += named;
        } else {
            // Every other byte as the number of that one byte, never as a
            // code point: the reader turns it back into exactly that byte.
            char reference[8] = {'&', '#'};
            char* end = writeDecimal(byte, reference + 2);
            *end++ = ';';
            out.append(reference, end);
        }
        plainStart = i + 1;
    }
    out.append(data + plainStart, size - plainStart);
}

TZRValueString escapeXmlText(const TZRValueString& in)
{
    TZRValueString out;
    out.reserve(in.size() * 14 / 10);
    appendEscapedXml(in.data(), in.size(), out);
    return out;
}

void writeValueXml(const ZRValue& value, std::string& out, bool nested, std::size_t pieceSize,
                   const std::function<void(std::string&)>& takePiece)
{
    auto pieceDone = [&]() {
        if (out.size() < pieceSize)
            return;
        takePiece(out);
        out.clear();
        // Room for a whole piece and the item that ends it, so that a piece
        // is written without regrowing.
        out.reserve(pieceSize + pieceSize / 8);
    };
    walkValue(
        value,
        [&](const ZRValue& current, int index) {
            if (current.valueType() == ZRValue::Array)
                out += kArrayStart;
            else
                writeLeaf(current, out, nested || index >= 0);
            pieceDone();
            return true;
        },
        [&](const ZRValue&) {
            out += kItemEnd;
            pieceDone();
        });
}

void writeValueXml(const ZRValue& value, std::string& out, bool nested)
{
    // One piece as large as the text gets: it is never handed over.
    writeValueXml(value, out, nested, std::numeric_limits<std::size_t>::max(), nullptr);
}

}  // namespace ZR
