// ZRElementScanner: finds where the first XML element of a text ends while
// the text arrives in pieces, so the input hook hands TinyXML exactly one
// element and leaves the rest of the message to gSOAP. Each byte is looked at
// once, whatever the pieces; element depth is tracked and bounded.
#pragma once

#include <cstddef>

namespace ZR {

class ZRElementScanner {
public:
    enum Result {
        NeedMore,   // the first element has not ended yet
        Complete,   // position(): one past the '>' that ends the first element
        NoElement,  // an end tag came before any element; position(): its '<'
        TooDeep,    // elements nest deeper than the limit
    };

    explicit ZRElementScanner(int maxDepth) : maxDepth_(maxDepth) {}

    // Scans the next `size` bytes of the text. Once a result other than
    // NeedMore has been returned, further calls return it again.
    Result scan(const char* data, std::size_t size);

    // Offset in the whole text, as described by the result.
    std::size_t position() const { return position_; }

private:
    enum State {
        Text,           // character data, or between markup
        Open,           // after '<'
        StartTag,       // inside a start tag, outside attribute values
        QuotedDouble,   // attribute value in double quotes
        QuotedSingle,   // attribute value in single quotes
        EndTag,         // inside an end tag
        Bang,           // after "<!"
        BangDash,       // after "<!-"
        Comment,        // inside "<!--"
        CDataPrefix,    // matching "[CDATA[" after "<!"
        CData,          // inside "<![CDATA["
        Declaration,    // "<!DOCTYPE ...>" and other "<!" markup
        Instruction,    // inside "<?"
    };

    Result step(char c);
    Result finish(Result result, std::size_t position);

    const int maxDepth_;
    State state_ = Text;
    Result result_ = NeedMore;
    int depth_ = 0;
    std::size_t offset_ = 0;    // offset of the next byte to scan
    std::size_t position_ = 0;
    std::size_t markupStart_ = 0;
    int run_ = 0;               // dashes, brackets or matched prefix characters
    bool afterSlash_ = false;   // last character of a start tag was '/'
    bool afterQuestion_ = false;
};

}  // namespace ZR
