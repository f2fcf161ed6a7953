// SPDX-License-Identifier: GPL-2.0-or-later
// What the demo broker's replies may hold: a cap on each reply and a budget
// that all replies being built and sent share, so that many large replies
// to slow readers cannot add up without bound. Sizes are the encoded bytes
// of the reply as estimated from its value.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>

#include "methodfault.h"
#include "zrvalue.h"

namespace ZRDemo {

class ReplyBudget {
public:
    ReplyBudget(std::size_t perReply, std::size_t total) : perReply_(perReply), total_(total) {}

    std::size_t perReply() const { return perReply_; }
    std::size_t total() const { return total_; }
    // Takes `bytes` from the budget when they fit; false otherwise.
    bool take(std::size_t bytes, std::size_t& inUse);
    void give(std::size_t bytes);

    static constexpr std::size_t defaultPerReply = 128u * 1024 * 1024;
    // A method may hold about twice its reply while it builds it.
    static constexpr std::size_t defaultTotal = 512u * 1024 * 1024;

private:
    const std::size_t perReply_;
    const std::size_t total_;
    std::mutex mutex_;
    std::size_t inUse_ = 0;
};

// One reply's share of the budget, held until the reply has gone out.
class ReplyTicket {
public:
    explicit ReplyTicket(ReplyBudget& budget) : budget_(budget) {}
    ~ReplyTicket() { release(); }
    ReplyTicket(const ReplyTicket&) = delete;
    ReplyTicket& operator=(const ReplyTicket&) = delete;

    // Makes sure this reply may hold `bytes` in all, before it is built.
    // Throws MethodFault "Reply too large" (over the cap of one reply) or
    // "Broker busy" (the replies in flight leave no room for it now).
    void cover(double bytes, const std::string& where);
    void release();

private:
    ReplyBudget& budget_;
    std::size_t held_ = 0;
};

// The bytes `value` takes as the item encoding of a reply, its attachments
// included; never less than the writer produces.
double encodedBytes(const ZR::ZRValue& value);

// Per-element sizes for methods that check before they build: an upper
// bound of one Float item, and of the tags of one Array.
constexpr double floatItemBytes = 50;
constexpr double arrayItemBytes = 30;
// A Binary's placeholder item and its DIME record header, beyond its bytes.
constexpr double binaryOverheadBytes = 160;

}  // namespace ZRDemo
