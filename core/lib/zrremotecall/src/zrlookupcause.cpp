// SPDX-License-Identifier: GPL-2.0-or-later
// The cause line of a failed look-up. The transport reports connection
// failures with the texts gSOAP's own transport has always given (kept for
// callers that read them), so the resolver's failure is told by its detail.
#include "zrlookupcause.h"

#include <cerrno>
#include <cstring>

#include <stdsoap2.h>

#include "zrhostname.h"

namespace ZR {

namespace {

const char kResolverDetail[] = "getaddrinfo failed in tcp_connect()";
// A fault string from the network is shown only this far.
const std::size_t kFaultShown = 200;

std::string textOf(const char* const* slot)
{
    std::string text = (slot && *slot) ? std::string(*slot) : std::string();
    if (text.size() > kFaultShown)
        text = text.substr(0, kFaultShown) + "...";
    return text;
}

bool isReceivedFault(int error)
{
    return error == SOAP_FAULT || error == SOAP_CLI_FAULT || error == SOAP_SVR_FAULT;
}

std::string connectCause(struct soap* context, const std::string& endpoint)
{
    const std::string faultString = textOf(soap_faultstring(context));
    const std::string hostAndPort = hostAndPortOfUrl(endpoint);
    if (textOf(soap_faultdetail(context)) == kResolverDetail)
        return "the host name " + hostOfUrl(endpoint) + " did not resolve (" + faultString + ")";
    if (context->errnum == ECONNREFUSED)
        return "connection refused at " + hostAndPort + ": is a broker listening there?";
    return "cannot connect to " + hostAndPort + ": " + faultString;
}

}  // namespace

std::string lookUpCause(struct soap* context, const ZRExchangeReport& report, const std::string& endpoint)
{
    const int error = context->error;
    if (report.connectFailed)
        return connectCause(context, endpoint);
    if (isReceivedFault(error))
        return "the broker answered with a fault: " + textOf(soap_faultstring(context));
    // gSOAP reports a reply without a SOAP message by its HTTP status.
    if (error >= 200 && error < 300)
        return "the reply held no SOAP message (HTTP status " + std::to_string(error) + ")";
    if (error >= 100 && error < 600)
        return "the reply was not SOAP: HTTP status " + std::to_string(error);
    if (report.reset)
        return "the broker reset the connection";
    if (error == SOAP_EOF && !report.received)
        return "the broker closed the connection without answering";
    if (error == SOAP_EOF)
        return "the broker's reply ended early";
    return "the broker's reply could not be read: " + textOf(soap_faultstring(context));
}

std::string unusableHostCause(const std::string& endpoint)
{
    return "no usable host in " + endpoint;
}

}  // namespace ZR
