// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzzes whole HTTP replies to callVexel, header included: status line,
// header fields (Content-Length, Transfer-Encoding, Content-Type,
// Connection), chunked bodies and whatever follows the announced end.
// Input: one byte choosing how the reply is cut into reads, then the reply.
#include "fuzzexchange.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const std::size_t pieceSize = ZRFuzz::pieceSizeFor(data[0]);
    const std::string reply(reinterpret_cast<const char*>(data + 1), size - 1);

    ZRFuzz::FuzzExchange exchange;
    ZR::ZRValue result;
    exchange.call(reply, pieceSize, result);
    (void)result.toString(1);
    exchange.expectNextCallWorks();
    return 0;
}
