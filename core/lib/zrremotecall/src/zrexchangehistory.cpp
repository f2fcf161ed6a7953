// SPDX-License-Identifier: GPL-2.0-or-later
// ZRExchangeHistory: a bounded queue of records behind a mutex.
#include "zrexchangehistory.h"

#include <algorithm>
#include <utility>

namespace ZR {

ZRExchangeHistory::ZRExchangeHistory(std::size_t capacity) : capacity_(capacity) {}

void ZRExchangeHistory::setCapacity(std::size_t capacity)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    capacity_.store(capacity, std::memory_order_relaxed);
    std::rotate(records_.begin(), records_.begin() + static_cast<std::ptrdiff_t>(oldest_), records_.end());
    oldest_ = 0;
    if (records_.size() > capacity)
        records_.erase(records_.begin(), records_.end() - static_cast<std::ptrdiff_t>(capacity));
}

void ZRExchangeHistory::add(ZRExchangeRecord record)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    const std::size_t capacity = capacity_.load(std::memory_order_relaxed);
    if (capacity == 0)
        return;
    if (records_.size() < capacity) {
        records_.push_back(std::move(record));
        return;
    }
    records_[oldest_] = std::move(record);
    oldest_ = (oldest_ + 1) % records_.size();
}

std::vector<ZRExchangeRecord> ZRExchangeHistory::records() const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    std::vector<ZRExchangeRecord> copy;
    copy.reserve(records_.size());
    for (std::size_t i = 0; i < records_.size(); ++i)
        copy.push_back(records_[(oldest_ + i) % records_.size()]);
    return copy;
}

}  // namespace ZR
