// SPDX-License-Identifier: GPL-2.0-or-later
// The failures of ZRValue, composed in one place (zrerror.cpp) so that every
// text the value code can throw is written once. Internal to the library.
#pragma once

namespace ZR {

class ZRValue;

namespace failure {

// Invariant checks report a fixed source location rather than __LINE__: the
// texts are part of what callers and users see, and must not move when this
// code is edited.
enum AssertSite {
    SizeOfNullString = 264,
    SizeOfNullObject = 265,
    SizeOfNullBinary = 266,
    SizeOfNullArray = 267,
    NullTextAssigned = 345,
    CopyArrayIntoOccupied = 768,
    CopyArrayFromNull = 769,
    CopyStringIntoOccupied = 773,
    CopyStringFromNull = 774,
    CopyBinaryIntoOccupied = 778,
    CopyBinaryFromNull = 779,
    CopyObjectIntoOccupied = 783,
    CopyObjectFromNull = 784,
};

[[noreturn]] void assertFailed(AssertSite site);
// `method` is the check's own name ("xAssertType: type error", ...).
[[noreturn]] void typeMismatch(const char* method, int wanted, const ZRValue& value);
[[noreturn]] void notAnArray(int stored);
[[noreturn]] void arrayTooSmall(int count, int wanted);
[[noreturn]] void invalidToBool();
[[noreturn]] void unknownType(int tag);

}  // namespace failure
}  // namespace ZR
