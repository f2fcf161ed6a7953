// SPDX-License-Identifier: GPL-2.0-or-later
// Handles to and from registry keys, and the one answer to a handle that
// names no proxy.
#include "zrmxhandle.h"

#include "zrmxfailure.h"
#include "zrproxyregistry.h"

namespace ZR {

const char kNullObject[] = "Object is NULL !\n";

mxArray* handleArray(std::uint32_t key)
{
    mxArray* handle = mxCreateNumericMatrix(1, 1, mxUINT32_CLASS, mxREAL);
    *static_cast<std::uint32_t*>(mxGetData(handle)) = key;
    return handle;
}

std::uint32_t handleKey(const mxArray* handle)
{
    if (!mxIsUint32(handle))
        throw ZRMxArgumentError(identifier::invalidHandle, kNullObject);
    if (mxGetNumberOfElements(handle) == 0)
        return 0;
    return *static_cast<const std::uint32_t*>(mxGetData(handle));
}

ZRProxyRemote& proxyOf(const mxArray* handle)
{
    ZRProxyRemote* proxy = ZRProxyRegistry::find(handleKey(handle));
    if (!proxy)
        throw ZRMxArgumentError(identifier::invalidHandle, kNullObject);
    return *proxy;
}

}  // namespace ZR
