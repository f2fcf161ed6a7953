// SPDX-License-Identifier: GPL-2.0-or-later
// The chunked-framing check: a byte-at-a-time state machine, except that
// chunk data is skipped whole.
#include "zrchunkframing.h"

#include <algorithm>

#include "zrtextchars.h"

namespace ZR {

namespace {

// More hexadecimal digits than this cannot be a size any reply may have.
const int kMaxSizeDigits = 15;
// Chunk extensions and trailer lines are ignored, but not without bound.
const std::size_t kMaxLineLength = 4096;

}  // namespace

bool ZRChunkFraming::fail(const std::string& problem)
{
    if (problem_.empty())
        problem_ = problem;
    return false;
}

bool ZRChunkFraming::take(const char* data, std::size_t size)
{
    if (!problem_.empty())
        return false;
    while (size > 0) {
        if (state_ == State::Data) {
            const std::size_t skipped =
                static_cast<std::size_t>(std::min<unsigned long long>(remaining_, size));
            data += skipped;
            size -= skipped;
            remaining_ -= skipped;
            accepted_ += skipped;
            if (remaining_ == 0)
                state_ = State::DataEnd;
            continue;
        }
        if (!takeByte(*data))
            return false;
        ++accepted_;
        ++data;
        --size;
    }
    return true;
}

bool ZRChunkFraming::takeByte(char byte)
{
    if (state_ != State::Data && state_ != State::Done && ++lineLength_ > kMaxLineLength)
        return fail("a chunk-size or trailer line longer than " + std::to_string(kMaxLineLength) + " bytes");
    switch (state_) {
    case State::Size: {
        const int digit = hexDigitValue(byte);
        if (digit >= 0) {
            if (++digits_ > kMaxSizeDigits)
                return fail("a chunk size of more than " + std::to_string(kMaxSizeDigits) + " digits");
            remaining_ = remaining_ * 16 + static_cast<unsigned>(digit);
            return true;
        }
        if (digits_ == 0)
            return fail("a chunk-size line that does not start with a hexadecimal number");
        if (byte == ';' || byte == ' ' || byte == '\t') {
            state_ = State::Extension;
            return true;
        }
        if (byte == '\r') {
            state_ = State::SizeEnd;
            return true;
        }
        if (byte == '\n')
            break;
        return fail("a chunk-size line with a character that is no hexadecimal digit");
    }
    case State::Extension:
        if (byte == '\r')
            state_ = State::SizeEnd;
        else if (byte == '\n')
            break;
        return true;
    case State::SizeEnd:
        if (byte != '\n')
            return fail("a chunk-size line that does not end with CRLF");
        break;
    case State::DataEnd:
        if (byte == '\r') {
            state_ = State::DataEndLf;
            return true;
        }
        if (byte == '\n') {
            state_ = State::Size;
            digits_ = 0;
            lineLength_ = 0;
            return true;
        }
        return fail("a chunk longer than its announced size");
    case State::DataEndLf:
        if (byte != '\n')
            return fail("a chunk longer than its announced size");
        state_ = State::Size;
        digits_ = 0;
        lineLength_ = 0;
        return true;
    case State::Trailer:
        if (byte == '\r') {
            state_ = State::TrailerLf;
            return true;
        }
        if (byte == '\n') {
            if (lineLength_ == 1)
                state_ = State::Done;
            lineLength_ = 0;
        }
        return true;
    case State::TrailerLf:
        if (byte != '\n')
            return fail("a trailer line that does not end with CRLF");
        // An empty line (just CRLF) ends the body.
        state_ = lineLength_ == 2 ? State::Done : State::Trailer;
        lineLength_ = 0;
        return true;
    case State::Data: return true;
    case State::Done: return true;
    }
    // The end of a size line: the chunk's data follow, or after the last
    // chunk (size 0) the trailer.
    lineLength_ = 0;
    state_ = remaining_ == 0 ? State::Trailer : State::Data;
    digits_ = 0;
    return true;
}

}  // namespace ZR
