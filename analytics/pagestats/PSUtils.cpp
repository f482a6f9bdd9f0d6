#include "analytics/pagestats/PSUtils.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "analytics/trackwell/TrackwellEnvironment.h"
#include "platform/foundation/DeviceFactsFile.h"
#include "platform/foundation/Log.h"

namespace {

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool isCountryCode(std::string_view part) {
    auto all = [&](int (*test)(int)) {
        for (char c : part)
            if (!test(static_cast<unsigned char>(c))) return false;
        return true;
    };
    return (part.size() == 2 && all(isalpha)) || (part.size() == 3 && all(isdigit));
}

}  // namespace

std::int64_t PSUtils::currentTimeMillis() {
    return timeMillisForDate(dk::trackwell::wallTime());
}

std::int64_t PSUtils::timeMillisForDate(double secondsSince1970) {
    return static_cast<std::int64_t>(secondsSince1970 * 1000.0);
}

std::string PSUtils::systemLanguage() {
    return systemLanguageFromLanguages(plat::foundation::deviceFacts().languages);
}

std::string PSUtils::systemLanguageFromLanguages(const std::vector<std::string>& languages) {
    return languages.empty() ? "en" : lower(languages.front());
}

std::string PSUtils::systemCountry() {
    return systemCountryFromLocale(plat::foundation::deviceFacts().locale);
}

// "en_US", "zh_Hans_CN", "es_419", "en_US_POSIX": the first part after the language that is a
// region (two letters or three digits).
std::string PSUtils::systemCountryFromLocale(std::string_view locale) {
    std::size_t at = locale.find_first_of("_-");
    while (at != std::string_view::npos) {
        std::size_t end = locale.find_first_of("_-", at + 1);
        std::string_view part = locale.substr(at + 1, end == std::string_view::npos ? end : end - at - 1);
        if (isCountryCode(part)) return lower(part);
        at = end;
    }
    return "";
}

std::string PSUtils::urlEncodeString(std::string_view text) {
    static const char* const kHex = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() * 3);
    for (char c : text) {
        unsigned char byte = static_cast<unsigned char>(c);
        const bool alnum = (byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z');
        if (alnum || std::string_view("-_.!~*'()").find(c) != std::string_view::npos) {
            out += c;
        } else {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        }
    }
    return out;
}

PSUtils::Params PSUtils::paramsFromQuery(const std::optional<std::string>& query) {
    Params params;
    if (!query) return params;
    std::size_t start = 0;
    while (true) {
        std::size_t end = query->find('&', start);
        std::string piece = query->substr(start, end == std::string::npos ? end : end - start);
        std::size_t eq = piece.find('=');
        if (eq == std::string::npos)
            params[piece] = std::nullopt;
        else
            params[piece.substr(0, eq)] = piece.substr(eq + 1);
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return params;
}

std::string PSUtils::addQueueTimeParameter(const std::string& hit, std::int64_t currentTime) {
    static constexpr std::string_view kKey = "utmht=";
    std::size_t at = hit.find(kKey);
    if (at == std::string::npos || hit.find(kKey, at + kKey.size()) != std::string::npos) {
        log("Unable to find utmht parameter for hit: " + hit);
        return hit;
    }
    const std::string after = hit.substr(at + kKey.size());
    const char* start = after.c_str();
    char* end = nullptr;
    errno = 0;
    long long hitTime = std::strtoll(start, &end, 10);
    if (end == start || hitTime <= 0) {
        log("Error parsing utmht parameter: " + after);
        return hit;
    }
    return hit + "&utmqt=" + std::to_string(currentTime - hitTime);
}

void PSUtils::log(std::string_view message) {
    plat::foundation::logText(message);
}
