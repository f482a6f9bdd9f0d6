#include "apps/dk-kiosk-cli/ContentCommands.h"

#include <cstdio>
#include <map>
#include <set>
#include <sstream>

#include "kiosk/content/KSNotificationView.h"
#include "kiosk/content/KSPublisherContentRequest.h"
#include "kiosk/content/KSPurchase.h"

namespace dk::tools::kioskcli {

namespace {

using dk::tools::escape;
using D = KSPublisherContentRequestDelegate;

const std::pair<const char*, unsigned> kSelectors[] = {
    {"requestWillGetContent:", D::kWillGetContent},
    {"requestDidFinishLoading:", D::kDidFinishLoading},
    {"requestDidGetContent:", D::kDidGetContent},
    {"request:contentWillDisplay:", D::kContentWillDisplay},
    {"request:contentDidDisplay:", D::kContentDidDisplay},
    {"request:contentDidDismissWithType:", D::kContentDidDismissWithType},
    {"requestContentDidDismiss:", D::kContentDidDismiss},
    {"request:didFailWithError:", D::kDidFail},
    {"request:contentDidFailWithError:", D::kContentDidFail},
    {"request:unlockedReward:", D::kUnlockedReward},
    {"request:makePurchase:", D::kMakePurchase},
    {"request:borderColorForContent:", D::kBorderColor},
    {"request:closeButtonImageForControlState:content:", D::kCloseButtonImage},
};

std::string errorText(const plat::foundation::Error& e) {
    return e.domain + " " + std::to_string(e.code) + " " + escape(e.message);
}

std::string number(double v) {
    char out[32];
    std::snprintf(out, sizeof out, "%g", v);
    return out;
}

}  // namespace

struct ContentCommands::State : KSPublisherContentRequestDelegate {
    std::function<void(const std::string&)> say;
    unsigned bits = kAll & ~(kBorderColor | kCloseButtonImage);
    std::map<std::string, std::shared_ptr<KSPublisherContentRequest>> requests;
    std::weak_ptr<KSPublisherContentRequest> latest;
    std::shared_ptr<KSPurchase> lastPurchase;
    std::shared_ptr<KSNotificationView> badge;

    void tell(const char* selector, KSPublisherContentRequest& r, const std::string& args = {}) {
        say(std::string("delegate ") + selector + " " + escape(r.placement()) +
            (args.empty() ? "" : " " + args));
    }
    unsigned responds() const override { return bits; }
    void requestWillGetContent(KSPublisherContentRequest& r) override { tell("requestWillGetContent:", r); }
    void requestDidFinishLoading(KSPublisherContentRequest& r) override {
        tell("requestDidFinishLoading:", r);
    }
    void requestDidGetContent(KSPublisherContentRequest& r) override { tell("requestDidGetContent:", r); }
    void requestContentWillDisplay(KSPublisherContentRequest& r, const KSContent&) override {
        tell("request:contentWillDisplay:", r);
    }
    void requestContentDidDisplay(KSPublisherContentRequest& r, const KSContent&) override {
        tell("request:contentDidDisplay:", r);
    }
    void requestContentDidDismissWithType(KSPublisherContentRequest& r, const std::string& type) override {
        tell("request:contentDidDismissWithType:", r, type);
    }
    void requestContentDidDismiss(KSPublisherContentRequest& r) override {
        tell("requestContentDidDismiss:", r);
    }
    void requestDidFailWithError(KSPublisherContentRequest& r, const plat::foundation::Error& e) override {
        tell("request:didFailWithError:", r, errorText(e));
    }
    void requestContentDidFailWithError(KSPublisherContentRequest& r,
                                        const plat::foundation::Error& e) override {
        tell("request:contentDidFailWithError:", r, errorText(e));
    }
    void requestUnlockedReward(KSPublisherContentRequest& r, const KSReward& reward) override {
        tell("request:unlockedReward:", r,
             escape(reward.name) + " " + std::to_string(reward.quantity) + " " + escape(reward.receipt));
    }
    void requestMakePurchase(KSPublisherContentRequest& r, std::shared_ptr<KSPurchase> p) override {
        auto text = [](const std::optional<std::string>& t) { return escape(t.value_or("(null)")); };
        tell("request:makePurchase:", r,
             text(p->productIdentifier) + " " + text(p->name) + " " + std::to_string(p->quantity) + " " +
                 text(p->receipt) + " " + text(p->callback));
        lastPurchase = std::move(p);
    }

    std::shared_ptr<KSPublisherContentRequest> find(const std::string& placement) {
        auto at = requests.find(placement);
        return at == requests.end() ? nullptr : at->second;
    }
};

ContentCommands::ContentCommands(std::function<void(const std::string&)> say)
    : m_state(std::make_unique<State>()) {
    m_state->say = std::move(say);
}

ContentCommands::~ContentCommands() {
    for (auto& [placement, request] : m_state->requests)
        if (request->contentDelegate() == m_state.get()) request->setContentDelegate(nullptr);
}

bool ContentCommands::handles(const std::string& name, const std::vector<dk::tools::Arg>& args, bool& ok) {
    State& s = *m_state;
    auto refuse = [&](const std::string& why) {
        s.say("error " + why);
        ok = false;
        return true;
    };
    auto done = [&](const std::string& line = "ok") {
        s.say(line);
        ok = true;
        return true;
    };
    const std::string sub = args.empty() ? "" : args[0].text;
    if (name == "content") {
        if (sub == "request" && args.size() == 4) {
            bool reused = KSPublisherContentRequest::existingRequestForApp(args[2].text, args[3].text,
                                                                           args[1].text) != nullptr;
            auto request =
                KSPublisherContentRequest::requestForApp(args[2].text, args[3].text, args[1].text, &s);
            s.requests[args[1].text] = request;
            s.latest = request;
            return done(reused ? "reused" : "new");
        }
        if (sub == "omit" && args.size() == 2) {
            unsigned bits = D::kAll & ~(D::kBorderColor | D::kCloseButtonImage);
            if (args[1].text != "none") {
                std::istringstream in(args[1].text);
                for (std::string op; std::getline(in, op, ',');) {
                    auto at = std::find_if(std::begin(kSelectors), std::end(kSelectors),
                                           [&](auto& e) { return op == e.first; });
                    if (at == std::end(kSelectors)) return refuse("unknown delegate operation: " + op);
                    bits &= ~at->second;
                }
            }
            s.bits = bits;
            return done();
        }
        if (args.size() < 2)
            return refuse("usage: content request|send|preload|cancel|state|overlay-now|animated|omit ...");
        std::shared_ptr<KSPublisherContentRequest> request = s.find(args[1].text);
        if (!request) return refuse("no request for " + args[1].text);
        if (args.size() == 2 && (sub == "send" || sub == "preload" || sub == "cancel")) {
            s.latest = request;
            if (sub == "send")
                request->send();
            else if (sub == "preload")
                request->preload();
            else
                request->cancel();
            return done();
        }
        if (sub == "state" && args.size() == 2) return done(std::to_string(request->state()));
        if ((sub == "overlay-now" || sub == "animated") && args.size() == 3 &&
            (args[2].text == "0" || args[2].text == "1")) {
            if (sub == "animated")
                request->setAnimated(args[2].text == "1");
            else
                request->setShowsOverlayImmediately(args[2].text == "1");
            return done();
        }
        return refuse("usage: content request|send|preload|cancel|state|overlay-now|animated|omit ...");
    }
    if (name == "close-button") {
        if (!args.empty()) return refuse("usage: close-button");
        auto request = s.latest.lock();
        if (!request || request->state() == KSPublisherContentRequest::kDone ||
            !request->closeButton()->superview())
            return done("none");
        if (request->closeButton()->isHidden()) return done("hidden");
        s.say("tapped");
        ok = true;
        request->closeButton()->sendActions();
        return true;
    }
    if (name == "purchase") {
        long long code;
        if (args.size() != 2 || sub != "resolve" || !dk::tools::parseInt(args[1].text, code))
            return refuse("usage: purchase resolve CODE");
        if (!s.lastPurchase) return done("none");
        s.lastPurchase->reportResolution(static_cast<int>(code));
        return done();
    }
    if (name == "badge") {
        if (sub == "make" && args.size() == 4) {
            s.badge = KSNotificationView::make(args[1].text, args[2].text, args[3].text);
            s.badge->setFrame({100, 100, 0, 0});
            return done();
        }
        if (args.size() != 1) return refuse("usage: badge make|refresh|clear|test|size");
        if (!s.badge) return refuse("no badge");
        if (sub == "refresh")
            s.badge->refresh();
        else if (sub == "clear")
            s.badge->clear();
        else if (sub == "test")
            s.badge->test();
        else if (sub == "size") {
            const auto& f = s.badge->frame();
            return done(number(f.width) + " " + number(f.height) + " " + number(f.x + f.width / 2) + " " +
                        number(f.y + f.height / 2));
        } else {
            return refuse("usage: badge make|refresh|clear|test|size");
        }
        return done();
    }
    return false;
}

}  // namespace dk::tools::kioskcli
