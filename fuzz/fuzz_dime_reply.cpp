// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzzes whole DIME replies to callVexel: the input is the HTTP body after a
// fixed header that announces it as application/dime with its exact length.
// The records (envelope, attachments, chunked records, padding) go through
// gSOAP's DIME reader, the ZRValue input hook and the restoring of received
// attachments into the result's Binary values.
// Input: one byte choosing how the reply is cut into reads, then the body.
#include "fuzzexchange.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const std::size_t pieceSize = ZRFuzz::pieceSizeFor(data[0]);
    const std::string body(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::string reply = ZRTest::httpResponse(body, 200, "OK", "application/dime");

    // Parameters with attachments, as a call that sends Binary values makes
    // them: the request goes out as DIME too.
    ZR::ZRValue parameters;
    parameters.resizeArray(0);
    parameters.append(ZR::ZRValue().assignBytes("abc", 3));
    parameters.append(ZR::ZRValue(1));

    ZRFuzz::FuzzExchange exchange;
    ZR::ZRValue result;
    exchange.call(reply, pieceSize, result, parameters);
    (void)result.toString(1);
    exchange.expectNextCallWorks();
    return 0;
}
