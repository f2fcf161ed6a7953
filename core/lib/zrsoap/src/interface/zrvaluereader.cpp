// The reader of the item encoding and of the further forms peers send:
// arrays described by an arrayType attribute, element types handed down by
// an array, arrays marked by a namespace, and wrapper elements. One pass over
// the text straight into the value, with a stack of open elements instead of
// recursion. Text handed over in pieces is kept only from where the reading
// must resume. Element text is kept exactly as sent (references decoded, white
// space and NUL bytes included); text that is not well-formed XML, or that
// its type cannot hold as sent, fails the read with what and where.
#include <algorithm>
#include <climits>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include <tinyxml.h>

#include "zrnumbertext.h"
#include "zrtextchars.h"
#include "zrvaluesoap.h"

namespace ZR {

namespace {

const char* const kModule = "ZRValue";
const char* const kMethod = "readValueXml";
const char* const kSourcePath = "core/lib/zrsoap/src/interface/zrvaluesoap";
// The assertion texts name source lines that brokers and callers have
// always seen; they must not move when this code does.
const int kArrayTypeNameTooLongSite = 337;
const int kBinaryWithoutTextSite = 459;
const int kFaultSite = 272;

// The peer's count only sizes the first allocation; a hostile one must not
// make it huge.
const int kMaxArrayReserve = 1 << 16;
// An array that grows past kMaxArrayReserve elements gets room at once for
// as many as the rest of the text can hold, counted at the length of the
// shortest item the writer writes (an empty array's). All arrays draw on
// one such allowance, so the text bounds what they reserve together.
const std::size_t kShortestItemText = 30;
const std::size_t kMaxArrayTypeName = 511;
// How much of a refused element text an error quotes.
const std::size_t kMaxQuotedText = 40;
// Attribute counts up to this are checked for duplicates pairwise.
const std::size_t kPairwiseAttributeCheck = 16;
// Text handed over in pieces is dropped once this much has been read: moving
// the rest of a piece is then cheap beside what was read.
const std::size_t kDropReadText = std::size_t(64) << 10;
// A start tag is read again whole when it spans pieces; bounding its length
// bounds what each piece costs. The writer's tags are a few dozen bytes.
const std::size_t kMaxStartTagBytes = std::size_t(1) << 20;

const char kArrayNamespaceMarker[] = "korvantis.broker.array";


bool equals(const char* text, std::size_t length, const char* literal, std::size_t literalLength)
{
    return length == literalLength && std::memcmp(text, literal, length) == 0;
}

template <std::size_t N>
bool equals(const char* text, std::size_t length, const char (&literal)[N])
{
    return equals(text, length, literal, N - 1);
}

bool isWrapperName(const char* name, std::size_t length)
{
    return equals(name, length, "p") || equals(name, length, "r") || equals(name, length, "xsd:anyType") ||
           equals(name, length, "return") || equals(name, length, "zrbroker:p") ||
           equals(name, length, "zrbroker:return");
}

bool contains(const char* text, std::size_t length, const char* part)
{
    const std::size_t partLength = std::strlen(part);
    return std::search(text, text + length, part, part + partLength) != text + length;
}

// The value type a schema type name stands for (xsdTypeToValueType).
ZRValue::Type typeNamed(const char* name, std::size_t length)
{
    if (equals(name, length, "xsd:string"))
        return ZRValue::String;
    if (equals(name, length, "xsd:int"))
        return ZRValue::Int;
    if (equals(name, length, "xsd:double") || equals(name, length, "xsd:float"))
        return ZRValue::Float;
    if (contains(name, length, "bool"))
        return ZRValue::Bool;
    if (equals(name, length, "xsd:base64Object"))
        return ZRValue::Object;
    if (equals(name, length, "xsd:base64Binary"))
        return ZRValue::Binary;
    if (contains(name, length, "Array"))
        return ZRValue::Array;
    return ZRValue::Invalid;
}

void appendUtf8(unsigned long code, std::string& out)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | code >> 6);
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | code >> 12);
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | code >> 18);
        out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

std::string quoted(const char* text, std::size_t length)
{
    if (length <= kMaxQuotedText)
        return "'" + std::string(text, length) + "'";
    return "'" + std::string(text, kMaxQuotedText) + "...'";
}

[[noreturn]] void raise(ZRError error, ZRErrorKind kind)
{
    error.withKind(kind);
    throw error;
}

[[noreturn]] void assertFailed(int site)
{
    raise(ZRError(kModule, "Assert failed", std::string(kSourcePath) + ":" + decimalText(site), kSourcePath,
                  site),
          ZRErrorKind::BadReply);
}

[[noreturn]] void nestedTooDeep()
{
    raise(ZRError(kModule, kMethod,
                  "the value is nested deeper than " + decimalText(kMaxValueNesting) + " elements",
                  kSourcePath, __LINE__),
          ZRErrorKind::BadReply);
}

// A piece of the text: a view into the markup, or into a buffer holding its
// decoded form.
struct Text {
    const char* data = nullptr;
    std::size_t size = 0;
};

struct TextLess {
    bool operator()(const Text& a, const Text& b) const
    {
        const int order = std::memcmp(a.data, b.data, std::min(a.size, b.size));
        return order < 0 || (order == 0 && a.size < b.size);
    }
};

// Thrown where the text received so far ends inside a piece of markup: the
// piece is read again once more text has come.
struct NeedMore {};

class Reader {
public:
    enum class Status { NeedMore, Complete, NoElement };

    // On text that the caller holds whole, or (data null) that is handed
    // over piece by piece (feed). `textBound`: how long the whole text can
    // be, 0 when unknown.
    Reader(const char* data, ZRValue& out, std::size_t textBound)
        : begin_(data), p_(data), end_(data), out_(out), reserveAllowance_(textBound / kShortestItemText)
    {
    }

    // Reads on up to `size` bytes of the text (the same text as before,
    // grown); `final` when no more will come. Complete leaves position() one
    // past the element; NoElement (an end tag came first) at that tag's '<'.
    Status read(std::size_t size, bool final);
    // Reads on with the next `size` bytes of the text, which the reader
    // keeps as long as it needs them.
    Status feed(const char* piece, std::size_t size, bool final);
    // Counted from the start of the whole text.
    std::size_t position() const { return base_ + std::size_t(p_ - begin_); }
    // After Complete on the whole text: nothing but white space, comments
    // and processing instructions may follow.
    void checkRest();

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
        std::size_t nameAt;  // its name in names_
        std::size_t nameLength;
        std::size_t startAt;  // its '<', counted from the start of the text
        // Where startAt lies, kept once the text there has been dropped.
        long line;
        long column;
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

    // The start tag just read, with the attributes the decoding needs.
    // An attribute the decoding needs: its value as written, or as decoded
    // when it holds references.
    struct Attribute {
        bool present;
        Text value;
        std::string decoded;
    };
    struct StartTag {
        const char* start;
        const char* name;
        std::size_t nameLength;
        bool empty;
        Attribute type, arrayType, otherArrayType, namespaceName;
    };

    // ---- errors
    std::string location(const char* at) const;
    std::string locationAt(std::size_t at) const;
    [[noreturn]] void malformed(const char* at, const std::string& what) const;
    [[noreturn]] void malformedAt(std::size_t at, const std::string& what) const;
    [[noreturn]] void unfaithful(std::size_t start, const std::string& what) const;

    // ---- text kept in pieces
    std::size_t offsetOf(const char* at) const { return base_ + std::size_t(at - begin_); }
    const char* pointerTo(std::size_t at) const { return begin_ + (at - base_); }
    std::string elementName(const Frame& frame) const
    {
        return "<" + names_.substr(frame.nameAt, frame.nameLength);
    }
    void countLinesUpTo(const char* at);
    void dropReadText();

    // ---- markup
    bool ended(const char* at) const;
    bool startsWith(const char* literal) const;
    void skipSpace();
    inline const char* scanName(const char* at) const;
    [[noreturn]] void badName(const char* at) const;
    const char* reference(const char* at, const char* limit, std::string* into) const;
    void decodeReferences(const char* from, const char* to, std::string& into) const;
    void readStartTag();
    void readAttribute(const char* name, std::size_t nameLength);
    void checkStartTagLength(const char* at) const;
    void readEndTag();
    void readTextRun();
    // Moves past the markup that starts here, `opening` bytes long, up to and
    // including `terminator`; `unclosed` says what is wrong when it never ends.
    void skipPast(std::size_t opening, const char* terminator, const char* unclosed);
    const char* searchResume(std::size_t opening, std::size_t terminatorLength);
    void searchStopped();
    void readComment();
    void readCData();
    void readInstruction();
    void readDeclaration();
    void skipMisc();
    void checkWithTinyXml() const;

    // ---- decoding
    void step();
    ZRValue::Type kindOf(ZRValue::Type hint, bool& fault) const;
    ArrayShape arrayShape() const;
    void openChild();
    void openValue(ZRValue* out, ZRValue::Type hint, bool allowWrapper);
    void push(Mode mode, ZRValue* out, ZRValue::Type kind);
    void textNode(const char* from, const char* to, bool references, bool raw, bool blank);
    void captureText(const char* from, const char* to, bool references, bool raw);
    bool ownsText(const Frame& frame) const;
    void otherNode();
    void closeElement();
    bool readPlainItem();
    void finish(const Frame& frame, ZRValue::Type kind);
    void finish(ZRValue& out, ZRValue::Type kind, std::size_t start, bool hasText, Text text);
    static void startArray(ZRValue& out, const ArrayShape& shape);
    ZRValue& placeElement(ZRValue& array, int position);

    const char* begin_;
    const char* p_;
    const char* end_;
    // Text handed over in pieces: what is still needed of it, from offset
    // base_ of the whole text on.
    std::string kept_;
    std::size_t base_ = 0;
    // Lines counted up to offset linesAt_: the line there and where it starts.
    std::size_t linesAt_ = 0;
    long line_ = 1;
    std::size_t lineStartAt_ = 0;
    // Open frames below this one know their place (line, column).
    std::size_t placed_ = 0;
    // The names of the open frames, one after another.
    std::string names_;
    // The element text being captured, once the text it lay in was dropped.
    std::string keptCapture_;
    bool final_ = false;
    bool started_ = false;  // the element's start tag has been read
    ZRValue& out_;
    // False once the text holds markup the writer never writes; such text
    // is also put to TinyXML, whose complaints fail the read too.
    bool plain_ = true;
    StartTag tag_{};
    std::vector<Frame> open_;
    std::vector<Text> attributeNames_;
    // Views into the tag being read. A tree, not a hash table: clearing it
    // costs only what it holds.
    std::set<Text, TextLess> attributeSet_;
    // The text of the element being decoded (when it holds references), and
    // scratch room for text that is only checked.
    std::string text_;
    std::string scratch_;
    Text capturedText_;
    std::string faultDescription_;
    // Elements that large arrays may still reserve at once.
    std::size_t reserveAllowance_;
    // How far a run of text, a comment or a section that has not ended yet
    // was scanned, so that the next piece resumes the scan there instead of
    // scanning the run again from its start: one long text would otherwise
    // cost its length for every piece it spans.
    struct RunScan {
        std::size_t token = std::size_t(-1);  // where the run starts
        std::size_t scanned = 0;              // scanned up to here
        bool references = false;              // text: an '&' seen so far
        bool blank = true;                    // text: only white space so far
    };
    RunScan scan_;
};

// ---------------------------------------------------------------- errors

std::string Reader::location(const char* at) const
{
    long line = line_;
    std::size_t lineStart = lineStartAt_;
    for (const char* p = pointerTo(linesAt_); p < at; ++p) {
        if (*p == '\n') {
            ++line;
            lineStart = offsetOf(p + 1);
        }
    }
    return "line " + decimalText(line) + ", column " + decimalText(long(offsetOf(at) - lineStart + 1));
}

// Also for the start of an open element whose text has been dropped.
std::string Reader::locationAt(std::size_t at) const
{
    if (at >= base_)
        return location(pointerTo(at));
    for (auto frame = open_.rbegin(); frame != open_.rend(); ++frame)
        if (frame->startAt == at)
            return "line " + decimalText(frame->line) + ", column " + decimalText(frame->column);
    return "offset " + decimalText(static_cast<long long>(at));
}

void Reader::malformed(const char* at, const std::string& what) const
{
    malformedAt(offsetOf(at), what);
}

void Reader::malformedAt(std::size_t at, const std::string& what) const
{
    raise(ZRError(kModule, kMethod, "the value is not well-formed XML: " + what + " at " + locationAt(at),
                  kSourcePath, __LINE__),
          ZRErrorKind::BadReply);
}

void Reader::unfaithful(std::size_t start, const std::string& what) const
{
    raise(ZRError(kModule, kMethod, what + " at " + locationAt(start), kSourcePath, __LINE__),
          ZRErrorKind::BadReply);
}

// ---------------------------------------------------------- text in pieces

void Reader::countLinesUpTo(const char* at)
{
    const char* p = pointerTo(linesAt_);
    while (const char* newline = static_cast<const char*>(std::memchr(p, '\n', std::size_t(at - p)))) {
        ++line_;
        p = newline + 1;
        lineStartAt_ = offsetOf(p);
    }
    linesAt_ = offsetOf(at);
}

// Drops the text before p_, where the reading resumes: the open elements
// note where they start, and captured element text moves out of it.
void Reader::dropReadText()
{
    for (; placed_ < open_.size() && open_[placed_].startAt < offsetOf(p_); ++placed_) {
        Frame& frame = open_[placed_];
        countLinesUpTo(pointerTo(frame.startAt));
        frame.line = line_;
        frame.column = long(frame.startAt - lineStartAt_ + 1);
    }
    countLinesUpTo(p_);
    if (!std::less<const char*>()(capturedText_.data, begin_) &&
        std::less<const char*>()(capturedText_.data, end_)) {
        keptCapture_.assign(capturedText_.data, capturedText_.size);
        capturedText_.data = keptCapture_.data();
    }
    const std::size_t dropped = std::size_t(p_ - begin_);
    kept_.erase(0, dropped);
    base_ += dropped;
    begin_ = p_ = end_ = kept_.data();
}

Reader::Status Reader::feed(const char* piece, std::size_t size, bool final)
{
    // Only text of the writer's forms is dropped: other markup is put to
    // TinyXML as a whole.
    if (plain_ && std::size_t(p_ - begin_) >= kDropReadText)
        dropReadText();
    const std::size_t resumeAt = std::size_t(p_ - begin_);
    const std::size_t captureAt = std::size_t(capturedText_.data - begin_);
    const bool captureKept = !std::less<const char*>()(capturedText_.data, begin_) &&
                             std::less<const char*>()(capturedText_.data, begin_ + kept_.size());
    kept_.append(piece, size);
    begin_ = kept_.data();
    p_ = begin_ + resumeAt;
    if (captureKept)
        capturedText_.data = begin_ + captureAt;
    return read(kept_.size(), final);
}

// ---------------------------------------------------------------- markup

// Whether `at` is the end of the text; at the end of what has arrived so far
// it asks for more instead.
bool Reader::ended(const char* at) const
{
    if (at != end_)
        return false;
    if (!final_)
        throw NeedMore();
    return true;
}

bool Reader::startsWith(const char* literal) const
{
    const std::size_t length = std::strlen(literal);
    const std::size_t available = std::min(length, std::size_t(end_ - p_));
    if (std::memcmp(p_, literal, available) != 0)
        return false;
    if (available < length && !final_)
        throw NeedMore();
    return available == length;
}

void Reader::skipSpace()
{
    while (p_ != end_ && isXmlSpace(*p_))
        ++p_;
}

const char* Reader::scanName(const char* at) const
{
    if (ended(at) || !isXmlNameStart(*at))
        badName(at);
    for (++at; at != end_ && isXmlNameChar(*at); ++at) {
    }
    // A name that reaches the end so far may go on.
    ended(at);
    return at;
}

void Reader::badName(const char* at) const
{
    malformed(at, at == end_ ? "the text ends inside a tag" : "a name cannot start with " + quoted(at, 1));
}

// Checks the reference at `at` (an '&' before `limit`) and appends what it
// stands for to `into` when given; returns the position after it. Numeric
// references up to 255 stand for that one byte, as the writer escapes every
// byte; larger ones for the UTF-8 form of the character.
const char* Reader::reference(const char* at, const char* limit, std::string* into) const
{
    const char* p = at + 1;
    if (p != limit && *p == '#') {
        ++p;
        const bool hexadecimal = p != limit && *p == 'x';
        if (hexadecimal)
            ++p;
        unsigned long code = 0;
        const char* digits = p;
        for (; p != limit; ++p) {
            int digit = -1;
            if (*p >= '0' && *p <= '9')
                digit = *p - '0';
            else if (hexadecimal && *p >= 'a' && *p <= 'f')
                digit = *p - 'a' + 10;
            else if (hexadecimal && *p >= 'A' && *p <= 'F')
                digit = *p - 'A' + 10;
            if (digit < 0)
                break;
            code = code * (hexadecimal ? 16 : 10) + static_cast<unsigned long>(digit);
            if (code > 0x10FFFF)
                malformed(at, "the character reference " + quoted(at, std::size_t(p - at + 1)) +
                                  " is out of range");
        }
        if (p == digits || p == limit || *p != ';')
            malformed(at,
                      "invalid character reference " + quoted(at, std::size_t(std::min(p + 1, limit) - at)));
        if (code >= 0xD800 && code <= 0xDFFF)
            malformed(
                at, "the character reference " + quoted(at, std::size_t(p + 1 - at)) + " names no character");
        if (into) {
            if (code <= 0xFF)
                *into += static_cast<char>(code);
            else
                appendUtf8(code, *into);
        }
        return p + 1;
    }
    static const struct {
        const char* name;
        char character;
    } kNamed[] = {{"amp;", '&'}, {"lt;", '<'}, {"gt;", '>'}, {"quot;", '"'}, {"apos;", '\''}};
    for (const auto& named : kNamed) {
        const std::size_t length = std::strlen(named.name);
        if (std::size_t(limit - p) >= length && std::memcmp(p, named.name, length) == 0) {
            if (into)
                *into += named.character;
            return p + length;
        }
    }
    const char* nameEnd = p;
    while (nameEnd != limit && isXmlNameChar(*nameEnd))
        ++nameEnd;
    if (nameEnd != p && nameEnd != limit && *nameEnd == ';')
        malformed(at, "undefined entity reference " + quoted(at, std::size_t(nameEnd + 1 - at)));
    malformed(at, "'&' starts no reference");
}

void Reader::decodeReferences(const char* from, const char* to, std::string& into) const
{
    while (from != to) {
        const char* amp = static_cast<const char*>(std::memchr(from, '&', std::size_t(to - from)));
        if (!amp) {
            into.append(from, to);
            return;
        }
        into.append(from, amp);
        from = reference(amp, to, &into);
    }
}

void Reader::readStartTag()
{
    tag_.start = p_;
    tag_.name = p_ + 1;
    p_ = scanName(tag_.name);
    tag_.nameLength = std::size_t(p_ - tag_.name);
    tag_.type.present = tag_.arrayType.present = tag_.otherArrayType.present = tag_.namespaceName.present =
        false;
    attributeNames_.clear();
    attributeSet_.clear();
    for (;;) {
        const char* space = p_;
        skipSpace();
        checkStartTagLength(p_);
        if (ended(p_))
            malformed(tag_.start, "the start tag is not closed");
        const bool oneSpace = p_ == space + 1 && *space == ' ';
        if (*p_ == '>' || *p_ == '/') {
            if (p_ != space)
                plain_ = false;
            tag_.empty = *p_ == '/';
            if (tag_.empty && (ended(p_ + 1) || p_[1] != '>'))
                malformed(p_, "'/' must end the tag");
            p_ += tag_.empty ? 2 : 1;
            return;
        }
        if (p_ == space)
            malformed(p_, "attributes must stand apart, unexpected " + quoted(p_, 1));
        if (!oneSpace)
            plain_ = false;
        const char* name = p_;
        p_ = scanName(name);
        readAttribute(name, std::size_t(p_ - name));
    }
}

void Reader::checkStartTagLength(const char* at) const
{
    if (std::size_t(at - tag_.start) > kMaxStartTagBytes)
        malformed(tag_.start, "the start tag is longer than " + decimalText(long(kMaxStartTagBytes)) + " bytes");
}

void Reader::readAttribute(const char* name, std::size_t nameLength)
{
    const char* const afterName = p_;
    skipSpace();
    if (ended(p_) || *p_ != '=')
        malformed(name, "the attribute " + quoted(name, nameLength) + " has no value");
    ++p_;
    skipSpace();
    if (p_ != afterName + 1)
        plain_ = false;
    if (ended(p_) || (*p_ != '"' && *p_ != '\''))
        malformed(p_, "the value of the attribute " + quoted(name, nameLength) + " is not quoted");
    const char quote = *p_++;
    if (quote != '"')
        plain_ = false;
    const char* const value = p_;
    const char* const close = static_cast<const char*>(std::memchr(p_, quote, std::size_t(end_ - p_)));
    if (!close) {
        checkStartTagLength(end_);
        ended(end_);
        malformed(value - 1, "the value of the attribute " + quoted(name, nameLength) + " is not closed");
    }
    p_ = close + 1;
    bool references = false;
    for (const char* c = value; c != close; ++c) {
        if (*c == '<' || *c == '\0')
            malformed(c,
                      *c == '<' ? "'<' inside an attribute value" : "a NUL byte inside an attribute value");
        references = references || *c == '&';
    }

    // Duplicates: pairwise for the few attributes of an ordinary tag, by set
    // for the many of a hostile one.
    const Text current{name, nameLength};
    auto same = [&](const Text& other) {
        return other.size == nameLength && std::memcmp(other.data, name, nameLength) == 0;
    };
    if (attributeNames_.size() < kPairwiseAttributeCheck) {
        if (std::any_of(attributeNames_.begin(), attributeNames_.end(), same))
            malformed(name, "the attribute " + quoted(name, nameLength) + " is duplicated");
        attributeNames_.push_back(current);
    } else {
        if (attributeSet_.empty())
            for (const Text& earlier : attributeNames_)
                attributeSet_.insert(earlier);
        if (!attributeSet_.insert(current).second)
            malformed(name, "the attribute " + quoted(name, nameLength) + " is duplicated");
    }

    Attribute* needed = nullptr;
    if (equals(name, nameLength, "xsi:type"))
        needed = &tag_.type;
    else if (equals(name, nameLength, "SOAP-ENC:arrayType"))
        needed = &tag_.arrayType;
    else if (equals(name, nameLength, "n2:arrayType"))
        needed = &tag_.otherArrayType;
    else if (equals(name, nameLength, "xmlns"))
        needed = &tag_.namespaceName;
    if (needed) {
        needed->present = true;
        needed->value = {value, std::size_t(close - value)};
    }
    if (references) {
        std::string& into = needed ? needed->decoded : scratch_;
        into.clear();
        decodeReferences(value, close, into);
        if (needed)
            needed->value = {into.data(), into.size()};
    }
}

void Reader::readEndTag()
{
    const Frame& frame = open_.back();
    const char* const start = p_;
    const char* const name = p_ + 2;
    p_ = scanName(name);
    const std::size_t length = std::size_t(p_ - name);
    if (length != frame.nameLength || std::memcmp(name, names_.data() + frame.nameAt, length) != 0)
        malformed(start, "the end tag '" + std::string(start, length + 2) + ">' does not close '" +
                             elementName(frame) + ">'");
    const char* const space = p_;
    skipSpace();
    if (p_ != space)
        plain_ = false;
    if (ended(p_) || *p_ != '>')
        malformed(start, "the end tag '" + std::string(start, length + 2) + "' is not closed");
    ++p_;
    closeElement();
}

void Reader::readTextRun()
{
    const char* const from = p_;
    if (scan_.token != offsetOf(from))
        scan_ = RunScan{offsetOf(from), offsetOf(from)};
    const char* const resume = pointerTo(scan_.scanned);
    const char* lt = static_cast<const char*>(std::memchr(resume, '<', std::size_t(end_ - resume)));
    const char* const to = lt ? lt : end_;
    for (const char* c = resume; c != to; ++c) {
        if (*c == '\0')
            malformed(c, "a NUL byte in element text");
        scan_.references = scan_.references || *c == '&';
        scan_.blank = scan_.blank && isXmlSpace(*c);
    }
    scan_.scanned = offsetOf(to);
    // Text goes on up to the next markup, which may not have come yet.
    if (!lt)
        ended(end_);
    const bool references = scan_.references;
    const bool blank = scan_.blank;
    p_ = to;
    // White space between markup lays the text out (the writer writes
    // none), unless it is the whole content of its element.
    const Frame& frame = open_.back();
    if (blank && !(!frame.hasText && !frame.hasElement && startsWith("</")))
        plain_ = false;
    scan_.token = std::size_t(-1);
    textNode(from, to, references, false, blank);
}

// Where the search for the end of the run that starts at p_ (after its
// `opening`) goes on: just before where the last piece's search stopped,
// since the terminator may span the two pieces.
const char* Reader::searchResume(std::size_t opening, std::size_t terminatorLength)
{
    const char* const first = p_ + opening;
    if (scan_.token != offsetOf(p_))
        return first;
    const std::size_t back = terminatorLength - 1;
    const std::size_t resumeAt = scan_.scanned > back ? scan_.scanned - back : 0;
    return std::max(first, pointerTo(std::max(resumeAt, offsetOf(first))));
}

// Notes how far the search for the end of the run at p_ got when the text
// so far holds no end; ended() then asks for more.
void Reader::searchStopped()
{
    scan_ = RunScan{offsetOf(p_), offsetOf(end_)};
}

void Reader::skipPast(std::size_t opening, const char* terminator, const char* unclosed)
{
    const char* const start = p_;
    const std::size_t length = std::strlen(terminator);
    const char* const close = std::search(searchResume(opening, length), end_, terminator, terminator + length);
    if (close == end_)
        searchStopped();
    if (ended(close))
        malformed(start, unclosed);
    p_ = close + length;
}

void Reader::readComment()
{
    skipPast(4, "-->", "the comment is not closed");
}

void Reader::readCData()
{
    const char* const start = p_;
    const char* const from = p_ + 9;
    const char* const close = std::search(searchResume(9, 3), end_, "]]>", "]]>" + 3);
    if (close == end_)
        searchStopped();
    if (ended(close))
        malformed(start, "the CDATA section is not closed");
    if (const char* nul = static_cast<const char*>(std::memchr(from, '\0', std::size_t(close - from))))
        malformed(nul, "a NUL byte in a CDATA section");
    p_ = close + 3;
    textNode(from, close, false, true, std::all_of(from, close, isXmlSpace));
}

// A document type declaration before the element (no internal subset).
void Reader::readDeclaration()
{
    skipPast(2, ">", "the declaration is not closed");
}

void Reader::readInstruction()
{
    skipPast(2, "?>", "the processing instruction is not closed");
}

// White space, comments and processing instructions around the element.
void Reader::skipMisc()
{
    for (;;) {
        skipSpace();
        if (startsWith("<!--"))
            readComment();
        else if (startsWith("<?"))
            readInstruction();
        else if (startsWith("<!") && !startsWith("<![CDATA["))
            readDeclaration();
        else
            return;
        plain_ = false;
    }
}

void Reader::checkWithTinyXml() const
{
    // Text of the writer's forms that was dropped before other markup came
    // has been checked by the reader alone.
    if (base_ != 0)
        return;
    const std::string text(begin_, p_);
    TiXmlDocument document;
    document.Parse(text.c_str(), nullptr, TIXML_ENCODING_UNKNOWN);
    if (document.Error())
        raise(ZRError(kModule, kMethod,
                      "the value is not well-formed XML: " + std::string(document.ErrorDesc()) + " at line " +
                          decimalText(document.ErrorRow()) + ", column " + decimalText(document.ErrorCol()),
                      kSourcePath, __LINE__),
              ZRErrorKind::BadReply);
}

// ---------------------------------------------------------------- decoding

Reader::Status Reader::read(std::size_t size, bool final)
{
    end_ = begin_ + size;
    final_ = final;
    const char* pieceStart = p_;
    try {
        if (!started_) {
            skipMisc();
            if (ended(p_) || ended(p_ + 1) || *p_ != '<')
                malformed(p_, "the text holds no element");
            if (p_[1] == '/')
                return Status::NoElement;
            if (!isXmlNameStart(p_[1]))
                malformed(p_, "the text holds no element");
            readStartTag();
            started_ = true;
            out_.reset();
            openValue(&out_, ZRValue::Invalid, true);
            if (tag_.empty)
                closeElement();
        }
        while (!open_.empty()) {
            // Text that ends between two pieces of markup (as a peeked start
            // tag does) needs no unwinding.
            if (p_ == end_ && !final_)
                return Status::NeedMore;
            pieceStart = p_;
            step();
        }
    } catch (const NeedMore&) {
        p_ = pieceStart;
        return Status::NeedMore;
    }
    if (!plain_)
        checkWithTinyXml();
    return Status::Complete;
}

void Reader::checkRest()
{
    skipMisc();
    if (p_ != end_)
        malformed(p_, "text after the element");
}

void Reader::step()
{
    if (ended(p_))
        malformedAt(open_.back().startAt, "the element '" + elementName(open_.back()) + ">' is not closed");
    if (*p_ != '<') {
        readTextRun();
        return;
    }
    // Markup: its second character tells which.
    const char second = ended(p_ + 1) ? '\0' : p_[1];
    if (second == '/') {
        readEndTag();
    } else if (second == '!' && startsWith("<!--")) {
        plain_ = false;
        readComment();
    } else if (second == '!' && startsWith("<![CDATA[")) {
        plain_ = false;
        readCData();
    } else if (second == '?') {
        plain_ = false;
        readInstruction();
    } else if (second == '!') {
        malformed(p_, "a markup declaration inside an element");
    } else {
        if (static_cast<int>(open_.size()) >= kMaxValueNesting)
            nestedTooDeep();
        if (readPlainItem())
            return;
        readStartTag();
        openChild();
        if (tag_.empty)
            closeElement();
    }
}

// The writer's scalar items inside an array, <item xsi:type="T">text</item>,
// in one go: the general path decides the same for them at several times
// the cost. Anything else is left to it, with nothing consumed.
bool Reader::readPlainItem()
{
    static const char kStart[] = "<item xsi:type=\"";
    static const char kEnd[] = "</item>";
    const std::size_t startLength = sizeof kStart - 1;
    const std::size_t endLength = sizeof kEnd - 1;
    Frame& parent = open_.back();
    if (parent.mode != Mode::Value || parent.kind != ZRValue::Array || std::size_t(end_ - p_) < startLength ||
        std::memcmp(p_, kStart, startLength) != 0)
        return false;
    const char* const type = p_ + startLength;
    const char* typeEnd = type;
    while (typeEnd != end_ && *typeEnd != '"' && *typeEnd != '&' && *typeEnd != '<' && *typeEnd != '\0')
        ++typeEnd;
    if (end_ - typeEnd < 2 || typeEnd[0] != '"' || typeEnd[1] != '>')
        return false;
    const ZRValue::Type kind = typeNamed(type, std::size_t(typeEnd - type));
    if (kind == ZRValue::Array)
        return false;
    const char* const text = typeEnd + 2;
    const char* textEnd = text;
    bool references = false;
    for (; textEnd != end_ && *textEnd != '<'; ++textEnd) {
        if (*textEnd == '\0')
            return false;
        references = references || *textEnd == '&';
    }
    if (std::size_t(end_ - textEnd) < endLength || std::memcmp(textEnd, kEnd, endLength) != 0)
        return false;

    const char* const start = p_;
    p_ = textEnd + endLength;
    const int position = parent.position++;
    ZRValue& element = placeElement(*parent.out, position);
    Text content{text, std::size_t(textEnd - text)};
    if (references) {
        text_.clear();
        decodeReferences(text, textEnd, text_);
        content = {text_.data(), text_.size()};
    }
    finish(element, kind, offsetOf(start), textEnd != text, content);
    return true;
}

ZRValue::Type Reader::kindOf(ZRValue::Type hint, bool& fault) const
{
    fault = false;
    if (tag_.type.present)
        return typeNamed(tag_.type.value.data, tag_.type.value.size);
    if (contains(tag_.name, tag_.nameLength, "Fault")) {
        fault = true;
        return ZRValue::Invalid;
    }
    if (hint != ZRValue::Invalid)
        return hint;
    std::string lowered(tag_.namespaceName.value.data, tag_.namespaceName.value.size);
    for (char& c : lowered)
        c = asciiLower(c);
    return lowered.find(kArrayNamespaceMarker) != std::string::npos ? ZRValue::Array : ZRValue::Invalid;
}

Reader::ArrayShape Reader::arrayShape() const
{
    ArrayShape shape;
    const Attribute& attribute = tag_.arrayType.present ? tag_.arrayType : tag_.otherArrayType;
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

void Reader::startArray(ZRValue& out, const ArrayShape& shape)
{
    if (shape.nameTooLong)
        assertFailed(kArrayTypeNameTooLongSite);
    out.reset();
    out.reserveArray(shape.capacity);
}

// The element at `position` of `array`, made room for. A large array would
// otherwise regrow many times, each time moving every element into memory
// touched for the first time.
ZRValue& Reader::placeElement(ZRValue& array, int position)
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

void Reader::push(Mode mode, ZRValue* out, ZRValue::Type kind)
{
    open_.emplace_back();
    Frame& frame = open_.back();
    frame.mode = mode;
    frame.nameAt = names_.size();
    frame.nameLength = tag_.nameLength;
    names_.append(tag_.name, tag_.nameLength);
    frame.startAt = offsetOf(tag_.start);
    frame.out = out;
    frame.kind = kind;
    frame.hasText = frame.nonBlank = frame.hasElement = false;
}

void Reader::openValue(ZRValue* out, ZRValue::Type hint, bool allowWrapper)
{
    bool fault = false;
    const ZRValue::Type kind = kindOf(hint, fault);
    if (allowWrapper && isWrapperName(tag_.name, tag_.nameLength)) {
        push(Mode::Wrapper, out, kind);
        open_.back().hint = hint;
        if (kind == ZRValue::Array)
            open_.back().array = arrayShape();
        return;
    }
    if (fault) {
        push(Mode::Fault, nullptr, ZRValue::Invalid);
        faultDescription_ = "Fault: '" + std::string(tag_.name, tag_.nameLength) + "': ";
        return;
    }
    push(Mode::Value, out, kind);
    if (kind == ZRValue::Array) {
        Frame& frame = open_.back();
        frame.array = arrayShape();
        startArray(*out, frame.array);
    }
}

void Reader::openChild()
{
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
            unfaithful(offsetOf(tag_.start), "the element '<" + std::string(tag_.name, tag_.nameLength) +
                                                 ">' stands inside the value of '" + elementName(parent) + ">'");
        break;
    case Mode::Wrapper:
        if (!first)
            unfaithful(offsetOf(tag_.start), "a second value follows the value of '" + elementName(parent) + ">'");
        if (parent.nonBlank)
            unfaithful(offsetOf(tag_.start), "the text " + quoted(capturedText_.data, capturedText_.size) +
                                                 " stands beside the value of '" + elementName(parent) + ">'");
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
bool Reader::ownsText(const Frame& frame) const
{
    return frame.mode == Mode::Wrapper || frame.mode == Mode::FaultChild ||
           (frame.mode == Mode::Value && frame.kind != ZRValue::Array);
}

// A run of character data: text (with `references` when it holds any) or,
// `raw`, the content of a CDATA section. Comments and processing
// instructions between runs are not part of it.
void Reader::textNode(const char* from, const char* to, bool references, bool raw, bool blank)
{
    Frame& frame = open_.back();
    if (ownsText(frame) && !(frame.mode == Mode::Wrapper && frame.taken)) {
        captureText(from, to, references, raw);
        frame.nonBlank = frame.nonBlank || !blank;
        return;
    }
    if (references && !raw) {
        scratch_.clear();
        decodeReferences(from, to, scratch_);
    }
    if (blank)
        return;
    if ((frame.mode == Mode::Value && frame.kind == ZRValue::Array) || frame.mode == Mode::Wrapper)
        unfaithful(offsetOf(from), "the text " + quoted(from, std::size_t(to - from)) +
                                       (frame.mode == Mode::Wrapper ? " stands beside the value of '"
                                                                    : " stands between the elements of '") +
                                       elementName(frame) + ">'");
    otherNode();
}

// Adds a run to the character data of the innermost element. The first run
// stays where it is; later ones gather with it in text_.
void Reader::captureText(const char* from, const char* to, bool references, bool raw)
{
    Frame& frame = open_.back();
    const bool first = !frame.hasText;
    frame.hasText = true;
    if (first && (!references || raw)) {
        capturedText_ = {from, std::size_t(to - from)};
        return;
    }
    if (first)
        text_.clear();
    else if (capturedText_.data != text_.data())
        text_.assign(capturedText_.data, capturedText_.size);
    if (references && !raw)
        decodeReferences(from, to, text_);
    else
        text_.append(from, to);
    capturedText_ = {text_.data(), text_.size()};
}

// Text that is not its element's own ends a fault's run of elements.
void Reader::otherNode()
{
    Frame& frame = open_.back();
    if (frame.mode == Mode::Fault && frame.runStarted)
        frame.runEnded = true;
}

void Reader::closeElement()
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
        raise(ZRError(kModule, "Receving Fault response: ", faultDescription_, kSourcePath, kFaultSite),
              ZRErrorKind::RemoteFault);
    case Mode::FaultChild:
        faultDescription_.append(names_, frame.nameAt, frame.nameLength);
        faultDescription_ += ": ";
        // White space between its child elements only lays them out.
        if (frame.hasText && (frame.nonBlank || !frame.hasElement)) {
            faultDescription_.append(capturedText_.data, capturedText_.size);
            faultDescription_ += ", ";
        }
        break;
    case Mode::Skip: break;
    }
    names_.resize(frame.nameAt);
    open_.pop_back();
    placed_ = std::min(placed_, open_.size());
}

void Reader::finish(const Frame& frame, ZRValue::Type kind)
{
    finish(*frame.out, kind, frame.startAt, frame.hasText, capturedText_);
}

// Decodes an element of type `kind` that starts at `start` from its text.
void Reader::finish(ZRValue& out, ZRValue::Type kind, std::size_t start, bool hasText, Text captured)
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
            unfaithful(start, "the Bool text " + quoted(text, size) + " is not true, false, 1 or 0");
        break;
    }
    case ZRValue::Int: {
        int number = 0;
        if (!readIntText(text, text + size, number) && !blank())
            unfaithful(start, "the Int text " + quoted(text, size) + " is not a 32-bit integer");
        out = number;
        break;
    }
    case ZRValue::Float: {
        float number = 0.0f;
        if (!readFloatText(text, text + size, number) && !blank())
            unfaithful(start, "the Float text " + quoted(text, size) + " is not a number");
        out = number;
        break;
    }
    case ZRValue::String: out = TZRValueString(text, size); break;
    case ZRValue::Object:
    case ZRValue::Binary: {
        if (kind == ZRValue::Binary && !hasText)
            assertFailed(kBinaryWithoutTextSite);
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
    Reader reader(text, out, size);
    const Reader::Status status = reader.read(size, true);
    if (status == Reader::Status::NoElement) {
        ZRError error(kModule, kMethod, "the value is not well-formed XML: the text holds no element",
                      kSourcePath, __LINE__);
        error.withKind(ZRErrorKind::BadReply);
        throw error;
    }
    reader.checkRest();
}

struct ZRValueReader::Impl {
    Impl(ZRValue& out, std::size_t textBound) : reader(nullptr, out, textBound) {}
    Reader reader;
};

ZRValueReader::ZRValueReader(ZRValue& out, std::size_t textBound) : out_(out), textBound_(textBound) {}

ZRValueReader::~ZRValueReader() = default;

ZRValueReader::Status ZRValueReader::feed(const char* piece, std::size_t size, bool final)
{
    if (!impl_)
        impl_.reset(new Impl(out_, textBound_));
    switch (impl_->reader.feed(piece, size, final)) {
    case Reader::Status::NeedMore: return NeedMore;
    case Reader::Status::NoElement: return NoElement;
    case Reader::Status::Complete: break;
    }
    return Complete;
}

std::size_t ZRValueReader::position() const
{
    return impl_ ? impl_->reader.position() : 0;
}

}  // namespace ZR
