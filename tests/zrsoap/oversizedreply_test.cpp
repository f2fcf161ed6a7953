// SPDX-License-Identifier: GPL-2.0-or-later
// A reply whose value text exceeds what the input hook holds in memory is
// refused with a clear error instead of growing without end.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "expectthrow.h"
#include "memorytransport.h"
#include "scriptedpeer.h"
#include "zrsoapH.h"
#include "zrvaluesoap.h"

namespace {

TEST(OversizedReply, RefusedAtTheTextLimit)
{
    std::unique_ptr<struct soap, void (*)(struct soap*)> soap(soap_new2(SOAP_IO_KEEPALIVE, SOAP_IO_KEEPALIVE),
                                                              [](struct soap* context) {
                                                                  soap_destroy(context);
                                                                  soap_end(context);
                                                                  soap_free(context);
                                                              });
    ZRTest::MemoryTransport transport(soap.get());
    std::string value = "<item xsi:type=\"xsd:string\">";
    value.append(ZR::kMaxValueTextBytes + (1 << 20), 'a');
    value += "</item>";
    transport.addReply(
        ZRTest::httpResponse(ZRTest::soapEnvelope("<zrbroker:callVexelResponse><zrbroker:return>" + value +
                                                  "</zrbroker:return></zrbroker:callVexelResponse>")));
    value.clear();
    value.shrink_to_fit();

    zrsoap::zrbroker__callVexelResponse response;
    const ZR::ZRValue parameters;
    EXPECT_THROW_MSG(
        zrsoap::soap_call_zrbroker__callVexel(soap.get(), "http://b:1", "", "M", "m", parameters, response),
        ZR::ZRError, "\tZRValue::readValueXml\n\tthe value text is longer than 268435456 bytes");
    EXPECT_FALSE(response._return.hasValue());
    // The last MiB of the reply went with the connection.
    EXPECT_EQ(transport.unreadBytes(), 0u);
    EXPECT_GE(transport.closes(), 1);
}

}  // namespace
