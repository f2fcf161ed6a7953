// SPDX-License-Identifier: GPL-2.0-or-later
// Host-name rules: acceptance, IPv6 literals, URL form, completion fallback.
#include "zrhostname.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "zrproxyremote.h"

namespace ZR {

namespace {

// The longest DNS name is 253 characters; an IPv6 literal with a zone
// index stays well below this too.
const std::size_t kMaxHostLength = 255;

bool isHostCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == ':' || c == '%';
}

bool isBracketed(const std::string& host)
{
    return host.size() >= 2 && host.front() == '[' && host.back() == ']';
}

std::string withoutBrackets(const std::string& host)
{
    return isBracketed(host) ? host.substr(1, host.size() - 2) : host;
}

// An IPv6 address, optionally with a zone index ("fe80::1%eth0").
bool isIPv6Address(const std::string& text)
{
    const std::string address = text.substr(0, text.find('%'));
    in6_addr parsed;
    return ::inet_pton(AF_INET6, address.c_str(), &parsed) == 1;
}

}  // namespace

bool isAcceptableHost(const std::string& host)
{
    const std::string bare = withoutBrackets(host);
    if (bare.empty() || host.size() > kMaxHostLength)
        return false;
    for (char c : bare)
        if (!isHostCharacter(c))
            return false;
    // A colon only in an IPv6 address ("host:port" is no host), and
    // brackets only around one.
    if (bare.find(':') != std::string::npos)
        return isIPv6Address(bare);
    return !isBracketed(host);
}

bool isIPv6Literal(const std::string& host)
{
    return withoutBrackets(host).find(':') != std::string::npos;
}

std::string urlHost(const std::string& host)
{
    if (isIPv6Literal(host))
        return "[" + withoutBrackets(host) + "]";
    return host;
}

std::string endpointUrl(const std::string& host, int port)
{
    return "http://" + urlHost(host) + ":" + std::to_string(port);
}

bool endpointHostUsable(const std::string& endpoint)
{
    return isAcceptableHost(hostOfUrl(endpoint));
}

std::string hostOfUrl(const std::string& url)
{
    const std::size_t scheme = url.find("://");
    const std::size_t start = scheme == std::string::npos ? 0 : scheme + 3;
    if (start < url.size() && url[start] == '[') {
        const std::size_t close = url.find(']', start);
        return close == std::string::npos ? std::string() : url.substr(start, close - start + 1);
    }
    const std::size_t end = url.find_first_of(":/", start);
    return url.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::string hostAndPortOfUrl(const std::string& url)
{
    const std::size_t scheme = url.find("://");
    const std::size_t start = scheme == std::string::npos ? 0 : scheme + 3;
    const std::size_t end = url.find('/', start);
    return url.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

bool hostResolves(const std::string& host)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0)
        return false;
    ::freeaddrinfo(found);
    return true;
}

std::string chooseHost(const std::string& host, const std::function<bool(const std::string&)>& resolves)
{
    if (isIPv6Literal(host))
        return withoutBrackets(host);
    const std::string completed = ZRProxyRemote::normalizeHost(host);
    if (completed != host && !resolves(completed) && resolves(host))
        return host;
    return completed;
}

}  // namespace ZR
