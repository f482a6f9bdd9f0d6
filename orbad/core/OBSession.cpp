#include "orbad/core/OBSession.h"

#include <atomic>
#include <charconv>
#include <mutex>

#include "platform/crypto/Crypto.h"
#include "platform/foundation/Clock.h"

namespace orbad {

namespace {
using plat::foundation::Clock;
std::atomic<double> g_launchWall{Clock::wallSeconds() - Clock::process().now()};
std::mutex g_sessionMutex;
std::shared_ptr<OBSession> g_session;
}  // namespace

double wallNow() {
    return g_launchWall.load() + Clock::process().now();
}

void setStartWallTime(double secondsSince1970) {
    g_launchWall = secondsSince1970 - Clock::process().now();
}

std::shared_ptr<OBSession> OBSession::currentSession() {
    std::lock_guard lock(g_sessionMutex);
    if (!g_session) g_session = std::make_shared<OBSession>();
    return g_session;
}

void OBSession::shutdown() {
    std::lock_guard lock(g_sessionMutex);
    g_session.reset();
}

std::string fixedSix(double value) {
    char text[400];  // the longest double in fixed notation fits
    const std::to_chars_result end = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 6);
    return std::string(text, end.ptr);
}

std::string OBSession::identifierForDate(double secondsSince1970) {
    std::optional<plat::crypto::Bytes> digest = plat::crypto::sha1("orbad-" + fixedSix(secondsSince1970 * 1000.0));
    return digest ? plat::crypto::hex(*digest, true) : std::string();
}

void OBSession::renewIdentifier() {
    m_date = wallNow();
    m_identifier = identifierForDate(m_date);
}

void OBSession::update() {
    m_date = wallNow();
}

}  // namespace orbad
