// The ad network client's banner views as the player reaches them: six classes of one fixed size
// each, a delegate, the ad's refresh and its cancellation. Every call is traced
// ("svc orbad adview CLASS init|resume|cancel") whatever stands behind the interface.
#pragma once

#include <memory>

#include "platform/foundation/Error.h"
#include "platform/ui/View.h"

class OrbadAdView;

// Every callback optional; the view never owns its delegate.
class OrbadAdViewDelegate {
public:
    virtual ~OrbadAdViewDelegate() = default;
    // An ad has loaded and shows in the view; again after each refresh.
    virtual void adViewDidFinishLoad(OrbadAdView&) {}
    virtual void adViewDidFailLoadWithError(OrbadAdView&, const plat::foundation::Error&) {}
    virtual void adViewWillTouchThrough(OrbadAdView&) {}
    virtual void adViewDidFinishTouchThrough(OrbadAdView&) {}
};

class OrbadAdView : public plat::ui::View {
public:
    const char* className() const override { return m_className; }
    // The class's fixed ad size.
    plat::ui::Size adSize() const { return m_adSize; }

    OrbadAdViewDelegate* delegate() const { return m_delegate; }
    void setDelegate(OrbadAdViewDelegate* delegate) { m_delegate = delegate; }
    // The first call requests an ad at once; later ones schedule the next after the refresh time.
    void resumeAdAutoRefresh();
    // Cancels pending requests, the creative's loading and the refresh timer.
    void cancelAd();

protected:
    OrbadAdView(const char* className, plat::ui::Size adSize);
    virtual void resumeAd() = 0;
    virtual void cancelPendingAd() = 0;

private:
    friend struct OrbadAdViewClass;
    const char* m_className;
    plat::ui::Size m_adSize;
    OrbadAdViewDelegate* m_delegate = nullptr;
};

// What the six classes share: `init` gives a view sized to the class (null on failure).
struct OrbadAdViewClass {
    const char* name;
    plat::ui::Size size;
    std::shared_ptr<OrbadAdView> init() const;
};

inline constexpr OrbadAdViewClass OrbadAdViewiPhone_320x50{"OrbadAdViewiPhone_320x50", {320, 50}};
inline constexpr OrbadAdViewClass OrbadAdViewiPhone_300x250{"OrbadAdViewiPhone_300x250", {300, 250}};
inline constexpr OrbadAdViewClass OrbadAdViewiPad_300x250{"OrbadAdViewiPad_300x250", {300, 250}};
inline constexpr OrbadAdViewClass OrbadAdViewiPad_120x600{"OrbadAdViewiPad_120x600", {120, 600}};
inline constexpr OrbadAdViewClass OrbadAdViewiPad_468x60{"OrbadAdViewiPad_468x60", {468, 60}};
inline constexpr OrbadAdViewClass OrbadAdViewiPad_728x90{"OrbadAdViewiPad_728x90", {728, 90}};
