// Fuzzes the reply value decoder: the input becomes the content of a
// callVexelResponse element in an otherwise well-formed reply, read through
// the generated stub and the ZRValue input hook on a module connection.
// Input: one byte choosing how the reply is cut into reads, then the text.
//
// Beyond "no crash, no hang, no leak" it checks that the connection carries
// the next call, and that the decoded value survives being written and read
// again, except where the encoding cannot carry it (see roundTripImage).
#include "fuzzexchange.h"

namespace {

using ZR::ZRValue;

// isspace in the C locale: what TinyXML's condensing treats as blank.
bool isBlank(unsigned char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// The value that `value` comes back as after writing and reading, or false
// when the encoding cannot carry it at all (non-finite floats).
bool roundTripImage(const ZRValue& value, ZRValue& image)
{
    switch (value.valueType()) {
    case ZRValue::Array: {
        image.resizeArray(0);
        for (const ZRValue& element : value.elements()) {
            ZRValue elementImage;
            if (!roundTripImage(element, elementImage))
                return false;
            image.append(elementImage);
        }
        return true;
    }
    case ZRValue::Float:
        image = value;
        return std::isfinite(static_cast<float>(value));
    case ZRValue::String: {
        const ZR::TZRValueString& text = static_cast<const ZR::TZRValueString&>(const_cast<ZRValue&>(value));
        bool blank = true;
        for (char c : text)
            blank = blank && isBlank(static_cast<unsigned char>(c));
        // A blank text node is dropped; the value reaches the reader as
        // NUL-terminated text.
        image = blank ? "" : text.c_str();
        return true;
    }
    case ZRValue::Binary: {
        // Its bytes travel as an attachment; the XML holds the placeholder.
        const char placeholder = '1';
        image.assignBytes(&placeholder, 1);
        return true;
    }
    default:
        image = value;
        return true;
    }
}

std::string encoded(const ZRValue& value)
{
    std::string xml;
    ZR::writeValueXml(value, xml, false);
    return xml;
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

    ZRValue image;
    if (!returned || !roundTripImage(result, image))
        return 0;
    const std::string again = ZRTest::httpResponse(
        ZRTest::soapEnvelope("<zrbroker:callVexelResponse>" + encoded(result) + "</zrbroker:callVexelResponse>"));
    ZRValue reread;
    if (!exchange.call(again, pieceSize, reread))
        ZRFuzz::violated("a written value was refused when read back", result.toString(1));
    if (!(reread == image))
        ZRFuzz::violated("a value changed on the way back",
                         "expected " + image.toString(1) + "\nread " + reread.toString(1));
    return 0;
}
