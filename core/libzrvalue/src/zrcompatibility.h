// SPDX-License-Identifier: GPL-2.0-or-later
// Texts and settings kept only because brokers and callers have always seen
// them (docs/compatibility.md gives the reason for each). The product takes
// them from here and so do the tests, so that each is written down once.
#pragma once

namespace ZR {
namespace compatibility {

// The method text of the error for a fault element where a value should
// be, misspelling and trailing blank included.
inline constexpr char kFaultMethod[] = "Receving Fault response: ";

// Assertion failures and the codec's refusals name a source path and, for
// the assertions, a fixed line, whatever the code's real layout.
inline constexpr char kCodecSource[] = "core/lib/zrsoap/src/interface/zrvaluesoap";
inline constexpr char kValueSource[] = "core/libzrvalue/src/zrvalue";
constexpr int kArrayTypeNameTooLongLine = 337;
constexpr int kBinaryWithoutTextLine = 459;
constexpr int kUnknownValueTypeLine = 649;
// The line the fault error records (never shown in its text).
constexpr int kFaultLine = 272;

// The client's User-Agent, whatever gSOAP version is linked.
inline constexpr char kUserAgent[] = "gSOAP/2.7";
// Appended to host names that do not start with a digit and lack ".local".
inline constexpr char kHostSuffix[] = ".local.";
// bind_flags of module connections (SO_REUSEADDR as Windows numbers it).
constexpr int kModuleBindFlags = 4;
// Float values compare equal when their relative difference is below this.
constexpr float kFloatTolerance = 0.0001f;
// Printed when a reply's exchange failed after its value was read whole.
inline constexpr char kMismatchLine[] =
    "\nThe return value mismatch with communication protocol, check your return value\n";

}  // namespace compatibility
}  // namespace ZR
