// The ZRValue XML codec without a wire: the writer's exact bytes, escaping,
// the type-name table, the reader on literal XML, the fault text, hostile
// input, round trips, and the DIME attachment lists.
#include <gtest/gtest.h>

#include <tinyxml.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <locale>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "expectthrow.h"
#include "stdsoap2.h"
#include "valuebuilders.h"
#include "zrvaluesoap.h"

using ZR::TZRValueString;
using ZR::ZRError;
using ZR::ZRValue;
using ZRTest::arrayOf;
using ZRTest::binaryOf;
using ZRTest::objectFromBase64;

namespace {

std::string written(const ZRValue& value, bool nested = true)
{
    std::string out;
    ZR::writeValueXml(value, out, nested);
    return out;
}

std::string item(const std::string& type, const std::string& text)
{
    return "<item xsi:type=\"" + type + "\">" + text + "</item>";
}

ZRValue decoded(const std::string& xml)
{
    TiXmlDocument document;
    document.Parse(xml.c_str(), nullptr, TIXML_ENCODING_UNKNOWN);
    ZRValue out;
    ZR::readValueXml(document, document.FirstChildElement(), out, ZRValue::Invalid);
    return out;
}

std::uint32_t bitsOf(float number)
{
    std::uint32_t bits;
    std::memcpy(&bits, &number, sizeof bits);
    return bits;
}

float floatFromBits(std::uint32_t bits)
{
    float number;
    std::memcpy(&number, &bits, sizeof number);
    return number;
}

ZRValue nestedArrays(int depth)
{
    ZRValue value;
    value.resizeArray(0);
    for (int level = 1; level < depth; ++level) {
        ZRValue outer;
        outer.resizeArray(1);
        outer[0] = std::move(value);
        value = std::move(outer);
    }
    return value;
}

// ---- Writer -------------------------------------------------------------

TEST(CodecWriter, ParameterExample)
{
    const ZRValue parameters = arrayOf({ZRValue(1), ZRValue("a b"), arrayOf({ZRValue(true), ZRValue(2.5f)})});
    EXPECT_EQ(written(parameters, false),
              "<item xsi:type=\"Array\"><item xsi:type=\"xsd:int\">1</item>"
              "<item xsi:type=\"xsd:string\">a&#32;b</item><item xsi:type=\"Array\">"
              "<item xsi:type=\"xsd:boolean\">true</item><item xsi:type=\"xsd:float\">2.5</item>"
              "</item></item>");
}

TEST(CodecWriter, EachKind)
{
    struct Case {
        ZRValue value;
        bool nested;
        std::string expected;
    };
    const Case cases[] = {
        {ZRValue(), false, ""},
        {ZRValue(), true, "<item xsi:nil=\"true\" xsi:type=\"nil\">nil</item>"},
        {arrayOf({}), false, "<item xsi:type=\"Array\"></item>"},
        {arrayOf({arrayOf({})}), false, "<item xsi:type=\"Array\"><item xsi:type=\"Array\"></item></item>"},
        {arrayOf({ZRValue()}), false,
         "<item xsi:type=\"Array\"><item xsi:nil=\"true\" xsi:type=\"nil\">nil</item></item>"},
        {ZRValue(true), false, item("xsd:boolean", "true")},
        {ZRValue(false), true, item("xsd:boolean", "false")},
        {ZRValue(-7), false, item("xsd:int", "-7")},
        {ZRValue(INT_MAX), false, item("xsd:int", "2147483647")},
        {ZRValue(INT_MIN), false, item("xsd:int", "-2147483648")},
        {ZRValue(0.1f), false, item("xsd:float", "0.1")},
        {ZRValue(2.5f), false, item("xsd:float", "2.5")},
        // %.8g gives 10.190845, which reads back as a neighbouring float.
        {ZRValue(floatFromBits(0x41230db4)), false, item("xsd:float", "10.1908455")},
        {ZRValue("a<b"), false, item("xsd:string", "a&lt;b")},
        {ZRValue(""), false, item("xsd:string", "")},
        {ZRValue(TZRValueString("a\0b", 3)), false, item("xsd:string", "a&#0;b")},
        {binaryOf("any bytes"), false, item("xsd:base64Binary", "MQ==")},
        {binaryOf(""), true, item("xsd:base64Binary", "MQ==")},
        {objectFromBase64("YWJj"), false, item("xsd:base64Object", "YWJj")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(written(c.value, c.nested), c.expected);
    }

    std::string base64;
    for (int group = 0; group < 18; ++group)
        base64 += "eHh4";
    ZRValue object;
    object.decodeBase64Object(base64.c_str());
    ASSERT_EQ(object.size(), 54);
    const std::string text = written(object, false);
    EXPECT_EQ(text.substr(text.size() - 8), "\n</item>");
}

TEST(CodecWriter, FloatsAreLosslessAndShortestOfEightOrNineDigits)
{
    std::mt19937 random(20240611);
    for (int i = 0; i < 200000; ++i) {
        const float number = floatFromBits(random());
        if (!std::isfinite(number))
            continue;
        const std::string text = written(ZRValue(number), false);
        const std::size_t start = text.find('>') + 1;
        const std::string digits = text.substr(start, text.size() - start - 7);
        ASSERT_EQ(bitsOf(std::strtof(digits.c_str(), nullptr)), bitsOf(number)) << digits;
        char eight[32];
        std::snprintf(eight, sizeof eight, "%.8g", static_cast<double>(number));
        if (std::strtof(eight, nullptr) == number) {
            ASSERT_EQ(digits, eight);
        }
    }
}

TEST(CodecWriter, DeepNestingDoesNotRecurse)
{
    const int depth = 200000;
    const std::string text = written(nestedArrays(depth), false);
    const std::string open = "<item xsi:type=\"Array\">";
    EXPECT_EQ(text.size(), depth * (open.size() + 7));
    EXPECT_EQ(text.compare(0, open.size(), open), 0);
}

TEST(CodecWriter, Escaping)
{
    const std::pair<TZRValueString, TZRValueString> cases[] = {
        {"a<b>c&d", "a&lt;b&gt;c&amp;d"},
        {"\"'", "&quot;&apos;"},
        {" \t\n\r", "&#32;&#9;&#10;&#13;"},
        {"\xC3\xA9", "&#195;&#169;"},
        {TZRValueString("\0z", 2), "&#0;z"},
        {"!~\x7F\x80\xFF", "!~\x7F&#128;&#255;"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ZR::escapeXmlText(c.first), c.second) << c.second;
}

// gSOAP writes a message twice, counting then sending. Within a reuse scope
// the sending pass gets the text the counting pass wrote for the same value;
// anything else is written afresh.
TEST(CodecWriter, CountedTextIsReusedForTheSameValueWithinItsScope)
{
    struct soap* soap = soap_new();
    std::string sent;
    soap->user = &sent;
    soap->fsend = [](struct soap* context, const char* data, std::size_t size) {
        static_cast<std::string*>(context->user)->append(data, size);
        return SOAP_OK;
    };
    auto count = [&](const ZRValue& value) {
        soap->mode = SOAP_IO_LENGTH;
        EXPECT_EQ(ZR::soap_out_ZRValue(soap, "p", 0, &value, nullptr), SOAP_OK);
    };
    auto send = [&](const ZRValue& value) {
        sent.clear();
        soap->mode = 0;
        EXPECT_EQ(ZR::soap_out_ZRValue(soap, "p", 0, &value, nullptr), SOAP_OK);
        return sent;
    };
    auto element = [](const ZRValue& value) { return "<p>" + written(value, false) + "</p>"; };

    ZRValue value = arrayOf({ZRValue(1), ZRValue("two")});
    const ZRValue other = arrayOf({ZRValue(3)});
    const std::string valueText = element(value);
    {
        const ZR::ZRValueTextReuse reuse(soap);
        count(value);
        EXPECT_EQ(send(other), element(other));
        count(value);
        EXPECT_EQ(send(value), valueText);
        // The counted text is what gets sent: a value changed between the
        // passes (which a message never does) shows it.
        count(value);
        value = ZRValue(9);
        EXPECT_EQ(send(value), valueText);
        // Once only.
        EXPECT_EQ(send(value), element(value));
        count(value);
    }
    // The scope's end drops what was counted in it.
    value = other;
    {
        const ZR::ZRValueTextReuse reuse(soap);
        EXPECT_EQ(send(value), element(other));
    }
    // Without a scope every pass writes.
    count(value);
    value = ZRValue(9);
    EXPECT_EQ(send(value), element(value));
    soap_destroy(soap);
    soap_end(soap);
    soap_free(soap);
}

// ---- Type names ---------------------------------------------------------

TEST(CodecTypes, SchemaNames)
{
    const std::pair<const char*, ZRValue::Type> cases[] = {
        {"xsd:string", ZRValue::String},    {"xsd:int", ZRValue::Int},
        {"xsd:double", ZRValue::Float},     {"xsd:float", ZRValue::Float},
        {"xsd:boolean", ZRValue::Bool},     {"mybool", ZRValue::Bool},
        {"xsd:boolArray", ZRValue::Bool},   {"xsd:base64Object", ZRValue::Object},
        {"xsd:base64Binary", ZRValue::Binary}, {"Array", ZRValue::Array},
        {"SOAP-ENC:Array", ZRValue::Array}, {"nil", ZRValue::Invalid},
        {"xsd:anyType", ZRValue::Invalid},  {"xsd:long", ZRValue::Invalid},
        {"xs:int", ZRValue::Invalid},       {"XSD:STRING", ZRValue::Invalid},
        {"xsd:string ", ZRValue::Invalid},  {"", ZRValue::Invalid},
        {nullptr, ZRValue::Invalid},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ZR::xsdTypeToValueType(c.first), c.second) << (c.first ? c.first : "(null)");
}

// ---- Reader -------------------------------------------------------------

TEST(CodecReader, AcceptedForms)
{
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
        {item("xsd:boolean", "no"), ZRValue(true)},
        {item("xsd:boolean", "1"), ZRValue(true)},
        {item("xsd:int", " -12x"), ZRValue(-12)},
        {item("xsd:int", ""), ZRValue(0)},
        {item("xsd:double", "1.5"), ZRValue(1.5f)},
        {item("xsd:double", "2.5abc"), ZRValue(2.5f)},
        {item("xsd:double", "abc"), ZRValue(0.0f)},
        {item("xsd:long", "5"), ZRValue()},
        {item("xsd:string", "a&#32;&#32;b"), ZRValue("a  b")},
        {item("xsd:string", "a  b"), ZRValue("a b")},
        {item("xsd:string", "&#32;"), ZRValue("")},
        {item("xsd:string", "&#195;&#169;"), ZRValue("\xC3\xA9")},
        {item("xsd:string", ""), ZRValue("")},
        {item("xsd:base64Binary", "MQ=="), binaryOf("1")},
        {item("xsd:base64Binary", "YWJj\nZGVm\nZ2hp"), binaryOf("abcdefghi")},
        {item("xsd:base64Object", "YWJj"), objectFromBase64("YWJj")},
        {"<item xsi:type=\"SOAP-ENC:Array\" SOAP-ENC:arrayType=\"xsd:int[2]\"><a>1</a><b>2</b></item>",
         arrayOf({ZRValue(1), ZRValue(2)})},
        {"<item xsi:type=\"Array\" n2:arrayType=\"xsd:string[1]\"><a>x</a>"
         "<b xsi:type=\"xsd:int\">7</b></item>",
         arrayOf({ZRValue("x"), ZRValue(7)})},
        {"<item xsi:type=\"Array\"><x>1</x></item>", arrayOf({arrayOf({})})},
        {"<item xsi:type=\"Array\"><!--c--><item xsi:type=\"xsd:int\">1</item></item>",
         arrayOf({ZRValue(), ZRValue(1)})},
        {"<item xsi:type=\"Array\"><item xsi:type=\"xsd:int\">1</item>tail<!--c--></item>",
         arrayOf({ZRValue(1)})},
        {"<item xmlns=\"urn:KORVANTIS.BROKER.ARRAY\"><item xsi:type=\"xsd:int\">3</item></item>",
         arrayOf({ZRValue(3)})},
        {"<item xmlns=\"urn:other\"><item xsi:type=\"xsd:int\">3</item></item>", ZRValue()},
        // An arrayType without "[" names the element type and gives no count.
        {"<item xsi:type=\"Array\" SOAP-ENC:arrayType=\"xsd:int\"><a>4</a></item>", arrayOf({ZRValue(4)})},
        // A peer's count only sizes the first allocation.
        {"<item xsi:type=\"Array\" SOAP-ENC:arrayType=\"xsd:int[2000000000]\"><a>4</a></item>",
         arrayOf({ZRValue(4)})},
        {"<item xsi:type=\"Array\" SOAP-ENC:arrayType=\"xsd:int[-5]\"><a>4</a></item>", arrayOf({ZRValue(4)})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        const ZRValue value = decoded(c.first);
        EXPECT_EQ(value.valueType(), c.second.valueType());
        EXPECT_TRUE(value == c.second) << value.toString(1);
    }
}

TEST(CodecReader, FaultText)
{
    EXPECT_THROW_MSG(
        decoded("<SOAP-ENV:Fault><faultcode>SOAP-ENV:Server</faultcode><faultstring>boom</faultstring>"
                "</SOAP-ENV:Fault>"),
        ZRError,
        "\tZRValue::Receving Fault response: \n\tFault: 'SOAP-ENV:Fault': faultcode: SOAP-ENV:Server, "
        "faultstring: boom, ");
    // Inside a wrapper; a child without text; the run ends at the text node.
    EXPECT_THROW_MSG(decoded("<zrbroker:return><myFault><a/><b>2</b>x<c>3</c></myFault></zrbroker:return>"),
                     ZRError, "\tZRValue::Receving Fault response: \n\tFault: 'myFault': a: b: 2, ");
}

TEST(CodecReader, AssertionFailures)
{
    testing::internal::CaptureStdout();
    EXPECT_THROW_MSG(decoded(item("xsd:base64Binary", "")), ZRError,
                     "\tZRValue::Assert failed\n\tcore/lib/zrsoap/src/interface/zrvaluesoap:459");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "error\n");

    const std::string longName(512, 't');
    const std::string assert337 = "\tZRValue::Assert failed\n\tcore/lib/zrsoap/src/interface/zrvaluesoap:337";
    EXPECT_THROW_MSG(decoded("<i xsi:type=\"Array\" SOAP-ENC:arrayType=\"" + longName + "[1]\"/>"), ZRError,
                     assert337);
    // Without "[" the scan ends with the attribute value, and the limit holds.
    EXPECT_THROW_MSG(decoded("<i xsi:type=\"Array\" SOAP-ENC:arrayType=\"" + std::string(100000, 't') + "\"/>"),
                     ZRError, assert337);
    EXPECT_NO_THROW(decoded("<i xsi:type=\"Array\" SOAP-ENC:arrayType=\"" + longName.substr(1) + "[1]\"/>"));
}

// Float texts read as stream extraction under the global locale reads them,
// over either element tree.
TEST(CodecReader, FloatTextsReadAsStreamExtractionReadsThem)
{
    std::vector<std::string> texts = {
        "1", "-0", "+.5", "00.50", "0", "000", ".", "-", "+", "e5", "1e", "1e+", "1e-3", "1E3", "1.5e3.2",
        "1..2", "0x1p3", "inf", "-inf", "nan", "1e39", "-1e39", "3.4028235e38", "3.4028236e38", "1e-46",
        "1.4e-45", "-1.17549435e-38", "123456789012345678901234567890", std::string(70, '1'),
        std::string(70, '0') + "1", "12abc", "--1", "1-2", "1e5e5", "\xC3\xA9", "", "&#32;1", "1&#32;",
        "&#9;-2", "&#11;&#12;3", "&#160;4", "1,5",
    };
    std::mt19937 random(11);
    const char alphabet[] = "0123456789+-.eEx";
    for (int i = 0; i < 20000; ++i) {
        std::string text;
        for (int length = random() % 14; length > 0; --length)
            text += alphabet[random() % (sizeof alphabet - 1)];
        texts.push_back(text);
    }
    auto check = [&](const std::string& text) {
        const std::string xml = item("xsd:float", text);
        TiXmlDocument document;
        document.Parse(xml.c_str(), nullptr, TIXML_ENCODING_UNKNOWN);
        const char* received = document.FirstChildElement()->GetText();
        std::istringstream stream(received ? received : "");
        float expected = 0.0f;
        if (received)
            stream >> expected;
        const ZRValue viaTinyXml = decoded(xml);
        EXPECT_EQ(bitsOf(static_cast<float>(viaTinyXml)), bitsOf(expected)) << text;
        ZR::ZRPlainXml plain;
        if (plain.parse(xml.data(), xml.size(), ZR::kMaxValueNesting + 1)) {
            ZRValue viaPlainXml;
            ZR::readValueXml(plain, plain.root(), viaPlainXml, ZRValue::Invalid);
            EXPECT_EQ(bitsOf(static_cast<float>(viaPlainXml)), bitsOf(expected)) << text;
        }
    };
    for (const std::string& text : texts)
        check(text);

    // Under a global locale with a decimal comma the stream reads "1,5".
    struct DecimalComma : std::numpunct<char> {
        char do_decimal_point() const override { return ','; }
    };
    const std::locale previous = std::locale::global(std::locale(std::locale::classic(), new DecimalComma));
    EXPECT_EQ(static_cast<float>(decoded(item("xsd:float", "1,5"))), 1.5f);
    EXPECT_EQ(static_cast<float>(decoded(item("xsd:float", "2.5"))), 2.0f);
    for (const char* text : {"1,5", "2.5", "-3,25e1", "7"})
        check(text);
    std::locale::global(previous);
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

TEST(CodecReader, RoundTrips)
{
    TZRValueString everyByte;
    for (int byte = 1; byte < 256; ++byte)
        everyByte += static_cast<char>(byte);
    ZRValue everyKind = arrayOf({ZRValue(), ZRValue(true), ZRValue(false), ZRValue(INT_MIN), ZRValue(-1.5e-30f),
                                 ZRValue(floatFromBits(0x41230db4)), ZRValue(everyByte), ZRValue(" lead trail "),
                                 objectFromBase64("AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4v"),
                                 arrayOf({}), arrayOf({arrayOf({ZRValue(3)}), ZRValue("x")})});
    const ZRValue cases[] = {everyKind, ZRValue(7), ZRValue("plain"), ZRValue(), arrayOf({})};
    for (const ZRValue& value : cases) {
        SCOPED_TRACE(value.toString(1));
        const ZRValue back = decoded("<zrbroker:return>" + written(value, false) + "</zrbroker:return>");
        EXPECT_TRUE(back == value) << back.toString(1);
    }
    ZRValue floats = decoded("<zrbroker:return>" + written(everyKind, false) + "</zrbroker:return>");
    EXPECT_EQ(bitsOf(static_cast<float>(floats[5])), 0x41230dB4u);

    // The three exceptions: Binary placeholders, whitespace-only and NUL strings.
    ZRValue lossy =
        decoded("<r>" + written(arrayOf({binaryOf("abc"), ZRValue(" \t\n"), ZRValue(TZRValueString("a\0b", 3))}),
                                false) + "</r>");
    EXPECT_TRUE(lossy == arrayOf({binaryOf("1"), ZRValue(""), ZRValue("a")})) << lossy.toString(1);
}

// ---- Attachments --------------------------------------------------------

class CodecAttachments : public testing::Test {
protected:
    CodecAttachments() : soap_(soap_new()) {}
    ~CodecAttachments() override
    {
        soap_destroy(soap_);
        soap_end(soap_);
        soap_free(soap_);
    }

    std::vector<std::string> outgoing() const
    {
        std::vector<std::string> bytes;
        for (const struct soap_multipart* part = soap_->dime.first; part; part = part->next) {
            EXPECT_STREQ(part->id, "image");
            EXPECT_STREQ(part->type, "application/octet-stream");
            EXPECT_EQ(part->options, nullptr);
            EXPECT_NE(part->ptr, nullptr);
            bytes.emplace_back(part->ptr, part->size);
        }
        return bytes;
    }

    // Received attachments as gSOAP lists them after a response.
    void receive(const std::vector<std::string>& attachments)
    {
        received_ = attachments;
        parts_.assign(attachments.size(), {});
        for (std::size_t i = 0; i < parts_.size(); ++i) {
            parts_[i].ptr = received_[i].data();
            parts_[i].size = received_[i].size();
            parts_[i].next = i + 1 < parts_.size() ? &parts_[i + 1] : nullptr;
        }
        soap_->dime.list = parts_.empty() ? nullptr : &parts_[0];
    }

    struct soap* soap_;
    std::vector<std::string> received_;
    std::vector<struct soap_multipart> parts_;
};

TEST_F(CodecAttachments, RegisteredDepthFirstIncludingEmptyOnes)
{
    ZR::registerBinaryAttachments(
        soap_, arrayOf({binaryOf("A"), ZRValue(1), arrayOf({binaryOf(""), arrayOf({binaryOf("B")})}),
                        objectFromBase64("YWJj"), binaryOf("CC")}));
    EXPECT_TRUE(soap_->omode & SOAP_ENC_DIME);
    EXPECT_EQ(outgoing(), (std::vector<std::string>{"A", "", "B", "CC"}));

    // A new array parameter starts a new list.
    ZR::registerBinaryAttachments(soap_, arrayOf({binaryOf("D")}));
    EXPECT_EQ(outgoing(), (std::vector<std::string>{"D"}));
    // Other parameters add nothing and leave the list alone.
    ZR::registerBinaryAttachments(soap_, ZRValue(5));
    EXPECT_EQ(outgoing(), (std::vector<std::string>{"D"}));
}

TEST_F(CodecAttachments, RestoredInOrderWithCounter)
{
    receive({"first", "second"});
    ZRValue result = arrayOf({binaryOf("1"), ZRValue(2), arrayOf({binaryOf("1")}), objectFromBase64("YWJj")});
    int counter = 0;
    ZR::restoreBinaryAttachments(soap_, result, counter);
    EXPECT_EQ(counter, 2);
    EXPECT_TRUE(result == arrayOf({binaryOf("first"), ZRValue(2), arrayOf({binaryOf("second")}),
                                   objectFromBase64("YWJj")}));

    receive({"only", ""});
    ZRValue three = arrayOf({binaryOf("1"), binaryOf("1"), binaryOf("1")});
    counter = 0;
    ZR::restoreBinaryAttachments(soap_, three, counter);
    EXPECT_EQ(counter, 3);
    EXPECT_TRUE(three == arrayOf({binaryOf("only"), binaryOf(""), binaryOf("1")}));

    ZRValue single = binaryOf("1");
    counter = 1;
    ZR::restoreBinaryAttachments(soap_, single, counter);
    EXPECT_EQ(counter, 2);
    EXPECT_TRUE(single == binaryOf(""));
}

}  // namespace
