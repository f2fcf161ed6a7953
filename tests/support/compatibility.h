// SPDX-License-Identifier: GPL-2.0-or-later
// The kept texts and settings (docs/compatibility.md), as the product
// declares them, and the full error texts composed from them: the tests
// compose those themselves, so that they still check the composition.
#pragma once

#include <string>

#include "zrcompatibility.h"

namespace ZRTest {
namespace compatibility {

namespace product = ZR::compatibility;

inline const std::string kFaultMethod = product::kFaultMethod;

inline const std::string kCodecSource = product::kCodecSource;
inline const std::string kValueSource = product::kValueSource;
const int kArrayTypeNameTooLongLine = product::kArrayTypeNameTooLongLine;
const int kBinaryWithoutTextLine = product::kBinaryWithoutTextLine;
const int kUnknownValueTypeLine = product::kUnknownValueTypeLine;

inline std::string assertText(const std::string& source, int line)
{
    return "\tZRValue::Assert failed\n\t" + source + ":" + std::to_string(line);
}

// The text of the fault error for `description` (built as the reader
// builds it: "Fault: 'name': child: text, ...").
inline std::string faultText(const std::string& description)
{
    return "\tZRValue::" + kFaultMethod + "\n\t" + description;
}

inline const std::string kUserAgent = product::kUserAgent;
inline const std::string kHostSuffix = product::kHostSuffix;
const int kModuleBindFlags = product::kModuleBindFlags;
const float kFloatTolerance = product::kFloatTolerance;
inline const std::string kMismatchLine = product::kMismatchLine;

}  // namespace compatibility
}  // namespace ZRTest
