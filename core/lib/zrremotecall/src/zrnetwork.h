// SPDX-License-Identifier: GPL-2.0-or-later
// ZRNetwork: makes SOAP connections and performs the broker operations on
// them: the module look-up, pointing a connection at a module, and the remote
// method call. All state of an operation lives in the connection passed in.
#pragma once

#include <string>

#include <boost/shared_ptr.hpp>

#include "zrconnection.h"
#include "zrexport.h"
#include "zrmoduleinfo.h"
#include "zrvalue.h"

namespace ZR {

class ZR_API ZRNetwork {
public:
    ZRNetwork();
    virtual ~ZRNetwork();

    ZRNetwork(const ZRNetwork&) = delete;
    ZRNetwork& operator=(const ZRNetwork&) = delete;

    // Gives the default connection a context with 8-second time-outs. The
    // URL is not used: nothing is ever sent on the default connection.
    void initDefaultConnection(const std::string& url);

    // A keep-alive connection for a module, posting to `url` until
    // setEndPoint() moves it. `timeout` 0 means no time-outs; otherwise it
    // becomes every time-out of the context (gSOAP units: seconds when
    // positive, microseconds when negative).
    boost::shared_ptr<ZRConnection> createConnection(const boost::shared_ptr<zr__ZRModuleInfoVexel>& info,
                                                     const std::string& url, const int& timeout);

    // Asks the broker behind `connection` for the module called `moduleName`
    // and overwrites `*moduleInfo` with the answer. Returns 0; raises
    // ZRNetworkError when there is no connection or the look-up fails.
    int getModuleByName(const boost::shared_ptr<ZRValue>& connection, const std::string& moduleName,
                        const boost::shared_ptr<zr__ZRModuleInfoVexel>& moduleInfo);

    // Points the connection at "http://" ip ":" port. No traffic.
    void setEndPoint(const boost::shared_ptr<ZRValue>& connection, const std::string& ip, const int& port);

    // Calls `methodName` of the connection's module with `parameters` and
    // returns the decoded result. A failed exchange that left no result is
    // raised as ZRError carrying the SOAP fault text.
    ZRValue callMethod(const boost::shared_ptr<ZRValue>& connection, const std::string& methodName,
                       const ZRValue& parameters);

    const boost::shared_ptr<ZRConnection>& getDefaultConnection() const { return defaultConnection; }

private:
    boost::shared_ptr<ZRConnection> defaultConnection;
    // Part of the object layout that both gateways share; nothing reads them.
    [[maybe_unused]] bool reservedFlag1;
    [[maybe_unused]] bool reservedFlag2;
};

}  // namespace ZR
