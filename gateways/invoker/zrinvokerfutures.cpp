// SPDX-License-Identifier: GPL-2.0-or-later
// invoker's future commands and the table of futures they name. A key names
// a ZRCallFuture, the ArrayResults its result is converted with and the
// method it calls; keys start at a random point and never repeat, so a key
// from an earlier load of the module names nothing. The module stays loaded
// (mexLock) while the table holds anything, so `clear mex` cannot drop
// futures that still run.
#include "zrinvokerfutures.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "zrhostinterrupt.h"
#include "zrmxconvert.h"
#include "zrproxyremote.h"
#include "zrtextchars.h"
#include "zrthrow.h"

namespace ZR {

namespace {

const char kUnknownFuture[] = "No such future";

struct FutureEntry {
    ZRCallFuture future;
    ZRArrayResults arrayResults;
    std::string methodName;
    bool handedOut = false;  // by 'next'
};

struct FutureTable {
    std::map<std::uint32_t, FutureEntry> entries;
    std::uint32_t lastKey = 0;
    bool locked = false;

    FutureTable()
    {
        std::random_device entropy;
        std::uniform_int_distribution<std::uint32_t> pick(1u << 20, (1u << 31) - 1);
        lastKey = pick(entropy);
    }
};

// Only the interpreter thread ever reaches it.
FutureTable& table()
{
    static FutureTable instance;
    return instance;
}

// When the host unloads the module anyway (it exits): nothing it held may
// still run or be read.
void dropAll()
{
    FutureTable& t = table();
    for (auto& entry : t.entries)
        entry.second.future.cancel();
    t.entries.clear();
    t.locked = false;
}

// Locked while futures are held, unlocked once none is.
void updateLock()
{
    FutureTable& t = table();
    if (!t.entries.empty() && !t.locked) {
        static bool atExitSet = false;
        if (!atExitSet) {
            mexAtExit(dropAll);
            atExitSet = true;
        }
        mexLock();
        t.locked = true;
    } else if (t.entries.empty() && t.locked) {
        mexUnlock();
        t.locked = false;
    }
}

// Keys, given as uint32 or as the futures themselves: each ZRFuture's key is
// read here, at a fraction of what reading F.key costs the interpreter for
// an array. A future without a key (ZRFuture()) names no call: refused, or
// left out with `skipKeyless`.
std::vector<std::uint32_t> keysOf(const mxArray* keys, bool skipKeyless = false)
{
    if (mxIsClass(keys, "ZRFuture")) {
        std::vector<std::uint32_t> result;
        const std::size_t count = mxGetNumberOfElements(keys);
        result.reserve(count);
        for (std::size_t i = 0; i < count; ++i) {
            mxArray* key = mxGetProperty(keys, i, "key");
            const bool named = key && mxIsUint32(key) && mxGetNumberOfElements(key) == 1;
            if (named)
                result.push_back(*static_cast<const std::uint32_t*>(mxGetData(key)));
            if (key)
                mxDestroyArray(key);
            if (!named && !skipKeyless)
                throw ZRMxArgumentError(identifier::invalidHandle, kUnknownFuture);
        }
        return result;
    }
    if (!mxIsUint32(keys))
        throw ZRMxArgumentError(identifier::badArgument, "Future keys must be uint32");
    const std::uint32_t* data = static_cast<const std::uint32_t*>(mxGetData(keys));
    return std::vector<std::uint32_t>(data, data + mxGetNumberOfElements(keys));
}

FutureEntry& entryOf(std::uint32_t key)
{
    auto it = table().entries.find(key);
    if (it == table().entries.end())
        throw ZRMxArgumentError(identifier::invalidHandle, kUnknownFuture);
    return it->second;
}

// The one key after the command.
std::uint32_t singleKey(int nrhs, const mxArray* prhs[])
{
    if (nrhs < 2)
        throw ZRMxArgumentError(identifier::usage, "Usage: invoker(command, key)");
    const std::vector<std::uint32_t> keys = keysOf(prhs[1]);
    if (keys.empty())
        throw ZRMxArgumentError(identifier::invalidHandle, kUnknownFuture);
    if (keys.size() != 1 || nrhs > 2)
        throw ZRMxArgumentError(identifier::badArgument, "One future key expected");
    return keys[0];
}

// Seconds from an optional argument: absent, [] or Inf wait without limit.
double secondsOf(int nrhs, const mxArray* prhs[], int index)
{
    if (nrhs <= index || mxIsEmpty(prhs[index]))
        return -1;
    const mxArray* value = prhs[index];
    if (!mxIsNumeric(value) || mxIsComplex(value) || mxGetNumberOfElements(value) != 1)
        throw ZRMxArgumentError(identifier::badArgument, "The time to wait must be a number of seconds");
    const double seconds = mxGetScalar(value);
    if (!(seconds >= 0))
        throw ZRMxArgumentError(identifier::badArgument, "The time to wait must be a number of seconds");
    return seconds > 1e9 ? -1 : seconds;
}

// Ctrl-C while waiting: ends the wait, not the futures.
class InterruptWatch {
public:
    ZRInterruptCheck check()
    {
        return [this] {
            if (hostInterruptRequested())
                seen_ = true;
            return seen_;
        };
    }
    void raiseIfSeen(const char* command) const
    {
        if (seen_)
            throwWithKind(ZRError("invoker", command, "interrupted", nullptr, 0), ZRErrorKind::Interrupted);
    }

private:
    bool seen_ = false;
};

mxArray* keyArray(std::uint32_t key)
{
    mxArray* array = mxCreateNumericMatrix(1, 1, mxUINT32_CLASS, mxREAL);
    *static_cast<std::uint32_t*>(mxGetData(array)) = key;
    return array;
}

const char* stateName(ZRCallState state)
{
    switch (state) {
    case ZRCallState::Queued: return "queued";
    case ZRCallState::Running: return "running";
    case ZRCallState::Finished: break;
    }
    return "finished";
}

// true when every future finished within `seconds`.
bool waitAll(const std::vector<std::uint32_t>& keys, double seconds)
{
    std::vector<ZRCallFuture> futures;
    for (std::uint32_t key : keys)
        futures.push_back(entryOf(key).future);
    const auto start = std::chrono::steady_clock::now();
    InterruptWatch watch;
    for (const ZRCallFuture& future : futures) {
        double left = -1;
        if (seconds >= 0)
            left = std::max(
                0.0,
                seconds - std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        const bool finished = future.wait(left, watch.check());
        watch.raiseIfSeen("wait");
        if (!finished)
            return false;
    }
    return true;
}

// The 1-based position in `keys` of a finished future that 'next' has not
// handed out before and that is not in `skip`, or 0 (at once when every
// one is). The future found counts as handed out from then on.
double nextFinished(const std::vector<std::uint32_t>& keys, const mxArray* skipMask, double seconds)
{
    if (skipMask && (!mxIsLogical(skipMask) || mxGetNumberOfElements(skipMask) != keys.size()))
        throw ZRMxArgumentError(identifier::badArgument, "The skip mask must be logical, one per key");
    const mxLogical* mask = skipMask ? mxGetLogicals(skipMask) : nullptr;
    std::vector<FutureEntry*> entries;
    std::vector<ZRCallFuture> futures;
    std::vector<std::size_t> skip;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        entries.push_back(&entryOf(keys[i]));
        futures.push_back(entries.back()->future);
        if (entries.back()->handedOut || (mask && mask[i]))
            skip.push_back(i);
    }
    if (skip.size() == keys.size())
        return 0;
    InterruptWatch watch;
    const int index = ZRCallFuture::waitAny(futures, skip, seconds, watch.check());
    watch.raiseIfSeen("next");
    if (index < 0)
        return 0;
    entries[static_cast<std::size_t>(index)]->handedOut = true;
    return index + 1;
}

mxArray* errorStruct(const ZRError* error)
{
    if (!error)
        return mxCreateDoubleMatrix(0, 0, mxREAL);
    const char* fields[] = {"identifier", "message"};
    mxArray* result = mxCreateStructMatrix(1, 1, 2, fields);
    mxSetField(result, 0, "identifier", mxCreateString(identifierOf(error->kind())));
    mxSetField(result, 0, "message", mxCreateString(error->what()));
    return result;
}

// What 'fetch' was given: keys (one per argument, or several in one), then
// optionally 'UniformOutput', TF.
struct FetchRequest {
    std::vector<std::uint32_t> keys;
    bool uniform = true;
    bool optionGiven = false;
};

FetchRequest fetchRequestOf(int nrhs, const mxArray* prhs[])
{
    FetchRequest request;
    int i = 1;
    for (; i < nrhs && !mxIsChar(prhs[i]); ++i) {
        const std::vector<std::uint32_t> keys = keysOf(prhs[i]);
        if (keys.empty())
            throw ZRMxArgumentError(identifier::invalidHandle, kUnknownFuture);
        request.keys.insert(request.keys.end(), keys.begin(), keys.end());
    }
    if (i < nrhs) {
        const char kBadOption[] = "fetch takes one option: 'UniformOutput', true or false";
        if (nrhs - i != 2)
            throw ZRMxArgumentError(identifier::badArgument, kBadOption);
        const std::string name = mxArrayText(prhs[i], kBadOption);
        const mxArray* value = prhs[i + 1];
        if (!equalsIgnoringCase(name.data(), name.data() + name.size(), "uniformoutput") ||
            !(mxIsLogical(value) || mxIsNumeric(value)) || mxIsComplex(value) ||
            mxGetNumberOfElements(value) != 1)
            throw ZRMxArgumentError(identifier::badArgument, kBadOption);
        request.uniform = mxGetScalar(value) != 0;
        request.optionGiven = true;
    }
    if (request.keys.empty())
        throw ZRMxArgumentError(identifier::usage, "Usage: invoker('fetch', key, ...)");
    return request;
}

// The converted result of one finished call, or its error raised as the
// synchronous call would raise it; null for a result without a MATLAB form.
mxArray* resultOf(const FutureEntry& entry)
{
    ZRValue result = entry.future.get();
    return zrValueToMxArray(result, entry.arrayResults);
}

// Several results (or one with the option): an Nx1 cell, or what vertcat
// makes of it. Every call is waited for before any result is converted.
mxArray* fetchMany(const FetchRequest& request)
{
    std::vector<const FutureEntry*> entries;
    for (std::uint32_t key : request.keys)
        entries.push_back(&entryOf(key));
    InterruptWatch watch;
    for (const FutureEntry* entry : entries) {
        entry->future.wait(-1, watch.check());
        watch.raiseIfSeen("fetch");
    }
    struct Cell {
        mxArray* array;
        ~Cell() { mxDestroyArray(array); }
    } cells{mxCreateCellMatrix(entries.size(), 1)};
    for (std::size_t i = 0; i < entries.size(); ++i) {
        mxArray* converted = resultOf(*entries[i]);
        if (!converted)
            throw ZRMxArgumentError(identifier::noResult,
                                    "The method '" + entries[i]->methodName + "' returned no value");
        mxSetCell(cells.array, i, converted);
    }
    if (!request.uniform) {
        mxArray* result = cells.array;
        cells.array = nullptr;
        return result;
    }
    std::vector<mxArray*> parts(entries.size());
    for (std::size_t i = 0; i < parts.size(); ++i)
        parts[i] = mxGetCell(cells.array, i);
    mxArray* joined = nullptr;
    if (mxArray* failure = mexCallMATLABWithTrap(1, &joined, static_cast<int>(parts.size()), parts.data(),
                                                 "vertcat")) {
        mxDestroyArray(failure);
        throw ZRMxArgumentError(identifier::badArgument,
                                "The results cannot be concatenated; fetchOutputs(F, 'UniformOutput', "
                                "false) gives them in a cell array");
    }
    return joined;
}

void fetch(mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    const FetchRequest request = fetchRequestOf(nrhs, prhs);
    if (request.keys.size() > 1 || request.optionGiven) {
        plhs[0] = fetchMany(request);
        return;
    }
    FutureEntry& entry = entryOf(request.keys[0]);
    InterruptWatch watch;
    entry.future.wait(-1, watch.check());
    watch.raiseIfSeen("fetch");
    if (mxArray* converted = resultOf(entry))
        plhs[0] = converted;
}

}  // namespace

mxArray* holdFuture(const ZRCallFuture& future, ZRArrayResults arrayResults, const std::string& methodName)
{
    FutureTable& t = table();
    if (t.lastKey == std::numeric_limits<std::uint32_t>::max()) {
        future.cancel();
        throw ZRMxArgumentError(identifier::badArgument, "No future keys left");
    }
    mxArray* key = keyArray(t.lastKey + 1);
    t.entries.emplace(++t.lastKey, FutureEntry{future, arrayResults, methodName});
    updateLock();
    return key;
}

bool isFutureCommand(const mxArray* command)
{
    if (!mxIsChar(command) || mxGetNumberOfElements(command) > 8)
        return false;
    static const char* const commands[] = {"wait",   "next",    "state", "fetch", "error",
                                           "cancel", "release", "count", "method"};
    char text[16] = {0};
    if (mxGetString(command, text, sizeof text) != 0)
        return false;
    for (const char* name : commands)
        if (std::strcmp(text, name) == 0)
            return true;
    return false;
}

void runFutureCommand(mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    char command[16] = {0};
    mxGetString(prhs[0], command, sizeof command);
    const std::string name(command);
    // Whatever happens below, the lock follows the table.
    struct LockUpdate {
        ~LockUpdate() { updateLock(); }
    } lockUpdate;

    if (name == "count") {
        plhs[0] = mxCreateDoubleScalar(static_cast<double>(table().entries.size()));
    } else if (nrhs < 2) {
        throw ZRMxArgumentError(identifier::usage, "Usage: invoker(command, keys, ...)");
    } else if (name == "wait") {
        plhs[0] = mxCreateLogicalScalar(waitAll(keysOf(prhs[1]), secondsOf(nrhs, prhs, 2)));
    } else if (name == "next") {
        const double index =
            nextFinished(keysOf(prhs[1]), nrhs > 3 ? prhs[3] : nullptr, secondsOf(nrhs, prhs, 2));
        plhs[0] = index > 0 ? mxCreateDoubleScalar(index) : mxCreateDoubleMatrix(0, 0, mxREAL);
    } else if (name == "state") {
        plhs[0] = mxCreateString(stateName(entryOf(singleKey(nrhs, prhs)).future.state()));
    } else if (name == "fetch") {
        fetch(plhs, nrhs, prhs);
    } else if (name == "method") {
        plhs[0] = mxCreateString(entryOf(singleKey(nrhs, prhs)).methodName.c_str());
    } else if (name == "error") {
        plhs[0] = errorStruct(entryOf(singleKey(nrhs, prhs)).future.error());
    } else if (name == "cancel") {
        for (std::uint32_t key : keysOf(prhs[1]))
            entryOf(key).future.cancel();
    } else if (name == "release") {
        // An unread future that still runs is cancelled: nobody can read it.
        for (std::uint32_t key : keysOf(prhs[1], true)) {
            auto it = table().entries.find(key);
            if (it == table().entries.end())
                continue;
            it->second.future.cancel();
            table().entries.erase(it);
        }
    }
}

}  // namespace ZR
