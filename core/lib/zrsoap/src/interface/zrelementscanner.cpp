// ZRElementScanner: a linear XML markup scanner that only tracks what it
// needs to find the end of the first element: tags and their depth, quoted
// attribute values, comments, CDATA sections and processing instructions.
#include "zrelementscanner.h"

#include <cstring>

namespace ZR {

namespace {

const char kCDataPrefix[] = "[CDATA[";
const int kCDataPrefixLength = 7;

// memchr pays for itself on long runs only; the spans between markup in a
// value's text are mostly short.
const char* findByte(const char* from, const char* end, char wanted)
{
    const std::size_t kShortRun = 16;
    for (std::size_t i = 0; i < kShortRun && from != end; ++i, ++from)
        if (*from == wanted)
            return from;
    if (from == end)
        return end;
    const void* found = std::memchr(from, wanted, std::size_t(end - from));
    return found ? static_cast<const char*>(found) : end;
}

}  // namespace

ZRElementScanner::Result ZRElementScanner::scan(const char* data, std::size_t size)
{
    // Character data, names, attribute values and end tags are most of a
    // value's text: the states they put the scanner in jump straight to the
    // next byte that matters; the others take one byte at a time.
    const std::size_t base = offset_;
    const char* p = data;
    const char* const end = data + size;
    auto offsetOf = [&](const char* at) { return base + std::size_t(at - data); };
    while (result_ == NeedMore && p != end) {
        switch (state_) {
        case Text:
            p = findByte(p, end, '<');
            if (p == end)
                break;
            state_ = Open;
            markupStart_ = offsetOf(p++);
            continue;
        case QuotedDouble:
        case QuotedSingle:
            p = findByte(p, end, state_ == QuotedDouble ? '"' : '\'');
            if (p == end)
                break;
            ++p;
            state_ = StartTag;
            afterSlash_ = false;
            continue;
        case EndTag:
            p = findByte(p, end, '>');
            if (p == end)
                break;
            ++p;
            state_ = Text;
            if (--depth_ == 0)
                finish(Complete, offsetOf(p));
            continue;
        case StartTag: {
            const char* stop = p;
            while (stop != end && *stop != '"' && *stop != '\'' && *stop != '>')
                ++stop;
            // Only the byte before '>' tells whether the tag closes itself.
            if (stop != p)
                afterSlash_ = stop[-1] == '/';
            p = stop;
            if (p == end)
                break;
            const char c = *p++;
            if (c == '"') {
                state_ = QuotedDouble;
            } else if (c == '\'') {
                state_ = QuotedSingle;
            } else {
                state_ = Text;
                if (afterSlash_ && --depth_ == 0)
                    finish(Complete, offsetOf(p));
            }
            afterSlash_ = false;
            continue;
        }
        default:
            offset_ = offsetOf(p);
            step(*p++);
            continue;
        }
        break;
    }
    offset_ = offsetOf(p);
    return result_;
}

ZRElementScanner::Result ZRElementScanner::finish(Result result, std::size_t position)
{
    result_ = result;
    position_ = position;
    return result_;
}

ZRElementScanner::Result ZRElementScanner::step(char c)
{
    switch (state_) {
    case Text:
        if (c == '<') {
            state_ = Open;
            markupStart_ = offset_;
        }
        break;
    case Open:
        if (c == '/') {
            if (depth_ == 0)
                return finish(NoElement, markupStart_);
            state_ = EndTag;
        } else if (c == '!') {
            state_ = Bang;
        } else if (c == '?') {
            state_ = Instruction;
            afterQuestion_ = false;
        } else {
            if (depth_ >= maxDepth_)
                return finish(TooDeep, markupStart_);
            ++depth_;
            state_ = StartTag;
            afterSlash_ = false;
        }
        break;
    case StartTag:
        if (c == '"') {
            state_ = QuotedDouble;
        } else if (c == '\'') {
            state_ = QuotedSingle;
        } else if (c == '>') {
            state_ = Text;
            if (afterSlash_ && --depth_ == 0)
                return finish(Complete, offset_ + 1);
        }
        afterSlash_ = (c == '/');
        break;
    case QuotedDouble:
        if (c == '"')
            state_ = StartTag;
        break;
    case QuotedSingle:
        if (c == '\'')
            state_ = StartTag;
        break;
    case EndTag:
        if (c == '>') {
            state_ = Text;
            if (--depth_ == 0)
                return finish(Complete, offset_ + 1);
        }
        break;
    case Bang:
        if (c == '-') {
            state_ = BangDash;
        } else if (c == kCDataPrefix[0]) {
            state_ = CDataPrefix;
            run_ = 1;
        } else {
            state_ = c == '>' ? Text : Declaration;
        }
        break;
    case BangDash:
        if (c == '-') {
            state_ = Comment;
            run_ = 0;
        } else {
            state_ = c == '>' ? Text : Declaration;
        }
        break;
    case Comment:
        if (c == '-') {
            ++run_;
        } else {
            if (c == '>' && run_ >= 2)
                state_ = Text;
            run_ = 0;
        }
        break;
    case CDataPrefix:
        if (c == kCDataPrefix[run_]) {
            if (++run_ == kCDataPrefixLength) {
                state_ = CData;
                run_ = 0;
            }
        } else {
            state_ = c == '>' ? Text : Declaration;
        }
        break;
    case CData:
        if (c == ']') {
            ++run_;
        } else {
            if (c == '>' && run_ >= 2)
                state_ = Text;
            run_ = 0;
        }
        break;
    case Declaration:
        if (c == '>')
            state_ = Text;
        break;
    case Instruction:
        if (c == '>' && afterQuestion_)
            state_ = Text;
        afterQuestion_ = (c == '?');
        break;
    }
    return result_;
}

}  // namespace ZR
