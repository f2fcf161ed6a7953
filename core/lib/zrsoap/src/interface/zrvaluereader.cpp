// SPDX-License-Identifier: GPL-2.0-or-later
// The value decoder: the item encoding and the further forms peers send
// (arrays described by an arrayType attribute, element types handed down by
// an array, arrays marked by a namespace, wrapper elements, faults), read
// from the tokenizer's tokens straight into the value, with a stack of open
// elements instead of recursion. Element text is kept exactly as sent
// (references decoded, white space and NUL bytes included); text that its
// type cannot hold as sent, or that a value would drop, fails the read with
// what and where.
#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "zrbase64.h"
#include "zrcompatibility.h"
#include "zrnumbertext.h"
#include "zrtextchars.h"
#include "zrthrow.h"
#include "zrvaluesoap.h"
#include "zrxmltokenizer.h"

namespace ZR {

namespace {

const char* const kModule = "ZRValue";
const char* const kMethod = "readValueXml";
const char* const kSourcePath = compatibility::kCodecSource;

// The peer's count only sizes the first allocation; a hostile one must not
// make it huge.
const int kMaxArrayReserve = 1 << 16;
// An array that grows past kMaxArrayReserve elements gets room at once for
// as many as the rest of the text can hold, counted at the length of the
// shortest item the writer writes (an empty array's). All arrays draw on
// one such allowance, so the text bounds what they reserve together.
const std::size_t kShortestItemText = 30;
const std::size_t kMaxArrayTypeName = 511;

const char kArrayNamespaceMarker[] = "korvantis.broker.array";

bool isWrapperName(const XmlText& name)
{
    return textEquals(name, "p") || textEquals(name, "r") || textEquals(name, "xsd:anyType") ||
           textEquals(name, "return") || textEquals(name, "zrbroker:p") ||
           textEquals(name, "zrbroker:return");
}

bool contains(const char* text, std::size_t length, const char* part)
{
    const std::size_t partLength = std::strlen(part);
    return std::search(text, text + length, part, part + partLength) != text + length;
}

bool typeIs(const char* name, std::size_t length, const char* literal)
{
    return textEquals(XmlText{name, length}, literal);
}

// The value type a schema type name stands for (xsdTypeToValueType).
ZRValue::Type typeNamed(const char* name, std::size_t length)
{
    if (typeIs(name, length, "xsd:string"))
        return ZRValue::String;
    if (typeIs(name, length, "xsd:int"))
        return ZRValue::Int;
    if (typeIs(name, length, "xsd:double") || typeIs(name, length, "xsd:float"))
        return ZRValue::Float;
    if (contains(name, length, "bool"))
        return ZRValue::Bool;
    if (typeIs(name, length, "xsd:base64Object"))
        return ZRValue::Object;
    if (typeIs(name, length, "xsd:base64Binary"))
        return ZRValue::Binary;
    if (contains(name, length, "Array"))
        return ZRValue::Array;
    return ZRValue::Invalid;
}

[[noreturn]] void assertFailed(int site)
{
    throwWithKind(assertFailure(kModule, kSourcePath, site), ZRErrorKind::BadReply);
}

[[noreturn]] void nestedTooDeep()
{
    throwWithKind(ZRError(kModule, kMethod,
                          "the value is nested deeper than " + decimalText(kMaxValueNesting) + " elements",
                          kSourcePath, __LINE__),
                  ZRErrorKind::BadReply);
}

class Decoder {
public:
    enum class Status { NeedMore, Complete, NoElement };

    // On text that the caller holds whole, or (data null) that is handed
    // over piece by piece (feed). `textBound`: how long the whole text can
    // be, 0 when unknown.
    Decoder(const char* data, ZRValue& out, std::size_t textBound)
        : tokens_(data), out_(out), reserveAllowance_(textBound / kShortestItemText)
    {
    }

    // Reads on up to `size` bytes of the text; `final` when no more will
    // come. Complete leaves position() one past the element; NoElement (an
    // end tag came first) at that tag's '<'.
    Status read(std::size_t size, bool final);
    // Reads on with the next `size` bytes of the text.
    Status feed(const char* piece, std::size_t size, bool final);
    std::size_t position() const { return tokens_.position(); }
    void checkRest() { tokens_.checkRest(); }

private:
    enum class Mode {
        Value,       // decoded into `out`
        Wrapper,     // its first child element is decoded in its place
        Fault,       // a fault where a value should be: its children are described
        FaultChild,  // one element of a fault's description
        Skip,        // content that decides nothing, checked only
    };

    struct ArrayShape {
        int capacity = 4;
        ZRValue::Type childHint = ZRValue::Array;
        bool nameTooLong = false;
    };

    struct Frame {
        Mode mode;
        std::size_t startAt;  // its '<', counted from the start of the text
        ZRValue* out;
        ZRValue::Type kind;  // Value and Wrapper: what the element itself decodes as
        ZRValue::Type hint;  // Wrapper: the hint its child element gets
        ArrayShape array;
        int position;  // Value arrays: the place of the next element
        // Its own character data: whether any came (its runs together are
        // in capturedText_ while it is the innermost element), whether any
        // of it was not white space, and whether a child element came.
        bool hasText;
        bool nonBlank;
        bool hasElement;
        bool taken;       // Wrapper: a child element stands in for it
        bool runStarted;  // Fault: its run of child elements has begun
        bool runEnded;
    };

    [[noreturn]] void unfaithful(std::size_t start, const std::string& what) const;
    std::string elementName(std::size_t depth) const { return tokens_.openName(depth); }
    std::string innermostName() const { return elementName(open_.size() - 1); }

    void startTag();
    ZRValue::Type kindOf(ZRValue::Type hint, bool& fault) const;
    ArrayShape arrayShape() const;
    void openChild();
    void openValue(ZRValue* out, ZRValue::Type hint, bool allowWrapper);
    void push(Mode mode, ZRValue* out, ZRValue::Type kind);
    void textRun(const XmlTokenizer::TextRun& run);
    void captureText(const XmlTokenizer::TextRun& run);
    bool ownsText(const Frame& frame) const;
    void closeElement(const XmlText& name);
    bool readPlainItem();
    void finish(const Frame& frame, ZRValue::Type kind);
    void finish(ZRValue& out, ZRValue::Type kind, std::size_t start, bool hasText, XmlText text);
    static void startArray(ZRValue& out, const ArrayShape& shape);
    ZRValue& placeElement(ZRValue& array, int position);

    XmlTokenizer tokens_;
    ZRValue& out_;
    std::vector<Frame> open_;
    // The text of the element being decoded (when it holds references or
    // comes in several runs), and the same once the tokenizer's text it lay
    // in may go.
    std::string text_;
    std::string keptCapture_;
    XmlText capturedText_;
    std::string faultDescription_;
    // Elements that large arrays may still reserve at once.
    std::size_t reserveAllowance_;
};

void Decoder::unfaithful(std::size_t start, const std::string& what) const
{
    throwWithKind(ZRError(kModule, kMethod, what + " at " + tokens_.locationAt(start), kSourcePath, __LINE__),
                  ZRErrorKind::BadReply);
}

Decoder::Status Decoder::feed(const char* piece, std::size_t size, bool final)
{
    // The tokenizer may drop the text that captured text lies in.
    if (tokens_.holds(capturedText_.data)) {
        keptCapture_.assign(capturedText_.data, capturedText_.size);
        capturedText_ = {keptCapture_.data(), keptCapture_.size()};
    }
    tokens_.append(piece, size);
    return read(0, final);
}

Decoder::Status Decoder::read(std::size_t size, bool final)
{
    tokens_.setEnd(size, final);
    for (;;) {
        if (!open_.empty() && readPlainItem())
            continue;
        switch (tokens_.next()) {
        case XmlTokenizer::Token::NeedMore: return Status::NeedMore;
        case XmlTokenizer::Token::NoElement: return Status::NoElement;
        case XmlTokenizer::Token::StartTag: startTag(); break;
        case XmlTokenizer::Token::EndTag: closeElement(tokens_.endName()); break;
        case XmlTokenizer::Token::Text: textRun(tokens_.text()); break;
        case XmlTokenizer::Token::Done: tokens_.checkWithTinyXml(); return Status::Complete;
        }
    }
}

void Decoder::startTag()
{
    const XmlTokenizer::StartTag& tag = tokens_.startTag();
    if (open_.empty()) {
        out_.reset();
        openValue(&out_, ZRValue::Invalid, true);
    } else {
        if (static_cast<int>(open_.size()) >= kMaxValueNesting)
            nestedTooDeep();
        openChild();
    }
    if (tag.empty)
        closeElement(tag.name);
}

// The writer's scalar items inside an array, <item xsi:type="T">text</item>,
// in one go: the general path decides the same for them at several times
// the cost. Anything else is left to it, with nothing consumed.
bool Decoder::readPlainItem()
{
    Frame& parent = open_.back();
    XmlTokenizer::PlainItem item;
    if (parent.mode != Mode::Value || parent.kind != ZRValue::Array || !tokens_.peekPlainItem(item))
        return false;
    const ZRValue::Type kind = typeNamed(item.type.data, item.type.size);
    if (kind == ZRValue::Array)
        return false;
    if (static_cast<int>(open_.size()) >= kMaxValueNesting)
        nestedTooDeep();
    tokens_.take(item);
    parent.hasElement = true;
    const int position = parent.position++;
    ZRValue& element = placeElement(*parent.out, position);
    XmlText content{item.text, std::size_t(item.textEnd - item.text)};
    if (item.references) {
        text_.clear();
        tokens_.decodeReferences(item.text, item.textEnd, text_);
        content = {text_.data(), text_.size()};
    }
    finish(element, kind, item.start, item.textEnd != item.text, content);
    return true;
}

ZRValue::Type Decoder::kindOf(ZRValue::Type hint, bool& fault) const
{
    const XmlTokenizer::StartTag& tag = tokens_.startTag();
    fault = false;
    if (tag.type.present)
        return typeNamed(tag.type.value.data, tag.type.value.size);
    if (contains(tag.name.data, tag.name.size, "Fault")) {
        fault = true;
        return ZRValue::Invalid;
    }
    if (hint != ZRValue::Invalid)
        return hint;
    std::string lowered(tag.namespaceName.value.data, tag.namespaceName.value.size);
    for (char& c : lowered)
        c = asciiLower(c);
    return lowered.find(kArrayNamespaceMarker) != std::string::npos ? ZRValue::Array : ZRValue::Invalid;
}

Decoder::ArrayShape Decoder::arrayShape() const
{
    const XmlTokenizer::StartTag& tag = tokens_.startTag();
    ArrayShape shape;
    const XmlTokenizer::Attribute& attribute = tag.arrayType.present ? tag.arrayType : tag.otherArrayType;
    if (!attribute.present)
        return shape;
    // Without "[" the whole value names the element type and no count is
    // given.
    const char* const text = attribute.value.data;
    const char* const end = text + attribute.value.size;
    const char* const bracket = std::find(text, end, '[');
    if (std::size_t(bracket - text) > kMaxArrayTypeName) {
        shape.nameTooLong = true;
        return shape;
    }
    if (bracket != end) {
        // Leading digits, as atoi reads them; only a reserve size.
        long count = 0;
        for (const char* digit = bracket + 1; digit != end && *digit >= '0' && *digit <= '9'; ++digit)
            count = std::min<long>(count * 10 + (*digit - '0'), kMaxArrayReserve);
        shape.capacity = static_cast<int>(count);
    }
    shape.childHint = typeNamed(text, std::size_t(bracket - text));
    return shape;
}

void Decoder::startArray(ZRValue& out, const ArrayShape& shape)
{
    if (shape.nameTooLong)
        assertFailed(compatibility::kArrayTypeNameTooLongLine);
    out.reset();
    out.reserveArray(shape.capacity);
}

// The element at `position` of `array`, made room for. A large array would
// otherwise regrow many times, each time moving every element into memory
// touched for the first time.
ZRValue& Decoder::placeElement(ZRValue& array, int position)
{
    if (position >= kMaxArrayReserve && std::size_t(position) >= array.elements().capacity() &&
        reserveAllowance_ > 0) {
        const std::size_t room = std::min<std::size_t>(reserveAllowance_, std::size_t(INT_MAX - position));
        reserveAllowance_ -= room;
        array.reserveArray(position + static_cast<int>(room));
    }
    array.resizeArray(position + 1);
    return array[position];
}

void Decoder::push(Mode mode, ZRValue* out, ZRValue::Type kind)
{
    open_.emplace_back();
    Frame& frame = open_.back();
    frame.mode = mode;
    frame.startAt = tokens_.startTag().start;
    frame.out = out;
    frame.kind = kind;
    frame.hasText = frame.nonBlank = frame.hasElement = false;
}

void Decoder::openValue(ZRValue* out, ZRValue::Type hint, bool allowWrapper)
{
    const XmlTokenizer::StartTag& tag = tokens_.startTag();
    bool fault = false;
    const ZRValue::Type kind = kindOf(hint, fault);
    if (allowWrapper && isWrapperName(tag.name)) {
        push(Mode::Wrapper, out, kind);
        open_.back().hint = hint;
        if (kind == ZRValue::Array)
            open_.back().array = arrayShape();
        return;
    }
    if (fault) {
        push(Mode::Fault, nullptr, ZRValue::Invalid);
        faultDescription_ = "Fault: '" + std::string(tag.name.data, tag.name.size) + "': ";
        return;
    }
    push(Mode::Value, out, kind);
    if (kind == ZRValue::Array) {
        Frame& frame = open_.back();
        frame.array = arrayShape();
        startArray(*out, frame.array);
    }
}

void Decoder::openChild()
{
    const XmlTokenizer::StartTag& tag = tokens_.startTag();
    Frame& parent = open_.back();
    const bool first = !parent.hasElement;
    parent.hasElement = true;
    switch (parent.mode) {
    case Mode::Value:
        if (parent.kind == ZRValue::Array) {
            const int position = parent.position++;
            openValue(&placeElement(*parent.out, position), parent.array.childHint, true);
            return;
        }
        // A scalar's text is its character data; an element inside it
        // would be dropped.
        if (parent.kind != ZRValue::Invalid)
            unfaithful(tag.start, "the element '<" + std::string(tag.name.data, tag.name.size) +
                                      ">' stands inside the value of '" + innermostName() + ">'");
        break;
    case Mode::Wrapper:
        if (!first)
            unfaithful(tag.start, "a second value follows the value of '" + innermostName() + ">'");
        if (parent.nonBlank)
            unfaithful(tag.start, "the text " + quotedText(capturedText_.data, capturedText_.size) +
                                      " stands beside the value of '" + innermostName() + ">'");
        parent.taken = true;
        // White space around the value only lays it out.
        parent.hasText = false;
        openValue(parent.out, parent.hint, false);
        return;
    case Mode::Fault:
        if (!parent.runEnded) {
            parent.runStarted = true;
            push(Mode::FaultChild, nullptr, ZRValue::Invalid);
            return;
        }
        break;
    case Mode::FaultChild:
    case Mode::Skip: break;
    }
    push(Mode::Skip, nullptr, ZRValue::Invalid);
}

// Whether the character data directly inside `frame` makes its value (or
// its part of a fault's description).
bool Decoder::ownsText(const Frame& frame) const
{
    return (frame.mode == Mode::Wrapper && !frame.taken) || frame.mode == Mode::FaultChild ||
           (frame.mode == Mode::Value && frame.kind != ZRValue::Array);
}

// A run of character data. Comments and processing instructions between
// runs are not part of it.
void Decoder::textRun(const XmlTokenizer::TextRun& run)
{
    Frame& frame = open_.back();
    if (ownsText(frame)) {
        captureText(run);
        frame.nonBlank = frame.nonBlank || !run.blank;
        return;
    }
    if (run.references) {
        // Checked only.
        std::string ignored;
        tokens_.decodeReferences(run.from, run.to, ignored);
    }
    if (run.blank)
        return;
    if ((frame.mode == Mode::Value && frame.kind == ZRValue::Array) || frame.mode == Mode::Wrapper)
        unfaithful(run.start, "the text " + quotedText(run.from, std::size_t(run.to - run.from)) +
                                  (frame.mode == Mode::Wrapper ? " stands beside the value of '"
                                                               : " stands between the elements of '") +
                                  innermostName() + ">'");
    // Text ends a fault's run of elements.
    if (frame.mode == Mode::Fault && frame.runStarted)
        frame.runEnded = true;
}

// Adds a run to the character data of the innermost element. The first run
// stays where it is; later ones gather with it in text_.
void Decoder::captureText(const XmlTokenizer::TextRun& run)
{
    Frame& frame = open_.back();
    const bool first = !frame.hasText;
    frame.hasText = true;
    if (first && !run.references) {
        capturedText_ = {run.from, std::size_t(run.to - run.from)};
        return;
    }
    if (first)
        text_.clear();
    else if (capturedText_.data != text_.data())
        text_.assign(capturedText_.data, capturedText_.size);
    if (run.references)
        tokens_.decodeReferences(run.from, run.to, text_);
    else
        text_.append(run.from, run.to);
    capturedText_ = {text_.data(), text_.size()};
}

void Decoder::closeElement(const XmlText& name)
{
    // Popped last: finishing the element opens nothing.
    const Frame& frame = open_.back();
    switch (frame.mode) {
    case Mode::Value: finish(frame, frame.kind); break;
    case Mode::Wrapper:
        if (!frame.taken) {
            if (frame.kind == ZRValue::Array)
                startArray(*frame.out, frame.array);
            else
                finish(frame, frame.kind);
        }
        break;
    case Mode::Fault:
        throwWithKind(ZRError(kModule, compatibility::kFaultMethod, faultDescription_, kSourcePath,
                              compatibility::kFaultLine),
                      ZRErrorKind::RemoteFault);
    case Mode::FaultChild:
        faultDescription_.append(name.data, name.size);
        faultDescription_ += ": ";
        // White space between its child elements only lays them out.
        if (frame.hasText && (frame.nonBlank || !frame.hasElement)) {
            faultDescription_.append(capturedText_.data, capturedText_.size);
            faultDescription_ += ", ";
        }
        break;
    case Mode::Skip: break;
    }
    open_.pop_back();
}

void Decoder::finish(const Frame& frame, ZRValue::Type kind)
{
    finish(*frame.out, kind, frame.startAt, frame.hasText, capturedText_);
}

// Decodes an element of type `kind` that starts at `start` from its text.
void Decoder::finish(ZRValue& out, ZRValue::Type kind, std::size_t start, bool hasText, XmlText captured)
{
    const char* text = hasText ? captured.data : "";
    const std::size_t size = hasText ? captured.size : 0;
    // Blank number text keeps the value 0, as it always has; the readers
    // refuse it, so it is looked for only then.
    auto blank = [&] { return std::all_of(text, text + size, isXmlSpace); };
    switch (kind) {
    case ZRValue::Array: break;
    case ZRValue::Bool: {
        // Empty text is false, as it has always been.
        const char* from = text;
        const char* to = text + size;
        while (from != to && isXmlSpace(*from))
            ++from;
        while (to != from && isXmlSpace(to[-1]))
            --to;
        if (equalsIgnoringCase(from, to, "true") || equalsIgnoringCase(from, to, "1"))
            out = true;
        else if (from == to || equalsIgnoringCase(from, to, "false") || equalsIgnoringCase(from, to, "0"))
            out = false;
        else
            unfaithful(start, "the Bool text " + quotedText(text, size) + " is not true, false, 1 or 0");
        break;
    }
    case ZRValue::Int: {
        int number = 0;
        if (!readIntText(text, text + size, number) && !blank())
            unfaithful(start, "the Int text " + quotedText(text, size) + " is not a 32-bit integer");
        out = number;
        break;
    }
    case ZRValue::Float: {
        float number = 0.0f;
        if (!readFloatText(text, text + size, number) && !blank())
            unfaithful(start, "the Float text " + quotedText(text, size) + " is not a number");
        out = number;
        break;
    }
    case ZRValue::String: out = TZRValueString(text, size); break;
    case ZRValue::Object:
    case ZRValue::Binary: {
        if (kind == ZRValue::Binary && !hasText)
            assertFailed(compatibility::kBinaryWithoutTextLine);
        if (!isStrictBase64(text, size))
            unfaithful(start, std::string("the ") + (kind == ZRValue::Binary ? "Binary" : "Object") +
                                  " text is not base64");
        // The decoder reads NUL-terminated text; base64 holds no NUL.
        const std::string terminated(text, size);
        if (kind == ZRValue::Binary)
            out.decodeBase64(terminated.c_str());
        else
            out.decodeBase64Object(terminated.c_str());
        break;
    }
    default: out.reset(); break;
    }
}

}  // namespace

ZRValue::Type xsdTypeToValueType(const char* name)
{
    return name ? typeNamed(name, std::strlen(name)) : ZRValue::Invalid;
}

void readValueXml(const char* text, std::size_t size, ZRValue& out)
{
    Decoder decoder(text, out, size);
    if (decoder.read(size, true) == Decoder::Status::NoElement) {
        throwWithKind(ZRError(kModule, kMethod, "the value is not well-formed XML: the text holds no element",
                              kSourcePath, __LINE__),
                      ZRErrorKind::BadReply);
    }
    decoder.checkRest();
}

struct ZRValueReader::Impl {
    Impl(ZRValue& out, std::size_t textBound) : decoder(nullptr, out, textBound) {}
    Decoder decoder;
};

ZRValueReader::ZRValueReader(ZRValue& out, std::size_t textBound) : out_(out), textBound_(textBound) {}

ZRValueReader::~ZRValueReader() = default;

ZRValueReader::Status ZRValueReader::feed(const char* piece, std::size_t size, bool final)
{
    if (!impl_)
        impl_.reset(new Impl(out_, textBound_));
    switch (impl_->decoder.feed(piece, size, final)) {
    case Decoder::Status::NeedMore: return NeedMore;
    case Decoder::Status::NoElement: return NoElement;
    case Decoder::Status::Complete: break;
    }
    return Complete;
}

std::size_t ZRValueReader::position() const
{
    return impl_ ? impl_->decoder.position() : 0;
}

}  // namespace ZR
