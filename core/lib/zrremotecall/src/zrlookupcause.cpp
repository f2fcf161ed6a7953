// SPDX-License-Identifier: GPL-2.0-or-later
// The cause line of a failed look-up. The transport reports connection
// failures with the texts gSOAP's own transport has always given (kept for
// callers that read them), so the resolver's failure is told by its detail.
#include "zrlookupcause.h"

#include <cerrno>

#include "zrhostname.h"

namespace ZR {

namespace {

const char kResolverDetail[] = "getaddrinfo failed in tcp_connect()";
// A fault string from the network is shown only this far.
const std::size_t kFaultShown = 200;

std::string shown(const std::string& text)
{
    return text.size() > kFaultShown ? text.substr(0, kFaultShown) + "..." : text;
}

std::string connectCause(const ZRSoapFailure& failure, const std::string& endpoint)
{
    const std::string faultString = shown(failure.faultString);
    const std::string hostAndPort = hostAndPortOfUrl(endpoint);
    if (shown(failure.detail) == kResolverDetail)
        return "the host name " + hostOfUrl(endpoint) + " did not resolve (" + faultString + ")";
    if (failure.systemError == ECONNREFUSED)
        return "connection refused at " + hostAndPort + ": is a broker listening there?";
    return "cannot connect to " + hostAndPort + ": " + faultString;
}

}  // namespace

std::string lookUpCause(const ZRSoapFailure& failure, const ZRExchangeReport& report,
                        const std::string& endpoint)
{
    if (report.connectFailed)
        return connectCause(failure, endpoint);
    if (failure.receivedFault)
        return "the broker answered with a fault: " + shown(failure.faultString);
    // gSOAP reports a reply without a SOAP message by its HTTP status.
    if (failure.httpStatus >= 200 && failure.httpStatus < 300)
        return "the reply held no SOAP message (HTTP status " + std::to_string(failure.httpStatus) + ")";
    if (failure.httpStatus != 0)
        return "the reply was not SOAP: HTTP status " + std::to_string(failure.httpStatus);
    if (report.reset)
        return "the broker reset the connection";
    if (failure.endOfInput && !report.received)
        return "the broker closed the connection without answering";
    if (failure.endOfInput)
        return "the broker's reply ended early";
    return "the broker's reply could not be read: " + shown(failure.faultString);
}

std::string unusableHostCause(const std::string& endpoint)
{
    return "no usable host in " + endpoint;
}

}  // namespace ZR
