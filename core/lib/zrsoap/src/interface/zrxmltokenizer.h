// SPDX-License-Identifier: GPL-2.0-or-later
// The pull tokenizer under the value reader: it takes XML text whole or in
// pieces as they arrive, hands out start tags, end tags and runs of
// character data one at a time, skips comments, processing instructions and
// declarations, checks well-formedness, and knows positions (line and
// column) for error texts. When the text so far ends inside a token it says
// so with a status and resumes there once more text has come; it keeps of
// the text only what it still needs.
#pragma once

#include <cstddef>
#include <set>
#include <string>
#include <vector>

namespace ZR {

// A piece of the text: a view into the markup, or into a buffer holding its
// decoded form.
struct XmlText {
    const char* data = nullptr;
    std::size_t size = 0;
};

// `text` in quotes for an error, cut after a few dozen bytes.
std::string quotedText(const char* text, std::size_t length);
bool textEquals(const XmlText& text, const char* literal);

class XmlTokenizer {
public:
    enum class Token {
        NeedMore,   // the text so far ends inside the next token
        StartTag,   // startTag() describes it; the element is open unless empty
        EndTag,     // closes the innermost open element (endName())
        Text,       // text(): a run of character data or a CDATA section
        NoElement,  // before the first element: an end tag came first
        Done,       // the first element has ended
    };

    // An attribute the value reader needs: its value as written, or as
    // decoded when it holds references.
    struct Attribute {
        bool present = false;
        XmlText value;
        std::string decoded;
    };
    struct StartTag {
        std::size_t start = 0;  // its '<', counted from the start of the text
        XmlText name;
        bool empty = false;  // <name/>: the end tag follows at once
        Attribute type, arrayType, otherArrayType, namespaceName;
    };
    struct TextRun {
        std::size_t start = 0;
        const char* from = nullptr;
        const char* to = nullptr;
        bool references = false;  // holds '&' (raw: never)
        bool raw = false;         // a CDATA section's content
        bool blank = false;       // white space only
    };
    // The writer's scalar items, <item xsi:type="T">text</item>, seen whole.
    struct PlainItem {
        std::size_t start = 0;
        XmlText type;
        const char* text = nullptr;
        const char* textEnd = nullptr;
        bool references = false;
        const char* end = nullptr;
    };

    // On text the caller holds whole (`data`), or (null) handed over with
    // append().
    explicit XmlTokenizer(const char* data);

    // The text so far is `size` bytes long (after append(), the size of
    // all that was appended); `final` when no more will come.
    void setEnd(std::size_t size, bool final);
    // Adds the next piece; views handed out before may go.
    void append(const char* piece, std::size_t size);
    // Whether `at` points into the text held.
    bool holds(const char* at) const;

    Token next();
    const StartTag& startTag() const { return tag_; }
    const TextRun& text() const { return text_; }
    // The name of the element the last EndTag closed.
    XmlText endName() const { return {closedName_.data(), closedName_.size()}; }
    // "<name" of the open element at `depth` (0: the outermost).
    std::string openName(std::size_t depth) const;

    // The writer's scalar item at the current position, when it stands
    // there whole inside an open element; take() moves past it.
    bool peekPlainItem(PlainItem& item) const;
    void take(const PlainItem& item) { p_ = item.end; }

    // Counted from the start of the whole text: where reading goes on.
    std::size_t position() const { return base_ + std::size_t(p_ - begin_); }
    // After Done on the whole text: only white space, comments and
    // processing instructions may follow.
    void checkRest();
    // Once Done: text that holds markup of forms the writer never writes is
    // also put to TinyXML, whose complaints are errors too.
    void checkWithTinyXml() const;

    // Decodes the references in [from, to) onto `into`.
    void decodeReferences(const char* from, const char* to, std::string& into) const;
    std::string locationAt(std::size_t at) const;
    [[noreturn]] void malformedAt(std::size_t at, const std::string& what) const;

private:
    struct OpenElement {
        std::size_t nameAt;  // its name in names_
        std::size_t nameLength;
        std::size_t startAt;
        // Where startAt lies, kept once the text there has been dropped.
        long line;
        long column;
    };
    // How far a run that has not ended yet was scanned, so that the next
    // piece resumes the scan there: one long text would otherwise cost its
    // length for every piece it spans.
    struct RunScan {
        std::size_t token = std::size_t(-1);  // where the run starts
        std::size_t scanned = 0;
        bool references = false;
        bool blank = true;
    };

    std::size_t offsetOf(const char* at) const { return base_ + std::size_t(at - begin_); }
    const char* pointerTo(std::size_t at) const { return begin_ + (at - base_); }
    std::string location(const char* at) const;
    // Not well-formed, at `at`: ZRError, kind BadReply.
    [[noreturn]] void malformed(const char* at, const std::string& what) const;
    void countLinesUpTo(const char* at);
    void dropReadText();

    bool needsMore(const char* at) const { return at == end_ && !final_; }
    enum class Match { Yes, No, NeedMore };
    Match startsWith(const char* literal) const;
    void skipSpace();
    const char* scanName(const char* at) const;
    [[noreturn]] void badName(const char* at) const;
    // zrxmlreferences.cpp
    const char* reference(const char* at, const char* limit, std::string* into) const;

    Token readFirst();
    Token readStartTag();
    bool readAttribute(const char* name, std::size_t nameLength);
    void checkStartTagLength(const char* at) const;
    Token readEndTag();
    Token readTextRun();
    const char* searchResume(std::size_t opening, std::size_t terminatorLength) const;
    bool skipPast(std::size_t opening, const char* terminator, const char* unclosed);
    Token readCData();
    bool skipMisc();
    Token opened();

    const char* begin_;
    const char* p_;
    const char* end_;
    // Text handed over in pieces: what is still needed of it, from offset
    // base_ of the whole text on.
    std::string kept_;
    bool pieces_;
    std::size_t base_ = 0;
    // Lines counted up to offset linesAt_: the line there and where it starts.
    std::size_t linesAt_ = 0;
    long line_ = 1;
    std::size_t lineStartAt_ = 0;
    // Open elements below this one know their place (line, column).
    std::size_t placed_ = 0;
    std::string names_;
    std::vector<OpenElement> open_;
    std::string closedName_;
    bool final_ = false;
    bool started_ = false;
    bool afterStart_ = false;  // the last token was a start tag
    bool closing_ = false;     // the last token closed open_.back()
    // False once the text holds markup the writer never writes.
    bool plain_ = true;
    StartTag tag_;
    TextRun text_;
    std::vector<XmlText> attributeNames_;
    // A tree, not a hash table: clearing it costs only what it holds.
    struct TextLess {
        bool operator()(const XmlText& a, const XmlText& b) const;
    };
    std::set<XmlText, TextLess> attributeSet_;
    std::string scratch_;
    RunScan scan_;
};

}  // namespace ZR
