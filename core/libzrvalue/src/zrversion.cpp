// SPDX-License-Identifier: GPL-2.0-or-later
// The library's own version, for programs that check the headers they were
// built with against the library they load.
#include "zrversion.h"

namespace ZR {

const char* libraryVersion()
{
    return ZRBRIDGE_VERSION_STRING;
}

}  // namespace ZR
