// SPDX-License-Identifier: GPL-2.0-or-later
// The state of a gSOAP plug-in as one C++ object: copied with the context
// (soap_copy) and deleted with it.
#pragma once

#include <stdsoap2.h>

namespace ZR {

template <typename State>
int copyPluginState(struct soap*, struct soap_plugin* destination, struct soap_plugin* source)
{
    destination->data = new State(*static_cast<State*>(source->data));
    return SOAP_OK;
}

template <typename State>
void deletePluginState(struct soap*, struct soap_plugin* plugin)
{
    delete static_cast<State*>(plugin->data);
    plugin->data = nullptr;
}

}  // namespace ZR
