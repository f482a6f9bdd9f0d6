#include "orbad/ads/OrbadInteractiveVideoController.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "orbad/ads/OBBannerHost.h"
#include "orbad/ads/OBBrowserViewController.h"
#include "orbad/ads/OrbadAd.h"
#include "orbad/ads/OrbadAdAction.h"
#include "orbad/core/OBResourcesController.h"
#include "platform/media/MoviePlayer.h"
#include "platform/ui/ActivityIndicator.h"
#include "platform/ui/Application.h"
#include "platform/ui/Bars.h"
#include "platform/ui/Button.h"
#include "platform/ui/Image.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/StatusBar.h"
#include "platform/ui/Window.h"

namespace orbad {

using plat::foundation::NotificationCenter;
using plat::foundation::RunLoop;
using plat::ui::Button;
using plat::ui::Rect;
using plat::ui::View;

namespace {

constexpr double kControlSize = 125;
constexpr unsigned kInjectRetries = 10;
constexpr double kInjectRetryDelay = 0.1;
constexpr unsigned kFlexibleMargins = 45, kFlexibleSize = 18;
constexpr int kAspectFit = 1;

std::shared_ptr<plat::ui::Image> closeBox() {
    return OBResourcesController::sharedResources()->closeBoxImage();
}

plat::ui::Size sizeOf(const std::shared_ptr<plat::ui::Image>& image, plat::ui::Size otherwise) {
    return image ? image->size() : otherwise;
}

void setInModalAd(bool on) {
    if (auto host = bannerHost()) host->setInModalAd(on);
}

}  // namespace

// ---- the view ----

OrbadInteractiveVideoView::OrbadInteractiveVideoView(const Rect& frame, std::shared_ptr<const OrbadAdVideoAction> action)
    : View(frame), m_action(std::move(action)) {
    const Rect b = bounds();
    m_background = std::make_shared<plat::ui::ImageView>(b);
    m_background->setContentMode(kAspectFit);
    addSubview(m_background);
    if (m_action->landingImageURL()) {
        m_landing.start({*m_action->landingImageURL()}, [this] {
            if (auto image = m_landing.image(*m_action->landingImageURL())) m_background->setImage(image);
        });
    }

    m_controls = std::make_shared<View>(Rect{std::floor((b.width - kControlSize) * 0.5),
                                             std::floor((b.height - kControlSize) * 0.5), kControlSize, kControlSize});
    m_controls->setAutoresizingMask(kFlexibleMargins);
    m_controls->setBackgroundColor(plat::ui::Color{0, 0, 0, 0.75});
    m_controls->setCornerRadius(12);
    m_controls->setClipsToBounds(true);
    addSubview(m_controls);
    m_playButton = std::make_shared<Button>(Rect{0, 0, kControlSize, kControlSize});
    m_spinner = std::make_shared<plat::ui::ActivityIndicator>(plat::ui::ActivityIndicatorStyle::WhiteLarge);
    m_spinner->setHidesWhenStopped(true);
    const Rect spin = m_spinner->frame();
    m_spinner->setFrame({(kControlSize - spin.width) / 2, (kControlSize - spin.height) / 2, spin.width, spin.height});
    m_playButton->addSubview(m_spinner);
    m_playIcon = std::make_shared<plat::ui::ImageView>(m_playButton->bounds());
    m_playIcon->setImage(OBResourcesController::sharedResources()->playVideoImage());
    m_playIcon->setContentMode(4);  // centred
    m_playButton->addSubview(m_playIcon);
    m_playLabel = std::make_shared<plat::ui::Label>(Rect{0, 95, kControlSize, 15});
    m_playLabel->setFont({"Helvetica-Bold", 13});
    m_playLabel->setTextColor({1, 1, 1, 1});
    m_playLabel->setTextAlignment(plat::ui::TextAlignment::Center);
    m_playLabel->setText("Play");
    m_playButton->addSubview(m_playLabel);
    m_controls->addSubview(m_playButton);

    const plat::ui::Size close = sizeOf(closeBox(), {30, 30});
    m_closeButton = std::make_shared<Button>(Rect{2, 2, close.width, close.height});
    m_closeButton->setImage(closeBox());
    addSubview(m_closeButton);

    m_toolbar = std::make_shared<View>(Rect{0, b.height - m_toolbarHeight, b.width, m_toolbarHeight});
    m_toolbar->setBackgroundColor(plat::ui::Color{0, 0, 0, 0.5});  // black translucent
    m_toolbar->setHidden(true);
    addSubview(m_toolbar);
    loadImages();
}

OrbadInteractiveVideoView::~OrbadInteractiveVideoView() {
    m_images.cancel();
    m_landing.cancel();
}

void OrbadInteractiveVideoView::loadImages() {
    std::vector<std::string> urls;
    if (m_action->taglineImageURL()) urls.push_back(*m_action->taglineImageURL());
    for (const auto& button : m_action->buttons())
        if (button.imageURL) urls.push_back(*button.imageURL);
    if (urls.empty()) return;
    m_images.start(urls, [this] {
        m_imagesLoaded = true;
        populateToolbar();
    });
}

void OrbadInteractiveVideoView::setMoviePlayerController(std::shared_ptr<plat::media::MoviePlayerController> player) {
    m_player = std::move(player);
}

void OrbadInteractiveVideoView::setPreloading(bool preloading) {
    if (preloading) {
        m_spinner->startAnimating();
        m_playIcon->setHidden(true);
        m_playLabel->setText("Loading");
    } else {
        m_injectAttempts = 0;
        m_spinner->stopAnimating();
        m_playIcon->setHidden(false);
        m_playLabel->setText("Play");
    }
}

void OrbadInteractiveVideoView::populateToolbar() {
    const auto& buttons = m_action->buttons();
    // Without buttons there is nothing to lay out (and nothing to divide by).
    if (!m_toolbar || buttons.empty()) return;
    // The tallest picture that loaded; the bar's own height when none did.
    double height = 0;
    for (const auto& button : buttons)
        if (auto image = button.imageURL ? m_images.image(*button.imageURL) : nullptr)
            height = std::max(height, image->size().height);
    m_toolbarHeight = height > 0 ? height : kOBVideoToolbarHeight;

    for (const auto& old : m_toolbarButtons) old->removeFromSuperview();
    m_toolbarButtons.clear();
    const Rect host = m_toolbar->superview() == this ? bounds() : m_toolbar->frame();
    const double width = m_toolbar->superview() == this ? host.width : m_toolbar->frame().height;
    const double each = std::floor(width / double(buttons.size()));
    const double space = (width - each * double(buttons.size())) / double(buttons.size() + 1);
    for (size_t i = 0; i < buttons.size(); ++i) {
        auto button = std::make_shared<Button>(Rect{space * double(i + 1) + each * double(i), 0, each, m_toolbarHeight});
        button->setAutoresizingMask(kFlexibleSize);
        button->setTag(long(i));
        if (buttons[i].imageURL) button->setImage(m_images.image(*buttons[i].imageURL));
        button->addTarget(this, [this](Button& pressed) {
            if (m_toolbarAction) m_toolbarAction(int(pressed.tag()));
        });
        m_toolbar->addSubview(button);
        m_toolbarButtons.push_back(button);
    }
    m_toolbar->setAutoresizingMask(10);
    m_toolbar->setHidden(false);
    if (m_toolbar->superview() == this) {
        m_toolbar->setLayerTransform({});
        m_toolbar->setFrame({0, bounds().height - m_toolbarHeight, bounds().width, m_toolbarHeight});
    }
}

void OrbadInteractiveVideoView::restoreToolbarToLandingPage() {
    m_toolbar->setLayerTransform({});
    m_toolbar->setFrame({0, bounds().height - m_toolbarHeight, bounds().width, m_toolbarHeight});
    insertSubview(m_toolbar, 1);
}

std::shared_ptr<View> OrbadInteractiveVideoView::taglineView() {
    auto tagline = std::make_shared<View>(Rect{0, 0, 200, kOBVideoBarHeight});
    double w = 0;
    if (auto image = m_action->taglineImageURL() ? m_images.image(*m_action->taglineImageURL()) : nullptr) {
        plat::ui::Size size = image->size();
        if (size.height > kOBVideoBarHeight) {
            size.width = std::floor(size.width * kOBVideoBarHeight / size.height);
            size.height = kOBVideoBarHeight;
        }
        w = size.width;
        auto picture = std::make_shared<plat::ui::ImageView>(Rect{200 - w, 0, w, kOBVideoBarHeight});
        picture->setImage(image);
        picture->setContentMode(kAspectFit);
        tagline->addSubview(picture);
    }
    if (m_action->taglineTitle() && !m_action->taglineTitle()->empty()) {
        auto label = std::make_shared<plat::ui::Label>(Rect{0, 0, w > 0 ? 200 - w - 5 : 200, kOBVideoBarHeight});
        label->setBackgroundColor(plat::ui::Color{0, 0, 0, 0});
        label->setTextColor({1, 1, 1, 1});
        label->setShadowColor(plat::ui::Color{0, 0, 0, 0.5});
        label->setShadowOffset({0, 1});
        label->setTextAlignment(plat::ui::TextAlignment::Right);
        label->setFont({"Helvetica-Bold", 13});
        label->setText("Ads by Orbad");
        tagline->addSubview(label);
    }
    return tagline;
}

void OrbadInteractiveVideoView::buildAndInjectOrbadVideoUI() {
    if (!m_useNewPlayer) {
        injectIntoOldPlayer();
        return;
    }
    if (!m_player) return;
    View& host = *m_player->view();
    if (!m_imagesLoaded) m_toolbar->setHidden(true);
    const double width = host.bounds().width;
    auto tagline = taglineView();
    const bool hasTagline = !tagline->subviews().empty();
    if (!m_action->buttons().empty()) {
        // A black translucent navigation bar: Done on the left, the tagline on the right.
        auto bar = std::make_shared<plat::ui::NavigationBar>();
        bar->setBarStyle(2);
        bar->pushNavigationItem(std::make_shared<plat::ui::NavigationItem>(""));
        m_overlay = bar;
    } else {
        m_overlay = std::make_shared<View>();
        m_overlay->setBackgroundColor(plat::ui::Color{0, 0, 0, 0.5});
    }
    m_overlay->setFrame({0, 0, width, kOBVideoBarHeight});
    if (!m_action->buttons().empty()) {
        auto done = std::make_shared<Button>(Rect{5, 2, 60, 30});
        done->setTitle("Done");
        done->addTarget(this, [this](Button&) { stopPlaying(); });
        m_overlay->addSubview(done);
        if (hasTagline) {
            tagline->setFrame({width - 200 - 5, 0, 200, kOBVideoBarHeight});
            m_overlay->addSubview(tagline);
        }
    } else {
        const plat::ui::Size close = sizeOf(closeBox(), {30, 30});
        auto box = std::make_shared<Button>(Rect{2, 2, close.width, close.height});
        box->setImage(closeBox());
        box->addTarget(this, [this](Button&) { stopPlaying(); });
        m_overlay->addSubview(box);
        tagline->setFrame({width - tagline->frame().width - 5, 0, tagline->frame().width, kOBVideoBarHeight});
        m_overlay->addSubview(tagline);
    }
    host.addSubview(m_overlay);
}

// The older player shows itself in a window of its own, found by its class name.
void OrbadInteractiveVideoView::injectIntoOldPlayer() {
    plat::ui::Application* app = plat::ui::Application::shared();
    plat::ui::Window* window = app ? app->keyWindow() : nullptr;
    std::shared_ptr<View> host;
    if (window)
        for (const auto& sub : window->subviews())
            if (std::strncmp(sub->className(), "MP", 2) == 0) host = sub;
    if (!host) {
        if (m_injectAttempts < kInjectRetries) {
            ++m_injectAttempts;
            m_injectTimer = RunLoop::main().addTimer(kInjectRetryDelay, [this] { injectIntoOldPlayer(); });
        }
        return;
    }
    auto turned = [](View& view) {
        plat::ui::LayerTransform t = view.layerTransform();
        t.rotation += M_PI / 2;
        view.setLayerTransform(t);
    };
    const double h = host->bounds().height;
    turned(*m_toolbar);
    host->addSubview(m_toolbar);
    m_toolbar->setFrame({0, 0, m_toolbarHeight, h});
    m_overlay = std::make_shared<View>(Rect{host->bounds().width - kOBVideoBarHeight, 0, kOBVideoBarHeight, h});
    turned(*m_overlay);
    host->addSubview(m_overlay);
}

void OrbadInteractiveVideoView::startMoviePlayback() {
    if (!m_player) return;
    if (!m_useNewPlayer) {
        m_player->play();
        m_injectTimer = RunLoop::main().addTimer(0.3, [this] { buildAndInjectOrbadVideoUI(); });
        return;
    }
    auto view = m_player->view();
    view->setFrame(bounds());
    buildAndInjectOrbadVideoUI();
    view->setBackgroundColor(plat::ui::Color{0, 0, 0, 1});
    const auto at = std::find(subviews().begin(), subviews().end(), m_toolbar);
    insertSubview(view, size_t(at - subviews().begin()));
    m_player->play();
}

void OrbadInteractiveVideoView::endMoviePlayback() {
    if (!m_useNewPlayer) {
        if (m_player) m_player->stop();
        m_player.reset();
        restoreToolbarToLandingPage();
        setPreloading(false);
        return;
    }
    closeNewPlayer();
    setPreloading(false);
}

void OrbadInteractiveVideoView::closeNewPlayer() {
    if (!m_player) return;
    m_player->view()->setAlpha(0);
    removeMoviePlayer();
}

void OrbadInteractiveVideoView::removeMoviePlayer() {
    if (!m_player) return;
    // The close button's action may release this view's controller.
    const auto self = shared_from_this();
    auto player = std::move(m_player);
    player->view()->removeFromSuperview();
    if (m_overlay) m_overlay->removeFromSuperview();
    m_overlay.reset();
    player->stop();
    if (m_action->buttons().empty()) m_closeButton->sendActions();
    // Released on a later turn: this may run inside the player's own finish.
    RunLoop::main().perform([player] {});
}

void OrbadInteractiveVideoView::stopPlaying() {
    if (!m_player) return;
    if (m_useNewPlayer) {
        m_player->pause();
        closeNewPlayer();
    } else {
        m_player->stop();
    }
}

void OrbadInteractiveVideoView::layoutSubviews() {
    const Rect b = bounds();
    if (m_toolbar && m_toolbar->superview() == this) {
        m_toolbar->setLayerTransform({});
        m_toolbar->setFrame({0, b.height - m_toolbarHeight, b.width, m_toolbarHeight});
    }
    if (m_background) m_background->setFrame(b);
    if (m_controls)
        m_controls->setFrame({std::floor((b.width - kControlSize) * 0.5), std::floor((b.height - kControlSize) * 0.5),
                              kControlSize, kControlSize});
}

// ---- the controller ----

OrbadInteractiveVideoController::OrbadInteractiveVideoController(std::shared_ptr<OrbadAd> ad)
    : m_ad(std::move(ad)), m_action(std::static_pointer_cast<const OrbadAdVideoAction>(m_ad->action())) {
    auto& center = NotificationCenter::defaultCenter();
    auto fromOurPlayer = [this](const plat::foundation::Notification& n) {
        return m_interactiveVideoView && m_interactiveVideoView->moviePlayerController() &&
               n.sender.object == m_interactiveVideoView->moviePlayerController().get();
    };
    m_observations.push_back(center.observe(plat::media::kMoviePlayerContentPreloadDidFinishNotification, nullptr,
                                            [this, fromOurPlayer](const auto& n) {
                                                if (fromOurPlayer(n)) moviePlayerPreloadFinished();
                                            }));
    m_observations.push_back(center.observe(plat::media::kMoviePlayerPlaybackDidFinishNotification, nullptr,
                                            [this, fromOurPlayer](const auto& n) {
                                                if (fromOurPlayer(n)) moviePlayerPlaybackFinished();
                                            }));
}

OrbadInteractiveVideoController::~OrbadInteractiveVideoController() = default;

void OrbadInteractiveVideoController::loadView() {
    ViewController::loadView();
    view()->setBackgroundColor(plat::ui::Color{0, 0, 0, 1});
    view()->setAutoresizingMask(kFlexibleSize);
    m_interactiveVideoView = std::make_shared<OrbadInteractiveVideoView>(view()->bounds(), m_action);
    m_interactiveVideoView->setAutoresizingMask(kFlexibleSize);
    m_interactiveVideoView->setToolbarAction([this](int index) { toolbarItemTapped(index); });
    m_interactiveVideoView->playButton()->addTarget(this, [this](Button&) { play(); });
    m_interactiveVideoView->closeButton()->addTarget(this, [this](Button&) { close(); });
    view()->addSubview(m_interactiveVideoView);
}

void OrbadInteractiveVideoController::play() {
    OrbadInteractiveVideoView& v = *m_interactiveVideoView;
    if (v.moviePlayerController()) return;
    // Our player always offers its view: the newer road.
    v.setUseNewPlayer(true);
    auto player = plat::media::MoviePlayerController::create(m_action->videoURL().value_or(""));
    player->setControlStyle(0);
    player->setUseApplicationAudioSession(false);
    v.setMoviePlayerController(player);
    m_preloading = true;
    v.setPreloading(true);
    player->prepareToPlay();
}

void OrbadInteractiveVideoController::moviePlayerPreloadFinished() {
    m_preloading = false;
    m_interactiveVideoView->setPreloading(false);
    m_interactiveVideoView->startMoviePlayback();
}

void OrbadInteractiveVideoController::moviePlayerPlaybackFinished() {
    // Closing lets the presenter release this controller, view and all.
    const auto keep = shared_from_this();
    m_preloading = false;
    m_interactiveVideoView->endMoviePlayback();
    if (m_action->buttons().empty()) close();
}

void OrbadInteractiveVideoController::toolbarItemTapped(int index) {
    const auto& buttons = m_action->buttons();
    if (index < 0 || size_t(index) >= buttons.size() || !buttons[size_t(index)].url) return;
    openBrowserForURL(*buttons[size_t(index)].url);
}

void OrbadInteractiveVideoController::openBrowserForURL(const std::string& url) {
    auto browser = OBBrowserViewController::withURL(url, 0);
    if (!browser->hasPageToShow()) return;
    browser->setAutoDismissOnResignActive(true);
    auto player = m_interactiveVideoView->moviePlayerController();
    presentViewController(browser, !player);
    if (player && player->isPlaying()) m_interactiveVideoView->stopPlaying();
}

void OrbadInteractiveVideoController::close() {
    if (m_didDismiss) return;
    const auto keep = shared_from_this();
    m_didDismiss = true;
    if (auto player = m_interactiveVideoView ? m_interactiveVideoView->moviePlayerController() : nullptr) player->stop();
    dismissViewController(true);
}

void OrbadInteractiveVideoController::viewWillAppear(bool) {
    if (!m_willAppearOnce) {
        m_willAppearOnce = true;
        setInModalAd(true);
        m_savedStatusBarHidden = plat::ui::isStatusBarHidden();
        NotificationCenter::defaultCenter().post(kOBVideoPlayerWillShow, {this, className()});
    }
    plat::ui::setStatusBarHidden(true);
}

void OrbadInteractiveVideoController::viewDidAppear(bool) {
    if (m_hasAppeared) return;
    m_hasAppeared = true;
    m_interactiveVideoView->playButton()->sendActions();
}

void OrbadInteractiveVideoController::viewWillDisappear(bool) {
    if (m_didDismiss) plat::ui::setStatusBarHidden(m_savedStatusBarHidden);
}

void OrbadInteractiveVideoController::viewDidDisappear(bool) {
    if (!m_didDismiss) return;
    setInModalAd(false);
    NotificationCenter::defaultCenter().post(kOBVideoPlayerDidHide, {this, className()});
}

}  // namespace orbad
