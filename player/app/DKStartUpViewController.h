// The start-up screen, shown over the still transparent game view while the game loads: the launch
// image, "DKIntroScreenFinished" posted as soon as its view loads (the application delegate then
// loads the game), an optional more-games button of the content-ads client, and, at least 5 s
// later, the intro reported finished to the application delegate, once.
//
// Laid out in code: the launch image in a full-screen image view, a hidden backdrop, the hidden
// more-games buttons of every layout (each kept inside the view by its autoresizing margins so a tap
// reaches it) and the hidden progress view on top. The intro's end waits while the more-games view is
// up and is reported to DKStartUpClient once. Delayed calls are owned by the screen, the content
// request and the intro movie controller and cancelled in their destructors, so a screen released
// early reports nothing. A failed more-games request arrives as adError then adDismissed, which ends
// the intro.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/ActivityIndicator.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/ViewController.h"
#include "player/app/DKLoadingImageViewController.h"
#include "player/plugins/fullscreen/DKKioskViewController.h"

inline constexpr const char* kDKIntroScreenFinishedNotification = "DKIntroScreenFinished";

// What the start-up screen tells the application's delegate; the player's delegate implements it.
class DKStartUpClient {
public:
    virtual ~DKStartUpClient() = default;
    virtual void setIntroFinished(bool finished) = 0;
};

// A more-games button drawn here: a rounded box with "More Games", turned with the layout it
// belongs to (radians, clockwise), so it reads upright for a device held that way.
class DKMoreGamesButton : public plat::ui::Button {
public:
    DKMoreGamesButton(const plat::ui::Rect& frame, double textRotation);
    const char* className() const override { return "DKMoreGamesButton"; }
    void draw(cairo_t* cr) override;
    std::optional<std::string> dumpText() const override { return title(); }

private:
    double m_textRotation;
};

class DKStartUpViewController : public plat::ui::ViewController, public DKFullscreenAdProviderDelegate {
public:
    DKStartUpViewController();
    ~DKStartUpViewController() override;
    const char* className() const override { return "DKStartUpViewController"; }

    // "kiosk" with both "DKGameKS_Token" and "DKGameKS_Secret" in the Info.plist, or
    // "drovikNetwork"; nothing else.
    static bool configureForProvider(const std::string* name);
    void configureOrientation();

    // The layout in code: a full-screen image view, a hidden backdrop, the hidden more-games buttons
    // of every layout, and the hidden progress view on top.
    void loadView() override;
    void viewDidLoad() override;
    void loadStartScreen();
    void loadContent();
    void showMoreGamesButton();
    void showMoreGamesView(plat::ui::Button* sender);
    // Nothing once done or while the more-games view is up.
    void loadEndScreen();
    void done();

    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    void viewDidDisappear(bool animated) override;
    void orientationDidChange();
    unsigned supportedInterfaceOrientations() const override;
    bool shouldAutorotateToInterfaceOrientation(int orientation) const override;

    void adDidDisplay() override;
    void adDismissed() override;
    void adError(const std::string& message) override;

    // The outlets.
    plat::ui::View* imageView() const { return m_imageView.get(); }
    plat::ui::View* progressLoadingView() const { return m_progressLoadingView.get(); }
    plat::ui::View* contentBackgroundView() const { return m_contentBackGroundView.get(); }
    plat::ui::Button* portraitButton() const { return m_portraitButton.get(); }
    plat::ui::Button* landscapeLButton() const { return m_landscapeLButton.get(); }
    plat::ui::Button* landscapeRButton() const { return m_landscapeRButton.get(); }
    plat::ui::Button* landscapeiPadButton() const { return m_landscapeiPadButton.get(); }
    plat::ui::Label* portraitNum() const { return m_portraitNum.get(); }
    plat::ui::Label* landscapeLNum() const { return m_landscapeLNum.get(); }
    plat::ui::Label* landscapeRNum() const { return m_landscapeRNum.get(); }

    bool configurationIsValid() const { return m_configurationIsValid; }
    const std::string& adProviderName() const { return m_adProviderName; }
    int orientation() const { return m_orientation; }
    bool isDoneWithStartup() const { return m_bdoneWithStartup; }
    bool showMoreGamesIsVisible() const { return m_showMoreGamesIsVisible; }
    DKLoadingImageViewController* imageViewController() const { return m_imageViewController.get(); }
    DKKioskViewController* kioskController() const { return m_kioskController.get(); }

private:
    void frameImageControllerView();
    std::shared_ptr<DKMoreGamesButton> addButton(const plat::ui::Rect& frame, double textRotation,
                                                 unsigned autoresizing, std::shared_ptr<plat::ui::Label>* label);

    bool m_isPad;
    std::shared_ptr<plat::ui::View> m_imageView;
    std::shared_ptr<plat::ui::View> m_progressLoadingView;
    std::shared_ptr<plat::ui::View> m_contentBackGroundView;
    std::shared_ptr<plat::ui::ActivityIndicator> m_spinner;
    plat::ui::ViewController* m_currentViewController = nullptr;
    bool m_configurationIsValid = false;
    std::string m_adProviderName;
    std::shared_ptr<DKLoadingImageViewController> m_imageViewController;
    std::shared_ptr<DKKioskViewController> m_kioskController;
    bool m_showMoreGamesIsVisible = false;
    int m_orientation = 0;
    bool m_bdoneWithStartup = false;
    std::mutex m_doneLock;
    std::shared_ptr<DKMoreGamesButton> m_landscapeiPadButton;
    std::shared_ptr<DKMoreGamesButton> m_portraitButton;
    std::shared_ptr<plat::ui::Label> m_portraitNum;
    std::shared_ptr<DKMoreGamesButton> m_landscapeLButton, m_landscapeRButton;
    std::shared_ptr<plat::ui::Label> m_landscapeLNum, m_landscapeRNum;
    plat::foundation::Observation m_orientationObservation;
};
