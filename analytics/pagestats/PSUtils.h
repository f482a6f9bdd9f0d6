// The page-view client's small utilities: its clock, the device's language and country, query
// parsing, percent-encoding and the queue time of a hit; its diagnostic lines.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class PSUtils {
public:
    // Milliseconds since 1970 on the client's wall time (which follows the run loop's clock).
    static std::int64_t currentTimeMillis();
    static std::int64_t timeMillisForDate(double secondsSince1970);

    // The first preferred language in lower case; "en" when there is none.
    static std::string systemLanguage();
    static std::string systemLanguageFromLanguages(const std::vector<std::string>& languages);
    // The locale's country code in lower case; "" when the locale names none ("en").
    static std::string systemCountry();
    static std::string systemCountryFromLocale(std::string_view locale);

    // Letters, digits and - _ . ! ~ * ' ( ) stay; every other byte becomes "%XX" (upper case).
    static std::string urlEncodeString(std::string_view text);

    // Key to value; a piece without "=" maps its whole text to nullopt. The last of a key wins.
    using Params = std::map<std::string, std::optional<std::string>>;
    static Params paramsFromQuery(const std::optional<std::string>& query);

    // The hit with "&utmqt=" (now minus its "utmht=" time) appended; unchanged, and logged, when
    // it has no readable hit time.
    static std::string addQueueTimeParameter(const std::string& hit, std::int64_t currentTime);

    // One diagnostic line on standard error.
    static void log(std::string_view message);
};
