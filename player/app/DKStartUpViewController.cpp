#include "player/app/DKStartUpViewController.h"

#include <cairo.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>

#include "analytics/TrackwellSession.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/RunLoop.h"
#include "platform/sys/Device.h"
#include "platform/ui/ActivityIndicator.h"
#include "platform/ui/Application.h"

namespace {

namespace foundation = plat::foundation;
namespace ui = plat::ui;
namespace sys = plat::sys;

foundation::TraceCategory kStartup("startup");

constexpr double kIntroSeconds = 5.0;
constexpr double kButtonLong = 160, kButtonShort = 44, kButtonMargin = 40;

const foundation::Value* infoValue(std::string_view key) {
    return foundation::Bundle::mainInfoValue(key);
}

bool isPad() { return sys::Device::current().userInterfaceIdiom() == sys::kUserInterfaceIdiomPad; }

void roundedBox(cairo_t* cr, const ui::Rect& r, double radius) {
    const double pi = std::numbers::pi;
    cairo_new_sub_path(cr);
    cairo_arc(cr, r.x + r.width - radius, r.y + radius, radius, -pi / 2, 0);
    cairo_arc(cr, r.x + r.width - radius, r.y + r.height - radius, radius, 0, pi / 2);
    cairo_arc(cr, r.x + radius, r.y + r.height - radius, radius, pi / 2, pi);
    cairo_arc(cr, r.x + radius, r.y + radius, radius, pi, 3 * pi / 2);
    cairo_close_path(cr);
}

}  // namespace

DKMoreGamesButton::DKMoreGamesButton(const ui::Rect& frame, double textRotation)
    : Button(frame), m_textRotation(textRotation) {
    setTitle("More Games");
}

void DKMoreGamesButton::draw(cairo_t* cr) {
    const ui::Rect b = bounds();
    roundedBox(cr, {b.x + 1, b.y + 1, b.width - 2, b.height - 2}, 10);
    cairo_set_source_rgba(cr, 0.1, 0.2, 0.45, 0.9);
    cairo_fill_preserve(cr);
    cairo_set_source_rgba(cr, 1, 1, 1, 1);
    cairo_set_line_width(cr, 2);
    cairo_stroke(cr);
    // The title along the box's long side, turned about its centre.
    cairo_save(cr);
    cairo_translate(cr, b.width / 2, b.height / 2);
    cairo_rotate(cr, m_textRotation);
    const bool across = std::fabs(std::sin(m_textRotation)) > 0.5;
    const double w = across ? b.height : b.width, h = across ? b.width : b.height;
    ui::drawText(cr, title(), {"Helvetica-Bold", 15}, {1, 1, 1, 1}, {-w / 2, -h / 2, w, h}, ui::TextAlignment::Center, 1);
    cairo_restore(cr);
}

DKStartUpViewController::DKStartUpViewController() : m_isPad(isPad()) {
    sys::Device::current().beginGeneratingDeviceOrientationNotifications();
    const foundation::Value* provider = infoValue("StartupProvider");
    const std::string* name = provider ? provider->string() : nullptr;
    m_adProviderName = name ? *name : std::string();
    m_configurationIsValid = configureForProvider(name);
    foundation::trace(kStartup, [&] {
        return "provider " + (name ? *name : std::string("none")) + (m_configurationIsValid ? " valid" : " invalid");
    });
    if (m_configurationIsValid) configureOrientation();
}

DKStartUpViewController::~DKStartUpViewController() {
    // The 5 s end of the intro must not reach a screen that is gone.
    foundation::RunLoop::main().cancelPerforms(this);
    m_currentViewController = nullptr;
    if (m_kioskController) m_kioskController->setDelegate(nullptr);
    sys::Device::current().endGeneratingDeviceOrientationNotifications();
}

bool DKStartUpViewController::configureForProvider(const std::string* name) {
    if (!name) return false;
    if (*name == "kiosk") return infoValue("DKGameKS_Token") && infoValue("DKGameKS_Secret");
    return *name == "drovikNetwork";
}

void DKStartUpViewController::configureOrientation() {
    const foundation::Value* value = infoValue("DKStartupOrientation");
    const std::string* name = value ? value->string() : nullptr;
    if (name && *name == "UIInterfaceOrientationLandscapeRight")
        m_orientation = 3;
    else if (name && *name == "UIInterfaceOrientationPortrait")
        m_orientation = 1;
    else
        m_orientation = 4;
}

std::shared_ptr<DKMoreGamesButton> DKStartUpViewController::addButton(const ui::Rect& frame, double textRotation,
                                                                      unsigned autoresizing,
                                                                      std::shared_ptr<ui::Label>* label) {
    auto button = std::make_shared<DKMoreGamesButton>(frame, textRotation);
    button->setHidden(true);
    button->setAutoresizingMask(autoresizing);
    button->addTarget(this, [this](ui::Button& sender) { showMoreGamesView(&sender); });
    if (label) {
        // A badge in the box's corner, shown with its button.
        *label = std::make_shared<ui::Label>(ui::Rect{6, 4, 34, 14});
        (*label)->setText("NEW");
        (*label)->setFont({"Helvetica-Bold", 10});
        (*label)->setTextColor({1, 0.85, 0.2, 1});
        (*label)->setUserInteractionEnabled(false);
        button->addSubview(*label);
    }
    view()->addSubview(button);
    return button;
}

void DKStartUpViewController::loadView() {
    ViewController::loadView();
    const ui::Rect b = view()->bounds();
    const unsigned fill = ui::kAutoresizingFlexibleWidth | ui::kAutoresizingFlexibleHeight;

    m_imageView = std::make_shared<ui::View>(b);
    m_imageView->setAutoresizingMask(fill);
    view()->addSubview(m_imageView);

    m_contentBackGroundView = std::make_shared<ui::View>(b);
    m_contentBackGroundView->setAutoresizingMask(fill);
    m_contentBackGroundView->setBackgroundColor(ui::Color{0, 0, 0, 0.4});
    m_contentBackGroundView->setUserInteractionEnabled(false);
    m_contentBackGroundView->setHidden(true);
    view()->addSubview(m_contentBackGroundView);

    // Bottom centre for a screen held upright; along the side that is the bottom for one held
    // sideways. Each keeps its margins to the edges it sits by, so it stays on screen as the view
    // turns.
    const unsigned bottomCentre = ui::kAutoresizingFlexibleLeftMargin | ui::kAutoresizingFlexibleRightMargin |
                                  ui::kAutoresizingFlexibleTopMargin;
    const ui::Rect upright{(b.width - kButtonLong) / 2, b.height - kButtonShort - kButtonMargin, kButtonLong, kButtonShort};
    const unsigned sideways = ui::kAutoresizingFlexibleTopMargin | ui::kAutoresizingFlexibleBottomMargin;
    const double pi = std::numbers::pi;
    m_portraitButton = addButton(upright, 0, bottomCentre, &m_portraitNum);
    if (m_isPad) {
        m_landscapeiPadButton = addButton(upright, 0, bottomCentre, nullptr);
    } else {
        const double y = (b.height - kButtonLong) / 2;
        // Landscape left has the home button on the left: the picture's bottom is the portrait
        // screen's right edge, and its text reads upwards. Landscape right mirrors it.
        m_landscapeLButton = addButton({b.width - kButtonShort - kButtonMargin / 2, y, kButtonShort, kButtonLong},
                                       -pi / 2, sideways | ui::kAutoresizingFlexibleLeftMargin, &m_landscapeLNum);
        m_landscapeRButton = addButton({kButtonMargin / 2, y, kButtonShort, kButtonLong}, pi / 2,
                                       sideways | ui::kAutoresizingFlexibleRightMargin, &m_landscapeRNum);
    }

    m_progressLoadingView = std::make_shared<ui::View>(b);
    m_progressLoadingView->setAutoresizingMask(fill);
    m_progressLoadingView->setHidden(true);
    auto spinner = std::make_shared<ui::ActivityIndicator>(ui::ActivityIndicatorStyle::WhiteLarge);
    const ui::Rect s = spinner->frame();
    spinner->setFrame({(b.width - s.width) / 2, b.height - 120, s.width, s.height});
    spinner->setAutoresizingMask(bottomCentre);
    m_spinner = spinner;
    m_progressLoadingView->addSubview(spinner);
    auto loading = std::make_shared<ui::Label>(ui::Rect{(b.width - 120) / 2, b.height - 80, 120, 24});
    loading->setText("Loading");
    loading->setTextColor({1, 1, 1, 1});
    loading->setTextAlignment(ui::TextAlignment::Center);
    loading->setAutoresizingMask(bottomCentre);
    m_progressLoadingView->addSubview(loading);
    view()->addSubview(m_progressLoadingView);
}

void DKStartUpViewController::viewDidLoad() { loadStartScreen(); }

void DKStartUpViewController::frameImageControllerView() {
    if (!m_imageViewController) return;
    const ui::Rect screen = sys::Screen::main().bounds();
    if (m_isPad && !m_imageViewController->portraitOrientationSupport())
        m_imageViewController->view()->setFrame({0, 0, screen.height, screen.width});
    else
        m_imageViewController->view()->setFrame(screen);
}

void DKStartUpViewController::loadStartScreen() {
    m_imageViewController = std::make_shared<DKLoadingImageViewController>();
    m_currentViewController = m_imageViewController.get();
    frameImageControllerView();
    m_imageView->addSubview(m_imageViewController->view());
    foundation::NotificationCenter::defaultCenter().post(kDKIntroScreenFinishedNotification,
                                                         {this, "DKStartUpViewController"});
    loadContent();
}

void DKStartUpViewController::loadContent() {
    if (m_configurationIsValid) {
        if (m_adProviderName == "kiosk") showMoreGamesButton();
        m_contentBackGroundView->setHidden(false);
    }
    foundation::RunLoop::main().performAfter(kIntroSeconds, this, [this] { loadEndScreen(); });
}

void DKStartUpViewController::showMoreGamesButton() {
    if (m_isPad) {
        if (!m_imageViewController) return;
        (m_imageViewController->portraitOrientationSupport() ? m_portraitButton : m_landscapeiPadButton)->setHidden(false);
        return;
    }
    switch (m_orientation) {
    case 1: m_portraitButton->setHidden(false); break;
    case 3: m_landscapeRButton->setHidden(false); break;
    case 4: m_landscapeLButton->setHidden(false); break;
    default: break;
    }
}

void DKStartUpViewController::showMoreGamesView(ui::Button*) {
    if (m_kioskController) m_kioskController->setDelegate(nullptr);
    m_kioskController = std::make_shared<DKKioskViewController>();
    m_kioskController->setDelegate(this);
    m_kioskController->showMoreGamesAd();
    m_showMoreGamesIsVisible = true;
}

void DKStartUpViewController::loadEndScreen() {
    if (m_bdoneWithStartup || m_showMoreGamesIsVisible) return;
    if (m_adProviderName == "kiosk") {
        m_contentBackGroundView->setHidden(true);
        m_currentViewController = m_imageViewController.get();
        frameImageControllerView();
    }
    m_progressLoadingView->setHidden(false);
    m_spinner->startAnimating();
    done();
}

void DKStartUpViewController::done() {
    std::lock_guard lock(m_doneLock);
    if (m_bdoneWithStartup) return;
    m_bdoneWithStartup = true;
    ui::Application* app = ui::Application::shared();
    auto* client = app ? dynamic_cast<DKStartUpClient*>(app->delegate()) : nullptr;
    if (!client) {
        std::fprintf(stderr, "DKStartUpViewController: the application's delegate is not the player's\n");
        std::abort();
    }
    client->setIntroFinished(true);
}

void DKStartUpViewController::viewWillAppear(bool) {
    if (ui::Application* app = ui::Application::shared())
        app->setStatusBarOrientation(sys::Device::current().orientation(), false);
}

void DKStartUpViewController::viewDidAppear(bool) {
    m_orientationObservation = foundation::NotificationCenter::defaultCenter().observe(
        sys::kDeviceOrientationDidChangeNotification, nullptr, [this](const foundation::Notification&) {
            orientationDidChange();
        });
}

void DKStartUpViewController::orientationDidChange() {
    if (ui::Application* app = ui::Application::shared())
        app->setStatusBarOrientation(sys::Device::current().orientation(), true);
}

void DKStartUpViewController::viewWillDisappear(bool) {
    m_imageView->setHidden(true);
    m_progressLoadingView->setHidden(true);
    if (m_imageViewController && m_imageViewController->isViewLoaded())
        m_imageViewController->view()->removeFromSuperview();
}

void DKStartUpViewController::viewDidDisappear(bool) { m_orientationObservation.remove(); }

unsigned DKStartUpViewController::supportedInterfaceOrientations() const {
    if (m_isPad && m_imageViewController) return m_imageViewController->supportedInterfaceOrientations();
    return 2;
}

bool DKStartUpViewController::shouldAutorotateToInterfaceOrientation(int orientation) const {
    if (m_isPad && m_imageViewController) return m_imageViewController->shouldAutorotateToInterfaceOrientation(orientation);
    return orientation == 1;
}

void DKStartUpViewController::adDidDisplay() {
    if (!m_kioskController) return;
    TrackwellSession::sharedTrackwellSession().tagEvent(
        "adShownFullscreen", {{"p", std::string(m_kioskController->fullscreenAdProviderIdentifier())}});
}

void DKStartUpViewController::adDismissed() {
    m_showMoreGamesIsVisible = false;
    loadEndScreen();
}

void DKStartUpViewController::adError(const std::string&) { loadEndScreen(); }
