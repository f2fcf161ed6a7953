// SPDX-License-Identifier: GPL-2.0-or-later
// The one way the core throws an error marked with its kind, and the one
// builder of the "Assert failed" errors. Internal to the library.
#pragma once

#include "zrerror.h"

namespace ZR {

// Throws `error` marked with `kind`. The error is taken by its own type, so
// a ZRNetworkError is thrown as one: callers catch look-up failures by it.
template <class Error>
[[noreturn]] void throwWithKind(Error error, ZRErrorKind kind)
{
    error.withKind(kind);
    throw error;
}

// A broken invariant of `module`'s code, named by a source path and a fixed
// line rather than __LINE__: the text is "Assert failed" and `source`
// ":" `line`, which callers and logs have always seen and which must not
// move when the code does.
ZRError assertFailure(const char* module, const char* source, int line);

}  // namespace ZR
