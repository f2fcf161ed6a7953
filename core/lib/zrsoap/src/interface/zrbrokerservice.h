// SPDX-License-Identifier: GPL-2.0-or-later
// The server side of the broker protocol: an interface for what a broker
// does with the two operations, and the loop that serves a connection with
// it through the generated request dispatcher (soap_serve).
#pragma once

#include <string>

#include "zrsoapH.h"
#include "zrvalue.h"

namespace ZR {

class ZRBrokerService {
public:
    virtual ~ZRBrokerService();

    // Runs `methodName` of module `moduleName`. The received attachments are
    // already in the Binary values of `parameters`; the Binary values of
    // `result` are sent as attachments. Returns SOAP_OK, or an error code
    // such as the one of soap_sender_fault / soap_receiver_fault to answer
    // with a fault. An exception becomes a receiver fault with its text.
    virtual int callVexel(struct soap* soap, const std::string& moduleName, const std::string& methodName,
                          ZRValue& parameters, ZRValue& result) = 0;

    // Describes module `moduleName` in `info` (which starts with its
    // defaults), or answers with a fault as above.
    virtual int getModuleByName(struct soap* soap, const std::string& moduleName,
                                zrsoap::zr__ZRModuleInfo& info) = 0;
};

// Serves the requests arriving on `soap` (an accepted socket, or any
// transport installed on the context) until the peer ends the keep-alive
// connection; returns soap_serve's result. `soap->user` points at `service`
// while this runs and is restored afterwards.
int serveBrokerRequests(struct soap* soap, ZRBrokerService& service);

}  // namespace ZR
