// SPDX-License-Identifier: GPL-2.0-or-later
// zr__ZRModuleInfoVexel: the in-memory description of one module hosted by
// the broker. It mirrors the generated wire record zr__ZRModuleInfo member for
// member, without the SOAP class operations, so it can be shared freely.
#pragma once

#include <cstdint>
#include <string>

namespace ZR {

struct zr__ZRModuleInfoVexel {
    std::string name;
    std::int32_t architecture = 0;
    std::string ip;
    std::int32_t port = 0;
    std::int32_t processId = 0;
    std::int32_t modulePointer = 0;
    bool isABroker = false;
    bool keepAlive = false;
};

}  // namespace ZR
