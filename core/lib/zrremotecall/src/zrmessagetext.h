// SPDX-License-Identifier: GPL-2.0-or-later
// The readable text of one HTTP message as it streams past: the header as
// is, the body's SOAP text (taken out of HTTP chunks and DIME records), a
// line per DIME attachment instead of its bytes, and the whole cut at a
// bound, so that a message of any size costs at most the bound in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ZR {

class ZRMessageText {
public:
    // Text kept per message; the rest is counted and said to be left out.
    static const std::size_t kDefaultBound = 64 * 1024;

    explicit ZRMessageText(std::size_t bound = kDefaultBound);

    // The next bytes of the message, in the order they went over the wire.
    void add(const char* data, std::size_t size);
    // The text so far, with the left-out marker and the attachment lines,
    // and a fresh start for the next message.
    std::string take();

private:
    enum class Part { Header, Body };
    enum class Chunk { Size, Data, DataEnd, Trailer, Done };
    enum class Dime { Header, Options, Id, Type, Data, Done };

    struct Attachment {
        std::string id;
        std::string type;
        std::uint64_t size = 0;
    };

    void addHeader(const char* data, std::size_t size);
    void headerLine(const std::string& line);
    void addUnchunked(const char* data, std::size_t size);
    void addDime(const char* data, std::size_t size);
    void startDimeRecord();
    void startDimeField(Dime field, std::uint64_t contentLength);
    void endDimeField();
    void dimeContent(const char* data, std::size_t size);
    void keep(const char* data, std::size_t size);

    std::size_t bound_;
    std::string text_;
    std::uint64_t leftOut_ = 0;

    Part part_ = Part::Header;
    std::string line_;
    bool statusLine_ = true;
    bool interim_ = false;
    bool chunked_ = false;
    bool dime_ = false;

    Chunk chunk_ = Chunk::Size;
    std::uint64_t chunkLeft_ = 0;
    bool chunkLineEmpty_ = true;
    bool chunkSizeEnded_ = false;

    Dime dimeState_ = Dime::Header;
    unsigned char dimeHeader_[12] = {};
    std::size_t dimeHeaderBytes_ = 0;
    // The DIME field being read: its length with padding, the length of
    // its content, and how much of it has been read.
    std::uint64_t fieldLeft_ = 0;
    std::uint64_t fieldContent_ = 0;
    std::uint64_t fieldRead_ = 0;
    bool lastRecord_ = false;
    bool continues_ = false;  // the current record's payload goes on in the next
    bool anyRecord_ = false;
    std::size_t payload_ = 0;  // 0: the SOAP message; then the attachments
    bool listed_ = false;      // the current attachment has a line
    std::vector<Attachment> attachments_;
    std::size_t attachmentsNotListed_ = 0;
};

}  // namespace ZR
