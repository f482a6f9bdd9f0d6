#include "kiosk/KSJsonWriter.h"

#include <algorithm>
#include <vector>

#include "platform/foundation/JSONText.h"

std::optional<std::string> KSJsonWriter::stringWithObject(const KSJsonValue& value) {
    reset();
    if (!value.isContainer()) {
        addErrorWithCode(kKSJsonFragment, "Not valid type for JSON");
        return std::nullopt;
    }
    std::string out;
    if (!appendValue(value, out)) return std::nullopt;
    return out;
}

std::optional<std::string> KSJsonWriter::stringWithObject(const KSJsonValue& value, KSJsonError* error) {
    std::optional<std::string> text = stringWithObject(value);
    if (!text && error && !errorTrace().empty()) *error = errorTrace().back();
    return text;
}

void KSJsonWriter::indent(std::string& out) {
    out += '\n';
    out.append(2 * depth(), ' ');
}

bool KSJsonWriter::appendValue(const KSJsonValue& value, std::string& out) {
    switch (value.type()) {
        case KSJsonValue::Type::Object:
            return appendDictionary(*value.object(), out);
        case KSJsonValue::Type::Array:
            return appendArray(*value.array(), out);
        case KSJsonValue::Type::String:
            appendString(*value.string(), out);
            return true;
        case KSJsonValue::Type::Bool:
            out += *value.boolean() ? "true" : "false";
            return true;
        case KSJsonValue::Type::Integer:
            out += std::to_string(*value.integer());
            return true;
        case KSJsonValue::Type::Decimal: {
            const KSDecimal& d = *value.decimal();
            if (d.isNaN()) {
                addErrorWithCode(kKSJsonUnsupported, "NaN is not a valid number in JSON");
                return false;
            }
            if (d.isInfinite()) {
                addErrorWithCode(kKSJsonUnsupported, "Infinity is not a valid number in JSON");
                return false;
            }
            out += d.text();
            return true;
        }
        case KSJsonValue::Type::Null:
            out += "null";
            return true;
    }
    return false;
}

bool KSJsonWriter::appendArray(const KSJsonArray& array, std::string& out) {
    if (!enterContainer()) return false;
    out += '[';
    bool first = true;
    for (const KSJsonValue& element : array) {
        if (!first) out += ',';
        first = false;
        if (m_humanReadable) indent(out);
        if (!appendValue(element, out)) return false;
    }
    leaveContainer();
    if (m_humanReadable && !array.empty()) indent(out);
    out += ']';
    return true;
}

bool KSJsonWriter::appendDictionary(const KSJsonObject& object, std::string& out) {
    if (!enterContainer()) return false;
    std::vector<const KSJsonObject::Member*> members;
    members.reserve(object.size());
    for (const KSJsonObject::Member& member : object) members.push_back(&member);
    if (m_sortKeys)
        std::sort(members.begin(), members.end(), [](const auto* a, const auto* b) { return a->first < b->first; });
    out += '{';
    bool first = true;
    for (const KSJsonObject::Member* member : members) {
        if (!first) out += ',';
        first = false;
        if (m_humanReadable) indent(out);
        appendString(member->first, out);
        out += m_humanReadable ? " : " : ":";
        if (!appendValue(member->second, out)) {
            addErrorWithCode(kKSJsonUnsupported, "Unsupported value for key " + member->first + " in object");
            return false;
        }
    }
    leaveContainer();
    if (m_humanReadable && !object.empty()) indent(out);
    out += '}';
    return true;
}

void KSJsonWriter::appendString(const std::string& text, std::string& out) {
    out += '"';
    plat::foundation::appendJSONEscaped(out, text);
    out += '"';
}
