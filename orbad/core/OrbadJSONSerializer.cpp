#include "orbad/core/OrbadJSON.h"

#include <charconv>
#include <cmath>
#include <ctime>

#include "platform/foundation/UTF8.h"

namespace utf8 = plat::foundation::utf8;

namespace orbad {

namespace {

void appendDouble(std::string& out, double v) {
    char buffer[40];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::general, 16);
    out.append(buffer, result.ptr);
}

}  // namespace


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
        *error = Error{std::string(kJSONSerializerErrorDomain), -1, message,
                       Value(Value::Dictionary{{std::string(kLocalizedDescriptionKey), Value(message)}})};
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

}  // namespace orbad
