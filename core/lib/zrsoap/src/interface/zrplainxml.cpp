// ZRPlainXml: one forward pass over the text with an explicit stack of open
// elements. Every choice below either matches what TinyXML does with the
// same bytes or refuses the text, so that the two readers never disagree.
#include "zrplainxml.h"

#include <cctype>
#include <cstring>

namespace ZR {

namespace {

// Names as TinyXML reads them, narrowed to ASCII: it also takes any byte
// above 126 as a letter.
bool isNameStart(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

bool isNameChar(char c)
{
    return isNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == ':';
}

// TinyXML's whitespace test, locale and all.
bool isXmlSpace(char c)
{
    return std::isspace(static_cast<unsigned char>(c)) || c == '\n' || c == '\r';
}

struct NamedReference {
    const char* text;
    std::size_t length;
    char character;
};

const NamedReference kNamedReferences[] = {
    {"&amp;", 5, '&'}, {"&lt;", 4, '<'}, {"&gt;", 4, '>'}, {"&quot;", 6, '"'}, {"&apos;", 6, '\''},
};

const std::size_t kInitialElements = 16;

// More digits would overflow TinyXML's arithmetic, which this reader does
// not imitate.
const int kMaxReferenceDigits = 9;

// Decodes the reference at `p` (an '&' before `limit`) into `character` and
// moves `p` past it. TinyXML keeps only the low byte of a numeric reference
// in a document without a declared encoding, as these are. Hexadecimal and
// unknown references are refused.
bool decodeReference(const char*& p, const char* limit, char& character)
{
    if (limit - p >= 3 && p[1] == '#') {
        const char* q = p + 2;
        unsigned long code = 0;
        int digits = 0;
        for (; q != limit && *q >= '0' && *q <= '9'; ++q) {
            if (++digits > kMaxReferenceDigits)
                return false;
            code = code * 10 + static_cast<unsigned long>(*q - '0');
        }
        if (digits == 0 || q == limit || *q != ';')
            return false;
        character = static_cast<char>(code);
        p = q + 1;
        return true;
    }
    for (const NamedReference& named : kNamedReferences) {
        if (std::size_t(limit - p) >= named.length && std::memcmp(p, named.text, named.length) == 0) {
            character = named.character;
            p += named.length;
            return true;
        }
    }
    return false;
}

}  // namespace

const char* ZRPlainXml::attribute(const Element& element, const char* name) const
{
    for (std::size_t i = element.firstAttribute; i < element.firstAttribute + element.attributeCount; ++i)
        if (std::strcmp(attributes_[i].name, name) == 0)
            return attributes_[i].value;
    return nullptr;
}

bool ZRPlainXml::fail()
{
    elements_.clear();
    attributes_.clear();
    return false;
}

bool ZRPlainXml::parse(const char* data, std::size_t size, int maxDepth)
{
    elements_.clear();
    attributes_.clear();
    // TinyXML reads up to the first NUL only.
    if (size == 0 || data[0] != '<' || std::memchr(data, '\0', size))
        return fail();
    // Every name, value and text is at most as long as the markup it came
    // from, and each markup piece has a byte to spare for the terminator.
    strings_.assign(size + 1, '\0');
    char* out = &strings_[0];
    // A small reply's elements in one allocation each; a large one grows.
    elements_.reserve(kInitialElements);
    attributes_.reserve(kInitialElements);
    const char* p = data;
    const char* const end = data + size;

    auto copyName = [&]() {
        if (p == end || !isNameStart(*p))
            return false;
        while (p != end && isNameChar(*p))
            *out++ = *p++;
        *out++ = '\0';
        return true;
    };

    // The open elements, innermost last, with the last child each has so far.
    struct Open {
        int element;
        int lastChild;
    };
    std::vector<Open> open;
    open.reserve(kInitialElements);

    for (;;) {
        // At the '<' of a start tag.
        ++p;
        Element element{};
        element.name = out;
        if (!copyName())
            return fail();
        element.firstAttribute = attributes_.size();
        element.firstChild = -1;
        element.nextSibling = -1;
        while (p != end && *p == ' ') {
            ++p;
            const char* name = out;
            if (!copyName() || end - p < 2 || p[0] != '=' || p[1] != '"')
                return fail();
            p += 2;
            const char* value = out;
            for (; p != end && *p != '"'; ++p) {
                if (*p == '&' || *p == '<' || isXmlSpace(*p))
                    return fail();
                *out++ = *p;
            }
            if (p == end)
                return fail();
            ++p;
            *out++ = '\0';
            for (std::size_t i = element.firstAttribute; i < attributes_.size(); ++i)
                if (std::strcmp(attributes_[i].name, name) == 0)
                    return fail();
            attributes_.push_back({name, value});
        }
        element.attributeCount = attributes_.size() - element.firstAttribute;

        const int index = static_cast<int>(elements_.size());
        if (!open.empty()) {
            Open& parent = open.back();
            if (parent.lastChild < 0)
                elements_[std::size_t(parent.element)].firstChild = index;
            else
                elements_[std::size_t(parent.lastChild)].nextSibling = index;
            parent.lastChild = index;
        }
        elements_.push_back(element);

        if (p == end)
            return fail();
        bool closed = false;
        if (*p == '/') {
            if (end - p < 2 || p[1] != '>')
                return fail();
            p += 2;
            closed = true;
        } else if (*p == '>') {
            ++p;
            if (static_cast<int>(open.size()) >= maxDepth)
                return fail();
            open.push_back({index, -1});
        } else {
            return fail();
        }

        // Content of the innermost open element until a start tag comes.
        for (;;) {
            if (closed) {
                if (open.empty())
                    return p == end || fail();
                closed = false;
            }
            if (p == end)
                return fail();
            if (*p == '<' && end - p >= 2 && p[1] != '/') {
                // Comments, CDATA, declarations and processing instructions
                // are not plain.
                if (!isNameStart(p[1]))
                    return fail();
                break;
            }
            Open& current = open.back();
            if (*p != '<') {
                // A text is the whole content or it is not plain.
                if (current.lastChild >= 0)
                    return fail();
                const char* const limit = static_cast<const char*>(std::memchr(p, '<', std::size_t(end - p)));
                if (!limit || end - limit < 2 || limit[1] != '/')
                    return fail();
                char* const text = out;
                bool blank = true;
                while (p != limit) {
                    char character = *p;
                    // TinyXML trims and condenses raw whitespace.
                    if (isXmlSpace(character))
                        return fail();
                    if (character == '&') {
                        if (!decodeReference(p, limit, character))
                            return fail();
                    } else {
                        ++p;
                    }
                    *out++ = character;
                    blank = blank && isXmlSpace(character);
                }
                *out++ = '\0';
                if (!blank)
                    elements_[std::size_t(current.element)].text = text;
            }
            if (end - p < 2)
                return fail();
            // At "</": it must close the innermost element.
            const char* const name = elements_[std::size_t(current.element)].name;
            const std::size_t length = std::strlen(name);
            if (std::size_t(end - p) < length + 3 || std::memcmp(p + 2, name, length) != 0 || p[2 + length] != '>')
                return fail();
            p += length + 3;
            open.pop_back();
            closed = true;
        }
    }
}

}  // namespace ZR
