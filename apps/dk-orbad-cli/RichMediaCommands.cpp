#include "apps/dk-orbad-cli/RichMediaCommands.h"

#include <cstdio>

#include "orbad/ads/OrbadRichMediaURLParser.h"
#include "orbad/ads/OrbadRichMediaWebAdView.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "platform/sys/Device.h"
#include "platform/web/FakeWebEngine.h"

namespace dkorbad {

namespace {

using dk::cli::escape;
using plat::foundation::RunLoop;

void say(const std::string& line) {
    std::fprintf(stdout, "%s\n", line.c_str());
    std::fflush(stdout);
}

bool refuse(const std::string& why) {
    say("error " + why);
    return false;
}

std::string metaScript(const std::string& name, const char* tail) {
    return "document.querySelectorAll('meta[name=" + name + "]')[0]" + tail;
}

}  // namespace

RichMediaCommands::RichMediaCommands(bool realEngine) : m_real(realEngine) {
    plat::ui::WebView::setObserver(this);
}

RichMediaCommands::~RichMediaCommands() {
    plat::ui::WebView::setObserver(nullptr);
}

void RichMediaCommands::webViewDecided(plat::ui::WebView&, const plat::ui::WebRequest& request,
                                       plat::ui::WebNavigationType, bool allowed) {
    if (!m_watching) return;
    m_decided = true;
    say(std::string(allowed ? "web load " : "web refuse ") + escape(request.url));
}

void RichMediaCommands::webViewEvaluates(plat::ui::WebView&, const std::string& script) {
    say("js " + escape(script));
}

std::optional<bool> RichMediaCommands::run(const std::string& name, const std::vector<dk::cli::Arg>& args) {
    if (name == "web") return web(args);
    if (name == "rotate") return rotate(args);
    return std::nullopt;
}

bool RichMediaCommands::web(const std::vector<dk::cli::Arg>& args) {
    auto view = m_view.lock();
    if (!view) return refuse("no rich-media creative shown");
    const std::string verb = args.empty() ? "" : args[0].text;
    plat::web::FakeWebEngine* fake = plat::web::FakeWebEngine::of(*view);
    if (verb == "nav" && (args.size() == 2 || (args.size() == 3 && args[2].text == "click"))) {
        const std::string& url = args[1].text;
        const bool click = args.size() == 3;
        m_watching = true;
        m_decided = false;
        if (fake) {
            fake->injectNavigation(url, click ? plat::ui::WebNavigationType::LinkClicked
                                              : plat::ui::WebNavigationType::Other,
                                   false);
        } else {
            const std::string quoted = orbad::orbadJSQuoted(url);
            view->stringByEvaluatingJavaScript(
                click ? "var a = document.createElement('a'); a.href = '" + quoted +
                            "'; document.body.appendChild(a); a.click();"
                      : "var f = document.createElement('iframe'); f.src = '" + quoted +
                            "'; document.body.appendChild(f);");
        }
        const double start = plat::foundation::Clock::monotonicSeconds();
        while (!m_decided && plat::foundation::Clock::monotonicSeconds() - start < 5) RunLoop::main().runOnce(0.05);
        RunLoop::main().runFor(0.05);
        m_watching = false;
        if (!m_decided) say("web none");
        return true;
    }
    if (verb == "click" && args.size() == 1) {
        if (fake) {
            fake->answer(orbad::kOrbadPermissionsCheckScript, view->permissionsKey().value_or(""));
        } else if (auto* engine = view->engine()) {
            const plat::ui::Point centre{view->bounds().width / 2, view->bounds().height / 2};
            engine->pointer(centre, plat::ui::TouchPhase::Began);
            engine->pointer(centre, plat::ui::TouchPhase::Ended);
            RunLoop::main().runFor(0.2);
        }
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
    return refuse("usage: web nav URL [click] | web click | web meta NAME CONTENT [WIDTH HEIGHT] | "
                  "web answer SCRIPT RESULT | web fail");
}

bool RichMediaCommands::rotate(const std::vector<dk::cli::Arg>& args) {
    long long orientation = 0;
    if (args.size() != 1 || !dk::cli::parseInt(args[0].text, orientation) || orientation < 1 || orientation > 4)
        return refuse("usage: rotate N (1-4)");
    plat::sys::Device& device = plat::sys::Device::current();
    const int before = device.orientation();
    device.setOrientation(int(orientation));
    if (auto view = m_view.lock()) view->didRotateFromInterfaceOrientation(before);
    say("ok");
    return true;
}

}  // namespace dkorbad
