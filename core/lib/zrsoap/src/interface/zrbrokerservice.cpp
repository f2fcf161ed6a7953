// SPDX-License-Identifier: GPL-2.0-or-later
// Dispatch from the generated request handlers to a ZRBrokerService. The
// generated server code calls free functions named after the operations;
// defining them here keeps the core library free of undefined symbols and
// lets each server plug in its own service.
#include "zrbrokerservice.h"

#include <exception>

#include "zrvaluesoap.h"

namespace ZR {

namespace {

// Keeps the service reachable from the context for the generated handlers,
// and gives the context's user pointer back however serving ends.
class ServiceBinding {
public:
    ServiceBinding(struct soap* soap, ZRBrokerService& service) : soap_(soap), saved_(soap->user)
    {
        soap_->user = &service;
    }
    ~ServiceBinding() { soap_->user = saved_; }
    ServiceBinding(const ServiceBinding&) = delete;
    ServiceBinding& operator=(const ServiceBinding&) = delete;

private:
    struct soap* soap_;
    void* saved_;
};

ZRBrokerService* serviceOf(struct soap* soap)
{
    return static_cast<ZRBrokerService*>(soap->user);
}

int noService(struct soap* soap)
{
    return soap_receiver_fault(soap, "no broker service is serving this connection", nullptr);
}

}  // namespace

ZRBrokerService::~ZRBrokerService() = default;

int serveBrokerRequests(struct soap* soap, ZRBrokerService& service)
{
    const ServiceBinding binding(soap, service);
    return zrsoap::soap_serve(soap);
}

}  // namespace ZR

int zrsoap::zrbroker__callVexel(struct soap* soap, std::string mod, std::string meth, ZR::ZRValue p,
                                struct zrsoap::zrbroker__callVexelResponse& result)
{
    ZR::ZRBrokerService* service = ZR::serviceOf(soap);
    if (!service)
        return ZR::noService(soap);
    try {
        int attachment = 0;
        ZR::restoreBinaryAttachments(soap, p, attachment);
        const int status = service->callVexel(soap, mod, meth, p, result._return);
        if (status == SOAP_OK)
            ZR::registerBinaryAttachments(soap, result._return);
        return status;
    } catch (const std::exception& error) {
        return soap_receiver_fault(soap, error.what(), nullptr);
    }
}

int zrsoap::zrbroker__getModuleByName(struct soap* soap, std::string pModuleName,
                                      struct zrsoap::zrbroker__getModuleByNameResponse& result)
{
    ZR::ZRBrokerService* service = ZR::serviceOf(soap);
    if (!service)
        return ZR::noService(soap);
    try {
        return service->getModuleByName(soap, pModuleName, result._return);
    } catch (const std::exception& error) {
        return soap_receiver_fault(soap, error.what(), nullptr);
    }
}
