// SPDX-License-Identifier: GPL-2.0-or-later
// Checks the chunked framing of an HTTP reply body as its bytes arrive, so
// that a size line that is no number or a chunk longer than its size fails
// the reply at once; gSOAP's own chunk reader waits for more input instead.
#pragma once

#include <cstddef>
#include <string>

namespace ZR {

class ZRChunkFraming {
public:
    // Takes the next bytes of the body. False once the framing is broken;
    // problem() then says how.
    bool take(const char* data, std::size_t size);
    const std::string& problem() const { return problem_; }
    // Bytes taken before the framing broke (all of them while it holds).
    unsigned long long accepted() const { return accepted_; }
    // The terminating chunk and its trailer have been read.
    bool complete() const { return state_ == State::Done; }

private:
    enum class State { Size, Extension, SizeEnd, Data, DataEnd, DataEndLf, Trailer, TrailerLf, Done };

    bool fail(const std::string& problem);
    bool takeByte(char byte);

    State state_ = State::Size;
    unsigned long long remaining_ = 0;
    int digits_ = 0;
    unsigned long long accepted_ = 0;
    std::size_t lineLength_ = 0;
    std::string problem_;
};

}  // namespace ZR
