// The intro movie's screen. Nothing creates it. startIntro loads the bundle's intro movie in a
// movie player view controller, presents that controller once the movie can play, and tells the
// delegate when the movie has ended (or could not be played) and the player has gone.
//
// It plays on the newer road only (the player always offers its view): a MoviePlayerViewController
// loaded at startIntro, presented unanimated at its load-state change ("DKIntroMovieStartedNotification"
// then), taken down at its finish before movieDidFinish. A movie that cannot be opened never changes
// its load state, so its finish is heard from the start and ends the intro too.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/ViewController.h"

namespace plat::media {
class MoviePlayerViewController;
}

inline constexpr const char* kDKIntroMovieStartedNotification = "DKIntroMovieStartedNotification";

class DKIntroMovieViewControllerDelegate {
public:
    virtual ~DKIntroMovieViewControllerDelegate() = default;
    virtual void movieDidStart() {}
    virtual void movieDidFinish() {}
};

class DKIntroMovieViewController : public plat::ui::ViewController {
public:
    ~DKIntroMovieViewController() override;
    const char* className() const override { return "DKIntroMovieViewController"; }

    // "drovik_intro-iPad" on a tablet, "drovik_intro@2x" on a retina screen, else "drovik_intro"
    // (all "m4v" in the main bundle); none when the bundle lacks it.
    static std::optional<std::string> introMovieURL();
    // A plain white view.
    void loadView() override;
    // Starts loading the movie and tells the delegate the movie started. Once it can play,
    // kDKIntroMovieStartedNotification is posted and the player is presented from this
    // controller, whose view must then be in a window.
    void startIntro();

    unsigned supportedInterfaceOrientations() const override { return 2; }
    bool shouldAutorotateToInterfaceOrientation(int orientation) const override { return orientation == 1; }

    // Not retained.
    void setDelegate(DKIntroMovieViewControllerDelegate* delegate) { m_delegate = delegate; }
    DKIntroMovieViewControllerDelegate* delegate() const { return m_delegate; }
    // The movie's controller from startIntro until the movie has finished.
    plat::media::MoviePlayerViewController* moviePlayerViewController() const {
        return m_moviePlayerViewController.get();
    }

private:
    void moviePlayerLoadStateChanged();
    void moviePlayerViewFinished();

    DKIntroMovieViewControllerDelegate* m_delegate = nullptr;
    std::shared_ptr<plat::media::MoviePlayerViewController> m_moviePlayerViewController;
    plat::foundation::Observation m_loadStateObservation;
    plat::foundation::Observation m_finishObservation;
};
