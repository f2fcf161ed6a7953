// MATLAB arrays to call parameters and call results back to MATLAB arrays.
// Matrices travel as Arrays of rows; results come back as column cells.
#include "zrmxconvert.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace ZR {

namespace {

const char kUnknownParameterType[] = "Unknown parameter type\n";
const char kNullPointer[] = "NULL pointer\n";

// Bounds the recursion over nested cell arrays (both ways), well beyond
// any nesting a module's interface uses, so that a pathological structure
// ends in an error instead of a stack overflow.
const int kMaxNesting = 1000;

[[noreturn]] void refuse(mxClassID classId)
{
    // The class id goes to the command window; the error itself stays the
    // same for every class.
    mexPrintf("Unknown parameter type: %d\n", static_cast<int>(classId));
    throw ZRMxArgumentError(identifier::unsupportedType, kUnknownParameterType);
}

bool isIntegerClass(mxClassID classId)
{
    return classId >= mxINT8_CLASS && classId <= mxUINT32_CLASS;
}

bool isNumericOrLogical(mxClassID classId)
{
    return classId == mxDOUBLE_CLASS || classId == mxLOGICAL_CLASS || isIntegerClass(classId);
}

// Keeps the low 32 bits, so uint32 values above the int32 range wrap to
// negative Ints as the broker's 32-bit integers expect.
ZRValue intValue(std::int64_t number)
{
    return ZRValue(static_cast<int>(static_cast<std::int32_t>(static_cast<std::uint32_t>(number))));
}

// Reads elements of one numeric or logical array by linear index.
class ElementReader {
public:
    ElementReader(const mxArray* array, mxClassID classId)
        : classId_(classId), data_(nullptr)
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
        case mxDOUBLE_CLASS:
            return ZRValue(static_cast<float>(static_cast<const double*>(data_)[index]));
        case mxLOGICAL_CLASS:
            return ZRValue(static_cast<const mxLogical*>(data_)[index] != 0);
        case mxINT8_CLASS:
            return intValue(static_cast<const std::int8_t*>(data_)[index]);
        case mxUINT8_CLASS:
            return intValue(static_cast<const std::uint8_t*>(data_)[index]);
        case mxINT16_CLASS:
            return intValue(static_cast<const std::int16_t*>(data_)[index]);
        case mxUINT16_CLASS:
            return intValue(static_cast<const std::uint16_t*>(data_)[index]);
        case mxINT32_CLASS:
            return intValue(static_cast<const std::int32_t*>(data_)[index]);
        case mxUINT32_CLASS:
            return intValue(static_cast<const std::uint32_t*>(data_)[index]);
        default:
            refuse(classId_);
        }
    }

private:
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
    for (std::size_t k = 0; k < count; ++k)
        result[static_cast<int>(k)] = toValue(mxGetCell(array, k), depth + 1);
    return result;
}

// An array of at most one element, or an empty one.
ZRValue scalarToValue(const mxArray* array, mxClassID classId)
{
    if (!isNumericOrLogical(classId))
        refuse(classId);
    const ElementReader reader(array, classId);
    // An empty array stands for its class's zero, as the host reads it.
    if (reader.empty())
        return classId == mxLOGICAL_CLASS ? ZRValue(false)
               : classId == mxDOUBLE_CLASS ? ZRValue(0.0f)
                                           : ZRValue(0);
    return reader.at(0);
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
    // A sparse array's data holds only its non-zeros, and the wire has no
    // complex numbers: both are refused rather than misread or cut.
    if (mxIsSparse(array) || mxIsComplex(array))
        refuse(classId);
    if (mxGetM(array) > 1 || mxGetN(array) > 1) {
        if (isNumericOrLogical(classId))
            return matrixToValue(array, classId);
        if (classId == mxCELL_CLASS)
            return cellsToValue(array, depth);
        refuse(classId);
    }
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

mxArray* toMx(ZRValue& value, int depth)
{
    switch (value.valueType()) {
    case ZRValue::Array: {
        if (depth >= kMaxNesting)
            throw ZRMxArgumentError("Result nested too deeply\n");
        const int count = value.size();
        mxArray* cells = mxCreateCellMatrix(static_cast<mwSize>(count), 1);
        for (int i = 0; i < count; ++i)
            mxSetCell(cells, static_cast<mwIndex>(i), toMx(value[i], depth + 1));
        return cells;
    }
    case ZRValue::Bool:
        return mxCreateLogicalScalar(static_cast<bool>(value));
    case ZRValue::Int: {
        mxArray* number = mxCreateNumericMatrix(1, 1, mxINT32_CLASS, mxREAL);
        *static_cast<std::int32_t*>(mxGetData(number)) = static_cast<int>(value);
        return number;
    }
    case ZRValue::Float:
        return mxCreateDoubleScalar(static_cast<double>(static_cast<float>(value)));
    case ZRValue::String: {
        const TZRValueString& text = value;
        return mxCreateString(text.c_str());
    }
    case ZRValue::Binary:
        return binaryToMx(value);
    case ZRValue::Invalid:
    case ZRValue::Object:
        break;
    }
    return nullptr;
}

}  // namespace

ZRValue mxArrayToZRValue(const mxArray* array)
{
    return toValue(array, 0);
}

mxArray* zrValueToMxArray(ZRValue& value)
{
    return toMx(value, 0);
}

std::string mxArrayText(const mxArray* array, const char* failure)
{
    if (!array || !mxIsChar(array))
        throw ZRMxArgumentError(failure);
#ifdef ZR_MATLAB_HOST
    // MATLAB holds text as UTF-16; the wire carries UTF-8 whatever the locale.
    char* text = mxArrayToUTF8String(array);
#else
    // Octave's char arrays are bytes already (UTF-8).
    char* text = mxArrayToString(array);
#endif
    if (!text)
        throw ZRMxArgumentError(failure);
    std::string copy(text);
    mxFree(text);
    return copy;
}

ZRMxArgumentError::ZRMxArgumentError(const std::string& text) : ZRMxArgumentError(identifier::badArgument, text)
{
}

namespace identifier {
const char usage[] = "zrbridge:usage";
const char badArgument[] = "zrbridge:badArgument";
const char unsupportedType[] = "zrbridge:unsupportedType";
const char invalidHandle[] = "zrbridge:invalidHandle";
const char brokerUnreachable[] = "zrbridge:brokerUnreachable";
const char unknownModule[] = "zrbridge:unknownModule";
const char lookupFailed[] = "zrbridge:lookupFailed";
const char remoteFault[] = "zrbridge:remoteFault";
const char connectionFailed[] = "zrbridge:connectionFailed";
const char badReply[] = "zrbridge:badReply";
const char timeout[] = "zrbridge:timeout";
const char interrupted[] = "zrbridge:interrupted";
const char unspecified[] = "zrbridge:failed";
}  // namespace identifier

const char* identifierOf(ZRErrorKind kind) noexcept
{
    switch (kind) {
    case ZRErrorKind::BrokerUnreachable:
        return identifier::brokerUnreachable;
    case ZRErrorKind::UnknownModule:
        return identifier::unknownModule;
    case ZRErrorKind::LookupFailed:
        return identifier::lookupFailed;
    case ZRErrorKind::RemoteFault:
        return identifier::remoteFault;
    case ZRErrorKind::ConnectionFailed:
        return identifier::connectionFailed;
    case ZRErrorKind::BadReply:
        return identifier::badReply;
    case ZRErrorKind::Timeout:
        return identifier::timeout;
    case ZRErrorKind::Interrupted:
        return identifier::interrupted;
    case ZRErrorKind::Unspecified:
        break;
    }
    return identifier::unspecified;
}

void raise(const ZRMxFailure& failure)
{
    mexErrMsgIdAndTxt(failure.identifier, "%s", failure.text);
    // mexErrMsgIdAndTxt does not return; this keeps [[noreturn]] honest
    // should a host ever let it.
    std::abort();
}

const char* hostCopy(const char* text) noexcept
{
    if (!text || !*text)
        text = "Unexpected failure without a message";
    try {
        const std::size_t length = std::strlen(text);
        if (char* copy = static_cast<char*>(mxMalloc(length + 1))) {
            std::memcpy(copy, text, length + 1);
            return copy;
        }
    } catch (...) {
        // Octave's mxMalloc throws when memory runs out.
    }
    return "Out of memory while reporting a failure";
}

}  // namespace ZR
