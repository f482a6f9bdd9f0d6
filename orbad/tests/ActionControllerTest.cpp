// Touches carried out: the action controller's routing through an engine that notes what it is
// asked to open, with the ad's pings going to the recording server.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "orbad/ads/OrbadAdAction.h"
#include "orbad/ads/OrbadAdActionController.h"
#include "orbad/ads/OrbadAdViewInternal.h"
#include "orbad/core/http/OBCoreHTTPRequest.h"
#include "orbad/tests/BannerTestSupport.h"
#include "orbad/tests/OrbadCreativeTestSupport.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/Application.h"
#include "platform/ui/ViewController.h"

namespace {

using Lines = std::vector<std::string>;
using Op = OrbadAdViewDelegate::Op;

Lines sorted(Lines lines) {
    std::sort(lines.begin(), lines.end());
    return lines;
}

class NotingEngine : public orbad::OrbadAdViewInternal {
public:
    NotingEngine() : OrbadAdViewInternal({0, 0, 320, 50}) {}
    void openURLInBrowser(const std::string& url, int style) override {
        lines.push_back("browser " + url + " " + std::to_string(style));
    }
    Lines lines;
};

struct CustomDelegate : OrbadAdViewDelegate {
    bool answers(Op op) const override { return op == Op::adViewDidTouchCustomAdWithString; }
    void adViewDidTouchCustomAdWithString(OrbadAdView*, const std::string& text) override {
        lines->push_back("custom " + text);
    }
    Lines* lines = nullptr;
};

class ActionControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        plat::foundation::Clock::process().setVirtual(true);
        m_host = std::make_shared<dktest::FakeBannerHost>(m_pings.url("/ads"));
        m_host->refresh = 0;
        orbad::setBannerHost(m_host);
        m_engine = std::make_shared<NotingEngine>();
        m_engine->setViewController(&m_controller);
        m_delegate.lines = &m_engine->lines;
        m_engine->setDelegate(&m_delegate);
    }
    void TearDown() override {
        m_engine.reset();
        orbad::setBannerHost(nullptr);
        orbad::OBCoreHTTPRequest::cancelAllAndWait(10);
    }
    // An ad whose touch and action show ping the server, with `action` (JSON) as its action.
    std::shared_ptr<orbad::OrbadAd> ad(const std::string& action) {
        return dktest::adFrom(R"({"id": "1", "type": "image", "eventUrls": {"touch": ")" + m_pings.url("/touch") +
                              R"("}, "action": )" + action + "}");
    }
    std::string urlAction(const std::string& url) {
        return R"({"type": "url", "browserType": "full", "url": ")" + url + R"(", "eventUrls": {"show": ")" +
               m_pings.url("/show") + R"("}})";
    }
    // The paths the server saw since the last call, once the pings are done.
    Lines pinged() {
        EXPECT_TRUE(dktest::waitUntil([] { return orbad::OBCoreHTTPRequest::inFlightCount() == 0; }));
        Lines paths;
        const auto seen = m_pings.requests();
        for (size_t i = m_seen; i < seen.size(); ++i) paths.push_back(seen[i].path);
        m_seen = seen.size();
        return paths;
    }
    size_t m_seen = 0;

    dktest::ScriptedServer m_pings;
    std::shared_ptr<dktest::FakeBannerHost> m_host;
    plat::ui::ViewController m_controller;
    CustomDelegate m_delegate;
    std::shared_ptr<NotingEngine> m_engine;
};

// The prefix ends where "orbad://" ends, whatever its case; the rest is given as decoded.
TEST(CustomAdString, TextAfterThePrefix) {
    using C = orbad::OrbadAdActionController;
    EXPECT_EQ(C::customAdString("ORBAD://buy?item=3"), "buy?item=3");
    EXPECT_EQ(C::customAdString("x-Orbad://"), "");
    EXPECT_EQ(C::customAdString("http://orbad.example/"), std::nullopt);
}

TEST_F(ActionControllerTest, URLRouting) {
    struct Case {
        const char* url;
        bool opener;  // what a test opener answers
        Lines engine;
        Lines opened;
    };
    const Case cases[] = {
        {"ORBAD://buy%3Fitem%3D3", false, {"custom buy?item=3"}, {}},
        {"myapp://x", false, {"browser myapp://x 3"}, {}},
        {"myapp://x", true, {}, {"myapp://x"}},
        {"tel:123", true, {"browser tel:123 3"}, {}},
        {"HTTPS://a.example/p", true, {"browser HTTPS://a.example/p 3"}, {}},
        {"a.example/p", true, {"browser a.example/p 3"}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        plat::ui::Application app;
        app.setCanOpenURLCheck([&](std::string_view) { return c.opener; });
        m_engine->lines.clear();
        // A link the creative follows, with the style of the ad's own action.
        m_engine->openActionURL(c.url, ad(urlAction("http://a.example/action")));
        EXPECT_EQ(m_engine->lines, c.engine);
        EXPECT_EQ(app.openedURLs(), c.opened);
        EXPECT_EQ(sorted(pinged()), (Lines{"/show", "/touch"}));
    }
    m_engine->lines.clear();
    m_engine->openActionForAd(ad(urlAction("http://a.example/action")));
    EXPECT_EQ(m_engine->lines, (Lines{"browser http://a.example/action 3"}));
}

// Another ad on the screen or no controller: nothing opens, nothing pings.
TEST_F(ActionControllerTest, Guards) {
    m_host->modal = true;
    m_engine->openActionURL("http://a.example/");
    m_host->modal = false;
    m_engine->setViewController(nullptr);
    testing::internal::CaptureStdout();
    m_engine->openActionForAd(ad(urlAction("http://a.example/")));
    EXPECT_NE(testing::internal::GetCapturedStdout().find("Integration Error"), std::string::npos);
    EXPECT_TRUE(m_engine->lines.empty());
    EXPECT_TRUE(pinged().empty());
}

TEST_F(ActionControllerTest, RichMediaCallsItsOperationAndOverlayDoesNothing) {
    auto touched = ad(R"({"type": "overlay"})");
    m_engine->openActionForAd(touched);
    EXPECT_TRUE(pinged().empty());

    auto rich = ad(R"({"type": "richMedia"})");
    auto view = std::make_shared<plat::ui::View>();
    std::string heard;
    static_cast<orbad::OrbadAdRichMediaAction&>(*rich->action())
        .setRichMedia({view, "expand:", [&](const orbad::Value& v) { heard = v.string() ? *v.string() : ""; }, orbad::Value("big")});
    m_engine->openActionForAd(rich);
    EXPECT_EQ(heard, "big");
    EXPECT_EQ(pinged(), (Lines{"/touch"}));
}

}  // namespace
