// Touches carried out: the action controller's routing through an engine that notes what it is
// asked to open, with the ad's pings going to the recording server.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "orbad/OrbadAdViewVideoController.h"
#include "orbad/ads/OBBrowserViewController.h"
#include "orbad/ads/OrbadAdAction.h"
#include "orbad/ads/OrbadAdActionController.h"
#include "orbad/ads/OrbadAdViewInternal.h"
#include "orbad/core/http/OBCoreHTTPRequest.h"
#include "orbad/tests/BannerTestSupport.h"
#include "orbad/tests/OrbadCreativeTestSupport.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/media/tests/MediaTestSupport.h"
#include "platform/ui/Application.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"

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

    // Half a second of video.
    std::string clip() {
        const std::string path = m_dir.file("clip.nut");
        std::string error;
        EXPECT_TRUE(dktest::writeClip(path, {{{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {9, 9, 9}, {1, 1, 1}}}, &error))
            << error;
        return path;
    }
    // "T NAME" for the two video notifications, T the loop's time since `from`.
    plat::foundation::Observation noteVideo(const char* name, Lines& lines, double from) {
        return plat::foundation::NotificationCenter::defaultCenter().observe(name, nullptr, [&lines, name, from](const auto&) {
            char when[16];
            std::snprintf(when, sizeof when, "%.1f ", plat::foundation::RunLoop::main().now() - from);
            lines.push_back(when + std::string(name));
        });
    }

    dktest::TempDir m_dir;
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

// Browser actions: a preloaded URL action presents the browser it preloaded; an HTML action a new
// one with its page and style (no preloading asked).
TEST_F(ActionControllerTest, BrowserActionsPresentTheirBrowser) {
    auto preloaded = ad(R"({"type": "url", "preload": "1", "browserType": "navigation", "url": "http://a.example/p"})");
    auto& action = static_cast<orbad::OrbadAdBrowserAction&>(*preloaded->action());
    ASSERT_TRUE(action.shouldPreload());
    action.preloadAction();
    ASSERT_TRUE(action.preloadedBrowserViewController());
    dktest::turn(10.1);  // the time-out, with no page engine to answer
    ASSERT_TRUE(action.hasPreloaded());
    m_engine->openActionForAd(preloaded);
    EXPECT_EQ(m_engine->lastBrowser(), action.preloadedBrowserViewController());
    EXPECT_TRUE(m_engine->lines.empty()) << "no new browser for the URL";

    // Presented for real, so that something holds it.
    auto window = std::make_shared<plat::ui::Window>(plat::ui::Rect{0, 0, 320, 480});
    window->setRootViewController(std::shared_ptr<plat::ui::ViewController>(&m_controller, [](auto*) {}));
    window->makeKeyAndVisible();
    m_engine->openActionForAd(ad(R"({"type": "html", "html": "<p>hi</p>", "browserType": "full"})"));
    auto browser = m_engine->lastBrowser();
    ASSERT_TRUE(browser);
    EXPECT_EQ(browser->embeddedHTML(), "<p>hi</p>");
    EXPECT_EQ(browser->browserStyle(), 3);
    EXPECT_TRUE(browser->autoDismissOnResignActive());
    EXPECT_EQ(sorted(pinged()), (Lines{"/touch", "/touch"}));
}

// The phone's road: the modal mark from the touch to the movie's end, which comes also when the
// movie cannot be played at all (a mark left set would freeze every banner).
TEST_F(ActionControllerTest, PopOverVideoHoldsTheModalMarkUntilTheMovieEnds) {
    plat::foundation::Clock::process().setVirtual(true);
    for (const std::string& url : {"file://" + clip(), "file://" + m_dir.file("missing.nut"), m_pings.url("/video.mp4")}) {
        SCOPED_TRACE(url);
        const double from = plat::foundation::RunLoop::main().now();
        Lines heard;
        auto show = noteVideo(orbad::kOBVideoPlayerWillShow, heard, from);
        auto hide = noteVideo(orbad::kOBVideoPlayerDidHide, heard, from);
        m_engine->openActionForAd(ad(R"({"type": "popOverVideo", "url": ")" + url + R"("})"));
        EXPECT_TRUE(m_host->modal);
        for (int i = 0; i < 100 && heard.size() < 2; ++i) dktest::turn(0.05);
        EXPECT_FALSE(m_host->modal);
        ASSERT_EQ(heard.size(), 2u);
        EXPECT_EQ(heard[0], "0.0 kOBVideoPlayerWillShow");
        EXPECT_EQ(heard[1].substr(4), "kOBVideoPlayerDidHide");
        if (url.ends_with("clip.nut")) {
            EXPECT_EQ(heard[1], "0.5 kOBVideoPlayerDidHide");
        }
    }
    EXPECT_EQ(sorted(pinged()), (Lines{"/touch", "/touch", "/touch", "/video.mp4"}));
}

// An inline video never set the modal mark, so its end leaves another ad's mark standing; the
// full-screen one holds the mark until its end.
TEST_F(ActionControllerTest, InlineVideoLeavesTheModalMarkAlone) {
    auto host = std::make_shared<plat::ui::View>(plat::ui::Rect{0, 0, 320, 200});
    m_host->modal = true;  // a browser is up
    OrbadAdViewVideoController::playVideoURL(clip(), *host, nullptr);
    ASSERT_EQ(host->subviews().size(), 1u);
    dktest::turn(1);
    EXPECT_TRUE(m_host->modal);
    EXPECT_TRUE(host->subviews().empty()) << "the player's view goes with its end";

    m_host->modal = false;
    OrbadAdViewVideoController::presentFullScreenVideoURL(clip(), nullptr);
    EXPECT_TRUE(m_host->modal);
    dktest::turn(1);
    EXPECT_FALSE(m_host->modal);
}

}  // namespace
