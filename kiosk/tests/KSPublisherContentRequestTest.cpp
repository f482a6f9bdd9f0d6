// The content request against the content-API peer with its units on the fake page engine: the
// states, the delegate's order, the close button on the virtual clock, subcontent, rewards and
// purchases. The three mended faults each have their case.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <sstream>

#include "kiosk/KSContentBridge.h"
#include "kiosk/KSContentRequestService.h"
#include "kiosk/KSJsonParser.h"
#include "kiosk/KSStringUtil.h"
#include "kiosk/content/KSPublisherContentRequest.h"
#include "kiosk/content/KSPurchase.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/Pasteboard.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/net/Reachability.h"
#include "platform/net/Servers.h"
#include "platform/net/tests/NetTestSupport.h"
#include "platform/sys/Device.h"
#include "platform/sys/Report.h"
#include "platform/ui/Application.h"
#include "platform/ui/StatusBar.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"
#include "platform/web/FakeWebEngine.h"
#include "platform/web/PageEngine.h"
#include "platform/web/tests/WebTestSupport.h"
#include "tests/support/RecordingServer.h"
#include "tests/support/TestSupport.h"

namespace {

using plat::foundation::RunLoop;
using plat::sys::Rect;
using Delegate = KSPublisherContentRequestDelegate;

constexpr const char* kSecret = "s3cr3t";
constexpr const char* kGID = "gidGIDgidGIDgidGIDgidGIDgid";

// Every call heard, one line each; `bits` is what it answers.
struct Recorder : Delegate {
    unsigned bits = kAll;
    std::vector<std::string> heard;
    std::vector<std::shared_ptr<KSPurchase>> purchases;
    unsigned responds() const override { return bits; }
    void requestWillGetContent(KSPublisherContentRequest&) override { heard.push_back("willGet"); }
    void requestDidFinishLoading(KSPublisherContentRequest&) override { heard.push_back("loaded"); }
    void requestDidGetContent(KSPublisherContentRequest&) override { heard.push_back("didGet"); }
    void requestContentWillDisplay(KSPublisherContentRequest&, const KSContent&) override {
        heard.push_back("willDisplay");
    }
    void requestContentDidDisplay(KSPublisherContentRequest&, const KSContent&) override {
        heard.push_back("didDisplay");
    }
    void requestContentDidDismissWithType(KSPublisherContentRequest&, const std::string& type) override {
        heard.push_back("dismiss " + type);
    }
    void requestContentDidDismiss(KSPublisherContentRequest&) override { heard.push_back("dismissed"); }
    void requestDidFailWithError(KSPublisherContentRequest&, const plat::foundation::Error& e) override {
        heard.push_back("fail " + std::to_string(e.code));
    }
    void requestContentDidFailWithError(KSPublisherContentRequest&,
                                        const plat::foundation::Error& e) override {
        heard.push_back("contentFail " + std::to_string(e.code));
    }
    void requestUnlockedReward(KSPublisherContentRequest&, const KSReward& r) override {
        heard.push_back("reward " + r.name + " " + std::to_string(r.quantity) + " " + r.receipt);
    }
    void requestMakePurchase(KSPublisherContentRequest&, std::shared_ptr<KSPurchase> p) override {
        heard.push_back("purchase " + p->productIdentifier.value_or("nil") + " " +
                        std::to_string(p->quantity));
        purchases.push_back(std::move(p));
    }
};

std::string unitJSON(const std::string& frame = R"("KS_FULLSCREEN")") {
    return R"({"url":"http://$HOST/t.html","transition":"KS_DIALOG","context":{"n":1},"frame":)" + frame +
           "}";
}

// The peer's answer whose body is the envelope of `response` (JSON text).
std::string answer(const std::string& response) {
    std::string quoted;
    for (char c : R"({"response":)" + response + "}") {
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += c;
    }
    return R"({"body": ")" + quoted + "\"}";
}

class KSPublisherContentRequestTest : public ::testing::Test {
protected:
    void SetUp() override {
        plat::foundation::Clock::process().setVirtual(true);
        plat::foundation::Container::setMain(
            *plat::foundation::Container::open("com.drovik.kiosk-test", home.path()));
        plat::net::setNetOverride(plat::net::NetOverride::WiFi);
        plat::foundation::Pasteboard::setDirectory(home.file("pasteboards"));
        plat::foundation::UserDefaults::standard()->setObject(plat::foundation::Value(std::string(kGID)),
                                                              "KioskGID");
        plat::net::setServerBaseOverride("kiosk.media", "http://127.0.0.1:9");
        kiosk::setLogHook([this](std::string_view line) { log.emplace_back(line); });
        plat::sys::Device::current().reset();
        ASSERT_TRUE(plat::web::useWebEngine("fake"));
    }
    void TearDown() override {
        for (const auto& r : KSAPIRequest::allRequests()) r->cancel();
        KSContentView::clearContentViews();
        plat::web::useWebEngine("none");
        kiosk::setLogHook(nullptr);
    }
    // The content path answers `unit` (a list: one answer per request), the template anything.
    void serve(const std::string& contentAnswers) {
        std::string script = R"({"paths": {"/v3/publisher/content/": )" + contentAnswers + R"(, "/sub": )" +
                             answer(unitJSON()) +
                             R"(, "/slow": {"delay": 20}}, "default": {"body": "<html></html>"}})";
        server =
            std::make_unique<dktest::RecordingServer>(home.file("server"), script, 120, DK_KIOSK_API_SERVER);
        ASSERT_TRUE(server->running());
        plat::net::setServerBaseOverride("kiosk.api", server->url());
    }
    std::shared_ptr<KSPublisherContentRequest> make(Recorder& delegate) {
        return KSPublisherContentRequest::requestForApp("tok", kSecret, "game_launch", &delegate);
    }
    bool until(const std::function<bool()>& done) { return dktest::runUntil(RunLoop::main(), done); }
    bool heard(const Recorder& r, const std::string& line) {
        return until([&] { return std::find(r.heard.begin(), r.heard.end(), line) != r.heard.end(); });
    }
    plat::web::FakeWebEngine& fake(const std::shared_ptr<KSPublisherContentRequest>& request, size_t i = 0) {
        return *plat::web::FakeWebEngine::of(request->contentViews().at(i)->webView());
    }
    void navigate(const std::shared_ptr<KSPublisherContentRequest>& request, const std::string& url,
                  size_t view = 0) {
        fake(request, view).injectNavigation(url, plat::ui::WebNavigationType::LinkClicked);
        dktest::turnUntil([] { return false; }, 0.2);
    }
    // Content requests the peer saw, by their "preload" parameter.
    std::vector<std::string> contentRequests() {
        server->stop();
        std::vector<std::string> out;
        std::istringstream in(dktest::readFile(home.file("server/checks.jsonl")));
        for (std::string line; std::getline(in, line);) {
            auto check = KSJsonParser().objectWithString(line);
            if (*check->object()->find("path")->string() != "/v3/publisher/content/") continue;
            const KSJsonValue* preload = check->object()->find("params")->object()->find("preload");
            out.push_back(preload ? *preload->string() : "(absent)");
        }
        return out;
    }

    dktest::TempDir home;
    std::unique_ptr<dktest::RecordingServer> server;
    std::vector<std::string> log;
};

const std::vector<std::string> kFullRun = {"willGet", "loaded", "didGet", "willDisplay", "didDisplay"};

TEST_F(KSPublisherContentRequestTest, ANormalRunInTheDelegatesOrderWithAFullDelegateAndWithSubsets) {
    struct Case {
        const char* name;
        unsigned bits;
        std::vector<std::string> heard;
    };
    const Case cases[] = {
        {"full",
         Delegate::kAll,
         {"willGet", "loaded", "didGet", "willDisplay", "didDisplay",
          "dismiss KSPublisherContentUnitTriggeredDismiss"}},
        {"the player's three",
         Delegate::kContentDidDisplay | Delegate::kContentDidDismissWithType | Delegate::kDidFail,
         {"didDisplay", "dismiss KSPublisherContentUnitTriggeredDismiss"}},
        {"the old dismissal",
         Delegate::kAll & ~Delegate::kContentDidDismissWithType,
         {"willGet", "loaded", "didGet", "willDisplay", "didDisplay", "dismissed"}},
    };
    serve(answer(unitJSON()));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Recorder r;
        r.bits = c.bits;
        auto request = make(r);
        request->send();
        ASSERT_TRUE(until([&] { return request->contentViews().size() == 1; }));
        ASSERT_TRUE(heard(r, "didDisplay"));
        navigate(request, "ks://dismiss");
        EXPECT_EQ(r.heard, c.heard);
        EXPECT_EQ(request->state(), KSPublisherContentRequest::kDone);
        EXPECT_TRUE(KSAPIRequest::allRequests().empty());
    }
}

TEST_F(KSPublisherContentRequestTest, StatesOnlyGoForwardAndEachStepRunsOnce) {
    serve(answer(unitJSON()));
    Recorder r;
    auto request = make(r);
    std::vector<std::string> changes;
    request->setStateObserver(
        [&](int from, int to) { changes.push_back(std::to_string(from) + ">" + std::to_string(to)); });
    request->preload();
    request->preload();
    ASSERT_TRUE(until([&] { return request->state() == KSPublisherContentRequest::kContentReady; }));
    dktest::turnUntil([] { return false; }, 0.2);
    EXPECT_EQ(request->state(), KSPublisherContentRequest::kContentReady) << "a preloaded request waits";
    // Handed back for the same placement, with the second delegate; its send shows the stored unit.
    Recorder second;
    auto again = make(second);
    ASSERT_EQ(again, request);
    again->send();
    again->send();
    ASSERT_TRUE(heard(second, "didDisplay"));
    EXPECT_EQ(changes, (std::vector<std::string>{"0>1", "1>2", "2>3"}));
    EXPECT_EQ(r.heard, (std::vector<std::string>{"willGet", "loaded", "didGet"}));
    EXPECT_EQ(second.heard, (std::vector<std::string>{"willDisplay", "didDisplay"}));
    again->cancel();
    EXPECT_EQ(changes.back(), "3>4");
    EXPECT_EQ(second.heard.size(), 2u) << "a cancel tells nothing";
    EXPECT_EQ(contentRequests(), (std::vector<std::string>{"1"})) << "one API request, preloading";
}

TEST_F(KSPublisherContentRequestTest, AnAnswerWithoutAUnitIsANoContentDismissalNotAFailure) {
    serve(R"([{"body": "{\"error\":null}"}, )" + answer(R"({"url":"x"})") + "]");
    for (int i = 0; i < 2; ++i) {
        Recorder r;
        auto request = make(r);
        request->send();
        ASSERT_TRUE(heard(r, "dismiss KSPublisherNoContentTriggeredDismiss"));
        EXPECT_EQ(
            std::count_if(r.heard.begin(), r.heard.end(), [](auto& l) { return l.starts_with("fail"); }), 0);
        EXPECT_TRUE(KSAPIRequest::allRequests().empty());
    }
    EXPECT_NE(
        std::find(log.begin(), log.end(),
                  "[Kiosk-1.12.1] This request was successful but did not contain any displayable content. "
                  "Dismissing now."),
        log.end());
}

// The mended fault: a handed-back request sent again observed the backgrounding twice.
TEST_F(KSPublisherContentRequestTest, OneBackgroundingOfAHandedBackRequestIsOneDismissal) {
    serve(answer(unitJSON()));
    Recorder r;
    auto request = make(r);
    request->send();
    make(r)->send();
    ASSERT_TRUE(heard(r, "didDisplay"));
    plat::foundation::NotificationCenter::defaultCenter().post(
        plat::ui::kApplicationDidEnterBackgroundNotification);
    plat::foundation::NotificationCenter::defaultCenter().post(
        plat::ui::kApplicationDidEnterBackgroundNotification);
    EXPECT_EQ(std::count(r.heard.begin(), r.heard.end(),
                         "dismiss KSPublisherApplicationBackgroundTriggeredDismiss"),
              1);
    EXPECT_TRUE(request->contentViews().empty());
}

// The mended fault: a page loading a second document reported the display again.
TEST_F(KSPublisherContentRequestTest, TheDisplayIsToldOnceEvenWithSubcontentOrASecondDocument) {
    serve(answer(unitJSON()));
    Recorder r;
    auto request = make(r);
    request->send();
    ASSERT_TRUE(heard(r, "didDisplay"));
    navigate(request, server->url() + "/second.html");
    fake(request).answer(kiosk::callbackScript(std::string("c1"), nullptr, nullptr), "OK");
    navigate(request,
             "ks://subcontent?callback=c1&context=" +
                 KSStringUtil::stringByUrlEncodingString(R"({"url":")" + server->url() + R"(/sub"})"));
    ASSERT_TRUE(until([&] { return request->contentViews().size() == 2; }));
    dktest::turnUntil([] { return false; }, 0.2);
    EXPECT_EQ(std::count(r.heard.begin(), r.heard.end(), "didDisplay"), 1);
    // The subcontent's reply carries its whole answer to the calling view.
    const auto& evaluated = fake(request).evaluated();
    EXPECT_TRUE(std::any_of(evaluated.begin(), evaluated.end(), [](const std::string& s) {
        return s.find("\"c1\"") != std::string::npos && s.find("t.html") != std::string::npos;
    }));
}

TEST_F(KSPublisherContentRequestTest,
       SubcontentWithoutAnAddressOrFailingRepliesTheErrorAndFinishCancelsThePending) {
    serve(answer(unitJSON()));
    Recorder r;
    auto request = make(r);
    request->send();
    ASSERT_TRUE(heard(r, "didDisplay"));
    KSJsonObject error;
    error.set("error", "1");
    KSJsonValue errorValue(error);
    const std::string noURL = kiosk::callbackScript(std::string("a"), nullptr, &errorValue);
    const std::string refused = kiosk::callbackScript(std::string("b"), nullptr, &errorValue);
    navigate(request, "ks://subcontent?callback=a&context=%7B%7D");
    navigate(request,
             "ks://subcontent?callback=b&context=" +
                 KSStringUtil::stringByUrlEncodingString(R"({"url":")" + dktest::refusedURL() + R"("})"));
    until([&] {
        const auto& e = fake(request).evaluated();
        return std::find(e.begin(), e.end(), refused) != e.end();
    });
    const auto& evaluated = fake(request).evaluated();
    EXPECT_NE(std::find(evaluated.begin(), evaluated.end(), noURL), evaluated.end());
    EXPECT_NE(std::find(evaluated.begin(), evaluated.end(), refused), evaluated.end());
    // One still pending when the request finishes goes with it.
    navigate(request,
             "ks://subcontent?callback=c&context=" +
                 KSStringUtil::stringByUrlEncodingString(R"({"url":")" + server->url() + R"(/slow"})"));
    ASSERT_EQ(KSAPIRequest::allRequests().size(), 2u);
    request->cancel();
    EXPECT_TRUE(KSAPIRequest::allRequests().empty());
}

TEST_F(KSPublisherContentRequestTest, CloseButtonShowsAtFourSecondsUnlessTheTemplateOrAHideCameFirst) {
    serve(answer(unitJSON()));
    struct Case {
        const char* name;
        const char* call;  // what the template does at once; null: nothing
        bool hiddenAfter;
    };
    const Case cases[] = {
        {"the timer", nullptr, false},
        {"hidden true", "ks://closeButton?callback=k&context=%7B%22hidden%22%3Atrue%7D", true},
        {"hidden false", "ks://closeButton?callback=k&context=%7B%22hidden%22%3Afalse%7D", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Recorder r;
        auto request = make(r);
        double start = RunLoop::main().now();
        request->send();
        ASSERT_TRUE(heard(r, "didDisplay"));
        const auto& button = request->closeButton();
        EXPECT_TRUE(button->isHidden());
        EXPECT_EQ(button->superview(), request->overlayWindow().get());
        if (c.call) navigate(request, c.call);
        until([&] { return RunLoop::main().now() - start > 5; });
        EXPECT_EQ(button->isHidden(), c.hiddenAfter);
        button->sendActions();
        EXPECT_EQ(r.heard.back(), "dismiss KSPublisherNativeCloseButtonTriggeredDismiss");
        EXPECT_EQ(button->superview(), nullptr);
    }
}

TEST(KSCloseButtonPlacement, FourOrientationsWithAndWithoutStatusBarAndUnitFrames) {
    const double pi = std::numbers::pi;
    struct Case {
        int o;
        double b;
        std::optional<Rect> unit;
        double x, y, rotation;
    };
    const Rect dialog{40, 60, 200, 300};  // maxX 240, minY 60
    const Case cases[] = {
        {1, 20, std::nullopt, 300, 40, 0},
        {1, 0, std::nullopt, 300, 20, 0},
        {2, 20, std::nullopt, 20, 440, pi},
        {3, 20, std::nullopt, 300, 440, pi / 2},
        {4, 20, std::nullopt, 40, 20, -pi / 2},
        {4, 0, std::nullopt, 20, 20, -pi / 2},
        {1, 20, dialog, 240, 80, 0},
        {2, 20, dialog, 80, 400, pi},
        {3, 20, dialog, 260, 240, pi / 2},
        {4, 20, dialog, 80, 220, -pi / 2},
        {1, 20, Rect{0, 0, 320, 460}, 300, 40, 0},  // never further out than the corner
    };
    for (const Case& c : cases) {
        auto at = KSPublisherContentRequest::closeButtonPlacement(c.o, c.b, 320, 460, c.unit);
        EXPECT_DOUBLE_EQ(at.center.x, c.x) << c.o << " b=" << c.b;
        EXPECT_DOUBLE_EQ(at.center.y, c.y) << c.o << " b=" << c.b;
        EXPECT_DOUBLE_EQ(at.rotation, c.rotation) << c.o;
    }
}

// The mended fault: in an interface turned to landscape the overlay kept the portrait screen's
// bounds (the right 160 points left bare, taps there missing the unit) and the close button went to
// the portrait screen's corner turned for the device, off the turned screen. Both follow the
// window: the overlay over it, the button upright at its top right, shown there or turned after.
TEST_F(KSPublisherContentRequestTest, InALandscapeInterfaceTheOverlayCoversTheWindowAndTheButtonIsTopRight) {
    serve(answer(unitJSON()));
    plat::ui::setStatusBarHidden(true);
    plat::ui::Application app;
    auto root = std::make_shared<plat::ui::ViewController>();
    auto window = std::make_shared<plat::ui::Window>(plat::sys::Screen::main().bounds());
    app.launch();
    window->setRootViewController(root);
    window->makeKeyAndVisible();
    plat::sys::Device::current().setOrientation(plat::sys::kDeviceOrientationLandscapeLeft);
    ASSERT_EQ(app.interfaceOrientation(), 3);
    Recorder r;
    auto request = make(r);
    request->send();
    ASSERT_TRUE(heard(r, "didDisplay"));
    const auto& button = request->closeButton();
    const struct {
        int orientation;
        Rect overlay, button;
    } steps[] = {
        {3, {0, 0, 480, 320}, {440, 0, 40, 40}},
        {4, {0, 0, 480, 320}, {440, 0, 40, 40}},
        {1, {0, 0, 320, 480}, {280, 0, 40, 40}},
    };
    for (const auto& step : steps) {
        plat::sys::Device::current().setOrientation(step.orientation);
        ASSERT_EQ(app.interfaceOrientation(), step.orientation);
        EXPECT_EQ(request->overlayWindow()->frame(), step.overlay) << step.orientation;
        EXPECT_EQ(button->frame(), step.button) << step.orientation;
        EXPECT_EQ(button->layerTransform().rotation, 0) << step.orientation;
        EXPECT_EQ(button->superview(), request->overlayWindow().get()) << step.orientation;
    }
    request->cancel();
}

// The mended fault: laying the device flat counted as portrait and turned the button.
TEST_F(KSPublisherContentRequestTest, FlatOrUnknownOrientationsLeaveTheButtonWhereItIs) {
    serve(answer(unitJSON()));
    // What an application connects: the device's notifications.
    plat::sys::setReportHooks(
        {nullptr, [](const char* name, const void* sender, const char* className) {
             plat::foundation::NotificationCenter::defaultCenter().post(name, {sender, className});
         }});
    plat::sys::Device::current().setOrientation(plat::sys::kDeviceOrientationLandscapeLeft);
    Recorder r;
    auto request = make(r);
    request->send();
    ASSERT_TRUE(heard(r, "didDisplay"));
    const auto& button = request->closeButton();
    const Rect placed = button->frame();
    EXPECT_DOUBLE_EQ(button->presentationRotation(), std::numbers::pi / 2);
    for (int o : {plat::sys::kDeviceOrientationFaceUp, plat::sys::kDeviceOrientationFaceDown,
                  plat::sys::kDeviceOrientationUnknown}) {
        plat::sys::Device::current().setOrientation(o);
        dktest::turnUntil([] { return false; }, 0.1);
        EXPECT_EQ(button->frame().x, placed.x) << o;
        EXPECT_EQ(button->frame().y, placed.y) << o;
        EXPECT_DOUBLE_EQ(button->presentationRotation(), std::numbers::pi / 2) << o;
    }
    plat::sys::Device::current().setOrientation(plat::sys::kDeviceOrientationLandscapeRight);
    dktest::turnUntil([] { return false; }, 0.1);
    EXPECT_DOUBLE_EQ(button->presentationRotation(), -std::numbers::pi / 2);
    plat::sys::setReportHooks({});
}

// Signed with gid kGID and secret "s3cr3t".
std::string rewardItem(const char* signature, const char* quantity = "1") {
    return std::string(R"({"reward":"coins","quantity":)") + quantity +
           R"(,"receipt":"rcpt-1","signature":")" + signature + "\"}";
}
constexpr const char* kRewardSignature = "0c3ecc16dd0590802db5105c79d73c1390ace723";
constexpr const char* kPurchaseItem =
    R"({"product":"com.example.gems","name":"Gems","quantity":2,"receipt":"rcpt-2","signature":"da27ea69fa49d64ddfa687f544f7c6f14c254d32"})";

TEST_F(KSPublisherContentRequestTest, RewardsAndPurchasesAreCheckedExactlyAndAnswered) {
    auto request = KSPublisherContentRequest::requestForApp("tok", kSecret, "p", nullptr);
    auto object = [](const std::string& text) { return *KSJsonParser().objectWithString(text)->object(); };
    EXPECT_TRUE(request->isValidReward(object(rewardItem(kRewardSignature))));
    EXPECT_TRUE(request->isValidPurchase(object(kPurchaseItem)));
    std::string upper = kRewardSignature;
    for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    EXPECT_FALSE(request->isValidReward(object(rewardItem(upper.c_str()))));
    EXPECT_FALSE(request->isValidReward(object(rewardItem(kRewardSignature, "2"))));
    request->cancel();

    serve(answer(unitJSON()));
    Recorder r;
    auto shown = make(r);
    shown->send();
    ASSERT_TRUE(heard(r, "didDisplay"));
    const std::string rewards = "[" + rewardItem(kRewardSignature) + "," + rewardItem("bad") + "]";
    navigate(shown, "ks://reward?callback=rw&context=" +
                        KSStringUtil::stringByUrlEncodingString(R"({"rewards":)" + rewards + "}"));
    navigate(shown, "ks://purchase?callback=pu&context=" +
                        KSStringUtil::stringByUrlEncodingString(
                            std::string(R"({"purchases":[{"product":"x","signature":"no"},)") +
                            kPurchaseItem + "]}"));
    EXPECT_EQ(std::vector<std::string>(r.heard.begin() + 5, r.heard.end()),
              (std::vector<std::string>{"reward coins 1 rcpt-1", "purchase com.example.gems 2"}));
    const auto& evaluated = fake(shown).evaluated();
    EXPECT_EQ(std::count(evaluated.begin(), evaluated.end(),
                         kiosk::callbackScript(std::string("rw"), nullptr, nullptr)),
              1);
    // Resolutions reach the views on screen, later.
    for (const auto& [code, text] : std::vector<std::pair<int, std::string>>{
             {0, "buy"}, {1, "cancel"}, {2, "error"}, {3, "failure"}, {7, "error"}}) {
        r.purchases.at(0)->reportResolution(code);
        KSJsonObject response;
        response.set("resolution", text);
        KSJsonValue value(response);
        EXPECT_EQ(fake(shown).evaluated().back(), kiosk::callbackScript(std::string("pu"), &value, nullptr))
            << code;
    }
    auto view = shown->contentViews().at(0);
    auto& engine = fake(shown);
    size_t before = engine.evaluated().size();
    navigate(shown, "ks://dismiss");
    r.purchases.at(0)->reportResolution(0);
    EXPECT_EQ(engine.evaluated().size() - before, 1u)
        << "only the page reset of the closing view, no reply after it went";
}

}  // namespace

namespace {

struct PlayerSide : KSContentRequestServiceDelegate {
    std::vector<std::string> heard;
    void requestContentDidDisplay(KSContentRequestService&) override { heard.push_back("display"); }
    void requestContentDidDismiss(KSContentRequestService&, int type) override {
        heard.push_back("dismiss " + std::to_string(type));
    }
    void requestDidFail(KSContentRequestService&, const plat::foundation::Error& e) override {
        heard.push_back("fail " + e.domain);
    }
};

// What the player reaches: the client behind it, its overlay the client's, a pending request
// handed back, and a failure when no unit can be had.
TEST_F(KSPublisherContentRequestTest, ThePlayersInterfaceOverTheClient) {
    serve(R"([)" + answer(unitJSON()) + R"(, {"body": "{\"error\":\"busy\"}"}])");
    PlayerSide player;
    auto service = KSContentRequestService::requestForApp("tok", kSecret, "game_launch", &player);
    ASSERT_TRUE(service->client());
    EXPECT_EQ(service->overlayWindow(), service->client()->overlayWindow());
    service->send();
    EXPECT_EQ(KSContentRequestService::requestForApp("tok", kSecret, "game_launch", &player), service);
    ASSERT_TRUE(until([&] { return player.heard == std::vector<std::string>{"display"}; }));
    navigate(service->client(), "ks://dismiss");
    EXPECT_EQ(player.heard.back(), "dismiss 0");
    // A new request for the same placement once the first has gone; the peer answers an error.
    auto again = KSContentRequestService::requestForApp("tok", kSecret, "game_launch", &player);
    EXPECT_NE(again, service);
    again->send();
    ASSERT_TRUE(until([&] { return player.heard.size() == 3; }));
    EXPECT_EQ(player.heard, (std::vector<std::string>{"display", "dismiss 0", "fail KioskSDK"}));
}

}  // namespace
