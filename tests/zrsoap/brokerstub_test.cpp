// SPDX-License-Identifier: GPL-2.0-or-later
// The generated broker stubs and request dispatcher driven end to end over an
// in-memory transport: request bytes and HTTP headers, responses in any
// framing and in any pieces, DIME attachments both ways, truncated and
// hostile replies, faults, and the module description record.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "compatibility.h"
#include "expectthrow.h"
#include "memorytransport.h"
#include "scriptedpeer.h"
#include "valuebuilders.h"
#include "zrbrokerservice.h"
#include "zrsoapH.h"
#include "zrvaluesoap.h"

using ZR::TZRValueString;
using ZR::ZRError;
using ZR::ZRValue;
using ZRTest::arrayOf;
using ZRTest::binaryOf;
using ZRTest::DimeMessage;
using ZRTest::MemoryTransport;
using ZRTest::objectFromBase64;

namespace {

const char kEndpoint[] = "http://broker.test:8000";
const char kEnvelopeStart[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\""
    " xmlns:SOAP-ENC=\"http://schemas.xmlsoap.org/soap/encoding/\""
    " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\""
    " xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" xmlns:zrbroker=\"urn:zrbroker\""
    " xmlns:zr=\"urn:korvantis\"><SOAP-ENV:Body>";
const char kEnvelopeEnd[] = "</SOAP-ENV:Body></SOAP-ENV:Envelope>\r\n";

struct SoapDeleter {
    void operator()(struct soap* soap) const
    {
        soap_destroy(soap);
        soap_end(soap);
        soap_free(soap);
    }
};
using SoapContext = std::unique_ptr<struct soap, SoapDeleter>;

SoapContext keepAliveContext()
{
    return SoapContext(soap_new2(SOAP_IO_KEEPALIVE, SOAP_IO_KEEPALIVE));
}

std::string callVexelResponse(const std::string& resultXml)
{
    return "<zrbroker:callVexelResponse><zrbroker:return>" + resultXml +
           "</zrbroker:return></zrbroker:callVexelResponse>";
}

std::string chunkedHttpResponse(const std::string& body, std::size_t chunkSize)
{
    std::string out =
        "HTTP/1.1 200 OK\r\nContent-Type: text/xml; charset=utf-8\r\nTransfer-Encoding: chunked\r\n"
        "Connection: keep-alive\r\n\r\n";
    for (std::size_t at = 0; at < body.size(); at += chunkSize) {
        const std::string chunk = body.substr(at, chunkSize);
        char size[16];
        std::snprintf(size, sizeof size, "%zx\r\n", chunk.size());
        out += size + chunk + "\r\n";
    }
    return out + "0\r\n\r\n";
}

std::string dimeHttpResponse(const std::string& envelope, const std::vector<std::string>& attachments)
{
    DimeMessage message(envelope);
    for (const std::string& data : attachments)
        message.attach(data);
    return ZRTest::httpResponse(message.bytes(), 200, "OK", "application/dime");
}

// The envelope in DIME chunks of `chunkSize` bytes (records with the CF
// flag), then the attachments.
std::string chunkedDimeHttpResponse(const std::string& envelope, std::size_t chunkSize,
                                    const std::vector<std::string>& attachments)
{
    using ZRTest::DimeTypeFormat;
    std::string message;
    for (std::size_t at = 0; at < envelope.size(); at += chunkSize) {
        const bool first = at == 0;
        const bool last = at + chunkSize >= envelope.size();
        message += ZRTest::dimeRecord(first, last && attachments.empty(), !last,
                                      first ? DimeTypeFormat::AbsoluteUri : DimeTypeFormat::Unchanged, "",
                                      first ? "http://schemas.xmlsoap.org/soap/envelope/" : "",
                                      envelope.substr(at, chunkSize));
    }
    for (std::size_t i = 0; i < attachments.size(); ++i)
        message += ZRTest::dimeRecord(false, i + 1 == attachments.size(), false, DimeTypeFormat::MediaType,
                                      "image", "application/octet-stream", attachments[i]);
    return ZRTest::httpResponse(message, 200, "OK", "application/dime");
}

struct HttpMessage {
    std::string header;
    std::string body;
};

HttpMessage split(const std::string& raw)
{
    const std::size_t end = raw.find("\r\n\r\n");
    if (end == std::string::npos)
        return {raw, ""};
    return {raw.substr(0, end + 4), raw.substr(end + 4)};
}

struct DimeRecord {
    unsigned char flags;
    std::string id;
    std::string type;
    std::string data;
};

std::vector<DimeRecord> dimeRecords(const std::string& bytes)
{
    auto padded = [](std::size_t n) { return (n + 3) & ~std::size_t(3); };
    std::vector<DimeRecord> records;
    std::size_t at = 0;
    while (at + 12 <= bytes.size()) {
        const auto* header = reinterpret_cast<const unsigned char*>(bytes.data() + at);
        const std::size_t optionsLength = header[2] << 8 | header[3];
        const std::size_t idLength = header[4] << 8 | header[5];
        const std::size_t typeLength = header[6] << 8 | header[7];
        const std::size_t dataLength =
            std::size_t(header[8]) << 24 | header[9] << 16 | header[10] << 8 | header[11];
        DimeRecord record{header[0], "", "", ""};
        at += 12 + padded(optionsLength);
        record.id = bytes.substr(at, idLength);
        at += padded(idLength);
        record.type = bytes.substr(at, typeLength);
        at += padded(typeLength);
        record.data = bytes.substr(at, dataLength);
        at += padded(dataLength);
        records.push_back(record);
    }
    return records;
}

// A value with every kind that survives the wire unchanged.
ZRValue sampleValue()
{
    return arrayOf({ZRValue(), ZRValue(true), ZRValue(-7), ZRValue(2.5f), ZRValue("a <b> & \"c\"\n\t"),
                    objectFromBase64("YWJjZGVm"), arrayOf({}),
                    arrayOf({arrayOf({ZRValue(1)}), ZRValue("z")})});
}

ZRValue largeValue()
{
    ZRValue value;
    value.resizeArray(0);
    for (int i = 0; i < 6000; ++i)
        value.append(ZRValue("element " + std::to_string(i)));
    return value;
}

std::string encoded(const ZRValue& value)
{
    std::string xml;
    ZR::writeValueXml(value, xml, false);
    return xml;
}

class BrokerStub : public testing::Test {
protected:
    BrokerStub() : soap_(keepAliveContext()), transport_(soap_.get()) {}

    void reply(const std::string& bodyContent, std::size_t pieceSize = 0)
    {
        transport_.addReply(ZRTest::httpResponse(ZRTest::soapEnvelope(bodyContent)), pieceSize);
    }

    int callVexel(const ZRValue& parameters, ZRValue& result, const char* endpoint = kEndpoint)
    {
        zrsoap::zrbroker__callVexelResponse response;
        const int status = zrsoap::soap_call_zrbroker__callVexel(soap_.get(), endpoint, "", "Mod", "meth",
                                                                 parameters, response);
        result = response._return;
        return status;
    }

    int getModuleByName(zrsoap::zr__ZRModuleInfo& info)
    {
        zrsoap::zrbroker__getModuleByNameResponse response;
        const int status =
            zrsoap::soap_call_zrbroker__getModuleByName(soap_.get(), kEndpoint, "", "Tracker", response);
        info = response._return;
        return status;
    }

    SoapContext soap_;
    MemoryTransport transport_;
};

// ---- Requests -----------------------------------------------------------

TEST_F(BrokerStub, RequestBytes)
{
    const ZRValue parameters = arrayOf({ZRValue(1), ZRValue("a b"), arrayOf({ZRValue(true), ZRValue(2.5f)})});
    reply(callVexelResponse(""));
    ZRValue result;
    ASSERT_EQ(callVexel(parameters, result), SOAP_OK);

    HttpMessage request = split(transport_.takeSent());
    EXPECT_EQ(request.body,
              std::string(kEnvelopeStart) +
                  "<zrbroker:callVexel><zrbroker:mod>Mod</zrbroker:mod><zrbroker:meth>meth</zrbroker:meth>"
                  "<zrbroker:p><item xsi:type=\"Array\"><item xsi:type=\"xsd:int\">1</item>"
                  "<item xsi:type=\"xsd:string\">a&#32;b</item><item xsi:type=\"Array\">"
                  "<item xsi:type=\"xsd:boolean\">true</item><item xsi:type=\"xsd:float\">2.5</item>"
                  "</item></item></zrbroker:p></zrbroker:callVexel>" +
                  kEnvelopeEnd);
    EXPECT_EQ(request.header.rfind("POST / HTTP/1.1\r\n", 0), 0u) << request.header;
    for (const std::string line : {"Host: broker.test:8000\r\n", "Content-Type: text/xml; charset=utf-8\r\n",
                                   "Connection: keep-alive\r\n", "SOAPAction: \"\"\r\n"})
        EXPECT_NE(request.header.find(line), std::string::npos) << line << request.header;
    EXPECT_NE(request.header.find("Content-Length: " + std::to_string(request.body.size()) + "\r\n"),
              std::string::npos)
        << request.header;

    // An Invalid parameter, posted without an end point.
    reply(callVexelResponse(""));
    ASSERT_EQ(callVexel(ZRValue(), result, nullptr), SOAP_OK);
    request = split(transport_.takeSent());
    EXPECT_EQ(request.body.substr(request.body.find("<zrbroker:p>")),
              std::string("<zrbroker:p></zrbroker:p></zrbroker:callVexel>") + kEnvelopeEnd);
    // Without an end point the stub posts to the broker CGI on this host.
    EXPECT_EQ(request.header.rfind("POST /brokerserver.cgi HTTP/1.1\r\nHost: localhost\r\n", 0), 0u)
        << request.header;

    reply("<zrbroker:getModuleByNameResponse/>");
    zrsoap::zr__ZRModuleInfo info;
    ASSERT_EQ(getModuleByName(info), SOAP_OK);
    request = split(transport_.takeSent());
    EXPECT_EQ(request.body,
              std::string(kEnvelopeStart) +
                  "<zrbroker:getModuleByName><zrbroker:pModuleName>Tracker</zrbroker:pModuleName>"
                  "</zrbroker:getModuleByName>" +
                  kEnvelopeEnd);
}

// ---- Responses ----------------------------------------------------------

TEST_F(BrokerStub, ResultsDecodedWhateverTheFramingAndPieces)
{
    const ZRValue values[] = {sampleValue(), largeValue()};
    for (const ZRValue& value : values) {
        const std::string body = ZRTest::soapEnvelope(callVexelResponse(encoded(value)));
        const std::string framings[] = {
            ZRTest::httpResponse(body),
            chunkedHttpResponse(body, 5),
            chunkedHttpResponse(body, 70000),
            dimeHttpResponse(body, {}),
            dimeHttpResponse(body, {"trailing attachment"}),
            // gSOAP itself only copes with an envelope in DIME chunks when
            // it arrives in one read and no attachment follows.
            chunkedDimeHttpResponse(body, 301, {}),
        };
        for (std::size_t framing = 0; framing < std::size(framings); ++framing) {
            for (std::size_t pieceSize : {0, 1, 3, 64, 1000}) {
                if ((value.size() > 100 && pieceSize < 64) ||
                    (framing == 5 && (pieceSize || value.size() > 100)))
                    continue;
                SCOPED_TRACE("framing " + std::to_string(framing) + ", pieces of " +
                             std::to_string(pieceSize));
                transport_.addReply(framings[framing], pieceSize);
                ZRValue result;
                ASSERT_EQ(callVexel(ZRValue(1), result), SOAP_OK);
                EXPECT_TRUE(result == value) << result.toString(1);
                // The message was read to its end and not beyond. (gSOAP
                // itself leaves the CRLF after the last HTTP chunk and the
                // padding of the last DIME record unread.)
                EXPECT_LE(transport_.unreadBytes(), framing == 0 ? 0u : 3u);
                EXPECT_EQ(transport_.starvedReads(), 0);
                soap_destroy(soap_.get());
                soap_end(soap_.get());
            }
        }
    }
    EXPECT_EQ(transport_.opens(), 1);
}

TEST_F(BrokerStub, ResultElementNameAndEmptyResponses)
{
    const std::string responses[] = {
        "<zrbroker:callVexelResponse><result xsi:type=\"xsd:int\">3</result></zrbroker:callVexelResponse>",
        "<zrbroker:callVexelResponse>\n  <!-- first --><?pi x?>\n  <zrbroker:return xsi:type=\"xsd:int\">3"
        "</zrbroker:return>\n</zrbroker:callVexelResponse>",
        "<zrbroker:callVexelResponse></zrbroker:callVexelResponse>",
        "<zrbroker:callVexelResponse> <!-- nothing --> </zrbroker:callVexelResponse>",
        "<zrbroker:callVexelResponse/>",
    };
    const bool hasResult[] = {true, true, false, false, false};
    for (std::size_t i = 0; i < std::size(responses); ++i) {
        for (std::size_t pieceSize : {0, 1, 2}) {
            SCOPED_TRACE(responses[i] + " in pieces of " + std::to_string(pieceSize));
            reply(responses[i], pieceSize);
            ZRValue result;
            ASSERT_EQ(callVexel(ZRValue(), result), SOAP_OK);
            EXPECT_TRUE(result == (hasResult[i] ? ZRValue(3) : ZRValue())) << result.toString(1);
            EXPECT_EQ(transport_.unreadBytes(), 0u);
        }
    }
}

TEST_F(BrokerStub, AttachmentsTravelBothWays)
{
    const ZRValue parameters =
        arrayOf({binaryOf("AAA"), ZRValue(1), arrayOf({binaryOf(""), binaryOf("BB")})});
    ZR::registerBinaryAttachments(soap_.get(), parameters);
    const std::string envelope = ZRTest::soapEnvelope(
        callVexelResponse(encoded(arrayOf({binaryOf("x"), ZRValue(2), arrayOf({binaryOf("y")})}))));
    transport_.addReply(dimeHttpResponse(envelope, {"first", std::string("se\0nd", 5)}), 3);
    ZRValue result;
    ASSERT_EQ(callVexel(parameters, result), SOAP_OK);

    const HttpMessage request = split(transport_.takeSent());
    EXPECT_NE(request.header.find("Content-Type: application/dime\r\n"), std::string::npos) << request.header;
    EXPECT_NE(request.header.find("Content-Length: " + std::to_string(request.body.size()) + "\r\n"),
              std::string::npos);
    const std::vector<DimeRecord> records = dimeRecords(request.body);
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0].type, "http://schemas.xmlsoap.org/soap/envelope/");
    EXPECT_NE(
        records[0].data.find("<zrbroker:p><item xsi:type=\"Array\"><item xsi:type=\"xsd:base64Binary\">MQ=="),
        std::string::npos);
    const std::string sent[] = {"AAA", "", "BB"};
    for (std::size_t i = 1; i < records.size(); ++i) {
        EXPECT_EQ(records[i].data, sent[i - 1]);
        EXPECT_EQ(records[i].id, "image");
        EXPECT_EQ(records[i].type, "application/octet-stream");
    }
    EXPECT_EQ(records.back().flags & 0x02, 0x02);  // message end

    int counter = 0;
    ZR::restoreBinaryAttachments(soap_.get(), result, counter);
    EXPECT_EQ(counter, 2);
    EXPECT_TRUE(result ==
                arrayOf({binaryOf("first"), ZRValue(2), arrayOf({binaryOf(std::string("se\0nd", 5))})}))
        << result.toString(1);
    soap_destroy(soap_.get());
    soap_end(soap_.get());

    // DIME output stays switched on for later requests on the context.
    reply(callVexelResponse(""));
    ASSERT_EQ(callVexel(ZRValue(5), result), SOAP_OK);
    const HttpMessage later = split(transport_.takeSent());
    EXPECT_NE(later.header.find("Content-Type: application/dime\r\n"), std::string::npos) << later.header;
    EXPECT_EQ(dimeRecords(later.body).size(), 1u);
}

// ---- Failures -----------------------------------------------------------

TEST_F(BrokerStub, TruncatedRepliesFailTheCall)
{
    const std::string full =
        ZRTest::httpResponse(ZRTest::soapEnvelope(callVexelResponse(encoded(largeValue()))));
    const std::size_t valueStart = full.find("<zrbroker:return>");
    const std::size_t valueEnd = full.find("</zrbroker:return>") + 18;
    const std::size_t cuts[] = {10,           valueStart + 5, valueStart + 70000,
                                valueEnd - 1, valueEnd,       full.size() - 3};
    for (std::size_t cut : cuts) {
        for (std::size_t pieceSize : {0, 7}) {
            SCOPED_TRACE("cut at " + std::to_string(cut) + " of " + std::to_string(full.size()));
            const int starvedBefore = transport_.starvedReads();
            transport_.addReply(full.substr(0, cut), pieceSize);
            ZRValue result;
            EXPECT_NE(callVexel(ZRValue(1), result), SOAP_OK);
            // A value cut short is never handed out.
            if (cut < valueEnd) {
                EXPECT_FALSE(result.hasValue());
            }
            // The end of the stream is met once or twice, not waited on.
            EXPECT_LE(transport_.starvedReads() - starvedBefore, 2);
            soap_destroy(soap_.get());
            soap_end(soap_.get());

            // The broken connection is dropped and the next call works.
            const int opensBefore = transport_.opens();
            reply(callVexelResponse(encoded(ZRValue(9))));
            ASSERT_EQ(callVexel(ZRValue(1), result), SOAP_OK);
            EXPECT_TRUE(result == ZRValue(9));
            EXPECT_EQ(transport_.opens(), opensBefore + 1);
        }
    }
}

TEST_F(BrokerStub, FaultsAndHostileReplies)
{
    reply(ZRTest::soapFault("SOAP-ENV:Client", "Unknown method", "<x>why</x>"));
    ZRValue result;
    EXPECT_EQ(callVexel(ZRValue(1), result), SOAP_CLI_FAULT);
    EXPECT_STREQ(*soap_faultstring(soap_.get()), "Unknown method");
    EXPECT_STREQ(*soap_faultdetail(soap_.get()), "<x>why</x>");
    EXPECT_FALSE(result.hasValue());

    struct Case {
        std::string value;
        std::string error;
    };
    std::string deep;
    for (int i = 0; i < 1000000; ++i)
        deep += "<item xsi:type=\"Array\">";
    const Case cases[] = {
        {"<SOAP-ENV:Fault><faultcode>SOAP-ENV:Server</faultcode><faultstring>boom</faultstring>"
         "</SOAP-ENV:Fault>",
         ZRTest::compatibility::faultText(
             "Fault: 'SOAP-ENV:Fault': faultcode: SOAP-ENV:Server, faultstring: boom, ")},
        {deep, "\tZRValue::readValueXml\n\tthe value is nested deeper than 1000 elements"},
    };
    for (const Case& c : cases) {
        const int opensBefore = transport_.opens();
        reply(callVexelResponse(c.value), 4096);
        EXPECT_THROW_MSG(callVexel(ZRValue(1), result), ZRError, c.error);
        soap_destroy(soap_.get());
        soap_end(soap_.get());
        // The rest of that reply is never mistaken for the next one.
        reply(callVexelResponse(encoded(ZRValue(9))));
        ASSERT_EQ(callVexel(ZRValue(1), result), SOAP_OK);
        EXPECT_TRUE(result == ZRValue(9));
        EXPECT_EQ(transport_.opens(), opensBefore + 1);
    }

    // 999 arrays in the return element make 1000 levels: accepted.
    std::string deepest;
    for (int i = 0; i < 999; ++i)
        deepest += "<item xsi:type=\"Array\">";
    for (int i = 0; i < 999; ++i)
        deepest += "</item>";
    reply(callVexelResponse(deepest));
    ASSERT_EQ(callVexel(ZRValue(1), result), SOAP_OK);
    EXPECT_EQ(result.valueType(), ZRValue::Array);
}

TEST_F(BrokerStub, InputHookTakesOverGsoapLookahead)
{
    auto stage = [&](const std::string& buffered, soap_wchar ahead) {
        std::memcpy(soap_->buf, buffered.data(), buffered.size());
        soap_->bufidx = 0;
        soap_->buflen = buffered.size();
        soap_->ahead = ahead;
        soap_->peeked = 0;
        soap_->error = SOAP_TAG_MISMATCH;
    };
    // gSOAP has taken the '<' of the element into its look-ahead.
    stage("item xsi:type=\"xsd:int\">5</item></r>", -2);
    ZRValue value;
    EXPECT_EQ(ZR::soap_in_ZRValue(soap_.get(), nullptr, &value, "xsd:anyType"), &value);
    EXPECT_TRUE(value == ZRValue(5));
    EXPECT_EQ(soap_->bufidx, std::strlen("item xsi:type=\"xsd:int\">5</item>"));
    EXPECT_EQ(soap_->ahead, 0);
    // gSOAP has taken the "</" of the enclosing end tag: no element.
    stage("r>", -3);
    EXPECT_EQ(ZR::soap_in_ZRValue(soap_.get(), nullptr, &value, "xsd:anyType"), nullptr);
    EXPECT_EQ(soap_->bufidx, 0u);
    EXPECT_EQ(soap_->ahead, -3);
    EXPECT_EQ(soap_->error, SOAP_TAG_MISMATCH);
    EXPECT_TRUE(value == ZRValue(5));
}

// ---- Module description -------------------------------------------------

// The record's members as "name arch ip port pid pointer broker keepAlive".
std::string described(const zrsoap::zr__ZRModuleInfo& info)
{
    return info.name + " " + std::to_string(info.architecture) + " " + info.ip + " " +
           std::to_string(info.port) + " " + std::to_string(info.processId) + " " +
           std::to_string(info.modulePointer) + " " + std::to_string(info.isABroker) + " " +
           std::to_string(info.keepAlive);
}

TEST_F(BrokerStub, ModuleDescriptionRecord)
{
    struct Case {
        std::string content;
        int status;
        std::string expected;
    };
    const std::string response = "<zrbroker:getModuleByNameResponse><zrbroker:return>";
    const std::string end = "</zrbroker:return></zrbroker:getModuleByNameResponse>";
    const Case cases[] = {
        {response +
             "<keepAlive>0</keepAlive><isABroker>1</isABroker><extra><x/></extra><modulePointer>-4</"
             "modulePointer>"
             "<processId>77</processId><port>8001</port><ip>10.0.0.5</ip><architecture>64</architecture>"
             "<name>Tracker</name>" +
             end,
         SOAP_OK, "Tracker 64 10.0.0.5 8001 77 -4 1 0"},
        {"<zrbroker:getModuleByNameResponse><result><name>T</name><keepAlive>true</keepAlive>"
         "<isABroker xsi:type=\"xsd:boolean\">false</isABroker></result></zrbroker:getModuleByNameResponse>",
         SOAP_OK, "T 0  0 0 0 0 1"},
        {response + "<name>T</name><isABroker>1</isABroker>" + end, SOAP_OK, "T 0  0 0 0 1 0"},
        {"<zrbroker:getModuleByNameResponse></zrbroker:getModuleByNameResponse>", SOAP_OK, " 0  0 0 0 0 0"},
        {response + "<isABroker>True</isABroker>" + end, SOAP_TYPE, ""},
        {response + "<isABroker>2</isABroker>" + end, SOAP_TYPE, ""},
        {response + "<isABroker xsi:type=\"xsd:int\">1</isABroker>" + end, SOAP_TYPE, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.content);
        reply(c.content);
        zrsoap::zr__ZRModuleInfo received;
        ASSERT_EQ(getModuleByName(received), c.status);
        if (c.status == SOAP_OK) {
            EXPECT_EQ(described(received), c.expected);
        }
    }
}

TEST_F(BrokerStub, SchemaInstanceNamespaceOf1999)
{
    // The xsi:type is understood (and refused for a boolean) only when its
    // prefix is bound to an XML Schema instance namespace.
    auto envelope = [](const std::string& xsi) {
        return "<?xml version=\"1.0\"?><SOAP-ENV:Envelope "
               "xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\""
               " xmlns:xsi=\"" +
               xsi +
               "\" xmlns:zrbroker=\"urn:zrbroker\"><SOAP-ENV:Body>"
               "<zrbroker:getModuleByNameResponse><zrbroker:return><isABroker "
               "xsi:type=\"xsd:int\">1</isABroker>"
               "</zrbroker:return></zrbroker:getModuleByNameResponse></SOAP-ENV:Body></SOAP-ENV:Envelope>";
    };
    zrsoap::zr__ZRModuleInfo info;
    transport_.addReply(ZRTest::httpResponse(envelope("http://www.w3.org/1999/XMLSchema-instance")));
    EXPECT_EQ(getModuleByName(info), SOAP_TYPE);
    transport_.addReply(ZRTest::httpResponse(envelope("urn:not-schema-instance")));
    EXPECT_EQ(getModuleByName(info), SOAP_OK);
    EXPECT_TRUE(info.isABroker);
}

// ---- Server side --------------------------------------------------------

class EchoService : public ZR::ZRBrokerService {
public:
    int callVexel(struct soap* soap, const std::string& moduleName, const std::string& methodName,
                  ZRValue& parameters, ZRValue& result) override
    {
        (void)soap;
        calls.push_back(moduleName + "." + methodName);
        received = parameters;
        if (methodName == "throw")
            throw ZRError("Echo", "throw", "as asked", nullptr, 0);
        result = parameters;
        return SOAP_OK;
    }

    int getModuleByName(struct soap* soap, const std::string& moduleName,
                        zrsoap::zr__ZRModuleInfo& info) override
    {
        (void)soap;
        info.name = moduleName;
        info.ip = "0.0.0.0";
        info.port = 8123;
        info.keepAlive = true;
        return SOAP_OK;
    }

    std::vector<std::string> calls;
    ZRValue received;
};

class BrokerServer : public BrokerStub {
protected:
    BrokerServer()
        : server_(keepAliveContext()), serverTransport_(server_.get(), MemoryTransport::Role::Server)
    {
    }

    // Serves `requestBytes`, returns the response bytes.
    std::string serve(const std::string& requestBytes, std::size_t pieceSize = 0)
    {
        serverTransport_.addReply(requestBytes, pieceSize);
        ZR::serveBrokerRequests(server_.get(), service_);
        soap_destroy(server_.get());
        soap_end(server_.get());
        return serverTransport_.takeSent();
    }

    // One call from the client to the server and back.
    int roundTrip(const ZRValue& parameters, ZRValue& result, const char* method = "meth")
    {
        transport_.takeSent();
        ZR::registerBinaryAttachments(soap_.get(), parameters);
        zrsoap::zrbroker__callVexelResponse response;
        // Without a reply the call fails, but its request is on record.
        zrsoap::soap_call_zrbroker__callVexel(soap_.get(), kEndpoint, "", "Mod", method, parameters,
                                              response);
        transport_.addReply(serve(transport_.takeSent()));
        ZR::registerBinaryAttachments(soap_.get(), parameters);
        const int status = zrsoap::soap_call_zrbroker__callVexel(soap_.get(), kEndpoint, "", "Mod", method,
                                                                 parameters, response);
        result = response._return;
        int counter = 0;
        ZR::restoreBinaryAttachments(soap_.get(), result, counter);
        return status;
    }

    SoapContext server_;
    MemoryTransport serverTransport_;
    EchoService service_;
};

TEST_F(BrokerServer, EchoesValuesAndAttachments)
{
    const ZRValue values[] = {
        sampleValue(),
        arrayOf({binaryOf("first"), ZRValue(3), arrayOf({binaryOf(""), binaryOf(std::string("\0\xFF", 2))})}),
        ZRValue(),
    };
    for (const ZRValue& value : values) {
        SCOPED_TRACE(value.toString(1));
        ZRValue result;
        ASSERT_EQ(roundTrip(value, result), SOAP_OK);
        EXPECT_TRUE(service_.received == value) << service_.received.toString(1);
        EXPECT_TRUE(result == value) << result.toString(1);
        soap_destroy(soap_.get());
        soap_end(soap_.get());
    }
    EXPECT_EQ(service_.calls, (std::vector<std::string>(3, "Mod.meth")));

    ZRValue result;
    EXPECT_EQ(roundTrip(ZRValue(1), result, "throw"), SOAP_SVR_FAULT);
    EXPECT_STREQ(*soap_faultstring(soap_.get()), "\tEcho::throw\n\tas asked");
}

TEST_F(BrokerServer, ParameterBeforeTheNamesItFollows)
{
    // gSOAP peeks at the parameter's start tag while it looks for "mod"
    // and "meth"; the input hook picks the element up from there.
    const std::string bodies[] = {
        "<zrbroker:callVexel><zrbroker:p a=\"x&amp;y&lt;&quot;\" xmlns:q=\"urn:q\"><item "
        "xsi:type=\"xsd:int\">4"
        "</item></zrbroker:p><zrbroker:mod>M</zrbroker:mod><zrbroker:meth>m</zrbroker:meth></"
        "zrbroker:callVexel>",
        "<zrbroker:callVexel><zrbroker:p/><zrbroker:mod>M</zrbroker:mod><zrbroker:meth>m</zrbroker:meth>"
        "</zrbroker:callVexel>",
    };
    const ZRValue expected[] = {ZRValue(4), ZRValue()};
    for (std::size_t i = 0; i < std::size(bodies); ++i) {
        for (std::size_t pieceSize : {0, 1}) {
            SCOPED_TRACE(bodies[i]);
            service_.calls.clear();
            const std::string body = ZRTest::soapEnvelope(bodies[i]);
            const std::string response =
                serve("POST / HTTP/1.1\r\nHost: b\r\nContent-Type: text/xml\r\nContent-Length: " +
                          std::to_string(body.size()) + "\r\n\r\n" + body,
                      pieceSize);
            EXPECT_EQ(service_.calls, std::vector<std::string>{"M.m"});
            EXPECT_TRUE(service_.received == expected[i]) << service_.received.toString(1);
            EXPECT_NE(response.find("<zrbroker:callVexelResponse><zrbroker:return>"), std::string::npos)
                << response;
        }
    }
}

TEST_F(BrokerServer, ModuleLookUp)
{
    zrsoap::zrbroker__getModuleByNameResponse response;
    zrsoap::soap_call_zrbroker__getModuleByName(soap_.get(), kEndpoint, "", "Tracker", response);
    transport_.addReply(serve(transport_.takeSent()));
    ASSERT_EQ(zrsoap::soap_call_zrbroker__getModuleByName(soap_.get(), kEndpoint, "", "Tracker", response),
              SOAP_OK);
    EXPECT_EQ(response._return.name, "Tracker");
    EXPECT_EQ(response._return.ip, "0.0.0.0");
    EXPECT_EQ(response._return.port, 8123);
    EXPECT_TRUE(response._return.keepAlive);
}

}  // namespace
