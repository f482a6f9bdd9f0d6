#include "orbad/tests/BannerTestSupport.h"

#include <cstdio>

#include "orbad/core/OrbadHelper.h"
#include "platform/foundation/RunLoop.h"

namespace dktest {

namespace {

using orbad::OBBannerAd;
using orbad::OBBannerCreativeView;
using orbad::OrbadAdViewInternal;

class FakeCreative : public OBBannerCreativeView {
public:
    explicit FakeCreative(const char* name, const plat::ui::Rect& frame) : OBBannerCreativeView(frame), m_name(name) {}
    const char* className() const override { return m_name; }
    void setAdViewDelegate(OrbadAdViewDelegate*) override {}
    void setMainAdView(OrbadAdViewInternal* engine) override { m_engine = engine; }
    void adHasBeenDismissed() override {}
    void adHasBeenDisplayed() override {}
    void stopLoading() override {}
    void loadWithAd(const std::shared_ptr<OBBannerAd>& ad) override {
        const bool fail = orbad::stringForKeyPath(ad->dictionary, "creative.props.fail") == "1";
        auto self = std::static_pointer_cast<FakeCreative>(shared_from_this());
        plat::foundation::RunLoop::main().perform([weak = std::weak_ptr<FakeCreative>(self), ad, fail] {
            auto view = weak.lock();
            if (!view || !view->m_engine) return;
            if (fail)
                view->m_engine->adsViewFailedToLoad(view.get(), ad, nullptr);
            else
                view->m_engine->adsViewFinishedLoading(view.get(), ad);
        });
    }

private:
    const char* m_name;
    OrbadAdViewInternal* m_engine = nullptr;
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

void RecordingAdDelegate::adViewDidFailLoadWithError(OrbadAdView* view, const plat::foundation::Error& error) {
    say("adView:didFailLoadWithError: " + std::to_string(error.code) + " " + error.message, view);
}

void RecordingAdDelegate::adViewDidFailLoad(OrbadAdView* view) {
    say("adViewDidFailLoad", view);
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

std::vector<std::map<std::string, std::string>> queriesTo(const ScriptedServer& server, const std::string& path) {
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
    std::string entry = R"({"id": ")" + id + R"(", "type": "image", "props": {"fail": )" + (fail ? "1" : "0") + "}";
    if (!showURL.empty()) entry += R"(, "eventUrls": {"show": [")" + showURL + R"("]})";
    return entry + "}";
}

}  // namespace dktest
