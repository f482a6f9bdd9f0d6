// The interactive video screen on the virtual clock: presented by a touch, playing a clip made
// here, its toolbar of button pictures served locally, its tagline, and the older player's road.
#include <gtest/gtest.h>

#include <cmath>

#include "orbad/ads/OBBrowserViewController.h"
#include "orbad/ads/OrbadAdAction.h"
#include "orbad/ads/OrbadAdViewInternal.h"
#include "orbad/ads/OrbadInteractiveVideoController.h"
#include "orbad/core/http/OBCoreHTTPRequest.h"
#include "orbad/tests/BannerTestSupport.h"
#include "orbad/tests/OrbadCreativeTestSupport.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/media/MoviePlayer.h"
#include "platform/media/tests/MediaTestSupport.h"
#include "platform/sys/Device.h"
#include "platform/ui/Application.h"
#include "platform/ui/Bars.h"
#include "platform/ui/Button.h"
#include "platform/ui/Window.h"

namespace {

using Lines = std::vector<std::string>;
using plat::foundation::RunLoop;
using plat::ui::Rect;

class InteractiveVideoTest : public ::testing::Test {
protected:
    void SetUp() override {
        plat::foundation::Clock::process().setVirtual(true);
        plat::sys::Device::current().reset();
        plat::sys::Device::current().setPreset("phone");
        m_host = std::make_shared<dktest::FakeBannerHost>(m_images.url("/ads"));
        m_host->refresh = 0;
        orbad::setBannerHost(m_host);
        m_window = std::make_shared<plat::ui::Window>(Rect{0, 0, 320, 480});
        m_window->setRootViewController(m_root);
        m_window->makeKeyAndVisible();
        m_engine = std::make_shared<orbad::OrbadAdViewInternal>(Rect{0, 0, 320, 50});
        m_engine->setViewController(m_root.get());
        std::string error;
        ASSERT_TRUE(dktest::writeClip(m_dir.file("clip.nut"), {{{255, 0, 0}, {0, 255, 0}, {0, 0, 255}}}, &error)) << error;
        auto& center = plat::foundation::NotificationCenter::defaultCenter();
        for (const char* name : {orbad::kOBVideoPlayerWillShow, orbad::kOBVideoPlayerDidHide})
            m_heard.push_back(center.observe(name, nullptr, [this, name](const auto&) {
                char when[16];
                std::snprintf(when, sizeof when, "%.1f ", RunLoop::main().now() - m_origin);
                lines.push_back(when + std::string(name) + (m_host->modal ? " modal" : ""));
            }));
        m_origin = RunLoop::main().now();
    }
    void TearDown() override {
        m_window.reset();
        m_engine.reset();
        orbad::setBannerHost(nullptr);
        orbad::OBCoreHTTPRequest::cancelAllAndWait(10);
    }
    // Touches a video ad whose action has `extra` entries; the screen it presents.
    orbad::OrbadInteractiveVideoController* touch(const std::string& extra) {
        m_engine->openActionForAd(dktest::adFrom(R"({"id": "1", "type": "image", "action": {"type": "video", "videoUrl": "file://)" +
                                                 m_dir.file("clip.nut") + "\"" + extra + "}}"));
        return dynamic_cast<orbad::OrbadInteractiveVideoController*>(m_root->presentedViewController());
    }
    std::string image(const std::string& name) { return m_images.url("/" + name); }

    dktest::TempDir m_dir;
    // Every picture is 100 x 68.
    dktest::ScriptedServer m_images{R"({"default": {"body_hex": ")" + dktest::pngHex(100, 68) + R"("}})"};
    plat::ui::Application m_app;
    std::shared_ptr<dktest::FakeBannerHost> m_host;
    std::shared_ptr<plat::ui::ViewController> m_root = std::make_shared<plat::ui::ViewController>();
    std::shared_ptr<plat::ui::Window> m_window;
    std::shared_ptr<orbad::OrbadAdViewInternal> m_engine;
    std::vector<plat::foundation::Observation> m_heard;
    double m_origin = 0;
    Lines lines;
};

// Without buttons the movie starts at once and the screen closes at its end.
TEST_F(InteractiveVideoTest, WithoutButtonsTheScreenClosesAtTheEnd) {
    auto* screen = touch("");
    ASSERT_TRUE(screen);
    ASSERT_TRUE(screen->interactiveVideoView()->moviePlayerController()) << "played on first appearance";
    EXPECT_TRUE(m_host->modal);
    dktest::turn(0.1);
    EXPECT_EQ(screen->interactiveVideoView()->actionsToolbar()->isHidden(), true) << "no buttons, no toolbar";
    EXPECT_TRUE(screen->interactiveVideoView()->overlayBar());
    dktest::turn(2);
    EXPECT_EQ(m_root->presentedViewController(), nullptr);
    EXPECT_FALSE(m_host->modal);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "0.0 kOBVideoPlayerWillShow modal");
    EXPECT_EQ(lines[1].substr(4), "kOBVideoPlayerDidHide");
}

// Three buttons: widths floor(W / 3) at the tallest picture's height, each tap opening its page in
// a browser of style 0; the screen stays after the movie.
TEST_F(InteractiveVideoTest, ButtonsMakeAToolbarThatOpensTheBrowser) {
    auto* screen = touch(R"(, "buttons": [{"imageUrl": ")" + image("b0.png") + R"(", "url": "http://a.example/0"},
        {"imageUrl": ")" + image("b1.png") + R"(", "url": "http://a.example/1"},
        {"imageUrl": ")" + image("b2.png") + R"(", "url": "http://a.example/2"}])");
    ASSERT_TRUE(screen);
    auto* view = screen->interactiveVideoView();
    // The bar is looked at while the movie plays: the pictures arrive in real time, and the
    // virtual clock may see the movie out before they do.
    dktest::turn(0.1);
    auto* bar = dynamic_cast<plat::ui::NavigationBar*>(view->overlayBar().get());
    ASSERT_TRUE(bar) << "with buttons, a navigation bar over the movie";
    EXPECT_EQ(bar->barStyle(), 2);
    EXPECT_EQ(bar->frame(), (Rect{0, 0, view->bounds().width, 34}));
    ASSERT_TRUE(dktest::turnUntil([&] { return view->imagesLoaded(); }));
    dktest::turn(2);
    ASSERT_TRUE(m_root->presentedViewController()) << "stays on its landing picture";
    EXPECT_FALSE(view->overlayBar()) << "the movie's bar went with it";
    const auto& toolbar = view->actionsToolbar();
    EXPECT_FALSE(toolbar->isHidden());
    EXPECT_EQ(view->toolbarHeight(), 68);
    const double w = view->bounds().width;
    EXPECT_EQ(toolbar->frame().y, view->bounds().height - 68);
    ASSERT_EQ(toolbar->subviews().size(), 3u);
    for (const auto& button : toolbar->subviews()) EXPECT_EQ(button->frame().width, std::floor(w / 3));
    std::static_pointer_cast<plat::ui::Button>(toolbar->subviews()[1])->sendActions();
    auto* browser = dynamic_cast<orbad::OBBrowserViewController*>(screen->presentedViewController());
    ASSERT_TRUE(browser);
    EXPECT_EQ(browser->requestURL(), "http://a.example/1");
    EXPECT_EQ(browser->browserStyle(), 0);
}

// The mended fault: a button whose page the browser refuses (a local file, data, a script) opened
// it blank over the screen. Nothing opens now; a web button still does.
TEST_F(InteractiveVideoTest, AButtonToAPageTheBrowserRefusesOpensNothing) {
    auto* screen = touch(R"j(, "buttons": [{"url": "javascript:alert(1)"}, {"url": "data:text/html,x"},
        {"url": "file:///etc/passwd"}, {"url": "http://a.example/3"}])j");
    ASSERT_TRUE(screen);
    for (int index = 0; index < 3; ++index) {
        screen->toolbarItemTapped(index);
        EXPECT_EQ(screen->presentedViewController(), nullptr) << index;
    }
    screen->toolbarItemTapped(3);
    auto* browser = dynamic_cast<orbad::OBBrowserViewController*>(screen->presentedViewController());
    ASSERT_TRUE(browser);
    EXPECT_EQ(browser->requestURL(), "http://a.example/3");
}

// A 100 x 68 tagline picture is made 50 x 34 at the right end; the label takes what is left.
TEST_F(InteractiveVideoTest, TaglineGeometry) {
    auto* screen = touch(R"(, "tagline": "x", "taglineImageUrl": ")" + image("t.png") + "\"");
    ASSERT_TRUE(screen);
    auto* view = screen->interactiveVideoView();
    ASSERT_TRUE(dktest::turnUntil([&] { return view->imagesLoaded(); }));
    EXPECT_TRUE(view->actionsToolbar()->isHidden()) << "pictures but no buttons: no toolbar";
    auto tagline = view->taglineView();
    ASSERT_EQ(tagline->subviews().size(), 2u);
    EXPECT_EQ(tagline->subviews()[0]->frame(), (Rect{150, 0, 50, 34}));
    EXPECT_EQ(tagline->subviews()[1]->frame(), (Rect{0, 0, 145, 34}));
}

// The older player's road: with no window of the player's, ten retries 0.1 s apart, then no overlay.
TEST_F(InteractiveVideoTest, OlderPlayerGivesUpAfterTenRetries) {
    auto* screen = touch(R"(, "buttons": [{"url": "http://a.example/0"}])");
    ASSERT_TRUE(screen);
    dktest::turn(1);  // the movie of the newer road has played out
    auto* view = screen->interactiveVideoView();
    view->setUseNewPlayer(false);
    view->buildAndInjectOrbadVideoUI();
    dktest::turn(0.55);
    EXPECT_EQ(view->injectAttemptCount(), 6u) << "the first look and five retries, each arming the next";
    dktest::turn(1);
    EXPECT_EQ(view->injectAttemptCount(), 10u);
    EXPECT_FALSE(view->overlayBar());
}

}  // namespace

#include "orbad/ads/OrbadPopOverVideoController.h"
#include "platform/ui/SegmentedControl.h"
#include "platform/ui/WebView.h"
#include "platform/web/PageEngine.h"

namespace {

struct LoadNoter : plat::ui::WebViewDelegate {
    Lines loads;
    bool shouldStartLoad(plat::ui::WebView&, const plat::ui::WebRequest& request, plat::ui::WebNavigationType) override {
        loads.push_back(request.url);
        return true;
    }
};

// The tablet's screen alone: a button's segment pauses the movie and shows its page (a blank page
// first), "Video" plays on from where it was.
TEST_F(InteractiveVideoTest, PopOverSegmentsSwitchBetweenMovieAndPages) {
    LoadNoter noter;
    plat::web::useWebEngine("fake");
    auto ad = dktest::adFrom(R"({"id": "1", "type": "image", "action": {"type": "popOverVideo", "url": "file://)" +
                             m_dir.file("clip.nut") + R"(", "size": {"w": 300, "h": 200},
        "buttons": [{"title": "Shop", "url": "http://a.example/shop"}, {"title": "More", "url": "http://a.example/more"}]}})");
    auto controller = std::make_shared<orbad::OrbadPopOverVideoController>(ad);
    m_root->presentViewController(controller, false);
    EXPECT_TRUE(m_host->modal);
    auto segments = controller->segmentedControl();
    ASSERT_TRUE(segments);
    EXPECT_EQ(segments->numberOfSegments(), 3u);
    EXPECT_EQ(segments->titleForSegment(2), "More");
    EXPECT_EQ(segments->frame().width, 300);
    dktest::turn(0.1);
    auto player = controller->moviePlayer();
    EXPECT_TRUE(player->isPlaying());
    controller->browserView()->setDelegate(&noter);
    segments->select(2);
    EXPECT_FALSE(player->isPlaying());
    EXPECT_FALSE(controller->browserView()->isHidden());
    EXPECT_TRUE(player->view()->isHidden());
    dktest::turn(0.01);
    EXPECT_EQ(noter.loads, (Lines{"about:blank", "http://a.example/more"}));
    const double at = player->currentPlaybackTime();
    dktest::turn(1);
    EXPECT_EQ(player->currentPlaybackTime(), at) << "paused while the page shows";
    segments->select(0);
    EXPECT_TRUE(player->isPlaying());
    EXPECT_TRUE(controller->browserView()->isHidden());
    controller->browserView()->setDelegate(nullptr);
    plat::web::useWebEngine("none");
    controller->dismissViewController(false);
    EXPECT_FALSE(m_host->modal);
    EXPECT_EQ(lines.size(), 2u);
}

}  // namespace
