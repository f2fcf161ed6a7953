// SPDX-License-Identifier: GPL-2.0-or-later
// The broker's namespace table: the one table of the process, installed by
// gSOAP in every context it initialises. Its order is the order of the xmlns
// declarations written on each request envelope.
#include "stdsoap2.h"

// Responses may declare any dated version of the XML Schema namespaces; the
// third column is the pattern gSOAP also accepts on input ('*' matches any
// text).
SOAP_NMAC struct Namespace namespaces[] = {
    {"SOAP-ENV", "http://schemas.xmlsoap.org/soap/envelope/", nullptr, nullptr},
    {"SOAP-ENC", "http://schemas.xmlsoap.org/soap/encoding/", nullptr, nullptr},
    {"xsi", "http://www.w3.org/2001/XMLSchema-instance", "http://www.w3.org/*/XMLSchema-instance", nullptr},
    {"xsd", "http://www.w3.org/2001/XMLSchema", "http://www.w3.org/*/XMLSchema", nullptr},
    {"zrbroker", "urn:zrbroker", nullptr, nullptr},
    {"zr", "urn:korvantis", nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr},
};
