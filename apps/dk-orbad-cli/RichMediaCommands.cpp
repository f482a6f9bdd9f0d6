#include "apps/dk-orbad-cli/RichMediaCommands.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

#include "orbad/ads/OBBannerHost.h"
#include "orbad/ads/OrbadFullScreenWebAdView.h"
#include "orbad/ads/OrbadRichMediaURLParser.h"
#include "orbad/ads/OrbadRichMediaWebAdView.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "platform/sys/Device.h"
#include "platform/ui/Application.h"
#include "platform/ui/Window.h"
#include "platform/web/FakeWebEngine.h"
#include "platform/web/WPEWebEngine.h"

namespace dk::tools::orbadcli {

namespace {

using dk::tools::escape;
using plat::foundation::RunLoop;

void say(const std::string& line) {
    std::fprintf(stdout, "%s\n", line.c_str());
    std::fflush(stdout);
}

bool refuse(const std::string& why) {
    say("error " + why);
    return false;
}

// The page's frames under its main one, at any depth (a frame's count and frames are readable
// whatever its origin). Reading a frame's window first sets up its scripts: on a page full of
// frames the count takes a good part of a second, and on a loaded machine more than a synchronous
// evaluation waits, so it is asked asynchronously and waited for 10 s at most (none counted past
// that, as from a page that does not answer).
int pageFrameCount(plat::ui::WebView& view) {
    auto answer = std::make_shared<std::optional<std::string>>();
    view.evaluateJavaScript("(function count(w) { var n = w.length; for (var i = 0; i < w.length; i++) "
                            "n += count(w[i]); return n; })(window)",
                            [answer](const std::string& result) { *answer = result; });
    const double start = plat::foundation::Clock::monotonicSeconds();
    while (!*answer && plat::foundation::Clock::monotonicSeconds() - start < 10)
        RunLoop::main().runOnce(0.05);
    return std::atoi(answer->value_or("").c_str());
}

std::string metaScript(const std::string& name, const char* tail) {
    return "document.querySelectorAll('meta[name=" + name + "]')[0]" + tail;
}

}  // namespace

RichMediaCommands::RichMediaCommands(bool realEngine) : m_real(realEngine) {
    plat::ui::WebView::setObserver(this);
    // The engines' own views, as they make them, become the views these commands act on.
    orbad::registerCreativeClass("OrbadRichMediaWebAdView", [this](const plat::ui::Rect& frame) {
        auto view = std::make_shared<orbad::OrbadRichMediaWebAdView>(frame);
        setView(view);
        return view;
    });
    orbad::registerCreativeClass("OrbadFullScreenWebAdView", [this](const plat::ui::Rect& frame) {
        auto view = std::make_shared<orbad::OrbadFullScreenWebAdView>(frame);
        setView(view);
        return view;
    });
}

RichMediaCommands::~RichMediaCommands() {
    orbad::registerCreativeClass("OrbadRichMediaWebAdView", {});
    orbad::registerCreativeClass("OrbadFullScreenWebAdView", {});
    plat::ui::WebView::setObserver(nullptr);
}

void RichMediaCommands::setView(const std::shared_ptr<orbad::OrbadRichMediaWebAdView>& view) {
    std::erase_if(m_views, [](const auto& weak) { return weak.expired(); });
    m_views.push_back(view);
    if (m_hook) m_hook(view);
}

std::shared_ptr<orbad::OrbadRichMediaWebAdView> RichMediaCommands::view() {
    std::shared_ptr<orbad::OrbadRichMediaWebAdView> alive;
    for (auto it = m_views.rbegin(); it != m_views.rend(); ++it) {
        auto view = it->lock();
        if (!view) continue;
        if (view->window()) return view;
        if (!alive) alive = view;
    }
    return alive;
}

void RichMediaCommands::webViewDecided(plat::ui::WebView&, const plat::ui::WebRequest& request,
                                       plat::ui::WebNavigationType, bool allowed) {
    // Kept for the next `web nav` or `web wait`; a page that navigates unwatched for ever is
    // remembered only so far back.
    if (m_decisions.size() >= 256) m_decisions.erase(m_decisions.begin());
    m_decisions.push_back({request.url, allowed});
}

void RichMediaCommands::webViewEvaluates(plat::ui::WebView&, const std::string& script) {
    say("js " + escape(script));
}

void RichMediaCommands::webViewSetsStartScript(plat::ui::WebView&, const std::string& script) {
    say("start-js " + escape(script));
}

const std::vector<dk::tools::AreaCommand<RichMediaCommands>>& RichMediaCommands::commands() {
    static const std::vector<dk::tools::AreaCommand<RichMediaCommands>> table = {
        {"web", {"web nav URL [click] | web click | web wait TEXT | web meta NAME CONTENT [WIDTH HEIGHT]", "web answer SCRIPT RESULT | web fail"}, &RichMediaCommands::web},
        {"rotate", {"rotate N"}, &RichMediaCommands::rotate},
    };
    return table;
}

void RichMediaCommands::awaitDecision(const std::string& text, double seconds) {
    auto match = [&] {
        return std::find_if(m_decisions.begin(), m_decisions.end(),
                            [&](const Decision& d) { return d.url.find(text) != std::string::npos; });
    };
    const double start = plat::foundation::Clock::monotonicSeconds();
    while (match() == m_decisions.end() && plat::foundation::Clock::monotonicSeconds() - start < seconds)
        RunLoop::main().runOnce(0.05);
    const auto found = match();
    if (found == m_decisions.end()) return say("web none");
    say(std::string(found->allowed ? "web load " : "web refuse ") + escape(found->url));
    m_decisions.erase(m_decisions.begin(), found + 1);
}

bool RichMediaCommands::tap(orbad::OrbadRichMediaWebAdView& view, plat::ui::Point point) {
    plat::ui::Application* app = plat::ui::Application::shared();
    plat::ui::Window* window = view.window();
    if (!app || !window) return false;
    if (app->state() == plat::ui::ApplicationState::NotRunning) app->launch();
    if (app->keyWindow() != window) window->makeKeyAndVisible();
    const plat::ui::Point at = view.convertPointToView(point, nullptr);
    const int finger = m_nextFinger++;
    using plat::ui::TouchPhase;
    return app->injectTouches({{TouchPhase::Began, finger, at}}) &&
           app->injectTouches({{TouchPhase::Ended, finger, std::nullopt}});
}

bool RichMediaCommands::web(Call& call) {

    const std::vector<dk::tools::Arg>& args = call.args;
    const std::string verb = args.empty() ? "" : args[0].text;
    // The page to come may make the view: waiting needs none yet.
    if (verb == "wait" && args.size() == 2) {
        awaitDecision(args[1].text, 10);
        return true;
    }
    auto view = this->view();
    if (!view) return refuse("no rich-media creative shown");
    plat::web::FakeWebEngine* fake = plat::web::FakeWebEngine::of(*view);
    const plat::ui::Point middle{view->bounds().width / 2, view->bounds().height / 2};
    if (verb == "nav" && (args.size() == 2 || (args.size() == 3 && args[2].text == "click"))) {
        const std::string& url = args[1].text;
        const bool click = args.size() == 3;
        m_decisions.clear();
        if (fake) {
            fake->injectNavigation(url, click ? plat::ui::WebNavigationType::LinkClicked
                                              : plat::ui::WebNavigationType::Other,
                                   false);
        } else if (click) {
            // A link over the whole page, under the user's finger: the engine's own link click.
            view->stringByEvaluatingJavaScript(
                "var a = document.createElement('a'); a.id = 'dk-cli-link'; a.href = '" + orbad::orbadJSQuoted(url) +
                "'; a.style.cssText = 'position:fixed;left:0;top:0;width:100%;height:100%;z-index:2147483647;"
                "display:block'; document.body.appendChild(a);");
            if (!tap(*view, middle)) return refuse("tap not taken");
        } else {
            // A frame past the engine's limit would never load: no decision to wait for.
            if (const int frames = pageFrameCount(*view); frames >= plat::web::kWPEPageFrameLimit) {
                say("web none: the page holds " + std::to_string(frames) +
                    " frames, as many as the page engine loads");
                return true;
            }
            // Hidden: a frame left on the page would take the taps of later commands.
            view->stringByEvaluatingJavaScript("var f = document.createElement('iframe'); f.style.display = 'none'; "
                                               "f.src = '" + orbad::orbadJSQuoted(url) +
                                               "'; document.body.appendChild(f);");
        }
        awaitDecision("", 5);
        RunLoop::main().runFor(0.05);
        if (!fake && click)
            view->stringByEvaluatingJavaScript("var a = document.getElementById('dk-cli-link'); if (a) a.remove();");
        return true;
    }
    if (verb == "click" && args.size() == 1) {
        if (!tap(*view, middle)) return refuse("tap not taken");
        say("ok");
        return true;
    }
    if (verb == "meta" && (args.size() == 3 || args.size() == 5)) {
        const std::string& name = args[1].text;
        const std::string& content = args[2].text;
        if (fake) {
            fake->answer(metaScript(name, ".content"), content);
            fake->answer(metaScript(name, ".getAttribute('width')"), args.size() == 5 ? args[3].text : "");
            fake->answer(metaScript(name, ".getAttribute('height')"), args.size() == 5 ? args[4].text : "");
        } else {
            std::string script = "var m = document.createElement('meta'); m.setAttribute('name', '" +
                                 orbad::orbadJSQuoted(name) + "'); m.setAttribute('content', '" +
                                 orbad::orbadJSQuoted(content) + "');";
            if (args.size() == 5)
                script += " m.setAttribute('width', '" + orbad::orbadJSQuoted(args[3].text) +
                          "'); m.setAttribute('height', '" + orbad::orbadJSQuoted(args[4].text) + "');";
            view->stringByEvaluatingJavaScript(script + " document.head.appendChild(m);");
        }
        say("ok");
        return true;
    }
    if (verb == "answer" && args.size() == 3) {
        if (!fake) return refuse("web answer needs --web fake");
        fake->answer(args[1].text, args[2].text);
        say("ok");
        return true;
    }
    if (verb == "fail" && args.size() == 1) {
        if (!fake) return refuse("web fail needs --web fake");
        fake->crash();
        RunLoop::main().runFor(0.1);
        say("ok");
        return true;
    }
    return refuse("usage: web nav URL [click] | web click | web wait TEXT | web meta NAME CONTENT [WIDTH HEIGHT] | "
                  "web answer SCRIPT RESULT | web fail");
}

bool RichMediaCommands::rotate(Call& call) {

    const std::vector<dk::tools::Arg>& args = call.args;
    long long orientation = 0;
    if (args.size() != 1 || !dk::tools::parseInt(args[0].text, orientation) || orientation < 1 || orientation > 4)
        return refuse("usage: rotate N (1-4)");
    plat::sys::Device& device = plat::sys::Device::current();
    const int before = device.orientation();
    device.setOrientation(int(orientation));
    if (auto view = this->view()) view->didRotateFromInterfaceOrientation(before);
    say("ok");
    return true;
}

}  // namespace dk::tools::orbadcli
