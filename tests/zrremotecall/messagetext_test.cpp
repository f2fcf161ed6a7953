// SPDX-License-Identifier: GPL-2.0-or-later
// ZRMessageText: the readable text of an HTTP message, whatever pieces it
// arrives in: DIME records and HTTP chunks taken apart, attachments listed
// instead of kept, interim replies passed over, the whole cut at its bound.
#include <gtest/gtest.h>

#include "scriptedpeer.h"
#include "zrmessagetext.h"

using ZR::ZRMessageText;
using namespace ZRTest;

namespace {

std::string chunked(const std::string& body, std::size_t piece)
{
    std::string out;
    for (std::size_t at = 0; at < body.size(); at += piece) {
        const std::string part = body.substr(at, piece);
        char size[32];
        std::snprintf(size, sizeof size, "%zx;ext=1\r\n", part.size());
        out += size + part + "\r\n";
    }
    return out + "0\r\nTrailer: x\r\n\r\n";
}

std::string textOf(const std::string& message, std::size_t piece, std::size_t bound)
{
    ZRMessageText text(bound);
    for (std::size_t at = 0; at < message.size(); at += piece)
        text.add(message.data() + at, std::min(piece, message.size() - at));
    return text.take();
}

TEST(MessageText, ShowsHeaderAndSoapTextAndListsAttachments)
{
    const std::string envelope = "<SOAP-ENV:Envelope>" + std::string(300, 'e') + "</SOAP-ENV:Envelope>";
    const std::string dime = DimeMessage(envelope, "env")
                                 .attach(std::string(1000, 'A'), "first", "application/octet-stream")
                                 .attach("", "empty", "text/plain")
                                 .bytes();
    const std::string dimeHeader = "HTTP/1.1 200 OK\r\nContent-Type: application/dime\r\n";
    const std::string attachments =
        "\n[attachment id=\"first\" type=\"application/octet-stream\" 1000 bytes]"
        "\n[attachment id=\"empty\" type=\"text/plain\" 0 bytes]";
    const std::string interim = "HTTP/1.1 100 Continue\r\n\r\n";
    const std::string chunkedHeader = dimeHeader + "Transfer-Encoding: chunked\r\n\r\n";
    // A record of DIME version 2: nothing past the header can be read.
    std::string badVersion = dime;
    badVersion[0] = static_cast<char>((badVersion[0] & 0x07) | (2 << 3));

    const struct {
        const char* name;
        std::string message;
        std::size_t bound;
        std::string expected;
    } cases[] = {
        {"plain", "POST / HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc", 1000,
         "POST / HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc"},
        {"plain over the bound", "HTTP/1.1 200 OK\r\n\r\n" + std::string(100, 'b'), 30,
         "HTTP/1.1 200 OK\r\n\r\n" + std::string(11, 'b') + "\n[... 89 bytes left out]"},
        {"DIME", dimeHeader + "\r\n" + dime, 1000, dimeHeader + "\r\n" + envelope + attachments},
        {"chunked DIME after 100 Continue", interim + chunkedHeader + chunked(dime, 77), 1000,
         interim + chunkedHeader + envelope + attachments},
        {"DIME over the bound", dimeHeader + "\r\n" + dime, dimeHeader.size() + 2 + 19,
         dimeHeader + "\r\n<SOAP-ENV:Envelope>\n[... " + std::to_string(envelope.size() - 19) +
             " bytes left out]" + attachments},
        {"not DIME after all", dimeHeader + "\r\n" + badVersion, 1000,
         dimeHeader + "\r\n\n[... " + std::to_string(badVersion.size() - 12) + " bytes left out]"},
    };
    for (const auto& c : cases) {
        for (std::size_t piece : {std::size_t(1), std::size_t(5), c.message.size()})
            EXPECT_EQ(textOf(c.message, piece, c.bound), c.expected) << c.name << ", pieces of " << piece;
    }
}

}  // namespace
