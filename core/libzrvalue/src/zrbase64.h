// SPDX-License-Identifier: GPL-2.0-or-later
// The strict base64 check that the reader applies before decoding Binary and
// Object text.
#pragma once

#include <cstddef>

namespace ZR {

// Whether `text` is base64 as the encoder writes it, line breaks and other
// XML white space aside: whole groups of four, padding only at the end. The
// decoder skips anything else, so only checked text decodes faithfully.
bool isStrictBase64(const char* text, std::size_t length);

}  // namespace ZR
