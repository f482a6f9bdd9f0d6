#include "orbad/tests/BannerTestSupport.h"

#include <cstdio>

#include "orbad/Orbad.h"
#include "orbad/core/OBConfig.h"
#include "orbad/core/OrbadHelper.h"
#include "orbad/core/http/OBCoreHTTPRequest.h"
#include "platform/foundation/DeviceFactsFile.h"
#include "platform/foundation/RunLoop.h"
#include "platform/net/Servers.h"
#include "platform/web/PageEngine.h"

namespace dktest {

namespace {

using orbad::OrbadAd;
using orbad::OrbadAdsView;
using orbad::OrbadAdsViewHost;

class FakeCreative : public plat::ui::View, public OrbadAdsView {
public:
    explicit FakeCreative(const char* name, const plat::ui::Rect& frame) : View(frame), m_name(name) {}
    const char* className() const override { return m_name; }
    void adHasBeenDismissed() override {}
    void adHasBeenDisplayed() override {}
    void stopLoading() override {}
    bool canBeReused() const override { return false; }
    void prepareForReuse() override {}
    plat::ui::View& adsView() override { return *this; }
    const char* adsViewClassName() const override { return m_name; }
    // Answers on the next turn, failing when the creative's "props.fail" is true; never when
    // "props.silent" is.
    void loadWithAd(std::shared_ptr<OrbadAd> ad) override {
        if (orbad::stringForKeyPath(ad->properties(), "silent") == "1") return;
        const bool fail = orbad::stringForKeyPath(ad->properties(), "fail") == "1";
        auto self = std::static_pointer_cast<FakeCreative>(shared_from_this());
        plat::foundation::RunLoop::main().perform([weak = std::weak_ptr<FakeCreative>(self), ad, fail] {
            auto view = weak.lock();
            auto host = view ? view->mainAdView() : nullptr;
            if (!host) return;
            if (fail)
                host->adsViewFailedToLoad(*view, ad, std::nullopt);
            else
                host->adsViewFinishedLoading(*view, ad);
        });
    }

private:
    const char* m_name;
};

constexpr const char* kClasses[] = {"OrbadBannerAdView", "OrbadTextAdView"};

}  // namespace

void FakeBannerHost::updated() {
    const std::set<orbad::OrbadAdViewInternal*> observers = m_observers;
    for (auto* engine : observers) engine->orbadConfigurationUpdated();
}

RecordingAdDelegate::RecordingAdDelegate()
    : answered{Op::adViewDidFinishLoad, Op::adViewDidFailLoadWithError, Op::adViewWillTouchThrough,
               Op::adViewDidFinishTouchThrough} {}

void RecordingAdDelegate::say(const std::string& what, OrbadAdView* view) {
    char time[32];
    std::snprintf(time, sizeof time, "%.1f ", plat::foundation::RunLoop::main().now() - origin);
    lines.push_back(time + what + (view ? "" : " (no view)"));
}

void RecordingAdDelegate::adViewDidFinishLoad(OrbadAdView* view) {
    say("adViewDidFinishLoad", view);
    if (pauseOnLoad && view) view->pauseAdAutoRefresh();
}

void RecordingAdDelegate::adViewDidFailLoadWithError(OrbadAdView* view,
                                                     const plat::foundation::Error& error) {
    say("adView:didFailLoadWithError: " + std::to_string(error.code) + " " + error.message, view);
}

void RecordingAdDelegate::adViewDidFailLoad(OrbadAdView* view) {
    say("adViewDidFailLoad", view);
}

bool RecordingAdDelegate::adViewShouldHandleSuballocationRequest(OrbadAdView* view, int code) {
    say("shouldHandle " + std::to_string(code), view);
    return handle;
}

void RecordingAdDelegate::adViewDidReceiveSuballocationRequest(OrbadAdView* view, int code) {
    say("didReceive " + std::to_string(code), view);
}

void RecordingAdDelegate::adViewWillTouchThrough(OrbadAdView* view) {
    say(std::string("adViewWillTouchThrough") + (host && host->modal ? " modal" : ""), view);
}

void RecordingAdDelegate::adViewDidFinishTouchThrough(OrbadAdView* view) {
    say(std::string("adViewDidFinishTouchThrough") + (host && host->modal ? " modal" : ""), view);
}

FakeCreatives::FakeCreatives() {
    for (const char* name : kClasses)
        orbad::registerCreativeClass(name, [name](const plat::ui::Rect& frame) {
            return std::make_shared<FakeCreative>(name, frame);
        });
}

FakeCreatives::~FakeCreatives() {
    for (const char* name : kClasses) orbad::registerCreativeClass(name, {});
}

std::vector<std::map<std::string, std::string>> queriesTo(const ScriptedServer& server,
                                                          const std::string& path) {
    std::vector<std::map<std::string, std::string>> out;
    for (const SeenRequest& seen : server.requests()) {
        const size_t mark = seen.path.find('?');
        if (seen.path.substr(0, mark) != path) continue;
        std::map<std::string, std::string> query;
        if (mark != std::string::npos)
            for (const auto& [key, value] : orbad::obComponentsFromQueryString(seen.path.substr(mark + 1)))
                query[key] = value.string() ? *value.string() : value.description();
        out.push_back(std::move(query));
    }
    return out;
}

std::string imageCreative(const std::string& id, const std::string& showURL, bool fail) {
    std::string entry =
        R"({"id": ")" + id + R"(", "type": "image", "props": {"fail": )" + (fail ? "1" : "0") + "}";
    if (!showURL.empty()) entry += R"(, "eventUrls": {"show": [")" + showURL + R"("]})";
    return entry + "}";
}

void endStartedClient() {
    orbad::setBannerHost(nullptr);
    Orbad::resetForTesting();
    for (const char* name : orbad::kOrbadServerNames) plat::net::setServerBaseOverride(name, "");
    plat::web::useWebEngine("none");
    orbad::OBCoreHTTPRequest::cancelAllAndWait(10);
    plat::foundation::RunLoop::main().runFor(0);
    plat::foundation::setDeviceFactsFile("");
}

}  // namespace dktest
