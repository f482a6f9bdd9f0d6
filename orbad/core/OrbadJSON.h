// The ad client's own JSON reader and writer over the platform's Value: a byte scanner, the JSON
// grammar on top of it, a reusable deserializer, a writer, and the facade the client calls
// (OrbadDataScanner.cpp, OrbadJSONScanner.cpp, OrbadJSONSerializer.cpp, OrbadJSON.cpp).
//
// Reading keeps the client's long-standing leniency: one value is read and what follows it is
// ignored, trailing commas are accepted, a misspelt true/false/null "succeeds" with no value, and
// every number is a double. A Value-less success is std::nullopt with no error. A failure inside a
// container is reported with the outermost container's code. The writer's reals ("%.16g") cannot
// be read back when the exponent carries "+": kept, as that is the reader's long-standing format.
// The client shares no JSON, helpers or Base64 with the other clients: these are its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"

namespace orbad {

using plat::foundation::Error;
using plat::foundation::Value;
using Data = std::vector<uint8_t>;

inline constexpr std::string_view kJSONScannerErrorDomain = "OrbadJSONScannerErrorDomain";
inline constexpr std::string_view kJSONDeserializerErrorDomain = "OrbadJSONDeserializerErrorDomain";
inline constexpr std::string_view kJSONSerializerErrorDomain = "TODO_DOMAIN";
inline constexpr std::string_view kLocalizedDescriptionKey = "NSLocalizedDescription";
// Containers nested deeper than this fail (code -1) rather than exhaust the stack.
inline constexpr int kJSONMaxDepth = 512;

// A set of bytes, for the scanner's run operations.
class ByteSet {
public:
    ByteSet() = default;
    explicit ByteSet(std::string_view members);
    bool contains(uint8_t byte) const { return m_bits[byte >> 6] >> (byte & 63) & 1; }

private:
    uint64_t m_bits[4] = {};
};

// The line breaks of the comment operations: LF, FF, CR, NEL, LS and PS.
const std::vector<char32_t>& obLinebreaksCharacterSet();

// A cursor over bytes. Every step is bounds-checked; the cursor is an offset, never past the end.
class OrbadDataScanner {
public:
    OrbadDataScanner() = default;
    explicit OrbadDataScanner(Data data) { OrbadDataScanner::setData(std::move(data)); }
    virtual ~OrbadDataScanner() = default;

    virtual void setData(Data data);
    const Data& data() const { return m_data; }
    size_t length() const { return m_data.size(); }

    size_t scanLocation() const { return m_current; }
    void setScanLocation(size_t location) { m_current = location < m_data.size() ? location : m_data.size(); }
    bool isAtEnd() const { return m_current >= m_data.size(); }

    uint8_t obcurrentCharacter() const { return isAtEnd() ? 0 : m_data[m_current]; }
    uint8_t obscanCharacter();
    bool obscanCharacter(uint8_t expected);
    void skipWhitespace();

    bool scanUTF8String(std::string_view text, std::string* into = nullptr);
    bool scanString(std::string_view text, std::string* into = nullptr) { return scanUTF8String(text, into); }
    // The longest run of "0123456789eE-." read as the C library reads a double (longest valid
    // prefix, no locale); false only when the run is empty.
    bool scanNumber(double* out);
    bool obscanCharactersFromSet(const ByteSet& set, std::string* into = nullptr);
    bool scanUpToCharactersFromSet(const ByteSet& set, std::string* into = nullptr);
    bool scanUpToString(std::string_view text, std::string* into = nullptr);
    std::string obremainingString() const;

    // Comment skipping and backtracking. Nothing in JSON uses them; failures give `reason`.
    bool obScanCPlusPlusStyleComment(std::string* into, std::string* reason = nullptr);
    bool obScanCStyleComment(std::string* into, std::string* reason = nullptr);
    bool obbacktrack(size_t count, std::string* reason = nullptr);
    // The LF and CR bytes before the cursor (a CR LF pair counts two).
    size_t obLineOfScanLocation() const;

protected:
    // The byte length of the line break at `at`, 0 when there is none.
    size_t linebreakAt(size_t at) const;

    Data m_data;
    size_t m_current = 0;
};

class OrbadJSONScanner : public OrbadDataScanner {
public:
    OrbadJSONScanner() = default;
    explicit OrbadJSONScanner(Data data) { OrbadJSONScanner::setData(std::move(data)); }

    // UTF-16 and UTF-32 (told by their zero bytes) are converted to UTF-8 once, here; offsets then
    // count the converted bytes. Text that does not convert makes every scan fail with -1.
    void setData(Data data) override;

    bool strictEscapeCodes() const { return m_strictEscapeCodes; }
    void setStrictEscapeCodes(bool strict) { m_strictEscapeCodes = strict; }
    // What the literal null reads as: a null Value by default; nullopt drops nulls.
    const std::optional<Value>& nullObject() const { return m_nullObject; }
    void setNullObject(std::optional<Value> nullObject) { m_nullObject = std::move(nullObject); }

    // Each scan returns false on failure, with the cursor restored to where it began (but see the
    // string scan) and `error` filled; `out` may be left empty on success (a misspelt word, a
    // dropped null).
    bool scanJSONObject(std::optional<Value>* out, Error* error = nullptr);
    bool scanJSONDictionary(std::optional<Value>* out, Error* error = nullptr);
    bool scanJSONArray(std::optional<Value>* out, Error* error = nullptr);
    // An unterminated string (-14) or one holding bytes that are not UTF-8 (-12) leaves the cursor
    // where the scan stopped.
    bool scanJSONStringConstant(std::optional<Value>* out, Error* error = nullptr);
    bool scanJSONNumberConstant(std::optional<Value>* out, Error* error = nullptr);
    bool scanNotQuoteCharactersIntoString(std::string* into);

    // The user info of a scanner error at the cursor.
    Value errorInfo(std::string_view message) const;

private:
    bool fail(size_t start, int code, std::string_view message, Error* error);
    // One more level of nesting for the container starting at `start`; past kJSONMaxDepth a fatal
    // failure instead (deeper input would exhaust the stack). A Level gives a success back.
    bool enterContainer(size_t start, Error* error, bool* fatal);
    struct Level {
        OrbadJSONScanner& scanner;
        ~Level() { --scanner.m_depth; }
    };
    bool scanObject(std::optional<Value>* out, Error* error, bool* fatal);
    bool scanDictionary(std::optional<Value>* out, Error* error, bool* fatal);
    bool scanArray(std::optional<Value>* out, Error* error, bool* fatal);
    bool scanString(std::string* out, Error* error, bool* keepCursor);

    bool m_strictEscapeCodes = false;
    bool m_unconvertible = false;
    int m_depth = 0;
    std::optional<Value> m_nullObject = Value();
};

class OrbadJSONDeserializer {
public:
    static OrbadJSONDeserializer deserializer() { return {}; }

    // Empty data fails at once (deserializer domain, -1, no message). Null reads as a null Value.
    std::optional<Value> deserialize(const Data& data, Error* error = nullptr);
    std::optional<Value> deserializeAsDictionary(const Data& data, Error* error = nullptr);
    std::optional<Value> deserializeAsArray(const Data& data, Error* error = nullptr);

    const std::optional<Value>& nullObject() const { return m_scanner.nullObject(); }
    void setNullObject(std::optional<Value> nullObject) { m_scanner.setNullObject(std::move(nullObject)); }
    OrbadJSONScanner& scanner() { return m_scanner; }
    void setScanner(OrbadJSONScanner scanner) { m_scanner = std::move(scanner); }

private:
    bool start(const Data& data, Error* error);
    OrbadJSONScanner m_scanner;
};

// JSON text that is written as it is.
class OrbadSerializedJSONData {
public:
    explicit OrbadSerializedJSONData(std::string data) : m_data(std::move(data)) {}
    const std::string& data() const { return m_data; }

private:
    std::string m_data;
};

// Writes compact JSON that is also a valid JavaScript literal: controls (NUL kept) as \u00XX, U+2028 and
// U+2029 escaped, invalid UTF-8 as U+FFFD, non-finite numbers as null, reals as "%.16g".
class OrbadJSONSerializer {
public:
    static OrbadJSONSerializer serializer() { return {}; }
    virtual ~OrbadJSONSerializer() = default;

    virtual std::optional<std::string> serializeObject(const Value& object, Error* error = nullptr);
    std::optional<std::string> serializeNull(Error* error = nullptr);
    std::optional<std::string> serializeNumber(const Value& number, Error* error = nullptr);
    std::optional<std::string> serializeString(std::string_view text, Error* error = nullptr);
    std::optional<std::string> serializeArray(const Value& array, Error* error = nullptr);
    std::optional<std::string> serializeDictionary(const Value& dictionary, Error* error = nullptr);
    std::string serializeSerializedData(const OrbadSerializedJSONData& data) { return data.data(); }

protected:
    virtual bool write(const Value& object, std::string& out, Error* error);
};

// Also writes dates, "yyyy-MM-dd'T'HH:mm:ssZ" in the local time zone.
class OBJSONSerializer : public OrbadJSONSerializer {
public:
    std::optional<std::string> serializeObject(const Value& object, Error* error = nullptr) override;

protected:
    bool write(const Value& object, std::string& out, Error* error) override;
};

// The facade the client calls. Nulls are dropped; a failure is nullopt.
struct OrbadJSON {
    static std::optional<Value> decodeData(const Data& data, Error* error = nullptr);
    static std::optional<Value> decodeData(std::string_view text, Error* error = nullptr) {
        return decodeData(Data(text.begin(), text.end()), error);
    }
    static std::optional<std::string> encodeObject(const Value& object);
};

// Numbers as the client prints them: integers in decimal, reals "%.16g" without the locale
// (0.5, 3, 1e+20), booleans 1 or 0.
std::string numberDescription(const Value& number);
// A date as the writer puts it.
std::string jsonDateString(const plat::foundation::Date& date);

}  // namespace orbad
