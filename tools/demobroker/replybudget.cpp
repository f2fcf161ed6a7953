// SPDX-License-Identifier: GPL-2.0-or-later
// The reply cap and the shared reply budget, and the size estimate that
// both are measured in.
#include "replybudget.h"

namespace ZRDemo {

namespace {

// The tags of each kind of item, rounded up (see the value writer).
constexpr double intItemBytes = 45;
constexpr double boolItemBytes = 41;
constexpr double nilItemBytes = 47;
constexpr double textItemBytes = 41;

// The escaper writes markup characters as named entities and every byte
// outside printable ASCII as a numeric reference of up to six characters.
double escapedBytes(const ZR::TZRValueString& text)
{
    double bytes = 0;
    for (unsigned char byte : text) {
        bytes += (byte >= 33 && byte <= 127 && byte != '&' && byte != '<' && byte != '>' && byte != '"' &&
                  byte != '\'')
                     ? 1
                     : 6;
    }
    return bytes;
}

std::string byteCount(double bytes)
{
    return std::to_string(static_cast<long long>(bytes)) + " bytes";
}

}  // namespace

bool ReplyBudget::take(std::size_t bytes, std::size_t& inUse)
{
    std::lock_guard<std::mutex> lock(mutex_);
    inUse = inUse_;
    if (bytes > total_ - inUse_) {
        return false;
    }
    inUse_ += bytes;
    return true;
}

void ReplyBudget::give(std::size_t bytes)
{
    std::lock_guard<std::mutex> lock(mutex_);
    inUse_ -= bytes;
}

void ReplyTicket::cover(double bytes, const std::string& where)
{
    if (bytes > static_cast<double>(budget_.perReply())) {
        throw MethodFault{true, "Reply too large",
                          where + ": the reply would take about " + byteCount(bytes) +
                              "; this broker sends at most " + byteCount(budget_.perReply()) +
                              " in one reply"};
    }
    const std::size_t wanted = static_cast<std::size_t>(bytes);
    if (wanted <= held_) {
        return;
    }
    std::size_t inUse = 0;
    if (!budget_.take(wanted - held_, inUse)) {
        throw MethodFault{false, "Broker busy",
                          where + ": replies being sent hold " + byteCount(inUse) + " of the " +
                              byteCount(budget_.total()) + " this broker allows at once; try again later"};
    }
    held_ = wanted;
}

void ReplyTicket::release()
{
    budget_.give(held_);
    held_ = 0;
}

double encodedBytes(const ZR::ZRValue& value)
{
    switch (value.valueType()) {
    case ZR::ZRValue::Array: {
        double bytes = arrayItemBytes;
        for (const ZR::ZRValue& element : value.elements()) {
            bytes += encodedBytes(element);
        }
        return bytes;
    }
    case ZR::ZRValue::Int: return intItemBytes;
    case ZR::ZRValue::Float: return floatItemBytes;
    case ZR::ZRValue::Bool: return boolItemBytes;
    case ZR::ZRValue::String: {
        // The accessor is not const, but on a String it only hands out the
        // payload; a copy would double a long text for a moment.
        const ZR::TZRValueString& text =
            static_cast<const ZR::TZRValueString&>(const_cast<ZR::ZRValue&>(value));
        return textItemBytes + escapedBytes(text);
    }
    case ZR::ZRValue::Object: return textItemBytes + 4.0 * (value.size() / 3 + 1);
    case ZR::ZRValue::Binary: return binaryOverheadBytes + value.size();
    default: return nilItemBytes;
    }
}

}  // namespace ZRDemo
