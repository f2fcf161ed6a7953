// ZRElementScanner: where the first element of a text ends, whatever pieces
// the text arrives in.
#include <gtest/gtest.h>

#include <string>

#include "zrelementscanner.h"

using ZR::ZRElementScanner;

namespace {

struct Case {
    std::string text;
    ZRElementScanner::Result result;
    std::size_t position;  // for NeedMore: unused
};

// Feeds `text` in pieces of `pieceSize` bytes (0: all at once).
std::pair<ZRElementScanner::Result, std::size_t> scanned(const std::string& text, std::size_t pieceSize,
                                                          int maxDepth = 1000)
{
    ZRElementScanner scanner(maxDepth);
    ZRElementScanner::Result result = ZRElementScanner::NeedMore;
    const std::size_t step = pieceSize ? pieceSize : text.size() + 1;
    for (std::size_t at = 0; at < text.size() && result == ZRElementScanner::NeedMore; at += step)
        result = scanner.scan(text.data() + at, std::min(step, text.size() - at));
    return {result, scanner.position()};
}

TEST(ElementScanner, FindsTheEndOfTheFirstElement)
{
    const std::string item = "<item xsi:type=\"xsd:int\">5</item>";
    const Case cases[] = {
        {item + "</zrbroker:callVexelResponse>", ZRElementScanner::Complete, item.size()},
        {"  \n" + item + "<next/>", ZRElementScanner::Complete, 3 + item.size()},
        {"<zrbroker:p/></zrbroker:callVexel>", ZRElementScanner::Complete, 13},
        {"<a><b/><c x='1'/></a>tail", ZRElementScanner::Complete, 21},
        {"<!-- <a> --><?pi <b> ?><a>x</a>", ZRElementScanner::Complete, 31},
        {"<!DOCTYPE a><a>x</a>", ZRElementScanner::Complete, 20},
        // Markup characters inside attribute values, comments and CDATA.
        {"<a t=\"/>\" u='</a>'>x</a>", ZRElementScanner::Complete, 24},
        {"<a><!-- </a> --->x</a>", ZRElementScanner::Complete, 22},
        {"<a><![CDATA[</a>]]]></a>", ZRElementScanner::Complete, 24},
        {"<a><?pi </a> ?></a>", ZRElementScanner::Complete, 19},
        {"<a b=\"/\"/>", ZRElementScanner::Complete, 10},
        {"</zrbroker:callVexelResponse>", ZRElementScanner::NoElement, 0},
        {" <!--c--> </r><a/>", ZRElementScanner::NoElement, 10},
        {"<a><b>text", ZRElementScanner::NeedMore, 0},
        {"<a t=\"></a>", ZRElementScanner::NeedMore, 0},
        {"<a><!-- </a> -", ZRElementScanner::NeedMore, 0},
        {"", ZRElementScanner::NeedMore, 0},
    };
    for (const Case& c : cases) {
        for (std::size_t pieceSize : {0, 1, 2, 3, 5}) {
            SCOPED_TRACE(c.text + " in pieces of " + std::to_string(pieceSize));
            const auto found = scanned(c.text, pieceSize);
            EXPECT_EQ(found.first, c.result);
            if (c.result != ZRElementScanner::NeedMore) {
                EXPECT_EQ(found.second, c.position);
            }
        }
    }
}

TEST(ElementScanner, DepthLimit)
{
    auto nested = [](int depth) {
        std::string open;
        for (int i = 0; i < depth; ++i)
            open += "<a>";
        return open;
    };
    std::string atLimit = nested(4) + "<b/>";
    for (int i = 0; i < 4; ++i)
        atLimit += "</a>";
    EXPECT_EQ(scanned(atLimit, 0, 5).first, ZRElementScanner::Complete);
    EXPECT_EQ(scanned(nested(5) + "<b/>", 1, 5).first, ZRElementScanner::TooDeep);
    EXPECT_EQ(scanned(nested(1000000), 4096, 1000).first, ZRElementScanner::TooDeep);
}

TEST(ElementScanner, ResultIsFinal)
{
    ZRElementScanner scanner(10);
    EXPECT_EQ(scanner.scan("<a/>", 4), ZRElementScanner::Complete);
    EXPECT_EQ(scanner.scan("</x>", 4), ZRElementScanner::Complete);
    EXPECT_EQ(scanner.position(), 4u);
}

}  // namespace
