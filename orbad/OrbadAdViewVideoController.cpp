#include "orbad/OrbadAdViewVideoController.h"

#include <map>
#include <memory>

#include "orbad/ads/OBBannerHost.h"
#include "orbad/core/OBResourcesController.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/media/MoviePlayer.h"
#include "platform/ui/Button.h"
#include "platform/ui/Image.h"

namespace {

using plat::foundation::NotificationCenter;
using plat::media::MoviePlayerController;

// Players kept until they finish, with what they showed in.
struct Playing {
    std::shared_ptr<MoviePlayerController> player;
    std::shared_ptr<plat::media::MoviePlayerViewController> modal;
    plat::foundation::Observation finished;
    bool setModal = false;
};
std::map<const void*, Playing>& playing() {
    static std::map<const void*, Playing> players;
    return players;
}

void setInModalAd(bool on) {
    if (auto host = orbad::bannerHost()) host->setInModalAd(on);
}

// The three finish handlers in one: the mark cleared only by the road that set it, the player
// stopped and, inline, its view taken away.
void finished(const void* key) {
    auto it = playing().find(key);
    if (it == playing().end()) return;
    auto done = std::make_shared<Playing>(std::move(it->second));
    playing().erase(it);
    if (done->setModal) setInModalAd(false);
    done->finished.remove();
    done->player->stop();
    if (!done->modal) done->player->view()->removeFromSuperview();
    // Released on a later turn: the player is still posting its finish.
    plat::foundation::RunLoop::main().perform([done] {});
}

void watch(const std::shared_ptr<MoviePlayerController>& player, Playing entry) {
    const void* key = player.get();
    entry.player = player;
    entry.finished = NotificationCenter::defaultCenter().observe(plat::media::kMoviePlayerPlaybackDidFinishNotification,
                                                                 key, [key](const auto&) { finished(key); });
    playing()[key] = std::move(entry);
}

}  // namespace

void OrbadAdViewVideoController::playVideoURL(const std::string& url, plat::ui::View& view,
                                              plat::ui::ViewController*) {
    auto player = MoviePlayerController::create(url);
    player->setUseApplicationAudioSession(false);
    player->setShouldAutoplay(true);
    auto movieView = player->view();
    movieView->setBackgroundColor(plat::ui::Color{0, 0, 0, 1});
    movieView->setFrame(view.bounds());
    auto closeImage = orbad::OBResourcesController::sharedResources()->closeBoxImage();
    const plat::ui::Size closeSize = closeImage ? closeImage->size() : plat::ui::Size{30, 30};
    auto close = std::make_shared<plat::ui::Button>(plat::ui::Rect{2, 2, closeSize.width, closeSize.height});
    close->setImage(closeImage);
    std::weak_ptr<MoviePlayerController> weak = player;
    close->addTarget(player.get(), [weak](plat::ui::Button&) {
        if (auto p = weak.lock()) p->stop();
    });
    movieView->addSubview(close);
    watch(player, {});
    view.addSubview(movieView);
    player->play();
}

void OrbadAdViewVideoController::presentFullScreenVideoURL(const std::string& url, plat::ui::ViewController* controller) {
    auto modal = std::make_shared<plat::media::MoviePlayerViewController>(url);
    modal->moviePlayer()->setUseApplicationAudioSession(false);
    watch(modal->moviePlayer(), {nullptr, modal, {}, true});
    setInModalAd(true);
    if (controller) controller->presentViewController(modal, true);
    // Refused (no controller in a window): the player shows itself over the screen instead.
    if (!modal->presentingViewController()) modal->moviePlayer()->play();
}
