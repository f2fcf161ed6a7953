// SPDX-License-Identifier: GPL-2.0-or-later
// ZRCallPool and ZRCallFuture: started calls wait in a queue; up to the
// pool's capacity of workers take them in order, each on its own connection.
// Workers own their sockets and nothing of the host; they end before the
// pool does, so no thread outlives the proxy whose code it runs.
#include "zrcallpool.h"

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <sstream>
#include <utility>

#include "zrconnection.h"
#include "zrnetwork.h"

namespace ZR {

namespace {

// The longest a wait sleeps before it asks the interrupt check again.
const std::chrono::milliseconds kInterruptStep{50};

// An error the pool makes itself, named as the network names the call's.
std::unique_ptr<ZRError> poolError(const ZRCallFutureState& call, const std::string& text, ZRErrorKind kind)
{
    std::unique_ptr<ZRError> error(new ZRError(call.moduleName, call.methodName, text, nullptr, 0));
    error->withKind(kind);
    return error;
}

std::unique_ptr<ZRError> cancelledError(const ZRCallFutureState& call)
{
    return poolError(call, "cancelled", ZRErrorKind::Cancelled);
}

// The text the network gives a call that ran out of time, for a call whose
// time ran out before a connection was free.
std::unique_ptr<ZRError> queuedTooLong(const ZRCallFutureState& call)
{
    std::ostringstream text;
    text << "no complete reply within " << call.limits.timeout << " s (Timeout)";
    return poolError(call, text.str(), ZRErrorKind::Timeout);
}

// The exception being handled, as the error of `call`. Only called from a
// catch block.
std::unique_ptr<ZRError> caughtError(const ZRCallFutureState& call)
{
    try {
        throw;
    } catch (const ZRError& error) {
        return std::unique_ptr<ZRError>(new ZRError(error));
    } catch (const std::exception& error) {
        return poolError(call, error.what(), ZRErrorKind::Unspecified);
    } catch (...) {
        return poolError(call, "unknown failure", ZRErrorKind::Unspecified);
    }
}

// Waits on `condition` until `ready` says so. Through the steady clock's
// wait_until, which the standard library inlines: its plain wait() is a
// function of a newer libstdc++ than a host may load the library with.
template <typename Ready>
void waitUntilReady(std::condition_variable& condition, std::unique_lock<std::mutex>& lock, Ready ready)
{
    while (!ready())
        condition.wait_until(lock, std::chrono::steady_clock::now() + std::chrono::hours(1));
}

ZRDeadline waitEnd(double seconds)
{
    return seconds < 0 ? noDeadline() : deadlineAfter(seconds > 0 ? seconds : 1e-9);
}

ZRCallFutureState& stateOf(const std::shared_ptr<ZRCallFutureState>& state)
{
    if (!state)
        throw ZRError("ZRCallFuture", "state", "no call", __FILE__, __LINE__);
    return *state;
}

}  // namespace

bool ZRCallPool::finishLocked(ZRCallFutureState& call, std::unique_ptr<ZRError> error)
{
    if (call.state == ZRCallState::Finished)
        return false;
    call.state = ZRCallState::Finished;
    // A queued call's request goes; a running one's is the worker's.
    call.parameters = ZRValue();
    call.error = std::move(error);
    ++call.signal->generation;
    call.signal->finished.notify_all();
    return true;
}

ZRCallPool::ZRCallPool(ZRNetwork& network, std::size_t connections)
    : network_(network),
      signal_(std::make_shared<ZRCompletionSignal>()),
      capacity_(std::max<std::size_t>(1, connections))
{
}

ZRCallPool::~ZRCallPool()
{
    {
        std::lock_guard<std::mutex> lock(signal_->mutex);
        stopping_ = true;
        for (const auto& call : queue_)
            finishLocked(*call, cancelledError(*call));
        queue_.clear();
        for (const auto& call : running_) {
            call->cancelRequested = true;
            finishLocked(*call, cancelledError(*call));
        }
    }
    work_.notify_all();
    // A running call notices its cancel flag at its next wait, within 50 ms.
    for (pthread_t thread : threads_)
        pthread_join(thread, nullptr);
}

void ZRCallPool::setTarget(const zr__ZRModuleInfoVexel& info, const std::string& endpoint)
{
    std::lock_guard<std::mutex> lock(signal_->mutex);
    target_ = info;
    endpoint_ = endpoint;
}

void ZRCallPool::setConnections(std::size_t count)
{
    {
        std::lock_guard<std::mutex> lock(signal_->mutex);
        capacity_ = std::max<std::size_t>(1, count);
    }
    // Idle workers beyond the new capacity go now.
    work_.notify_all();
}

std::size_t ZRCallPool::connections() const
{
    std::lock_guard<std::mutex> lock(signal_->mutex);
    return capacity_;
}

ZRCallFuture ZRCallPool::submit(const std::string& methodName, ZRValue parameters, const ZRCallLimits& limits)
{
    auto call = std::make_shared<ZRCallFutureState>(signal_);
    call->methodName = methodName;
    call->parameters = std::move(parameters);
    call->limits = limits;
    call->deadline = deadlineAfter(limits.timeout);
    {
        std::lock_guard<std::mutex> lock(signal_->mutex);
        call->moduleName = target_.name;
        queue_.push_back(call);
        // A new worker (and connection) only when the idle ones cannot take
        // every queued call; never more than the capacity.
        if (queue_.size() > idle_ && live_ < capacity_) {
            // Signals stay with the host's own threads.
            sigset_t all;
            sigset_t previous;
            sigfillset(&all);
            pthread_sigmask(SIG_BLOCK, &all, &previous);
            pthread_t thread;
            const int failed = pthread_create(&thread, nullptr, &ZRCallPool::workerMain, this);
            pthread_sigmask(SIG_SETMASK, &previous, nullptr);
            if (!failed) {
                threads_.push_back(thread);
                ++live_;
            } else if (live_ == 0) {
                queue_.pop_back();
                finishLocked(*call, poolError(*call, "cannot start a background worker",
                                              ZRErrorKind::ConnectionFailed));
            }
        }
    }
    work_.notify_one();
    return ZRCallFuture(call);
}

void* ZRCallPool::workerMain(void* pool)
{
    static_cast<ZRCallPool*>(pool)->work();
    return nullptr;
}

void ZRCallPool::work()
{
    boost::shared_ptr<ZRConnection> connection;
    std::unique_lock<std::mutex> lock(signal_->mutex);
    for (;;) {
        ++idle_;
        waitUntilReady(work_, lock, [this] { return stopping_ || !queue_.empty() || live_ > capacity_; });
        --idle_;
        if (stopping_ || (queue_.empty() && live_ > capacity_))
            break;
        std::shared_ptr<ZRCallFutureState> call = std::move(queue_.front());
        queue_.pop_front();
        if (call->state != ZRCallState::Queued)
            continue;
        if (std::chrono::steady_clock::now() >= call->deadline) {
            finishLocked(*call, queuedTooLong(*call));
            continue;
        }
        call->state = ZRCallState::Running;
        running_.push_back(call);
        // From here the worker alone reads the request; a cancel only
        // flags the call.
        const std::string methodName = call->methodName;
        ZRValue parameters = std::move(call->parameters);
        if (!connection) {
            auto info = boost::make_shared<zr__ZRModuleInfoVexel>(target_);
            const std::string endpoint = endpoint_;
            lock.unlock();
            try {
                connection = network_.createConnection(info, endpoint, 0);
            } catch (...) {
                std::unique_ptr<ZRError> error = caughtError(*call);
                lock.lock();
                finishLocked(*call, std::move(error));
                running_.erase(std::find(running_.begin(), running_.end(), call));
                continue;
            }
        } else {
            lock.unlock();
        }
        run(*call, connection, methodName, parameters);
        parameters = ZRValue();
        lock.lock();
        running_.erase(std::find(running_.begin(), running_.end(), call));
    }
    --live_;
    // The connection closes here, outside the lock: closing may take a moment.
    lock.unlock();
    connection.reset();
}

void ZRCallPool::run(ZRCallFutureState& call, const boost::shared_ptr<ZRConnection>& connection,
                     const std::string& methodName, const ZRValue& parameters)
{
    ZRValue result;
    std::unique_ptr<ZRError> error;
    try {
        const ZRInterruptCheck cancelled = [&call] { return call.cancelRequested.load(); };
        const ZRExchangeLimits armed(connection->context, ZRExchangeKind::Call, call.limits, call.deadline,
                                     cancelled);
        result = ZRProxyRemote::unwrapReply(callOnConnection(network_, connection, methodName, parameters));
    } catch (...) {
        error = caughtError(call);
    }
    std::lock_guard<std::mutex> lock(signal_->mutex);
    // A cancelled call has its error already; what the exchange gave is
    // dropped.
    if (call.state != ZRCallState::Running)
        return;
    if (!error)
        call.result = std::move(result);
    finishLocked(call, std::move(error));
}

ZRCallFuture::ZRCallFuture() = default;

ZRCallFuture::ZRCallFuture(std::shared_ptr<ZRCallFutureState> state) : state_(std::move(state)) {}

ZRCallState ZRCallFuture::state() const
{
    ZRCallFutureState& call = stateOf(state_);
    std::lock_guard<std::mutex> lock(call.signal->mutex);
    return call.state;
}

bool ZRCallFuture::wait(double seconds, const ZRInterruptCheck& interrupted) const
{
    std::vector<ZRCallFuture> one{*this};
    return waitAny(one, {}, seconds, interrupted) == 0;
}

const ZRValue& ZRCallFuture::get() const
{
    ZRCallFutureState& call = stateOf(state_);
    wait();
    // Finished: neither changes again, so no lock is needed from here on.
    if (call.error)
        throw ZRError(*call.error);
    return call.result;
}

const ZRError* ZRCallFuture::error() const
{
    ZRCallFutureState& call = stateOf(state_);
    std::lock_guard<std::mutex> lock(call.signal->mutex);
    return call.state == ZRCallState::Finished ? call.error.get() : nullptr;
}

bool ZRCallFuture::cancel() const
{
    ZRCallFutureState& call = stateOf(state_);
    std::lock_guard<std::mutex> lock(call.signal->mutex);
    if (call.state == ZRCallState::Finished)
        return false;
    // A running call's worker sees the flag at its next wait and drops the
    // connection; the call is over for its handles right now.
    call.cancelRequested = true;
    return ZRCallPool::finishLocked(call, cancelledError(call));
}

int ZRCallFuture::waitAny(const std::vector<ZRCallFuture>& futures, const std::vector<std::size_t>& skip,
                          double seconds, const ZRInterruptCheck& interrupted)
{
    const ZRDeadline end = waitEnd(seconds);
    std::vector<bool> skipped(futures.size(), false);
    for (std::size_t index : skip)
        if (index < skipped.size())
            skipped[index] = true;
    for (;;) {
        // The signal of the first call still going: its counter moves when
        // any call of its pool finishes. Calls of other pools are looked at
        // again at least every step.
        std::shared_ptr<ZRCompletionSignal> signal;
        unsigned long long seen = 0;
        for (std::size_t i = 0; i < futures.size(); ++i) {
            if (skipped[i] || !futures[i].state_)
                continue;
            ZRCallFutureState& call = *futures[i].state_;
            std::lock_guard<std::mutex> lock(call.signal->mutex);
            if (call.state == ZRCallState::Finished)
                return static_cast<int>(i);
            if (!signal) {
                signal = call.signal;
                seen = signal->generation;
            }
        }
        if (!signal)
            return -1;
        if (interrupted && interrupted())
            return -1;
        const ZRDeadline now = std::chrono::steady_clock::now();
        if (now >= end)
            return -1;
        const ZRDeadline until = std::min(end, now + kInterruptStep);
        std::unique_lock<std::mutex> lock(signal->mutex);
        signal->finished.wait_until(lock, until, [&] { return signal->generation != seen; });
    }
}

}  // namespace ZR
