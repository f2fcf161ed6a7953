// SPDX-License-Identifier: GPL-2.0-or-later
// BrokerServer: the demo broker's network side. It listens with gSOAP, serves
// each accepted connection on its own thread with HTTP keep-alive, and
// answers getModuleByName and callVexel from the ModuleHost, within the
// limits that keep one client from taking the broker's slots or memory.
#pragma once

#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "demomodules.h"
#include "replybudget.h"
#include "zrbrokerservice.h"

namespace ZRDemo {

// What the broker lets its clients take.
struct BrokerLimits {
    // Connections served at once; more are closed at once. One client may
    // then hold 1024 (its half) at once, enough for a session of many proxies.
    int maxConnections = 2048;
    // Connections one peer address may hold at once; 0: half of
    // maxConnections (at least 1), so that one client cannot take them all.
    int maxPerClient = 0;
    // Seconds a connection may take to deliver one whole request, counted
    // from when the broker starts waiting for it, and to take one whole
    // reply; past that the connection is closed.
    double idleSeconds = 120;
    std::size_t maxReplyBytes = ReplyBudget::defaultPerReply;
    std::size_t replyMemory = ReplyBudget::defaultTotal;
    std::size_t storeBytes = ModuleHost::defaultStoreLimit;

    int perClient() const
    {
        return maxPerClient > 0 ? maxPerClient : (maxConnections > 1 ? maxConnections / 2 : 1);
    }
};

class BrokerServer : public ZR::ZRBrokerService {
public:
    explicit BrokerServer(const BrokerLimits& limits = BrokerLimits());
    ~BrokerServer() override;
    BrokerServer(const BrokerServer&) = delete;
    BrokerServer& operator=(const BrokerServer&) = delete;

    // Binds `address`:`port` (port 0: a free one). Throws std::runtime_error.
    void bind(const std::string& address, int port);
    int port() const { return port_; }

    // Accepts and serves until `stopFd` becomes readable (the signal
    // handler writes to it), then ends every connection and returns.
    void run(int stopFd);

    void setVerbose(bool verbose) { verbose_ = verbose; }
    // Look-ups report every module at this port instead of the broker's own,
    // as for modules that run in processes of their own (0: the broker's).
    void setReportedPort(int port) { reportedPort_ = port; }
    // Look-ups are answered only after this many seconds (a slow broker).
    void setLookupDelay(double seconds) { lookupDelay_ = seconds; }

    // The two operations, called on the connection threads.
    int callVexel(struct soap* soap, const std::string& moduleName, const std::string& methodName,
                  ZR::ZRValue& parameters, ZR::ZRValue& result) override;
    int getModuleByName(struct soap* soap, const std::string& moduleName,
                        zrsoap::zr__ZRModuleInfo& info) override;

private:
    struct Worker {
        std::thread thread;
        int socket = -1;
        std::string peer;
        bool done = false;
    };

    void acceptOne();
    void serve(Worker* worker, struct soap* context);
    void joinFinished();
    void shutdownAll();
    int sendFault(struct soap* soap, const MethodFault& fault);
    // Waits up to `seconds` while the client keeps the connection open and
    // the broker runs; false when either ended the wait.
    bool waitWhileConnected(struct soap* soap, double seconds);
    int staySilent(struct soap* soap);
    int trickleReply(struct soap* soap, double interval);
    int garbageReply(struct soap* soap);

    StopSignal stop_;
    ModuleHost modules_;
    struct soap* master_ = nullptr;
    int port_ = 0;
    std::string reportedAddress_;
    bool verbose_ = false;
    const BrokerLimits limits_;
    ReplyBudget replyBudget_;
    double lookupDelay_ = 0;
    int reportedPort_ = 0;

    std::mutex workersMutex_;
    std::list<Worker> workers_;
};

}  // namespace ZRDemo
