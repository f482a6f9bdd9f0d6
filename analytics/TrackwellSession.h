// The metrics session: one per process, each call returns at once and reports nothing back.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <variant>

class TrackwellSession {
public:
    // An event attribute's value: text or a number.
    using AttributeValue = std::variant<std::string, double>;
    using Attributes = std::map<std::string, AttributeValue>;

    static TrackwellSession& sharedTrackwellSession();

    // Keeps `applicationKey`, opens a session and starts an upload.
    void startSession(std::string_view applicationKey);
    void resume();
    void close();
    void upload();
    void tagEvent(std::string_view name, const Attributes& attributes = {});

private:
    TrackwellSession() = default;
};
