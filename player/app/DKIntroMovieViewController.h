// The intro movie's screen. Nothing creates it, and there is no movie player here: startIntro
// behaves as if the movie ended at once (started now, finished on the next turn).
#pragma once

#include <optional>
#include <string>

#include "platform/ui/ViewController.h"

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
    // Posts kDKIntroMovieStartedNotification, tells the delegate the movie started, and on the
    // next turn that it finished.
    void startIntro();

    unsigned supportedInterfaceOrientations() const override { return 2; }
    bool shouldAutorotateToInterfaceOrientation(int orientation) const override { return orientation == 1; }

    // Not retained.
    void setDelegate(DKIntroMovieViewControllerDelegate* delegate) { m_delegate = delegate; }
    DKIntroMovieViewControllerDelegate* delegate() const { return m_delegate; }

private:
    DKIntroMovieViewControllerDelegate* m_delegate = nullptr;
};
