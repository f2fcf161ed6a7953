// SPDX-License-Identifier: GPL-2.0-or-later
// The methods of the demo broker's modules: Echo (and Anywhere), Math, Store
// and Faulty, and the table that names them. Arguments arrive as the client
// built them: an Array of the call's parameters, or Invalid when there are
// none.
#include "demomodules.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>

using ZR::TZRValueBytes;
using ZR::ZRValue;

namespace ZRDemo {

namespace {

// Larger blobs are refused, so a caller cannot make the broker allocate
// without bound.
constexpr double maxBlobBytes = 64.0 * 1024 * 1024;

[[noreturn]] void badArgument(const std::string& where, const std::string& what)
{
    throw MethodFault{true, "Bad argument", where + ": " + what};
}

// The parameter at `index`, from the Array of parameters.
const ZRValue& parameter(const ZRValue& arguments, int index, const std::string& where)
{
    if (arguments.valueType() != ZRValue::Array || arguments.size() <= index) {
        badArgument(where, "expected at least " + std::to_string(index + 1) + " parameter(s)");
    }
    return arguments.elements()[index];
}

double number(const ZRValue& value, const std::string& where)
{
    switch (value.valueType()) {
    case ZRValue::Int: return static_cast<int>(value);
    case ZRValue::Float: return static_cast<float>(value);
    default: badArgument(where, "expected a number, got " + ZRValue::TypeToString(value.valueType()));
    }
}

// A number given alone or as the first parameter.
double leadingNumber(const ZRValue& arguments, const std::string& where)
{
    if (arguments.valueType() == ZRValue::Array) {
        return number(parameter(arguments, 0, where), where);
    }
    return number(arguments, where);
}

std::string text(const ZRValue& value, const std::string& where)
{
    if (value.valueType() != ZRValue::String) {
        badArgument(where, "expected a String, got " + ZRValue::TypeToString(value.valueType()));
    }
    // The string accessor is not const; a String copy converts nothing.
    ZRValue copy(value);
    const ZR::TZRValueString& content = copy;
    return content;
}

TZRValueBytes bytesOf(const ZRValue& value)
{
    if (value.size() == 0) {
        return TZRValueBytes();
    }
    return TZRValueBytes(value.byteData(), value.byteData() + value.size());
}

ZRValue binary(const TZRValueBytes& bytes)
{
    ZRValue out;
    out.assignBytes(bytes.data(), static_cast<int>(bytes.size()));
    return out;
}

// Depth-first walks over nested arrays, in the order the attachments travel.
template <typename Visit>
void forEachLeaf(const ZRValue& value, Visit visit)
{
    if (value.valueType() == ZRValue::Array) {
        for (const ZRValue& element : value.elements()) {
            forEachLeaf(element, visit);
        }
    } else {
        visit(value);
    }
}

ZRValue mapLeaves(const ZRValue& value, const std::function<ZRValue(const ZRValue&)>& map)
{
    if (value.valueType() != ZRValue::Array) {
        return map(value);
    }
    ZRValue out;
    out.resizeArray(0);
    for (const ZRValue& element : value.elements()) {
        out.append(mapLeaves(element, map));
    }
    return out;
}

typedef std::vector<std::vector<double>> Matrix;

// An Array of rows of numbers; a flat Array of numbers is one row.
Matrix matrix(const ZRValue& value, const std::string& where)
{
    if (value.valueType() != ZRValue::Array || value.size() == 0) {
        badArgument(where, "expected a non-empty Array of rows");
    }
    Matrix out;
    if (value.elements()[0].valueType() != ZRValue::Array) {
        out.emplace_back();
        for (const ZRValue& element : value.elements()) {
            out.back().push_back(number(element, where));
        }
        return out;
    }
    for (const ZRValue& row : value.elements()) {
        if (row.valueType() != ZRValue::Array || row.size() != value.elements()[0].size() ||
            row.size() == 0) {
            badArgument(where, "rows must be non-empty Arrays of equal length");
        }
        out.emplace_back();
        for (const ZRValue& element : row.elements()) {
            out.back().push_back(number(element, where));
        }
    }
    return out;
}

ZRValue product(const Matrix& a, const Matrix& b, const MethodCall& call)
{
    const std::string& where = call.where;
    if (a[0].size() != b.size()) {
        badArgument(where, "a " + std::to_string(a.size()) + "x" + std::to_string(a[0].size()) +
                               " matrix cannot multiply a " + std::to_string(b.size()) + "x" +
                               std::to_string(b[0].size()) + " matrix");
    }
    // A column times a row is quadratic in the request: the size is checked
    // before any of it is built.
    const double rows = static_cast<double>(a.size());
    const double columns = static_cast<double>(b[0].size());
    call.reply.cover(arrayItemBytes * (rows + 1) + floatItemBytes * rows * columns, where);
    ZRValue out;
    out.resizeArray(0);
    for (const std::vector<double>& rowOfA : a) {
        ZRValue row;
        row.resizeArray(0);
        for (std::size_t column = 0; column < b[0].size(); ++column) {
            double sum = 0;
            for (std::size_t k = 0; k < b.size(); ++k) {
                sum += rowOfA[k] * b[k][column];
            }
            row.append(ZRValue(static_cast<float>(sum)));
        }
        out.append(row);
    }
    return out;
}

// The name given alone or as the first parameter.
std::string leadingText(const ZRValue& arguments, const std::string& where)
{
    if (arguments.valueType() == ZRValue::Array) {
        return text(parameter(arguments, 0, where), where);
    }
    return text(arguments, where);
}

// Echo

ZRValue echoEcho(ModuleHost&, const MethodCall& call)
{
    return call.arguments;
}

ZRValue echoWrap(ModuleHost&, const MethodCall& call)
{
    ZRValue wrapped;
    wrapped.append(ZRValue(1));
    wrapped.append(call.arguments);
    return wrapped;
}

ZRValue echoFirst(ModuleHost&, const MethodCall& call)
{
    ZRValue out;
    out.append(ZRValue(0));
    if (call.arguments.valueType() == ZRValue::Array) {
        for (const ZRValue& element : call.arguments.elements()) {
            out.append(element);
        }
    } else {
        out.append(call.arguments);
    }
    return out;
}

ZRValue echoTypeOf(ModuleHost&, const MethodCall& call)
{
    return ZRValue(ZRValue::TypeToString(call.arguments.valueType()));
}

ZRValue echoTypes(ModuleHost&, const MethodCall& call)
{
    ZRValue out;
    out.resizeArray(0);
    if (call.arguments.valueType() == ZRValue::Array) {
        for (const ZRValue& element : call.arguments.elements()) {
            out.append(ZRValue(ZRValue::TypeToString(element.valueType())));
        }
    }
    return out;
}

ZRValue echoSizeOf(ModuleHost&, const MethodCall& call)
{
    return ZRValue(call.arguments.size());
}

// A slow method, so that calls running side by side can be tried.
ZRValue echoDelay(ModuleHost& host, const MethodCall& call)
{
    const double milliseconds = leadingNumber(call.arguments, call.where);
    if (!(milliseconds >= 0 && milliseconds <= ModuleHost::maxDelayMilliseconds)) {
        badArgument(call.where, "the delay must be between 0 and 60000 milliseconds");
    }
    host.stop().waitFor(milliseconds / 1000.0);
    if (call.arguments.valueType() != ZRValue::Array) {
        return call.arguments;
    }
    return call.arguments.elements()[call.arguments.size() >= 2 ? 1 : 0];
}

// Math

ZRValue mathSum(ModuleHost&, const MethodCall& call)
{
    double sum = 0;
    forEachLeaf(call.arguments, [&](const ZRValue& leaf) {
        if (leaf.hasValue()) {
            sum += number(leaf, call.where);
        }
    });
    return ZRValue(static_cast<float>(sum));
}

ZRValue mathMatmul(ModuleHost&, const MethodCall& call)
{
    return product(matrix(parameter(call.arguments, 0, call.where), call.where),
                   matrix(parameter(call.arguments, 1, call.where), call.where), call);
}

ZRValue mathScale(ModuleHost&, const MethodCall& call)
{
    const double factor = number(parameter(call.arguments, 0, call.where), call.where);
    return mapLeaves(parameter(call.arguments, 1, call.where), [&](const ZRValue& leaf) {
        return ZRValue(static_cast<float>(factor * number(leaf, call.where)));
    });
}

// Store

ZRValue storePut(ModuleHost& host, const MethodCall& call)
{
    const std::string name = text(parameter(call.arguments, 0, call.where), call.where);
    const ZRValue& blob = parameter(call.arguments, 1, call.where);
    TZRValueBytes bytes;
    if (blob.valueType() == ZRValue::Binary) {
        bytes = bytesOf(blob);
    } else if (blob.valueType() == ZRValue::String) {
        const std::string content = text(blob, call.where);
        bytes.assign(content.begin(), content.end());
    } else {
        badArgument(call.where, "expected a Binary or a String to store");
    }
    return ZRValue(host.storePut(name, std::move(bytes), call.where));
}

ZRValue storeGet(ModuleHost& host, const MethodCall& call)
{
    return host.storeGet(leadingText(call.arguments, call.where), call);
}

ZRValue storeNames(ModuleHost& host, const MethodCall&)
{
    return host.storeNames();
}

ZRValue storeMake(ModuleHost&, const MethodCall& call)
{
    const double count = leadingNumber(call.arguments, call.where);
    if (!(count >= 1 && count <= maxBlobBytes)) {
        badArgument(call.where, "the byte count must be between 1 and 67108864");
    }
    call.reply.cover(binaryOverheadBytes + count, call.where);
    TZRValueBytes bytes(static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<unsigned char>(i);
    }
    return binary(bytes);
}

ZRValue storeConcat(ModuleHost&, const MethodCall& call)
{
    TZRValueBytes joined;
    forEachLeaf(call.arguments, [&](const ZRValue& leaf) {
        if (leaf.valueType() == ZRValue::Binary) {
            TZRValueBytes bytes = bytesOf(leaf);
            joined.insert(joined.end(), bytes.begin(), bytes.end());
        }
    });
    if (joined.empty()) {
        badArgument(call.where, "no bytes to join");
    }
    return binary(joined);
}

ZRValue storeReverse(ModuleHost&, const MethodCall& call)
{
    return mapLeaves(call.arguments, [](const ZRValue& leaf) -> ZRValue {
        if (leaf.valueType() != ZRValue::Binary) {
            return leaf;
        }
        TZRValueBytes bytes = bytesOf(leaf);
        std::reverse(bytes.begin(), bytes.end());
        return binary(bytes);
    });
}

ZRValue storeSizes(ModuleHost&, const MethodCall& call)
{
    ZRValue out;
    out.resizeArray(0);
    forEachLeaf(call.arguments, [&](const ZRValue& leaf) {
        if (leaf.valueType() == ZRValue::Binary) {
            out.append(ZRValue(leaf.size()));
        }
    });
    return out;
}

// Faulty

ZRValue faultyFail(ModuleHost&, const MethodCall& call)
{
    MethodFault fault{false, "Requested failure", call.where};
    if (call.arguments.valueType() == ZRValue::Array && call.arguments.size() >= 1) {
        fault.faultstring = text(call.arguments.elements()[0], call.where);
        fault.detail = call.arguments.size() >= 2 ? text(call.arguments.elements()[1], call.where) : "";
    }
    throw fault;
}

ZRValue faultyDrop(ModuleHost&, const MethodCall&)
{
    throw DropConnection();
}

ZRValue faultyStall(ModuleHost& host, const MethodCall& call)
{
    const double seconds = leadingNumber(call.arguments, call.where);
    if (!(seconds >= 0 && seconds <= ModuleHost::maxStallSeconds)) {
        badArgument(call.where, "the delay must be between 0 and 30 seconds");
    }
    return ZRValue(static_cast<float>(host.stop().waitFor(seconds)));
}

ZRValue faultySilent(ModuleHost&, const MethodCall&)
{
    throw StaySilent();
}

ZRValue faultyGarbage(ModuleHost&, const MethodCall&)
{
    throw GarbageReply();
}

ZRValue faultyTrickle(ModuleHost&, const MethodCall& call)
{
    double interval = ModuleHost::defaultTrickleInterval;
    if (call.arguments.hasValue()) {
        interval = leadingNumber(call.arguments, call.where);
    }
    if (!(interval > 0 && interval <= ModuleHost::maxTrickleInterval)) {
        badArgument(call.where, "the pause must be above 0 and at most 1 second");
    }
    throw TrickleReply{interval};
}

// The module a module's methods come from (Anywhere serves Echo's).
const char* methodsModule(const ModuleDescription& module)
{
    return module.methodsOf ? module.methodsOf : module.name.c_str();
}

std::string methodNames(const std::string& module)
{
    std::string names;
    for (const MethodEntry& entry : methodTable()) {
        if (module == entry.module) {
            names += (names.empty() ? "" : ", ") + std::string(entry.method);
        }
    }
    return names;
}

}  // namespace

const std::vector<MethodEntry>& methodTable()
{
    static const std::vector<MethodEntry> table = {
        {"Echo", "echo", "anything", "the argument unchanged", echoEcho},
        {"Echo", "wrap", "anything", "Array(Int 1, argument): the client unwraps it back to the argument",
         echoWrap},
        {"Echo", "first", "Array",
         "Array(Int 0, element 1, element 2, ...): the client unwraps it to the first element", echoFirst},
        {"Echo", "typeOf", "anything", "String naming the argument's type (\"Array\", \"Int\", ...)",
         echoTypeOf},
        {"Echo", "types", "Array", "Array of Strings naming each element's type", echoTypes},
        {"Echo", "sizeOf", "anything", "Int: element count, string length or byte count", echoSizeOf},
        {"Echo", "delay", "(ms[, value]) or ms, ms from 0 to 60000",
         "sleeps ms milliseconds, then answers value, or ms when no value is given (cut short when the "
         "broker stops)",
         echoDelay},
        {"Math", "sum", "numbers, nested Arrays of numbers",
         "Float sum of every Int and Float (Invalid elements are skipped)", mathSum},
        {"Math", "matmul", "(A, B), each an Array of rows of numbers (a flat Array is one row)",
         "Array of rows of Floats, A*B", mathMatmul},
        {"Math", "scale", "(factor, X)", "X with every number multiplied by factor, as Floats, same nesting",
         mathScale},
        {"Store", "put", "(String name, Binary or String blob)",
         "Int byte count; keeps the bytes under the name", storePut},
        {"Store", "get", "(String name) or String name", "the stored bytes as Binary", storeGet},
        {"Store", "names", "none", "Array of the stored names, sorted", storeNames},
        {"Store", "make", "(n) or n, n from 1 to 67108864", "Binary of n bytes 0, 1, 2, ... 255, 0, 1, ...",
         storeMake},
        {"Store", "concat", "Binary values, nested anywhere", "one Binary: their bytes in depth-first order",
         storeConcat},
        {"Store", "reverse", "anything", "same shape, each Binary's bytes reversed, other values unchanged",
         storeReverse},
        {"Store", "sizes", "Binary values, nested anywhere", "Array of Int byte counts, depth-first",
         storeSizes},
        {"Faulty", "fail", "none, or (String faultstring[, String detail])",
         "a receiver fault with those texts; without arguments \"Requested failure\" / \"Faulty::fail\"",
         faultyFail},
        {"Faulty", "drop", "anything", "starts an HTTP reply, then closes the connection", faultyDrop},
        {"Faulty", "stall", "(seconds) or seconds, 0 to 30",
         "sleeps, then answers Float seconds slept (cut short when the broker stops)", faultyStall},
        {"Faulty", "silent", "anything",
         "never answers; the connection is closed once the client closes it or the broker stops",
         faultySilent},
        {"Faulty", "garbage", "anything",
         "answers HTTP 200 with a plain-text body that is no SOAP message, then closes the connection",
         faultyGarbage},
        {"Faulty", "trickle", "none, or (seconds) or seconds, above 0 to 1",
         "sends a complete reply, the String \"trickled\", one byte per pause (0.2 s by default), then "
         "closes "
         "the connection",
         faultyTrickle},
    };
    return table;
}

const std::vector<ModuleDescription>& hostedModules()
{
    static const std::vector<ModuleDescription> modules = {{"Echo", false, nullptr},
                                                           {"Math", false, nullptr},
                                                           {"Store", false, nullptr},
                                                           {"Faulty", false, nullptr},
                                                           {"Anywhere", true, "Echo"}};
    return modules;
}

std::string describeModules()
{
    std::string out = "Modules and their methods (Module.method  what it takes):\n";
    char line[512];
    for (const ModuleDescription& module : hostedModules()) {
        if (module.methodsOf) {
            std::snprintf(line, sizeof line, "  %-16s the methods of %s, looked up at address 0.0.0.0\n",
                          (module.name + ".*").c_str(), module.methodsOf);
            out += line;
            continue;
        }
        for (const MethodEntry& entry : methodTable()) {
            if (module.name == entry.module) {
                std::snprintf(line, sizeof line, "  %-16s %s\n", (module.name + "." + entry.method).c_str(),
                              entry.takes);
                out += line;
            }
        }
    }
    return out;
}

void StopSignal::request()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopped_ = true;
    }
    wake_.notify_all();
}

bool StopSignal::requested() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return stopped_;
}

double StopSignal::waitFor(double seconds)
{
    auto start = std::chrono::steady_clock::now();
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait_for(lock, std::chrono::duration<double>(seconds), [this] { return stopped_; });
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

ModuleHost::ModuleHost(StopSignal& stop) : stop_(stop) {}

int ModuleHost::find(const std::string& name) const
{
    const std::vector<ModuleDescription>& modules = hostedModules();
    for (std::size_t i = 0; i < modules.size(); ++i) {
        if (modules[i].name == name) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

ZRValue ModuleHost::call(const std::string& module, const std::string& method, const ZRValue& arguments,
                         ReplyTicket& reply)
{
    const int index = find(module);
    if (index < 0) {
        throw MethodFault{true, "Unknown module", module};
    }
    const std::string served = methodsModule(hostedModules()[index]);
    const std::string where = served + "::" + method;
    for (const MethodEntry& entry : methodTable()) {
        if (served == entry.module && method == entry.method) {
            ZRValue result = entry.run(*this, MethodCall{arguments, where, reply});
            // Methods whose result follows the request's size are checked
            // once it is built; the others checked before they built it.
            reply.cover(encodedBytes(result), where);
            return result;
        }
    }
    throw MethodFault{true, "Unknown method", where + "\nmethods of " + served + ": " + methodNames(served)};
}

int ModuleHost::storePut(const std::string& name, TZRValueBytes bytes, const std::string& where)
{
    std::lock_guard<std::mutex> lock(storeMutex_);
    auto found = blobs_.find(name);
    const std::size_t replaced =
        found == blobs_.end() ? 0 : storeEntryCost + name.size() + found->second.size();
    const std::size_t kept = storeEntryCost + name.size() + bytes.size();
    const std::size_t after = storeBytes_ - replaced + kept;
    if (after > storeLimit_) {
        throw MethodFault{false, "Store full",
                          where + ": keeping " + std::to_string(bytes.size()) +
                              " bytes under this name would bring " + "the store to " +
                              std::to_string(after) + " bytes; it keeps at most " +
                              std::to_string(storeLimit_) + " bytes"};
    }
    storeBytes_ = after;
    const int count = static_cast<int>(bytes.size());
    blobs_[name] = std::move(bytes);
    return count;
}

ZRValue ModuleHost::storeGet(const std::string& name, const MethodCall& call)
{
    std::lock_guard<std::mutex> lock(storeMutex_);
    auto found = blobs_.find(name);
    if (found == blobs_.end()) {
        throw MethodFault{true, "Unknown blob", name};
    }
    call.reply.cover(binaryOverheadBytes + static_cast<double>(found->second.size()), call.where);
    return binary(found->second);
}

ZRValue ModuleHost::storeNames()
{
    std::lock_guard<std::mutex> lock(storeMutex_);
    ZRValue out;
    out.resizeArray(0);
    for (const auto& entry : blobs_) {
        out.append(ZRValue(entry.first));
    }
    return out;
}

}  // namespace ZRDemo
