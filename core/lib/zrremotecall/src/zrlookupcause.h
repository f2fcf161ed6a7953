// SPDX-License-Identifier: GPL-2.0-or-later
// Why a look-up at the broker failed, as one line for the user: what the
// transport saw or the broker said, in words that point at the fix.
#pragma once

#include <string>

#include "zrsoapexchange.h"

namespace ZR {

// The cause of the failed look-up at `endpoint`, the broker's URL.
std::string lookUpCause(const ZRSoapFailure& failure, const ZRExchangeReport& report,
                        const std::string& endpoint);

// The cause when `endpoint` names no usable host.
std::string unusableHostCause(const std::string& endpoint);

}  // namespace ZR
