// SPDX-License-Identifier: GPL-2.0-or-later
// The process-wide trace: every exchange of every connection in the
// process, look-ups included, appended to one file with a time stamp and
// the peer's address. Off unless started here or by ZRBRIDGE_TRACE=file in
// the environment, which starts it when the library is first used.
#pragma once

#include <string>

#include "zrexchangehistory.h"
#include "zrexport.h"

namespace ZR {

// Appends every exchange from now on to `file` (made when missing), in
// place of any trace file in use. Raises ZRError when the file cannot be
// opened for appending; the trace is then off.
ZR_API void startTrace(const std::string& file);
ZR_API void stopTrace();
// The file in use, or empty when tracing is off.
ZR_API std::string traceFile();

// Whether exchanges are traced now. Cheap: one atomic load once the
// environment has been read (startTraceFromEnvironment).
bool traceEnabled();
// Reads ZRBRIDGE_TRACE once per process; later calls do nothing.
void startTraceFromEnvironment();
// Appends one record; a failed write never fails the exchange.
void writeTrace(const ZRExchangeRecord& record);
// The form in which the trace writes a record, also for tests.
std::string traceText(const ZRExchangeRecord& record);

}  // namespace ZR
