#include "apps/dk-kiosk-cli/UnitCommands.h"

#include <algorithm>
#include <charconv>

#include "kiosk/KSContent.h"
#include "kiosk/KSJsonParser.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/host/HeadlessScreen.h"
#include "platform/sys/Device.h"
#include "platform/ui/Application.h"
#include "platform/ui/Compositor.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"

namespace dk::tools::kioskcli {

using dk::tools::Arg;
using dk::tools::escape;
using plat::ui::Rect;

std::string shortest(double value) {
    if (value == 0) return "0";
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

namespace {

std::string rect(const Rect& r) {
    return shortest(r.x) + "," + shortest(r.y) + "," + shortest(r.width) + "," + shortest(r.height);
}

// "0" or "1" at `index`, else `fallback`; nullopt for any other word.
std::optional<bool> flag(const std::vector<Arg>& args, std::size_t index, bool fallback) {
    if (index >= args.size()) return fallback;
    if (args[index].quoted || (args[index].text != "0" && args[index].text != "1")) return std::nullopt;
    return args[index].text == "1";
}

// The tool's application, as the player's delegate makes it: a key window with a root controller,
// made at launch.
struct ToolApplication : plat::ui::ApplicationDelegate {
    std::shared_ptr<plat::ui::ViewController> root;
    std::shared_ptr<plat::ui::Window> window;
    void didFinishLaunching(plat::ui::Application&) override {
        root = std::make_shared<plat::ui::ViewController>();
        window = std::make_shared<plat::ui::Window>(plat::sys::Screen::main().bounds());
        window->setRootViewController(root);
        window->makeKeyAndVisible();
    }
};

}  // namespace

// The application comes first, as in the player: the device's turns and the application's
// notifications reach every client from the first command on.
UnitCommands::UnitCommands(std::function<void(const std::string&)> say) : m_say(std::move(say)) {
    plat::ui::WebView::setObserver(this);
    auto delegate = std::make_unique<ToolApplication>();
    ToolApplication& tool = *delegate;
    m_app = std::make_unique<plat::ui::Application>(std::move(delegate));
    m_app->launch();
    m_root = tool.root;
}

UnitCommands::~UnitCommands() {
    plat::ui::WebView::setObserver(nullptr);
    for (const auto& view : m_shown) view->setDelegate(nullptr);
    m_shown.clear();
    // The views and their engines go before the window and the application they stand in.
    KSContentView::clearContentViews();
    m_screen.reset();
    m_root.reset();
    m_app.reset();
}

const std::vector<dk::tools::AreaCommand<UnitCommands>>& UnitCommands::commands() {
    static const std::vector<dk::tools::AreaCommand<UnitCommands>> table = {
        {"unit", {"unit show [ANIMATED] JSON | unit dismiss [0|1] | unit eval SCRIPT | unit frames"}, &UnitCommands::unit},
        {"tap", {"tap X Y"}, &UnitCommands::tap},
        {"memory.warning", {"memory.warning"}, &UnitCommands::memoryWarning},
        {"screenshot", {"screenshot FILE.png"}, &UnitCommands::screenshot},
    };
    return table;
}

bool UnitCommands::refuse(const std::string& why) const {
    m_say("error " + why);
    return false;
}

bool UnitCommands::memoryWarning(dk::tools::Call& call) {
    if (!call.args.empty()) return refuse("usage: memory.warning");
    m_app->receiveMemoryWarning();
    m_say("ok");
    return true;
}

bool UnitCommands::unit(dk::tools::Call& call) {
    const std::vector<Arg>& args = call.args;
    const std::string sub = args.empty() || args[0].quoted ? "" : args[0].text;
    if (sub == "show" && (args.size() == 2 || args.size() == 3)) {
        const std::optional<bool> animated = args.size() == 3 ? flag(args, 1, true) : true;
        const Arg& json = args.back();
        if (!animated || !json.object) return refuse("usage: unit show [0|1] JSON");
        std::optional<KSJsonValue> value = KSJsonParser().objectWithString(json.raw);
        std::shared_ptr<KSContent> content = value && value->object() ? KSContent::contentWithDictionary(*value->object())
                                                                       : nullptr;
        if (!content) {
            m_say("nil");
            return true;
        }
        std::shared_ptr<KSContentView> view = KSContentView::dequeueContentViewInstance();
        if (!view) view = KSContentView::make(nullptr);
        view->setContent(std::move(content));
        view->setDelegate(this);
        view->setTargetView(m_root->view().get());
        m_shown.push_back(view);
        view->show(*animated);
        m_say("shown");
        return true;
    }
    const bool onTop = sub == "dismiss" || sub == "eval" || sub == "frames";
    if (onTop && m_shown.empty()) return refuse("no unit shown");
    if (!onTop) return refuse("usage: unit show [0|1] JSON | dismiss [0|1] | eval SCRIPT | frames");
    KSContentView& top = *m_shown.back();
    if (sub == "dismiss" && args.size() <= 2) {
        const std::optional<bool> animated = flag(args, 1, true);
        if (!animated) return refuse("usage: unit dismiss [0|1]");
        top.dismiss(*animated);
        m_say("ok");
        return true;
    }
    if (sub == "eval" && args.size() == 2 && args[1].quoted && !args[1].object) {
        m_say(escape(top.webView().stringByEvaluatingJavaScript(args[1].text)));
        return true;
    }
    if (sub == "frames" && args.size() == 1) {
        const plat::ui::WebView& web = top.webView();
        const plat::ui::Color& border = web.borderColor();
        m_say("view " + rect(top.frame()) + " web " + rect(web.frame()) + " border " + shortest(border.r) + "," +
              shortest(border.g) + "," + shortest(border.b) + "," + shortest(border.a) + " " +
              shortest(web.borderWidth()));
        return true;
    }
    return refuse("usage: unit show [0|1] JSON | dismiss [0|1] | eval SCRIPT | frames");
}

bool UnitCommands::tap(dk::tools::Call& call) {
    const std::vector<Arg>& args = call.args;
    double x, y;
    if (args.size() != 2 || !dk::tools::parseDouble(args[0].text, x) || !dk::tools::parseDouble(args[1].text, y)) return refuse("usage: tap X Y");
    plat::ui::Application& app = *m_app;
    const int finger = m_nextFinger++;
    using plat::ui::TouchPhase;
    if (!app.injectTouches({{TouchPhase::Began, finger, plat::ui::Point{x, y}}}) ||
        !app.injectTouches({{TouchPhase::Ended, finger, std::nullopt}})) return refuse("tap not taken");
    m_say("ok");
    return true;
}

bool UnitCommands::screenshot(dk::tools::Call& call) {
    const std::vector<Arg>& args = call.args;
    if (args.size() != 1) return refuse("usage: screenshot FILE.png");
    plat::ui::Application& app = *m_app;
    std::string error;
    if (!m_screen) {
        const plat::sys::DevicePreset& preset = plat::sys::Device::current().preset();
        m_screen = plat::host::HeadlessScreen::create(preset.width, preset.height, preset.scale, &error);
    }
    if (m_screen) {
        m_screen->setInterfaceOrientation(app.interfaceOrientation());
        if (app.compositor().composite(*m_screen) && m_screen->writeScreenshot(args[0].text, &error)) {
            m_say("ok");
            return true;
        }
    }
    return refuse("screenshot: " + (error.empty() ? std::string("nothing drawn") : error));
}

void UnitCommands::forget(KSContentView& view) {
    auto found = std::find_if(m_shown.begin(), m_shown.end(), [&](const auto& shown) { return shown.get() == &view; });
    if (found == m_shown.end()) return;
    std::shared_ptr<KSContentView> kept = *found;
    m_shown.erase(found);
    KSContentView::enqueueContentViewInstance(std::move(kept));
}

void UnitCommands::contentViewDidShow(KSContentView&) {
    m_say("delegate contentViewDidShow:");
}

void UnitCommands::contentViewDidLoad(KSContentView&) {
    m_say("delegate contentViewDidLoad:");
}

void UnitCommands::contentViewDidDismiss(KSContentView& view) {
    m_say("delegate contentViewDidDismiss:");
    forget(view);
}

void UnitCommands::contentViewDidFail(KSContentView& view, const plat::foundation::Error& error) {
    m_say("delegate contentView:didFailWithError: " + escape(error.domain) + " " + std::to_string(error.code) + " " +
          escape(error.message));
    forget(view);
}

std::optional<plat::ui::Color> UnitCommands::borderColorForContentView(KSContentView&) {
    m_say("delegate borderColorForContentView:");
    return std::nullopt;
}

void UnitCommands::webViewDecided(plat::ui::WebView&, const plat::ui::WebRequest& request,
                                  plat::ui::WebNavigationType, bool allowed) {
    m_say(std::string("nav ") + (allowed ? "allow " : "refuse ") + escape(request.url));
}

void UnitCommands::webViewEvaluates(plat::ui::WebView&, const std::string& script) {
    m_say("js " + escape(script));
}

}  // namespace dk::tools::kioskcli
