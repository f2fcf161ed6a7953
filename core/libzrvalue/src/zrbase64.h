// SPDX-License-Identifier: GPL-2.0-or-later
// The base64 codec of byte buffers, for Binary and Object values, and the
// strict check that the reader applies before decoding their text.
// Internal to the library.
#pragma once

#include <cstddef>

#include "zrvalue.h"

namespace ZR {

// Whether `text` is base64 as the encoder writes it, line breaks and other
// XML white space aside: whole groups of four, padding only at the end. The
// decoder skips anything else, so only checked text decodes faithfully.
bool isStrictBase64(const char* text, std::size_t length);

// Appends the base64 text of `bytes` to `out`, a line break after every 72
// characters.
void appendBase64(const TZRValueBytes& bytes, TZRValueString& out);
// Decodes `text` (null-terminated) into `out`.
void decodeBase64Into(const char* text, TZRValueBytes& out);

}  // namespace ZR
