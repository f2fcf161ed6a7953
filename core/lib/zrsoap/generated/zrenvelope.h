// SPDX-License-Identifier: GPL-2.0-or-later
// The SOAP envelope records shared by every unit: header, fault and fault
// detail. soapcpp2 -penv generates them, together with the global envelope
// functions that the gSOAP runtime calls (soap_putfault, soap_getheader,
// soap_faultstring, ...), into envStub.h, envH.h and envC.cpp.

//gsoap h schema namespace:   urn:zrbroker:header
//gsoap h schema elementForm: unqualified
//gsoap f schema namespace:   urn:zrbroker:fault
//gsoap f schema elementForm: qualified

struct h__authentication {
    char* userid;
    char* passwd;
};

struct SOAP_ENV__Header {
    struct h__authentication* h__credentials;
};

class _f__error {
public:
    std::string problem;
    double a;
    double b;
};

struct SOAP_ENV__Detail {
    _f__error* f__error;
    int __type;   // gSOAP's generic element slot: type number and pointer
    void* fault;
    _XML __any;   // detail content that matched nothing else, as literal XML
};

struct SOAP_ENV__Code {
    _QName SOAP_ENV__Value;
    struct SOAP_ENV__Code* SOAP_ENV__Subcode;
};

struct SOAP_ENV__Reason {
    char* SOAP_ENV__Text;
};

struct SOAP_ENV__Fault {
    _QName faultcode;
    char* faultstring;
    char* faultactor;
    struct SOAP_ENV__Detail* detail;
    struct SOAP_ENV__Code* SOAP_ENV__Code;
    struct SOAP_ENV__Reason* SOAP_ENV__Reason;
    char* SOAP_ENV__Node;
    char* SOAP_ENV__Role;
    struct SOAP_ENV__Detail* SOAP_ENV__Detail;
};
