// The ad network client's public banner: a view of one fixed size (six size classes beside the
// plain one) holding one banner engine, its delegate interface, and the player's way in. Every call
// the player makes is traced ("svc orbad adview CLASS init|resume|cancel") whatever stands behind.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Error.h"
#include "platform/ui/View.h"

namespace plat::ui {
class ViewController;
}
namespace orbad {
class OrbadAdViewInternal;
}

class OrbadAdView;

// Every operation is optional: the engine calls one only when `answers` says the delegate has it
// (a delegate overrides both). The view argument is the public banner, or null for an engine used
// without one. Never owned by the view.
class OrbadAdViewDelegate {
public:
    enum class Op {
        // the protocol's twelve, in its order
        adViewDidFinishLoad,
        adViewDidFailLoadWithError,
        adViewCanAutoplay,
        richMediaRequiresUserInteraction,
        adViewShouldHandleSuballocationRequest,
        adViewDidReceiveSuballocationRequest,
        adViewPublisherKeyForSuballocationRequest,
        adViewWillTouchThrough,
        adViewDidFinishTouchThrough,
        adViewDidTouchCustomAdWithString,
        obKeywords,
        query,
        // looked for by name
        adViewDidFailLoad,
        changeAdURL,
        getOverrideIPAddress,
        requestedAdUrlForAdView,
        requestedCreativeForAdView,
        requestedVeltiMediaIdForAdView,
        requestedVeltiMediaURL,
    };

    virtual ~OrbadAdViewDelegate() = default;
    virtual bool answers(Op) const { return false; }

    // An ad has loaded: shown (or waiting for displayAd after a prefetch); again after each refresh.
    virtual void adViewDidFinishLoad(OrbadAdView*) {}
    virtual void adViewDidFailLoadWithError(OrbadAdView*, const plat::foundation::Error&) {}
    virtual bool adViewCanAutoplay(OrbadAdView*) { return false; }
    virtual bool richMediaRequiresUserInteraction(OrbadAdView*) { return false; }
    virtual bool adViewShouldHandleSuballocationRequest(OrbadAdView*, int /*code*/) { return true; }
    virtual void adViewDidReceiveSuballocationRequest(OrbadAdView*, int /*code*/) {}
    virtual std::optional<std::string> adViewPublisherKeyForSuballocationRequest(OrbadAdView*, int /*code*/) {
        return std::nullopt;
    }
    virtual void adViewWillTouchThrough(OrbadAdView*) {}
    virtual void adViewDidFinishTouchThrough(OrbadAdView*) {}
    virtual void adViewDidTouchCustomAdWithString(OrbadAdView*, const std::string&) {}
    virtual std::optional<std::string> obKeywords() { return std::nullopt; }
    virtual std::optional<std::string> query() { return std::nullopt; }

    // Sent just before adViewDidFailLoadWithError.
    virtual void adViewDidFailLoad(OrbadAdView*) {}
    virtual void changeAdURL(const std::string&) {}
    // "None" leaves the address out.
    virtual std::optional<std::string> getOverrideIPAddress() { return std::nullopt; }
    // The request hooks: null and "" differ (see the request's parameters).
    virtual std::optional<std::string> requestedAdUrlForAdView(OrbadAdView*) { return std::nullopt; }
    virtual std::optional<std::string> requestedCreativeForAdView(OrbadAdView*) { return std::nullopt; }
    // The media identifier: the engine asks it of nobody; a full-screen controller passes it on.
    virtual std::optional<std::string> requestedVeltiMediaIdForAdView(OrbadAdView*) { return std::nullopt; }
    virtual std::optional<std::string> requestedVeltiMediaURL(OrbadAdView*) { return std::nullopt; }
};

struct OrbadAdViewClass;

class OrbadAdView : public plat::ui::View {
public:
    ~OrbadAdView() override;

    const char* className() const override { return m_className; }
    // The class's fixed ad size.
    plat::ui::Size adSize() const { return m_adSize; }
    // The engine; null in the stand-in.
    const std::shared_ptr<orbad::OrbadAdViewInternal>& adView() const { return m_adView; }

    OrbadAdViewDelegate* delegate() const { return m_delegate; }
    void setDelegate(OrbadAdViewDelegate* delegate);

    // The first call (no request made through this view yet) requests an ad at once; later ones
    // arm the next request after the refresh time.
    void resumeAdAutoRefresh();
    void pauseAdAutoRefresh();
    // Cancels pending requests, the creative's loading and the refresh timer.
    void cancelAd();
    void getAd();
    void displayAd();
    void prefetchAd();
    // The delegate has done with an outside network's request: the current list goes on.
    void continueRequest();

    double refreshTime() const;
    void setRefreshTime(double seconds);
    plat::ui::ViewController* viewController() const;
    void setViewController(plat::ui::ViewController* controller);
    bool testingMode() const;
    void setTestingMode(bool on);
    std::string adSpaceName() const;
    void setAdSpaceName(std::string name);

protected:
    // The stand-in's way: a view of the size with no engine.
    OrbadAdView(const char* className, plat::ui::Size adSize);
    // What resume and cancel do beyond their traces: the engine's work, or the stand-in's.
    virtual void resumeAd();
    virtual void cancelPendingAd();

private:
    friend struct OrbadAdViewClass;
    // Creates the engine over `frame` (the view's bounds), sized and pointed back at this view.
    void setupAdViewWithFrame(const plat::ui::Rect& frame);

    const char* m_className;
    plat::ui::Size m_adSize;
    OrbadAdViewDelegate* m_delegate = nullptr;
    std::shared_ptr<orbad::OrbadAdViewInternal> m_adView;
    bool m_subsequent = false;
};

// A banner class: its name and size.
struct OrbadAdViewClass {
    const char* name;
    plat::ui::Size size;
    // The player's `init`: the client's banner once it has started, else (and while the container
    // holds Library/LocalServices/adnetwork.plist) the stand-in the input script plays. Null on
    // failure.
    std::shared_ptr<OrbadAdView> init() const;
    // The client's banner at (0, 0), or at the rect's origin with the class's size whatever the
    // rect's.
    std::shared_ptr<OrbadAdView> make() const;
    std::shared_ptr<OrbadAdView> makeWithFrame(const plat::ui::Rect& frame) const;
};

inline constexpr OrbadAdViewClass OrbadAdViewPlain{"OrbadAdView", {320, 50}};
inline constexpr OrbadAdViewClass OrbadAdViewiPhone_320x50{"OrbadAdViewiPhone_320x50", {320, 50}};
inline constexpr OrbadAdViewClass OrbadAdViewiPhone_300x250{"OrbadAdViewiPhone_300x250", {300, 250}};
inline constexpr OrbadAdViewClass OrbadAdViewiPad_300x250{"OrbadAdViewiPad_300x250", {300, 250}};
inline constexpr OrbadAdViewClass OrbadAdViewiPad_120x600{"OrbadAdViewiPad_120x600", {120, 600}};
inline constexpr OrbadAdViewClass OrbadAdViewiPad_468x60{"OrbadAdViewiPad_468x60", {468, 60}};
inline constexpr OrbadAdViewClass OrbadAdViewiPad_728x90{"OrbadAdViewiPad_728x90", {728, 90}};

// The class of that name (the plain one and the six); null for any other.
const OrbadAdViewClass* orbadAdViewClassNamed(std::string_view name);
