// SPDX-License-Identifier: GPL-2.0-or-later
// Conversion between MATLAB arrays and ZRValue, and the text helpers both
// gateways use at the MEX boundary. Compiled into each MEX module, since it
// needs the host's mex.h; everything else lives in the core library.
#pragma once

#include <string>

#include "mex.h"
#include "zrmxfailure.h"
#include "zrvalue.h"

namespace ZR {

// One call parameter from one MATLAB array. Texts become Strings, doubles
// single-precision Floats, int8..uint32 Ints (low 32 bits), logicals Bools;
// arrays of more than one element become Arrays of rows, cell arrays of
// more than one element Arrays of their converted cells, a zrbinary object
// a Binary. Under MATLAB, string scalars become Strings, string arrays
// Arrays of Strings, and int64/uint64 values that fit in an int32 Ints.
// Classes without a wire form print "Unknown parameter type: <class id>"
// to the command window and throw ZRMxArgumentError with a text that names
// the class ("Unknown parameter type: struct"); sparse, complex and N-d
// arrays throw it with a text that names their form ("Unsupported parameter
// type: complex double", "... 2x2x2 double").
ZRValue mxArrayToZRValue(const mxArray* array);

// A call's parameter list from a cell array: one element per cell,
// column-major, each as mxArrayToZRValue makes it; no cells give an Invalid
// value. A refused parameter's error also says where it sits: "(parameter
// 2)", or for a part of nested cells the path of cell indices, "(parameter
// 2{3})".
ZRValue mxArrayToParameters(const mxArray* cells);

// How Arrays in a call result come back.
enum class ZRArrayResults {
    Cell,     // every Array as a column cell array, element by element
    Numeric,  // Arrays of numbers, Ints or Bools of one kind as a 1xN row,
              // two or more such rows of one kind and length as a matrix
};

// The MATLAB form of a call result, owned by the caller, or null for
// Invalid and Object values (inside a cell array: an empty cell). Not const:
// reading a String's text may change the value's representation.
mxArray* zrValueToMxArray(ZRValue& value, ZRArrayResults arrayResults = ZRArrayResults::Cell);

// The whole text of a char array (or, under MATLAB, of a string scalar) as
// UTF-8; ZRMxArgumentError(`failure`) for any other array.
std::string mxArrayText(const mxArray* array, const char* failure);

// The text of a name that must reach the peer whole (a module, host or
// method name): "<what> must be a char array" for anything but text, and
// "<what> must not contain a zero character" for a text with one, which the
// name would be cut at on its way.
std::string mxArrayName(const mxArray* array, const std::string& what);

}  // namespace ZR
