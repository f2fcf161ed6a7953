// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzzes the base64 decoder with any text, and the encoder and decoder
// together with any bytes: decoding what the encoder wrote must give the
// bytes back, as Binary and as Object, and the encoder's text must keep to
// its alphabet, padding and 72-character lines.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "zrvalue.h"

namespace {

using ZR::ZRValue;

[[noreturn]] void violated(const char* what)
{
    std::fprintf(stderr, "property violated: %s\n", what);
    std::abort();
}

bool holdsBytes(const ZRValue& value, ZRValue::Type type, const std::uint8_t* data, std::size_t size)
{
    return value.valueType() == type && static_cast<std::size_t>(value.size()) == size &&
           (size == 0 || std::memcmp(value.byteData(), data, size) == 0);
}

void checkEncoding(const std::string& text, std::size_t byteCount)
{
    const std::size_t groups = (byteCount + 2) / 3;
    const std::size_t fullGroups = byteCount / 3;
    if (text.size() != groups * 4 + fullGroups / 18)
        violated("encoded length");
    std::size_t sinceBreak = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\n') {
            if (sinceBreak != 72)
                violated("line break not after 72 characters");
            sinceBreak = 0;
            continue;
        }
        ++sinceBreak;
        const bool digit = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                           c == '+' || c == '/';
        if (!digit && !(c == '=' && text.size() - i <= 2))
            violated("character outside the alphabet");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Any text: decoded as far as it goes, NUL ending it.
    const std::string text(reinterpret_cast<const char*>(data), size);
    ZRValue binary;
    binary.decodeBase64(text.c_str());
    ZRValue object;
    object.decodeBase64Object(text.c_str());
    if (binary.valueType() != ZRValue::Binary || object.valueType() != ZRValue::Object ||
        binary.size() != object.size() ||
        (binary.size() > 0 && std::memcmp(binary.byteData(), object.byteData(), binary.size()) != 0))
        violated("Binary and Object decode differently");
    if (static_cast<std::size_t>(binary.size()) > std::strlen(text.c_str()) * 3 / 4 + 1)
        violated("more bytes decoded than the text can hold");

    // Any bytes: encoded, then decoded back.
    ZRValue original;
    original.assignBytes(data, static_cast<int>(size));
    ZR::TZRValueString encoded;
    original.encodeBase64(encoded);
    checkEncoding(encoded, size);
    ZRValue decoded;
    decoded.decodeBase64(encoded.c_str());
    if (!holdsBytes(decoded, ZRValue::Binary, data, size))
        violated("Binary round trip");
    decoded.decodeBase64Object(encoded.c_str());
    if (!holdsBytes(decoded, ZRValue::Object, data, size))
        violated("Object round trip");
    // Decoding into the value whose own text is being decoded.
    ZRValue self(encoded);
    self.decodeBase64(static_cast<const ZR::TZRValueString&>(self).c_str());
    if (!holdsBytes(self, ZRValue::Binary, data, size))
        violated("decoding a value's own text");
    return 0;
}
