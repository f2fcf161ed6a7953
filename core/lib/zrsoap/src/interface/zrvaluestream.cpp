// SPDX-License-Identifier: GPL-2.0-or-later
// The glue between the value codec and gSOAP: the hooks the generated code
// calls for ZRValue, the taking of a value's raw text from gSOAP's input
// stream (so that gSOAP's own parser goes on after it), and the reuse of a
// value's text between gSOAP's counting and sending passes.
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "zrcompatibility.h"
#include "zrreplyguard.h"
#include "zrsoapH.h"
#include "zrthrow.h"
#include "zrvaluesoap.h"

namespace ZR {

namespace {

const char* const kModule = "ZRValue";
const char* const kSourcePath = compatibility::kCodecSource;

[[noreturn]] void textTooLong()
{
    throwWithKind(ZRError(kModule, "readValueXml",
                          "the value text is longer than " + std::to_string(kMaxValueTextBytes) + " bytes",
                          kSourcePath, __LINE__),
                  ZRErrorKind::BadReply);
}

// The first block of an output hook's text: enough for a small value, and
// small enough for the allocator's fast bins; a larger first block costs
// more than the few regrowths of a large value.
const std::size_t kWorkingTextReserve = 512;
// A large value's text goes out in pieces of about this size: its whole
// text is never one string (whose regrowth would hold it twice), and
// sending frees each piece as it goes.
const std::size_t kTextPieceSize = std::size_t(1) << 20;

// ---------------------------------------------------------------- input hook

// gSOAP's look-ahead codes for markup characters its parser has already
// taken from the buffer (stdsoap2.cpp: SOAP_LT, SOAP_TT, SOAP_GT, SOAP_QT,
// SOAP_AP).
const soap_wchar kAheadLess = -2;
const soap_wchar kAheadEndTag = -3;
const soap_wchar kAheadGreater = -4;
const soap_wchar kAheadQuote = -5;
const soap_wchar kAheadApostrophe = -6;

// The start tag gSOAP has already read when it peeked at the element (the
// server does so when the parameter arrives before the names it expects).
std::string peekedStartTag(const struct soap* soap)
{
    std::string tag;
    if (!soap->peeked || !*soap->tag)
        return tag;
    tag += '<';
    tag += soap->tag;
    for (const struct soap_attribute* attribute = soap->attributes; attribute; attribute = attribute->next) {
        if (!attribute->visible)
            continue;
        tag += ' ';
        tag += attribute->name;
        if (attribute->visible == 2 && attribute->value) {
            tag += "=\"";
            appendEscapedXml(attribute->value, std::strlen(attribute->value), tag);
            tag += '"';
        }
    }
    tag += soap->body ? ">" : "/>";
    return tag;
}

// The character gSOAP has taken from its buffer but not yet used.
std::string pendingLookahead(const struct soap* soap)
{
    const soap_wchar ahead = soap->ahead;
    switch (ahead) {
    case 0:
    case EOF: return "";
    case kAheadLess: return "<";
    case kAheadEndTag: return "</";
    case kAheadGreater: return ">";
    case kAheadQuote: return "\"";
    case kAheadApostrophe: return "'";
    default: break;
    }
    // Anything else is character data, written back as such: a markup
    // character in it came from a reference.
    const long code = ahead & 0x7FFFFFFF;
    std::string text;
    if (code > 0xFF) {
        text = "&#" + std::to_string(code) + ";";
    } else {
        const char byte = static_cast<char>(code);
        appendEscapedXml(&byte, 1, text);
    }
    return text;
}

// Zero-length deliveries in a row that count as the end of the stream; gSOAP
// can hand out an empty piece while it steps over DIME framing.
const int kMaxEmptyPulls = 8;

// Asks gSOAP for the next piece of the message. Going through soap_recv
// keeps the HTTP chunk and DIME record framing in gSOAP's hands, so the
// piece is message text only. Returns SOAP_OK or the reason there is none.
int pullMore(struct soap* soap)
{
    for (int attempt = 0; attempt < kMaxEmptyPulls; ++attempt) {
        const int status = soap_recv(soap);
        if (status != SOAP_OK)
            return status > 0 ? status : SOAP_EOF;
        if (soap->bufidx < soap->buflen)
            return SOAP_OK;
    }
    return SOAP_EOF;
}

enum class RawElement { Found, NoElement, Truncated };

// Reads the next element from gSOAP's stream into `decoded`, pulling pieces
// of the message until the element has ended, and leaves gSOAP's buffer just
// past it, so gSOAP's own parser carries on with what follows (the
// response's end tag, then any DIME attachments). When an end tag comes
// first nothing is taken. The reader keeps of each piece only what it still
// needs.
RawElement readElementText(struct soap* soap, ZRValue& decoded)
{
    const std::string ahead = peekedStartTag(soap) + pendingLookahead(soap);
    // The announced length of the message, when there is one, bounds the
    // value's text.
    const std::size_t announced =
        soap->length < kMaxValueTextBytes ? static_cast<std::size_t>(soap->length) : kMaxValueTextBytes;
    ZRValueReader reader(decoded, announced ? ahead.size() + announced : 0);
    // Text of its own (a peeked tag) may already decide; an empty one needs
    // the buffer anyway.
    ZRValueReader::Status status = ZRValueReader::NeedMore;
    if (!ahead.empty())
        status = reader.feed(ahead.data(), ahead.size(), false);
    if (status == ZRValueReader::Complete) {
        // A peeked empty element: gSOAP's buffer already stands after it.
        soap->peeked = 0;
        return RawElement::Found;
    }
    if (status == ZRValueReader::NoElement)
        return RawElement::NoElement;

    // The window is the unread part of gSOAP's buffer: it starts at offset
    // windowStart of the text and at index windowBase of soap->buf.
    std::size_t windowStart = ahead.size();
    std::size_t windowBase = soap->bufidx;
    std::size_t textSize = windowStart + (soap->buflen - soap->bufidx);
    status = reader.feed(soap->buf + soap->bufidx, soap->buflen - soap->bufidx, false);
    while (status == ZRValueReader::NeedMore) {
        if (textSize > kMaxValueTextBytes)
            textTooLong();
        // The window is taken; gSOAP's DIME framing steps on from the end
        // of it.
        soap->bufidx = soap->buflen;
        const int pulled = pullMore(soap);
        if (pulled != SOAP_OK) {
            soap->error = pulled;
            return RawElement::Truncated;
        }
        windowStart = textSize;
        windowBase = soap->bufidx;
        textSize += soap->buflen - soap->bufidx;
        status = reader.feed(soap->buf + soap->bufidx, soap->buflen - soap->bufidx, false);
    }

    const std::size_t position = reader.position();
    if (status == ZRValueReader::NoElement) {
        // The decision fell on the '/' of "</", which is in the window; its
        // '<' may have ended the previous piece.
        if (position + 1 < windowStart)
            return RawElement::NoElement;
        if (position >= windowStart) {
            soap->bufidx = windowBase + (position - windowStart);
            soap->ahead = 0;
        } else {
            soap->bufidx = windowBase + 1;
            soap->ahead = kAheadEndTag;
        }
        return RawElement::NoElement;
    }
    if (position > kMaxValueTextBytes)
        textTooLong();
    soap->bufidx = windowBase + (position - windowStart);
    soap->ahead = 0;
    soap->peeked = 0;
    return RawElement::Found;
}

// The same with the reply guard standing aside while the value is read: the
// reader bounds what it reads itself, and the guard takes up its scan where
// the reader stops.
RawElement readElement(struct soap* soap, ZRValue& decoded)
{
    replyValueBegins(soap, soap->peeked && *soap->tag && soap->body);
    RawElement result = RawElement::Truncated;
    try {
        result = readElementText(soap, decoded);
    } catch (...) {
        replyValueAbandoned(soap);
        throw;
    }
    if (result == RawElement::Truncated) {
        replyValueAbandoned(soap);
        return result;
    }
    if (const int refused = replyValueEnds(soap, soap->ahead == kAheadEndTag)) {
        soap->error = refused;
        return RawElement::Truncated;
    }
    return result;
}

// A message cut short by an exception leaves the connection out of step
// (part of the message unread or unwritten): it must not carry another one.
void abandonConnection(struct soap* soap)
{
    const int error = soap->error;
    soap->keep_alive = 0;
    soap_closesock(soap);
    soap->error = error;
}

// The value the input hook fills: the one it was given, emptied, or a new
// one when gSOAP's generic element reader asks for it.
ZRValue* newValue(struct soap* soap, ZRValue* value)
{
    if (!value && !(value = zrsoap::soap_new_xsd__anyType(soap)))
        return nullptr;
    value->reset();
    return value;
}

// ------------------------------------------------------------ text reuse

// gSOAP writes an HTTP message twice: once to count its length, once to
// send it. The value's text from the first pass is kept here, per context,
// for the second.
const char kTextReuseId[] = "ZR-ValueTextReuse";

struct CountedText {
    bool active = false;  // a ZRValueTextReuse is in scope
    bool ready = false;   // `pieces` are what the counting pass wrote for `value`
    const ZRValue* value = nullptr;
    std::vector<std::string> pieces;
};

CountedText* countedTextOf(struct soap* soap)
{
    CountedText* counted = static_cast<CountedText*>(soap_lookup_plugin(soap, kTextReuseId));
    return counted && counted->active ? counted : nullptr;
}

int copyCountedText(struct soap*, struct soap_plugin* destination, struct soap_plugin*)
{
    // A copied context starts without a message in flight.
    destination->data = new CountedText;
    return SOAP_OK;
}

void deleteCountedText(struct soap*, struct soap_plugin* plugin)
{
    delete static_cast<CountedText*>(plugin->data);
    plugin->data = nullptr;
}

int createCountedText(struct soap*, struct soap_plugin* plugin, void*)
{
    plugin->id = kTextReuseId;
    plugin->data = new CountedText;
    plugin->fcopy = copyCountedText;
    plugin->fdelete = deleteCountedText;
    return SOAP_OK;
}

}  // namespace

// ----------------------------------------------------------------- public
ZRValueTextReuse::ZRValueTextReuse(struct soap* soap) : soap_(soap)
{
    if (!soap_lookup_plugin(soap, kTextReuseId))
        soap_register_plugin_arg(soap, createCountedText, nullptr);
    if (CountedText* counted = static_cast<CountedText*>(soap_lookup_plugin(soap, kTextReuseId)))
        counted->active = true;
}

ZRValueTextReuse::~ZRValueTextReuse()
{
    if (CountedText* counted = static_cast<CountedText*>(soap_lookup_plugin(soap_, kTextReuseId))) {
        counted->active = false;
        counted->ready = false;
        counted->value = nullptr;
        // A large value's text is not kept for the next message.
        counted->pieces.clear();
    }
}

int soap_out_ZRValue(struct soap* soap, const char* tag, int id, const ZRValue* value, const char* type)
{
    try {
        soap_element_begin_out(soap, tag, id, type);
        CountedText* counted = countedTextOf(soap);
        const bool counting = (soap->mode & SOAP_IO_LENGTH) != 0;
        if (counted && !counting && counted->ready && counted->value == value) {
            counted->ready = false;
            for (std::string& piece : counted->pieces) {
                soap_send_raw(soap, piece.data(), piece.size());
                std::string().swap(piece);
            }
            counted->pieces.clear();
        } else {
            // The counting pass keeps the pieces for the sending pass; any
            // other pass sends them as they come.
            const bool keep = counted && counting;
            if (keep)
                counted->pieces.clear();
            auto takePiece = [&](std::string& piece) {
                soap_send_raw(soap, piece.data(), piece.size());
                if (keep)
                    counted->pieces.push_back(std::move(piece));
            };
            std::string text;
            text.reserve(kWorkingTextReserve);
            if (value)
                writeValueXml(*value, text, false, kTextPieceSize, takePiece);
            takePiece(text);
            if (keep) {
                counted->ready = true;
                counted->value = value;
            }
        }
        soap_element_end_out(soap, tag);
        return SOAP_OK;
    } catch (...) {
        abandonConnection(soap);
        throw;
    }
}

ZRValue* soap_in_ZRValue(struct soap* soap, const char* tag, ZRValue* value, const char* type)
{
    (void)tag;
    (void)type;
    try {
        ZRValue decoded;
        if (readElement(soap, decoded) != RawElement::Found)
            return nullptr;
        if (!(value = newValue(soap, value)))
            return nullptr;
        *value = std::move(decoded);
        soap->error = SOAP_OK;
        return value;
    } catch (...) {
        abandonConnection(soap);
        throw;
    }
}

}  // namespace ZR

// The names under which the generated broker code calls the hooks (declared
// in zrsoapH.h, outside namespace zrsoap).

void soap_default_xsd__anyType(struct soap* soap, ZR::ZRValue* value)
{
    (void)soap;
    value->reset();
}

void soap_serialize_xsd__anyType(struct soap* soap, const ZR::ZRValue* value)
{
    // Literal messages carry no id/href references: nothing to mark.
    (void)soap;
    (void)value;
}

int soap_out_xsd__anyType(struct soap* soap, const char* tag, int id, const ZR::ZRValue* value,
                          const char* type)
{
    return ZR::soap_out_ZRValue(soap, tag, id, value, type);
}

ZR::ZRValue* soap_in_xsd__anyType(struct soap* soap, const char* tag, ZR::ZRValue* value, const char* type)
{
    return ZR::soap_in_ZRValue(soap, tag, value, type);
}
