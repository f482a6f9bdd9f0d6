// The content view on the fake page engine: the dispatcher runs only registered commands with
// their arity's arguments, loadContext's and launch's replies, reuse, a pooled view shown again
// while its failed show still animates out; its geometry, animations and rotation on the virtual
// clock.
#include <gtest/gtest.h>

#include <numbers>
#include <optional>
#include <tuple>

#include "kiosk/KSAPIRequest.h"
#include "kiosk/KSContentBridge.h"
#include "kiosk/KSContentView.h"
#include "kiosk/KSJsonParser.h"
#include "platform/foundation/NotificationCenter.h"
#include "kiosk/KSStringUtil.h"
#include "platform/net/tests/NetTestSupport.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/sys/Device.h"
#include "platform/ui/Application.h"
#include "platform/ui/StatusBar.h"
#include "platform/ui/ViewAnimations.h"
#include "platform/web/FakeWebEngine.h"
#include "platform/web/PageEngine.h"
#include "platform/web/tests/WebTestSupport.h"
#include "tests/support/TestSupport.h"

namespace {

using plat::foundation::RunLoop;
using plat::ui::Rect;
using plat::ui::WebNavigationType;
using plat::web::FakeWebEngine;

struct NotingDelegate : KSContentViewDelegate {
    std::vector<std::string> lines;
    std::optional<plat::ui::Color> border;
    std::optional<plat::ui::Color> borderColorForContentView(KSContentView&) override { return border; }
    bool notesLoads = false;
    void contentViewDidLoad(KSContentView&) override {
        if (notesLoads) lines.push_back("load");
    }
    void contentViewDidShow(KSContentView&) override { lines.push_back("show"); }
    void contentViewDidDismiss(KSContentView&) override { lines.push_back("dismiss"); }
    void contentViewDidFail(KSContentView&, const plat::foundation::Error& e) override {
        lines.push_back("fail " + std::to_string(e.code));
    }
};

// Templates and launch targets: "/gone" is 404, anything else an empty page.
dktest::TestServer& server() {
    static dktest::TestServer server([](const dktest::ReceivedRequest& request) {
        dktest::Reply reply;
        if (request.target == "/gone") reply.status = 404;
        return reply;
    });
    return server;
}

const std::string& templateURL() {
    static const std::string url = server().url("/t.html");
    return url;
}

// A "ks:" call as a page makes it: the context as URL-encoded JSON.
std::string call(const std::string& address, const std::string& callback, const std::string& contextJson) {
    return address + "?callback=" + kiosk::stringByEncodingURLFormat(callback) +
           "&context=" + kiosk::stringByEncodingURLFormat(contextJson);
}

KSJsonValue json(const std::string& text) {
    return *KSJsonParser().objectWithString(text);
}

bool contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::shared_ptr<KSContent> unit(const std::string& frame, const std::string& transition = "KS_DIALOG") {
    auto value = KSJsonParser().objectWithString(R"({"url":")" + templateURL() + R"(","transition":")" + transition +
                                                 R"(","context":{"n":1},"frame":)" + frame + "}");
    return KSContent::contentWithDictionary(*value->object());
}

// A portrait and a landscape frame.
constexpr const char* kBothFrames =
    R"({"KS_PORTRAIT":{"x":10,"y":30,"w":200,"h":100},"KS_LANDSCAPE":{"x":40,"y":5,"w":300,"h":150}})";

class KSContentViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        plat::foundation::Container::setMain(*plat::foundation::Container::open("com.drovik.content-test", home.path()));
        plat::foundation::Clock::process().setVirtual(true);
        kiosk::setLogHook([](std::string_view) {});
        KSURLLoader::setSystemOpener([this](const std::string& url) {
            opened.push_back(url);
            return true;
        });
        ASSERT_TRUE(plat::web::useWebEngine("fake"));
        target = std::make_shared<plat::ui::View>(plat::ui::Rect{0, 0, 320, 480});
        view = KSContentView::make(unit(R"("KS_FULLSCREEN")"));
        view->setDelegate(&delegate);
        view->setTargetView(target.get());
    }
    void TearDown() override {
        KSURLLoader::setSystemOpener(nullptr);
        kiosk::setLogHook(nullptr);
        KSContentView::clearContentViews();
        plat::web::useWebEngine("none");
        plat::sys::Device::current().reset();
        plat::ui::setStatusBarHidden(true);
    }
    // Runs the main loop to `time` virtual seconds after `start`.
    void at(double start, double time) {
        RunLoop::main().runFor(start + time - RunLoop::main().now());
    }
    FakeWebEngine& fake() { return *FakeWebEngine::of(view->webView()); }
    void navigate(const std::string& url) {
        fake().injectNavigation(url, WebNavigationType::LinkClicked);
        dktest::turnUntil([] { return false; }, 0.1);
    }
    void settleLoaders() {
        ASSERT_TRUE(dktest::turnUntil([] { return KSURLLoader::allLoaders().empty(); }));
    }
    dktest::TempDir home;
    plat::ui::Application app;
    NotingDelegate delegate;
    std::vector<std::string> opened;
    std::shared_ptr<plat::ui::View> target;
    std::shared_ptr<KSContentView> view;
};

TEST_F(KSContentViewTest, OnlyRegisteredCommandsRunWithTheirArity) {
    view->show(false);
    std::vector<std::string> calls;
    auto note = [&](const char* name, KSContentView::Context c, const std::optional<std::string>* id) {
        std::string line = name;
        line += c ? " ctx" : " nil";
        if (id) line += " " + id->value_or("(none)");
        calls.push_back(line);
    };
    view->redirectRequest("ks://one", this, std::function<void(KSContentView::Context)>([&](auto c) { note("one", c, nullptr); }));
    view->redirectRequest("ks://three/p", this,
                          std::function<void(KSContentView::Context, KSContentView::CallbackId, KSContentView&)>(
                              [&](auto c, auto& id, KSContentView& v) {
                                  EXPECT_EQ(&v, view.get());
                                  note("three", c, &id);
                              }));
    navigate("ks://one?context=%7B%22a%22%3A1%7D&callback=x");
    navigate("ks://three/p?context=%5B1%5D&callback=a%22b%5C");  // an array is no context
    navigate("ks://three/p?context=nonsense");
    navigate("ks://unknown?callback=1");
    navigate("ks://three/other");
    view->redirectRequest("ks://one", nullptr, {});
    navigate("ks://one");
    EXPECT_EQ(calls, (std::vector<std::string>{"one ctx", "three nil a\"b\\", "three nil (none)"}));
}

TEST_F(KSContentViewTest, LoadContextRepliesAndARefusedReplyFailsTheView) {
    view->show(false);
    const KSJsonValue context = *view->content()->context();
    fake().answer(kiosk::callbackScript(std::string("c1"), &context, nullptr), "OK");
    navigate("ks://loadContext?callback=c1");
    navigate("ks://loadContext?callback=c2");
    EXPECT_EQ(delegate.lines, (std::vector<std::string>{"show", "fail 3"}));
    const auto& evaluated = fake().evaluated();
    EXPECT_NE(std::find(evaluated.begin(), evaluated.end(), "window.KioskDispatchProtocolVersion = 5"), evaluated.end());
}

TEST_F(KSContentViewTest, LaunchRepliesWithTheFinalAddressAndOpensItUnlessItFails) {
    view->show(false);
    for (const std::string path : {"/shop", "/gone"}) {
        const std::string url = server().url(path);
        navigate(call("ks://launch", path, R"({"url":")" + url + R"("})"));
        settleLoaders();
        const KSJsonValue response = json(R"({"url":")" + url + R"("})"), error = json(R"({"error":"1"})");
        const bool fails = path == "/gone";
        EXPECT_TRUE(contains(fake().evaluated(), kiosk::callbackScript(path, &response, fails ? &error : nullptr))) << path;
        EXPECT_EQ(contains(opened, url), !fails) << path;
    }
}

TEST_F(KSContentViewTest, ReuseResetsThePageDropsForeignCommandsAndInvalidatesLoaders) {
    view->show(false);
    bool foreignRan = false;
    view->redirectRequest("ks://subcontent", &delegate,
                          std::function<void(KSContentView::Context)>([&](auto) { foreignRan = true; }));
    dktest::TestServer holding([](const dktest::ReceivedRequest&) {
        dktest::Reply reply;
        reply.held = true;
        return reply;
    });
    navigate(call("ks://launch", "held", R"({"url":")" + holding.url("/") + R"("})"));
    ASSERT_EQ(KSURLLoader::allLoaders().size(), 1u);
    view->dismiss(false);
    EXPECT_TRUE(KSURLLoader::allLoaders().empty());
    EXPECT_EQ(fake().evaluated().back(), "document.open();document.close();");
    const std::size_t evaluated = fake().evaluated().size();
    holding.release();
    dktest::turnUntil([] { return false; }, 0.2);
    KSContentView::postCallback(*json(R"({"callback":"p"})").object());
    EXPECT_EQ(fake().evaluated().size(), evaluated) << "the old launch or a reply reached the reset page";

    view->setContent(unit(R"("KS_FULLSCREEN")"));
    view->setDelegate(&delegate);
    view->show(false);
    navigate("ks://subcontent");
    EXPECT_FALSE(foreignRan);
    KSContentView::postCallback(*json(R"({"callback":"p"})").object());
    EXPECT_EQ(fake().evaluated().back(), kiosk::callbackScript(std::string("p"), nullptr, nullptr)) << "shown, it answers";
}

// The mended fault: the failed show's close completion wiped the view's next show.
TEST_F(KSContentViewTest, AnOldCloseLeavesTheNextShowAlone) {
    view->setContent(unit(R"({"KS_LANDSCAPE":{"x":0,"y":0,"w":10,"h":10}})"));
    view->show(true);
    EXPECT_EQ(delegate.lines, (std::vector<std::string>{"fail 2"}));
    KSContentView::enqueueContentViewInstance(view);
    auto again = KSContentView::dequeueContentViewInstance();
    ASSERT_EQ(again, view);
    NotingDelegate second;
    again->setContent(unit(R"("KS_FULLSCREEN")"));
    again->setDelegate(&second);
    again->show(false);
    at(RunLoop::main().now(), 1);
    EXPECT_EQ(second.lines, (std::vector<std::string>{"show"}));
    EXPECT_TRUE(again->content());
    EXPECT_EQ(again->delegate(), &second);
    EXPECT_EQ(again->superview(), target.get());
}

TEST_F(KSContentViewTest, GeometryPerTransitionOrientationAndStatusBar) {
    constexpr double pi = std::numbers::pi;
    const plat::ui::Color black{0, 0, 0, 1}, red{1, 0, 0, 1};
    const Rect upright{0, 0, 320, 480}, turned{-80, 80, 480, 320};  // the view before its turn
    const struct {
        const char* transition;
        int orientation;
        bool bar;
        std::optional<plat::ui::Color> delegateBorder;
        Rect view;
        double rotation;
        Rect web;
        double borderWidth;
        plat::ui::Color border;
    } cases[] = {
        {"KS_MODAL", 1, false, {}, upright, 0, {0, 0, 320, 480}, 0, black},
        {"KS_MODAL", 1, true, {}, upright, 0, {0, 20, 320, 460}, 0, black},  // below the bar, not the app frame
        {"KS_MODAL", 3, true, {}, turned, pi / 2, {0, 20, 480, 300}, 0, black},
        {"KS_DIALOG", 1, true, {}, upright, 0, {10, 50, 200, 100}, 1, black},
        {"KS_DIALOG", 4, false, red, turned, -pi / 2, {40, 5, 300, 150}, 1, red},
        {"KS_OTHER", 3, true, {}, turned, pi / 2, {0, 20, 480, 300}, 0, black},
    };
    for (const auto& c : cases) {
        plat::sys::Device::current().setOrientation(c.orientation);
        plat::ui::setStatusBarHidden(!c.bar);
        delegate.border = c.delegateBorder;
        delegate.lines.clear();
        view->setContent(unit(kBothFrames, c.transition));
        view->setDelegate(&delegate);
        view->show(false);
        const std::string what = std::string(c.transition) + " @" + std::to_string(c.orientation) + (c.bar ? " bar" : "");
        EXPECT_EQ(delegate.lines, std::vector<std::string>{"show"}) << what;
        EXPECT_EQ(view->frame(), c.view) << what;
        EXPECT_EQ(view->layerTransform().rotation, c.rotation) << what;
        EXPECT_EQ(view->webView().frame(), c.web) << what;
        EXPECT_EQ(view->webView().borderWidth(), c.borderWidth) << what;
        EXPECT_TRUE(!c.borderWidth || view->webView().borderColor() == c.border) << what;
        const Rect spinner = view->activityView()->frame();
        EXPECT_EQ(Rect(spinner.x * 2 + spinner.width, spinner.y * 2 + spinner.height, 0, 0),
                  Rect(c.web.x * 2 + c.web.width, c.web.y * 2 + c.web.height, 0, 0)) << what << ": the spinner centred";
        view->dismiss(false);
    }
}

// In an interface turned with the device the unit lies in the interface's bounds, unturned (the
// mended fault: it turned itself as well, sideways and cut off); a device lying flat at the show
// counts as the interface's orientation, not as portrait across a landscape game.
TEST_F(KSContentViewTest, InALandscapeInterfaceTheUnitLiesUnturnedAndAFlatDeviceCountsAsTheInterface) {
    app.launch();
    plat::sys::Device::current().setOrientation(plat::sys::kDeviceOrientationLandscapeLeft);
    ASSERT_EQ(app.interfaceOrientation(), 3);
    for (int device : {plat::sys::kDeviceOrientationLandscapeLeft, plat::sys::kDeviceOrientationFaceUp}) {
        plat::sys::Device::current().setOrientation(device);
        for (const char* transition : {"KS_MODAL", "KS_DIALOG"}) {
            const std::string what = std::string(transition) + " @" + std::to_string(device);
            view->setContent(unit(kBothFrames, transition));
            view->setDelegate(&delegate);
            view->show(false);
            EXPECT_EQ(view->frame(), (Rect{0, 0, 480, 320})) << what;
            EXPECT_EQ(view->layerTransform().rotation, 0) << what;
            const Rect web = transition[3] == 'M' ? Rect{0, 0, 480, 320} : Rect{40, 5, 300, 150};
            EXPECT_EQ(view->webView().frame(), web) << what;
            EXPECT_EQ(view->orientation(), 3) << what;
            view->dismiss(false);
        }
    }
}

// What shows while a unit animates in and out (the view's translation, the web view's scale and
// alpha), and when the delegate hears of it.
TEST_F(KSContentViewTest, SlideAndBounceOnTheVirtualClock) {
    const double in = 0.3153568, out = 1 - in;  // how far ease-in and ease-out are at half time
    const std::vector<std::string> none, shown{"show"}, dismissed{"dismiss"};
    const struct {
        const char* transition;
        bool showing;  // else closing
        std::vector<std::tuple<double, double, double, double, std::vector<std::string>>> samples;
    } cases[] = {
        {"KS_MODAL", true, {{0, 480, 1, 1, none}, {0.125, 480 * out, 1, 1, none}, {0.26, 0, 1, 1, shown}}},
        {"KS_MODAL", false, {{0.125, 480 * in, 1, 1, none}, {0.26, 480, 1, 1, dismissed}}},
        {"KS_DIALOG", true,
         {{0, 0, 0.8, 0, none}, {0.0625, 0, 0.8 + 0.3 * out, out, none}, {0.1875, 0, 1.1 - 0.1 * in, 1, none},
          {0.26, 0, 1, 1, shown}}},
        {"KS_DIALOG", false,
         {{0.0625, 0, 1 + 0.1 * out, 1, none}, {0.1875, 0, 1.1 - 0.3 * in, out, none}, {0.26, 0, 0.8, 0, dismissed}}},
        {"KS_OTHER", true, {{0, 0, 1, 1, shown}}},
        {"KS_OTHER", false, {{0, 0, 1, 1, dismissed}}},
    };
    for (const auto& c : cases) {
        view->setContent(unit(kBothFrames, c.transition));
        view->setDelegate(&delegate);
        if (!c.showing) view->show(false);
        at(RunLoop::main().now(), 0.5);
        delegate.lines.clear();
        const double start = RunLoop::main().now();
        c.showing ? view->show(true) : view->dismiss(true);
        for (const auto& [time, ty, scale, alpha, heard] : c.samples) {
            at(start, time);
            const std::string what = std::string(c.transition) + (c.showing ? " in at " : " out at ") + std::to_string(time);
            EXPECT_NEAR(view->presentationTransform().ty, ty, 1e-3) << what;
            EXPECT_NEAR(view->webView().presentationTransform().scaleX, scale, 1e-3) << what;
            EXPECT_NEAR(view->webView().presentationAlpha(), alpha, 1e-3) << what;
            EXPECT_EQ(delegate.lines, heard) << what;
        }
        if (c.showing) view->dismiss(false);
    }
}

TEST_F(KSContentViewTest, RotationMovesTheDialogAtOnceAndTurnsTheViewWithTheStatusBar) {
    plat::ui::setStatusBarHidden(false);
    view->setContent(unit(kBothFrames));
    view->show(false);
    const double start = RunLoop::main().now();
    plat::sys::Device::current().setOrientation(3);
    EXPECT_EQ(view->webView().frame(), (Rect{40, 25, 300, 150}));
    EXPECT_EQ(view->frame(), (Rect{-80, 80, 480, 320}));
    at(start, plat::ui::kRotationDuration / 2);
    EXPECT_NEAR(view->presentationRotation(), std::numbers::pi / 4, 1e-6);
    at(start, plat::ui::kRotationDuration);
    EXPECT_EQ(view->presentationRotation(), std::numbers::pi / 2);

    // A full-screen unit's page takes the turned shape too.
    view->setContent(unit(kBothFrames, "KS_MODAL"));
    view->show(false);
    plat::sys::Device::current().setOrientation(1);
    EXPECT_EQ(view->webView().frame(), (Rect{0, 20, 320, 460}));
    plat::sys::Device::current().setOrientation(3);
    EXPECT_EQ(view->webView().frame(), (Rect{0, 20, 480, 300}));
    // Flat or unknown says nothing about which way is up: the landscape layout stays.
    for (int flat : {plat::sys::kDeviceOrientationFaceUp, plat::sys::kDeviceOrientationFaceDown,
                     plat::sys::kDeviceOrientationUnknown}) {
        plat::sys::Device::current().setOrientation(flat);
        at(RunLoop::main().now(), plat::ui::kRotationDuration);
        EXPECT_EQ(view->webView().frame(), (Rect{0, 20, 480, 300})) << flat;
        EXPECT_EQ(view->frame(), (Rect{-80, 80, 480, 320})) << flat;
        EXPECT_EQ(view->orientation(), plat::sys::kDeviceOrientationLandscapeLeft) << flat;
    }
    plat::sys::Device::current().setOrientation(3);

    // Code 2: no frame for the orientation the device turns to.
    view->setContent(unit(R"({"KS_LANDSCAPE":{"x":0,"y":0,"w":10,"h":10}})"));
    view->show(false);
    plat::sys::Device::current().setOrientation(1);
    EXPECT_EQ(delegate.lines, (std::vector<std::string>{"show", "show", "show", "fail 2"}));
    EXPECT_FALSE(view->superview());
}

// The mended fault: a turn moved the page but left the spinner at the centre the show gave it.
TEST_F(KSContentViewTest, TheSpinnerStaysCentredOnThePageThroughTurns) {
    auto centre = [](const Rect& r) { return std::pair(r.x + r.width / 2, r.y + r.height / 2); };
    for (const char* transition : {"KS_MODAL", "KS_DIALOG"}) {
        plat::sys::Device::current().setOrientation(1);
        view->setContent(unit(kBothFrames, transition));
        view->setDelegate(&delegate);
        view->show(false);
        for (int turn : {3, 1, 4}) {
            plat::sys::Device::current().setOrientation(turn);
            EXPECT_EQ(centre(view->activityView()->frame()), centre(view->webView().frame()))
                << transition << " @" << turn;
        }
        view->dismiss(false);
    }
}

// The mended fault: nothing asked the device for its turns, so a unit shown where nothing else had
// asked (a tool, a game that never does) never followed a rotation.
TEST_F(KSContentViewTest, AShownUnitAsksForTheDevicesTurnsUntilItGoes) {
    plat::sys::Device& device = plat::sys::Device::current();
    auto asked = [&] { return device.isGeneratingDeviceOrientationNotifications(); };
    plat::ui::setStatusBarHidden(true);
    ASSERT_FALSE(asked());
    view->setContent(unit(kBothFrames));
    view->show(false);
    view->show(false);  // shown again: still one ask
    EXPECT_TRUE(asked());
    device.setOrientation(3);
    EXPECT_EQ(view->webView().frame(), (Rect{40, 5, 300, 150}));

    auto other = KSContentView::make(unit(R"({"KS_LANDSCAPE":{"x":0,"y":0,"w":10,"h":10}})"));
    other->setDelegate(&delegate);
    other->setTargetView(target.get());
    other->show(false);
    view->dismiss(false);
    EXPECT_TRUE(asked()) << "the other unit still follows the device";
    device.setOrientation(1);
    EXPECT_EQ(delegate.lines, (std::vector<std::string>{"show", "show", "show", "dismiss", "fail 2"}));
    EXPECT_FALSE(asked());

    // Reused while shown, and gone while shown.
    view->setContent(unit(kBothFrames));
    view->show(false);
    view->prepareForReuse();
    EXPECT_FALSE(asked());
    other->setContent(unit(kBothFrames));
    other->show(false);
    EXPECT_TRUE(asked());
    other->removeFromSuperview();
    other.reset();
    EXPECT_FALSE(asked());
}

// Each navigation the view decided: "allow URL" or "refuse URL".
struct Decisions : plat::ui::WebViewObserver {
    std::vector<std::string> lines;
    void webViewDecided(plat::ui::WebView&, const plat::ui::WebRequest& r, WebNavigationType, bool allowed) override {
        lines.push_back((allowed ? "allow " : "refuse ") + r.url);
    }
};

// The mended fault: a unit's template, or its page, could be a local file, data or a script.
TEST_F(KSContentViewTest, OnlyWebAddressesLoad) {
    Decisions decisions;
    plat::ui::WebView::setObserver(&decisions);
    for (const std::string address : {"file:///etc/passwd", "FILE:///etc/passwd", "javascript:alert(1)",
                                      "data:text/html,x", "ftp://h/x", "about:blank", "x"}) {
        delegate.lines.clear();
        auto value = KSJsonParser().objectWithString(R"({"url":")" + address +
                                                     R"(","transition":"KS_MODAL","frame":"KS_FULLSCREEN"})");
        view->setContent(KSContent::contentWithDictionary(*value->object()));
        view->setDelegate(&delegate);
        view->show(false);
        ASSERT_TRUE(dktest::turnUntil([&] { return delegate.lines.size() == 2; })) << address << " " << ::testing::PrintToString(delegate.lines);
        EXPECT_EQ(delegate.lines, (std::vector<std::string>{"show", "fail -1002"})) << address;
        EXPECT_NE(view->webView().currentURL(), address);
    }
    EXPECT_EQ(decisions.lines, std::vector<std::string>{});

    // A template that fails for want of a frame first says so once.
    delegate.lines.clear();
    auto landscapeOnly = KSJsonParser().objectWithString(
        R"({"url":"file:///etc/passwd","transition":"KS_DIALOG","frame":{"KS_LANDSCAPE":{"x":0,"y":0,"w":9,"h":9}}})");
    view->setContent(KSContent::contentWithDictionary(*landscapeOnly->object()));
    view->setDelegate(&delegate);
    view->show(false);
    dktest::turnUntil([] { return false; }, 0.1);
    EXPECT_EQ(delegate.lines, std::vector<std::string>{"fail 2"});

    const struct {
        std::string url;
        bool allowed;
    } navigations[] = {
        {"file:///etc/passwd", false}, {"data:text/html,x", false}, {"javascript:alert(1)", false},
        {"ks:nohost", false},          {"mailto:a@b", false},       {"about:blank", true},
        {"about:blank#top", true},     {"http://h/x", true},        {"HTTPS://h/x", true},
    };
    view->setContent(unit(R"("KS_FULLSCREEN")"));
    view->setDelegate(&delegate);
    view->show(false);
    ASSERT_TRUE(dktest::turnUntil([&] { return !decisions.lines.empty(); }));
    for (const auto& n : navigations) {
        decisions.lines.clear();
        navigate(n.url);
        EXPECT_EQ(decisions.lines, std::vector<std::string>{(n.allowed ? "allow " : "refuse ") + n.url});
    }
    plat::ui::WebView::setObserver(nullptr);
}

TEST_F(KSContentViewTest, ALoadedTemplateStopsTheSpinnerAndSetsTheCacheModel) {
    plat::foundation::UserDefaults* defaults = plat::foundation::UserDefaults::standard();
    defaults->setInteger(3, "WebKitCacheModelPreferenceKey");
    delegate.notesLoads = true;
    view->show(false);
    ASSERT_TRUE(view->activityView()->isAnimating());
    ASSERT_TRUE(dktest::turnUntil([&] { return delegate.lines.size() == 2; }));
    EXPECT_TRUE(view->activityView()->isHidden());
    EXPECT_EQ(defaults->objectForKey("WebKitCacheModelPreferenceKey"), plat::foundation::Value(std::int64_t{0}));
}

// The mended fault: memory warnings left the pooled views, and their web views, in place.
TEST_F(KSContentViewTest, AMemoryWarningEmptiesThePool) {
    KSContentView::enqueueContentViewInstance(view);
    KSContentView::enqueueContentViewInstance(KSContentView::make(nullptr));
    ASSERT_EQ(KSContentView::pooledCount(), 2u);
    plat::foundation::NotificationCenter::defaultCenter().post(plat::ui::kApplicationDidReceiveMemoryWarningNotification);
    EXPECT_EQ(KSContentView::pooledCount(), 0u);
}

}  // namespace
