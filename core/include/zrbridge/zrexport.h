// SPDX-License-Identifier: GPL-2.0-or-later
// ZR_API marks what libzrcore exports: the value type, the errors and the
// remote-call classes. The library is compiled with hidden visibility, so
// everything else (the codec, the generated SOAP code, the helpers) stays
// inside it and cannot be confused with the symbols of another library that
// the host process loads.
#pragma once

#if defined(__GNUC__)
#define ZR_API __attribute__((visibility("default")))
#else
#define ZR_API
#endif
