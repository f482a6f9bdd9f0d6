#include "apps/dk-kiosk-cli/ContentCommands.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <sstream>

#include "kiosk/content/KSNotificationView.h"
#include "kiosk/content/KSPublisherContentRequest.h"
#include "kiosk/content/KSPurchase.h"

namespace dk::tools::kioskcli {

namespace {

using dk::tools::Arg;
using dk::tools::Call;
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

const std::vector<dk::tools::AreaCommand<ContentCommands>>& ContentCommands::commands() {
    static const std::vector<dk::tools::AreaCommand<ContentCommands>> table = {
        {"content",
         {"content request PLACEMENT TOKEN SECRET | content send|preload|cancel PLACEMENT",
          "content state PLACEMENT | content overlay-now PLACEMENT 0|1 | content animated PLACEMENT 0|1",
          "content omit OP[,OP...]"},
         &ContentCommands::content},
        {"close-button", {"close-button"}, &ContentCommands::closeButton},
        {"purchase", {"purchase resolve CODE"}, &ContentCommands::purchase},
        {"badge", {"badge make TOKEN SECRET PLACEMENT | badge refresh|clear|test | badge size"}, &ContentCommands::badge},
    };
    return table;
}

bool ContentCommands::refuse(const std::string& why) const {
    m_state->say("error " + why);
    return false;
}

bool ContentCommands::done(const std::string& line) const {
    m_state->say(line);
    return true;
}

namespace {

constexpr const char* kContentUsage = "usage: content request|send|preload|cancel|state|overlay-now|animated|omit ...";

// A flag argument: "0" or "1".
bool isFlag(const Arg& arg) {
    return arg.text == "0" || arg.text == "1";
}

}  // namespace

// Each sub-command with its count of arguments; those on a request find it by its placement first.
bool ContentCommands::content(Call& call) {
    using Request = std::shared_ptr<KSPublisherContentRequest>;
    struct Step {
        std::string_view sub;
        std::size_t argCount;
        bool onRequest;
        bool (ContentCommands::*run)(const std::vector<Arg>& args, const Request& request);
    };
    static const Step kSteps[] = {
        {"request", 4, false, &ContentCommands::request},
        {"omit", 2, false, &ContentCommands::omit},
        {"send", 2, true, &ContentCommands::send},
        {"preload", 2, true, &ContentCommands::send},
        {"cancel", 2, true, &ContentCommands::send},
        {"state", 2, true, &ContentCommands::state},
        {"overlay-now", 3, true, &ContentCommands::setFlag},
        {"animated", 3, true, &ContentCommands::setFlag},
    };
    const std::vector<Arg>& args = call.args;
    const std::string sub = args.empty() ? "" : args[0].text;
    const auto step = std::find_if(std::begin(kSteps), std::end(kSteps),
                                   [&](const Step& s) { return s.sub == sub && s.argCount == args.size(); });
    const bool found = step != std::end(kSteps);
    if (found && !step->onRequest) return (this->*step->run)(args, nullptr);
    if (args.size() < 2) return refuse(kContentUsage);
    Request request = m_state->find(args[1].text);
    if (!request) return refuse("no request for " + args[1].text);
    if (!found) return refuse(kContentUsage);
    return (this->*step->run)(args, request);
}

bool ContentCommands::request(const std::vector<Arg>& args, const std::shared_ptr<KSPublisherContentRequest>&) {
    State& s = *m_state;
    bool reused = KSPublisherContentRequest::existingRequestForApp(args[2].text, args[3].text, args[1].text) != nullptr;
    auto request = KSPublisherContentRequest::requestForApp(args[2].text, args[3].text, args[1].text, &s);
    s.requests[args[1].text] = request;
    s.latest = request;
    return done(reused ? "reused" : "new");
}

bool ContentCommands::omit(const std::vector<Arg>& args, const std::shared_ptr<KSPublisherContentRequest>&) {
    unsigned bits = D::kAll & ~(D::kBorderColor | D::kCloseButtonImage);
    if (args[1].text != "none") {
        std::istringstream in(args[1].text);
        for (std::string op; std::getline(in, op, ',');) {
            auto at = std::find_if(std::begin(kSelectors), std::end(kSelectors), [&](auto& e) { return op == e.first; });
            if (at == std::end(kSelectors)) return refuse("unknown delegate operation: " + op);
            bits &= ~at->second;
        }
    }
    m_state->bits = bits;
    return done();
}

bool ContentCommands::send(const std::vector<Arg>& args, const std::shared_ptr<KSPublisherContentRequest>& request) {
    m_state->latest = request;
    if (args[0].text == "send")
        request->send();
    else if (args[0].text == "preload")
        request->preload();
    else
        request->cancel();
    return done();
}

bool ContentCommands::state(const std::vector<Arg>&, const std::shared_ptr<KSPublisherContentRequest>& request) {
    return done(std::to_string(request->state()));
}

bool ContentCommands::setFlag(const std::vector<Arg>& args, const std::shared_ptr<KSPublisherContentRequest>& request) {
    if (!isFlag(args[2])) return refuse(kContentUsage);
    if (args[0].text == "animated")
        request->setAnimated(args[2].text == "1");
    else
        request->setShowsOverlayImmediately(args[2].text == "1");
    return done();
}

bool ContentCommands::closeButton(Call& call) {
    if (!call.args.empty()) return refuse("usage: close-button");
    auto request = m_state->latest.lock();
    if (!request || request->state() == KSPublisherContentRequest::kDone || !request->closeButton()->superview())
        return done("none");
    if (request->closeButton()->isHidden()) return done("hidden");
    done("tapped");
    request->closeButton()->sendActions();
    return true;
}

bool ContentCommands::purchase(Call& call) {
    const std::vector<Arg>& args = call.args;
    long long code;
    if (args.size() != 2 || args[0].text != "resolve" || !dk::tools::parseInt(args[1].text, code))
        return refuse("usage: purchase resolve CODE");
    if (!m_state->lastPurchase) return done("none");
    m_state->lastPurchase->reportResolution(static_cast<int>(code));
    return done();
}

bool ContentCommands::badge(Call& call) {
    const std::vector<Arg>& args = call.args;
    State& s = *m_state;
    const std::string sub = args.empty() ? "" : args[0].text;
    if (sub == "make" && args.size() == 4) {
        s.badge = KSNotificationView::make(args[1].text, args[2].text, args[3].text);
        s.badge->setFrame({100, 100, 0, 0});
        return done();
    }
    constexpr const char* kUsage = "usage: badge make|refresh|clear|test|size";
    if (args.size() != 1) return refuse(kUsage);
    if (!s.badge) return refuse("no badge");
    if (sub == "size") {
        const auto& f = s.badge->frame();
        return done(number(f.width) + " " + number(f.height) + " " + number(f.x + f.width / 2) + " " +
                    number(f.y + f.height / 2));
    }
    static const std::pair<std::string_view, void (KSNotificationView::*)()> kActions[] = {
        {"refresh", &KSNotificationView::refresh}, {"clear", &KSNotificationView::clear}, {"test", &KSNotificationView::test}};
    for (const auto& [name, action] : kActions) {
        if (sub != name) continue;
        ((*s.badge).*action)();
        return done();
    }
    return refuse(kUsage);
}

}  // namespace dk::tools::kioskcli
