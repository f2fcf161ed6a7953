// ZRValue: the dynamically typed value that every argument list and every
// result of a remote call travels as, and ZRError, the exception that the
// value and remote-call code throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "zrexport.h"

namespace ZR {

class ZRValue;

// A byte string with explicit length: NUL bytes are ordinary content.
typedef std::string TZRValueString;
// The storage of Binary and Object values.
typedef std::vector<unsigned char> TZRValueBytes;
// The elements of an Array value.
typedef std::vector<ZRValue> TZRValueElements;

// The one exception class of the value and remote-call code. Its whole state
// is the composed text "\t" module "::" method "\n" "\t" description.
// Why a call failed, for callers that must tell causes apart (the gateways
// turn it into an error identifier). The text never depends on it.
enum class ZRErrorKind {
    Unspecified,
    BrokerUnreachable,  // no connection to the broker during a look-up
    UnknownModule,      // the broker answered the look-up with a fault
    LookupFailed,       // any other failure of a look-up
    RemoteFault,        // a SOAP fault sent by the module
    ConnectionFailed,   // connection refused or lost, HTTP error
    BadReply,           // a reply that cannot be decoded faithfully
    Timeout,            // a time-out set by the caller expired
    Interrupted,        // the host asked the call to stop (Ctrl-C)
    Cancelled,          // the caller cancelled a call started in the background
};

class ZR_API ZRError : public std::runtime_error {
public:
    ZRError(const std::string& module, const std::string& method, const std::string& description,
            const char* file, int line);
    ZRError(const ZRError& other);
    ZRError& operator=(const ZRError& other) = default;
    ~ZRError() override;

    std::string message() const;

    ZRErrorKind kind() const { return kind_; }
    // Marks the cause. `throw ZRError(...).withKind(k)` throws a ZRError: a
    // subclass that must keep its type is marked first and thrown by name.
    ZRError& withKind(ZRErrorKind kind)
    {
        kind_ = kind;
        return *this;
    }

    static std::string compose(const std::string& module, const std::string& method,
                               const std::string& description);

    // The peer's own account of a failed exchange (a SOAP fault's string and
    // detail, or the transport's description), for callers that show it
    // without taking the message apart. Empty texts when none was recorded.
    const std::string& faultString() const;
    const std::string& faultDetail() const;
    ZRError& withFault(const std::string& faultString, const std::string& detail);

private:
    struct Fault {
        std::string faultString;
        std::string detail;
    };

    ZRErrorKind kind_ = ZRErrorKind::Unspecified;
    // Shared, so that copying an error in flight cannot throw.
    std::shared_ptr<const Fault> fault_;
};

// A failure of the broker connection while a proxy is being built.
class ZR_API ZRNetworkError : public ZRError {
public:
    ZRNetworkError(std::string module, std::string method, std::string description, const char* file,
                   int line);
    ZRNetworkError(const ZRNetworkError& other);
    ZRNetworkError& operator=(const ZRNetworkError& other) = default;
    ~ZRNetworkError() override;
};

class ZR_API ZRValue {
public:
    enum Type { Invalid = 0, Array = 1, Bool = 2, Int = 3, Float = 4, String = 5, Object = 6, Binary = 7 };

    ZRValue();
    ZRValue(const bool& value);
    ZRValue(const int& value);
    ZRValue(const float& value);
    ZRValue(const char* text);
    ZRValue(const TZRValueString& text);
    ZRValue(const ZRValue& other);
    ZRValue(ZRValue&& other) noexcept;
    virtual ~ZRValue();

    ZRValue& operator=(const ZRValue& other);
    ZRValue& operator=(ZRValue&& other) noexcept;
    ZRValue& operator=(const bool& value);
    ZRValue& operator=(const int& value);
    ZRValue& operator=(const float& value);
    ZRValue& operator=(const char* text);
    ZRValue& operator=(const TZRValueBytes& bytes);
    ZRValue& assignBytes(const void* data, int count);
    bool decodeBase64(const char* text);
    bool decodeBase64Object(const char* text);
    void reset();

    Type valueType() const { return type_; }
    bool hasValue() const { return type_ != Invalid; }
    bool holdsObject() const { return type_ == Object; }
    int size() const;

    explicit operator bool() const;
    operator int() const;
    operator float() const;
    // Not const: a small Binary is turned into a String on the fly.
    operator const TZRValueString&();

    // Binary and Object values only; the caller tests the tag.
    const unsigned char* byteData() const;
    // Array values only; the caller tests the tag.
    const TZRValueElements& elements() const;
    // Binary and Object values only; the caller tests the tag.
    void encodeBase64(TZRValueString& out) const;

    bool operator==(const ZRValue& other) const;
    bool operator!=(const ZRValue& other) const { return !(*this == other); }

    const ZRValue& operator[](int index) const;
    ZRValue& operator[](int index);
    void append(const ZRValue& value);
    void resizeArray(int count);
    void reserveArray(int count);

    void xAssertType(Type wanted) const;
    void xAssertCompatibleType(Type wanted);
    void xAssertArraySize(int wanted) const;

    static std::string TypeToString(int type);
    std::string toString(int verbosity) const;

private:
    // The payload slot. `raw` is cleared before a scalar is stored so that the
    // slot renders the same whatever was held before.
    union Payload {
        std::uint64_t raw;
        bool boolean;
        int integer;
        float real;
        TZRValueElements* elements;
        TZRValueString* string;
        TZRValueBytes* bytes;
    };

    // Deep copy of `source` into this value, which must be Invalid. Iterative,
    // so the nesting depth is bounded by memory, not by the stack.
    void copyFrom(const ZRValue& source);
    // Takes over `payload` of kind `type`; this value must be Invalid.
    void adopt(Type type, Payload payload);
    // Frees what `payload` owns; nested arrays are flattened, not recursed.
    static void release(Type type, Payload payload) noexcept;
    bool sameAs(const ZRValue& other) const;

    Type type_;
    Payload value_;
};

// Whether `text` is base64 as the encoder writes it, line breaks and other
// XML white space aside: whole groups of four, padding only at the end. The
// decoder skips anything else, so only checked text decodes faithfully.
bool isStrictBase64(const char* text, std::size_t length);

}  // namespace ZR
