// What the banner engine's tests share: a started client of their own making, creatives that load
// or fail as their ad says, a delegate that writes down what it hears with the virtual time, and
// the requests the ad server saw as key -> value maps.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "orbad/OrbadAdView.h"
#include "orbad/ads/OrbadAdViewInternal.h"
#include "orbad/core/OBEnvironment.h"
#include "orbad/tests/OrbadTestSupport.h"
#include "platform/foundation/Container.h"

namespace dktest {

class FakeBannerHost : public orbad::OBBannerHost {
public:
    explicit FakeBannerHost(std::string adURL) : m_environment("APP123"), m_url(std::move(adURL)) {}
    const orbad::OBEnvironment& environment() const override { return m_environment; }
    bool inModalAd() const override {
        ++modalAsks;
        return modal;
    }
    void setInModalAd(bool on) override { modal = on; }
    bool isUpdating() const override { return updating; }
    bool adUnitEnabled(plat::ui::Size) const override { return enabled; }
    double refreshInterval(plat::ui::Size) const override { return refresh; }
    double autoplayTimeoutInterval(plat::ui::Size) const override { return 0; }
    bool autoPlayEnabled(plat::ui::Size) const override { return false; }
    bool richMediaRequiresUserInteraction(plat::ui::Size) const override { return true; }
    std::string advertisingURL() const override { return m_url; }
    void logInfo(const std::string& text) const override { logged.push_back(text); }
    void addObserver(orbad::OrbadAdViewInternal* engine) override { m_observers.insert(engine); }
    void removeObserver(orbad::OrbadAdViewInternal* engine) override { m_observers.erase(engine); }
    std::vector<std::string> nativeURLHandlers() const override { return handlers; }
    // The open-allocation list as given, tried in its order.
    std::optional<plat::foundation::Value::Array> openAllocationCandidates(plat::ui::Size) const override {
        return candidates;
    }
    std::optional<plat::foundation::Value> nextCandidate(plat::ui::Size,
                                                         const plat::foundation::Value::Array& list) const override {
        return list.empty() ? std::nullopt : std::optional(list.front());
    }
    std::optional<std::string> selectionMethod(plat::ui::Size) const override { return "priority"; }
    std::string openAllocationBaseURL() const override { return oaBase; }
    std::optional<std::string> openAllocationKey(long n, std::string_view network, plat::ui::Size) const override {
        auto it = oaKeys.find(std::string(network) + ":" + std::to_string(n));
        return it == oaKeys.end() ? std::nullopt : std::optional(it->second);
    }
    orbad::OrbadDemographicsRecord demographics() const override { return demo; }
    std::optional<plat::foundation::Date> birthday() const override { return birth; }
    // The configuration has changed: every observing engine hears it.
    void updated();

    bool modal = false, updating = false, enabled = true;
    double refresh = 30;
    mutable int modalAsks = 0;
    mutable std::vector<std::string> logged;
    std::vector<std::string> handlers;
    std::optional<plat::foundation::Value::Array> candidates;
    std::string oaBase;
    std::map<std::string, std::string> oaKeys;  // "network:n" -> key
    orbad::OrbadDemographicsRecord demo;
    std::optional<plat::foundation::Date> birth;

private:
    orbad::OBEnvironment m_environment;
    std::string m_url;
    std::set<orbad::OrbadAdViewInternal*> m_observers;
};

// Lines "T NAME [CODE DESCRIPTION]" with T the time since `origin` at one decimal. Answers what `answered`
// holds.
class RecordingAdDelegate : public OrbadAdViewDelegate {
public:
    using Op = OrbadAdViewDelegate::Op;
    RecordingAdDelegate();
    bool answers(Op op) const override { return answered.count(op) > 0; }
    void adViewDidFinishLoad(OrbadAdView* view) override;
    void adViewDidFailLoadWithError(OrbadAdView* view, const plat::foundation::Error& error) override;
    void adViewDidFailLoad(OrbadAdView* view) override;
    void adViewWillTouchThrough(OrbadAdView* view) override;
    void adViewDidFinishTouchThrough(OrbadAdView* view) override;
    std::optional<std::string> obKeywords() override { return keywords; }
    std::optional<std::string> query() override { return searchQuery; }
    std::optional<std::string> getOverrideIPAddress() override { return ip; }
    std::optional<std::string> requestedAdUrlForAdView(OrbadAdView*) override { return adURL; }
    std::optional<std::string> requestedCreativeForAdView(OrbadAdView*) override { return creative; }
    std::optional<std::string> requestedVeltiMediaURL(OrbadAdView*) override { return veltiURL; }
    // Lines "shouldHandle CODE" and "didReceive CODE"; the first answers `handle`.
    bool adViewShouldHandleSuballocationRequest(OrbadAdView* view, int code) override;
    void adViewDidReceiveSuballocationRequest(OrbadAdView* view, int code) override;
    std::optional<std::string> adViewPublisherKeyForSuballocationRequest(OrbadAdView*, int) override {
        return publisherKey;
    }

    std::set<Op> answered;
    std::optional<std::string> keywords, searchQuery, ip, adURL, creative, veltiURL;
    bool pauseOnLoad = false;
    bool handle = true;
    std::optional<std::string> publisherKey;
    FakeBannerHost* host = nullptr;  // when set, touch-through lines tell the modal flag
    std::vector<std::string> lines;
    double origin = 0;  // the time lines count from

private:
    void say(const std::string& what, OrbadAdView* view);
};

// Registers the creative classes for image and text ads: views that answer on the next turn,
// failing when the creative's "props.fail" is true, never answering when "props.silent" is.
// Removed again on destruction.
class FakeCreatives {
public:
    FakeCreatives();
    ~FakeCreatives();
};

// The ad server's requests to `path` as key -> value maps.
std::vector<std::map<std::string, std::string>> queriesTo(const ScriptedServer& server,
                                                          const std::string& path);
// One response entry: an image creative whose "show" pings `showURL` (none when empty).
std::string imageCreative(const std::string& id, const std::string& showURL = "", bool fail = false);

// Lets go of the started client (host, servers, requests in flight), the page engine and the
// device facts, for the next test.
void endStartedClient();

}  // namespace dktest
