// SPDX-License-Identifier: GPL-2.0-or-later
// ZRConnection: construction, accessors and the release of the gSOAP context.
#include "zrconnection.h"

#include <cstdio>
#include <iostream>

#include "zrsoapexchange.h"

namespace ZR {

ZRConnection::ZRConnection() : context(nullptr) {}

ZRConnection::~ZRConnection()
{
    // Whatever the session printed should be out before the context (and
    // possibly the module holding the transport) goes away.
    std::cout.flush();
    std::fflush(nullptr);
    if (context) {
        releaseContext(context);
        context = nullptr;
    }
}

void ZRConnection::setModuleInfo(boost::shared_ptr<zr__ZRModuleInfoVexel> info)
{
    moduleInfo = std::move(info);
}

boost::shared_ptr<zr__ZRModuleInfoVexel> ZRConnection::getModuleInfo() const
{
    return moduleInfo;
}

std::string ZRConnection::getEndpoint() const
{
    return endpoint;
}

}  // namespace ZR
