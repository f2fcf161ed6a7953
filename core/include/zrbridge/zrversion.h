// SPDX-License-Identifier: GPL-2.0-or-later
// The version of the zrbridge headers (the build checks that it is the
// project's); compare with what the library
// reports at run time (ZR::libraryVersion()) to catch a mismatched install.
#pragma once

#include "zrexport.h"

#define ZRBRIDGE_VERSION_MAJOR 0
#define ZRBRIDGE_VERSION_MINOR 1
#define ZRBRIDGE_VERSION_PATCH 0
#define ZRBRIDGE_VERSION_STRING "0.1.0"

namespace ZR {

// "MAJOR.MINOR.PATCH" of the library that is loaded.
ZR_API const char* libraryVersion();

}  // namespace ZR
