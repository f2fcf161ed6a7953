// SPDX-License-Identifier: GPL-2.0-or-later
// ZRValueReader on text that arrives in pieces: where the first element of
// the text ends, whatever the pieces.
#include <gtest/gtest.h>

#include <string>

#include "expectthrow.h"
#include "zrvaluesoap.h"

using ZR::ZRValueReader;

namespace {

struct Case {
    std::string text;
    ZRValueReader::Status result;
    std::size_t position;  // for NeedMore: unused
};

// Feeds `text` in pieces of `pieceSize` bytes (0: all at once).
std::pair<ZRValueReader::Status, std::size_t> scanned(const std::string& text, std::size_t pieceSize)
{
    ZR::ZRValue value;
    ZRValueReader reader(value);
    ZRValueReader::Status result = ZRValueReader::NeedMore;
    const std::size_t step = pieceSize ? pieceSize : text.size() + 1;
    for (std::size_t at = 0; at < text.size() && result == ZRValueReader::NeedMore; at += step)
        result = reader.feed(text.data() + at, std::min(step, text.size() - at), false);
    if (text.empty())
        result = reader.feed(text.data(), 0, false);
    return {result, reader.position()};
}

TEST(ElementEnd, FindsTheEndOfTheFirstElement)
{
    const std::string item = "<item xsi:type=\"xsd:int\">5</item>";
    const Case cases[] = {
        {item + "</zrbroker:callVexelResponse>", ZRValueReader::Complete, item.size()},
        {"  \n" + item + "<next/>", ZRValueReader::Complete, 3 + item.size()},
        {"<zrbroker:p/></zrbroker:callVexel>", ZRValueReader::Complete, 13},
        {"<a><b/><c x='1'/></a>tail", ZRValueReader::Complete, 21},
        {"<!-- <a> --><?pi <b> ?><a>x</a>", ZRValueReader::Complete, 31},
        {"<!DOCTYPE a><a>x</a>", ZRValueReader::Complete, 20},
        // Markup characters inside attribute values, comments and CDATA.
        {"<a t=\"/>\" u='/a>'>x</a>", ZRValueReader::Complete, 23},
        {"<a><!-- </a> --->x</a>", ZRValueReader::Complete, 22},
        {"<a><![CDATA[</a>]]]></a>", ZRValueReader::Complete, 24},
        {"<a><?pi </a> ?></a>", ZRValueReader::Complete, 19},
        {"<a b=\"/\"/>", ZRValueReader::Complete, 10},
        {"</zrbroker:callVexelResponse>", ZRValueReader::NoElement, 0},
        {" <!--c--> </r><a/>", ZRValueReader::NoElement, 10},
        {"<a><b>text", ZRValueReader::NeedMore, 0},
        {"<a t=\"></a>", ZRValueReader::NeedMore, 0},
        {"<a><!-- </a> -", ZRValueReader::NeedMore, 0},
        {"", ZRValueReader::NeedMore, 0},
    };
    for (const Case& c : cases) {
        for (std::size_t pieceSize : {0, 1, 2, 3, 5}) {
            SCOPED_TRACE(c.text + " in pieces of " + std::to_string(pieceSize));
            const auto found = scanned(c.text, pieceSize);
            EXPECT_EQ(found.first, c.result);
            if (c.result != ZRValueReader::NeedMore) {
                EXPECT_EQ(found.second, c.position);
            }
        }
    }
}

TEST(ElementEnd, DepthLimit)
{
    auto nested = [](int depth) {
        std::string open;
        for (int i = 0; i < depth; ++i)
            open += "<a>";
        return open;
    };
    std::string atLimit = nested(ZR::kMaxValueNesting - 1) + "<b/>";
    for (int i = 0; i < ZR::kMaxValueNesting - 1; ++i)
        atLimit += "</a>";
    EXPECT_EQ(scanned(atLimit, 0).first, ZRValueReader::Complete);
    const std::string tooDeep = "\tZRValue::readValueXml\n\tthe value is nested deeper than 1000 elements";
    EXPECT_THROW_MSG(scanned(nested(ZR::kMaxValueNesting) + "<b/>", 1), ZR::ZRError, tooDeep);
    EXPECT_THROW_MSG(scanned(nested(1000000), 4096), ZR::ZRError, tooDeep);
}

TEST(ElementEnd, ResultIsFinal)
{
    ZR::ZRValue value;
    ZRValueReader reader(value);
    const std::string text = "<a/></x>";
    EXPECT_EQ(reader.feed(text.data(), 4, false), ZRValueReader::Complete);
    EXPECT_EQ(reader.feed(text.data() + 4, 4, false), ZRValueReader::Complete);
    EXPECT_EQ(reader.position(), 4u);
}

}  // namespace
