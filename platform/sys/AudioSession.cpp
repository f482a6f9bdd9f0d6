#include "platform/sys/AudioSession.h"

#include <array>

#include "platform/sys/Report.h"

namespace plat::sys {

namespace {

constexpr std::string_view kTraceCategory = "audio";

constexpr std::array<std::string_view, 6> kCategories{
    kAudioSessionCategoryAmbient, kAudioSessionCategorySoloAmbient,     kAudioSessionCategoryPlayback,
    kAudioSessionCategoryRecord,  kAudioSessionCategoryPlayAndRecord, kAudioSessionCategoryAudioProcessing,
};

bool fail(std::string* error, std::string_view message) {
    if (error) *error = std::string(message);
    return false;
}

}  // namespace

AudioSession& AudioSession::shared() {
    static AudioSession session;
    return session;
}

void AudioSession::reset() {
    m_delegate = nullptr;
    m_category = std::string(kAudioSessionCategorySoloAmbient);
    m_active = m_interrupted = false;
    m_failCategory = m_failActivate = m_failDeactivate = false;
}

bool AudioSession::takeFailure(Operation operation, std::string* error) {
    bool& flag = operation == Operation::Category   ? m_failCategory
                 : operation == Operation::Activate ? m_failActivate
                                                    : m_failDeactivate;
    if (!flag) return false;
    flag = false;
    fail(error, kInjectedFailure);
    return true;
}

void AudioSession::failNext(Operation operation) {
    (operation == Operation::Category   ? m_failCategory
     : operation == Operation::Activate ? m_failActivate
                                        : m_failDeactivate) = true;
}

bool AudioSession::setCategory(std::string_view category, std::string* error) {
    if (takeFailure(Operation::Category, error)) return false;
    bool known = false;
    for (std::string_view c : kCategories) known = known || c == category;
    if (!known) return fail(error, "unknown audio session category " + std::string(category));
    m_category = std::string(category);
    reportTrace(kTraceCategory, "category " + m_category);
    return true;
}

bool AudioSession::setActive(bool active, std::string* error) {
    if (takeFailure(active ? Operation::Activate : Operation::Deactivate, error)) return false;
    m_active = active;
    reportTrace(kTraceCategory, active ? "active 1" : "active 0");
    return true;
}

bool AudioSession::beginInterruption() {
    if (m_interrupted) return false;
    m_interrupted = true;
    m_active = false;
    reportTrace(kTraceCategory, "interruption begin");
    if (m_delegate) m_delegate->beginInterruption();
    return true;
}

bool AudioSession::endInterruption() {
    if (!m_interrupted) return false;
    m_interrupted = false;
    reportTrace(kTraceCategory, "interruption end");
    if (m_delegate) m_delegate->endInterruption();
    return true;
}

}  // namespace plat::sys
