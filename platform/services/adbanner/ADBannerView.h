// The system's banner view as a desktop stands it in: present ("ADBannerView" looked up by name)
// only when the container holds Library/LocalServices/adbanner.plist, whose "portrait" and
// "landscape" entries ({width, height}) give the banner sizes. It is drawn as a plain block of its
// background colour; what a person and the ad server do to it comes from the input script
// (banner.load, banner.fail "TEXT", banner.click, banner.back), always to the view made last.
#pragma once

#include <memory>
#include <set>
#include <string>
#include <string_view>

#include "platform/foundation/Error.h"
#include "platform/ui/View.h"

namespace plat::adbanner {

inline constexpr const char* kADBannerViewClassName = "ADBannerView";
inline constexpr const char* kADBannerContentSizeIdentifierPortrait = "ADBannerContentSizeIdentifierPortrait";
inline constexpr const char* kADBannerContentSizeIdentifierLandscape = "ADBannerContentSizeIdentifierLandscape";
inline constexpr const char* kADErrorDomain = "ADErrorDomain";

class ADBannerView;

// Every operation optional; the view is never owned.
class ADBannerViewDelegate {
public:
    virtual ~ADBannerViewDelegate() = default;
    virtual void bannerViewDidLoadAd(ADBannerView&) {}
    virtual void bannerViewDidFailToReceiveAd(ADBannerView&, const foundation::Error&) {}
    // The answer YES lets the action begin.
    virtual bool bannerViewActionShouldBegin(ADBannerView&, bool /*willLeaveApplication*/) { return true; }
    virtual void bannerViewActionDidFinish(ADBannerView&) {}
};

class ADBannerView : public ui::View {
public:
    explicit ADBannerView(const ui::Rect& frame);
    // A view that the script's banner commands reach from now on.
    static std::shared_ptr<ADBannerView> create(const ui::Rect& frame);
    const char* className() const override { return kADBannerViewClassName; }

    // Registers the class name with the class look-up (once is enough; again does no harm).
    static void registerClass();

    // The configured size of a content size identifier: landscape, else portrait; (0, 0) when
    // the service is absent.
    static ui::Size sizeFromBannerContentSizeIdentifier(std::string_view identifier);

    ADBannerViewDelegate* delegate() const { return m_delegate; }
    void setDelegate(ADBannerViewDelegate* delegate) { m_delegate = delegate; }
    const std::set<std::string>& requiredContentSizeIdentifiers() const { return m_requiredIdentifiers; }
    void setRequiredContentSizeIdentifiers(std::set<std::string> identifiers) {
        m_requiredIdentifiers = std::move(identifiers);
    }
    const std::string& currentContentSizeIdentifier() const { return m_currentIdentifier; }
    void setCurrentContentSizeIdentifier(std::string identifier) { m_currentIdentifier = std::move(identifier); }
    // From an action the delegate let begin to its end.
    bool bannerViewActionInProgress() const { return m_actionInProgress; }

    // What the script's commands do, each with the delegate it finds then.
    void adDidLoad();
    void adDidFail(const std::string& description);
    // False when no action began (the delegate answered NO).
    bool actionBegins();
    // False when no action was in progress.
    bool actionEnds();

private:
    ADBannerViewDelegate* m_delegate = nullptr;
    std::set<std::string> m_requiredIdentifiers;
    std::string m_currentIdentifier;
    bool m_actionInProgress = false;
};

}  // namespace plat::adbanner
