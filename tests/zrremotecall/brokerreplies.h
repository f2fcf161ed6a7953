// SPDX-License-Identifier: GPL-2.0-or-later
// Canned broker answers for the remote-call tests: module look-ups, method
// results and SOAP faults, as complete HTTP responses.
#pragma once

#include <string>

#include "scriptedpeer.h"

namespace ZRTest {

// The content of a zr:ZRModuleInfo record.
inline std::string moduleRecord(const std::string& name, const std::string& ip, int port)
{
    return "<name>" + name + "</name><architecture>1</architecture><ip>" + ip + "</ip><port>" +
           std::to_string(port) +
           "</port><processId>4242</processId><modulePointer>17</modulePointer>"
           "<isABroker>false</isABroker><keepAlive>true</keepAlive>";
}

inline std::string lookupReply(const std::string& recordContent)
{
    return httpResponse(soapEnvelope("<zrbroker:getModuleByNameResponse><zrbroker:return>" + recordContent +
                                     "</zrbroker:return></zrbroker:getModuleByNameResponse>"));
}

inline std::string lookupReply(const std::string& name, const std::string& ip, int port)
{
    return lookupReply(moduleRecord(name, ip, port));
}

inline std::string callEnvelope(const std::string& valueXml)
{
    return soapEnvelope("<zrbroker:callVexelResponse><zrbroker:return>" + valueXml +
                        "</zrbroker:return></zrbroker:callVexelResponse>");
}

inline std::string callReply(const std::string& valueXml)
{
    return httpResponse(callEnvelope(valueXml));
}

inline std::string intItem(int value)
{
    return "<item xsi:type=\"xsd:int\">" + std::to_string(value) + "</item>";
}

inline std::string faultReply(const std::string& faultstring, const std::string& detail = "")
{
    return httpResponse(soapEnvelope(soapFault("SOAP-ENV:Server", faultstring, detail)), 500,
                        "Internal Server Error");
}

}  // namespace ZRTest
