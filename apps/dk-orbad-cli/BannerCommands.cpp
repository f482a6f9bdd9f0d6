#include "apps/dk-orbad-cli/BannerCommands.h"

#include <charconv>

#include "orbad/ads/OBBrowserViewController.h"
#include "orbad/ads/OrbadAdViewInternal.h"
#include "platform/foundation/RunLoop.h"
#include "platform/sys/Device.h"
#include "platform/ui/ActionSheet.h"
#include "platform/ui/Application.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"
#include "platform/web/FakeWebEngine.h"

namespace dk::tools::orbadcli {

using dk::tools::Arg;
using dk::tools::escape;

namespace {

std::string shortest(double value) {
    if (value == 0) return "0";
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

std::string rect(const plat::ui::Rect& r) {
    return shortest(r.x) + "," + shortest(r.y) + "," + shortest(r.width) + "," + shortest(r.height);
}

std::optional<bool> yesNo(const std::string& text) {
    if (text == "yes") return true;
    if (text == "no") return false;
    return std::nullopt;
}

constexpr const char* kBannerUsage =
    "usage: banner CLASS [X Y] | delegate [OPTION]... | "
    "resume|pause|cancel|get|prefetch|display|continue|free | refresh S | space NAME | testing on|off | "
    "orphan";

}  // namespace

BannerCommands::BannerCommands(Say say) : m_say(std::move(say)) {
    auto& center = plat::foundation::NotificationCenter::defaultCenter();
    m_browserShown = center.observe(orbad::kOBBrowserDidShowNotification, nullptr,
                                    [this](const auto&) { m_say("notify ORBAD_BROWSER_OPEN"); });
    m_browserHidden = center.observe(orbad::kOBBrowserDidHideNotification, nullptr,
                                     [this](const auto&) { m_say("notify ORBAD_BROWSER_CLOSE"); });
}

BannerCommands::~BannerCommands() {
    // The banners and their engines go before the window that holds them.
    for (const auto& banner : m_banners) banner->setDelegate(nullptr);
    m_banners.clear();
    m_window.reset();
    m_root.reset();
}

bool BannerCommands::refuse(const std::string& why) const {
    m_say("error " + why);
    return false;
}

namespace {

std::vector<std::string> bannerHelp() {
    std::vector<std::string> lines = dk::tools::describedHelp("banner CLASS [X Y]", "a banner of the class at (X, Y)");
    for (const std::string& line : dk::tools::describedHelp(
             "banner delegate [OPTION]...",
             "what the delegate answers from now on: autoplay=yes|no rmuser=yes|no keywords=TEXT query=TEXT "
             "ip=TEXT adurl=TEXT|empty|nil creative=TEXT pause-on-load faildetail handle=yes|no receive key=TEXT"))
        lines.push_back(line);
    lines.push_back("banner resume|pause|cancel|get|prefetch|display|continue|free");
    lines.push_back("banner refresh S | banner space NAME | banner testing on|off | banner orphan");
    return lines;
}

}  // namespace

const std::vector<dk::tools::AreaCommand<BannerCommands>>& BannerCommands::commands() {
    static const std::vector<dk::tools::AreaCommand<BannerCommands>> table = {
        {"banner", bannerHelp(), &BannerCommands::banner},
        {"tap", {"tap X Y"}, &BannerCommands::tap},
        {"memory-warning", {"memory-warning"}, &BannerCommands::memoryWarning},
        {"browser", {"browser URL [STYLE] | browser nav URL [click] | browser done|actions"}, &BannerCommands::browser},
        {"sheet", {"sheet press N"}, &BannerCommands::pressSheet},
    };
    return table;
}

bool BannerCommands::memoryWarning(dk::tools::Call& call) {
    const std::vector<dk::tools::Arg>& args = call.args;
    if (!args.empty()) return refuse("usage: memory-warning");
    application().receiveMemoryWarning();
    m_say("ok");
    return true;
}

plat::ui::Application& BannerCommands::application() {
    plat::ui::Application& app = *plat::ui::Application::shared();
    if (app.state() == plat::ui::ApplicationState::NotRunning) app.launch();
    if (!m_window) {
        m_root = std::make_shared<plat::ui::ViewController>();
        m_window = std::make_shared<plat::ui::Window>(plat::sys::Screen::main().bounds());
        m_window->setRootViewController(m_root);
    }
    // Other commands may have shown a window of their own since.
    if (app.keyWindow() != m_window.get()) m_window->makeKeyAndVisible();
    return app;
}

plat::ui::ViewController& BannerCommands::rootViewController() {
    application();
    return *m_root;
}

bool BannerCommands::banner(Call& call) {

    const std::vector<dk::tools::Arg>& args = call.args;
    if (args.empty() || args[0].quoted) return refuse(kBannerUsage);
    const std::string& sub = args[0].text;
    if (const OrbadAdViewClass* cls = orbadAdViewClassNamed(sub)) return create(*cls, args);
    if (sub == "delegate") return delegateOptions(args);
    if (m_banners.empty()) return refuse("no banner");
    OrbadAdView& last = *m_banners.back();
    if (args.size() == 1) {
        if (sub == "resume")
            last.resumeAdAutoRefresh();
        else if (sub == "pause")
            last.pauseAdAutoRefresh();
        else if (sub == "cancel")
            last.cancelAd();
        else if (sub == "get")
            last.getAd();
        else if (sub == "prefetch")
            last.prefetchAd();
        else if (sub == "display")
            last.displayAd();
        else if (sub == "continue")
            last.continueRequest();
        else if (sub == "free") {
            last.removeFromSuperview();
            m_banners.pop_back();
        } else if (sub == "orphan") {
            application();
            last.removeFromSuperview();
            m_window->addSubview(last.shared_from_this());
        } else
            return refuse(kBannerUsage);
        m_say("ok");
        return true;
    }
    if (args.size() != 2) return refuse(kBannerUsage);
    const std::string& value = args[1].text;
    if (sub == "refresh") {
        double seconds;
        if (!dk::tools::parseDouble(value, seconds)) return refuse("usage: banner refresh S");
        last.setRefreshTime(seconds);
    } else if (sub == "space") {
        last.setAdSpaceName(value);
    } else if (sub == "testing") {
        if (value != "on" && value != "off") return refuse("usage: banner testing on|off");
        last.setTestingMode(value == "on");
    } else {
        return refuse(kBannerUsage);
    }
    m_say("ok");
    return true;
}

bool BannerCommands::create(const OrbadAdViewClass& cls, const std::vector<Arg>& args) {
    double x = 0, y = 0;
    if ((args.size() != 1 && args.size() != 3) ||
        (args.size() == 3 &&
         (!dk::tools::parseDouble(args[1].text, x) || !dk::tools::parseDouble(args[2].text, y))))
        return refuse("usage: banner CLASS [X Y]");
    application();
    std::shared_ptr<OrbadAdView> view = args.size() == 3 ? cls.makeWithFrame({x, y, 1, 1}) : cls.make();
    view->setDelegate(this);
    m_root->view()->addSubview(view);
    m_banners.push_back(view);
    m_say(std::string("banner ") + cls.name + " " + rect(view->frame()));
    return true;
}

bool BannerCommands::delegateOptions(const std::vector<Arg>& args) {
    constexpr const char* kUsage =
        "usage: banner delegate [autoplay=yes|no] [rmuser=yes|no] [keywords=TEXT] [query=TEXT] [ip=TEXT] "
        "[adurl=TEXT|empty|nil] [creative=TEXT] [pause-on-load] [faildetail] [handle=yes|no] [receive] "
        "[key=TEXT]";
    Options options;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& text = args[i].text;
        const size_t eq = text.find('=');
        const std::string key = text.substr(0, eq);
        const std::string value = eq == std::string::npos ? "" : text.substr(eq + 1);
        if (eq == std::string::npos) {
            if (key == "pause-on-load")
                options.pauseOnLoad = true;
            else if (key == "faildetail")
                options.answered.insert(Op::adViewDidFailLoad);
            else if (key == "receive")
                options.answered.insert(Op::adViewDidReceiveSuballocationRequest);
            else
                return refuse(kUsage);
            continue;
        }
        if (key == "autoplay" || key == "rmuser") {
            const std::optional<bool> on = yesNo(value);
            if (!on) return refuse(kUsage);
            (key == "autoplay" ? options.autoplay : options.richMediaUser) = *on;
            options.answered.insert(key == "autoplay" ? Op::adViewCanAutoplay
                                                      : Op::richMediaRequiresUserInteraction);
        } else if (key == "handle") {
            const std::optional<bool> on = yesNo(value);
            if (!on) return refuse(kUsage);
            options.handle = *on;
            options.answered.insert(Op::adViewShouldHandleSuballocationRequest);
        } else if (key == "key") {
            options.publisherKey = value;
            options.answered.insert(Op::adViewPublisherKeyForSuballocationRequest);
        } else if (key == "keywords") {
            options.keywords = value;
            options.answered.insert(Op::obKeywords);
        } else if (key == "query") {
            options.query = value;
            options.answered.insert(Op::query);
        } else if (key == "ip") {
            options.ip = value;
            options.answered.insert({Op::changeAdURL, Op::getOverrideIPAddress});
        } else if (key == "adurl") {
            if (value == "empty")
                options.adURL = "";
            else if (value != "nil")
                options.adURL = value;
            options.answered.insert(Op::requestedAdUrlForAdView);
        } else if (key == "creative") {
            options.creative = value;
            options.answered.insert(Op::requestedCreativeForAdView);
        } else {
            return refuse(kUsage);
        }
    }
    m_options = std::move(options);
    // Set again, so that each engine probes its request hooks anew.
    for (const auto& banner : m_banners) banner->setDelegate(this);
    m_say("ok");
    return true;
}

bool BannerCommands::tap(Call& call) {

    const std::vector<dk::tools::Arg>& args = call.args;
    double x, y;
    if (args.size() != 2 || !dk::tools::parseDouble(args[0].text, x) || !dk::tools::parseDouble(args[1].text, y))
        return refuse("usage: tap X Y");
    plat::ui::Application& app = application();
    const int finger = m_nextFinger++;
    using plat::ui::TouchPhase;
    if (!app.injectTouches({{TouchPhase::Began, finger, plat::ui::Point{x, y}}}) ||
        !app.injectTouches({{TouchPhase::Ended, finger, std::nullopt}}))
        return refuse("tap not taken");
    m_say("ok");
    return true;
}

std::shared_ptr<orbad::OBBrowserViewController> BannerCommands::lastBrowser() const {
    if (m_banners.empty() || !m_banners.back()->adView()) return nullptr;
    return m_banners.back()->adView()->lastBrowser();
}

bool BannerCommands::browser(Call& call) {

    const std::vector<dk::tools::Arg>& args = call.args;
    constexpr const char* kUsage = "usage: browser URL [STYLE] | nav URL [click] | done | actions";
    if (args.empty()) return refuse(kUsage);
    const std::string& sub = args[0].text;
    const bool verb = !args[0].quoted && (sub == "nav" || sub == "done" || sub == "actions");
    if (!verb) {
        long long style = 0;
        if (args.size() > 2 || (args.size() == 2 && !dk::tools::parseInt(args[1].text, style))) return refuse(kUsage);
        if (m_banners.empty() || !m_banners.back()->adView()) return refuse("no banner");
        m_banners.back()->adView()->openURLInBrowser(sub, int(style));
        auto opened = lastBrowser();
        // The presentation's own line says it was.
        if (!opened || !opened->presentingViewController()) return refuse("browser not presented");
        return true;
    }
    auto browser = lastBrowser();
    if (!browser) return refuse("no browser");
    if (sub == "nav" && (args.size() == 2 || (args.size() == 3 && args[2].text == "click"))) {
        plat::web::FakeWebEngine* fake = plat::web::FakeWebEngine::of(*browser->webView());
        if (!fake) return refuse("browser nav needs --web fake");
        fake->injectNavigation(args[1].text, args.size() == 3 ? plat::ui::WebNavigationType::LinkClicked
                                                              : plat::ui::WebNavigationType::Other);
        plat::foundation::RunLoop::main().runFor(0.05);
        m_say("browser url=" + escape(browser->webView()->currentURL()) + " request=" +
              escape(browser->requestURL()));
        return true;
    }
    if (args.size() != 1) return refuse(kUsage);
    if (sub == "done") {
        browser->done();
        m_say("ok");
    } else if (sub == "actions") {
        browser->showActions();
        const auto& sheet = browser->actionSheet();
        if (sheet && sheet->isVisible()) {
            std::string line = "sheet show ";
            for (size_t i = 0; i < sheet->buttonTitles().size(); ++i)
                line += (i ? "," : "") + escape(sheet->buttonTitles()[i]);
            m_say(line);
        } else {
            m_say("sheet hidden");
        }
    } else {
        return refuse(kUsage);
    }
    return true;
}

bool BannerCommands::pressSheet(Call& call) {

    const std::vector<dk::tools::Arg>& args = call.args;
    long long index = 0;
    if (args.size() != 2 || args[0].text != "press" || !dk::tools::parseInt(args[1].text, index))
        return refuse("usage: sheet press N");
    plat::ui::ActionSheet* sheet = plat::ui::ActionSheet::onScreen();
    if (!sheet) return refuse("no sheet");
    if (!sheet->pressButton(int(index))) return refuse("no such button");
    m_say("ok");
    return true;
}

// ---- the delegate ----

bool BannerCommands::answers(Op op) const {
    switch (op) {
        case Op::adViewDidFinishLoad:
        case Op::adViewDidFailLoadWithError:
        case Op::adViewWillTouchThrough:
        case Op::adViewDidFinishTouchThrough:
        case Op::adViewDidTouchCustomAdWithString:
            return true;
        default:
            return m_options.answered.count(op) > 0;
    }
}

void BannerCommands::adViewDidFinishLoad(OrbadAdView* view) {
    m_say("delegate adViewDidFinishLoad");
    if (m_options.pauseOnLoad && view) view->pauseAdAutoRefresh();
}

void BannerCommands::adViewDidFailLoadWithError(OrbadAdView*, const plat::foundation::Error& error) {
    m_say("delegate adView:didFailLoadWithError: " + std::to_string(error.code) + " " +
          escape(error.message));
}

bool BannerCommands::adViewCanAutoplay(OrbadAdView*) {
    m_say("delegate adViewCanAutoplay");
    return m_options.autoplay;
}

bool BannerCommands::richMediaRequiresUserInteraction(OrbadAdView*) {
    m_say("delegate richMediaRequiresUserInteraction");
    return m_options.richMediaUser;
}

bool BannerCommands::adViewShouldHandleSuballocationRequest(OrbadAdView*, int code) {
    m_say("delegate adView:shouldHandleSuballocationRequest: " + std::to_string(code));
    return m_options.handle;
}

void BannerCommands::adViewDidReceiveSuballocationRequest(OrbadAdView*, int code) {
    m_say("delegate adView:didReceiveSuballocationRequest: " + std::to_string(code));
}

std::optional<std::string> BannerCommands::adViewPublisherKeyForSuballocationRequest(OrbadAdView*, int code) {
    m_say("delegate adView:publisherKeyForSuballocationRequest: " + std::to_string(code));
    return m_options.publisherKey;
}

void BannerCommands::adViewWillTouchThrough(OrbadAdView*) {
    m_say("delegate adViewWillTouchThrough");
}

void BannerCommands::adViewDidFinishTouchThrough(OrbadAdView*) {
    m_say("delegate adViewDidFinishTouchThrough");
}

void BannerCommands::adViewDidTouchCustomAdWithString(OrbadAdView*, const std::string& text) {
    m_say("delegate adView:didTouchCustomAdWithString: " + escape(text));
}

std::optional<std::string> BannerCommands::obKeywords() {
    m_say("delegate obKeywords");
    return m_options.keywords;
}

std::optional<std::string> BannerCommands::query() {
    m_say("delegate query");
    return m_options.query;
}

void BannerCommands::adViewDidFailLoad(OrbadAdView*) {
    m_say("delegate adViewDidFailLoad");
}

std::optional<std::string> BannerCommands::getOverrideIPAddress() {
    m_say("delegate getOverrideIPAddress");
    return m_options.ip;
}

std::optional<std::string> BannerCommands::requestedAdUrlForAdView(OrbadAdView*) {
    m_say("delegate requestedAdUrlForAdView");
    return m_options.adURL;
}

std::optional<std::string> BannerCommands::requestedCreativeForAdView(OrbadAdView*) {
    m_say("delegate requestedCreativeForAdView");
    return m_options.creative;
}

}  // namespace dk::tools::orbadcli
