// SPDX-License-Identifier: GPL-2.0-or-later
// Texts and settings kept only because brokers and callers have always seen
// them (docs/compatibility.md gives the reason for each). Tests take them
// from here, so that each is written down once.
#pragma once

#include <string>

namespace ZRTest {
namespace compatibility {

// The method text of the error for a fault element where a value should
// be, misspelling and trailing blank included.
inline const std::string kFaultMethod = "Receving Fault response: ";

// Assertion failures name a source path and a fixed line, whatever the
// code's real layout.
inline const std::string kCodecSource = "core/lib/zrsoap/src/interface/zrvaluesoap";
inline const std::string kValueSource = "core/libzrvalue/src/zrvalue";
const int kArrayTypeNameTooLongLine = 337;
const int kBinaryWithoutTextLine = 459;
const int kUnknownValueTypeLine = 649;

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

// The client's User-Agent, whatever gSOAP version is linked.
inline const std::string kUserAgent = "gSOAP/2.7";
// Appended to host names that do not start with a digit and lack ".local".
inline const std::string kHostSuffix = ".local.";
// bind_flags of module connections (SO_REUSEADDR as Windows numbers it).
const int kModuleBindFlags = 4;
// Float values compare equal when their relative difference is below this.
const float kFloatTolerance = 0.0001f;
// Printed when a reply's exchange failed after its value was read whole.
inline const std::string kMismatchLine =
    "\nThe return value mismatch with communication protocol, check your return value\n";

}  // namespace compatibility
}  // namespace ZRTest
