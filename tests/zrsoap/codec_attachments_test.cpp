// SPDX-License-Identifier: GPL-2.0-or-later
// The DIME attachment lists of the codec: Binary values registered depth
// first, and restored in order with the counter.
#include "codecxml.h"

namespace {

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

    // Beyond the last attachment a Binary keeps bytes of its own, but one
    // that holds the placeholder has lost them.
    receive({"only", ""});
    ZRValue three = arrayOf({binaryOf("1"), binaryOf("1"), binaryOf("inline")});
    counter = 0;
    ZR::restoreBinaryAttachments(soap_, three, counter);
    EXPECT_EQ(counter, 3);
    EXPECT_TRUE(three == arrayOf({binaryOf("only"), binaryOf(""), binaryOf("inline")}));
    ZRValue lost = arrayOf({binaryOf("1"), arrayOf({binaryOf("1"), binaryOf("1")})});
    counter = 0;
    try {
        ZR::restoreBinaryAttachments(soap_, lost, counter);
        ADD_FAILURE() << "a placeholder without its attachment was kept";
    } catch (const ZRError& error) {
        EXPECT_EQ(error.kind(), ZR::ZRErrorKind::BadReply);
        EXPECT_STREQ(error.what(),
                     "\tZRValue::restoreBinaryAttachments\n\tBinary value 3 of the reply holds the "
                     "attachment placeholder, but no attachment arrived for it");
    }

    ZRValue single = binaryOf("1");
    counter = 1;
    ZR::restoreBinaryAttachments(soap_, single, counter);
    EXPECT_EQ(counter, 2);
    EXPECT_TRUE(single == binaryOf(""));

    // An attachment beyond the last Binary belongs to no value.
    receive({"one", "two"});
    ZRValue fewer = arrayOf({binaryOf("1"), ZRValue(3)});
    counter = 0;
    try {
        ZR::restoreBinaryAttachments(soap_, fewer, counter);
        ADD_FAILURE() << "an attachment left over was dropped";
    } catch (const ZRError& error) {
        EXPECT_EQ(error.kind(), ZR::ZRErrorKind::BadReply);
        EXPECT_STREQ(error.what(),
                     "\tZRValue::restoreBinaryAttachments\n\tthe reply carries 1 more attachment "
                     "than it has Binary values (1)");
    }
}

}  // namespace
