// SPDX-License-Identifier: GPL-2.0-or-later
// The reply guard: a gSOAP plug-in that sees every received piece through
// fpreparerecv and scans its markup with a small state machine that keeps
// its place between pieces. It only counts (attributes per element,
// namespace declarations in scope); well-formedness is the parsers' job.
// The scan starts with the body (after the HTTP header) and ends with the
// root element, so DIME attachments after the envelope are not looked at.
// It also refuses a second `return` element, which gSOAP would skip.
#include "zrreplyguard.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <stdsoap2.h>

#include "zrcompatibility.h"
#include "zrtextchars.h"
#include "zrthrow.h"
#include "zrvalue.h"

namespace ZR {

namespace {

const char kPluginId[] = "ZR-ReplyGuard";

enum class Scan {
    Off,        // no body yet, or the root element has ended
    Text,       // character data
    Open,       // after '<'
    Bang,       // after "<!"
    StartName,  // the name of a start tag
    InTag,      // between attributes
    AttributeName,
    AfterName,    // an attribute name read, '=' expected
    BeforeValue,  // after '='
    Value,        // inside a quoted value
    EmptyEnd,     // after '/' in a start tag
    EndTag,       // inside an end tag
    Skipped,      // a comment, instruction, declaration or CDATA section
};

// Storage straight from operator new. The standard allocator's overflow
// check calls a libstdc++ function newer than the one MATLAB loads the
// library with; a vector never asks for more than max_size() anyway.
template <typename T>
struct PlainAllocator {
    using value_type = T;
    PlainAllocator() = default;
    template <typename U>
    PlainAllocator(const PlainAllocator<U>&) noexcept
    {
    }
    T* allocate(std::size_t count) { return static_cast<T*>(::operator new(count * sizeof(T))); }
    void deallocate(T* pointer, std::size_t) noexcept { ::operator delete(pointer); }
    bool operator==(const PlainAllocator&) const noexcept { return true; }
    bool operator!=(const PlainAllocator&) const noexcept { return false; }
};

// Where the scan stands.
struct Lexer {
    Scan state = Scan::Off;
    char quote = 0;
    // The attribute name being read: its first bytes (enough to tell a
    // namespace declaration) and its length.
    char attributeStart[6] = {};
    std::size_t attributeLength = 0;
    std::size_t attributes = 0;  // on the start tag being read
    std::size_t declarations = 0;
    std::vector<std::size_t, PlainAllocator<std::size_t>> declared;  // per open element
    std::size_t inScope = 0;
    bool started = false;  // the root element has begun
    std::string skipEnd;   // what ends the skipped markup
    std::string recent;    // the last bytes of it
    std::string opening;   // after "<!": enough to tell a comment from CDATA
};

const std::size_t kUnknown = std::size_t(-1);

struct Guard : Lexer {
    int (*prepareReceive)(struct soap*, const char*, size_t) = nullptr;
    int (*parseHeader)(struct soap*) = nullptr;
    int (*startReceive)(struct soap*) = nullptr;
    int (*ignore)(struct soap*, const char*) = nullptr;
    ZRReadStopCheck stop = nullptr;

    // The scan as it stood where the current piece's scan began, at index
    // pieceAt of gSOAP's buffer: from there the scan can be redone up to
    // where the value reader takes over.
    Lexer atPiece;
    std::size_t pieceAt = kUnknown;
    // While the value reader reads a value the pieces are not scanned; the
    // open elements outside it, when it began.
    bool paused = false;
    std::size_t depthOutside = 0;
};

Guard* guardOf(struct soap* soap)
{
    return static_cast<Guard*>(soap_lookup_plugin(soap, kPluginId));
}

int refuse(struct soap* soap, const std::string& why)
{
    soap_set_receiver_error(soap, "Bad reply", soap_strdup(soap, why.c_str()), SOAP_SYNTAX_ERROR);
    return SOAP_SYNTAX_ERROR;
}

void reset(Guard& guard, Scan state)
{
    guard.paused = false;
    guard.pieceAt = kUnknown;
    guard.state = state;
    guard.attributes = guard.declarations = guard.inScope = 0;
    guard.declared.clear();
    guard.started = false;
    guard.attributeLength = 0;
}

// An element has opened (`empty`: and closed at once).
void elementOpened(Guard& guard, bool empty)
{
    guard.started = true;
    if (!empty) {
        guard.declared.push_back(guard.declarations);
        return;
    }
    guard.inScope -= guard.declarations;
    if (guard.declared.empty())
        guard.state = Scan::Off;
}

void elementClosed(Guard& guard)
{
    if (!guard.declared.empty()) {
        guard.inScope -= guard.declared.back();
        guard.declared.pop_back();
    }
    if (guard.declared.empty() && guard.started)
        guard.state = Scan::Off;
}

int attributeNamed(struct soap* soap, Guard& guard)
{
    if (++guard.attributes > kMaxAttributesPerElement)
        return refuse(soap, "an element of the reply has more than " +
                                std::to_string(kMaxAttributesPerElement) + " attributes");
    const bool declaration = guard.attributeLength >= 5 &&
                             std::memcmp(guard.attributeStart, "xmlns", 5) == 0 &&
                             (guard.attributeLength == 5 || guard.attributeStart[5] == ':');
    if (declaration) {
        ++guard.declarations;
        if (++guard.inScope > kMaxNamespacesInScope)
            return refuse(soap, "the reply declares more than " + std::to_string(kMaxNamespacesInScope) +
                                    " namespaces at once");
    }
    return SOAP_OK;
}

void startSkipping(Guard& guard, const char* end)
{
    guard.state = Scan::Skipped;
    guard.skipEnd = end;
    guard.recent.clear();
}

// Whether `part` is the start of `whole`.
bool startsWithAll(const std::string& whole, const std::string& part)
{
    return whole.compare(0, part.size(), part) == 0;
}

// One byte of the body; SOAP_OK or the refusal.
int scanByte(struct soap* soap, Guard& guard, char c)
{
    switch (guard.state) {
    case Scan::Off: return SOAP_OK;
    case Scan::Text:
        if (c == '<') {
            guard.state = Scan::Open;
            guard.opening.clear();
        }
        return SOAP_OK;
    case Scan::Open:
        if (c == '!') {
            guard.state = Scan::Bang;
            guard.opening.clear();
        } else if (c == '?') {
            startSkipping(guard, "?>");
        } else if (c == '/') {
            guard.state = Scan::EndTag;
        } else if (isXmlNameStart(c)) {
            guard.state = Scan::StartName;
            guard.attributes = guard.declarations = 0;
        } else {
            guard.state = Scan::Text;
        }
        return SOAP_OK;
    case Scan::Bang:
        // "<!--", "<![CDATA[" or a declaration, told apart by what follows.
        guard.opening += c;
        if (guard.opening == "--")
            startSkipping(guard, "-->");
        else if (guard.opening == "[CDATA[")
            startSkipping(guard, "]]>");
        else if (c == '>')
            guard.state = Scan::Text;
        else if (!startsWithAll("--", guard.opening) && !startsWithAll("[CDATA[", guard.opening))
            startSkipping(guard, ">");
        return SOAP_OK;
    case Scan::StartName:
        if (isXmlNameChar(c))
            return SOAP_OK;
        guard.state = Scan::InTag;
        return scanByte(soap, guard, c);
    case Scan::InTag:
        if (isXmlSpace(c))
            return SOAP_OK;
        if (c == '>') {
            guard.state = Scan::Text;
            elementOpened(guard, false);
            return SOAP_OK;
        }
        if (c == '/') {
            guard.state = Scan::EmptyEnd;
        } else if (isXmlNameStart(c)) {
            guard.state = Scan::AttributeName;
            guard.attributeStart[0] = c;
            guard.attributeLength = 1;
        } else {
            // Not markup we can follow: the parsers will say what is wrong.
            guard.state = c == '<' ? Scan::Open : Scan::Text;
        }
        return SOAP_OK;
    case Scan::AttributeName:
        if (isXmlNameChar(c)) {
            if (guard.attributeLength < sizeof guard.attributeStart)
                guard.attributeStart[guard.attributeLength] = c;
            ++guard.attributeLength;
            return SOAP_OK;
        }
        guard.state = Scan::AfterName;
        return scanByte(soap, guard, c);
    case Scan::AfterName:
        if (isXmlSpace(c))
            return SOAP_OK;
        if (c == '=') {
            guard.state = Scan::BeforeValue;
            return attributeNamed(soap, guard);
        }
        guard.state = c == '<' ? Scan::Open : Scan::Text;
        return SOAP_OK;
    case Scan::BeforeValue:
        if (isXmlSpace(c))
            return SOAP_OK;
        if (c == '"' || c == '\'') {
            guard.state = Scan::Value;
            guard.quote = c;
        } else {
            guard.state = c == '<' ? Scan::Open : Scan::Text;
        }
        return SOAP_OK;
    case Scan::Value:
        if (c == guard.quote)
            guard.state = Scan::InTag;
        return SOAP_OK;
    case Scan::EmptyEnd:
        if (c == '>') {
            guard.state = Scan::Text;
            elementOpened(guard, true);
            return SOAP_OK;
        }
        guard.state = c == '<' ? Scan::Open : Scan::Text;
        return SOAP_OK;
    case Scan::EndTag:
        if (c == '>') {
            guard.state = Scan::Text;
            elementClosed(guard);
        }
        return SOAP_OK;
    case Scan::Skipped:
        // The last bytes, as many as the terminator has.
        guard.recent += c;
        if (guard.recent.size() > guard.skipEnd.size())
            guard.recent.erase(0, 1);
        if (guard.recent == guard.skipEnd)
            guard.state = Scan::Text;
        return SOAP_OK;
    }
    return SOAP_OK;
}

// Scans a piece. The frequent steps (character data, names, quoted values,
// the writer's tags) are taken here in runs; scanByte takes the rest.
int scanPiece(struct soap* soap, Guard& guard, const char* data, const char* end)
{
    while (data != end && guard.state != Scan::Off) {
        const char c = *data;
        switch (guard.state) {
        case Scan::Text:
            data = static_cast<const char*>(std::memchr(data, '<', std::size_t(end - data)));
            if (!data)
                return SOAP_OK;
            ++data;
            guard.state = Scan::Open;
            continue;
        case Scan::Open:
            if (c == '/') {
                ++data;
                guard.state = Scan::EndTag;
                continue;
            }
            if (isXmlNameStart(c)) {
                ++data;
                guard.state = Scan::StartName;
                guard.attributes = guard.declarations = 0;
                continue;
            }
            break;
        case Scan::StartName:
            while (data != end && isXmlNameChar(*data))
                ++data;
            if (data == end)
                return SOAP_OK;
            guard.state = Scan::InTag;
            continue;
        case Scan::InTag:
            if (c == ' ') {
                ++data;
                continue;
            }
            if (c == '>') {
                ++data;
                guard.state = Scan::Text;
                elementOpened(guard, false);
                continue;
            }
            if (isXmlNameStart(c)) {
                ++data;
                guard.state = Scan::AttributeName;
                guard.attributeStart[0] = c;
                guard.attributeLength = 1;
                continue;
            }
            break;
        case Scan::AfterName:
            if (c == '=') {
                ++data;
                guard.state = Scan::BeforeValue;
                if (const int status = attributeNamed(soap, guard))
                    return status;
                continue;
            }
            break;
        case Scan::AttributeName: {
            const char* const name = data;
            while (data != end && isXmlNameChar(*data))
                ++data;
            // Only the first bytes are kept: enough to tell xmlns.
            const std::size_t length = std::size_t(data - name);
            if (guard.attributeLength < sizeof guard.attributeStart)
                std::memcpy(guard.attributeStart + guard.attributeLength, name,
                            std::min(length, sizeof guard.attributeStart - guard.attributeLength));
            guard.attributeLength += length;
            if (data == end)
                return SOAP_OK;
            guard.state = Scan::AfterName;
            continue;
        }
        case Scan::BeforeValue:
            if (c == '"' || c == '\'') {
                ++data;
                guard.quote = c;
                guard.state = Scan::Value;
                continue;
            }
            break;
        case Scan::Value:
            data = static_cast<const char*>(std::memchr(data, guard.quote, std::size_t(end - data)));
            if (!data)
                return SOAP_OK;
            ++data;
            guard.state = Scan::InTag;
            continue;
        case Scan::EndTag:
            data = static_cast<const char*>(std::memchr(data, '>', std::size_t(end - data)));
            if (!data)
                return SOAP_OK;
            ++data;
            guard.state = Scan::Text;
            elementClosed(guard);
            continue;
        default: break;
        }
        if (const int status = scanByte(soap, guard, *data++))
            return status;
    }
    return SOAP_OK;
}

int preparePiece(struct soap* soap, const char* data, size_t size)
{
    Guard& guard = *guardOf(soap);
    if (guard.stop && guard.stop(soap))
        return SOAP_EOF;
    if (!guard.paused) {
        const bool inBuffer = data >= soap->buf && data <= soap->buf + sizeof soap->buf;
        guard.atPiece = guard;
        guard.pieceAt = inBuffer ? std::size_t(data - soap->buf) : kUnknown;
        if (const int status = scanPiece(soap, guard, data, data + size))
            return status;
    }
    return guard.prepareReceive ? guard.prepareReceive(soap, data, size) : SOAP_OK;
}

int startReceive(struct soap* soap)
{
    Guard& guard = *guardOf(soap);
    reset(guard, Scan::Off);
    return guard.startReceive ? guard.startReceive(soap) : SOAP_OK;
}

// The header has been read: what is left in the buffer is the start of the
// body, which passed preparePiece before the header's end was known.
int parseHeader(struct soap* soap)
{
    Guard& guard = *guardOf(soap);
    const int status = guard.parseHeader ? guard.parseHeader(soap) : SOAP_OK;
    if (status != SOAP_OK)
        return status;
    reset(guard, Scan::Text);
    guard.atPiece = guard;
    guard.pieceAt = soap->bufidx;
    return scanPiece(soap, guard, soap->buf + soap->bufidx, soap->buf + soap->buflen);
}

// gSOAP skips an element its deserializer does not expect. A second
// `return` would be dropped with the value it holds: the reply is refused
// (ZRError, kind BadReply).
int ignoreElement(struct soap* soap, const char* tag)
{
    Guard& guard = *guardOf(soap);
    // With a hook installed gSOAP leaves this check to it.
    if (soap->mustUnderstand && !soap->other)
        return SOAP_MUSTUNDERSTAND;
    const char* colon = tag ? std::strrchr(tag, ':') : nullptr;
    const char* local = colon ? colon + 1 : tag;
    if (local && std::strcmp(local, "return") == 0) {
        // The first value has been decoded by now, and a failed status
        // would still hand it out: the reply is refused as the value reader
        // refuses one, by exception, and the half-read connection goes.
        soap->keep_alive = 0;
        soap_closesock(soap);
        throwWithKind(ZRError("ZRValue", "readValueXml", "a second return element follows the value",
                              compatibility::kCodecSource, __LINE__),
                      ZRErrorKind::BadReply);
    }
    return guard.ignore ? guard.ignore(soap, tag) : SOAP_OK;
}

int copyGuard(struct soap*, struct soap_plugin* destination, struct soap_plugin* source)
{
    Guard* copy = new Guard;
    const Guard& original = *static_cast<Guard*>(source->data);
    copy->prepareReceive = original.prepareReceive;
    copy->parseHeader = original.parseHeader;
    copy->startReceive = original.startReceive;
    copy->ignore = original.ignore;
    copy->stop = original.stop;
    destination->data = copy;
    return SOAP_OK;
}

void deleteGuard(struct soap*, struct soap_plugin* plugin)
{
    delete static_cast<Guard*>(plugin->data);
    plugin->data = nullptr;
}

int createGuard(struct soap* soap, struct soap_plugin* plugin, void* stop)
{
    Guard* guard = new Guard;
    guard->prepareReceive = soap->fpreparerecv;
    guard->parseHeader = soap->fparse;
    guard->startReceive = soap->fprepareinitrecv;
    guard->ignore = soap->fignore;
    guard->stop = reinterpret_cast<ZRReadStopCheck>(stop);
    plugin->id = kPluginId;
    plugin->data = guard;
    plugin->fcopy = copyGuard;
    plugin->fdelete = deleteGuard;
    soap->fpreparerecv = preparePiece;
    soap->fparse = parseHeader;
    soap->fprepareinitrecv = startReceive;
    soap->fignore = ignoreElement;
    return SOAP_OK;
}

}  // namespace

void replyValueBegins(struct soap* context, bool insideValue)
{
    Guard* guard = guardOf(context);
    if (!guard || guard->paused || guard->state == Scan::Off || guard->pieceAt == kUnknown ||
        guard->pieceAt > context->bufidx)
        return;
    // The scan went to the end of the buffer; it is redone up to where the
    // value starts.
    Lexer& lexer = *guard;
    const Lexer current = lexer;
    lexer = guard->atPiece;
    scanPiece(context, *guard, context->buf + guard->pieceAt, context->buf + context->bufidx);
    const std::size_t depth = guard->declared.size();
    if (guard->state != Scan::Text || (insideValue && depth == 0)) {
        // Not where a value can start: everything stays scanned.
        lexer = current;
        return;
    }
    guard->paused = true;
    guard->depthOutside = insideValue ? depth - 1 : depth;
}

int replyValueEnds(struct soap* context, bool insideEndTag)
{
    Guard* guard = guardOf(context);
    if (!guard || !guard->paused)
        return SOAP_OK;
    guard->paused = false;
    while (guard->declared.size() > guard->depthOutside)
        elementClosed(*guard);
    if (guard->state == Scan::Off)
        return SOAP_OK;
    guard->state = insideEndTag ? Scan::EndTag : Scan::Text;
    guard->atPiece = *guard;
    guard->pieceAt = context->bufidx;
    return scanPiece(context, *guard, context->buf + context->bufidx, context->buf + context->buflen);
}

void replyValueAbandoned(struct soap* context)
{
    if (Guard* guard = guardOf(context))
        if (guard->paused)
            reset(*guard, Scan::Off);
}

void installReplyGuard(struct soap* context, ZRReadStopCheck stop)
{
    if (!guardOf(context))
        soap_register_plugin_arg(context, createGuard, reinterpret_cast<void*>(stop));
}

}  // namespace ZR
