// SPDX-License-Identifier: GPL-2.0-or-later
// MATLAB arrays to call parameters and call results back to MATLAB arrays.
// Matrices travel as Arrays of rows; results come back as column cells or,
// on request, as numeric rows and matrices.
#include "zrmxconvert.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

#include "zrutf16.h"

namespace ZR {

namespace {

const char kUnknownParameterType[] = "Unknown parameter type";
const char kNullPointer[] = "NULL pointer\n";

// Bounds the recursion over nested cell arrays (both ways), well beyond
// any nesting a module's interface uses, so that a pathological structure
// ends in an error instead of a stack overflow.
const int kMaxNesting = 1000;

struct HostArrayDeleter {
    void operator()(mxArray* array) const { mxDestroyArray(array); }
};
// An array the gateway made and must destroy itself.
using HostArray = std::unique_ptr<mxArray, HostArrayDeleter>;

// A parameter without a wire form, on its way out of the conversion: what
// it is, and the cells around it, gathered as the refusal leaves each of
// them, so that the error can say where it sits.
class Refusal {
public:
    explicit Refusal(std::string what) : what_(std::move(what)) {}

    // `cell` is the 1-based linear index of the refused part in the cell
    // array that holds it; called innermost first.
    void within(std::size_t cell) { path_.push_back(cell); }

    // "Unknown parameter type: struct (parameter 2{3})"; `parameter` 0 when
    // the array is not one of a call's parameters.
    ZRMxArgumentError error(std::size_t parameter) const
    {
        std::string text = what_;
        if (parameter > 0) {
            text += " (parameter " + std::to_string(parameter);
            for (auto cell = path_.rbegin(); cell != path_.rend(); ++cell)
                text += "{" + std::to_string(*cell) + "}";
            text += ")";
        }
        return ZRMxArgumentError(identifier::unsupportedType, text + "\n");
    }

private:
    std::string what_;
    std::vector<std::size_t> path_;
};

[[noreturn]] void refuse(const mxArray* array)
{
    // The class id goes to the command window, as it always has; the error
    // names the class.
    mexPrintf("Unknown parameter type: %d\n", static_cast<int>(mxGetClassID(array)));
    throw Refusal(std::string(kUnknownParameterType) + ": " + mxGetClassName(array));
}

// "2x3", "2x2x2".
std::string sizeOf(const mxArray* array)
{
    std::string size;
    const mwSize dimensions = mxGetNumberOfDimensions(array);
    const mwSize* lengths = mxGetDimensions(array);
    for (mwSize k = 0; k < dimensions; ++k)
        size += (k > 0 ? "x" : "") + std::to_string(lengths[k]);
    return size;
}

// "2x2x2 double", "sparse logical", "complex int8": what a user needs to
// see to find the offending argument.
std::string formOf(const mxArray* array)
{
    std::string form;
    if (mxGetNumberOfDimensions(array) > 2)
        form += sizeOf(array) + " ";
    if (mxIsSparse(array))
        form += "sparse ";
    if (mxIsComplex(array))
        form += "complex ";
    return form + mxGetClassName(array);
}

// Sparse data holds only the non-zeros, the wire has no complex numbers,
// and folding the pages of an N-d array into rows would lose its shape:
// such arrays are refused rather than misread.
void checkForm(const mxArray* array)
{
    if (mxGetNumberOfDimensions(array) > 2 || mxIsSparse(array) || mxIsComplex(array))
        throw Refusal("Unsupported parameter type: " + formOf(array));
}

bool isIntegerClass(mxClassID classId)
{
    return classId >= mxINT8_CLASS && classId <= mxUINT32_CLASS;
}

bool isNumericOrLogical(mxClassID classId)
{
#ifdef ZR_MATLAB_HOST
    if (classId == mxINT64_CLASS || classId == mxUINT64_CLASS)
        return true;
#endif
    return classId == mxDOUBLE_CLASS || classId == mxLOGICAL_CLASS || isIntegerClass(classId);
}

// Keeps the low 32 bits, so uint32 values above the int32 range wrap to
// negative Ints as the broker's 32-bit integers expect.
ZRValue intValue(std::int64_t number)
{
    return ZRValue(static_cast<int>(static_cast<std::int32_t>(static_cast<std::uint32_t>(number))));
}

#ifdef ZR_MATLAB_HOST
// 64-bit integers never wrap: only values an Int holds exactly travel.
template <typename Wide>
ZRValue narrowedInt(Wide number, const char* className)
{
    if (number < static_cast<Wide>(0) ? number < static_cast<Wide>(INT32_MIN)
                                      : number > static_cast<Wide>(INT32_MAX))
        throw Refusal(std::string("Unsupported parameter value: ") + className + " " +
                      std::to_string(number) + " does not fit in 32 bits");
    return ZRValue(static_cast<int>(number));
}
#endif

// Reads elements of one numeric or logical array by linear index.
class ElementReader {
public:
    ElementReader(const mxArray* array, mxClassID classId) : array_(array), classId_(classId), data_(nullptr)
    {
        if (mxGetNumberOfElements(array) == 0)
            return;
        data_ = classId == mxDOUBLE_CLASS ? static_cast<const void*>(mxGetPr(array)) : mxGetData(array);
        if (!data_)
            throw ZRMxArgumentError(kNullPointer);
    }

    bool empty() const { return data_ == nullptr; }

    ZRValue at(std::size_t index) const
    {
        switch (classId_) {
        case mxDOUBLE_CLASS: return ZRValue(static_cast<float>(static_cast<const double*>(data_)[index]));
        case mxLOGICAL_CLASS: return ZRValue(static_cast<const mxLogical*>(data_)[index] != 0);
        case mxINT8_CLASS: return intValue(static_cast<const std::int8_t*>(data_)[index]);
        case mxUINT8_CLASS: return intValue(static_cast<const std::uint8_t*>(data_)[index]);
        case mxINT16_CLASS: return intValue(static_cast<const std::int16_t*>(data_)[index]);
        case mxUINT16_CLASS: return intValue(static_cast<const std::uint16_t*>(data_)[index]);
        case mxINT32_CLASS: return intValue(static_cast<const std::int32_t*>(data_)[index]);
        case mxUINT32_CLASS: return intValue(static_cast<const std::uint32_t*>(data_)[index]);
#ifdef ZR_MATLAB_HOST
        case mxINT64_CLASS: return narrowedInt(static_cast<const std::int64_t*>(data_)[index], "int64");
        case mxUINT64_CLASS: return narrowedInt(static_cast<const std::uint64_t*>(data_)[index], "uint64");
#endif
        default: refuse(array_);
        }
    }

private:
    const mxArray* array_;
    mxClassID classId_;
    const void* data_;
};

int checkedCount(std::size_t count)
{
    if (count > static_cast<std::size_t>(INT32_MAX))
        throw ZRMxArgumentError("Parameter too large: more than 2147483647 elements\n");
    return static_cast<int>(count);
}

// An M x N array of more than one element: one Array of N values per row,
// or, for a single row, that row itself. Elements are stored column-major.
ZRValue matrixToValue(const mxArray* array, mxClassID classId)
{
    const std::size_t rows = mxGetM(array);
    const std::size_t columns = mxGetN(array);
    const ElementReader reader(array, classId);
    const int columnCount = checkedCount(columns);

    ZRValue result;
    if (rows > 1)
        result.resizeArray(checkedCount(rows));
    for (std::size_t i = 0; i < rows; ++i) {
        ZRValue& row = rows > 1 ? result[static_cast<int>(i)] : result;
        if (columnCount > 0)
            row.resizeArray(columnCount);
        for (std::size_t j = 0; j < columns; ++j)
            row[static_cast<int>(j)] = reader.at(i + j * rows);
    }
    return result;
}

ZRValue toValue(const mxArray* array, int depth);

// A cell array of more than one element: every cell, column-major.
ZRValue cellsToValue(const mxArray* array, int depth)
{
    if (depth >= kMaxNesting)
        throw ZRMxArgumentError("Parameter nested too deeply\n");
    const std::size_t count = mxGetNumberOfElements(array);
    ZRValue result;
    if (count > 0)
        result.resizeArray(checkedCount(count));
    for (std::size_t k = 0; k < count; ++k) {
        try {
            result[static_cast<int>(k)] = toValue(mxGetCell(array, k), depth + 1);
        } catch (Refusal& refusal) {
            refusal.within(k + 1);
            throw;
        }
    }
    return result;
}

// An array of at most one element, or an empty one.
ZRValue scalarToValue(const mxArray* array, mxClassID classId)
{
    const ElementReader reader(array, classId);
    // An empty array stands for its class's zero, as the host reads it.
    if (reader.empty())
        return classId == mxLOGICAL_CLASS  ? ZRValue(false)
               : classId == mxDOUBLE_CLASS ? ZRValue(0.0f)
                                           : ZRValue(0);
    return reader.at(0);
}

// A zrbinary object: its bytes, which zrbinary.m keeps as a uint8 column.
ZRValue binaryToValue(const mxArray* array)
{
    if (mxGetNumberOfElements(array) != 1)
        throw Refusal("Unsupported parameter type: " + sizeOf(array) + " zrbinary");
    const HostArray bytes(mxGetProperty(array, 0, "bytes"));
    if (!bytes || mxGetClassID(bytes.get()) != mxUINT8_CLASS)
        throw Refusal("A zrbinary object without uint8 bytes");
    const int count = checkedCount(mxGetNumberOfElements(bytes.get()));
    ZRValue binary;
    binary.assignBytes(count > 0 ? mxGetData(bytes.get()) : nullptr, count);
    return binary;
}

#ifdef ZR_MATLAB_HOST
// Calls a MATLAB function of one argument and one result. An error in it
// comes back as an exception object instead of leaving the MEX call.
HostArray callHost(const char* function, const mxArray* argument, const char* failure)
{
    mxArray* input = const_cast<mxArray*>(argument);  // only read by the callee
    mxArray* output = nullptr;
    if (mxArray* exception = mexCallMATLABWithTrap(1, &output, 1, &input, function)) {
        mxDestroyArray(exception);
        throw ZRMxArgumentError(failure);
    }
    if (!output)
        throw ZRMxArgumentError(failure);
    return HostArray(output);
}

const char kUnreadableString[] = "A string argument could not be read as text";

// MATLAB's string objects have no C accessor; cellstr turns them into
// char arrays. A scalar is one String, any other array an Array of them.
ZRValue stringsToValue(const mxArray* array)
{
    checkForm(array);
    const HostArray cells(callHost("cellstr", array, kUnreadableString));
    const std::size_t count = mxGetNumberOfElements(cells.get());
    if (mxGetNumberOfElements(array) == 1 && count == 1)
        return ZRValue(mxArrayText(mxGetCell(cells.get(), 0), kUnreadableString));
    ZRValue result;
    result.resizeArray(checkedCount(count));
    for (std::size_t k = 0; k < count; ++k)
        result[static_cast<int>(k)] = ZRValue(mxArrayText(mxGetCell(cells.get(), k), kUnreadableString));
    return result;
}
#endif

// Arrays of classes without a wire form of their own: a zrbinary object,
// under MATLAB a string; anything else is refused.
ZRValue objectToValue(const mxArray* array)
{
    if (mxIsClass(array, "zrbinary"))
        return binaryToValue(array);
#ifdef ZR_MATLAB_HOST
    if (mxIsClass(array, "string"))
        return stringsToValue(array);
#endif
    refuse(array);
}

ZRValue toValue(const mxArray* array, int depth)
{
    // A cell the host never filled reads as null; treat it as the empty
    // double array MATLAB shows for it.
    if (!array)
        return ZRValue(0.0f);
    const mxClassID classId = mxGetClassID(array);
    if (classId == mxCHAR_CLASS)
        return ZRValue(mxArrayText(array, kUnknownParameterType));
    if (!isNumericOrLogical(classId) && classId != mxCELL_CLASS)
        return objectToValue(array);
    checkForm(array);
    if (mxGetM(array) > 1 || mxGetN(array) > 1) {
        if (classId == mxCELL_CLASS)
            return cellsToValue(array, depth);
        return matrixToValue(array, classId);
    }
    // A 1x1 or empty cell has no wire form: its content would travel
    // without the cell around it.
    if (classId == mxCELL_CLASS)
        refuse(array);
    return scalarToValue(array, classId);
}

mxArray* binaryToMx(const ZRValue& value)
{
    const int count = value.size();
    mxArray* bytes = mxCreateNumericMatrix(static_cast<mwSize>(count), 1, mxUINT8_CLASS, mxREAL);
    // byteData() refuses an empty buffer; an empty Binary is a 0x1 uint8.
    if (count > 0)
        std::memcpy(mxGetData(bytes), value.byteData(), static_cast<std::size_t>(count));
    return bytes;
}

// A String's text whole, zero bytes included: a 1xN char array ('' comes
// back as a 0x0 one, as mxCreateString makes it).
mxArray* textToMx(const TZRValueString& text)
{
#ifdef ZR_MATLAB_HOST
    // MATLAB holds text as UTF-16; the wire carries UTF-8 whatever the locale.
    const std::u16string units = utf16FromUtf8(text.data(), text.size());
#else
    // Octave's char arrays hold the UTF-8 bytes as they are.
    const TZRValueString& units = text;
#endif
    const mwSize size[2] = {static_cast<mwSize>(units.empty() ? 0 : 1), static_cast<mwSize>(units.size())};
    mxArray* chars = mxCreateCharArray(2, size);
    std::copy(units.begin(), units.end(), mxGetChars(chars));
    return chars;
}

bool isNumberKind(ZRValue::Type type)
{
    return type == ZRValue::Float || type == ZRValue::Int || type == ZRValue::Bool;
}

bool allOfType(const TZRValueElements& elements, ZRValue::Type type)
{
    return std::all_of(elements.begin(), elements.end(),
                       [type](const ZRValue& element) { return element.valueType() == type; });
}

mxArray* createNumberMatrix(std::size_t rows, std::size_t columns, ZRValue::Type kind)
{
    const mwSize m = static_cast<mwSize>(rows), n = static_cast<mwSize>(columns);
    switch (kind) {
    case ZRValue::Float: return mxCreateNumericMatrix(m, n, mxDOUBLE_CLASS, mxREAL);
    case ZRValue::Int: return mxCreateNumericMatrix(m, n, mxINT32_CLASS, mxREAL);
    default: return mxCreateLogicalMatrix(m, n);
    }
}

// Writes row `row` of a matrix with `rows` rows: element j goes to the
// column-major position row + j * rows. Every element is of type `kind`.
template <typename Number>
void fillRow(mxArray* matrix, std::size_t row, std::size_t rows, const TZRValueElements& elements)
{
    Number* out = static_cast<Number*>(mxGetData(matrix)) + row;
    for (const ZRValue& element : elements) {
        if constexpr (std::is_same<Number, mxLogical>::value)
            *out = static_cast<bool>(element);
        else if constexpr (std::is_same<Number, double>::value)
            *out = static_cast<float>(element);
        else
            *out = static_cast<int>(element);
        out += rows;
    }
}

void fillRow(mxArray* matrix, std::size_t row, std::size_t rows, const TZRValueElements& elements,
             ZRValue::Type kind)
{
    switch (kind) {
    case ZRValue::Float: return fillRow<double>(matrix, row, rows, elements);
    case ZRValue::Int: return fillRow<std::int32_t>(matrix, row, rows, elements);
    default: return fillRow<mxLogical>(matrix, row, rows, elements);
    }
}

// The numeric form of an Array, or null when it has none: all Floats, all
// Ints or all Bools give a 1xN row; two or more Arrays that are such rows,
// of one type and one length, give an MxN matrix. A single such row inside
// an Array stays a cell, since a 1xN matrix travels as the flat row itself.
mxArray* numbersToMx(const ZRValue& value)
{
    const TZRValueElements& elements = value.elements();
    if (elements.empty())
        return nullptr;
    const ZRValue::Type first = elements.front().valueType();
    if (isNumberKind(first)) {
        if (!allOfType(elements, first))
            return nullptr;
        mxArray* row = createNumberMatrix(1, elements.size(), first);
        fillRow(row, 0, 1, elements, first);
        return row;
    }
    if (first != ZRValue::Array || elements.size() < 2)
        return nullptr;
    const TZRValueElements& firstRow = elements.front().elements();
    if (firstRow.empty() || !isNumberKind(firstRow.front().valueType()))
        return nullptr;
    const ZRValue::Type kind = firstRow.front().valueType();
    for (const ZRValue& row : elements)
        if (row.valueType() != ZRValue::Array || row.elements().size() != firstRow.size() ||
            !allOfType(row.elements(), kind))
            return nullptr;
    mxArray* matrix = createNumberMatrix(elements.size(), firstRow.size(), kind);
    for (std::size_t i = 0; i < elements.size(); ++i)
        fillRow(matrix, i, elements.size(), elements[i].elements(), kind);
    return matrix;
}

mxArray* toMx(ZRValue& value, ZRArrayResults arrayResults, int depth)
{
    switch (value.valueType()) {
    case ZRValue::Array: {
        if (arrayResults == ZRArrayResults::Numeric)
            if (mxArray* numbers = numbersToMx(value))
                return numbers;
        if (depth >= kMaxNesting)
            throw ZRMxArgumentError("Result nested too deeply\n");
        const int count = value.size();
        mxArray* cells = mxCreateCellMatrix(static_cast<mwSize>(count), 1);
        for (int i = 0; i < count; ++i)
            mxSetCell(cells, static_cast<mwIndex>(i), toMx(value[i], arrayResults, depth + 1));
        return cells;
    }
    case ZRValue::Bool: return mxCreateLogicalScalar(static_cast<bool>(value));
    case ZRValue::Int: {
        mxArray* number = mxCreateNumericMatrix(1, 1, mxINT32_CLASS, mxREAL);
        *static_cast<std::int32_t*>(mxGetData(number)) = static_cast<int>(value);
        return number;
    }
    case ZRValue::Float: return mxCreateDoubleScalar(static_cast<double>(static_cast<float>(value)));
    case ZRValue::String: return textToMx(value);
    case ZRValue::Binary: return binaryToMx(value);
    case ZRValue::Invalid:
    case ZRValue::Object: break;
    }
    return nullptr;
}

// The text of a char array, column-major, zero bytes included.
std::string charText(const mxArray* array, const char* failure)
{
    const std::size_t count = mxGetNumberOfElements(array);
    if (count == 0)
        return std::string();
    const mxChar* units = mxGetChars(array);
    if (!units)
        throw ZRMxArgumentError(failure);
#ifdef ZR_MATLAB_HOST
    // MATLAB holds text as UTF-16; the wire carries UTF-8 whatever the locale.
    return utf8FromUtf16(units, count);
#else
    // Octave's char arrays are bytes already (UTF-8).
    return std::string(units, count);
#endif
}

}  // namespace

ZRValue mxArrayToZRValue(const mxArray* array)
{
    try {
        return toValue(array, 0);
    } catch (const Refusal& refusal) {
        throw refusal.error(0);
    }
}

ZRValue mxArrayToParameters(const mxArray* cells)
{
    if (!mxIsCell(cells))
        throw ZRMxArgumentError("The parameters must be a cell array");
    ZRValue parameters;
    const std::size_t count = mxGetNumberOfElements(cells);
    if (count == 0)
        return parameters;
    if (count > static_cast<std::size_t>(INT32_MAX))
        throw ZRMxArgumentError("Too many parameters");
    // Sized first and filled by moving, so a large parameter is not copied.
    parameters.resizeArray(static_cast<int>(count));
    for (std::size_t i = 0; i < count; ++i) {
        try {
            parameters[static_cast<int>(i)] = toValue(mxGetCell(cells, i), 0);
        } catch (const Refusal& refusal) {
            throw refusal.error(i + 1);
        }
    }
    return parameters;
}

mxArray* zrValueToMxArray(ZRValue& value, ZRArrayResults arrayResults)
{
    return toMx(value, arrayResults, 0);
}

std::string mxArrayText(const mxArray* array, const char* failure)
{
    if (!array)
        throw ZRMxArgumentError(failure);
#ifdef ZR_MATLAB_HOST
    // A string scalar ("abc") means the same text as the char array 'abc'.
    if (mxIsClass(array, "string")) {
        if (mxGetNumberOfElements(array) != 1)
            throw ZRMxArgumentError(failure);
        const HostArray chars(callHost("char", array, failure));
        return charText(chars.get(), failure);
    }
#endif
    if (!mxIsChar(array))
        throw ZRMxArgumentError(failure);
    return charText(array, failure);
}

std::string mxArrayName(const mxArray* array, const std::string& what)
{
    std::string name = mxArrayText(array, (what + " must be a char array").c_str());
    if (name.find('\0') != std::string::npos)
        throw ZRMxArgumentError(what + " must not contain a zero character");
    return name;
}

}  // namespace ZR
