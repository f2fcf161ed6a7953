// SPDX-License-Identifier: GPL-2.0-or-later
// ZRMessageText: a small push parser for the parts of an HTTP message that
// decide what is readable: the header lines (Content-Type,
// Transfer-Encoding), HTTP chunks, and DIME records (a 12-byte header, then
// options, id, type and data, each padded to a multiple of 4). Every state
// is a count, so malformed input cannot make it hold more than its bound.
#include "zrmessagetext.h"

#include <algorithm>
#include <cstring>

#include "zrtextchars.h"

namespace ZR {

namespace {

// Header lines are looked at only this far: the names and values that
// matter are short.
const std::size_t kLineLookedAt = 512;
// Attachments listed per message, and the characters kept of an id or type.
const std::size_t kAttachmentsListed = 64;
const std::size_t kNameKept = 256;
// A chunk larger than this is taken for garbage, not a length.
const std::uint64_t kLargestChunk = 1ULL << 40;
const unsigned char kDimeVersion1 = 1;

std::uint64_t padded(std::uint64_t length)
{
    return (length + 3) & ~std::uint64_t(3);
}

std::string lowered(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), asciiLower);
    return text;
}

// Whether `text` starts with `prefix` (lower case), in any case.
bool startsWith(const std::string& text, const char* prefix)
{
    return startsWithIgnoringCase(text.data(), text.data() + text.size(), prefix);
}

}  // namespace

ZRMessageText::ZRMessageText(std::size_t bound) : bound_(bound) {}

void ZRMessageText::add(const char* data, std::size_t size)
{
    if (part_ == Part::Header)
        addHeader(data, size);
    else if (!chunked_)
        addUnchunked(data, size);
    else {
        while (size > 0) {
            if (chunk_ == Chunk::Data) {
                const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(chunkLeft_, size));
                addUnchunked(data, take);
                data += take;
                size -= take;
                chunkLeft_ -= take;
                if (chunkLeft_ == 0)
                    chunk_ = Chunk::DataEnd;
                continue;
            }
            if (chunk_ == Chunk::Done) {
                leftOut_ += size;
                return;
            }
            const char c = *data++;
            --size;
            switch (chunk_) {
            case Chunk::Size:
                if (c == '\n') {
                    chunk_ = chunkLeft_ == 0 ? Chunk::Trailer : Chunk::Data;
                    chunkLineEmpty_ = true;
                    chunkSizeEnded_ = false;
                } else if (!chunkSizeEnded_ && hexDigitValue(c) >= 0) {
                    chunkLeft_ = chunkLeft_ * 16 + static_cast<std::uint64_t>(hexDigitValue(c));
                    if (chunkLeft_ > kLargestChunk)
                        chunk_ = Chunk::Done;
                } else {
                    // An extension (";name=value") or the CR.
                    chunkSizeEnded_ = true;
                }
                break;
            case Chunk::DataEnd:
                if (c == '\n')
                    chunk_ = Chunk::Size;
                break;
            case Chunk::Trailer:
                if (c == '\n') {
                    if (chunkLineEmpty_)
                        chunk_ = Chunk::Done;
                    chunkLineEmpty_ = true;
                } else if (c != '\r') {
                    chunkLineEmpty_ = false;
                }
                break;
            case Chunk::Data:
            case Chunk::Done: break;
            }
        }
    }
}

void ZRMessageText::addHeader(const char* data, std::size_t size)
{
    std::size_t at = 0;
    while (at < size) {
        const char* end = static_cast<const char*>(std::memchr(data + at, '\n', size - at));
        const std::size_t lineEnd = end ? static_cast<std::size_t>(end - data) : size;
        if (line_.size() < kLineLookedAt)
            line_.append(data + at, std::min(lineEnd - at, kLineLookedAt - line_.size()));
        at = lineEnd;
        if (!end)
            break;
        ++at;
        if (!line_.empty() && line_.back() == '\r')
            line_.pop_back();
        const bool blank = line_.empty();
        headerLine(line_);
        line_.clear();
        if (blank && part_ == Part::Body) {
            keep(data, at);
            add(data + at, size - at);
            return;
        }
    }
    keep(data, size);
}

void ZRMessageText::headerLine(const std::string& line)
{
    if (line.empty()) {
        // A blank line before the status line is noise; after the header of
        // an interim reply (100 Continue) the real header follows.
        if (statusLine_)
            return;
        if (interim_) {
            statusLine_ = true;
            interim_ = false;
            return;
        }
        part_ = Part::Body;
        return;
    }
    if (statusLine_) {
        statusLine_ = false;
        interim_ = startsWith(line, "http/") && line.find(" 1") == line.find(' ');
        return;
    }
    if (startsWith(line, "content-type:"))
        dime_ = lowered(line).find("application/dime") != std::string::npos;
    else if (startsWith(line, "transfer-encoding:"))
        chunked_ = lowered(line).find("chunked") != std::string::npos;
}

void ZRMessageText::addUnchunked(const char* data, std::size_t size)
{
    if (dime_)
        addDime(data, size);
    else
        keep(data, size);
}

void ZRMessageText::addDime(const char* data, std::size_t size)
{
    for (;;) {
        // Empty fields end without any byte.
        while (dimeState_ != Dime::Header && dimeState_ != Dime::Done && fieldLeft_ == 0)
            endDimeField();
        if (size == 0)
            return;
        if (dimeState_ == Dime::Done) {
            leftOut_ += size;
            return;
        }
        if (dimeState_ == Dime::Header) {
            const std::size_t take = std::min(sizeof dimeHeader_ - dimeHeaderBytes_, size);
            std::memcpy(dimeHeader_ + dimeHeaderBytes_, data, take);
            dimeHeaderBytes_ += take;
            data += take;
            size -= take;
            if (dimeHeaderBytes_ == sizeof dimeHeader_)
                startDimeRecord();
            continue;
        }
        const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(fieldLeft_, size));
        if (fieldRead_ < fieldContent_)
            dimeContent(data,
                        static_cast<std::size_t>(std::min<std::uint64_t>(take, fieldContent_ - fieldRead_)));
        fieldRead_ += take;
        fieldLeft_ -= take;
        data += take;
        size -= take;
    }
}

void ZRMessageText::startDimeRecord()
{
    const unsigned char* h = dimeHeader_;
    dimeHeaderBytes_ = 0;
    if ((h[0] >> 3) != kDimeVersion1) {
        dimeState_ = Dime::Done;
        return;
    }
    const bool continuation = continues_;
    lastRecord_ = (h[0] & 0x02) != 0;
    continues_ = (h[0] & 0x01) != 0;
    const std::uint32_t dataLength =
        (std::uint32_t(h[8]) << 24) | (std::uint32_t(h[9]) << 16) | (std::uint32_t(h[10]) << 8) | h[11];
    if (!continuation) {
        if (anyRecord_)
            ++payload_;
        if (payload_ > 0) {
            listed_ = attachments_.size() < kAttachmentsListed;
            if (listed_)
                attachments_.push_back(Attachment());
            else
                ++attachmentsNotListed_;
        }
    }
    anyRecord_ = true;
    if (payload_ > 0 && listed_)
        attachments_.back().size += dataLength;
    startDimeField(Dime::Options, (std::uint32_t(h[2]) << 8) | h[3]);
}

void ZRMessageText::startDimeField(Dime field, std::uint64_t contentLength)
{
    dimeState_ = field;
    fieldContent_ = contentLength;
    fieldLeft_ = padded(contentLength);
    fieldRead_ = 0;
}

void ZRMessageText::endDimeField()
{
    const unsigned char* h = dimeHeader_;
    switch (dimeState_) {
    case Dime::Options: startDimeField(Dime::Id, (std::uint32_t(h[4]) << 8) | h[5]); break;
    case Dime::Id: startDimeField(Dime::Type, (std::uint32_t(h[6]) << 8) | h[7]); break;
    case Dime::Type:
        startDimeField(Dime::Data, (std::uint32_t(h[8]) << 24) | (std::uint32_t(h[9]) << 16) |
                                       (std::uint32_t(h[10]) << 8) | h[11]);
        break;
    case Dime::Data: dimeState_ = lastRecord_ ? Dime::Done : Dime::Header; break;
    case Dime::Header:
    case Dime::Done: break;
    }
}

void ZRMessageText::dimeContent(const char* data, std::size_t size)
{
    if (dimeState_ == Dime::Data) {
        if (payload_ == 0)
            keep(data, size);
        return;
    }
    if (payload_ == 0 || !listed_)
        return;
    std::string* name = dimeState_ == Dime::Id     ? &attachments_.back().id
                        : dimeState_ == Dime::Type ? &attachments_.back().type
                                                   : nullptr;
    if (name && name->size() < kNameKept)
        name->append(data, std::min(size, kNameKept - name->size()));
}

void ZRMessageText::keep(const char* data, std::size_t size)
{
    const std::size_t room = bound_ - std::min(bound_, text_.size());
    const std::size_t take = std::min(room, size);
    if (text_.size() + take > text_.capacity())
        text_.reserve(std::min(bound_, std::max(2 * text_.capacity(), text_.size() + take)));
    text_.append(data, take);
    leftOut_ += size - take;
}

std::string ZRMessageText::take()
{
    std::string text = std::move(text_);
    if (leftOut_ > 0)
        text += "\n[... " + std::to_string(leftOut_) + " bytes left out]";
    for (const Attachment& attachment : attachments_)
        text += "\n[attachment id=\"" + attachment.id + "\" type=\"" + attachment.type + "\" " +
                std::to_string(attachment.size) + " bytes]";
    if (attachmentsNotListed_ > 0)
        text += "\n[... " + std::to_string(attachmentsNotListed_) + " more attachments]";
    *this = ZRMessageText(bound_);
    return text;
}

}  // namespace ZR
