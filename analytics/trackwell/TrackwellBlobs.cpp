#include "analytics/trackwell/TrackwellBlobs.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "platform/foundation/JSONText.h"
#include "platform/foundation/UTF8.h"

namespace dk::trackwell {

namespace {

constexpr const char* kLibraryVersion = "iOS_2.5";
constexpr std::uint64_t kUnknownMemory = 2147483647;  // also the most a signed 32-bit member holds

std::int64_t truncateToInt64(double value) {
    if (std::isnan(value)) return 0;
    const double t = std::trunc(value);
    if (t >= 9.2e18) return std::numeric_limits<std::int64_t>::max();
    if (t <= -9.2e18) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(t);
}

std::string quoted(const std::optional<std::string>& value) {
    return value ? "\"" + escapeString(*value) + "\"" : "null";
}

}  // namespace

std::string escapeString(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    if (plat::foundation::utf8::valid(text))
        plat::foundation::appendJSONEscaped(out, text);
    else
        plat::foundation::appendJSONEscaped(out, plat::foundation::utf8::replaceInvalid(text));
    return out;
}

std::string describe(const AttributeValue& value) {
    if (const std::string* text = std::get_if<std::string>(&value)) return *text;
    if (const bool* flag = std::get_if<bool>(&value)) return *flag ? "1" : "0";
    const double number = std::get<double>(value);
    char out[32];
    if (std::trunc(number) == number && std::fabs(number) < 1e15)
        std::snprintf(out, sizeof out, "%lld", static_cast<long long>(number));
    else
        std::snprintf(out, sizeof out, "%.15g", number);
    return out;
}

std::uint32_t truncateUnsigned(double value) {
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(truncateToInt64(value)));
}

std::int32_t truncateSigned(double value) {
    return static_cast<std::int32_t>(truncateUnsigned(value));
}

// ---- BlobWriter ----

void BlobWriter::name(std::string_view name) {
    if (!m_first) m_text += ',';
    m_first = false;
    m_text += '"';
    m_text += escapeString(name);
    m_text += "\":";
}

BlobWriter& BlobWriter::string(std::string_view member, const std::optional<std::string>& value) {
    name(member);
    m_text += quoted(value);
    return *this;
}

BlobWriter& BlobWriter::number(std::string_view member, long long value) {
    name(member);
    m_text += std::to_string(value);
    return *this;
}

BlobWriter& BlobWriter::boolean(std::string_view member, bool value) {
    name(member);
    m_text += value ? "true" : "false";
    return *this;
}

BlobWriter& BlobWriter::raw(std::string_view member, std::string_view json) {
    name(member);
    m_text += json;
    return *this;
}

BlobWriter& BlobWriter::dimensions(const std::optional<std::string> (&values)[4]) {
    for (int slot = 0; slot < 4; ++slot)
        if (values[slot]) string("c" + std::to_string(slot), values[slot]);
    return *this;
}

std::string attributesObject(const AttributeList& attributes) {
    BlobWriter object;
    for (const auto& [key, value] : attributes) object.string(key, describe(value));
    return object.finish();
}

std::string flowEntry(std::string_view type, std::string_view name) {
    return BlobWriter().string(type, std::string(name)).finish();
}

std::string quotedScreen(std::string_view name) {
    return quoted(std::string(name));
}

std::string deviceFactsObject(const HeaderFacts& f) {
    return BlobWriter()
        .string("dt", "a")
        .string("iu", f.installationId)
        .string("au", f.applicationKey)
        .string("av", f.appVersion)
        .string("lv", kLibraryVersion)
        .string("du", f.systemIdentifier)
        .string("udid", f.udid)
        .string("dp", f.model)
        .string("dov", f.systemVersion)
        .string("dmo", f.machine)
        .string("devid", f.userId)
        .string("ari", f.releaseId)
        .string("ra", f.live ? "yes" : "no")
        .string("dwid", f.macDigest)
        // More free memory than 32 bits hold reads as the same "unknown", never as a wrapped figure.
        .number("dmem", static_cast<long long>(std::min(f.freeMemory, kUnknownMemory)))
        .string("dll", f.languageName)
        .string("dlc", f.countryName)
        .string("dc", f.countryCode)
        .boolean("j", f.jailbroken)
        .finish();
}

std::string headerBlob(int sequence, double created, const std::string& uuid, const HeaderFacts& facts) {
    return BlobWriter()
        .number("seq", sequence)
        .number("pa", truncateUnsigned(created))
        .string("dt", "h")
        .string("u", uuid)
        .raw("attrs", deviceFactsObject(facts))
        .finish();
}

}  // namespace dk::trackwell
