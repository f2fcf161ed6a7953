// SPDX-License-Identifier: GPL-2.0-or-later
// The ZRValue XML reader on literal XML: the accepted forms, what it refuses
// (strictly, and at least as strictly as TinyXML), the fault text and the
// assertion texts, float texts, nesting, and round trips through the writer.
#include "codecxml.h"

namespace {

// ---- Reader -------------------------------------------------------------

TEST(CodecReader, AcceptedForms)
{
    const float infinity = std::numeric_limits<float>::infinity();
    const std::pair<std::string, ZRValue> cases[] = {
        {"<zrbroker:return><item xsi:type=\"xsd:int\">5</item></zrbroker:return>", ZRValue(5)},
        {"<zrbroker:return xsi:type=\"xsd:int\">5</zrbroker:return>", ZRValue(5)},
        {"<zrbroker:return></zrbroker:return>", ZRValue()},
        {"<result><item xsi:type=\"xsd:int\">5</item></result>", ZRValue()},
        // A wrapper is taken off once only.
        {"<p><r><item xsi:type=\"xsd:int\">1</item></r></p>", ZRValue()},
        {item("xsd:boolean", "FALSE"), ZRValue(false)},
        {item("xsd:boolean", "0"), ZRValue(false)},
        {item("xsd:boolean", ""), ZRValue(false)},
        {item("xsd:boolean", " True "), ZRValue(true)},
        {item("xsd:boolean", "1"), ZRValue(true)},
        {item("xsd:int", " -12 "), ZRValue(-12)},
        {item("xsd:int", "+2147483647"), ZRValue(INT_MAX)},
        {item("xsd:int", "-2147483648"), ZRValue(INT_MIN)},
        {item("xsd:int", ""), ZRValue(0)},
        {item("xsd:int", "&#32;&#10;"), ZRValue(0)},
        {item("xsd:double", "1.5"), ZRValue(1.5f)},
        {item("xsd:double", "\t2.5e0\n"), ZRValue(2.5f)},
        {item("xsd:double", ""), ZRValue(0.0f)},
        {item("xsd:float", "-0"), ZRValue(-0.0f)},
        // Non-finite values in every spelling peers use; beyond float range
        // the narrowing decides.
        {item("xsd:float", "INF"), ZRValue(infinity)},
        {item("xsd:float", "-inf"), ZRValue(-infinity)},
        {item("xsd:float", "Infinity"), ZRValue(infinity)},
        {item("xsd:float", "-INFINITY"), ZRValue(-infinity)},
        {item("xsd:float", "NaN"), ZRValue(std::numeric_limits<float>::quiet_NaN())},
        {item("xsd:float", "nan"), ZRValue(std::numeric_limits<float>::quiet_NaN())},
        {item("xsd:double", "1e39"), ZRValue(infinity)},
        {item("xsd:double", "-1e400"), ZRValue(-infinity)},
        {item("xsd:double", "1e-50"), ZRValue(0.0f)},
        {item("xsd:double", "-1e-400"), ZRValue(-0.0f)},
        {item("xsd:long", "5"), ZRValue()},
        // Text comes back as sent: white space, NUL bytes, any character.
        {item("xsd:string", "a&#32;&#32;b"), ZRValue("a  b")},
        {item("xsd:string", "a  b"), ZRValue("a  b")},
        {item("xsd:string", " a "), ZRValue(" a ")},
        {item("xsd:string", "&#32;"), ZRValue(" ")},
        {item("xsd:string", "   "), ZRValue("   ")},
        {item("xsd:string", "\t"), ZRValue("\t")},
        {item("xsd:string", "a&#0;b"), ZRValue(TZRValueString("a\0b", 3))},
        {item("xsd:string", "&#195;&#169;"), ZRValue("\xC3\xA9")},
        {item("xsd:string", "&#8364;&#x20AC;&#x1F600;"), ZRValue("\xE2\x82\xAC\xE2\x82\xAC\xF0\x9F\x98\x80")},
        {item("xsd:string", "<![CDATA[<&>]]>"), ZRValue("<&>")},
        {item("xsd:string", ""), ZRValue("")},
        {item("xsd:base64Binary", "MQ=="), binaryOf("1")},
        {item("xsd:base64Binary", "YWJj\nZGVm\r\nZ2hp"), binaryOf("abcdefghi")},
        {item("xsd:base64Object", "YWJj"), objectFromBase64("YWJj")},
        {item("xsd:base64Object", ""), objectFromBase64("")},
        {"<item xsi:type=\"SOAP-ENC:Array\" SOAP-ENC:arrayType=\"xsd:int[2]\"><a>1</a><b>2</b></item>",
         arrayOf({ZRValue(1), ZRValue(2)})},
        {"<item xsi:type=\"Array\" n2:arrayType=\"xsd:string[1]\"><a>x</a>"
         "<b xsi:type=\"xsd:int\">7</b></item>",
         arrayOf({ZRValue("x"), ZRValue(7)})},
        {"<item xsi:type=\"Array\"><x></x></item>", arrayOf({arrayOf({})})},
        // Comments and processing instructions are no elements, nor part of
        // a text: a text is its element's whole character data.
        {"<item xsi:type=\"Array\"><!--c--><item xsi:type=\"xsd:int\">1</item></item>",
         arrayOf({ZRValue(1)})},
        {"<item xsi:type=\"Array\"><!--a--><?p?><item xsi:type=\"xsd:int\">1</item><!--b--> <?q?></item>",
         arrayOf({ZRValue(1)})},
        {item("xsd:string", "ab<!--c-->cd"), ZRValue("abcd")},
        {item("xsd:string", "<?p?>ab<![CDATA[<x>]]>c&amp;d<!---->e"), ZRValue("ab<x>c&de")},
        {item("xsd:string", " <!--c--> "), ZRValue("  ")},
        {item("xsd:int", "1<!--c-->2"), ZRValue(12)},
        {"<zrbroker:return>\n <!--c--><item xsi:type=\"xsd:int\">5</item>\n</zrbroker:return>", ZRValue(5)},
        // Laid-out markup: white space between elements is not content.
        {"<item xsi:type='Array'>\n  <item xsi:type = \"xsd:int\" >1</item >\n</item>",
         arrayOf({ZRValue(1)})},
        {"<item xmlns=\"urn:KORVANTIS.BROKER.ARRAY\"><item xsi:type=\"xsd:int\">3</item></item>",
         arrayOf({ZRValue(3)})},
        {"<item xmlns=\"urn:other\"><item xsi:type=\"xsd:int\">3</item></item>", ZRValue()},
        // An arrayType without "[" names the element type and gives no count.
        {"<item xsi:type=\"Array\" SOAP-ENC:arrayType=\"xsd:int\"><a>4</a></item>", arrayOf({ZRValue(4)})},
        // A peer's count only sizes the first allocation.
        {"<item xsi:type=\"Array\" SOAP-ENC:arrayType=\"xsd:int[2000000000]\"><a>4</a></item>",
         arrayOf({ZRValue(4)})},
        {"<item xsi:type=\"Array\" SOAP-ENC:arrayType=\"xsd:int[-5]\"><a>4</a></item>",
         arrayOf({ZRValue(4)})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        EXPECT_EQ(ZRTest::fingerprint(decoded(c.first)), ZRTest::fingerprint(c.second));
    }
}

// Text that cannot be decoded as sent fails with what and where, as a
// reply that cannot be trusted.
TEST(CodecReader, RefusesWhatItCannotDecodeFaithfully)
{
    const std::string notWellFormed = "\tZRValue::readValueXml\n\tthe value is not well-formed XML: ";
    const std::pair<std::string, std::string> cases[] = {
        {"<item xsi:type=\"Array\">\n<item xsi:type=\"xsd:int\">1</itemx></item>",
         notWellFormed + "the end tag '</itemx>' does not close '<item>' at line 2, column 27"},
        {item("xsd:string", "a&bogus;b"),
         notWellFormed + "undefined entity reference '&bogus;' at line 1, column 30"},
        {"<item xsi:type=\"xsd:int\" xsi:type=\"xsd:int\">1</item>",
         notWellFormed + "the attribute 'xsi:type' is duplicated at line 1, column 26"},
        {item("xsd:base64Binary", "!!!not*base64###"),
         "\tZRValue::readValueXml\n\tthe Binary text is not base64 at line 1, column 1"},
        {item("xsd:double", "2.5abc"),
         "\tZRValue::readValueXml\n\tthe Float text '2.5abc' is not a number at line 1, column 1"},
        {item("xsd:int", "99999999999"),
         "\tZRValue::readValueXml\n\tthe Int text '99999999999' is not a 32-bit integer at line 1, column 1"},
        {item("xsd:boolean", "yes"),
         "\tZRValue::readValueXml\n\tthe Bool text 'yes' is not true, false, 1 or 0 at line 1, column 1"},
        // What a value cannot hold is not dropped quietly.
        {"<item xsi:type=\"Array\"><item xsi:type=\"xsd:int\">1</item>tail<!--c--></item>",
         "\tZRValue::readValueXml\n\tthe text 'tail' stands between the elements of '<item>' at line 1, "
         "column 57"},
        {"<item xsi:type=\"Array\"><x>1</x></item>",
         "\tZRValue::readValueXml\n\tthe text '1' stands between the elements of '<x>' at line 1, column 27"},
        {"<zrbroker:return><item xsi:type=\"xsd:int\">1</item><item xsi:type=\"xsd:int\">2</item>"
         "</zrbroker:return>",
         "\tZRValue::readValueXml\n\ta second value follows the value of '<zrbroker:return>' at line 1, "
         "column 51"},
        {"<zrbroker:return>x<item xsi:type=\"xsd:int\">1</item></zrbroker:return>",
         "\tZRValue::readValueXml\n\tthe text 'x' stands beside the value of '<zrbroker:return>' at line 1, "
         "column 19"},
        {"<zrbroker:return><item xsi:type=\"xsd:int\">1</item>x</zrbroker:return>",
         "\tZRValue::readValueXml\n\tthe text 'x' stands beside the value of '<zrbroker:return>' at line 1, "
         "column 51"},
        {item("xsd:string", "a<b>c</b>d"),
         "\tZRValue::readValueXml\n\tthe element '<b>' stands inside the value of '<item>' at line 1, column "
         "30"},
    };
    for (const auto& c : cases) {
        std::string text;
        EXPECT_EQ(failureOf(c.first, text), ZR::ZRErrorKind::BadReply) << c.first;
        EXPECT_EQ(text, c.second);
    }

    const std::string refused[] = {
        item("xsd:base64Object", "YWJ"),
        item("xsd:base64Binary", "YQ==YQ=="),
        item("xsd:base64Binary", "Y==="),
        item("xsd:base64Binary", "&#0;"),
        item("xsd:double", "abc"),
        item("xsd:double", "1e"),
        item("xsd:double", "--1"),
        item("xsd:double", "0x10"),
        item("xsd:double", "1,5"),
        item("xsd:double", "nan(1)"),
        item("xsd:int", "2147483648"),
        item("xsd:int", "-2147483649"),
        item("xsd:int", "12x"),
        item("xsd:int", "1.5"),
        item("xsd:boolean", "no"),
        item("xsd:boolean", "abc"),
        item("xsd:string", "&#;"),
        item("xsd:string", "x&"),
        item("xsd:string", "&#1114112;"),
        item("xsd:string", "&#xD800;"),
        item("xsd:string", "&#X41;"),
        "<item",
        "<item xsi:type=\"xsd:int\">1",
        "<a><b></a>",
        "<a b=1/>",
        "<a b/>",
        "<a b=\"1\"c=\"2\"/>",
        "<a b=\"<\"/>",
        "<a><!-- </a>",
        "<a><![CDATA[x</a>",
        "<a><!DOCTYPE a></a>",
        "<a/><b/>",
        "</a>",
        "",
        "<1a/>",
        std::string("<a>\0</a>", 8),
    };
    for (const std::string& xml : refused) {
        std::string text;
        EXPECT_EQ(failureOf(xml, text), ZR::ZRErrorKind::BadReply) << xml;
    }
}

// Whatever TinyXML finds not well-formed, the reader refuses too: writer
// output with pieces of other markup dropped in.
TEST(CodecReader, RefusesWhateverTinyXmlRefuses)
{
    const char* const pieces[] = {
        "<item xsi:type=\"Array\">",
        "</item>",
        "<item xsi:type=\"xsd:float\">",
        "<item xsi:type=\"xsd:int\">",
        "<item xsi:type=\"xsd:string\">",
        "<item/>",
        "<a>",
        "</a>",
        "<Fault>",
        "</Fault>",
        "1",
        "-2.5e3",
        "abc",
        "&#32;",
        "&#0;",
        "&amp;",
        "&#x41;",
        "&bad;",
        " ",
        "\n",
        "<!--c-->",
        "<![CDATA[x]]>",
        "\"",
        "=",
        "/>",
        ">",
        "<",
        "</",
        "<b x=\"1\"/>",
        "<b x=\"1\" x=\"2\"/>",
        "&#9;",
        "\xC3\xA9",
        "'",
        "<?pi x?>",
        "<!D>",
    };
    std::mt19937 random(7);
    int refusedByTinyXml = 0;
    for (int round = 0; round < 30000; ++round) {
        ZRValue value = arrayOf({ZRValue(static_cast<int>(random() % 100)), ZRValue("t u"),
                                 arrayOf({ZRValue(1.5f), ZRValue(true)})});
        std::string xml = "<zrbroker:return>" + written(value, false) + "</zrbroker:return>";
        for (int insertions = 1 + random() % 2; insertions > 0; --insertions)
            xml.insert(random() % (xml.size() + 1), pieces[random() % (sizeof pieces / sizeof *pieces)]);
        TiXmlDocument document;
        document.Parse(xml.c_str(), nullptr, TIXML_ENCODING_UNKNOWN);
        if (!document.Error() && document.FirstChildElement())
            continue;
        ++refusedByTinyXml;
        std::string text;
        if (failureOf(xml, text) != ZR::ZRErrorKind::BadReply) {
            ADD_FAILURE() << "accepted what TinyXML refuses (" << document.ErrorDesc() << "): " << xml;
            break;
        }
    }
    // The comparison means something only if many mutants were refused.
    EXPECT_GT(refusedByTinyXml, 2000);
}

TEST(CodecReader, FaultText)
{
    std::string text;
    EXPECT_EQ(
        failureOf("<SOAP-ENV:Fault><faultcode>SOAP-ENV:Server</faultcode><faultstring>boom</faultstring>"
                  "</SOAP-ENV:Fault>",
                  text),
        ZR::ZRErrorKind::RemoteFault);
    EXPECT_EQ(text, compatibility::faultText(
                        "Fault: 'SOAP-ENV:Fault': faultcode: SOAP-ENV:Server, faultstring: boom, "));
    // Inside a wrapper; a child without text; the run ends at the text node.
    EXPECT_THROW_MSG(decoded("<zrbroker:return><myFault><a/><b>2</b>x<c>3</c></myFault></zrbroker:return>"),
                     ZRError, compatibility::faultText("Fault: 'myFault': a: b: 2, "));
}

TEST(CodecReader, AssertionFailures)
{
    // The call fails: nothing is printed.
    testing::internal::CaptureStdout();
    EXPECT_THROW_MSG(
        decoded(item("xsd:base64Binary", "")), ZRError,
        compatibility::assertText(compatibility::kCodecSource, compatibility::kBinaryWithoutTextLine));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

    const std::string longName(512, 't');
    const std::string assert337 =
        compatibility::assertText(compatibility::kCodecSource, compatibility::kArrayTypeNameTooLongLine);
    EXPECT_THROW_MSG(decoded("<i xsi:type=\"Array\" SOAP-ENC:arrayType=\"" + longName + "[1]\"/>"), ZRError,
                     assert337);
    // Without "[" the scan ends with the attribute value, and the limit holds.
    EXPECT_THROW_MSG(
        decoded("<i xsi:type=\"Array\" SOAP-ENC:arrayType=\"" + std::string(100000, 't') + "\"/>"), ZRError,
        assert337);
    EXPECT_NO_THROW(decoded("<i xsi:type=\"Array\" SOAP-ENC:arrayType=\"" + longName.substr(1) + "[1]\"/>"));
}

// A float text is a number as a whole or refused; the value is what strtof
// gives in the C locale. Under any process locale.
TEST(CodecReader, FloatTextsAreNumbersAsAWhole)
{
    std::vector<std::string> texts = {
        "1",
        "-0",
        "+.5",
        "00.50",
        "0",
        "000",
        ".",
        "-",
        "+",
        "e5",
        "1e",
        "1e+",
        "1e-3",
        "1E3",
        "1.5e3.2",
        "1..2",
        "1e39",
        "-1e39",
        "3.4028235e38",
        "3.4028236e38",
        "1e-46",
        "1.4e-45",
        "-1.17549435e-38",
        "123456789012345678901234567890",
        std::string(70, '1'),
        std::string(70, '0') + "1",
        "12abc",
        "--1",
        "1-2",
        "1e5e5",
        "1,5",
        " 7 ",
    };
    std::mt19937 random(11);
    const char alphabet[] = "0123456789+-.eE";
    for (int i = 0; i < 20000; ++i) {
        std::string text;
        for (int length = 1 + random() % 14; length > 0; --length)
            text += alphabet[random() % (sizeof alphabet - 1)];
        texts.push_back(text);
    }
    // strtof's answers in the C locale, taken before the locale changes.
    struct Expected {
        bool whole;
        float value;
    };
    std::vector<Expected> expectations;
    for (const std::string& text : texts) {
        char* end = nullptr;
        const float value = std::strtof(text.c_str(), &end);
        const std::size_t last = text.find_last_not_of(' ');
        expectations.push_back({end != text.c_str() && std::size_t(end - text.c_str()) == last + 1, value});
    }
    auto check = [&](std::size_t index) {
        const std::string& text = texts[index];
        const bool whole = expectations[index].whole;
        const float expected = expectations[index].value;
        std::string failure;
        const ZR::ZRErrorKind kind = failureOf(item("xsd:float", text), failure);
        if (!whole) {
            EXPECT_EQ(kind, ZR::ZRErrorKind::BadReply) << text;
            return;
        }
        EXPECT_EQ(kind, ZR::ZRErrorKind::Unspecified) << text << ": " << failure;
        if (kind == ZR::ZRErrorKind::Unspecified) {
            EXPECT_EQ(bitsOf(static_cast<float>(decoded(item("xsd:float", text)))), bitsOf(expected)) << text;
        }
    };
    for (std::size_t i = 0; i < texts.size(); ++i)
        check(i);

    // A process locale with a decimal comma changes nothing in either
    // direction. ctest makes such a locale and points LOCPATH at it.
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) {
        if (!std::getenv("LOCPATH"))
            GTEST_SKIP() << "no de_DE.UTF-8 locale (ctest provides one)";
        FAIL() << "LOCPATH holds no de_DE.UTF-8 locale";
    }
    struct DecimalComma : std::numpunct<char> {
        char do_decimal_point() const override { return ','; }
    };
    const std::locale previousGlobal =
        std::locale::global(std::locale(std::locale::classic(), new DecimalComma));
    EXPECT_EQ(written(ZRValue(0.5f), false), item("xsd:float", "0.5"));
    EXPECT_EQ(written(ZRValue(-1.25e-7f), false), item("xsd:float", "-1.25e-07"));
    EXPECT_EQ(static_cast<float>(decoded(item("xsd:float", "2.5"))), 2.5f);
    std::string failure;
    EXPECT_EQ(failureOf(item("xsd:float", "1,5"), failure), ZR::ZRErrorKind::BadReply);
    for (std::size_t i = 0; i < 2000; ++i)
        check(i);
    std::locale::global(previousGlobal);
    std::setlocale(LC_ALL, previous.c_str());
}

TEST(CodecReader, NestingLimit)
{
    auto nested = [](int depth) {
        std::string xml;
        for (int i = 0; i < depth; ++i)
            xml += "<item xsi:type=\"Array\">";
        for (int i = 0; i < depth; ++i)
            xml += "</item>";
        return xml;
    };
    EXPECT_EQ(decoded(nested(ZR::kMaxValueNesting)).valueType(), ZRValue::Array);
    EXPECT_THROW_MSG(decoded(nested(ZR::kMaxValueNesting + 1)), ZRError,
                     "\tZRValue::readValueXml\n\tthe value is nested deeper than 1000 elements");
}

ZRValue randomValue(std::mt19937& random, int depth)
{
    switch (random() % (depth > 3 ? 6 : 8)) {
    case 0: return ZRValue();
    case 1: return ZRValue(random() % 2 == 0);
    case 2: return ZRValue(static_cast<int>(random()));
    case 3: return ZRValue(floatFromBits(random()));
    case 4:
    case 5: {
        // Every byte, white space and NUL included.
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

// Whatever the writer writes reads back exactly, Binary bytes aside (they
// travel as attachments, the XML holds the placeholder).
TEST(CodecReader, RoundTrips)
{
    TZRValueString everyByte;
    for (int byte = 0; byte < 256; ++byte)
        everyByte += static_cast<char>(byte);
    ZRValue everyKind = arrayOf(
        {ZRValue(), ZRValue(true), ZRValue(false), ZRValue(INT_MIN), ZRValue(-1.5e-30f),
         ZRValue(floatFromBits(0x41230db4)), ZRValue(everyByte), ZRValue(" lead trail "), ZRValue(" \t\n"),
         ZRValue(TZRValueString("a\0b", 3)), ZRValue(""), ZRValue(std::numeric_limits<float>::infinity()),
         ZRValue(-std::numeric_limits<float>::infinity()), ZRValue(std::numeric_limits<float>::quiet_NaN()),
         ZRValue(-0.0f), objectFromBase64("AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4v"),
         arrayOf({}), arrayOf({arrayOf({ZRValue(3)}), ZRValue("x")})});
    std::vector<ZRValue> cases = {everyKind, ZRValue(7), ZRValue("plain"), ZRValue(), arrayOf({})};
    std::mt19937 random(20240611);
    for (int round = 0; round < 3000; ++round)
        cases.push_back(randomValue(random, 0));
    for (const ZRValue& value : cases) {
        const std::string xml = "<zrbroker:return>" + written(value, false) + "</zrbroker:return>";
        ASSERT_EQ(ZRTest::fingerprint(decoded(xml)), ZRTest::fingerprint(value)) << xml;
    }
    const ZRValue binary = decoded("<r>" + written(arrayOf({binaryOf("abc")}), false) + "</r>");
    EXPECT_EQ(ZRTest::fingerprint(binary), ZRTest::fingerprint(arrayOf({binaryOf("1")})));
}

}  // namespace
