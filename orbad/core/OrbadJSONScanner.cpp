#include "orbad/core/OrbadJSON.h"

#include <locale.h>

#include <cstdlib>
#include <cstring>

#include "platform/foundation/UTF8.h"

namespace utf8 = plat::foundation::utf8;

namespace orbad {

namespace {

int hexDigit(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

Error makeError(std::string_view domain, int code, std::string message, Value userInfo = {}) {
    return Error{std::string(domain), code, std::move(message), std::move(userInfo)};
}

// UTF-16 or UTF-32 of either order to UTF-8; false for odd lengths, unpaired surrogates and code
// points out of range.
bool convertToUTF8(const Data& in, int unit, bool bigEndian, Data& out) {
    if (in.size() % unit) return false;
    std::string text;
    text.reserve(in.size());
    auto read = [&](size_t at) -> char32_t {
        char32_t v = 0;
        for (int i = 0; i < unit; ++i) v = v << 8 | in[at + (bigEndian ? i : unit - 1 - i)];
        return v;
    };
    for (size_t at = 0; at < in.size(); at += unit) {
        char32_t c = read(at);
        if (unit == 2 && utf8::isHighSurrogate(c)) {
            if (at + 2 >= in.size()) return false;
            const char32_t low = read(at + 2);
            if (!utf8::isLowSurrogate(low)) return false;
            c = utf8::fromSurrogates(c, low);
            at += 2;
        } else if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) {
            return false;
        }
        utf8::append(text, c);
    }
    out.assign(text.begin(), text.end());
    return true;
}

}  // namespace

// ---- OrbadJSONScanner ----

void OrbadJSONScanner::setData(Data data) {
    m_unconvertible = false;
    m_depth = 0;
    if (data.size() >= 4) {
        const uint8_t* b = data.data();
        int unit = 0;
        bool bigEndian = false;
        if (b[0] == 0 && b[2] == 0 && b[3] != 0)
            unit = b[1] ? 2 : 4, bigEndian = true;
        else if (b[0] != 0 && b[1] == 0 && b[3] == 0)
            unit = b[2] ? 2 : 4;
        if (unit) {
            Data converted;
            if (convertToUTF8(data, unit, bigEndian, converted))
                data = std::move(converted);
            else
                m_unconvertible = true;
        }
    }
    OrbadDataScanner::setData(std::move(data));
}

Value OrbadJSONScanner::errorInfo(std::string_view message) const {
    size_t lastBreak = 0;
    bool sawBreak = false;
    for (size_t i = 0; i < m_current; ++i)
        if (m_data[i] == '\n' || m_data[i] == '\r') lastBreak = i, sawBreak = true;
    // Measured from the byte before the break, as the client always has: the first column is 2.
    const size_t character = sawBreak ? m_current - (lastBreak - 1) : m_current;
    const size_t before = m_current < 20 ? m_current : 20;
    const size_t after = m_data.size() - m_current < 20 ? m_data.size() - m_current : 20;
    std::string snippet = utf8::replaceInvalid(m_data.data() + m_current - before, before);
    snippet += "!HERE>!";
    snippet += utf8::replaceInvalid(m_data.data() + m_current, after);
    Value::Dictionary info;
    info.emplace(kLocalizedDescriptionKey, std::string(message));
    info.emplace("line", static_cast<int64_t>(obLineOfScanLocation()));
    info.emplace("character", static_cast<int64_t>(character));
    info.emplace("location", static_cast<int64_t>(m_current));
    info.emplace("snippet", std::move(snippet));
    return Value(std::move(info));
}

bool OrbadJSONScanner::enterContainer(size_t start, Error* error, bool* fatal) {
    if (m_depth < kJSONMaxDepth) return ++m_depth, true;
    *fatal = true;
    return fail(start, -1, "Could not scan object. Containers are nested deeper than 512 levels.", error);
}

bool OrbadJSONScanner::fail(size_t start, int code, std::string_view message, Error* error) {
    if (error) *error = makeError(kJSONScannerErrorDomain, code, std::string(message), errorInfo(message));
    m_current = start;
    return false;
}

bool OrbadJSONScanner::scanJSONObject(std::optional<Value>* out, Error* error) {
    bool fatal = false;
    out->reset();
    return scanObject(out, error, &fatal);
}

bool OrbadJSONScanner::scanJSONDictionary(std::optional<Value>* out, Error* error) {
    bool fatal = false;
    out->reset();
    return scanDictionary(out, error, &fatal);
}

bool OrbadJSONScanner::scanJSONArray(std::optional<Value>* out, Error* error) {
    bool fatal = false;
    out->reset();
    return scanArray(out, error, &fatal);
}

bool OrbadJSONScanner::scanJSONStringConstant(std::optional<Value>* out, Error* error) {
    out->reset();
    std::string text;
    bool keepCursor = false;
    if (!scanString(&text, error, &keepCursor)) return false;
    *out = Value(std::move(text));
    return true;
}

bool OrbadJSONScanner::scanJSONNumberConstant(std::optional<Value>* out, Error* error) {
    out->reset();
    const size_t start = m_current;
    double number;
    if (!scanNumber(&number)) return fail(start, -14, "Could not scan number constant.", error);
    *out = Value(number);
    return true;
}

bool OrbadJSONScanner::scanNotQuoteCharactersIntoString(std::string* into) {
    static const ByteSet stops("\"\\");
    const size_t start = m_current;
    std::string run;
    if (!scanUpToCharactersFromSet(stops, &run)) return false;
    if (!utf8::valid(run)) {
        m_current = start;
        return false;
    }
    if (into) *into = std::move(run);
    return true;
}

bool OrbadJSONScanner::scanObject(std::optional<Value>* out, Error* error, bool* fatal) {
    const size_t start = m_current;
    if (m_unconvertible) {
        *fatal = true;
        return fail(start, -1, "Could not scan object. The text is neither UTF-8 nor valid UTF-16 or UTF-32.",
                    error);
    }
    skipWhitespace();
    const uint8_t c = obcurrentCharacter();
    switch (c) {
        case '{':
            return scanDictionary(out, error, fatal);
        case '[':
            return scanArray(out, error, fatal);
        case '"':
        case '\'': {
            std::string text;
            bool keepCursor = false;
            if (!scanString(&text, error, &keepCursor)) {
                if (!keepCursor) m_current = start;
                return false;
            }
            *out = Value(std::move(text));
            return true;
        }
        case 't':
            if (scanUTF8String("true")) *out = Value(true);
            return true;
        case 'f':
            if (scanUTF8String("false")) *out = Value(false);
            return true;
        case 'n':
            if (scanUTF8String("null")) *out = m_nullObject;
            return true;
        default:
            if (c == '-' || (c >= '0' && c <= '9')) {
                double number;
                if (!scanNumber(&number)) return fail(start, -14, "Could not scan number constant.", error);
                *out = Value(number);
                return true;
            }
            return fail(start, -1, "Could not scan object. Character not a valid JSON character.", error);
    }
}

bool OrbadJSONScanner::scanDictionary(std::optional<Value>* out, Error* error, bool* fatal) {
    const size_t start = m_current;
    if (!obscanCharacter('{'))
        return fail(start, -1,
                    "Could not scan dictionary. Dictionary that does not start with '{' character.", error);
    if (!enterContainer(start, error, fatal)) return false;
    const Level level{*this};
    auto innerFailed = [&](int code, std::string_view message) {
        if (*fatal) {
            m_current = start;
            return false;
        }
        return fail(start, code, message, error);
    };
    Value::Dictionary dictionary;
    for (;;) {
        if (obcurrentCharacter() == '}') break;
        skipWhitespace();
        if (obcurrentCharacter() == '}') break;
        std::string key;
        bool keepCursor = false;
        if (!scanString(&key, error, &keepCursor))
            return innerFailed(-2, "Could not scan dictionary. Failed to scan a key.");
        skipWhitespace();
        if (!obscanCharacter(':'))
            return fail(start, -3, "Could not scan dictionary. Key was not terminated with a ':' character.",
                        error);
        std::optional<Value> value;
        if (!scanObject(&value, error, fatal))
            return innerFailed(-4, "Could not scan dictionary. Failed to scan a value.");
        if (value) dictionary.insert_or_assign(std::move(key), std::move(*value));
        skipWhitespace();
        if (!obscanCharacter(',')) {
            if (obcurrentCharacter() == '}') break;
            return fail(start, -5,
                        "Could not scan dictionary. Key value pairs not delimited with a ',' character.",
                        error);
        }
        skipWhitespace();
        if (obcurrentCharacter() == '}') break;
    }
    if (!obscanCharacter('}'))
        return fail(start, -6, "Could not scan dictionary. Dictionary not terminated by a '}' character.",
                    error);
    *out = Value(std::move(dictionary));
    return true;
}

bool OrbadJSONScanner::scanArray(std::optional<Value>* out, Error* error, bool* fatal) {
    const size_t start = m_current;
    skipWhitespace();
    if (!obscanCharacter('['))
        return fail(start, -7, "Could not scan array. Array not started by a '[' character.", error);
    if (!enterContainer(start, error, fatal)) return false;
    const Level level{*this};
    constexpr std::string_view kNotTerminated =
        "Could not scan array. Array not terminated by a ']' character.";
    skipWhitespace();
    Value::Array array;
    while (obcurrentCharacter() != ']') {
        std::optional<Value> value;
        if (!scanObject(&value, error, fatal)) {
            if (*fatal) {
                m_current = start;
                return false;
            }
            return fail(start, -8, "Could not scan array. Could not scan a value.", error);
        }
        if (value)
            array.push_back(std::move(*value));
        else if (m_nullObject)
            return fail(start, -9, "Could not scan array. Value is NULL.", error);
        skipWhitespace();
        const bool comma = obscanCharacter(',');
        skipWhitespace();
        if (!comma) {
            if (obcurrentCharacter() == ']') break;
            return fail(start, -10, kNotTerminated, error);
        }
    }
    skipWhitespace();
    if (!obscanCharacter(']')) return fail(start, -10, kNotTerminated, error);
    *out = Value(std::move(array));
    return true;
}

bool OrbadJSONScanner::scanString(std::string* out, Error* error, bool* keepCursor) {
    const size_t start = m_current;
    skipWhitespace();
    if (!obscanCharacter('"'))
        return fail(start, -11, "Could not scan string constant. String not started by a '\"' character.",
                    error);
    constexpr std::string_view kUndecodable =
        "Could not scan string constant. Unicode character could not be decoded.";
    constexpr std::string_view kUnterminated =
        "Could not scan string constant. No terminating double quote character.";
    // Failures that leave the cursor where the scan stopped.
    auto stopHere = [&](std::string_view message, int code) {
        if (error)
            *error = makeError(kJSONScannerErrorDomain, code, std::string(message), errorInfo(message));
        *keepCursor = true;
        return false;
    };
    const uint8_t* const data = m_data.data();
    const size_t size = m_data.size();
    out->clear();
    for (;;) {
        // A run of plain bytes, checked as UTF-8 and appended whole.
        size_t end = m_current;
        while (end < size) {
            const uint8_t b = data[end];
            if (b == '"' || b == '\\') break;
            if (b < 0x80) {
                ++end;
                continue;
            }
            char32_t cp;
            const size_t len = utf8::decode(data + end, size - end, &cp);
            if (len == 0) {
                out->append(reinterpret_cast<const char*>(data + m_current), end - m_current);
                m_current = end;
                return stopHere(kUndecodable, -12);
            }
            end += len;
        }
        out->append(reinterpret_cast<const char*>(data + m_current), end - m_current);
        m_current = end;
        if (m_current >= size) return stopHere(kUnterminated, -14);
        if (data[m_current++] == '"') return true;
        if (m_current >= size) return stopHere(kUnterminated, -14);
        const uint8_t c = data[m_current];
        switch (c) {
            case '"':
            case '/':
            case '\\':
                *out += static_cast<char>(c);
                ++m_current;
                continue;
            case 'b':
                *out += '\b';
                ++m_current;
                continue;
            case 'f':
                *out += '\f';
                ++m_current;
                continue;
            case 'n':
                *out += '\n';
                ++m_current;
                continue;
            case 'r':
                *out += '\r';
                ++m_current;
                continue;
            case 't':
                *out += '\t';
                ++m_current;
                continue;
            case 'u': {
                auto readUnit = [&](size_t at, char32_t* unit) {
                    if (size - at < 4) return false;
                    char32_t v = 0;
                    for (size_t i = 0; i < 4; ++i) {
                        const int d = hexDigit(data[at + i]);
                        if (d < 0) return false;
                        v = v << 4 | static_cast<char32_t>(d);
                    }
                    *unit = v;
                    return true;
                };
                char32_t unit;
                if (!readUnit(m_current + 1, &unit)) return fail(start, -12, kUndecodable, error);
                m_current += 5;
                if (utf8::isHighSurrogate(unit)) {
                    char32_t low;
                    if (size - m_current >= 2 && data[m_current] == '\\' && data[m_current + 1] == 'u' &&
                        readUnit(m_current + 2, &low) && utf8::isLowSurrogate(low)) {
                        unit = utf8::fromSurrogates(unit, low);
                        m_current += 6;
                    } else {
                        unit = 0xFFFD;
                    }
                } else if (utf8::isLowSurrogate(unit)) {
                    unit = 0xFFFD;
                }
                utf8::append(*out, unit);
                continue;
            }
            default:
                if (m_strictEscapeCodes)
                    return fail(start, -13, "Could not scan string constant. Unknown escape code.", error);
                if (c < 0x80) {
                    *out += static_cast<char>(c);
                    ++m_current;
                    continue;
                }
                char32_t cp;
                const size_t len = utf8::decode(data + m_current, size - m_current, &cp);
                if (len == 0) return stopHere(kUndecodable, -12);
                out->append(reinterpret_cast<const char*>(data + m_current), len);
                m_current += len;
        }
    }
}

// ---- OrbadJSONDeserializer ----

bool OrbadJSONDeserializer::start(const Data& data, Error* error) {
    if (data.empty()) {
        if (error) *error = makeError(kJSONDeserializerErrorDomain, -1, "");
        return false;
    }
    m_scanner.setData(data);
    return true;
}

std::optional<Value> OrbadJSONDeserializer::deserialize(const Data& data, Error* error) {
    std::optional<Value> value;
    if (start(data, error)) m_scanner.scanJSONObject(&value, error);
    return value;
}

std::optional<Value> OrbadJSONDeserializer::deserializeAsDictionary(const Data& data, Error* error) {
    std::optional<Value> value;
    if (start(data, error)) m_scanner.scanJSONDictionary(&value, error);
    return value;
}

std::optional<Value> OrbadJSONDeserializer::deserializeAsArray(const Data& data, Error* error) {
    std::optional<Value> value;
    if (start(data, error)) m_scanner.scanJSONArray(&value, error);
    return value;
}

}  // namespace orbad
