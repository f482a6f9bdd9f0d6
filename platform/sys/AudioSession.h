// The audio session: a category, active or not, interrupted by the system (here: the driver).
#pragma once

#include <string>
#include <string_view>

namespace plat::sys {

inline constexpr std::string_view kAudioSessionCategoryAmbient = "AVAudioSessionCategoryAmbient";
inline constexpr std::string_view kAudioSessionCategorySoloAmbient = "AVAudioSessionCategorySoloAmbient";
inline constexpr std::string_view kAudioSessionCategoryPlayback = "AVAudioSessionCategoryPlayback";
inline constexpr std::string_view kAudioSessionCategoryRecord = "AVAudioSessionCategoryRecord";
inline constexpr std::string_view kAudioSessionCategoryPlayAndRecord = "AVAudioSessionCategoryPlayAndRecord";
inline constexpr std::string_view kAudioSessionCategoryAudioProcessing = "AVAudioSessionCategoryAudioProcessing";

// The message of a failure the driver asked for.
inline constexpr std::string_view kInjectedFailure = "injected failure";

class AudioSessionDelegate {
public:
    virtual ~AudioSessionDelegate() = default;
    virtual void beginInterruption() {}
    virtual void endInterruption() {}
};

// One per process, used on the main thread. Traces (category "audio"): "category <name>" and
// "active 0|1" for each call that succeeds, "interruption begin|end" as the driver interrupts.
class AudioSession {
public:
    enum class Operation { Category, Activate, Deactivate };

    static AudioSession& shared();

    // Not owned: a delegate clears itself before it goes.
    AudioSessionDelegate* delegate() const { return m_delegate; }
    void setDelegate(AudioSessionDelegate* delegate) { m_delegate = delegate; }

    // Solo ambient until set. One of the six names above; anything else fails and changes nothing.
    const std::string& category() const { return m_category; }
    bool setCategory(std::string_view category, std::string* error = nullptr);
    bool isActive() const { return m_active; }
    bool setActive(bool active, std::string* error = nullptr);
    bool isInterrupted() const { return m_interrupted; }

    // The driver's side. An interruption deactivates the session and tells the delegate; false
    // (nothing done) for a begin while interrupted or an end while not.
    bool beginInterruption();
    bool endInterruption();
    // The next call of that kind fails with kInjectedFailure, once.
    void failNext(Operation operation);

    // Back to the defaults: solo ambient, inactive, not interrupted, no delegate, no failures.
    void reset();

private:
    AudioSession() { reset(); }
    bool takeFailure(Operation operation, std::string* error);

    AudioSessionDelegate* m_delegate = nullptr;
    std::string m_category;
    bool m_active = false;
    bool m_interrupted = false;
    bool m_failCategory = false, m_failActivate = false, m_failDeactivate = false;
};

}  // namespace plat::sys
