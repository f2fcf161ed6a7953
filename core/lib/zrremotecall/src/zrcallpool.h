// SPDX-License-Identifier: GPL-2.0-or-later
// ZRCallPool: the background side of ZRProxyRemote::start(). A queue of
// started calls and a bounded set of workers, each owning one connection to
// the module; the shared state of a call that its ZRCallFuture handles see.
#pragma once

#include <pthread.h>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <boost/make_shared.hpp>
#include <boost/shared_ptr.hpp>

#include "zrconnection.h"
#include "zrmoduleinfo.h"
#include "zrproxyremote.h"
#include "zrtransport.h"

namespace ZR {

class ZRNetwork;

// Wakes whoever waits for any call of one pool. The generation counts
// finished calls, so a waiter that looked at its calls under `mutex` and
// then waits for the counter to move cannot miss one.
struct ZRCompletionSignal {
    std::mutex mutex;
    std::condition_variable finished;
    unsigned long long generation = 0;
};

struct ZRCallFutureState {
    explicit ZRCallFutureState(std::shared_ptr<ZRCompletionSignal> signal) : signal(std::move(signal)) {}

    // Shared with the pool and every call of it; guards what follows.
    const std::shared_ptr<ZRCompletionSignal> signal;
    ZRCallState state = ZRCallState::Queued;
    // For the texts of the errors the pool makes itself.
    std::string moduleName;
    std::string methodName;
    // Until a worker takes it.
    ZRValue parameters;
    ZRCallLimits limits;
    ZRDeadline deadline = noDeadline();
    // Set once, when the call finishes. The error is kept as a ZRError, not
    // an exception_ptr: that needs a newer C++ runtime than a host may load
    // the library with.
    ZRValue result;
    std::unique_ptr<ZRError> error;

    // Read by the worker's transport without the lock, at every wait.
    std::atomic<bool> cancelRequested{false};
};

// The one exchange rule of a method call on one connection (zrproxyremote.cpp):
// what ZRProxyRemote::call does on its own connection before it thinks of a
// new look-up. The context must be armed by the caller.
ZRValue callOnConnection(ZRNetwork& network, const boost::shared_ptr<ZRValue>& connection,
                         const std::string& methodName, const ZRValue& parameters);

class ZRCallPool {
public:
    // `network` outlives the pool; setTarget() says where calls go.
    ZRCallPool(ZRNetwork& network, std::size_t connections);
    // Cancels every call that has not finished and waits for the workers.
    ~ZRCallPool();
    ZRCallPool(const ZRCallPool&) = delete;
    ZRCallPool& operator=(const ZRCallPool&) = delete;

    // Where workers opened from now on connect to.
    void setTarget(const zr__ZRModuleInfoVexel& info, const std::string& endpoint);
    void setConnections(std::size_t count);
    std::size_t connections() const;

    ZRCallFuture submit(const std::string& methodName, ZRValue parameters, const ZRCallLimits& limits);

    // Finishes a call that has not finished yet with `error`; the caller
    // holds the signal's lock. False when it had finished already.
    static bool finishLocked(ZRCallFutureState& call, std::unique_ptr<ZRError> error);

private:
    // Workers are POSIX threads, not std::thread: the host may load the
    // library next to an older libstdc++ than the one it was built with,
    // and std::thread's start needs a newer one.
    static void* workerMain(void* pool);
    void work();
    // Runs one call on the worker's connection; the lock is not held.
    void run(ZRCallFutureState& call, const boost::shared_ptr<ZRConnection>& connection,
             const std::string& methodName, const ZRValue& parameters);

    ZRNetwork& network_;
    const std::shared_ptr<ZRCompletionSignal> signal_;
    // Guarded by signal_->mutex.
    std::condition_variable work_;
    std::list<std::shared_ptr<ZRCallFutureState>> queue_;
    std::vector<std::shared_ptr<ZRCallFutureState>> running_;
    std::vector<pthread_t> threads_;
    std::size_t capacity_;
    std::size_t live_ = 0;
    std::size_t idle_ = 0;
    bool stopping_ = false;
    zr__ZRModuleInfoVexel target_;
    std::string endpoint_;
};

}  // namespace ZR
