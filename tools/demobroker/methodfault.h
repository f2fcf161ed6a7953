// SPDX-License-Identifier: GPL-2.0-or-later
// MethodFault: a failure of a demo method that the broker reports to the
// caller as a SOAP fault.
#pragma once

#include <string>

namespace ZRDemo {

// `sender` picks a client fault (bad request) over a server fault.
struct MethodFault {
    bool sender;
    std::string faultstring;
    std::string detail;
};

}  // namespace ZRDemo
