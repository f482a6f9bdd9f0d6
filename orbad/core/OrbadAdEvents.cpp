#include "orbad/core/OrbadAdEvents.h"

#include <cctype>

#include "orbad/core/http/OBHTTPRequest.h"
#include "platform/net/URLParsing.h"

namespace orbad {

OrbadAdEvents::OrbadAdEvents(const Value& events) {
    const Value::Dictionary* table = events.dictionary();
    if (!table) return;
    for (const auto& [key, value] : *table) {
        const Value::Array* list = value.array();
        const Value::Array single = list ? Value::Array{} : Value::Array{value};
        std::vector<std::string> urls;
        for (const Value& entry : list ? *list : single) {
            std::string url = entry.description();
            if (plat::net::isValidURLString(url)) urls.push_back(std::move(url));
        }
        // A later key for the same event replaces the list.
        m_events.insert_or_assign(eventName(key), std::move(urls));
    }
}

std::string OrbadAdEvents::eventName(std::string_view key) {
    std::string name(key);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    // Any leading "on" goes: "online" names the event "line".
    if (name.starts_with("on")) name.erase(0, 2);
    return name;
}

void OrbadAdEvents::triggerEvent(std::string_view name) const {
    auto it = m_events.find(eventName(name));
    if (it == m_events.end()) return;
    for (const std::string& url : it->second) {
        auto request = OBHTTPRequest::create(url);
        request->setIgnoresResponseBody(true);
        request->startAsynchronous();
    }
}

}  // namespace orbad
