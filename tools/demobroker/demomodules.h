// SPDX-License-Identifier: GPL-2.0-or-later
// The modules that the demo broker hosts: their descriptions, the one table
// of their methods (which --help, the "Unknown method" fault and the
// dispatch all read), and the methods as plain functions from an argument
// ZRValue to a result ZRValue. Failures that the caller should see as SOAP
// faults are thrown as MethodFault; everything here is independent of gSOAP
// and sockets.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "replybudget.h"
#include "zrvalue.h"

namespace ZRDemo {

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
    // Serves the methods of this module instead of methods of its own.
    const char* methodsOf;
};

class ModuleHost;

// What a method gets: its arguments, the "Module::method" its faults name,
// and the reply it may fill.
struct MethodCall {
    const ZR::ZRValue& arguments;
    const std::string& where;
    ReplyTicket& reply;
};

// One row of the method table.
struct MethodEntry {
    const char* module;
    const char* method;
    const char* takes;
    const char* gives;
    ZR::ZRValue (*run)(ModuleHost& host, const MethodCall& call);
};

// Every method of every module, in the order help and README list them.
const std::vector<MethodEntry>& methodTable();

// The hosted modules, in the order look-ups number them.
const std::vector<ModuleDescription>& hostedModules();

// The --help listing of every module and its methods with what each takes.
std::string describeModules();

class ModuleHost {
public:
    explicit ModuleHost(StopSignal& stop);

    const std::vector<ModuleDescription>& modules() const { return hostedModules(); }
    // Index of the module in modules(), or -1.
    int find(const std::string& name) const;

    // Runs `module`.`method` on `arguments`, within what `reply` may hold;
    // throws MethodFault or one of the structs above.
    ZR::ZRValue call(const std::string& module, const std::string& method, const ZR::ZRValue& arguments,
                     ReplyTicket& reply);

    // Store keeps at most this many bytes: names, contents and a fixed cost
    // per entry.
    void setStoreLimit(std::size_t bytes) { storeLimit_ = bytes; }
    static constexpr std::size_t defaultStoreLimit = 256u * 1024 * 1024;
    // What each stored entry costs beyond its name and bytes (its map node).
    static constexpr std::size_t storeEntryCost = 64;

    // Longest sleep Faulty.stall accepts, in seconds.
    static constexpr double maxStallSeconds = 30.0;
    // Longest sleep Echo.delay accepts, in milliseconds.
    static constexpr double maxDelayMilliseconds = 60000.0;
    // Longest pause between two bytes that Faulty.trickle accepts, and the
    // pause when none is given.
    static constexpr double maxTrickleInterval = 1.0;
    static constexpr double defaultTrickleInterval = 0.2;

    StopSignal& stop() { return stop_; }
    // Keeps `bytes` under `name`; throws "Store full" when that would pass
    // the limit. Returns the byte count kept.
    int storePut(const std::string& name, ZR::TZRValueBytes bytes, const std::string& where);
    ZR::ZRValue storeGet(const std::string& name, const MethodCall& call);
    ZR::ZRValue storeNames();

private:
    StopSignal& stop_;
    std::mutex storeMutex_;
    std::map<std::string, ZR::TZRValueBytes> blobs_;
    std::size_t storeBytes_ = 0;
    std::size_t storeLimit_ = defaultStoreLimit;
};

}  // namespace ZRDemo
