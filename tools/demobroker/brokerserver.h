// BrokerServer: the demo broker's network side. It listens with gSOAP, serves
// each accepted connection on its own thread with HTTP keep-alive, and
// answers getModuleByName and callVexel from the ModuleHost.
#pragma once

#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "demomodules.h"
#include "zrbrokerservice.h"

namespace ZRDemo {

class BrokerServer : public ZR::ZRBrokerService {
public:
    BrokerServer();
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
    // Connections beyond this many at a time are closed at once.
    void setMaxConnections(int count) { maxConnections_ = count; }
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

    // At most this many connections at a time unless told otherwise.
    static constexpr int defaultMaxConnections = 1024;
    // A kept-alive connection idle for this long is closed (the client
    // reconnects on its next call).
    static constexpr int idleSeconds = 120;

private:
    struct Worker {
        std::thread thread;
        int socket = -1;
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
    int maxConnections_ = defaultMaxConnections;
    double lookupDelay_ = 0;
    int reportedPort_ = 0;

    std::mutex workersMutex_;
    std::list<Worker> workers_;
};

}  // namespace ZRDemo
