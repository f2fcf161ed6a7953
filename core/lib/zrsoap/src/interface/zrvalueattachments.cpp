// SPDX-License-Identifier: GPL-2.0-or-later
// The DIME attachments that carry the bytes of Binary values beside the XML,
// which holds a placeholder for each: registered for a request, restored
// from a reply, both depth first, paired with the placeholders by order.
#include <climits>
#include <cstring>

#include "zrcompatibility.h"
#include "zrnumbertext.h"
#include "zrsoapH.h"
#include "zrthrow.h"
#include "zrvaluesoap.h"
#include "zrvaluewalk.h"

namespace ZR {

namespace {

// A Binary without its attachment would leave every later placeholder
// paired with the wrong bytes, so the call fails before anything is sent.
[[noreturn]] void cannotAttach(int number, std::size_t size)
{
    ZRError error("ZRValue", "registerBinaryAttachments",
                  "Binary value " + decimalText(number) + " of the parameters (" + std::to_string(size) +
                      " bytes) could not be attached: out of memory; nothing was sent",
                  compatibility::kCodecSource, __LINE__);
    throw error;
}

// `number` counts the Binary values of the parameters from 1.
void registerAttachment(struct soap* soap, const ZRValue& binary, int number)
{
    const std::size_t size = static_cast<std::size_t>(binary.size());
    // An empty Binary still gets its (empty) attachment: the receiver pairs
    // attachments with placeholders by order alone.
    char* copy = static_cast<char*>(soap_malloc(soap, size ? size : 1));
    if (!copy)
        cannotAttach(number, size);
    if (size)
        std::memcpy(copy, binary.byteData(), size);
    if (soap_set_dime_attachment(soap, copy, size, "application/octet-stream", "image", 0, nullptr) !=
        SOAP_OK)
        cannotAttach(number, size);
}

// The one byte "1" that the placeholder's base64 text "MQ==" decodes to.
bool holdsPlaceholder(const ZRValue& binary)
{
    return binary.size() == 1 && binary.byteData()[0] == '1';
}

[[noreturn]] void bytesLost(int number)
{
    throwWithKind(
        ZRError("ZRValue", "restoreBinaryAttachments",
                "Binary value " + decimalText(number + 1) +
                    " of the reply holds the attachment placeholder, but no attachment arrived for it",
                compatibility::kCodecSource, __LINE__),
        ZRErrorKind::BadReply);
}

// Attachments are paired with Binary values by order: one left over belongs
// to no value, and the reply cannot be what its sender meant.
[[noreturn]] void attachmentsLeftOver(int binaries, const struct soap_multipart* extra)
{
    int count = 0;
    for (; extra; extra = extra->next)
        ++count;
    throwWithKind(
        ZRError("ZRValue", "restoreBinaryAttachments",
                "the reply carries " + decimalText(count) + " more attachment" + (count == 1 ? "" : "s") +
                    " than it has Binary values (" + decimalText(binaries) + ")",
                compatibility::kCodecSource, __LINE__),
        ZRErrorKind::BadReply);
}

}  // namespace

void registerBinaryAttachments(struct soap* soap, const ZRValue& parameters)
{
    if (parameters.valueType() == ZRValue::Binary) {
        registerAttachment(soap, parameters, 1);
        return;
    }
    if (parameters.valueType() != ZRValue::Array)
        return;
    soap_set_dime(soap);
    int number = 0;
    walkValue(parameters, [soap, &number](const ZRValue& value, int) {
        if (value.valueType() == ZRValue::Binary)
            registerAttachment(soap, value, ++number);
        return true;
    });
}

void restoreBinaryAttachments(struct soap* soap, ZRValue& result, int& counter)
{
    // The attachment for the counter-th Binary is looked up once and then
    // followed along the list.
    const struct soap_multipart* attachment = counter < 0 ? nullptr : soap->dime.list;
    for (int skipped = 0; attachment && skipped < counter; ++skipped)
        attachment = attachment->next;
    walkValue(result, [&](ZRValue& value, int) {
        if (value.valueType() != ZRValue::Binary)
            return true;
        if (attachment && attachment->size <= std::size_t(INT_MAX))
            value.assignBytes(attachment->ptr, static_cast<int>(attachment->size));
        else if (holdsPlaceholder(value))
            bytesLost(counter);
        if (attachment)
            attachment = attachment->next;
        ++counter;
        return true;
    });
    if (attachment)
        attachmentsLeftOver(counter, attachment);
}

}  // namespace ZR
