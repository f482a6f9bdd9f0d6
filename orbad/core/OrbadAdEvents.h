// An ad's event table: for each event, the URLs requested when it happens (impressions, touches).
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "orbad/core/OrbadJSON.h"

namespace orbad {

class OrbadAdEvents {
public:
    // Event name -> the URLs fired for it, in order.
    using Table = std::map<std::string, std::vector<std::string>>;

    // From an "eventUrls" object: each value a list of URL texts or one text; entries the URL
    // parser refuses are left out. Anything but an object gives an empty table.
    explicit OrbadAdEvents(const Value& events = {});

    const Table& events() const { return m_events; }
    void setEvents(Table events) { m_events = std::move(events); }

    // Requests each URL of the event once (a GET with the client's User-Agent); the answers are
    // not read and nothing is retried.
    void triggerEvent(std::string_view name) const;

    // Lower-cased without a leading "on": "onShow", "show" and "SHOW" name one event.
    static std::string eventName(std::string_view key);

private:
    Table m_events;
};

}  // namespace orbad
