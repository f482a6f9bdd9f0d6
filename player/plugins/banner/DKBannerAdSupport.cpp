#include "player/plugins/banner/DKBannerAdSupport.h"

#include <cstdio>
#include <string>

#include "analytics/TrackwellSession.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Log.h"
#include "platform/sys/Device.h"
#include "platform/ui/Application.h"
#include "player/EngineCalls.h"
#include "player/app/DKOrientationAnswers.h"
#include "player/app/DrovikPlayerAppDelegate.h"
#include "player/bridge/DKExternalFunctionTable.h"
#include "player/controller/DKGameViewController.h"
#include "player/plugins/banner/DKOrbadBannerAdProvider.h"
#include "player/plugins/banner/DKiAdProvider.h"

namespace {

plat::foundation::TraceCategory kBanner("banner");

std::unique_ptr<DKBannerAdProvider> providerFromInfoPlist() {
    const std::string name = plat::foundation::Bundle::mainInfoString("BannerProvider");
    if (name == "iad") return std::make_unique<DKiAdProvider>();
    if (name == "orbad") return std::make_unique<DKOrbadBannerAdProvider>();
    return nullptr;
}

}  // namespace

DKBannerAdSupport::DKBannerAdSupport(DKGameViewController* gameViewController, DKPluginManager* pluginManager)
    : DKPluginSupport(gameViewController), m_pluginManager(pluginManager), m_adProvider(providerFromInfoPlist()) {
    if (m_adProvider) m_adProvider->setDelegate(this);
}

DKBannerAdSupport::~DKBannerAdSupport() {
    if (m_bannerView) m_bannerView->removeFromSuperview();
    if (m_adProvider) {
        m_adProvider->freeBannerAd();
        m_adProvider->setDelegate(nullptr);
    }
}

void DKBannerAdSupport::registerActions(lua_State* L) {
    DKExternalFunctionTable::externalFunctionTableForState(L)->registerTarget(
        self<DKBannerAdSupport>(), gameViewController(),
        {{"ShowBanner", &DKBannerAdSupport::showBanner}, {"HideBanner", &DKBannerAdSupport::hideBanner}});
}

void DKBannerAdSupport::showBanner(DKGameViewController* controller, int format) {
    if (m_adAnimationState != kNoBanner) removeBannerAd();
    if (!m_adProvider) return;
    std::shared_ptr<plat::ui::View> view = m_adProvider->generateBannerAdWithFormat(static_cast<std::uint32_t>(format));
    if (!view) {
        // A banner still waiting for its ad is the provider's current view: forgotten here alone,
        // it would stay attached, and its load would fade in no banner.
        removeBannerAd();
        return;
    }
    m_bannerView = std::move(view);
    m_bannerView->setAlpha(0);
    const std::shared_ptr<plat::ui::View> gameView = controller ? controller->view() : nullptr;
    if (!gameView) return;
    if (m_bannerView->superview() != gameView.get()) {
        plat::foundation::trace(kBanner, [&] {
            const plat::ui::Rect& f = m_bannerView->frame();
            char text[128];
            std::snprintf(text, sizeof text, "attach %g,%g,%g,%g", f.x, f.y, f.width, f.height);
            return std::string(text);
        });
    }
    gameView->addSubview(m_bannerView);
}

void DKBannerAdSupport::hideBanner(DKGameViewController*) {
    if (m_adAnimationState != kShown) {
        removeBannerAd();
        return;
    }
    fade("FadeOutiAD", 0);
    setState(kFadingOut);
}

void DKBannerAdSupport::removeBannerAd() {
    if (m_bannerView) {
        m_bannerView->removeFromSuperview();
        plat::foundation::trace(kBanner, "remove");
        m_bannerView.reset();
        if (m_adProvider) m_adProvider->freeBannerAd();
        // The freed view never reports the end of an ad action: its click pause goes with it.
        while (resumeGame()) {
        }
    }
    setState(kNoBanner);
}

void DKBannerAdSupport::animationDidStop() {
    if (m_adAnimationState == kFadingOut)
        removeBannerAd();
    else if (m_adAnimationState == kFadingIn)
        setState(kShown);
}

void DKBannerAdSupport::setState(int state) {
    if (state == m_adAnimationState) return;
    m_adAnimationState = state;
    plat::foundation::tracef(kBanner, "state %d", state);
}

void DKBannerAdSupport::fade(const char* name, double alpha) {
    plat::ui::ViewAnimationOptions options;
    options.name = name;
    const std::weak_ptr<DKBannerAdSupport> weak = self<DKBannerAdSupport>();
    const std::shared_ptr<plat::ui::View> view = m_bannerView;
    plat::ui::View::animate(
        options, [&] { if (view) view->setAlpha(alpha); },
        [weak](bool) { if (const auto plugin = weak.lock()) plugin->animationDidStop(); });
}

void DKBannerAdSupport::tag(const char* event) {
    if (!m_adProvider) return;
    TrackwellSession::sharedTrackwellSession().tagEvent(event, {{"p", m_adProvider->bannerAdProviderIdentifier()}});
}

void DKBannerAdSupport::adDidLoad() {
    if (m_adAnimationState == kNoBanner) {
        fade("fadeInAdvertisement", 1.0);
        setState(kFadingIn);
    }
    tag("adShown");
}

void DKBannerAdSupport::adLoadFailedWithError(const plat::foundation::Error&) {
    hideBanner(gameViewController());
    tag("adFailedToLoad");
}

void DKBannerAdSupport::adClicked() {
    tag("adClicked");
    pauseGame(true);
}

void DKBannerAdSupport::adClickFinished() {
    resumeGame();
}

int DKBannerAdSupport::getGameOrientation() {
    DKGameViewController* controller = gameViewController();
    DK_State* state = controller ? controller->gameState() : nullptr;
    return state ? dk::player::engine::getInterfaceOrientation(state) : 6;
}

bool DKBannerAdSupport::isSupportedOrientation(int orientation) {
    if (orientation < 1 || orientation > 4) return false;
    const DKGameViewController* controller = gameViewController();
    if (!controller) return false;
    // Before 6.0 the platform asked each orientation; from 6.0 on it asks for a mask, and only the
    // player's own delegate knows how to read one.
    if (plat::sys::Device::current().systemVersionFloat() < 6.0f)
        return controller->shouldAutorotateToInterfaceOrientation(orientation);
    plat::ui::Application* app = plat::ui::Application::shared();
    if (!app || !dynamic_cast<DrovikPlayerAppDelegate*>(app->delegate())) return false;
    return (DKOrientationAnswers::interfaceOrientationMaskForOrientation(orientation) &
            controller->supportedInterfaceOrientations()) != 0;
}
