// SPDX-License-Identifier: GPL-2.0-or-later
// Host names as the user gives them: which texts can name a host at all,
// IPv6 literals, how a host is written into a URL, and which name a proxy
// contacts when the completed name does not resolve.
#pragma once

#include <functional>
#include <string>

#include "zrexport.h"

namespace ZR {

// Whether `host` can name a host or an address: not empty, at most 255
// characters of letters, digits and - . _ : % only, optionally inside one
// pair of brackets. Anything else (whitespace, control characters, a URL)
// would make a malformed end point.
ZR_API bool isAcceptableHost(const std::string& host);

// Whether `host` is an IPv6 literal ("::1", "[::1]", "::ffff:127.0.0.1").
bool isIPv6Literal(const std::string& host);

// `host` as it goes into a URL: IPv6 literals in brackets, others as given.
std::string urlHost(const std::string& host);

// The end point "http://" host ":" `port` of a broker or module at `host`.
std::string endpointUrl(const std::string& host, int port);

// Whether the host of `endpoint` is acceptable (isAcceptableHost): the one
// check the core makes before an exchange, since gSOAP would talk to
// standard input and output for lack of a host.
bool endpointHostUsable(const std::string& endpoint);

// The host part of an "http://" URL as written by urlHost(), brackets
// included; empty when there is none.
std::string hostOfUrl(const std::string& url);

// "host:port" of an "http://host:port" URL, as it is written there.
std::string hostAndPortOfUrl(const std::string& url);

// Whether the system resolver knows `host`.
bool hostResolves(const std::string& host);

// The host a proxy contacts for the broker host `host`. IPv6 literals are
// used as they are (without brackets). Other names are completed as brokers
// have always been reached (ZRProxyRemote::normalizeHost); when the
// completed name does not resolve and the name as given does, the name as
// given is used, so that "localhost" and names from DNS or /etc/hosts work.
std::string chooseHost(const std::string& host,
                       const std::function<bool(const std::string&)>& resolves = hostResolves);

}  // namespace ZR
