// ZRExchangeHistory: a bounded queue of records behind a mutex, and the
// identifiers that outcomes are recorded as.
#include "zrexchangehistory.h"

#include <utility>

namespace ZR {

const char* errorIdentifier(ZRErrorKind kind) noexcept
{
    switch (kind) {
    case ZRErrorKind::BrokerUnreachable: return "zrbridge:brokerUnreachable";
    case ZRErrorKind::UnknownModule: return "zrbridge:unknownModule";
    case ZRErrorKind::LookupFailed: return "zrbridge:lookupFailed";
    case ZRErrorKind::RemoteFault: return "zrbridge:remoteFault";
    case ZRErrorKind::ConnectionFailed: return "zrbridge:connectionFailed";
    case ZRErrorKind::BadReply: return "zrbridge:badReply";
    case ZRErrorKind::Timeout: return "zrbridge:timeout";
    case ZRErrorKind::Interrupted: return "zrbridge:interrupted";
    case ZRErrorKind::Unspecified: break;
    }
    return "zrbridge:failed";
}

ZRExchangeHistory::ZRExchangeHistory(std::size_t capacity) : capacity_(capacity) {}

void ZRExchangeHistory::setCapacity(std::size_t capacity)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    capacity_.store(capacity, std::memory_order_relaxed);
    while (records_.size() > capacity)
        records_.pop_front();
}

void ZRExchangeHistory::add(ZRExchangeRecord record)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    const std::size_t capacity = capacity_.load(std::memory_order_relaxed);
    if (capacity == 0)
        return;
    while (records_.size() >= capacity)
        records_.pop_front();
    records_.push_back(std::move(record));
}

std::vector<ZRExchangeRecord> ZRExchangeHistory::records() const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return std::vector<ZRExchangeRecord>(records_.begin(), records_.end());
}

}  // namespace ZR
