// SPDX-License-Identifier: GPL-2.0-or-later
// Fault injection against a scripted peer: refused connections, replies cut
// short or overlong, wrong Content-Length, chunked bodies, HTTP errors,
// garbage, stalls and broken DIME messages. Every case must give a clear
// error or the right value without hanging, and afterwards the same proxy and
// a new one must both carry calls again.
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "brokerreplies.h"
#include "faultcheck.h"
#include "scriptedpeer.h"
#include "stdsoap2.h"
#include "valuebuilders.h"
#include "zrconnection.h"
#include "zrnetwork.h"
#include "zrproxyremote.h"

using ZR::ZRError;
using ZR::ZRNetworkError;
using ZR::ZRProxyRemote;
using ZR::ZRValue;
using namespace ZRTest;

namespace {

const std::string kEof =
    "\tTracker::SOAP error:End of file or no input: message transfer interrupted\n\tSOAP detail: ";
const std::string kEmptyOk = "\tTracker::SOAP error:Error 200: HTTP 200 OK\n\tSOAP detail: ";
const std::string kAnyFailure = "\tTracker::SOAP error:";
const std::string kBadLength =
    "\tTracker::SOAP error:HTTP Error\n\tSOAP detail: Content-Length is not a byte count";

// The line that follows the peer's texts when the connection ended after the
// request went out, `arrived` bytes into the reply.
std::string cutOff(std::size_t arrived)
{
    return arrived == 0
               ? "\n\tthe module closed the connection after the request went out, before any reply: it "
                 "may have run the call"
               : "\n\tthe module closed the connection after " + std::to_string(arrived) +
                     " bytes of the reply had arrived: it may have run the call";
}

std::string header(const std::string& fields)
{
    return "HTTP/1.1 200 OK\r\nContent-Type: text/xml; charset=utf-8\r\n" + fields + "\r\n";
}

// `body` announced with `length` bytes, whatever its real size.
std::string announced(const std::string& body, std::size_t length)
{
    return header("Content-Length: " + std::to_string(length) + "\r\nConnection: keep-alive\r\n") + body;
}

std::string chunked(const std::string& body, std::size_t chunkSize, bool terminated = true)
{
    std::string out = header("Transfer-Encoding: chunked\r\nConnection: keep-alive\r\n");
    for (std::size_t at = 0; at < body.size(); at += chunkSize) {
        const std::string chunk = body.substr(at, chunkSize);
        char size[16];
        std::snprintf(size, sizeof size, "%zx\r\n", chunk.size());
        out += size + chunk + "\r\n";
    }
    return terminated ? out + "0\r\n\r\n" : out;
}

std::string dimeReply(const std::string& message)
{
    return httpResponse(message, 200, "OK", "application/dime");
}

std::string binaryItem()
{
    return "<item xsi:type=\"xsd:base64Binary\">MQ==</item>";
}

// A peer that serves module Tracker itself, and a proxy on it.
class PeerProxy {
public:
    PeerProxy() : peer_(new ScriptedPeer) { proxy_ = makeProxy(); }

    std::unique_ptr<ZRProxyRemote> makeProxy()
    {
        peer_->push(lookupReply("Tracker", "127.0.0.1", peer_->port()));
        return std::unique_ptr<ZRProxyRemote>(new ZRProxyRemote("Tracker", "127.0.0.1", peer_->port(), 0, 0));
    }

    ScriptedPeer& peer() { return *peer_; }

    CallOutcome call(ZRProxyRemote& proxy, const ZRValue& parameters = ZRValue())
    {
        return guardedCall(
            [&proxy, &parameters] {
                ZRValue result;
                proxy.call("get", parameters, result);
                return result;
            },
            // Stopping the peer closes its connections, which ends any read.
            [this] { peer_.reset(); });
    }

    CallOutcome call(const ZRValue& parameters = ZRValue()) { return call(*proxy_, parameters); }

    // The same proxy, then a new one on the same peer, both answer again.
    void expectCallsGoOn()
    {
        ASSERT_TRUE(peer_) << "the peer was stopped to end a hung call";
        peer_->push(callReply(intItem(9)));
        expectOutcome(call(), Expected::valueOf(ZRValue(9)));
        std::unique_ptr<ZRProxyRemote> fresh = makeProxy();
        peer_->push(callReply(intItem(10)));
        expectOutcome(call(*fresh), Expected::valueOf(ZRValue(10)));
    }

private:
    std::unique_ptr<ScriptedPeer> peer_;
    std::unique_ptr<ZRProxyRemote> proxy_;
};

struct ReplyCase {
    const char* name;
    ScriptedResponse reply;
    Expected expected;
};

void runCases(const std::vector<ReplyCase>& cases)
{
    for (const ReplyCase& c : cases) {
        SCOPED_TRACE(c.name);
        PeerProxy session;
        session.peer().push(c.reply);
        expectOutcome(session.call(), c.expected);
        session.expectCallsGoOn();
    }
}

const std::string kBody = callEnvelope(intItem(5));
const std::string kReply = callReply(intItem(5));
const std::size_t kHeaderSize = kReply.find("\r\n\r\n") + 4;
const std::size_t kValueAt = kBody.find("<item");
const std::size_t kEnvelopeEndAt = kBody.find("</SOAP-ENV:Body>");

TEST(ReplyFaults, RefusedConnections)
{
    std::unique_ptr<ScriptedPeer> gone(new ScriptedPeer);
    const int deadPort = gone->port();
    gone.reset();

    // No broker: no proxy.
    EXPECT_THROW_MSG(ZRProxyRemote("Tracker", "127.0.0.1", deadPort, 0, 0), ZRNetworkError,
                     "\tZRNetwork::getModuleByName\n\tfailed to get module Tracker http://127.0.0.1:" +
                         std::to_string(deadPort) + "\n\tconnection refused at 127.0.0.1:" +
                         std::to_string(deadPort) + ": is a broker listening there?");

    // The broker reports a module end point on which nobody listens.
    ScriptedPeer broker;
    broker.push(lookupReply("Tracker", "127.0.0.1", deadPort));
    ZRProxyRemote proxy("Tracker", "127.0.0.1", broker.port(), 0, 0);
    for (int attempt = 0; attempt < 2; ++attempt) {
        ZRValue result;
        EXPECT_THROW_MSG(
            proxy.call("get", ZRValue(), result), ZRError,
            "\tTracker::SOAP error:Connection refused\n\tSOAP detail: connect failed in tcp_connect()");
    }
}

TEST(ReplyFaults, PeerClosesTheConnection)
{
    runCases({
        {"before the reply", ScriptedResponse::closeBefore(), Expected::error(kEof + cutOff(0))},
        {"inside the status line", ScriptedResponse::closeMidReply(kReply, 5),
         Expected::error(kEof + cutOff(5))},
        {"inside the header", ScriptedResponse::closeMidReply(kReply, 40),
         Expected::errorStartingWith(kAnyFailure)},
        {"after the header", ScriptedResponse::closeMidReply(kReply, kHeaderSize),
         Expected::error(kEmptyOk + cutOff(kHeaderSize))},
        {"inside the value", ScriptedResponse::closeMidReply(kReply, kHeaderSize + kValueAt + 5),
         Expected::error(kEof + cutOff(kHeaderSize + kValueAt + 5))},
        // The value was read; the missing end tags only earn the warning.
        {"before the envelope ends", ScriptedResponse::shortBody(kReply, 10), Expected::valueOf(ZRValue(5))},
        {"after the reply", ScriptedResponse::closeAfter(kReply), Expected::valueOf(ZRValue(5))},
    });
}

TEST(ReplyFaults, ContentLengthDisagreesWithTheBody)
{
    const std::string incompleteValue =
        kBody.substr(0, kValueAt) + "<item xsi:type=\"Array\"><item xsi:type=\"xsd:int\">5</item>";
    runCases({
        // The reply ends inside the value and the peer keeps the connection
        // open: the read stops at the announced length instead of waiting.
        {"incomplete value at its full length",
         ScriptedResponse::keepAlive(announced(incompleteValue, incompleteValue.size())),
         Expected::error(kEof)},
        {"incomplete envelope at its full length",
         ScriptedResponse::keepAlive(announced(kBody.substr(0, kEnvelopeEndAt), kEnvelopeEndAt)),
         Expected::valueOf(ZRValue(5))},
        {"length cut inside the value", ScriptedResponse::keepAlive(announced(kBody, kValueAt + 10)),
         Expected::error(kEof)},
        {"length cut before the envelope end", ScriptedResponse::keepAlive(announced(kBody, kEnvelopeEndAt)),
         Expected::valueOf(ZRValue(5))},
        {"bytes after the announced body",
         ScriptedResponse::keepAlive(kReply + "HTTP/1.1 200 OK\r\n\r\nstray"), Expected::valueOf(ZRValue(5))},
        {"length beyond the body, connection kept",
         ScriptedResponse::keepAlive(announced(kBody, kBody.size() + 100)), Expected::valueOf(ZRValue(5))},
        {"length beyond the body, then closed",
         ScriptedResponse::closeAfter(announced(kBody, kBody.size() + 100)), Expected::valueOf(ZRValue(5))},
        {"length zero", ScriptedResponse::keepAlive(announced(kBody, 0)), Expected::error(kEmptyOk)},
        // gSOAP alone would try to allocate the body of an error reply
        // announced as -33 bytes: nearly 2^64.
        {"negative length on an error reply",
         ScriptedResponse::keepAlive(
             "HTTP/1.1 510 Not Extended\r\nContent-Length: -33\r\nConnection: keep-alive\r\n\r\n"),
         Expected::error(kBadLength)},
        {"length that is not a number",
         ScriptedResponse::keepAlive(header("Content-Length: 12abc\r\n") + kBody),
         Expected::error(kBadLength)},
        {"length beyond any number",
         ScriptedResponse::keepAlive(header("Content-Length: 99999999999999999999999\r\n") + kBody),
         Expected::error(kBadLength)},
        {"length over 4 GiB", ScriptedResponse::keepAlive(header("Content-Length: 222222222222\r\n") + kBody),
         Expected::error("\tTracker::SOAP error:HTTP Error\n\tSOAP detail: Content-Length is over 4 GiB")},
        // Read as far as it had arrived with the header ("Error 200" when
        // nothing had), but never waited on.
        {"no length, connection kept",
         ScriptedResponse::keepAlive(header("Connection: keep-alive\r\n") + kBody), Expected::returns()},
        {"no length, then closed", ScriptedResponse::closeAfter(header("Connection: close\r\n") + kBody),
         Expected::valueOf(ZRValue(5))},
    });
}

TEST(ReplyFaults, ChunkedBodies)
{
    std::string badSize = chunked(kBody, 50);
    badSize.replace(badSize.find("\r\n\r\n") + 4, 2, "zz");
    const std::string unterminated = chunked(kBody, 50, false);
    runCases({
        {"small chunks", ScriptedResponse::keepAlive(chunked(kBody, 7)), Expected::valueOf(ZRValue(5))},
        {"one chunk", ScriptedResponse::keepAlive(chunked(kBody, kBody.size())),
         Expected::valueOf(ZRValue(5))},
        {"size that is not hexadecimal", ScriptedResponse::keepAlive(badSize),
         Expected::errorStartingWith(kAnyFailure)},
        {"closed inside a chunk",
         ScriptedResponse::closeMidReply(chunked(kBody, 50), chunked(kBody, 50).size() / 2),
         Expected::error(kEmptyOk + cutOff(chunked(kBody, 50).size() / 2))},
        {"no terminating chunk, then closed", ScriptedResponse::closeAfter(unterminated),
         Expected::valueOf(ZRValue(5))},
    });
}

// Framing that cannot be right fails at once, with the connection kept
// open by the peer: only a silent peer is waited for.
TEST(ReplyFaults, MalformedFramingFailsAtOnce)
{
    const std::string chunkedHeader = header("Transfer-Encoding: chunked\r\nConnection: keep-alive\r\n");
    std::string laterBadSize = chunked(kBody, 50);
    laterBadSize.replace(laterBadSize.find("\r\n32\r\n", laterBadSize.find("\r\n\r\n") + 6) + 2, 2, "zz");
    const std::string longChunk = chunkedHeader + "5\r\n" + kBody + "\r\n0\r\n\r\n";
    const std::string broken = kEmptyOk + "\n\tthe reply's chunked framing is broken: ";
    runCases({
        {"chunk size 'zz' after a good chunk", ScriptedResponse::keepAlive(laterBadSize),
         Expected::badReply(broken + "a chunk-size line that does not start with a hexadecimal number")},
        {"chunk size 'zz' only", ScriptedResponse::keepAlive(chunkedHeader + "zz\r\n" + kBody),
         Expected::badReply(broken + "a chunk-size line that does not start with a hexadecimal number")},
        {"chunk longer than announced", ScriptedResponse::keepAlive(longChunk),
         Expected::badReply(broken + "a chunk longer than its announced size")},
        {"204 without a body",
         ScriptedResponse::keepAlive("HTTP/1.1 204 No Content\r\nConnection: keep-alive\r\n\r\n"),
         Expected::badReply(
             "\tTracker::SOAP error:Error 204: HTTP 204 No Content\n\tSOAP detail: \n\tthe reply has no body "
             "(HTTP 204)")},
    });
}

TEST(ReplyFaults, HttpErrorsAndGarbage)
{
    runCases({
        {"500 with a SOAP fault", ScriptedResponse::keepAlive(faultReply("boom", "<x>why</x>")),
         Expected::error("\tTracker::SOAP error:boom\n\tSOAP detail: <x>why</x>")},
        {"500 without a SOAP fault",
         ScriptedResponse::keepAlive(httpResponse("it broke", 500, "Internal Server Error", "text/plain")),
         Expected::error("\tTracker::SOAP error:Error 500: HTTP 500 Internal Server Error\n\tSOAP detail: ")},
        {"500 with an empty body",
         ScriptedResponse::keepAlive(httpResponse("", 500, "Internal Server Error")),
         Expected::error("\tTracker::SOAP error:Error 500: HTTP 500 Internal Server Error\n\tSOAP detail: ")},
        {"404", ScriptedResponse::keepAlive(httpResponse("not here", 404, "Not Found", "text/plain")),
         Expected::errorStartingWith(kAnyFailure)},
        {"binary garbage", ScriptedResponse::keepAlive(std::string("\x00\xff\x13garbage\r\n\r\n", 15)),
         Expected::errorStartingWith(kAnyFailure)},
        {"garbage, then closed", ScriptedResponse::closeAfter("no HTTP here at all"),
         Expected::errorStartingWith(kAnyFailure)},
        {"body that is not XML", ScriptedResponse::keepAlive(httpResponse("hello")),
         Expected::errorStartingWith(kAnyFailure)},
        // The generated stub accepts an empty body: no result.
        {"envelope without a response", ScriptedResponse::keepAlive(httpResponse(soapEnvelope(""))),
         Expected::valueOf(ZRValue())},
    });
}

// Module connections have no time-out: a peer that answers late is waited
// for, however late. The user's call blocks until the reply comes or the
// peer closes the connection.
TEST(ReplyFaults, StalledReplyIsWaitedFor)
{
    const std::chrono::milliseconds stall(1000);
    PeerProxy session;
    session.peer().push(ScriptedResponse::stalled(kReply, stall));
    const auto start = std::chrono::steady_clock::now();
    expectOutcome(session.call(), Expected::valueOf(ZRValue(5)));
    // The peer times its stall with a clock of its own: allow for rounding.
    EXPECT_GE(std::chrono::steady_clock::now() - start, stall - std::chrono::milliseconds(100));
    session.expectCallsGoOn();
}

TEST(ReplyFaults, DimeAttachments)
{
    const std::string twoBinaries =
        callEnvelope("<item xsi:type=\"Array\">" + binaryItem() + binaryItem() + "</item>");
    const std::string oneBinary =
        callEnvelope("<item xsi:type=\"Array\">" + binaryItem() + intItem(2) + "</item>");
    const std::string big(9 << 20, 'b');  // above gSOAP's trusted DIME size of 8 MiB

    const std::string complete = DimeMessage(twoBinaries).attach("first").attach("second").bytes();
    // The last record announces more data than the message holds.
    std::string truncated = complete.substr(0, complete.size() - 4);
    std::string hugeRecord = DimeMessage(oneBinary).bytes();
    hugeRecord[0] = static_cast<char>(hugeRecord[0] & ~0x02);  // no longer the last record
    const std::size_t lastRecord = hugeRecord.size();
    hugeRecord +=
        dimeRecord(false, true, false, DimeTypeFormat::MediaType, "image", "application/octet-stream", "");
    hugeRecord.replace(lastRecord + 8, 4, "\xff\xff\xff\xf0", 4);  // its data length: 4 GiB

    auto lost = [](int number) {
        return Expected::badReply(
            "\tZRValue::restoreBinaryAttachments\n\tBinary value " + std::to_string(number) +
            " of the reply holds the attachment placeholder, but no attachment arrived for it");
    };
    runCases({
        // Paired by order, an attachment left over belongs to no value.
        {"more attachments than Binary values",
         ScriptedResponse::keepAlive(
             dimeReply(DimeMessage(oneBinary).attach("first").attach("extra").attach("more").bytes())),
         Expected::badReply("\tZRValue::restoreBinaryAttachments\n\tthe reply carries 2 more attachments "
                            "than it has Binary values (1)")},
        // A placeholder left without its attachment: the bytes were lost.
        {"fewer attachments than Binary values",
         ScriptedResponse::keepAlive(dimeReply(DimeMessage(twoBinaries).attach("first").bytes())), lost(2)},
        {"no attachments", ScriptedResponse::keepAlive(dimeReply(DimeMessage(twoBinaries).bytes())), lost(1)},
        {"oversized attachment",
         ScriptedResponse::keepAlive(dimeReply(DimeMessage(oneBinary).attach(big).bytes())),
         Expected::valueOf(arrayOf({binaryOf(big), ZRValue(2)}))},
        // gSOAP lists an attachment only once it has arrived whole: one cut
        // short leaves its placeholder behind.
        {"truncated record, connection kept", ScriptedResponse::keepAlive(dimeReply(truncated)), lost(1)},
        {"truncated record, then closed", ScriptedResponse::closeAfter(dimeReply(truncated)), lost(1)},
        {"record announcing 4 GiB", ScriptedResponse::keepAlive(dimeReply(hugeRecord)), lost(1)},
        {"closed inside an attachment",
         ScriptedResponse::closeMidReply(dimeReply(complete), dimeReply(complete).size() - 8), lost(1)},
        {"closed inside the envelope record",
         ScriptedResponse::closeMidReply(dimeReply(complete), kHeaderSize + 200),
         Expected::errorStartingWith(kAnyFailure)},
    });
}

// A reply whose value cannot be decoded as sent fails the call, says what
// and where (counted from the start of the value's text, its wrapper
// element here), and leaves the connection to carry the next call.
TEST(ReplyFaults, UndecodableValuesFailTheCall)
{
    const std::string prefix = "\tZRValue::readValueXml\n\t";
    const std::string notWellFormed = prefix + "the value is not well-formed XML: ";
    auto reply = [](const std::string& value) { return ScriptedResponse::keepAlive(callReply(value)); };
    auto typed = [](const std::string& type, const std::string& text) {
        return "<item xsi:type=\"" + type + "\">" + text + "</item>";
    };
    runCases({
        {"end tag of another element",
         reply("<item xsi:type=\"Array\"><item xsi:type=\"xsd:int\">1</itemx></item>"),
         Expected::badReply(notWellFormed +
                            "the end tag '</itemx>' does not close '<item>' at line 1, column 67")},
        {"undefined entity", reply(typed("xsd:string", "a&bogus;")),
         Expected::badReply(notWellFormed + "undefined entity reference '&bogus;' at line 1, column 47")},
        {"duplicated attribute", reply("<item xsi:type=\"xsd:int\" xsi:type=\"xsd:string\">1</item>"),
         Expected::badReply(notWellFormed + "the attribute 'xsi:type' is duplicated at line 1, column 43")},
        {"invalid base64", reply(typed("xsd:base64Binary", "!!!not*base64###")),
         Expected::badReply(prefix + "the Binary text is not base64 at line 1, column 18")},
        {"text that is no float", reply(typed("xsd:float", "abc")),
         Expected::badReply(prefix + "the Float text 'abc' is not a number at line 1, column 18")},
        {"int beyond 32 bits", reply(typed("xsd:int", "99999999999")),
         Expected::badReply(prefix +
                            "the Int text '99999999999' is not a 32-bit integer at line 1, column 18")},
        {"bool that is neither", reply(typed("xsd:boolean", "yes")),
         Expected::badReply(prefix + "the Bool text 'yes' is not true, false, 1 or 0 at line 1, column 18")},
    });
}

// Markup that gSOAP's own parser would take minutes over (it compares each
// attribute and namespace declaration with every earlier one) is refused
// before it is parsed, and so is what it would drop quietly.
TEST(ReplyFaults, FloodsAndSecondReturnsAreRefused)
{
    auto flood = [](const char* prefix, int count) {
        std::string attributes;
        for (int i = 0; i < count; ++i)
            attributes += " " + std::string(prefix) + std::to_string(i) + "=\"u" + std::to_string(i) + "\"";
        return attributes;
    };
    auto bodyWith = [](const std::string& attributes, const std::string& inner) {
        std::string envelope = callEnvelope(intItem(5));
        const std::string body = "<SOAP-ENV:Body";
        envelope.insert(envelope.find(body) + body.size(), attributes);
        if (!inner.empty())
            envelope.insert(envelope.find("<zrbroker:callVexelResponse"), inner);
        return envelope;
    };
    // Nested elements that each stay under the attribute bound but together
    // hold too many declarations in scope.
    std::string nested;
    for (int level = 0; level < 6; ++level)
        nested += "<x" + std::to_string(level) +
                  flood(("xmlns:l" + std::to_string(level) + "n").c_str(), 200) + ">";
    const std::string tooMany = "\tTracker::SOAP error:Bad reply\n\tSOAP detail: ";
    runCases({
        {"attributes on the Body", ScriptedResponse::keepAlive(httpResponse(bodyWith(flood("a", 5000), ""))),
         Expected::badReply(tooMany + "an element of the reply has more than 256 attributes")},
        {"namespace declarations on the Body",
         ScriptedResponse::keepAlive(httpResponse(bodyWith(flood("xmlns:n", 3000), ""))),
         Expected::badReply(tooMany + "an element of the reply has more than 256 attributes")},
        {"namespace declarations in scope", ScriptedResponse::keepAlive(httpResponse(bodyWith("", nested))),
         Expected::badReply(tooMany + "the reply declares more than 1024 namespaces at once")},
        // After the value, which the value reader reads itself, the guard
        // takes up its count again.
        {"attributes after the value",
         ScriptedResponse::keepAlive(httpResponse(
             soapEnvelope("<zrbroker:callVexelResponse><zrbroker:return>" + intItem(5) +
                          "</zrbroker:return><x" + flood("a", 300) + "/></zrbroker:callVexelResponse>"))),
         Expected::badReply(tooMany + "an element of the reply has more than 256 attributes")},
        // gSOAP would skip the second one with its value.
        {"a second return",
         ScriptedResponse::keepAlive(
             httpResponse(soapEnvelope("<zrbroker:callVexelResponse><zrbroker:return>" + intItem(5) +
                                       "</zrbroker:return><zrbroker:return>" + intItem(6) +
                                       "</zrbroker:return></zrbroker:callVexelResponse>"))),
         Expected::badReply("\tZRValue::readValueXml\n\ta second return element follows the value")},
        // Up to the bound, and beyond it in a comment, nothing is refused.
        {"attributes up to the bound",
         ScriptedResponse::keepAlive(
             httpResponse(bodyWith(flood("a", 250), "<!--" + flood("b", 300) + "-->"))),
         Expected::valueOf(ZRValue(5))},
    });
}

// gSOAP keeps every block it allocates for an exchange on the context's
// list (in 2.8 `alist` points at the first block's link to the next).
int blocksHeldBy(const struct soap* context)
{
    int blocks = 0;
    for (void* link = context->alist; link; link = *static_cast<void**>(link))
        ++blocks;
    return blocks;
}

// A failed call releases its exchange when it ends: a failed reply can be
// large, and a proxy may not be called again for a long time (or a loop of
// failing calls would grow the process without bound).
TEST(ReplyFaults, FailedCallsDoNotPileUpInTheContext)
{
    ScriptedPeer peer;
    ZR::ZRNetwork network;
    boost::shared_ptr<ZR::zr__ZRModuleInfoVexel> info(new ZR::zr__ZRModuleInfoVexel);
    info->name = "Tracker";
    const boost::shared_ptr<ZR::ZRConnection> connection = network.createConnection(info, peer.endpoint(), 0);
    const boost::shared_ptr<ZRValue> handle = connection;
    const std::string reason(4000, 'r');
    const int failures = 20;
    for (int i = 0; i < failures; ++i)
        peer.push(faultReply(reason, "<why>" + reason + "</why>"));
    peer.push(callReply(intItem(9)));

    for (int i = 0; i < failures; ++i) {
        EXPECT_THROW(network.callMethod(handle, "get", ZRValue()), ZRError);
        EXPECT_EQ(blocksHeldBy(connection->context), 0) << "after failure " << i + 1;
    }
    EXPECT_TRUE(network.callMethod(handle, "get", ZRValue()) == ZRValue(9));
    EXPECT_EQ(blocksHeldBy(connection->context), 0);
}

}  // namespace
