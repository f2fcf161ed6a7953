// SPDX-License-Identifier: GPL-2.0-or-later
// The tokenizer's scanning: names, attributes, references, text runs,
// comments, CDATA and the rest of the markup, each read whole or not at
// all, so that a token cut off by the end of a piece is read again (from
// where its scan stopped) once the next piece has come.
#include "zrxmltokenizer.h"

#include <algorithm>
#include <cstring>
#include <functional>

#include <tinyxml.h>

#include "zrcompatibility.h"
#include "zrnumbertext.h"
#include "zrtextchars.h"
#include "zrthrow.h"
#include "zrvalue.h"

namespace ZR {

namespace {

const char* const kModule = "ZRValue";
const char* const kMethod = "readValueXml";
const char* const kSourcePath = compatibility::kCodecSource;
// Attribute counts up to this are checked for duplicates pairwise.
const std::size_t kPairwiseAttributeCheck = 16;
// Text handed over in pieces is dropped once this much has been read: moving
// the rest of a piece is then cheap beside what was read.
const std::size_t kDropReadText = std::size_t(64) << 10;
// A start tag is read again whole when it spans pieces; bounding its length
// bounds what each piece costs. The writer's tags are a few dozen bytes.
const std::size_t kMaxStartTagBytes = std::size_t(1) << 20;
// How much of a refused piece of text an error quotes.
const std::size_t kMaxQuotedText = 40;

}  // namespace

std::string quotedText(const char* text, std::size_t length)
{
    if (length <= kMaxQuotedText)
        return "'" + std::string(text, length) + "'";
    return "'" + std::string(text, kMaxQuotedText) + "...'";
}

bool textEquals(const XmlText& text, const char* literal)
{
    return text.size == std::strlen(literal) && std::memcmp(text.data, literal, text.size) == 0;
}

bool XmlTokenizer::TextLess::operator()(const XmlText& a, const XmlText& b) const
{
    const int order = std::memcmp(a.data, b.data, std::min(a.size, b.size));
    return order < 0 || (order == 0 && a.size < b.size);
}

XmlTokenizer::XmlTokenizer(const char* data) : begin_(data), p_(data), end_(data), pieces_(!data) {}

// ---------------------------------------------------------------- positions

std::string XmlTokenizer::location(const char* at) const
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
std::string XmlTokenizer::locationAt(std::size_t at) const
{
    if (at >= base_)
        return location(pointerTo(at));
    for (auto element = open_.rbegin(); element != open_.rend(); ++element)
        if (element->startAt == at)
            return "line " + decimalText(element->line) + ", column " + decimalText(element->column);
    return "offset " + decimalText(static_cast<long long>(at));
}

void XmlTokenizer::malformed(const char* at, const std::string& what) const
{
    malformedAt(offsetOf(at), what);
}

void XmlTokenizer::malformedAt(std::size_t at, const std::string& what) const
{
    throwWithKind(
        ZRError(kModule, kMethod, "the value is not well-formed XML: " + what + " at " + locationAt(at),
                kSourcePath, __LINE__),
        ZRErrorKind::BadReply);
}

std::string XmlTokenizer::openName(std::size_t depth) const
{
    return "<" + names_.substr(open_[depth].nameAt, open_[depth].nameLength);
}

// ---------------------------------------------------------- text in pieces

void XmlTokenizer::countLinesUpTo(const char* at)
{
    const char* p = pointerTo(linesAt_);
    while (const char* newline = static_cast<const char*>(std::memchr(p, '\n', std::size_t(at - p)))) {
        ++line_;
        p = newline + 1;
        lineStartAt_ = offsetOf(p);
    }
    linesAt_ = offsetOf(at);
}

// Drops the text before p_, where the reading resumes; the open elements
// note where they start first.
void XmlTokenizer::dropReadText()
{
    for (; placed_ < open_.size() && open_[placed_].startAt < offsetOf(p_); ++placed_) {
        OpenElement& element = open_[placed_];
        countLinesUpTo(pointerTo(element.startAt));
        element.line = line_;
        element.column = long(element.startAt - lineStartAt_ + 1);
    }
    countLinesUpTo(p_);
    const std::size_t dropped = std::size_t(p_ - begin_);
    kept_.erase(0, dropped);
    base_ += dropped;
    begin_ = p_ = end_ = kept_.data();
}

void XmlTokenizer::append(const char* piece, std::size_t size)
{
    // Only text of the writer's forms is dropped: other markup is put to
    // TinyXML as a whole.
    if (plain_ && std::size_t(p_ - begin_) >= kDropReadText)
        dropReadText();
    const std::size_t resumeAt = std::size_t(p_ - begin_);
    kept_.append(piece, size);
    begin_ = kept_.data();
    p_ = begin_ + resumeAt;
}

void XmlTokenizer::setEnd(std::size_t size, bool final)
{
    end_ = begin_ + (pieces_ ? kept_.size() : size);
    final_ = final;
}

bool XmlTokenizer::holds(const char* at) const
{
    return !std::less<const char*>()(at, begin_) && std::less<const char*>()(at, end_);
}

// ---------------------------------------------------------------- markup

XmlTokenizer::Match XmlTokenizer::startsWith(const char* literal) const
{
    const std::size_t length = std::strlen(literal);
    const std::size_t available = std::min(length, std::size_t(end_ - p_));
    if (std::memcmp(p_, literal, available) != 0)
        return Match::No;
    if (available < length)
        return final_ ? Match::No : Match::NeedMore;
    return Match::Yes;
}

void XmlTokenizer::skipSpace()
{
    while (p_ != end_ && isXmlSpace(*p_))
        ++p_;
}

// The end of the name at `at`, or null when the text so far ends inside it.
const char* XmlTokenizer::scanName(const char* at) const
{
    if (needsMore(at))
        return nullptr;
    if (at == end_ || !isXmlNameStart(*at))
        badName(at);
    for (++at; at != end_ && isXmlNameChar(*at); ++at) {
    }
    // A name that reaches the end so far may go on.
    return needsMore(at) ? nullptr : at;
}

void XmlTokenizer::badName(const char* at) const
{
    malformed(at,
              at == end_ ? "the text ends inside a tag" : "a name cannot start with " + quotedText(at, 1));
}

void XmlTokenizer::checkStartTagLength(const char* at) const
{
    if (std::size_t(at - pointerTo(tag_.start)) > kMaxStartTagBytes)
        malformedAt(tag_.start,
                    "the start tag is longer than " + decimalText(long(kMaxStartTagBytes)) + " bytes");
}

XmlTokenizer::Token XmlTokenizer::readStartTag()
{
    tag_.start = offsetOf(p_);
    const char* const name = p_ + 1;
    if (!(p_ = scanName(name)))
        return Token::NeedMore;
    tag_.name = {name, std::size_t(p_ - name)};
    tag_.type.present = tag_.arrayType.present = tag_.otherArrayType.present = tag_.namespaceName.present =
        false;
    attributeNames_.clear();
    attributeSet_.clear();
    for (;;) {
        const char* space = p_;
        skipSpace();
        checkStartTagLength(p_);
        if (needsMore(p_))
            return Token::NeedMore;
        if (p_ == end_)
            malformedAt(tag_.start, "the start tag is not closed");
        const bool oneSpace = p_ == space + 1 && *space == ' ';
        if (*p_ == '>' || *p_ == '/') {
            if (p_ != space)
                plain_ = false;
            tag_.empty = *p_ == '/';
            if (tag_.empty && needsMore(p_ + 1))
                return Token::NeedMore;
            if (tag_.empty && (p_ + 1 == end_ || p_[1] != '>'))
                malformed(p_, "'/' must end the tag");
            p_ += tag_.empty ? 2 : 1;
            return opened();
        }
        if (p_ == space)
            malformed(p_, "attributes must stand apart, unexpected " + quotedText(p_, 1));
        if (!oneSpace)
            plain_ = false;
        const char* attribute = p_;
        if (!(p_ = scanName(attribute)))
            return Token::NeedMore;
        if (!readAttribute(attribute, std::size_t(p_ - attribute)))
            return Token::NeedMore;
    }
}

// The start tag in tag_ has been read whole. An empty element is not kept
// open: its reader closes it at once.
XmlTokenizer::Token XmlTokenizer::opened()
{
    if (!tag_.empty) {
        open_.push_back({names_.size(), tag_.name.size, tag_.start, 0, 0});
        names_.append(tag_.name.data, tag_.name.size);
    }
    started_ = true;
    afterStart_ = !tag_.empty;
    return Token::StartTag;
}

bool XmlTokenizer::readAttribute(const char* name, std::size_t nameLength)
{
    const char* const afterName = p_;
    skipSpace();
    if (needsMore(p_))
        return false;
    if (p_ == end_ || *p_ != '=')
        malformed(name, "the attribute " + quotedText(name, nameLength) + " has no value");
    ++p_;
    skipSpace();
    if (p_ != afterName + 1)
        plain_ = false;
    if (needsMore(p_))
        return false;
    if (p_ == end_ || (*p_ != '"' && *p_ != '\''))
        malformed(p_, "the value of the attribute " + quotedText(name, nameLength) + " is not quoted");
    const char quote = *p_++;
    if (quote != '"')
        plain_ = false;
    const char* const value = p_;
    const char* const close = static_cast<const char*>(std::memchr(p_, quote, std::size_t(end_ - p_)));
    if (!close) {
        checkStartTagLength(end_);
        if (!final_)
            return false;
        malformed(value - 1, "the value of the attribute " + quotedText(name, nameLength) + " is not closed");
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
    const XmlText current{name, nameLength};
    auto same = [&](const XmlText& other) {
        return other.size == nameLength && std::memcmp(other.data, name, nameLength) == 0;
    };
    if (attributeNames_.size() < kPairwiseAttributeCheck) {
        if (std::any_of(attributeNames_.begin(), attributeNames_.end(), same))
            malformed(name, "the attribute " + quotedText(name, nameLength) + " is duplicated");
        attributeNames_.push_back(current);
    } else {
        if (attributeSet_.empty())
            for (const XmlText& earlier : attributeNames_)
                attributeSet_.insert(earlier);
        if (!attributeSet_.insert(current).second)
            malformed(name, "the attribute " + quotedText(name, nameLength) + " is duplicated");
    }

    Attribute* needed = nullptr;
    if (textEquals(XmlText{name, nameLength}, "xsi:type"))
        needed = &tag_.type;
    else if (textEquals(XmlText{name, nameLength}, "SOAP-ENC:arrayType"))
        needed = &tag_.arrayType;
    else if (textEquals(XmlText{name, nameLength}, "n2:arrayType"))
        needed = &tag_.otherArrayType;
    else if (textEquals(XmlText{name, nameLength}, "xmlns"))
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
    return true;
}

XmlTokenizer::Token XmlTokenizer::readEndTag()
{
    const OpenElement& element = open_.back();
    const char* const start = p_;
    const char* const name = p_ + 2;
    if (!(p_ = scanName(name)))
        return Token::NeedMore;
    const std::size_t length = std::size_t(p_ - name);
    if (length != element.nameLength || std::memcmp(name, names_.data() + element.nameAt, length) != 0)
        malformed(start, "the end tag '" + std::string(start, length + 2) + ">' does not close '" +
                             openName(open_.size() - 1) + ">'");
    const char* const space = p_;
    skipSpace();
    if (p_ != space)
        plain_ = false;
    if (needsMore(p_))
        return Token::NeedMore;
    if (p_ == end_ || *p_ != '>')
        malformed(start, "the end tag '" + std::string(start, length + 2) + "' is not closed");
    ++p_;
    closedName_.assign(names_, element.nameAt, element.nameLength);
    // Popped with the next token: until then the element's place is known
    // for errors about its content.
    closing_ = true;
    afterStart_ = false;
    return Token::EndTag;
}

XmlTokenizer::Token XmlTokenizer::readTextRun()
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
    if (!lt && !final_)
        return Token::NeedMore;
    if (scan_.blank) {
        // White space between markup lays the text out (the writer writes
        // none), unless it is the whole content of its element.
        p_ = to;
        const Match endTag = startsWith("</");
        p_ = from;
        if (endTag == Match::NeedMore)
            return Token::NeedMore;
        if (!(afterStart_ && endTag == Match::Yes))
            plain_ = false;
    }
    text_ = TextRun{offsetOf(from), from, to, scan_.references, false, scan_.blank};
    scan_.token = std::size_t(-1);
    p_ = to;
    return Token::Text;
}

// Where the search for the end of the run that starts at p_ (after its
// `opening`) goes on: just before where the last piece's search stopped,
// since the terminator may span the two pieces.
const char* XmlTokenizer::searchResume(std::size_t opening, std::size_t terminatorLength) const
{
    const char* const first = p_ + opening;
    if (scan_.token != offsetOf(p_))
        return first;
    const std::size_t back = terminatorLength - 1;
    const std::size_t resumeAt = scan_.scanned > back ? scan_.scanned - back : 0;
    return pointerTo(std::max(resumeAt, offsetOf(first)));
}

// Moves past the markup that starts here, `opening` bytes long, up to and
// including `terminator`; `unclosed` says what is wrong when it never ends.
// False when the text so far does not hold its end.
bool XmlTokenizer::skipPast(std::size_t opening, const char* terminator, const char* unclosed)
{
    const std::size_t length = std::strlen(terminator);
    const char* const close =
        std::search(searchResume(opening, length), end_, terminator, terminator + length);
    if (close == end_) {
        if (!final_) {
            scan_ = RunScan{offsetOf(p_), offsetOf(end_)};
            return false;
        }
        malformed(p_, unclosed);
    }
    p_ = close + length;
    return true;
}

XmlTokenizer::Token XmlTokenizer::readCData()
{
    const char* const start = p_;
    const char* const from = p_ + 9;
    if (!skipPast(9, "]]>", "the CDATA section is not closed"))
        return Token::NeedMore;
    const char* const close = p_ - 3;
    if (const char* nul = static_cast<const char*>(std::memchr(from, '\0', std::size_t(close - from))))
        malformed(nul, "a NUL byte in a CDATA section");
    plain_ = false;
    text_ = TextRun{offsetOf(start), from, close, false, true, std::all_of(from, close, isXmlSpace)};
    return Token::Text;
}

// White space, comments, processing instructions and (outside the element)
// declarations; false when the text so far ends inside one.
bool XmlTokenizer::skipMisc()
{
    for (;;) {
        // Inside the element white space is text.
        if (open_.empty())
            skipSpace();
        Match comment = startsWith("<!--");
        Match instruction = comment == Match::Yes ? Match::No : startsWith("<?");
        if (comment == Match::NeedMore || instruction == Match::NeedMore)
            return false;
        bool skipped;
        if (comment == Match::Yes) {
            skipped = skipPast(4, "-->", "the comment is not closed");
        } else if (instruction == Match::Yes) {
            skipped = skipPast(2, "?>", "the processing instruction is not closed");
        } else {
            if (!open_.empty())
                return true;
            const Match declaration = startsWith("<!");
            const Match cdata = startsWith("<![CDATA[");
            if (declaration == Match::NeedMore || cdata == Match::NeedMore)
                return false;
            if (declaration != Match::Yes || cdata == Match::Yes)
                return true;
            // A document type declaration before the element (no internal
            // subset).
            skipped = skipPast(2, ">", "the declaration is not closed");
        }
        if (!skipped)
            return false;
        plain_ = false;
    }
}

XmlTokenizer::Token XmlTokenizer::readFirst()
{
    if (needsMore(p_) || needsMore(p_ + 1))
        return Token::NeedMore;
    if (p_ == end_ || p_ + 1 == end_ || *p_ != '<')
        malformed(p_, "the text holds no element");
    if (p_[1] == '/')
        return Token::NoElement;
    if (!isXmlNameStart(p_[1]))
        malformed(p_, "the text holds no element");
    return readStartTag();
}

XmlTokenizer::Token XmlTokenizer::next()
{
    if (closing_) {
        closing_ = false;
        names_.resize(open_.back().nameAt);
        open_.pop_back();
        placed_ = std::min(placed_, open_.size());
    }
    if (started_ && open_.empty())
        return Token::Done;
    // Comments and instructions read whole stay read when the token after
    // them has not come yet.
    if (!skipMisc())
        return Token::NeedMore;
    const char* const start = p_;
    Token token;
    if (!started_) {
        token = readFirst();
    } else if (needsMore(p_)) {
        token = Token::NeedMore;
    } else if (p_ == end_) {
        malformedAt(open_.back().startAt, "the element '" + openName(open_.size() - 1) + ">' is not closed");
    } else if (*p_ != '<') {
        token = readTextRun();
    } else if (needsMore(p_ + 1)) {
        token = Token::NeedMore;
    } else if (p_[1] == '/') {
        token = readEndTag();
    } else if (p_[1] == '!') {
        const Match cdata = startsWith("<![CDATA[");
        if (cdata == Match::No)
            malformed(p_, "a markup declaration inside an element");
        token = cdata == Match::Yes ? readCData() : Token::NeedMore;
    } else {
        token = readStartTag();
    }
    if (token == Token::NeedMore)
        p_ = start;
    else if (token != Token::StartTag)
        afterStart_ = false;
    return token;
}

bool XmlTokenizer::peekPlainItem(PlainItem& item) const
{
    static const char kStart[] = "<item xsi:type=\"";
    static const char kEnd[] = "</item>";
    const std::size_t startLength = sizeof kStart - 1;
    const std::size_t endLength = sizeof kEnd - 1;
    if (std::size_t(end_ - p_) < startLength || std::memcmp(p_, kStart, startLength) != 0)
        return false;
    const char* const type = p_ + startLength;
    const char* typeEnd = type;
    while (typeEnd != end_ && *typeEnd != '"' && *typeEnd != '&' && *typeEnd != '<' && *typeEnd != '\0')
        ++typeEnd;
    if (end_ - typeEnd < 2 || typeEnd[0] != '"' || typeEnd[1] != '>')
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
    item = PlainItem{offsetOf(p_),       {type, std::size_t(typeEnd - type)}, text, textEnd, references,
                     textEnd + endLength};
    return true;
}

void XmlTokenizer::checkRest()
{
    skipMisc();
    if (p_ != end_)
        malformed(p_, "text after the element");
}

void XmlTokenizer::checkWithTinyXml() const
{
    // Text of the writer's forms that was dropped before other markup came
    // has been checked by the tokenizer alone.
    if (plain_ || base_ != 0)
        return;
    const std::string text(begin_, p_);
    TiXmlDocument document;
    document.Parse(text.c_str(), nullptr, TIXML_ENCODING_UNKNOWN);
    if (document.Error()) {
        throwWithKind(
            ZRError(kModule, kMethod,
                    "the value is not well-formed XML: " + std::string(document.ErrorDesc()) + " at line " +
                        decimalText(document.ErrorRow()) + ", column " + decimalText(document.ErrorCol()),
                    kSourcePath, __LINE__),
            ZRErrorKind::BadReply);
    }
}

}  // namespace ZR
