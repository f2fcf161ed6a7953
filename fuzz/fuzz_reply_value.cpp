// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzzes the reply value decoder: the input becomes the content of a
// callVexelResponse element in an otherwise well-formed reply, read through
// the generated stub and the ZRValue input hook on a module connection.
// Input: one byte choosing how the reply is cut into reads, then the text.
//
// Beyond "no crash, no hang, no leak" it checks that the connection carries
// the next call, and that a decoded value comes back exactly (float bits,
// NaN, infinities, blank and NUL-holding strings, every byte) when it is
// written and read again, its Binary bytes sent as DIME attachments as a
// broker sends them.
#include "fuzzexchange.h"
#include "valuefingerprint.h"
#include "zrvaluewalk.h"

namespace {

using ZR::ZRValue;

// The reply a broker sends for `value`: its XML, and when it holds Binary
// values a DIME message with their bytes in depth-first order.
std::string replyFor(const ZRValue& value)
{
    std::string xml;
    ZR::writeValueXml(value, xml, false);
    const std::string envelope =
        ZRTest::soapEnvelope("<zrbroker:callVexelResponse>" + xml + "</zrbroker:callVexelResponse>");
    ZRTest::DimeMessage message(envelope);
    bool binaries = false;
    ZR::walkValue(value, [&](const ZRValue& element, int) {
        if (element.valueType() == ZRValue::Binary) {
            binaries = true;
            message.attach(element.size() ? std::string(reinterpret_cast<const char*>(element.byteData()),
                                                        std::size_t(element.size()))
                                          : std::string());
        }
        return true;
    });
    if (!binaries)
        return ZRTest::httpResponse(envelope);
    return ZRTest::httpResponse(message.bytes(), 200, "OK", "application/dime");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const std::size_t pieceSize = ZRFuzz::pieceSizeFor(data[0]);
    const std::string content(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::string reply = ZRTest::httpResponse(
        ZRTest::soapEnvelope("<zrbroker:callVexelResponse>" + content + "</zrbroker:callVexelResponse>"));

    ZRFuzz::FuzzExchange exchange;
    ZRValue result;
    const bool returned = exchange.call(reply, pieceSize, result);
    // Renders every kind, including what a hostile reply can build.
    (void)result.toString(1);
    exchange.expectNextCallWorks();

    if (!returned)
        return 0;
    ZRValue reread;
    if (!exchange.call(replyFor(result), pieceSize, reread))
        ZRFuzz::violated("a written value was refused when read back", result.toString(1));
    if (ZRTest::fingerprint(reread) != ZRTest::fingerprint(result))
        ZRFuzz::violated("a value changed on the way back",
                         "sent " + ZRTest::fingerprint(result) + "\nread " + ZRTest::fingerprint(reread));
    return 0;
}
