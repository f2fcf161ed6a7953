// ZRValue's XML codec for the broker messages: the writer and reader of the
// item encoding, the gSOAP hooks through which the generated code uses them,
// and the DIME attachments that carry the bytes of Binary values.
#include "zrvaluesoap.h"

#include <algorithm>
#include <climits>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <limits>
#include <locale>
#include <memory>
#include <new>
#include <sstream>
#include <utility>
#include <vector>

#include <tinyxml.h>

#include "zrelementscanner.h"
#include "zrplainxml.h"
#include "zrsoapH.h"

namespace ZR {

namespace {

const char* const kModule = "ZRValue";
const char* const kSourcePath = "core/lib/zrsoap/src/interface/zrvaluesoap";

// Invariant checks name a fixed source location: the texts are part of what
// users see and must not move when this file is edited.
enum AssertSite {
    ArrayTypeNameTooLong = 337,
    BinaryWithoutText = 459,
    UnknownValueType = 649,
};
const int kFaultSite = 272;

[[noreturn]] void assertFailed(AssertSite site)
{
    throw ZRError(kModule, "Assert failed", std::string(kSourcePath) + ":" + std::to_string(site),
                  kSourcePath, site);
}

[[noreturn]] void nestedTooDeep()
{
    throw ZRError(kModule, "readValueXml",
                  "the value is nested deeper than " + std::to_string(kMaxValueNesting) + " elements",
                  kSourcePath, __LINE__);
}

[[noreturn]] void textTooLong()
{
    throw ZRError(kModule, "readValueXml",
                  "the value text is longer than " + std::to_string(kMaxValueTextBytes) + " bytes",
                  kSourcePath, __LINE__);
}

// ---------------------------------------------------------------- writing

const char kArrayStart[] = "<item xsi:type=\"Array\">";
const char kItemEnd[] = "</item>";
const char kNilItem[] = "<item xsi:nil=\"true\" xsi:type=\"nil\">nil</item>";
// The base64 text of the one byte "1": the place of a Binary whose bytes
// travel as an attachment.
const char kBinaryPlaceholder[] = "<item xsi:type=\"xsd:base64Binary\">MQ==</item>";
// Enough for a small value, and small enough for the allocator's fast
// bins: a larger first block costs more than the few regrowths of a large
// value.
const std::size_t kWorkingTextReserve = 512;

void appendByteReference(unsigned char byte, std::string& out)
{
    char reference[7] = {'&', '#'};
    int length = 2;
    if (byte >= 100)
        reference[length++] = char('0' + byte / 100);
    if (byte >= 10)
        reference[length++] = char('0' + byte / 10 % 10);
    reference[length++] = char('0' + byte % 10);
    reference[length++] = ';';
    out.append(reference, length);
}

void appendEscaped(const TZRValueString& in, std::string& out)
{
    std::size_t plainStart = 0;
    for (std::size_t i = 0; i < in.size(); ++i) {
        const unsigned char byte = static_cast<unsigned char>(in[i]);
        const char* named = nullptr;
        switch (byte) {
        case '&': named = "&amp;"; break;
        case '<': named = "&lt;"; break;
        case '>': named = "&gt;"; break;
        case '"': named = "&quot;"; break;
        case '\'': named = "&apos;"; break;
        default:
            if (byte >= 33 && byte <= 127)
                continue;
        }
        out.append(in, plainStart, i - plainStart);
        if (named)
            out += named;
        else
            appendByteReference(byte, out);
        plainStart = i + 1;
    }
    out.append(in, plainStart, std::string::npos);
}

// The string accessor is not const because it turns a small Binary into a
// String; on a String value it only hands out the payload.
const TZRValueString& stringOf(const ZRValue& value)
{
    return static_cast<const TZRValueString&>(const_cast<ZRValue&>(value));
}

void appendFloat(float number, std::string& out)
{
    // Eight significant digits, as the broker has always received them; a
    // float that needs a ninth to be told from its neighbours gets it.
    char text[32];
    const double widened = number;
    std::snprintf(text, sizeof text, "%.8g", widened);
    if (!std::isnan(number) && std::strtof(text, nullptr) != number)
        std::snprintf(text, sizeof text, "%.9g", widened);
    out += text;
}

// Every kind but Array, which the writer walks itself.
void writeLeaf(const ZRValue& value, std::string& out, bool nested)
{
    switch (value.valueType()) {
    case ZRValue::Invalid:
        if (nested)
            out += kNilItem;
        return;
    case ZRValue::Bool:
        out += "<item xsi:type=\"xsd:boolean\">";
        out += static_cast<bool>(value) ? "true" : "false";
        break;
    case ZRValue::Int: {
        char text[16];
        std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
        out += "<item xsi:type=\"xsd:int\">";
        out += text;
        break;
    }
    case ZRValue::Float:
        out += "<item xsi:type=\"xsd:float\">";
        appendFloat(static_cast<float>(value), out);
        break;
    case ZRValue::String:
        out += "<item xsi:type=\"xsd:string\">";
        appendEscaped(stringOf(value), out);
        break;
    case ZRValue::Object: {
        TZRValueString base64;
        value.encodeBase64(base64);
        out += "<item xsi:type=\"xsd:base64Object\">";
        out += base64;
        break;
    }
    case ZRValue::Binary:
        out += kBinaryPlaceholder;
        return;
    default:
        assertFailed(UnknownValueType);
    }
    out += kItemEnd;
}

// ---------------------------------------------------------------- reading

bool isWrapperName(const char* name)
{
    static const char* const kWrappers[] = {"p",      "r",          "xsd:anyType",
                                            "return", "zrbroker:p", "zrbroker:return"};
    for (const char* wrapper : kWrappers)
        if (std::strcmp(name, wrapper) == 0)
            return true;
    return false;
}

// The element trees the decoder reads: TinyXML's, for any markup, and
// ZRPlainXml's, for the plain markup of ordinary replies. Both give the same
// answers for the same text.
struct TinyXmlTree {
    using Element = TiXmlElement;

    const char* name(const Element* element) const { return element->Value(); }
    const char* attribute(const Element* element, const char* name) const { return element->Attribute(name); }
    const char* text(const Element* element) const { return element->GetText(); }
    const Element* firstChildElement(const Element* element) const { return element->FirstChildElement(); }

    // Every child node takes a position, so text or a comment between
    // elements leaves an Invalid element behind.
    template <class Visit>
    void forEachChild(const Element* element, Visit visit) const
    {
        int position = 0;
        for (const TiXmlNode* child = element->FirstChild(); child; child = child->NextSibling(), ++position)
            if (const Element* childElement = child->ToElement())
                visit(childElement, position);
    }

    // The children from the first element on, up to the first non-element.
    template <class Visit>
    void forEachLeadingElement(const Element* element, Visit visit) const
    {
        for (const TiXmlNode* node = element->FirstChildElement(); node && node->ToElement();
             node = node->NextSibling())
            visit(node->ToElement());
    }
};

// Plain markup holds elements only where it holds children at all.
struct PlainXmlTree {
    using Element = ZRPlainXml::Element;

    const char* name(const Element* element) const { return element->name; }
    const char* attribute(const Element* element, const char* name) const
    {
        return xml.attribute(*element, name);
    }
    const char* text(const Element* element) const { return element->text; }
    const Element* firstChildElement(const Element* element) const { return xml.firstChild(*element); }

    template <class Visit>
    void forEachChild(const Element* element, Visit visit) const
    {
        int position = 0;
        for (const Element* child = xml.firstChild(*element); child; child = xml.nextSibling(*child), ++position)
            visit(child, position);
    }

    template <class Visit>
    void forEachLeadingElement(const Element* element, Visit visit) const
    {
        for (const Element* child = xml.firstChild(*element); child; child = xml.nextSibling(*child))
            visit(child);
    }

    const ZRPlainXml& xml;
};

template <class Tree>
[[noreturn]] void faultReceived(const Tree& tree, const typename Tree::Element* element, const char* name)
{
    std::string description = "Fault: '" + std::string(name) + "': ";
    tree.forEachLeadingElement(element, [&](const typename Tree::Element* child) {
        description += tree.name(child);
        description += ": ";
        if (const char* text = tree.text(child)) {
            description += text;
            description += ", ";
        }
    });
    throw ZRError(kModule, "Receving Fault response: ", description, kSourcePath, kFaultSite);
}

bool isArrayNamespace(const char* xmlns)
{
    std::string lowered = xmlns ? xmlns : "";
    const std::locale locale;
    for (char& c : lowered)
        c = std::tolower(c, locale);
    return lowered.find("korvantis.broker.array") != std::string::npos;
}

bool boolFromText(const char* text)
{
    std::string lowered = text ? text : "";
    for (char& c : lowered)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return !(lowered.empty() || lowered == "0" || lowered == "false");
}

// The peer's count only sizes the first allocation; a hostile one must not
// make it huge.
const int kMaxArrayReserve = 1 << 16;
const std::size_t kMaxArrayTypeName = 511;

// What `std::istringstream(text) >> number` gives under the classic locale,
// without a stream: the characters libstdc++'s num_get takes (a sign, digits
// with leading zeros folded into one, one decimal point, an exponent), then
// strtof in the "C" locale, where anything left unconverted means 0 and an
// overflow the largest float. Building and feeding a stream costs more
// than the rest of decoding a small reply. Returns false when it cannot
// tell (a number longer than its buffer): the caller then uses a stream.
bool readFloatAsClassicStream(const char* text, float& number)
{
#if defined(__GLIBC__)
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t(0));
    if (!cLocale)
        return false;
    const char* p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        ++p;
    if (!*p) {
        // The stream's sentry fails: nothing is extracted.
        number = 0.0f;
        return true;
    }
    char taken[64];
    std::size_t count = 0;
    auto take = [&](char c) {
        if (count + 1 >= sizeof taken)
            return false;
        taken[count++] = c;
        return true;
    };
    if (*p == '+' || *p == '-')
        take(*p++);
    bool mantissa = false;
    for (; *p == '0'; ++p) {
        if (!mantissa && !take('0'))
            return false;
        mantissa = true;
    }
    bool decimalPoint = false;
    bool exponent = false;
    for (;; ++p) {
        const char c = *p;
        if (c >= '0' && c <= '9') {
            mantissa = true;
        } else if (c == '.' && !decimalPoint && !exponent) {
            decimalPoint = true;
        } else if ((c == 'e' || c == 'E') && !exponent && mantissa) {
            exponent = true;
            if (!take('e'))
                return false;
            if (p[1] == '+' || p[1] == '-')
                ++p;
            else
                continue;
        } else {
            break;
        }
        if (!take(*p))
            return false;
    }
    taken[count] = '\0';
    char* unconverted = nullptr;
    const float converted = strtof_l(taken, &unconverted, cLocale);
    if (unconverted == taken || *unconverted != '\0')
        number = 0.0f;
    else if (converted == std::numeric_limits<float>::infinity())
        number = std::numeric_limits<float>::max();
    else if (converted == -std::numeric_limits<float>::infinity())
        number = -std::numeric_limits<float>::max();
    else
        number = converted;
    return true;
#else
    (void)text;
    (void)number;
    return false;
#endif
}

template <class Tree>
class ValueDecoder {
public:
    using Element = typename Tree::Element;

    explicit ValueDecoder(const Tree& tree) : tree_(tree), classicLocale_(std::locale() == std::locale::classic())
    {
    }

    void read(const Element* element, ZRValue& out, ZRValue::Type hint, int depth);

private:
    ZRValue::Type kindOf(const Element* element, const char* name, ZRValue::Type hint);
    void readArray(const Element* element, ZRValue& out, int depth);
    float readFloat(const char* text);

    const Tree& tree_;
    // Stream extraction under the global locale is how the text has always
    // been read; under the classic one it is done without a stream.
    const bool classicLocale_;
    // Made for the first Float that needs it and reused for every other.
    std::unique_ptr<std::istringstream> numbers_;
};

template <class Tree>
void ValueDecoder<Tree>::read(const Element* element, ZRValue& out, ZRValue::Type hint, int depth)
{
    if (depth > kMaxValueNesting)
        nestedTooDeep();
    const char* name = tree_.name(element);
    if (isWrapperName(name)) {
        if (const Element* inner = tree_.firstChildElement(element)) {
            element = inner;
            name = tree_.name(inner);
        }
    }
    const ZRValue::Type kind = kindOf(element, name, hint);
    const char* text = tree_.text(element);
    switch (kind) {
    case ZRValue::Array:
        readArray(element, out, depth);
        break;
    case ZRValue::Bool:
        out = boolFromText(text);
        break;
    case ZRValue::Int:
        out = text ? std::atoi(text) : 0;
        break;
    case ZRValue::Float:
        out = text ? readFloat(text) : 0.0f;
        break;
    case ZRValue::String:
        out = text ? text : "";
        break;
    case ZRValue::Object:
        out.decodeBase64Object(text ? text : "");
        break;
    case ZRValue::Binary:
        if (!text) {
            std::cout << "error" << std::endl;
            assertFailed(BinaryWithoutText);
        }
        out.decodeBase64(text);
        break;
    default:
        out.reset();
        break;
    }
}

template <class Tree>
ZRValue::Type ValueDecoder<Tree>::kindOf(const Element* element, const char* name, ZRValue::Type hint)
{
    if (const char* type = tree_.attribute(element, "xsi:type"))
        return xsdTypeToValueType(type);
    if (std::strstr(name, "Fault"))
        faultReceived(tree_, element, name);
    if (hint != ZRValue::Invalid)
        return hint;
    return isArrayNamespace(tree_.attribute(element, "xmlns")) ? ZRValue::Array : ZRValue::Invalid;
}

template <class Tree>
void ValueDecoder<Tree>::readArray(const Element* element, ZRValue& out, int depth)
{
    const char* arrayType = tree_.attribute(element, "SOAP-ENC:arrayType");
    if (!arrayType)
        arrayType = tree_.attribute(element, "n2:arrayType");
    int capacity = 4;
    ZRValue::Type childHint = ZRValue::Array;
    if (arrayType) {
        // Without "[" the whole value names the element type and no count
        // is given.
        const char* bracket = std::strchr(arrayType, '[');
        const std::size_t nameLength = bracket ? std::size_t(bracket - arrayType) : std::strlen(arrayType);
        if (nameLength > kMaxArrayTypeName)
            assertFailed(ArrayTypeNameTooLong);
        if (bracket)
            capacity = std::atoi(bracket + 1);
        childHint = xsdTypeToValueType(std::string(arrayType, nameLength).c_str());
    }
    out.reset();
    out.reserveArray(std::min(std::max(capacity, 0), kMaxArrayReserve));

    tree_.forEachChild(element, [&](const Element* child, int position) {
        out.resizeArray(position + 1);
        read(child, out[position], childHint, depth + 1);
    });
}

template <class Tree>
float ValueDecoder<Tree>::readFloat(const char* text)
{
    float number = 0.0f;
    if (classicLocale_ && readFloatAsClassicStream(text, number))
        return number;
    if (!numbers_)
        numbers_.reset(new std::istringstream);
    numbers_->clear();
    numbers_->str(text);
    *numbers_ >> number;
    return number;
}

// ---------------------------------------------------------------- input hook

// gSOAP's look-ahead codes for markup characters its parser has already
// taken from the buffer (stdsoap2.cpp: SOAP_LT, SOAP_TT, SOAP_GT, SOAP_QT,
// SOAP_AP).
const soap_wchar kAheadLess = -2;
const soap_wchar kAheadEndTag = -3;
const soap_wchar kAheadGreater = -4;
const soap_wchar kAheadQuote = -5;
const soap_wchar kAheadApostrophe = -6;

void appendAttributeValue(const char* value, std::string& out)
{
    for (; *value; ++value) {
        switch (*value) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '"': out += "&quot;"; break;
        default: out += *value;
        }
    }
}

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
            appendAttributeValue(attribute->value, tag);
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
    // Plain markup characters in the look-ahead came from references.
    case '<': return "&lt;";
    case '>': return "&gt;";
    case '&': return "&amp;";
    default: break;
    }
    const long code = ahead & 0x7FFFFFFF;
    if (code < 0x80)
        return std::string(1, static_cast<char>(code));
    return "&#" + std::to_string(code) + ";";
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

// Takes the text of the next element from gSOAP's stream into `text` and
// leaves gSOAP's buffer just past it, so gSOAP's own parser carries on with
// what follows (the response's end tag, then any DIME attachments). When an
// end tag comes first nothing is taken.
RawElement takeRawElement(struct soap* soap, std::string& text)
{
    const std::string startTag = peekedStartTag(soap);
    text = startTag + pendingLookahead(soap);
    ZRElementScanner scanner(kMaxValueNesting);
    ZRElementScanner::Result result = scanner.scan(text.data(), text.size());
    if (result == ZRElementScanner::Complete) {
        // A peeked empty element: gSOAP's buffer already stands after it.
        soap->peeked = 0;
        text.resize(scanner.position());
        return RawElement::Found;
    }
    if (result == ZRElementScanner::NoElement)
        return RawElement::NoElement;

    // `window` is the unread part of gSOAP's buffer: it starts at offset
    // windowStart of `text` and at index windowBase of soap->buf.
    std::size_t windowStart = text.size();
    std::size_t windowBase = soap->bufidx;
    text.append(soap->buf + soap->bufidx, soap->buflen - soap->bufidx);
    result = scanner.scan(text.data() + windowStart, text.size() - windowStart);
    while (result == ZRElementScanner::NeedMore) {
        if (text.size() > kMaxValueTextBytes)
            textTooLong();
        // The window is taken; gSOAP's DIME framing steps on from the end
        // of it.
        soap->bufidx = soap->buflen;
        const int status = pullMore(soap);
        if (status != SOAP_OK) {
            soap->error = status;
            return RawElement::Truncated;
        }
        windowStart = text.size();
        windowBase = soap->bufidx;
        text.append(soap->buf + soap->bufidx, soap->buflen - soap->bufidx);
        result = scanner.scan(text.data() + windowStart, text.size() - windowStart);
    }
    if (result == ZRElementScanner::TooDeep)
        nestedTooDeep();

    const std::size_t position = scanner.position();
    if (result == ZRElementScanner::NoElement) {
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
    text.resize(position);
    return RawElement::Found;
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
    bool ready = false;   // `text` is what the counting pass wrote for `value`
    const ZRValue* value = nullptr;
    std::string text;
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

// ------------------------------------------------------------ attachments

void registerAttachment(struct soap* soap, const ZRValue& binary)
{
    const std::size_t size = static_cast<std::size_t>(binary.size());
    // An empty Binary still gets its (empty) attachment: the receiver pairs
    // attachments with placeholders by order alone.
    char* copy = static_cast<char*>(soap_malloc(soap, size ? size : 1));
    if (!copy)
        throw std::bad_alloc();
    if (size)
        std::memcpy(copy, binary.byteData(), size);
    soap_set_dime_attachment(soap, copy, size, "application/octet-stream", "image", 0, nullptr);
}

// Depth first, each Binary on its own: a failure is reported and the walk
// goes on with the next element.
void registerElementAttachments(struct soap* soap, const ZRValue& array)
{
    std::vector<std::pair<const TZRValueElements*, std::size_t>> pending;
    pending.emplace_back(&array.elements(), 0);
    while (!pending.empty()) {
        const TZRValueElements& elements = *pending.back().first;
        const std::size_t index = pending.back().second++;
        if (index == elements.size()) {
            pending.pop_back();
            continue;
        }
        const ZRValue& element = elements[index];
        if (element.valueType() == ZRValue::Array) {
            pending.emplace_back(&element.elements(), 0);
        } else if (element.valueType() == ZRValue::Binary) {
            try {
                registerAttachment(soap, element);
            } catch (const std::exception& error) {
                std::cout << error.what() << std::endl;
            }
        }
    }
}

}  // namespace

// ----------------------------------------------------------------- public

void writeValueXml(const ZRValue& value, std::string& out, bool nested)
{
    if (value.valueType() != ZRValue::Array) {
        writeLeaf(value, out, nested);
        return;
    }
    // Walked with a stack of its own: a value may nest deeper than the
    // thread's stack would allow recursion.
    std::vector<std::pair<const TZRValueElements*, std::size_t>> open;
    out += kArrayStart;
    open.emplace_back(&value.elements(), 0);
    while (!open.empty()) {
        const TZRValueElements& elements = *open.back().first;
        const std::size_t index = open.back().second++;
        if (index == elements.size()) {
            out += kItemEnd;
            open.pop_back();
            continue;
        }
        const ZRValue& element = elements[index];
        if (element.valueType() == ZRValue::Array) {
            out += kArrayStart;
            open.emplace_back(&element.elements(), 0);
        } else {
            writeLeaf(element, out, true);
        }
    }
}

TZRValueString escapeXmlText(const TZRValueString& in)
{
    TZRValueString out;
    out.reserve(in.size() * 14 / 10);
    appendEscaped(in, out);
    return out;
}

ZRValue::Type xsdTypeToValueType(const char* name)
{
    if (!name)
        return ZRValue::Invalid;
    if (std::strcmp(name, "xsd:string") == 0)
        return ZRValue::String;
    if (std::strcmp(name, "xsd:int") == 0)
        return ZRValue::Int;
    if (std::strcmp(name, "xsd:double") == 0 || std::strcmp(name, "xsd:float") == 0)
        return ZRValue::Float;
    if (std::strstr(name, "bool"))
        return ZRValue::Bool;
    if (std::strcmp(name, "xsd:base64Object") == 0)
        return ZRValue::Object;
    if (std::strcmp(name, "xsd:base64Binary") == 0)
        return ZRValue::Binary;
    if (std::strstr(name, "Array"))
        return ZRValue::Array;
    return ZRValue::Invalid;
}

ZRValue& readValueXml(TiXmlDocument& doc, TiXmlElement* element, ZRValue& out, ZRValue::Type hint)
{
    (void)doc;
    const TinyXmlTree tree;
    ValueDecoder<TinyXmlTree> decoder(tree);
    decoder.read(element, out, hint, 1);
    return out;
}

ZRValue& readValueXml(const ZRPlainXml& xml, const ZRPlainXml::Element& element, ZRValue& out,
                      ZRValue::Type hint)
{
    const PlainXmlTree tree{xml};
    ValueDecoder<PlainXmlTree> decoder(tree);
    decoder.read(&element, out, hint, 1);
    return out;
}

void registerBinaryAttachments(struct soap* soap, const ZRValue& parameters)
{
    if (parameters.valueType() == ZRValue::Array) {
        soap_set_dime(soap);
        registerElementAttachments(soap, parameters);
    } else if (parameters.valueType() == ZRValue::Binary) {
        registerAttachment(soap, parameters);
    }
}

void restoreBinaryAttachments(struct soap* soap, ZRValue& result, int& counter)
{
    // The attachment for the counter-th Binary is looked up once and then
    // followed along the list.
    const struct soap_multipart* attachment = counter < 0 ? nullptr : soap->dime.list;
    for (int skipped = 0; attachment && skipped < counter; ++skipped)
        attachment = attachment->next;
    auto restore = [&](ZRValue& binary) {
        if (attachment && attachment->size <= std::size_t(INT_MAX))
            binary.assignBytes(attachment->ptr, static_cast<int>(attachment->size));
        if (attachment)
            attachment = attachment->next;
        ++counter;
    };

    if (result.valueType() == ZRValue::Binary) {
        restore(result);
        return;
    }
    if (result.valueType() != ZRValue::Array)
        return;
    std::vector<std::pair<ZRValue*, int>> pending;
    pending.emplace_back(&result, 0);
    while (!pending.empty()) {
        ZRValue& array = *pending.back().first;
        const int index = pending.back().second++;
        if (index == array.size()) {
            pending.pop_back();
            continue;
        }
        ZRValue& element = array[index];
        if (element.valueType() == ZRValue::Array)
            pending.emplace_back(&element, 0);
        else if (element.valueType() == ZRValue::Binary)
            restore(element);
    }
}

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
        std::string().swap(counted->text);
    }
}

int soap_out_ZRValue(struct soap* soap, const char* tag, int id, const ZRValue* value, const char* type)
{
    try {
        soap_element_begin_out(soap, tag, id, type);
        CountedText* counted = countedTextOf(soap);
        const bool counting = (soap->mode & SOAP_IO_LENGTH) != 0;
        if (counted && !counting && counted->ready && counted->value == value) {
            soap_send_raw(soap, counted->text.data(), counted->text.size());
            counted->ready = false;
            std::string().swap(counted->text);
        } else {
            std::string text;
            text.reserve(kWorkingTextReserve);
            if (value)
                writeValueXml(*value, text, false);
            soap_send_raw(soap, text.data(), text.size());
            if (counted && counting) {
                counted->ready = true;
                counted->value = value;
                counted->text.swap(text);
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
        std::string text;
        if (takeRawElement(soap, text) != RawElement::Found)
            return nullptr;
        // Plain markup, the writer's, is read without a TinyXML document;
        // anything else goes the general way.
        ZRPlainXml plain;
        if (plain.parse(text.data(), text.size(), kMaxValueNesting + 1)) {
            if (!(value = newValue(soap, value)))
                return nullptr;
            readValueXml(plain, plain.root(), *value, ZRValue::Invalid);
        } else {
            TiXmlDocument document;
            document.Parse(text.c_str(), nullptr, TIXML_ENCODING_UNKNOWN);
            TiXmlElement* root = document.FirstChildElement();
            if (!root || !(value = newValue(soap, value)))
                return nullptr;
            readValueXml(document, root, *value, ZRValue::Invalid);
        }
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
