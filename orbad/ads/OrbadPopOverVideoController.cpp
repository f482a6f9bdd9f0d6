#include "orbad/ads/OrbadPopOverVideoController.h"

#include "orbad/ads/OBBannerHost.h"
#include "orbad/ads/OrbadAd.h"
#include "orbad/ads/OrbadAdAction.h"
#include "platform/media/MoviePlayer.h"
#include "platform/ui/ActivityIndicator.h"
#include "platform/ui/SegmentedControl.h"
#include "platform/ui/WebView.h"

namespace orbad {

using plat::foundation::NotificationCenter;

namespace {

constexpr unsigned kFlexibleMargins = 45, kFlexibleSize = 18;

void setInModalAd(bool on) {
    if (auto host = bannerHost()) host->setInModalAd(on);
}

}  // namespace

OrbadPopOverVideoController::OrbadPopOverVideoController(std::shared_ptr<OrbadAd> ad)
    : m_ad(std::move(ad)), m_action(std::static_pointer_cast<const OrbadAdPopupVideoAction>(m_ad->action())) {}

OrbadPopOverVideoController::~OrbadPopOverVideoController() = default;

void OrbadPopOverVideoController::closePlayer() {
    if (m_dismissPopover) m_dismissPopover();
}

void OrbadPopOverVideoController::viewDidLoad() {
    plat::ui::View& root = *view();
    root.setBackgroundColor(plat::ui::Color{0, 0, 0, 1});
    const plat::ui::Rect b = root.bounds();
    m_spinner = std::make_shared<plat::ui::ActivityIndicator>(plat::ui::ActivityIndicatorStyle::WhiteLarge);
    const plat::ui::Rect s = m_spinner->frame();
    m_spinner->setFrame({(b.width - s.width) / 2, (b.height - s.height) / 2, s.width, s.height});
    m_spinner->setAutoresizingMask(kFlexibleMargins);
    m_spinner->startAnimating();
    root.addSubview(m_spinner);

    m_player = plat::media::MoviePlayerController::create(m_action->videoURL().value_or(""));
    m_prepared = NotificationCenter::defaultCenter().observe(plat::media::kMediaPlaybackIsPreparedToPlayDidChangeNotification,
                                                            m_player.get(), [this](const auto&) { moviePreparedToPlay(); });
    m_player->setUseApplicationAudioSession(false);
    m_player->setShouldAutoplay(false);
    m_player->prepareToPlay();
    m_player->view()->setFrame(b);
    m_player->view()->setAutoresizingMask(kFlexibleSize);
    m_player->view()->setHidden(true);
    root.addSubview(m_player->view());

    if (!m_action->buttons().empty()) {
        std::vector<std::string> titles{"Video"};
        for (const auto& button : m_action->buttons()) titles.push_back(button.title.value_or(""));
        m_segments = std::make_shared<plat::ui::SegmentedControl>(titles);
        m_segments->setSegmentedControlStyle(2);
        m_segments->sizeToFit();
        const plat::ui::Rect f = m_segments->frame();
        m_segments->setFrame({f.x, f.y, m_action->videoSize().width, f.height});
        m_segments->setSelectedSegmentIndex(0);
        m_segments->addTarget(this, [this](plat::ui::SegmentedControl&) { selectedSegmentChanged(); });
    }
    m_browserView = std::make_shared<plat::ui::WebView>();
    m_browserView->setFrame(b);
    m_browserView->setAutoresizingMask(kFlexibleSize);
    m_browserView->setHidden(true);
    root.addSubview(m_browserView);
}

void OrbadPopOverVideoController::playMovie() {
    m_ranOnce = true;
    m_player->play();
}

void OrbadPopOverVideoController::moviePreparedToPlay() {
    if (m_preparedSeen) return;
    m_preparedSeen = true;
    if (!m_browserView->isHidden()) {
        m_player->pause();
        return;
    }
    m_player->view()->setFrame(view()->bounds());
    m_player->view()->setHidden(false);
    playMovie();
}

void OrbadPopOverVideoController::selectedSegmentChanged() {
    const int index = m_segments ? m_segments->selectedSegmentIndex() : 0;
    if (index <= 0) {
        m_browserView->setHidden(true);
        m_player->view()->setFrame(view()->bounds());
        if (!m_player->isPreparedToPlay() && !m_ranOnce) {
            m_player->view()->setHidden(true);
            return;
        }
        m_player->view()->setHidden(false);
        playMovie();
        return;
    }
    m_player->pause();
    m_browserView->load(plat::ui::kBlankPage);
    m_browserView->setFrame(view()->bounds());
    m_browserView->setHidden(false);
    m_player->view()->setHidden(true);
    const auto& button = m_action->buttons()[size_t(index - 1)];
    m_browserView->load(button.url.value_or(""));
}

void OrbadPopOverVideoController::viewWillAppear(bool) {
    setInModalAd(true);
    NotificationCenter::defaultCenter().post(kOBVideoPlayerWillShow, {this, className()});
}

void OrbadPopOverVideoController::viewDidAppear(bool) {
    if (m_player && m_browserView && m_browserView->isHidden()) playMovie();
}

void OrbadPopOverVideoController::viewDidDisappear(bool) {
    setInModalAd(false);
    NotificationCenter::defaultCenter().post(kOBVideoPlayerDidHide, {this, className()});
}

}  // namespace orbad
