#include "player/plugins/fullscreen/DKOrbadFullscreenAdProvider.h"

#include <limits>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/RunLoop.h"
#include "platform/sys/Device.h"
#include "platform/ui/Application.h"
#include "platform/ui/Window.h"
#include "platform/util/DKReachability.h"
#include "player/plugins/DKPluginSupport.h"

namespace {

constexpr double kCompleteAdDisplayDelay = 1.0;

plat::ui::ViewController* rootViewController() {
    plat::ui::Application* app = plat::ui::Application::shared();
    plat::ui::Window* window = app ? app->keyWindow() : nullptr;
    return window ? window->rootViewController() : nullptr;
}

}  // namespace

unsigned DKOrbadFullscreenAdProvider::timeoutFromValue(const plat::foundation::Value* value) {
    using Type = plat::foundation::Value::Type;
    if (!value || (value->type() != Type::Integer && value->type() != Type::Real && value->type() != Type::String))
        return 0;
    const int64_t seconds = value->intValue();
    if (seconds <= 0) return 0;
    return seconds > std::numeric_limits<unsigned>::max() ? std::numeric_limits<unsigned>::max()
                                                          : static_cast<unsigned>(seconds);
}

DKOrbadFullscreenAdProvider::DKOrbadFullscreenAdProvider()
    : m_modalViewController(std::make_shared<DKFullscreenAdWrapperViewController>()),
      m_fullScreenAdViewController(OrbadFullScreenAdViewController::init()) {
    setEnabled(true);
    // The first ad is prefetched on a later turn, with no delegate yet.
    plat::foundation::RunLoop::main().perform([weak = std::weak_ptr(m_fullScreenAdViewController)] {
        if (auto controller = weak.lock()) controller->requestAd();
    });
    if (plat::ui::ViewController* root = rootViewController())
        m_modalViewController->setView(std::make_shared<plat::ui::View>(
            root->isViewLoaded() ? root->view()->frame() : plat::ui::Rect{}));
    const plat::foundation::Bundle* bundle = plat::foundation::Bundle::main();
    m_bannerAdTimeout = timeoutFromValue(bundle ? bundle->infoValue("DKFullscreenAdTimeout") : nullptr);
    m_reachability = plat::foundation::NotificationCenter::defaultCenter().observe(
        DKNetworkReachabilityChangedNotification, nullptr,
        [this](const plat::foundation::Notification& n) { networkReachabilityChanged(n); });
}

DKOrbadFullscreenAdProvider::~DKOrbadFullscreenAdProvider() {
    plat::foundation::RunLoop::main().cancelPerforms(this);
    if (m_fullScreenAdViewController->delegate() == this) m_fullScreenAdViewController->setDelegate(nullptr);
}

void DKOrbadFullscreenAdProvider::networkReachabilityChanged(const plat::foundation::Notification& notification) {
    const auto* monitor = notification.sender.className && std::string_view(notification.sender.className) == "DKReachability"
                              ? static_cast<const DKReachability*>(notification.sender.object)
                              : nullptr;
    if (!monitor) return;
    const DKNetworkStatus status = monitor->currentReachabilityStatus();
    m_networkReachable = status == DKReachableViaWiFi || status == DKReachableViaWWAN;
}

void DKOrbadFullscreenAdProvider::showFullScreenAd() {
    plat::ui::ViewController* root = rootViewController();
    if (!root || plat::sys::Device::current().userInterfaceIdiom() == plat::sys::kUserInterfaceIdiomPad ||
        !m_networkReachable) {
        adLoadError();
        return;
    }
    root->setModalPresentationStyle(plat::ui::kModalPresentationCurrentContext);
    root->presentViewController(m_modalViewController, false, [this] {
        plat::foundation::RunLoop::main().performAfter(kCompleteAdDisplayDelay, this, [this] { completeAdDisplay(); });
    });
    // Refused (the root presents another screen): nothing would ever end this request.
    if (!m_modalViewController->presentingViewController()) adLoadError();
}

void DKOrbadFullscreenAdProvider::completeAdDisplay() {
    m_fullScreenAdViewController->setDelegate(this);
    if (!m_fullScreenAdViewController->hasAd()) {
        plat::foundation::RunLoop::main().performAfter(m_bannerAdTimeout, this, [this] { adLoadError(); });
        return;
    }
    m_fullScreenAdViewController->displayRequestedAdFromViewController(*m_modalViewController);
}

void DKOrbadFullscreenAdProvider::fullScreenAdViewControllerDidFinishLoad(OrbadFullScreenAdViewController& controller) {
    plat::foundation::RunLoop::main().cancelPerforms(this);
    controller.displayRequestedAdFromViewController(*m_modalViewController);
}

void DKOrbadFullscreenAdProvider::fullScreenAdViewControllerWillPresentAd(OrbadFullScreenAdViewController&) {
    if (DKFullscreenAdProviderDelegate* d = delegate()) d->adDidDisplay();
}

void DKOrbadFullscreenAdProvider::fullScreenAdViewControllerDidDismissAd(OrbadFullScreenAdViewController&) {
    auto self = weak_from_this().lock();
    dismissAdScreenAndDisplaySceneWithAnimation(true);
    if (DKFullscreenAdProviderDelegate* d = delegate()) d->adDismissed();
}

void DKOrbadFullscreenAdProvider::adLoadError() {
    plat::foundation::Value::Dictionary info{{"description", "Unable to load ad, or ad timed out"}};
    fullScreenAdViewControllerDidFailToLoad(
        *m_fullScreenAdViewController,
        plat::foundation::Error{"Orbad", 0, "Unable to load ad, or ad timed out", plat::foundation::Value(info)});
}

void DKOrbadFullscreenAdProvider::fullScreenAdViewControllerDidFailToLoad(OrbadFullScreenAdViewController&,
                                                                          const plat::foundation::Error& error) {
    // The delegate may let this provider go from either call: keep it for both.
    auto self = weak_from_this().lock();
    dismissAdScreenAndDisplaySceneWithAnimation(false);
    const std::string message = failureMessage(error);
    plat::foundation::log("%s", message.c_str());
    if (DKFullscreenAdProviderDelegate* d = delegate()) d->adError(message);
    if (DKFullscreenAdProviderDelegate* d = delegate()) d->adDismissed();
}

void DKOrbadFullscreenAdProvider::dismissAdScreenAndDisplaySceneWithAnimation(bool animated) {
    plat::foundation::RunLoop::main().cancelPerforms(this);
    m_fullScreenAdViewController->setDelegate(nullptr);
    plat::ui::ViewController* root = rootViewController();
    // Only the wrapper is ours to take away: an immediate failure put nothing up, and whatever
    // else the root presents stays.
    if (!root || root->presentedViewController() != m_modalViewController.get()) return;
    plat::foundation::trace(dk::player::pluginTrace(), animated ? "wrapper dismiss fade" : "wrapper dismiss plain");
    const std::shared_ptr<plat::ui::View> rootView = root->view();
    if (animated) rootView->setAlpha(0);
    root->dismissViewController(false, [this, animated, rootView] {
        m_fullScreenAdViewController->requestAd();
        if (!animated) return;
        plat::ui::ViewAnimationOptions fade;
        fade.name = "fadeInScreen";
        plat::ui::View::animate(fade, [&] { rootView->setAlpha(1.0); });
    });
}
