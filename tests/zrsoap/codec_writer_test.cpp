// SPDX-License-Identifier: GPL-2.0-or-later
// The ZRValue XML writer without a wire: its exact bytes (float text against
// printf), deep nesting, escaping, the reuse of counted text, and the
// type-name table.
#include "codecxml.h"

namespace {

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
        {ZRValue(std::numeric_limits<float>::quiet_NaN()), false, item("xsd:float", "NaN")},
        {ZRValue(-std::numeric_limits<float>::quiet_NaN()), false, item("xsd:float", "NaN")},
        {ZRValue(std::numeric_limits<float>::infinity()), false, item("xsd:float", "INF")},
        {ZRValue(-std::numeric_limits<float>::infinity()), false, item("xsd:float", "-INF")},
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

// Finite floats are written byte for byte as printf has always written them
// in the C locale: "%.8g", or "%.9g" where eight digits do not read back.
TEST(CodecWriter, FloatTextIsPrintfsEightOrNineDigits)
{
    std::vector<float> numbers = {0.0f, -0.0f, 1.0f, -1.0f, 0.1f, 0.3f, 2.5f, 16777215.0f, 16777216.0f,
                                  // exact ties at the ninth and tenth digit
                                  1000000.25f, 4000000.25f, 1048576.125f, 8388607.5f};
    const float extremes[] = {std::numeric_limits<float>::max(), std::numeric_limits<float>::min(),
                              std::numeric_limits<float>::denorm_min(), floatFromBits(0x007fffff)};
    for (float extreme : extremes)
        numbers.insert(numbers.end(), {extreme, -extreme, std::nextafter(extreme, 0.0f)});
    for (int exponent = -45; exponent <= 38; ++exponent) {
        const float power = std::strtof(("1e" + std::to_string(exponent)).c_str(), nullptr);
        numbers.insert(numbers.end(),
                       {power, std::nextafter(power, 0.0f),
                        std::nextafter(power, std::numeric_limits<float>::infinity()), -power});
    }
    for (int exponent = -149; exponent <= 127; ++exponent) {
        const float power = std::ldexp(1.0f, exponent);
        numbers.insert(numbers.end(), {power, std::nextafter(power, 0.0f),
                                       std::nextafter(power, std::numeric_limits<float>::infinity())});
    }
    std::mt19937 random(20240611);
    for (int finite = 0; finite < 1000000;) {
        numbers.push_back(floatFromBits(random()));
        finite += std::isfinite(numbers.back());
    }

    int checked = 0;
    for (const float number : numbers) {
        if (!std::isfinite(number))
            continue;
        char expected[32];
        std::snprintf(expected, sizeof expected, "%.8g", static_cast<double>(number));
        if (std::strtof(expected, nullptr) != number)
            std::snprintf(expected, sizeof expected, "%.9g", static_cast<double>(number));
        char text[ZR::kMaxNumberText];
        ASSERT_EQ(std::string(text, ZR::writeFloatText(number, text)), expected) << "bits " << bitsOf(number);
        ++checked;
    }
    EXPECT_GT(checked, 1000000);
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
        {"xsd:string", ZRValue::String},       {"xsd:int", ZRValue::Int},
        {"xsd:double", ZRValue::Float},        {"xsd:float", ZRValue::Float},
        {"xsd:boolean", ZRValue::Bool},        {"mybool", ZRValue::Bool},
        {"xsd:boolArray", ZRValue::Bool},      {"xsd:base64Object", ZRValue::Object},
        {"xsd:base64Binary", ZRValue::Binary}, {"Array", ZRValue::Array},
        {"SOAP-ENC:Array", ZRValue::Array},    {"nil", ZRValue::Invalid},
        {"xsd:anyType", ZRValue::Invalid},     {"xsd:long", ZRValue::Invalid},
        {"xs:int", ZRValue::Invalid},          {"XSD:STRING", ZRValue::Invalid},
        {"xsd:string ", ZRValue::Invalid},     {"", ZRValue::Invalid},
        {nullptr, ZRValue::Invalid},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ZR::xsdTypeToValueType(c.first), c.second) << (c.first ? c.first : "(null)");
}

}  // namespace
