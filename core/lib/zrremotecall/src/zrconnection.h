// SPDX-License-Identifier: GPL-2.0-or-later
// ZRConnection: one SOAP client channel, i.e. a gSOAP context, the URL that
// requests on it are posted to, and the description of the module it serves.
// It derives from ZRValue so that it can travel as a ZRValue handle.
#pragma once

#include <string>

#include <boost/shared_ptr.hpp>

#include "zrexport.h"
#include "zrmoduleinfo.h"
#include "zrvalue.h"

struct soap;

namespace ZR {

class ZR_API ZRConnection : public ZRValue {
public:
    ZRConnection();
    // Releases the gSOAP context together with everything it still holds.
    ~ZRConnection() override;

    // Owns a gSOAP context: copying would release it twice.
    ZRConnection(const ZRConnection&) = delete;
    ZRConnection& operator=(const ZRConnection&) = delete;

    void setModuleInfo(boost::shared_ptr<zr__ZRModuleInfoVexel> info);
    boost::shared_ptr<zr__ZRModuleInfoVexel> getModuleInfo() const;
    std::string getEndpoint() const;

    // The module served; the same object the proxy holds.
    boost::shared_ptr<zr__ZRModuleInfoVexel> moduleInfo;
    // "http://" host ":" port; ZRNetwork::setEndPoint rewrites it.
    std::string endpoint;
    // Made by ZRNetwork, owned here; null until then.
    struct soap* context;
    std::string spare;
};

}  // namespace ZR
