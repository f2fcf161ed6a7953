// SPDX-License-Identifier: GPL-2.0-or-later
// The broker's service, as soapcpp2 reads it: the two operations the client
// calls, the module description record and the hook-serialized ZRValue.
// soapcpp2 -qzrsoap turns it into zrsoapStub.h, zrsoapH.h, zrsoapC.cpp,
// zrsoapClient.cpp and zrsoapServer.cpp in the build tree (namespace zrsoap).

//gsoap zrbroker service name:         zrbroker
//gsoap zrbroker service namespace:    urn:zrbroker
//gsoap zrbroker service location:     http://localhost/brokerserver.cgi
//gsoap zrbroker service style:        document
//gsoap zrbroker service encoding:     literal
//gsoap zrbroker schema namespace:     urn:zrbroker
//gsoap zrbroker schema elementForm:   qualified
//gsoap zr       schema namespace:     urn:korvantis
//gsoap zr       schema elementForm:   unqualified

#include "zrvalue.h"

// ZRValue is written and read only by the hand-written hooks of
// zrvaluesoap.cpp. A bare extern class would be transient (dropped from the
// messages); the typedef gives it the schema type xsd:anyType and makes the
// generated code call soap_out_xsd__anyType / soap_in_xsd__anyType.
extern class ZR::ZRValue;
extern typedef ZR::ZRValue xsd__anyType;

// Booleans of the module description carry the schema type "xsd:bool".
typedef bool xsd__bool;

// The description of one module as the broker reports it.
class zr__ZRModuleInfo {
public:
    std::string name;
    int architecture;
    std::string ip;
    int port;
    int processId;
    int modulePointer;
    xsd__bool isABroker;
    xsd__bool keepAlive;
};

// The leading underscore of `_return` makes the generated reader accept any
// element name for the result (it is "zrbroker:return" on the wire, and the
// writer uses that name).
struct zrbroker__callVexelResponse {
    xsd__anyType _return;
};

struct zrbroker__getModuleByNameResponse {
    zr__ZRModuleInfo _return;
};

int zrbroker__callVexel(std::string mod, std::string meth, xsd__anyType p,
                        struct zrbroker__callVexelResponse& result);

int zrbroker__getModuleByName(std::string pModuleName,
                              struct zrbroker__getModuleByNameResponse& result);
