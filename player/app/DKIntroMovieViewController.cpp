#include "player/app/DKIntroMovieViewController.h"

#include "platform/foundation/Bundle.h"
#include "platform/media/MoviePlayer.h"
#include "platform/sys/Device.h"

using plat::foundation::NotificationCenter;
using plat::media::MoviePlayerController;

DKIntroMovieViewController::~DKIntroMovieViewController() = default;

std::optional<std::string> DKIntroMovieViewController::introMovieURL() {
    const plat::foundation::Bundle* bundle = plat::foundation::Bundle::main();
    if (!bundle) return std::nullopt;
    const char* name = "drovik_intro";
    if (plat::sys::Device::current().userInterfaceIdiom() == plat::sys::kUserInterfaceIdiomPad)
        name = "drovik_intro-iPad";
    else if (plat::sys::Screen::main().scale() == 2.0)
        name = "drovik_intro@2x";
    return bundle->pathForResource(name, "m4v");
}

void DKIntroMovieViewController::loadView() {
    auto view = std::make_shared<plat::ui::View>(plat::ui::Rect{});
    view->setBackgroundColor(plat::ui::Color{1, 1, 1, 1});
    setView(view);
}

void DKIntroMovieViewController::startIntro() {
    if (m_moviePlayerViewController) return;  // one movie at a time
    // The platform's player always offers its view, so only the newer road is taken. Its
    // presentations do not animate (no cross-dissolve) and its view always fits the movie in.
    m_moviePlayerViewController = std::make_shared<plat::media::MoviePlayerViewController>(introMovieURL().value_or(""));
    view()->addSubview(m_moviePlayerViewController->view());
    const std::shared_ptr<MoviePlayerController>& player = m_moviePlayerViewController->moviePlayer();
    player->view()->setBackgroundColor(plat::ui::Color{1, 1, 1, 1});
    player->setControlStyle(0);
    player->setShouldAutoplay(true);
    NotificationCenter& center = NotificationCenter::defaultCenter();
    m_loadStateObservation = center.observe(plat::media::kMoviePlayerLoadStateDidChangeNotification, player.get(),
                                            [this](const auto&) { moviePlayerLoadStateChanged(); });
    // A movie that cannot be opened never changes its load state: its finish ends the intro
    // instead of leaving the delegate waiting for ever.
    m_finishObservation = center.observe(plat::media::kMoviePlayerPlaybackDidFinishNotification, player.get(),
                                         [this](const auto&) { moviePlayerViewFinished(); });
    // This player loads when asked; the device's began as soon as it was made.
    player->prepareToPlay();
    if (m_delegate) m_delegate->movieDidStart();
}

void DKIntroMovieViewController::moviePlayerLoadStateChanged() {
    const auto keep = weak_from_this().lock();
    m_loadStateObservation = {};
    NotificationCenter::defaultCenter().post(kDKIntroMovieStartedNotification, {this, "DKIntroMovieViewController"});
    if (!m_moviePlayerViewController) return;  // an observer of the notification ended it
    presentViewController(m_moviePlayerViewController, false);
    // Refused (this view is in no window): the player shows itself over the screen instead, so the
    // movie still plays and ends.
    if (m_moviePlayerViewController && !m_moviePlayerViewController->presentingViewController())
        m_moviePlayerViewController->moviePlayer()->play();
}

void DKIntroMovieViewController::moviePlayerViewFinished() {
    const auto keep = weak_from_this().lock();
    if (std::shared_ptr<plat::media::MoviePlayerViewController> movie = std::move(m_moviePlayerViewController)) {
        m_loadStateObservation = {};
        m_finishObservation = {};
        movie->moviePlayer()->pause();
        movie->moviePlayer()->stop();
        if (movie->presentingViewController()) movie->dismissViewController(false);
        movie->view()->removeFromSuperview();
    }
    if (m_delegate) m_delegate->movieDidFinish();
}
