// The URL cache's reading of response headers: HTTP dates and the expiration rules on any header
// map. No crash; a date read back from its RFC 1123 text is the same moment; an expiration is a
// finite moment.
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "kiosk/cache/SDURLCache.h"

namespace {

constexpr double kNow = 1700000000;

void checkDate(std::string_view text) {
    std::optional<double> when = SDURLCache::dateFromHttpDateString(text, kNow);
    if (!when) return;
    if (!std::isfinite(*when)) std::abort();
    const std::time_t t = static_cast<std::time_t>(*when);
    std::tm tm{};
    if (!gmtime_r(&t, &tm) || tm.tm_year + 1900 < 1000 || tm.tm_year + 1900 > 9999) return;
    char again[64];
    std::strftime(again, sizeof again, "%a, %d %b %Y %H:%M:%S GMT", &tm);  // the C locale's names
    if (SDURLCache::dateFromHttpDateString(again, kNow) != when) std::abort();
}

}  // namespace

// The first line is the status; each further line "Name: value".
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::size_t end = text.find('\n');
    const int status = std::atoi(std::string(text.substr(0, end)).c_str());
    plat::net::Headers headers;
    while (end != std::string_view::npos) {
        text.remove_prefix(end + 1);
        end = text.find('\n');
        std::string_view line = text.substr(0, end);
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        std::string_view value = line.substr(colon + 1);
        while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
        headers.emplace_back(std::string(line.substr(0, colon)), std::string(value));
        checkDate(value);
    }
    std::optional<double> expires = SDURLCache::expirationDateFromHeaders(headers, status, kNow);
    if (expires && !std::isfinite(*expires)) std::abort();
    return 0;
}
