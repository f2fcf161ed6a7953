// SPDX-License-Identifier: GPL-2.0-or-later
// The functions and the table that the shared gSOAP runtime (libgsoap++)
// leaves to the program and binds when it is loaded: the envelope's header
// and fault handlers, the generic element functions and the namespace
// table. libzrcore is compiled with hidden visibility, yet the runtime can
// only find these if they stay visible, so the build includes this header
// ahead of the two units that define them (the envelope unit and the
// namespace table). Every other gSOAP symbol of the library stays hidden.
#pragma once

#pragma GCC visibility push(default)
#include "stdsoap2.h"
extern "C" {
void* soap_getelement(struct soap*, const char*, int*);
int soap_putelement(struct soap*, const void*, const char*, int, int);
void soap_markelement(struct soap*, const void*, int);
void* soap_dupelement(struct soap*, const void*, int);
void soap_delelement(const void*, int);
}
#pragma GCC visibility pop
