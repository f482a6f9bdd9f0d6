// A source of full-screen units (interstitials, the more-games unit) behind one interface, and what
// it tells the one who asked. Main thread.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "platform/foundation/Error.h"

// Every operation optional: the defaults do nothing. A unit that failed still ends in
// adDismissed, so whoever paused for it always hears the end.
class DKFullscreenAdProviderDelegate {
public:
    virtual ~DKFullscreenAdProviderDelegate() = default;
    virtual void adDidDisplay() {}
    virtual void adDismissed() {}
    virtual void adError(const std::string& /*message*/) {}
};

class DKFullscreenAdProvider : public std::enable_shared_from_this<DKFullscreenAdProvider> {
public:
    virtual ~DKFullscreenAdProvider() = default;
    DKFullscreenAdProvider() = default;
    DKFullscreenAdProvider(const DKFullscreenAdProvider&) = delete;
    DKFullscreenAdProvider& operator=(const DKFullscreenAdProvider&) = delete;

    // Also the analytics attribute "p".
    virtual const char* fullscreenAdProviderIdentifier() const { return "fullscreenAd"; }
    virtual void showFullScreenAd() {}
    virtual void showMoreGamesAd() {}

    bool enabled() const { return m_enabled.load(); }
    void setEnabled(bool enabled) { m_enabled.store(enabled); }
    // Not retained: the delegate clears itself before it goes.
    DKFullscreenAdProviderDelegate* delegate() const { return m_delegate; }
    void setDelegate(DKFullscreenAdProviderDelegate* delegate) { m_delegate = delegate; }

    // "✖ Failed with error: <the error's description>", as providers log and report failures.
    static std::string failureMessage(const plat::foundation::Error& error);

private:
    std::atomic<bool> m_enabled{false};
    DKFullscreenAdProviderDelegate* m_delegate = nullptr;
};
