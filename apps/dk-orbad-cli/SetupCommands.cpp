#include "apps/dk-orbad-cli/SetupCommands.h"

#include <cstdio>
#include <map>

#include "orbad/Orbad.h"
#include "orbad/core/OBConfig.h"
#include "orbad/core/OBEnvironment.h"
#include "orbad/core/OBSession.h"
#include "orbad/core/OBSessionTracking.h"
#include "orbad/core/OrbadController.h"
#include "orbad/core/OrbadHelper.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Pasteboard.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/sys/Device.h"
#include "platform/ui/Application.h"

namespace dk::tools::orbadcli {

using plat::foundation::Value;

namespace {

std::string text(const std::optional<std::string>& value) {
    return value ? escape(*value) : "nil";
}
std::string text(bool value) {
    return value ? "YES" : "NO";
}
std::string date(const std::optional<double>& seconds) {
    if (!seconds) return "nil";
    char out[64];
    std::snprintf(out, sizeof out, "%.3f", *seconds);
    return out;
}

}  // namespace

const std::vector<AreaCommand<SetupCommands>>& SetupCommands::commands() {
    static const std::vector<AreaCommand<SetupCommands>> table = {
        {"start", {"start [APPID]"}, &SetupCommands::start},
        {"app", {"app resign|active|terminate"}, &SetupCommands::app},
        {"location", {"location LAT LON [ACCURACY]"}, &SetupCommands::location},
        {"battery", {"battery LEVEL STATE"}, &SetupCommands::battery},
        {"config", {"config"}, &SetupCommands::config},
        {"env", {"env"}, &SetupCommands::env},
        {"session", {"session"}, &SetupCommands::session},
        {"defaults", {"defaults KEY"}, &SetupCommands::defaults},
        {"pasteboard", {"pasteboard NAME TEXT"}, &SetupCommands::pasteboard},
    };
    return table;
}

bool SetupCommands::start(Call& call) {
    const std::vector<Arg>& args = call.args;
    if (args.size() > 1) return refuse("usage: start [APPID]");
    if (args.empty()) {
        if (!orbad::OrbadController::hasBeenInstantiated() && !orbad::OrbadController::canBeAutoInstantiated())
            return refuse("no application id");
        Orbad::start();
    } else {
        Orbad::startWithApplicationId(args[0].text);
    }
    say("ok");
    return true;
}

bool SetupCommands::battery(Call& call) {
    const std::vector<Arg>& args = call.args;
    double level;
    long long state;
    if (args.size() != 2 || !parseDouble(args[0].text, level) || !parseInt(args[1].text, state) ||
        !plat::sys::Device::current().setBattery(level, static_cast<int>(state)))
        return refuse("usage: battery LEVEL STATE (LEVEL -1 or 0 to 1, STATE 0-3)");
    say("ok");
    return true;
}

bool SetupCommands::defaults(Call& call) {
    const std::vector<Arg>& args = call.args;
    if (args.size() != 1) return refuse("usage: defaults KEY");
    auto* defaults = plat::foundation::UserDefaults::standard();
    std::optional<Value> value = defaults ? defaults->objectForKey(args[0].text) : std::nullopt;
    say("defaults " + escape(args[0].text) + " " + (value ? value->canonicalJSON() : "nil"));
    return true;
}

bool SetupCommands::pasteboard(Call& call) {
    const std::vector<Arg>& args = call.args;
    if (args.size() != 2) return refuse("usage: pasteboard NAME TEXT");
    std::unique_ptr<plat::foundation::Pasteboard> board = plat::foundation::Pasteboard::named(args[0].text, true);
    if (!board) return refuse("cannot make pasteboard " + args[0].text);
    board->setPersistent(true);
    if (!board->setString(args[1].text)) return refuse("cannot write pasteboard " + args[0].text);
    say("ok");
    return true;
}

bool SetupCommands::app(Call& call) {
    const std::vector<Arg>& args = call.args;
    static const std::map<std::string, const char*> kNotifications = {
        {"resign", plat::ui::kApplicationWillResignActiveNotification},
        {"active", plat::ui::kApplicationDidBecomeActiveNotification},
        {"terminate", plat::ui::kApplicationWillTerminateNotification}};
    auto found = args.size() == 1 ? kNotifications.find(args[0].text) : kNotifications.end();
    if (found == kNotifications.end()) return refuse("usage: app resign|active|terminate");
    plat::foundation::NotificationCenter::defaultCenter().post(found->second, {plat::ui::Application::shared()});
    say("ok");
    return true;
}

bool SetupCommands::location(Call& call) {

    const std::vector<Arg>& args = call.args;
    orbad::OBLocation where;
    where.horizontalAccuracy = 10;
    if (args.size() < 2 || args.size() > 3 || !parseDouble(args[0].text, where.latitude) ||
        !parseDouble(args[1].text, where.longitude) ||
        (args.size() == 3 && !parseDouble(args[2].text, where.horizontalAccuracy)))
        return refuse("usage: location LAT LON [ACCURACY]");
    Orbad::updateLocation(where);
    say("ok");
    return true;
}

bool SetupCommands::config(Call& call) {

    const std::vector<Arg>& args = call.args;
    if (!args.empty()) return refuse("usage: config");
    if (!orbad::OrbadController::hasBeenInstantiated()) return refuse("not started");
    orbad::OBConfig& c = orbad::OrbadController::sharedInstance().config();
    std::string handlers;
    for (const std::string& handler : c.nativeURLHandlers()) handlers += (handlers.empty() ? "" : " ") + handler;
    const std::pair<const char*, std::string> lines[] = {
        {"configURL", c.configURL()},
        {"oaBaseURL", c.getoaBaseURL()},
        {"feedbackURL", c.feedbackURL()},
        {"virtualCurrencyURL", c.virtualCurrencyURL()},
        {"advertisingURL", c.advertisingURL()},
        {"analyticsURL", c.analyticsURL()},
        {"instrumentationURL", c.instrumentationURL()},
        {"mraidURL", c.mraidURL()},
        {"loglevel", std::to_string(c.loglevel())},
        {"idleTimeout", orbad::fixedSix(c.idleTimeoutInterval())},
        {"nativeURLHandlers", handlers},
        {"userAgent", c.userAgent().empty() ? "nil" : c.userAgent()},
        {"isUpdating", text(c.isUpdating())},
        {"hasConfigFailed", text(c.hasConfigFailed())},
        {"capture", text(c.shouldSendOrbadDebugData())},
    };
    for (const auto& [key, value] : lines) say(std::string("config ") + key + " " + escape(value));
    return true;
}

bool SetupCommands::env(Call& call) {

    const std::vector<Arg>& args = call.args;
    if (!args.empty()) return refuse("usage: env");
    if (!orbad::OrbadController::hasBeenInstantiated()) return refuse("not started");
    const orbad::OBEnvironment& e = orbad::OrbadController::sharedInstance().environment();
    using orbad::OBEnvironment;
    const std::pair<const char*, std::string> lines[] = {
        {"applicationId", escape(e.applicationId())},
        {"applicationVersion", escape(e.applicationVersion())},
        {"deviceType", escape(e.deviceType())},
        {"libaryVersion", e.libaryVersion()},
        {"telephonyNetworkInfo", text(e.hasTelephonyNetworkInfo())},
        {"mobileCountryCode", text(e.mobileCountryCode())},
        {"mobileNetworkCode", text(e.mobileNetworkCode())},
        {"isoCountryCode", text(e.isoCountryCode())},
        {"language", text(e.language())},
        {"locale", escape(e.locale())},
        {"timeZone", text(e.timeZone())},
        {"initialLogLevel", std::to_string(e.initialLogLevel())},
        {"shouldAutoReportCrashes", text(e.shouldAutoReportCrashes())},
        {"deviceIdentifier", escape(OBEnvironment::deviceIdentifier())},
        {"limitTracking", text(OBEnvironment::limitTracking())},
        {"platformName", OBEnvironment::platformName()},
        {"facebookAttributionId", text(OBEnvironment::getFacebookAttributionId())},
        {"facebookAttributionKeyword", text(OBEnvironment::getFacebookAttributionKeyword())},
        {"connectionType", e.connectionType()},
        {"location", e.location()},
    };
    for (const auto& [key, value] : lines) say(std::string("env ") + key + " " + value);
    return true;
}

bool SetupCommands::session(Call& call) {

    const std::vector<Arg>& args = call.args;
    if (!args.empty()) return refuse("usage: session");
    if (!orbad::OrbadController::hasBeenInstantiated()) return refuse("not started");
    std::shared_ptr<orbad::OBSession> s = orbad::OBSession::currentSession();
    orbad::OBSessionTracking& t = orbad::OrbadController::sharedInstance().config().sessionTracking();
    const std::pair<const char*, std::string> lines[] = {
        {"identifier", s->identifier()},
        {"date", date(s->date())},
        {"connectionType", std::to_string(s->connectionType())},
        {"batteryLevel", std::to_string(s->batteryLevel())},
        {"batteryState", std::to_string(s->batteryState())},
        {"location", s->location() && s->location()->horizontalAccuracy >= 0
                         ? orbad::fixedSix(s->location()->latitude) + "," + orbad::fixedSix(s->location()->longitude)
                         : "nil"},
        {"offlineSessionCount", std::to_string(t.offlineSessionCount())},
        {"idleSessionTime", orbad::fixedSix(t.idleSessionTime())},
        {"lastSessionLength", orbad::fixedSix(t.lastSessionLength())},
        {"firstRun", text(t.firstRun())},
        {"originalUDID", text(t.originalUDID())},
        {"sessionStartDate", date(t.sessionStartDate())},
        {"sessionWentIdleDate", date(t.sessionWentIdleDate())},
        {"sessionEndDate", date(t.sessionEndDate())},
    };
    for (const auto& [key, value] : lines) say(std::string("session ") + key + " " + value);
    return true;
}

}  // namespace dk::tools::orbadcli
