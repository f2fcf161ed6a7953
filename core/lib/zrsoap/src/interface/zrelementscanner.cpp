// ZRElementScanner: a linear XML markup scanner that only tracks what it
// needs to find the end of the first element: tags and their depth, quoted
// attribute values, comments, CDATA sections and processing instructions.
#include "zrelementscanner.h"

#include <cstring>

namespace ZR {

namespace {

const char kCDataPrefix[] = "[CDATA[";
const int kCDataPrefixLength = 7;

}  // namespace

ZRElementScanner::Result ZRElementScanner::scan(const char* data, std::size_t size)
{
    std::size_t i = 0;
    while (result_ == NeedMore && i < size) {
        // Character data and attribute values are most of a value's text;
        // jump over them to the next byte that matters.
        const char* stop = nullptr;
        if (state_ == Text)
            stop = static_cast<const char*>(std::memchr(data + i, '<', size - i));
        else if (state_ == QuotedDouble)
            stop = static_cast<const char*>(std::memchr(data + i, '"', size - i));
        else if (state_ == QuotedSingle)
            stop = static_cast<const char*>(std::memchr(data + i, '\'', size - i));
        if (state_ == Text || state_ == QuotedDouble || state_ == QuotedSingle) {
            const std::size_t skipped = (stop ? std::size_t(stop - data) : size) - i;
            i += skipped;
            offset_ += skipped;
            if (!stop)
                break;
        }
        step(data[i]);
        ++i;
        ++offset_;
    }
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
