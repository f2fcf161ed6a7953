// SPDX-License-Identifier: GPL-2.0-or-later
// The trace: one file for the whole process, opened for appending and
// written one whole record at a time under a lock, since pooled connections
// may finish exchanges on several threads. The flag that says whether to
// record at all is read without the lock.
#include "zrtrace.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <sstream>

#include "zrdiagnostics.h"

namespace ZR {

namespace {

const char kEnvironmentVariable[] = "ZRBRIDGE_TRACE";

struct Trace {
    std::mutex mutex;
    std::FILE* file = nullptr;
    std::string path;
};

// Never destroyed: an exchange may still finish while the process exits.
Trace& theTrace()
{
    static Trace* trace = new Trace;
    return *trace;
}

std::atomic<bool> tracing{false};
std::once_flag environmentRead;

void closeLocked(Trace& trace)
{
    if (trace.file)
        std::fclose(trace.file);
    trace.file = nullptr;
    trace.path.clear();
    tracing.store(false);
}

void openTrace(const std::string& path)
{
    Trace& trace = theTrace();
    const std::lock_guard<std::mutex> lock(trace.mutex);
    closeLocked(trace);
    std::FILE* file = path.empty() ? nullptr : std::fopen(path.c_str(), "a");
    if (!file) {
        const std::string reason = path.empty() ? "no file name" : std::strerror(errno);
        throw ZRError("ZRTrace", "startTrace", "cannot open " + path + " for appending: " + reason, __FILE__,
                      __LINE__);
    }
    trace.file = file;
    trace.path = path;
    tracing.store(true);
}

// 2026-12-08 22:30:01.123 UTC
std::string timeStamp(double posixSeconds)
{
    const std::time_t whole = static_cast<std::time_t>(posixSeconds);
    const int milliseconds = static_cast<int>((posixSeconds - static_cast<double>(whole)) * 1000);
    std::tm parts{};
    gmtime_r(&whole, &parts);
    char text[48];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    std::snprintf(text + length, sizeof text - length, ".%03d UTC", milliseconds);
    return text;
}

}  // namespace

void startTraceFromEnvironment()
{
    std::call_once(environmentRead, [] {
        const char* path = std::getenv(kEnvironmentVariable);
        if (!path || !*path)
            return;
        try {
            openTrace(path);
        } catch (const ZRError& error) {
            const std::string text = std::string("zrbridge: ") + kEnvironmentVariable + ": cannot open " +
                                     path + " for appending; not tracing\n";
            printDiagnostic(text.c_str());
        }
    });
}

void startTrace(const std::string& file)
{
    startTraceFromEnvironment();
    openTrace(file);
}

void stopTrace()
{
    startTraceFromEnvironment();
    Trace& trace = theTrace();
    const std::lock_guard<std::mutex> lock(trace.mutex);
    closeLocked(trace);
}

std::string traceFile()
{
    startTraceFromEnvironment();
    Trace& trace = theTrace();
    const std::lock_guard<std::mutex> lock(trace.mutex);
    return trace.path;
}

bool traceEnabled()
{
    return tracing.load(std::memory_order_relaxed);
}

std::string traceText(const ZRExchangeRecord& record)
{
    std::ostringstream text;
    text << "== " << timeStamp(record.started) << "  peer " << record.peer << "  module " << record.module
         << "  method " << record.method << "  " << record.seconds << " s  "
         << (record.outcome.empty() ? "ok" : record.outcome) << "\n-- request\n"
         << record.request << "\n-- reply\n"
         << record.reply << "\n\n";
    return text.str();
}

void writeTrace(const ZRExchangeRecord& record)
{
    const std::string text = traceText(record);
    Trace& trace = theTrace();
    const std::lock_guard<std::mutex> lock(trace.mutex);
    if (!trace.file)
        return;
    std::fwrite(text.data(), 1, text.size(), trace.file);
    std::fflush(trace.file);
}

}  // namespace ZR
