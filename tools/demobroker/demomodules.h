// The modules that the demo broker hosts: their descriptions, and their
// methods as plain functions from an argument ZRValue to a result ZRValue.
// Failures that the caller should see as SOAP faults are thrown as
// MethodFault; everything here is independent of gSOAP and sockets.
#pragma once

#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "zrvalue.h"

namespace ZRDemo {

// A failure to report as a SOAP fault. `sender` picks a client fault (bad
// request) over a server fault.
struct MethodFault {
    bool sender;
    std::string faultstring;
    std::string detail;
};

// Thrown by Faulty.drop: the server cuts the connection mid-reply.
struct DropConnection {};

// Thrown by Faulty.silent: the server never answers; it waits until the
// client gives up (closes the connection) or the broker stops.
struct StaySilent {};

// Thrown by Faulty.garbage: the server answers with a body that is not a
// SOAP message.
struct GarbageReply {};

// Thrown by Faulty.trickle: the server sends a complete reply, one byte
// every `interval` seconds.
struct TrickleReply {
    double interval;
};

// Set once when the broker shuts down; wakes every stalled method.
class StopSignal {
public:
    void request();
    bool requested() const;
    // Waits up to `seconds`; returns the seconds actually waited.
    double waitFor(double seconds);

private:
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stopped_ = false;
};

// How a module is reported to getModuleByName.
struct ModuleDescription {
    std::string name;
    // True: reported with ip "0.0.0.0" whatever the broker's address.
    bool anyAddress;
};

class ModuleHost {
public:
    explicit ModuleHost(StopSignal& stop);

    const std::vector<ModuleDescription>& modules() const { return modules_; }
    // Index of the module in modules(), or -1.
    int find(const std::string& name) const;

    // Runs `module`.`method` on `arguments`; throws MethodFault or
    // DropConnection.
    ZR::ZRValue call(const std::string& module, const std::string& method, const ZR::ZRValue& arguments);

    // Longest sleep Faulty.stall accepts, in seconds.
    static constexpr double maxStallSeconds = 30.0;
    // Longest pause between two bytes that Faulty.trickle accepts, and the
    // pause when none is given.
    static constexpr double maxTrickleInterval = 1.0;
    static constexpr double defaultTrickleInterval = 0.2;

private:
    ZR::ZRValue echo(const std::string& method, const ZR::ZRValue& arguments);
    ZR::ZRValue math(const std::string& method, const ZR::ZRValue& arguments);
    ZR::ZRValue store(const std::string& method, const ZR::ZRValue& arguments);
    ZR::ZRValue faulty(const std::string& method, const ZR::ZRValue& arguments);

    StopSignal& stop_;
    std::vector<ModuleDescription> modules_;
    std::mutex storeMutex_;
    std::map<std::string, ZR::TZRValueBytes> blobs_;
};

}  // namespace ZRDemo
