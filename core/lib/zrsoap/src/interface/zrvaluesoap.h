// SPDX-License-Identifier: GPL-2.0-or-later
// The XML form of ZRValue inside the broker's SOAP messages: the writer
// (zrvaluewriter.cpp), the reader (zrvaluereader.cpp), the gSOAP hooks
// through which the generated code uses them (zrvaluestream.cpp) and the
// DIME attachments that carry the bytes of Binary values
// (zrvalueattachments.cpp).
//
// Contexts: every context made by soap_new/soap_new2/soap_init in this process
// carries the broker's namespace table (the global `namespaces` of
// zrsoapnamespaces.cpp), so no set-up is needed beyond gSOAP's own.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "zrvalue.h"

struct soap;

namespace ZR {

// Received values nested deeper than this many elements (wrapper included)
// are refused: their text is held and decoded whole.
const int kMaxValueNesting = 1000;
// Received value text longer than this is refused: it is held whole in memory.
const std::size_t kMaxValueTextBytes = std::size_t(256) << 20;

// ---- Writing

// Appends the encoding of `value` to `out`; `nested` is true for the elements
// of an array, false for the value handed to the output hook.
void writeValueXml(const ZRValue& value, std::string& out, bool nested);

// The same encoding handed out in pieces, so that no one string holds it
// all: whenever `out` holds at least `pieceSize` bytes, `takePiece(out)` is
// called and may take the text (move it away) or use it; `out` is then
// emptied and made ready for the next piece. What remains at the end stays
// in `out`.
void writeValueXml(const ZRValue& value, std::string& out, bool nested, std::size_t pieceSize,
                   const std::function<void(std::string&)>& takePiece);

// The bytes as XML text: the five special characters as named references,
// every byte below 33 or above 127 as a decimal reference to that byte.
void appendEscapedXml(const char* data, std::size_t size, std::string& out);
TZRValueString escapeXmlText(const TZRValueString& in);

// ---- Reading

// Decodes the one element that `text` holds (white space, comments and
// processing instructions may stand around it) into `out`. Every value the
// writer produces comes back unchanged, Binary bytes aside (they travel as
// attachments). Throws ZRError: for a fault element where the value should
// be (kind RemoteFault), and (kind BadReply) for text that is not
// well-formed XML, for element text that its type cannot hold faithfully
// (a number that is not one, invalid base64), for a Binary without text, an
// over-long arrayType and nesting deeper than kMaxValueNesting.
void readValueXml(const char* text, std::size_t size, ZRValue& out);

// The same reading for text that arrives in pieces (the input hook's): it
// finds where the element ends while it decodes, so the rest of the message
// stays for gSOAP.
class ZRValueReader {
public:
    enum Status {
        NeedMore,   // the element has not ended yet
        Complete,   // position(): one past the element's end
        NoElement,  // an end tag came first; position(): its '<'
    };

    // Decodes into `out` (reset first). `textBound`, when not 0, bounds the
    // length of the whole text: a large array then gets its room at once.
    explicit ZRValueReader(ZRValue& out, std::size_t textBound = 0);
    ~ZRValueReader();
    ZRValueReader(const ZRValueReader&) = delete;
    ZRValueReader& operator=(const ZRValueReader&) = delete;

    // `piece` holds the next `size` bytes of the text and may go once the
    // call returns: the reader keeps only what it still needs (all of it
    // where the markup is not of the writer's forms, for TinyXML's check).
    // `final` when no more will come.
    Status feed(const char* piece, std::size_t size, bool final);
    // Counted from the start of the whole text.
    std::size_t position() const;

private:
    struct Impl;
    ZRValue& out_;
    std::size_t textBound_;
    std::unique_ptr<Impl> impl_;
};

// The value type named by a schema type name; Invalid for unknown names.
ZRValue::Type xsdTypeToValueType(const char* name);

// ---- Attachments

// Hands the bytes of every Binary in `parameters` to gSOAP as outgoing DIME
// attachments, depth first. An Array switches the context to DIME output
// for the rest of its life.
void registerBinaryAttachments(struct soap* soap, const ZRValue& parameters);

// Copies the received DIME attachments into the Binary values of `result`,
// depth first, starting with attachment number `counter`; `counter` grows by
// one for every Binary met. Throws ZRError (kind BadReply) when a Binary's
// bytes did not arrive: it still holds the placeholder and no attachment is
// left for it (gSOAP lists an attachment only once it has arrived whole),
// and when attachments are left over after the last Binary.
void restoreBinaryAttachments(struct soap* soap, ZRValue& result, int& counter);

// ---- gSOAP hooks

// While one lives, the output hook keeps the text it writes on `soap` in
// gSOAP's counting pass (the one that measures the message for its
// Content-Length) and sends that same text in the writing pass that
// follows, instead of encoding the value twice. Scope one to the sending
// of one message.
class ZRValueTextReuse {
public:
    explicit ZRValueTextReuse(struct soap* soap);
    ~ZRValueTextReuse();

    ZRValueTextReuse(const ZRValueTextReuse&) = delete;
    ZRValueTextReuse& operator=(const ZRValueTextReuse&) = delete;

private:
    struct soap* soap_;
};

// The gSOAP hooks of the ZRValue type (the generated code reaches them as
// soap_out_xsd__anyType / soap_in_xsd__anyType). The output hook writes
// <tag>encoding</tag> and returns SOAP_OK. The input hook reads the next
// element from the stream, whatever its name, and returns `value`; it
// returns null with the context's error untouched when an end tag comes
// first, and null with SOAP_EOF (or the transport's error) when the stream
// ends inside the element. Decoding failures throw ZRError; the connection
// is then closed, since the rest of the message is left unread.
int soap_out_ZRValue(struct soap* soap, const char* tag, int id, const ZRValue* value, const char* type);
ZRValue* soap_in_ZRValue(struct soap* soap, const char* tag, ZRValue* value, const char* type);

}  // namespace ZR
