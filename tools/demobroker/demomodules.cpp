// The methods of the demo broker's modules: Echo (and Anywhere), Math, Store
// and Faulty. Arguments arrive as the client built them: an Array of the
// call's parameters, or Invalid when there are none.
#include "demomodules.h"

#include <algorithm>
#include <chrono>
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

ZRValue product(const Matrix& a, const Matrix& b, const std::string& where)
{
    if (a[0].size() != b.size()) {
        badArgument(where, "a " + std::to_string(a.size()) + "x" + std::to_string(a[0].size()) +
                               " matrix cannot multiply a " + std::to_string(b.size()) + "x" +
                               std::to_string(b[0].size()) + " matrix");
    }
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

}  // namespace

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

ModuleHost::ModuleHost(StopSignal& stop)
    : stop_(stop),
      modules_{{"Echo", false}, {"Math", false}, {"Store", false}, {"Faulty", false}, {"Anywhere", true}}
{
}

int ModuleHost::find(const std::string& name) const
{
    for (std::size_t i = 0; i < modules_.size(); ++i) {
        if (modules_[i].name == name) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

ZRValue ModuleHost::call(const std::string& module, const std::string& method, const ZRValue& arguments)
{
    if (module == "Echo" || module == "Anywhere") {
        return echo(method, arguments);
    }
    if (module == "Math") {
        return math(method, arguments);
    }
    if (module == "Store") {
        return store(method, arguments);
    }
    if (module == "Faulty") {
        return faulty(method, arguments);
    }
    throw MethodFault{true, "Unknown module", module};
}

ZRValue ModuleHost::echo(const std::string& method, const ZRValue& arguments)
{
    if (method == "echo") {
        return arguments;
    }
    if (method == "wrap") {
        ZRValue out(1);
        ZRValue wrapped;
        wrapped.append(out);
        wrapped.append(arguments);
        return wrapped;
    }
    if (method == "first") {
        ZRValue out;
        out.append(ZRValue(0));
        if (arguments.valueType() == ZRValue::Array) {
            for (const ZRValue& element : arguments.elements()) {
                out.append(element);
            }
        } else {
            out.append(arguments);
        }
        return out;
    }
    if (method == "typeOf") {
        return ZRValue(ZRValue::TypeToString(arguments.valueType()));
    }
    if (method == "types") {
        ZRValue out;
        out.resizeArray(0);
        if (arguments.valueType() == ZRValue::Array) {
            for (const ZRValue& element : arguments.elements()) {
                out.append(ZRValue(ZRValue::TypeToString(element.valueType())));
            }
        }
        return out;
    }
    if (method == "sizeOf") {
        return ZRValue(arguments.size());
    }
    if (method == "delay") {
        // A slow method: sleeps ms milliseconds, then answers the value
        // given after them, or the number of milliseconds.
        const std::string where = "Echo::delay";
        const double milliseconds = leadingNumber(arguments, where);
        if (!(milliseconds >= 0 && milliseconds <= maxStallSeconds * 1000)) {
            badArgument(where, "the delay must be between 0 and 30000 ms");
        }
        stop_.waitFor(milliseconds / 1000);
        if (arguments.valueType() == ZRValue::Array && arguments.size() >= 2) {
            return arguments.elements()[1];
        }
        return parameter(arguments, 0, where);
    }
    throw MethodFault{true, "Unknown method", "Echo::" + method};
}

ZRValue ModuleHost::math(const std::string& method, const ZRValue& arguments)
{
    const std::string where = "Math::" + method;
    if (method == "sum") {
        double sum = 0;
        forEachLeaf(arguments, [&](const ZRValue& leaf) {
            if (leaf.hasValue()) {
                sum += number(leaf, where);
            }
        });
        return ZRValue(static_cast<float>(sum));
    }
    if (method == "matmul") {
        return product(matrix(parameter(arguments, 0, where), where),
                       matrix(parameter(arguments, 1, where), where), where);
    }
    if (method == "scale") {
        double factor = number(parameter(arguments, 0, where), where);
        return mapLeaves(parameter(arguments, 1, where), [&](const ZRValue& leaf) {
            return ZRValue(static_cast<float>(factor * number(leaf, where)));
        });
    }
    throw MethodFault{true, "Unknown method", where};
}

ZRValue ModuleHost::store(const std::string& method, const ZRValue& arguments)
{
    const std::string where = "Store::" + method;
    if (method == "put") {
        std::string name = text(parameter(arguments, 0, where), where);
        const ZRValue& blob = parameter(arguments, 1, where);
        TZRValueBytes bytes;
        if (blob.valueType() == ZRValue::Binary) {
            bytes = bytesOf(blob);
        } else if (blob.valueType() == ZRValue::String) {
            std::string content = text(blob, where);
            bytes.assign(content.begin(), content.end());
        } else {
            badArgument(where, "expected a Binary or a String to store");
        }
        std::lock_guard<std::mutex> lock(storeMutex_);
        blobs_[name] = bytes;
        return ZRValue(static_cast<int>(bytes.size()));
    }
    if (method == "get") {
        std::string name = arguments.valueType() == ZRValue::Array
                               ? text(parameter(arguments, 0, where), where)
                               : text(arguments, where);
        std::lock_guard<std::mutex> lock(storeMutex_);
        auto found = blobs_.find(name);
        if (found == blobs_.end()) {
            throw MethodFault{true, "Unknown blob", name};
        }
        return binary(found->second);
    }
    if (method == "names") {
        ZRValue out;
        out.resizeArray(0);
        std::lock_guard<std::mutex> lock(storeMutex_);
        for (const auto& entry : blobs_) {
            out.append(ZRValue(entry.first));
        }
        return out;
    }
    if (method == "make") {
        double count = leadingNumber(arguments, where);
        if (!(count >= 1 && count <= maxBlobBytes)) {
            badArgument(where, "the byte count must be between 1 and 67108864");
        }
        TZRValueBytes bytes(static_cast<std::size_t>(count));
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            bytes[i] = static_cast<unsigned char>(i);
        }
        return binary(bytes);
    }
    if (method == "concat") {
        TZRValueBytes joined;
        forEachLeaf(arguments, [&](const ZRValue& leaf) {
            if (leaf.valueType() == ZRValue::Binary) {
                TZRValueBytes bytes = bytesOf(leaf);
                joined.insert(joined.end(), bytes.begin(), bytes.end());
            }
        });
        if (joined.empty()) {
            badArgument(where, "no bytes to join");
        }
        return binary(joined);
    }
    if (method == "reverse") {
        return mapLeaves(arguments, [](const ZRValue& leaf) -> ZRValue {
            if (leaf.valueType() != ZRValue::Binary) {
                return leaf;
            }
            TZRValueBytes bytes = bytesOf(leaf);
            std::reverse(bytes.begin(), bytes.end());
            return binary(bytes);
        });
    }
    if (method == "sizes") {
        ZRValue out;
        out.resizeArray(0);
        forEachLeaf(arguments, [&](const ZRValue& leaf) {
            if (leaf.valueType() == ZRValue::Binary) {
                out.append(ZRValue(leaf.size()));
            }
        });
        return out;
    }
    throw MethodFault{true, "Unknown method", where};
}

ZRValue ModuleHost::faulty(const std::string& method, const ZRValue& arguments)
{
    const std::string where = "Faulty::" + method;
    if (method == "fail") {
        MethodFault fault{false, "Requested failure", where};
        if (arguments.valueType() == ZRValue::Array && arguments.size() >= 1) {
            fault.faultstring = text(arguments.elements()[0], where);
            fault.detail = arguments.size() >= 2 ? text(arguments.elements()[1], where) : "";
        }
        throw fault;
    }
    if (method == "drop") {
        throw DropConnection();
    }
    if (method == "stall") {
        double seconds = leadingNumber(arguments, where);
        if (!(seconds >= 0 && seconds <= maxStallSeconds)) {
            badArgument(where, "the delay must be between 0 and 30 seconds");
        }
        return ZRValue(static_cast<float>(stop_.waitFor(seconds)));
    }
    if (method == "silent") {
        throw StaySilent();
    }
    if (method == "garbage") {
        throw GarbageReply();
    }
    if (method == "trickle") {
        double interval = defaultTrickleInterval;
        if (arguments.hasValue()) {
            interval = leadingNumber(arguments, where);
        }
        if (!(interval > 0 && interval <= maxTrickleInterval)) {
            badArgument(where, "the pause must be above 0 and at most 1 second");
        }
        throw TrickleReply{interval};
    }
    throw MethodFault{true, "Unknown method", where};
}

}  // namespace ZRDemo
