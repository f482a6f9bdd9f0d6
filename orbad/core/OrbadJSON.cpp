#include "orbad/core/OrbadJSON.h"

#include <locale.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "orbad/core/OrbadUTF8.h"

namespace orbad {

namespace {

bool isJSONSpace(uint8_t c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

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
        if (unit == 2 && c >= 0xD800 && c <= 0xDBFF) {
            if (at + 2 >= in.size()) return false;
            const char32_t low = read(at + 2);
            if (low < 0xDC00 || low > 0xDFFF) return false;
            c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            at += 2;
        } else if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) {
            return false;
        }
        utf8::append(text, c);
    }
    out.assign(text.begin(), text.end());
    return true;
}

void appendDouble(std::string& out, double v) {
    char buffer[40];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::general, 16);
    out.append(buffer, result.ptr);
}

}  // namespace

ByteSet::ByteSet(std::string_view members) {
    for (char c : members) {
        const auto b = static_cast<uint8_t>(c);
        m_bits[b >> 6] |= uint64_t{1} << (b & 63);
    }
}

const std::vector<char32_t>& obLinebreaksCharacterSet() {
    static const std::vector<char32_t> set = {0x0A, 0x0C, 0x0D, 0x85, 0x2028, 0x2029};
    return set;
}

// ---- OrbadDataScanner ----

void OrbadDataScanner::setData(Data data) {
    m_data = std::move(data);
    m_current = 0;
}

uint8_t OrbadDataScanner::obscanCharacter() {
    if (isAtEnd()) return 0;
    return m_data[m_current++];
}

bool OrbadDataScanner::obscanCharacter(uint8_t expected) {
    if (isAtEnd() || m_data[m_current] != expected) return false;
    ++m_current;
    return true;
}

void OrbadDataScanner::skipWhitespace() {
    while (m_current < m_data.size() && isJSONSpace(m_data[m_current])) ++m_current;
}

bool OrbadDataScanner::scanUTF8String(std::string_view text, std::string* into) {
    if (text.empty() || m_data.size() - m_current < text.size() ||
        std::memcmp(m_data.data() + m_current, text.data(), text.size()) != 0)
        return false;
    m_current += text.size();
    if (into) *into = text;
    return true;
}

bool OrbadDataScanner::scanNumber(double* out) {
    static const ByteSet numberBytes("0123456789eE-.");
    std::string run;
    if (!obscanCharactersFromSet(numberBytes, &run)) return false;
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t(0));
    *out = strtod_l(run.c_str(), nullptr, cLocale);
    return true;
}

bool OrbadDataScanner::obscanCharactersFromSet(const ByteSet& set, std::string* into) {
    size_t end = m_current;
    while (end < m_data.size() && set.contains(m_data[end])) ++end;
    if (end == m_current) return false;
    if (into) into->assign(reinterpret_cast<const char*>(m_data.data() + m_current), end - m_current);
    m_current = end;
    return true;
}

bool OrbadDataScanner::scanUpToCharactersFromSet(const ByteSet& set, std::string* into) {
    size_t end = m_current;
    while (end < m_data.size() && !set.contains(m_data[end])) ++end;
    if (end == m_current) return false;
    if (into) into->assign(reinterpret_cast<const char*>(m_data.data() + m_current), end - m_current);
    m_current = end;
    return true;
}

bool OrbadDataScanner::scanUpToString(std::string_view text, std::string* into) {
    if (text.empty()) return false;
    std::string_view rest(reinterpret_cast<const char*>(m_data.data() + m_current),
                          m_data.size() - m_current);
    const size_t at = rest.find(text);
    if (at == std::string_view::npos) return false;
    if (into) *into = rest.substr(0, at);
    m_current += at;
    return true;
}

std::string OrbadDataScanner::obremainingString() const {
    return utf8::lossy(m_data.data() + m_current, m_data.size() - m_current);
}

size_t OrbadDataScanner::linebreakAt(size_t at) const {
    const size_t left = m_data.size() - at;
    if (at >= m_data.size()) return 0;
    const uint8_t* p = m_data.data() + at;
    if (*p == '\n' || *p == '\f' || *p == '\r') return 1;
    if (left >= 2 && p[0] == 0xC2 && p[1] == 0x85) return 2;
    if (left >= 3 && p[0] == 0xE2 && p[1] == 0x80 && (p[2] == 0xA8 || p[2] == 0xA9)) return 3;
    return 0;
}

bool OrbadDataScanner::obScanCPlusPlusStyleComment(std::string* into, std::string* reason) {
    if (!scanUTF8String("//")) {
        if (reason) *reason = "Not a C++ style comment.";
        return false;
    }
    const size_t start = m_current;
    while (m_current < m_data.size() && linebreakAt(m_current) == 0) ++m_current;
    if (into) into->assign(reinterpret_cast<const char*>(m_data.data() + start), m_current - start);
    while (size_t len = linebreakAt(m_current)) m_current += len;
    return true;
}

bool OrbadDataScanner::obScanCStyleComment(std::string* into, std::string* reason) {
    const size_t start = m_current;
    if (!scanUTF8String("/*")) {
        if (reason) *reason = "Not a C style comment.";
        return false;
    }
    std::string body;
    if (!scanUpToString("*/", &body)) {
        m_current = start;
        if (reason) *reason = "Started to scan a C style comment but it wasn't terminated.";
        return false;
    }
    if (body.find("/*") != std::string::npos) {
        m_current = start;
        if (reason) *reason = "C style comments should not be nested.";
        return false;
    }
    if (!scanUTF8String("*/")) {
        m_current = start;
        if (reason) *reason = "C style comment did not end correctly.";
        return false;
    }
    if (into) *into = std::move(body);
    return true;
}

bool OrbadDataScanner::obbacktrack(size_t count, std::string* reason) {
    if (count > m_current) {
        if (reason) *reason = "Backtracked too far.";
        return false;
    }
    m_current -= count;
    return true;
}

size_t OrbadDataScanner::obLineOfScanLocation() const {
    size_t lines = 0;
    for (size_t i = 0; i < m_current; ++i) lines += m_data[i] == '\n' || m_data[i] == '\r';
    return lines;
}

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
    std::string snippet = utf8::lossy(m_data.data() + m_current - before, before);
    snippet += "!HERE>!";
    snippet += utf8::lossy(m_data.data() + m_current, after);
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
                if (unit >= 0xD800 && unit <= 0xDBFF) {
                    char32_t low;
                    if (size - m_current >= 2 && data[m_current] == '\\' && data[m_current + 1] == 'u' &&
                        readUnit(m_current + 2, &low) && low >= 0xDC00 && low <= 0xDFFF) {
                        unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                        m_current += 6;
                    } else {
                        unit = 0xFFFD;
                    }
                } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
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

// ---- writing ----

std::string numberDescription(const Value& number) {
    switch (number.type()) {
        case Value::Type::Bool:
            return number.boolValue() ? "1" : "0";
        case Value::Type::Integer:
            return std::to_string(number.intValue());
        case Value::Type::Real: {
            std::string out;
            appendDouble(out, number.doubleValue());
            return out;
        }
        default:
            return number.description();
    }
}

std::string jsonDateString(const plat::foundation::Date& date) {
    const auto seconds = static_cast<std::time_t>(std::floor(date.seconds));
    std::tm local{};
    localtime_r(&seconds, &local);
    char buffer[64];
    const size_t n = std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%S%z", &local);
    return std::string(buffer, n);
}

namespace {

const char* typeName(const Value& object) {
    switch (object.type()) {
        case Value::Type::Date:
            return "NSDate";
        case Value::Type::Data:
            return "NSData";
        default:
            return "NSObject";
    }
}

void writeString(std::string_view text, std::string& out) {
    static const char kHex[] = "0123456789abcdef";
    const auto* p = reinterpret_cast<const uint8_t*>(text.data());
    const size_t n = text.size();
    out.reserve(out.size() + n + 2);
    out += '"';
    size_t i = 0;
    while (i < n) {
        size_t run = i;
        while (run < n && p[run] >= 0x20 && p[run] < 0x80 && p[run] != '"' && p[run] != '\\' && p[run] != '/')
            ++run;
        out.append(reinterpret_cast<const char*>(p + i), run - i);
        i = run;
        if (i >= n) break;
        const uint8_t b = p[i];
        if (b >= 0x80) {
            char32_t cp;
            const size_t len = utf8::decode(p + i, n - i, &cp);
            if (len == 0) {
                out += "\xEF\xBF\xBD";
                ++i;
            } else if (cp == 0x2028 || cp == 0x2029) {
                out += cp == 0x2028 ? "\\u2028" : "\\u2029";
                i += len;
            } else {
                out.append(reinterpret_cast<const char*>(p + i), len);
                i += len;
            }
            continue;
        }
        switch (b) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '/':
                out += "\\/";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += "\\u00";
                out += kHex[b >> 4];
                out += kHex[b & 15];
        }
        ++i;
    }
    out += '"';
}

bool serializerFail(Error* error, std::string message) {
    if (error)
        *error = makeError(kJSONSerializerErrorDomain, -1, message,
                           Value(Value::Dictionary{{std::string(kLocalizedDescriptionKey), Value(message)}}));
    return false;
}

}  // namespace

bool OrbadJSONSerializer::write(const Value& object, std::string& out, Error* error) {
    switch (object.type()) {
        case Value::Type::Null:
            out += "null";
            return true;
        case Value::Type::Bool:
            out += object.boolValue() ? "true" : "false";
            return true;
        case Value::Type::Integer:
            out += std::to_string(object.intValue());
            return true;
        case Value::Type::Real: {
            const double v = object.doubleValue();
            if (std::isfinite(v))
                appendDouble(out, v);
            else
                out += "null";
            return true;
        }
        case Value::Type::String:
            writeString(*object.string(), out);
            return true;
        case Value::Type::Array: {
            out += '[';
            bool first = true;
            for (const Value& element : *object.array()) {
                if (!first) out += ',';
                first = false;
                if (!write(element, out, error)) return false;
            }
            out += ']';
            return true;
        }
        case Value::Type::Dictionary: {
            out += '{';
            bool first = true;
            for (const auto& [key, value] : *object.dictionary()) {
                if (!first) out += ',';
                first = false;
                writeString(key, out);
                out += ':';
                if (!write(value, out, error)) return false;
            }
            out += '}';
            return true;
        }
        case Value::Type::Data: {
            const Data& bytes = *object.data();
            if (!utf8::valid(bytes.data(), bytes.size()))
                return serializerFail(error, "Could not serialize object '" + object.description() + "'");
            writeString(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), out);
            return true;
        }
        default:
            return serializerFail(error,
                                  std::string("Cannot serialize data of type '") + typeName(object) + "'");
    }
}

std::optional<std::string> OrbadJSONSerializer::serializeObject(const Value& object, Error* error) {
    std::string out;
    if (!write(object, out, error)) return std::nullopt;
    return out;
}

std::optional<std::string> OrbadJSONSerializer::serializeNull(Error*) {
    return std::string("null");
}

std::optional<std::string> OrbadJSONSerializer::serializeNumber(const Value& number, Error* error) {
    const Value::Type type = number.type();
    if (type != Value::Type::Bool && type != Value::Type::Integer && type != Value::Type::Real) {
        serializerFail(error, "Could not serialize object '" + number.description() + "'");
        return std::nullopt;
    }
    return serializeObject(number, error);
}

std::optional<std::string> OrbadJSONSerializer::serializeString(std::string_view text, Error*) {
    std::string out;
    writeString(text, out);
    return out;
}

std::optional<std::string> OrbadJSONSerializer::serializeArray(const Value& array, Error* error) {
    if (!array.array()) {
        serializerFail(error, "Could not serialize object '" + array.description() + "'");
        return std::nullopt;
    }
    return serializeObject(array, error);
}

std::optional<std::string> OrbadJSONSerializer::serializeDictionary(const Value& dictionary, Error* error) {
    if (!dictionary.dictionary()) {
        serializerFail(error, "Could not serialize object '" + dictionary.description() + "'");
        return std::nullopt;
    }
    return serializeObject(dictionary, error);
}

bool OBJSONSerializer::write(const Value& object, std::string& out, Error* error) {
    if (const plat::foundation::Date* date = object.date()) {
        writeString(jsonDateString(*date), out);
        return true;
    }
    return OrbadJSONSerializer::write(object, out, error);
}

std::optional<std::string> OBJSONSerializer::serializeObject(const Value& object, Error* error) {
    std::string out;
    if (!write(object, out, error)) return std::nullopt;
    return out;
}

// ---- the facade ----

std::optional<Value> OrbadJSON::decodeData(const Data& data, Error* error) {
    OrbadJSONScanner scanner(data);
    scanner.setNullObject(std::nullopt);
    std::optional<Value> value;
    scanner.scanJSONObject(&value, error);
    return value;
}

std::optional<std::string> OrbadJSON::encodeObject(const Value& object) {
    return OBJSONSerializer().serializeObject(object);
}

}  // namespace orbad
