// ZRPlainXml and the decoding over it: the markup it takes (everything the
// writer produces), the markup it leaves to TinyXML, and that whatever it
// takes decodes to exactly what decoding TinyXML's document of the same text
// gives, down to float bits and exception texts.
#include <gtest/gtest.h>

#include <tinyxml.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "valuebuilders.h"
#include "zrplainxml.h"
#include "zrvaluesoap.h"

using ZR::TZRValueString;
using ZR::ZRPlainXml;
using ZR::ZRValue;
using ZRTest::arrayOf;

namespace {

const int kMaxDepth = ZR::kMaxValueNesting + 1;

// Everything decoding decides: kinds, float bits, bytes.
std::string fingerprint(const ZRValue& value)
{
    char text[16];
    switch (value.valueType()) {
    case ZRValue::Invalid:
        return "I";
    case ZRValue::Bool:
        return static_cast<bool>(value) ? "T" : "F";
    case ZRValue::Int:
        return "i" + std::to_string(static_cast<int>(value));
    case ZRValue::Float: {
        const float number = static_cast<float>(value);
        std::uint32_t bits;
        std::memcpy(&bits, &number, sizeof bits);
        std::snprintf(text, sizeof text, "f%08x", bits);
        return text;
    }
    case ZRValue::Array: {
        std::string out = "[";
        for (int i = 0; i < value.size(); ++i)
            out += fingerprint(value[i]) + ",";
        return out + "]";
    }
    case ZRValue::String: {
        ZRValue copy(value);
        return "s:" + static_cast<const TZRValueString&>(copy);
    }
    case ZRValue::Binary:
    case ZRValue::Object: {
        std::string out = value.valueType() == ZRValue::Binary ? "b:" : "o:";
        if (value.size() > 0)
            out.append(reinterpret_cast<const char*>(value.byteData()), std::size_t(value.size()));
        return out;
    }
    }
    return "?";
}

std::string viaTinyXml(const std::string& xml)
{
    TiXmlDocument document;
    document.Parse(xml.c_str(), nullptr, TIXML_ENCODING_UNKNOWN);
    TiXmlElement* root = document.FirstChildElement();
    if (!root)
        return "no element";
    ZRValue out;
    try {
        ZR::readValueXml(document, root, out, ZRValue::Invalid);
    } catch (const std::exception& error) {
        return std::string("threw ") + error.what() + " after " + fingerprint(out);
    }
    return fingerprint(out);
}

// "refused", or the decoding as viaTinyXml reports it.
std::string viaPlainXml(const std::string& xml)
{
    ZRPlainXml plain;
    if (!plain.parse(xml.data(), xml.size(), kMaxDepth))
        return "refused";
    ZRValue out;
    try {
        ZR::readValueXml(plain, plain.root(), out, ZRValue::Invalid);
    } catch (const std::exception& error) {
        return std::string("threw ") + error.what() + " after " + fingerprint(out);
    }
    return fingerprint(out);
}

std::string item(const std::string& type, const std::string& text)
{
    return "<item xsi:type=\"" + type + "\">" + text + "</item>";
}

std::string wrapped(const ZRValue& value)
{
    std::string xml = "<zrbroker:return>";
    ZR::writeValueXml(value, xml, false);
    return xml + "</zrbroker:return>";
}

ZRValue randomValue(std::mt19937& random, int depth)
{
    switch (random() % (depth > 3 ? 6 : 8)) {
    case 0:
        return ZRValue();
    case 1:
        return ZRValue(random() % 2 == 0);
    case 2:
        return ZRValue(static_cast<int>(random()));
    case 3: {
        const std::uint32_t bits = random();
        float number;
        std::memcpy(&number, &bits, sizeof number);
        return ZRValue(number == number ? number : 0.5f);
    }
    case 4:
    case 5: {
        TZRValueString text;
        for (int length = random() % 6; length > 0; --length)
            text += static_cast<char>(random() % 256);
        return ZRValue(text);
    }
    default: {
        ZRValue array;
        array.resizeArray(static_cast<int>(random() % 4));
        for (int i = 0; i < array.size(); ++i)
            array[i] = randomValue(random, depth + 1);
        return array;
    }
    }
}

}  // namespace

TEST(PlainXml, TakesWhatTheWriterWrites)
{
    std::mt19937 random(20240611);
    for (int round = 0; round < 3000; ++round) {
        const std::string xml = wrapped(randomValue(random, 0));
        const std::string plain = viaPlainXml(xml);
        ASSERT_NE(plain, "refused") << xml;
        ASSERT_EQ(plain, viaTinyXml(xml)) << xml;
    }
}

TEST(PlainXml, ElementsAttributesAndTexts)
{
    const std::string xml = "<r a=\"1\" b:c=\"x&gt;y\"><s>t&#32;u</s><e/><f z=\"\"></f></r>";
    // A reference in an attribute value is not plain; without it the tree is
    // as written.
    ZRPlainXml plain;
    EXPECT_FALSE(plain.parse(xml.data(), xml.size(), kMaxDepth));
    const std::string simple = "<r a=\"1\" b:c=\"xy\"><s>t&#32;u</s><e/><f z=\"\"></f></r>";
    ASSERT_TRUE(plain.parse(simple.data(), simple.size(), kMaxDepth));
    const ZRPlainXml::Element& root = plain.root();
    EXPECT_STREQ(root.name, "r");
    EXPECT_EQ(root.text, nullptr);
    EXPECT_STREQ(plain.attribute(root, "a"), "1");
    EXPECT_STREQ(plain.attribute(root, "b:c"), "xy");
    EXPECT_EQ(plain.attribute(root, "b"), nullptr);
    const ZRPlainXml::Element* s = plain.firstChild(root);
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s->name, "s");
    EXPECT_STREQ(s->text, "t u");
    const ZRPlainXml::Element* e = plain.nextSibling(*s);
    ASSERT_NE(e, nullptr);
    EXPECT_STREQ(e->name, "e");
    EXPECT_EQ(e->text, nullptr);
    EXPECT_EQ(plain.firstChild(*e), nullptr);
    const ZRPlainXml::Element* f = plain.nextSibling(*e);
    ASSERT_NE(f, nullptr);
    EXPECT_STREQ(plain.attribute(*f, "z"), "");
    EXPECT_EQ(plain.nextSibling(*f), nullptr);
}

TEST(PlainXml, LeavesOtherMarkupToTinyXml)
{
    std::string deep;
    for (int i = 0; i <= kMaxDepth; ++i)
        deep += "<a>";
    for (int i = 0; i <= kMaxDepth; ++i)
        deep += "</a>";
    const std::string cases[] = {
        "",
        " <a/>",
        "<a/> ",
        "<a/><b/>",
        "<a/>x",
        "<a> <b/></a>",
        "<a><b/> </a>",
        "<a >x</a>",
        "<a>x</a >",
        "<a>x y</a>",
        "<a>x\ty</a>",
        "<a>x\ny</a>",
        "<a><!--c--></a>",
        "<a><![CDATA[x]]></a>",
        "<?xml version=\"1.0\"?><a/>",
        "<a><?pi x?></a>",
        "<!DOCTYPE a><a/>",
        "<a>&#x41;</a>",
        "<a>&#X41;</a>",
        "<a>&foo;</a>",
        "<a>&amp</a>",
        "<a>&#;</a>",
        "<a>&#12</a>",
        "<a>&#1234567890;</a>",
        "<a>x&</a>",
        "<a b='1'/>",
        "<a b=1/>",
        "<a b/>",
        "<a b = \"1\"/>",
        "<a b=\"1\"c=\"2\"/>",
        "<a  b=\"1\"/>",
        "<a b=\"1\" b=\"2\"/>",
        "<a b=\"x y\"/>",
        "<a b=\"&amp;\"/>",
        "<a b=\"<\"/>",
        "<a></b>",
        "<a></ab>",
        "<ab></a>",
        "<a>x<b/></a>",
        "<a><b/>x</a>",
        "<a><b></a>",
        "<a>",
        "<a>x",
        "<a b=\"1\"",
        "<a/",
        "<1a/>",
        "<-a/>",
        "<\xC3\xA9/>",
        "<a\xC3\xA9/>",
        std::string("<a>\0</a>", 8),
        std::string("<a b=\"\0\"/>", 10),
        "</a>",
        deep,
    };
    for (const std::string& xml : cases) {
        ZRPlainXml plain;
        EXPECT_FALSE(plain.parse(xml.data(), xml.size(), kMaxDepth)) << xml;
    }
}

// Texts at the edges of what TinyXML does with references and blanks.
TEST(PlainXml, ReadsTextsAsTinyXmlDoes)
{
    const std::string cases[] = {
        item("xsd:string", "&#32;"),
        item("xsd:string", "&#32;&#9;&#10;&#13;"),
        item("xsd:string", "&#32;a&#32;"),
        item("xsd:string", "a&#0;b"),
        item("xsd:string", "&#0;"),
        item("xsd:string", "&#300;&#65;&#000000065;"),
        item("xsd:string", "&amp;&lt;&gt;&quot;&apos;"),
        item("xsd:string", "\xC3\xA9&#195;&#169;\x7F"),
        item("xsd:string", ""),
        "<item xsi:type=\"xsd:string\"/>",
        item("xsd:int", "&#45;12x"),
        item("xsd:boolean", "FALSE"),
        item("xsd:double", "2.5abc"),
        item("xsd:base64Binary", "YWJj"),
        item("xsd:base64Binary", "&#32;"),
        item("xsd:base64Object", "YWJj"),
        item("xsd:long", "5"),
        "<zrbroker:return></zrbroker:return>",
        "<zrbroker:return>x</zrbroker:return>",
        "<p><r><item xsi:type=\"xsd:int\">1</item></r></p>",
        "<item xsi:type=\"Array\">&#32;</item>",
        "<item xsi:type=\"Array\">x</item>",
        "<item xsi:type=\"Array\"><item/><x>1</x><item xsi:type=\"xsd:int\">2</item></item>",
        "<item xsi:type=\"SOAP-ENC:Array\" SOAP-ENC:arrayType=\"xsd:int[2]\"><a>1</a><b>2</b></item>",
        "<item xsi:type=\"Array\" n2:arrayType=\"xsd:string\"><a>x</a><b xsi:type=\"xsd:int\">7</b></item>",
        "<item xmlns=\"urn:KORVANTIS.BROKER.ARRAY\"><item xsi:type=\"xsd:int\">3</item></item>",
        "<item xsi:type=\"Array\" SOAP-ENC:arrayType=\"" + std::string(600, 't') + "[1]\"/>",
        "<SOAP-ENV:Fault><faultcode>SOAP-ENV:Server</faultcode><faultstring>b&#32;m</faultstring></SOAP-ENV:Fault>",
        "<zrbroker:return><myFault><a/><b>2</b><c>3</c></myFault></zrbroker:return>",
        "<item xsi:type=\"Array\"><item xsi:type=\"xsd:int\">1</item><Fault/></item>",
    };
    // A Binary without text is reported on stdout before the exception.
    testing::internal::CaptureStdout();
    for (const std::string& xml : cases) {
        const std::string plain = viaPlainXml(xml);
        EXPECT_NE(plain, "refused") << xml;
        EXPECT_EQ(plain, viaTinyXml(xml)) << xml;
    }
    testing::internal::GetCapturedStdout();
    // The documented losses of the wire survive the shortcut unchanged.
    EXPECT_EQ(viaPlainXml(item("xsd:string", "&#32;")), "s:");
    EXPECT_EQ(viaPlainXml(item("xsd:string", "a&#0;b")), "s:a");
    EXPECT_EQ(viaPlainXml(item("xsd:string", "&#300;")), "s:,");
}

// Writer output with pieces of other markup dropped in: wherever the plain
// reader takes the result, both readers agree.
TEST(PlainXml, AgreesWithTinyXmlWhereverItTakesTheText)
{
    const char* const pieces[] = {
        "<item xsi:type=\"Array\">", "</item>", "<item xsi:type=\"xsd:float\">", "<item xsi:type=\"xsd:int\">",
        "<item xsi:type=\"xsd:string\">", "<item/>", "<a>", "</a>", "<Fault>", "</Fault>", "1", "-2.5e3", "abc",
        "&#32;", "&#0;", "&amp;", "&#x41;", "&bad;", " ", "\n", "<!--c-->", "<![CDATA[x]]>", "\"", "=", "/>", ">",
        "<", "</", "<b x=\"1\"/>", "<b x=\"1\" x=\"2\"/>", "&#9;", "\xC3\xA9", "'",
    };
    testing::internal::CaptureStdout();
    std::mt19937 random(7);
    int taken = 0;
    for (int round = 0; round < 60000; ++round) {
        std::string xml = wrapped(randomValue(random, 0));
        for (int insertions = 1 + random() % 2; insertions > 0; --insertions)
            xml.insert(random() % (xml.size() + 1), pieces[random() % (sizeof pieces / sizeof *pieces)]);
        const std::string plain = viaPlainXml(xml);
        if (plain == "refused")
            continue;
        ++taken;
        const std::string tiny = viaTinyXml(xml);
        if (plain != tiny) {
            ADD_FAILURE() << xml << "\nplain: " << plain << "\nTinyXML: " << tiny;
            break;
        }
    }
    testing::internal::GetCapturedStdout();
    // The comparison means something only if many mutants were taken.
    EXPECT_GT(taken, 2000);
}
