// ZRPlainXml: a reader for plain markup, the form the value writer produces:
// elements with double-quoted attributes holding either nothing, one text
// or only elements, with no whitespace between the markup. Such text is read
// exactly as TinyXML reads it (character references included); anything
// else is refused and left to TinyXML. Reading it costs a fraction of
// building a TinyXML document, which dominates the decoding of small values.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace ZR {

class ZRPlainXml {
public:
    struct Element {
        const char* name;
        // The decoded text; null when the element holds none, holds elements,
        // or holds only whitespace (TinyXML drops a blank text).
        const char* text;
        std::size_t firstAttribute;
        std::size_t attributeCount;
        // Indexes into the element list; -1 for none.
        int firstChild;
        int nextSibling;
    };

    // Reads the one element that `data` holds, nested at most `maxDepth`
    // deep. Returns false when the text is not plain markup; the element
    // tree is then empty. `data` is not modified and not referred to later.
    bool parse(const char* data, std::size_t size, int maxDepth);

    const Element& root() const { return elements_.front(); }
    const Element* firstChild(const Element& element) const { return at(element.firstChild); }
    const Element* nextSibling(const Element& element) const { return at(element.nextSibling); }
    // The value of the attribute called `name`, or null.
    const char* attribute(const Element& element, const char* name) const;

private:
    struct Attribute {
        const char* name;
        const char* value;
    };

    const Element* at(int index) const { return index < 0 ? nullptr : &elements_[std::size_t(index)]; }
    bool fail();

    // Names, values and decoded texts, each NUL-terminated; sized once so
    // that pointers into it stay valid.
    std::string strings_;
    std::vector<Element> elements_;
    std::vector<Attribute> attributes_;
};

}  // namespace ZR
