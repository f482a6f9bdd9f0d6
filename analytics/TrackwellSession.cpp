#include "analytics/TrackwellSession.h"

#include <cstdio>

#include "platform/foundation/Log.h"

namespace {

plat::foundation::TraceCategory kSvc("svc");

std::string describe(const TrackwellSession::AttributeValue& value) {
    if (const std::string* text = std::get_if<std::string>(&value)) return *text;
    char number[32];
    std::snprintf(number, sizeof number, "%.15g", std::get<double>(value));
    return number;
}

}  // namespace

TrackwellSession& TrackwellSession::sharedTrackwellSession() {
    static TrackwellSession session;
    return session;
}

void TrackwellSession::startSession(std::string_view applicationKey) {
    plat::foundation::trace(kSvc, [&] { return "metrics startSession " + std::string(applicationKey); });
}

void TrackwellSession::resume() {
    plat::foundation::trace(kSvc, "metrics resume");
}

void TrackwellSession::close() {
    plat::foundation::trace(kSvc, "metrics close");
}

void TrackwellSession::upload() {
    plat::foundation::trace(kSvc, "metrics upload");
}

void TrackwellSession::tagEvent(std::string_view name, const Attributes& attributes) {
    plat::foundation::trace(kSvc, [&] {
        std::string line = "metrics tagEvent " + std::string(name);
        for (const auto& [key, value] : attributes) line += " " + key + "=" + describe(value);
        return line;
    });
}
