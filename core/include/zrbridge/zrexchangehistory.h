// SPDX-License-Identifier: GPL-2.0-or-later
// What went over the wire: one exchange as recorded (request and reply as
// texts cut at a bound, attachments listed but never kept), and the bounded
// history of them that a proxy keeps when asked to.
#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include "zrexport.h"
#include "zrvalue.h"

namespace ZR {

struct ZRExchangeRecord {
    // The remote method, or "getModuleByName" for a look-up at the broker.
    std::string method;
    // The module the exchange was about.
    std::string module;
    // host:port the request went to.
    std::string peer;
    // When the exchange began, in POSIX seconds, and how long it took.
    double started = 0;
    double seconds = 0;
    // The HTTP request as sent and the reply as received: header and SOAP
    // text, each cut at a bound with a line saying how much was left out,
    // and one line per attachment (id, type, size).
    std::string request;
    std::string reply;
    // Empty on success, else the error identifier (see errorIdentifier).
    std::string outcome;
};


// The last `capacity` exchanges of one proxy (of all its connections),
// oldest first. Capacity 0 keeps nothing, and exchanges are then not even
// recorded. Safe to use from several threads.
class ZR_API ZRExchangeHistory {
public:
    explicit ZRExchangeHistory(std::size_t capacity = 0);
    ZRExchangeHistory(const ZRExchangeHistory&) = delete;
    ZRExchangeHistory& operator=(const ZRExchangeHistory&) = delete;

    std::size_t capacity() const { return capacity_.load(std::memory_order_relaxed); }
    // Drops the oldest records beyond the new capacity.
    void setCapacity(std::size_t capacity);

    void add(ZRExchangeRecord record);
    // A copy of the records, oldest first.
    std::vector<ZRExchangeRecord> records() const;

private:
    std::atomic<std::size_t> capacity_;
    mutable std::mutex mutex_;
    // A ring once full: the oldest record at `oldest_`, which stays 0 until
    // then. (A deque would need a libstdc++ newer than MATLAB's.)
    std::vector<ZRExchangeRecord> records_;
    std::size_t oldest_ = 0;
};

}  // namespace ZR
