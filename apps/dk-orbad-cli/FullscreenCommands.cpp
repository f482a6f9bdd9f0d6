#include "apps/dk-orbad-cli/FullscreenCommands.h"

#include "orbad/ads/OrbadWidgetButtonController.h"
#include "platform/ui/Application.h"
#include "platform/ui/Bars.h"
#include "platform/ui/StatusBar.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"

namespace dk::tools::orbadcli {

using dk::tools::Arg;
using dk::tools::escape;

namespace {

constexpr const char* kUsage =
    "usage: fullscreen delegate [OPTION]... | request | display | request-display | done | state";

const char* yesNo(bool on) {
    return on ? "YES" : "NO";
}

const char* shown(bool on) {
    return on ? "shown" : "hidden";
}

}  // namespace

FullscreenCommands::FullscreenCommands(std::function<void(const std::string&)> say,
                                       std::function<plat::ui::ViewController&()> root)
    : m_say(std::move(say)), m_root(std::move(root)) {}

FullscreenCommands::~FullscreenCommands() {
    if (m_controller) m_controller->setDelegate(nullptr);
}

bool FullscreenCommands::refuse(const std::string& why) const {
    m_say("error " + why);
    return false;
}

OrbadFullScreenAdViewController& FullscreenCommands::controller() {
    if (!m_controller) {
        m_controller = OrbadFullScreenAdViewController::make();
        m_controller->setDelegate(this);
    }
    return *m_controller;
}

const std::vector<dk::tools::AreaCommand<FullscreenCommands>>& FullscreenCommands::commands() {
    static const std::vector<dk::tools::AreaCommand<FullscreenCommands>> table = {
        {"fullscreen",
         [] {
             std::vector<std::string> lines = dk::tools::describedHelp(
                 "fullscreen delegate [OPTION]...",
                 "which request hooks the delegate answers from now on: adurl=TEXT|empty|nil creative=TEXT mediaurl=TEXT");
             lines.push_back("fullscreen request|display|request-display|done|state");
             return lines;
         }(),
         &FullscreenCommands::fullscreen},
        {"widget", {"widget tap"}, &FullscreenCommands::widget},
    };
    return table;
}

bool FullscreenCommands::widget(dk::tools::Call& call) {
    const std::vector<Arg>& args = call.args;
    if (args.size() != 1 || args[0].text != "tap") return refuse("usage: widget tap");
    return tapWidget();
}

bool FullscreenCommands::fullscreen(dk::tools::Call& call) {
    const std::vector<Arg>& args = call.args;
    if (args.empty() || args[0].quoted) return refuse(kUsage);
    const std::string& sub = args[0].text;
    if (sub == "delegate") return delegateOptions(args);
    if (args.size() != 1) return refuse(kUsage);
    if (sub == "request") {
        m_root();  // the application launched, as the player's is
        controller().requestAd();
    } else if (sub == "display") {
        const bool displayed = controller().displayRequestedAdFromViewController(m_root());
        m_say(std::string("display ") + (displayed ? "yes" : "no"));
        return true;
    } else if (sub == "request-display") {
        controller().requestAndDisplayAdFromViewController(m_root());
    } else if (sub == "done") {
        if (!m_controller || !m_controller->presentingViewController() || !m_controller->doneItem())
            return refuse("no full-screen ad on screen");
        if (m_controller->toolbarHidden()) return refuse("no toolbar on screen");
        if (!m_controller->doneItem()->press()) return refuse("Done not pressed");
    } else if (sub == "state") {
        // Toolbar and widget as a user sees them: in a window, and the one of the two in use.
        OrbadFullScreenAdViewController& c = controller();
        const auto& widget = c.widgetButtonController();
        const bool toolbar = c.toolbar() && c.toolbar()->window() && !c.toolbarHidden();
        const bool button = widget->closeButton() && widget->closeButton()->window() &&
                            !widget->closeButton()->isHidden() && widget->getButtonVisible();
        m_say(std::string("fullscreen hasAd=") + yesNo(c.hasAd()) +
              " displaying=" + yesNo(c.isDisplayingAd()) + " toolbar=" + shown(toolbar) +
              " widget=" + shown(button) + " statusbar=" + shown(!plat::ui::isStatusBarHidden()));
        return true;
    } else {
        return refuse(kUsage);
    }
    m_say("ok");
    return true;
}

bool FullscreenCommands::delegateOptions(const std::vector<Arg>& args) {
    constexpr const char* kDelegateUsage =
        "usage: fullscreen delegate [adurl=TEXT|empty|nil] [creative=TEXT] [mediaurl=TEXT]";
    Options options;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& text = args[i].text;
        const size_t eq = text.find('=');
        if (eq == std::string::npos) return refuse(kDelegateUsage);
        const std::string key = text.substr(0, eq), value = text.substr(eq + 1);
        if (key == "adurl") {
            if (value == "empty")
                options.adURL = "";
            else if (value != "nil")
                options.adURL = value;
            options.answered.insert(Hook::requestedAdUrl);
        } else if (key == "creative") {
            options.creative = value;
            options.answered.insert(Hook::requestedCreative);
        } else if (key == "mediaurl") {
            options.mediaURL = value;
            options.answered.insert(Hook::requestedVeltiMediaURL);
        } else {
            return refuse(kDelegateUsage);
        }
    }
    m_options = std::move(options);
    // Set again, so that the engine probes the hooks anew.
    controller().setDelegate(this);
    m_say("ok");
    return true;
}

bool FullscreenCommands::tapWidget() {
    plat::ui::Application* app = plat::ui::Application::shared();
    plat::ui::Window* window = app ? app->keyWindow() : nullptr;
    plat::ui::View* button = window ? app->frontmostView([](plat::ui::View& view) {
        return dynamic_cast<orbad::OrbadCloseWidgetButton*>(&view) != nullptr;
    })
                                    : nullptr;
    if (!button) return refuse("no close widget on screen");
    const plat::ui::Rect bounds = button->bounds();
    const plat::ui::Point center =
        button->convertPointToView({bounds.x + bounds.width / 2, bounds.y + bounds.height / 2}, window);
    const int finger = m_nextFinger++;
    using plat::ui::TouchPhase;
    if (!app->injectTouches({{TouchPhase::Began, finger, center}}) ||
        !app->injectTouches({{TouchPhase::Ended, finger, std::nullopt}}))
        return refuse("tap not taken");
    m_say("ok");
    return true;
}

// ---- the delegate ----

void FullscreenCommands::fullScreenAdViewControllerDidFinishLoad(OrbadFullScreenAdViewController&) {
    m_say("delegate fullScreenAdViewControllerDidFinishLoad");
}

void FullscreenCommands::fullScreenAdViewControllerDidFailToLoad(OrbadFullScreenAdViewController&,
                                                                 const plat::foundation::Error& error) {
    m_say("delegate fullScreenAdViewController:didFailToLoadWithError: " + std::to_string(error.code) + " " +
          escape(error.message));
}

void FullscreenCommands::fullScreenAdViewControllerWillPresentAd(OrbadFullScreenAdViewController&) {
    m_say("delegate fullScreenAdViewControllerWillPresentAd");
}

void FullscreenCommands::fullScreenAdViewControllerDidDismissAd(OrbadFullScreenAdViewController&) {
    m_say("delegate fullScreenAdViewControllerDidDismissAd");
}

std::optional<std::string> FullscreenCommands::requestedAdUrlForFullScreenAdViewController(
    OrbadFullScreenAdViewController&) {
    m_say("delegate requestedAdUrlForFullScreenAdViewController");
    return m_options.adURL;
}

std::optional<std::string> FullscreenCommands::requestedCreativeForFullScreenAdViewController(
    OrbadFullScreenAdViewController&) {
    m_say("delegate requestedCreativeForFullScreenAdViewController");
    return m_options.creative;
}

std::optional<std::string> FullscreenCommands::requestedVeltiMediaURLForFullScreenAdViewController(
    OrbadFullScreenAdViewController&) {
    m_say("delegate requestedVeltiMediaURLForFullScreenAdViewController");
    return m_options.mediaURL;
}

}  // namespace dk::tools::orbadcli
