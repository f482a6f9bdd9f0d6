#include "orbad/core/OBSessionTracking.h"

#include <algorithm>

#include "orbad/core/OBEnvironment.h"
#include "orbad/core/OBSession.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Value.h"
#include "platform/ui/Application.h"

namespace orbad {

namespace {

using plat::foundation::Value;

double numberFor(const Value& file, const char* key) {
    const Value* v = file.find(key);
    return v && (v->type() == Value::Type::Integer || v->type() == Value::Type::Real) ? v->doubleValue() : 0;
}

std::optional<double> dateFor(const Value& file, const char* key) {
    const Value* v = file.find(key);
    const plat::foundation::Date* date = v ? v->date() : nullptr;
    return date ? std::optional(date->seconds) : std::nullopt;
}

}  // namespace

std::string OBSessionTracking::dataFileName(const std::string& applicationId) {
    return "OrbadSessionTracking-" + applicationId + ".plist";
}

OBSessionTracking::OBSessionTracking(std::shared_ptr<OBEnvironment> environment, OBSessionConfig& config,
                                     std::string dataFile)
    : m_environment(std::move(environment)), m_config(config), m_dataFile(std::move(dataFile)) {
    loadSessionTrackingData();
    if (m_lastSessionLength == 0 && m_sessionWentIdleDate && m_sessionStartDate) {
        // The previous run ended in the background, without a termination notice.
        m_sessionEndDate = m_sessionWentIdleDate;
        m_lastSessionLength = *m_sessionEndDate - *m_sessionStartDate;
    }
    startNewSession();
    auto& center = plat::foundation::NotificationCenter::defaultCenter();
    const void* app = plat::ui::Application::shared();
    m_resign = center.observe(plat::ui::kApplicationWillResignActiveNotification, app,
                              [this](const auto&) { applicationWillResignActive(); });
    m_active = center.observe(plat::ui::kApplicationDidBecomeActiveNotification, app,
                              [this](const auto&) { applicationDidBecomeActive(); });
    m_terminate = center.observe(plat::ui::kApplicationWillTerminateNotification, app,
                                 [this](const auto&) { applicationWillTerminate(); });
    m_saving = true;
}

void OBSessionTracking::loadSessionTrackingData() {
    std::optional<Value> file = plat::foundation::readPropertyList(m_dataFile);
    if (!file || !file->dictionary()) return;
    const double offline = numberFor(*file, "offlineSessionCount");
    m_offlineSessionCount = offline > 0 ? static_cast<unsigned long>(offline) : 0;
    m_idleSessionTime = numberFor(*file, "idleSessionTime");
    m_sessionStartDate = dateFor(*file, "sessionStartDate");
    m_sessionWentIdleDate = dateFor(*file, "sessionWentIdleDate");
    m_sessionEndDate = dateFor(*file, "sessionEndDate");
    const Value* udid = file->find("originalUDID");
    m_originalUDID = udid && udid->string() ? std::optional(*udid->string()) : std::nullopt;
    m_lastSessionLength = numberFor(*file, "lastSessionLength");
    if (const Value* first = file->find("firstRun")) m_firstRun = first->boolValue();
}

void OBSessionTracking::saveSessionTrackingData() const {
    Value::Dictionary file{{"offlineSessionCount", static_cast<std::uint64_t>(m_offlineSessionCount)},
                           {"idleSessionTime", m_idleSessionTime},
                           {"lastSessionLength", m_lastSessionLength},
                           {"firstRun", m_firstRun}};
    auto date = [&](const char* key, const std::optional<double>& when) {
        if (when) file[key] = Value(plat::foundation::Date{*when});
    };
    date("sessionStartDate", m_sessionStartDate);
    date("sessionWentIdleDate", m_sessionWentIdleDate);
    date("sessionEndDate", m_sessionEndDate);
    if (m_originalUDID) file["originalUDID"] = *m_originalUDID;
    plat::foundation::writePropertyList(m_dataFile, Value(std::move(file)), plat::foundation::PropertyListFormat::Xml);
}

void OBSessionTracking::startNewSession() {
    m_sessionStartDate = wallNow();
    m_sessionWentIdleDate.reset();
    m_sessionEndDate.reset();
}

void OBSessionTracking::applicationWillResignActive() {
    m_sessionWentIdleDate = wallNow();
    saveSessionTrackingData();
}

void OBSessionTracking::applicationWillTerminate() {
    m_sessionEndDate = wallNow();
    setLastSessionLength(*m_sessionEndDate - m_sessionStartDate.value_or(*m_sessionEndDate));
    saveSessionTrackingData();
}

void OBSessionTracking::applicationDidBecomeActive() {
    if (!m_sessionWentIdleDate) return;
    // A clock set back gives no negative idle time.
    const double idle = std::max(0.0, wallNow() - *m_sessionWentIdleDate);
    if (idle >= m_config.idleTimeoutInterval()) {
        setLastSessionLength(*m_sessionWentIdleDate - m_sessionStartDate.value_or(*m_sessionWentIdleDate));
        std::shared_ptr<OBSession> session = OBSession::currentSession();
        session->renewIdentifier();
        m_config.updateConfigurationForEnvironment(*m_environment);
        startNewSession();
        plat::foundation::NotificationCenter::defaultCenter().post(kOBSessionRestartedNotification,
                                                                   {session.get(), "OBSession"});
    } else if (m_config.hasConfigFailed()) {
        // The retry counts its own failure again, so a failing retry leaves the count as it was.
        setOfflineSessionCount(m_offlineSessionCount > 0 ? m_offlineSessionCount - 1 : 0);
        m_config.updateConfigurationForEnvironment(*m_environment);
    } else {
        setIdleSessionTime(m_idleSessionTime + idle);
    }
    saveSessionTrackingData();
}

void OBSessionTracking::changed() {
    if (m_saving) saveSessionTrackingData();
}

void OBSessionTracking::setOfflineSessionCount(unsigned long count) {
    m_offlineSessionCount = count;
    changed();
}

void OBSessionTracking::setIdleSessionTime(double seconds) {
    m_idleSessionTime = seconds;
    changed();
}

void OBSessionTracking::setLastSessionLength(double seconds) {
    m_lastSessionLength = seconds;
    changed();
}

void OBSessionTracking::setFirstRun(bool firstRun) {
    m_firstRun = firstRun;
    changed();
}

void OBSessionTracking::setOriginalUDID(std::optional<std::string> udid) {
    m_originalUDID = std::move(udid);
    changed();
}

}  // namespace orbad
