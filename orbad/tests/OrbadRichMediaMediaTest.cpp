// The rich-media bridge's camera, songs, alerts, vibration, flashlight, mail and SMS, over the
// media stand-ins configured in the container, by the scripts the page is given, the engine's
// touch-through calls and the stand-ins' lines.
#include <gtest/gtest.h>

#include <filesystem>

#include "orbad/ads/OrbadRichMediaMedia.h"
#include "orbad/ads/OrbadRichMediaWebAdView.h"
#include "orbad/core/OrbadHelper.h"
#include "orbad/tests/OrbadCreativeTestSupport.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Container.h"
#include "platform/image/ImageCodec.h"
#include "platform/services/devices/MediaServices.h"
#include "platform/sys/Device.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Application.h"
#include "platform/ui/MediaScreens.h"
#include "platform/ui/Window.h"
#include "platform/web/FakeWebEngine.h"
#include "platform/web/PageEngine.h"
#include "tests/support/TestSupport.h"

namespace {

using Lines = std::vector<std::string>;
using plat::image::Bitmap;

// 64 x 32, the left half red and the right half blue.
Bitmap halves(int width = 64, int height = 32) {
    Bitmap b{width, height, false, {}};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const bool red = x < width / 2;
            b.rgba.insert(b.rgba.end(), {uint8_t(red ? 255 : 0), 0, uint8_t(red ? 0 : 255), 255});
        }
    return b;
}

bool redAt(const Bitmap& b, int x, int y) {
    const uint8_t* p = &b.rgba[(size_t(y) * b.width + x) * 4];
    return p[0] > 200 && p[2] < 60;
}

TEST(RichMediaPhoto, TurnsMirrorsAndScales) {
    const struct {
        int orientation, width, height;
        int outWidth, outHeight;
        int redX, redY, blueX, blueY;
    } cases[] = {
        {0, 64, 32, 64, 32, 16, 16, 48, 16},   // up
        {1, 64, 32, 64, 32, 48, 16, 16, 16},   // down
        {2, 64, 32, 32, 64, 16, 48, 16, 16},   // left
        {3, 64, 32, 32, 64, 16, 16, 16, 48},   // right: the left half on top
        {4, 64, 32, 64, 32, 48, 16, 16, 16},   // mirrored: the unmirrored form, flipped first
        {5, 64, 32, 64, 32, 16, 16, 48, 16},
        {6, 64, 32, 32, 64, 16, 16, 16, 48},
        {7, 64, 32, 32, 64, 16, 48, 16, 16},
        {0, 100, 50, 100, 50, 25, 25, 75, 25},  // enlarged: rows as long as the target needs
        {3, 20, 10, 10, 20, 5, 4, 5, 15},
    };
    for (const auto& c : cases) {
        const Bitmap out = orbad::orbadResizedImage(halves(), c.orientation, c.width, c.height);
        ASSERT_EQ(out.width, c.outWidth) << c.orientation;
        ASSERT_EQ(out.height, c.outHeight) << c.orientation;
        EXPECT_TRUE(redAt(out, c.redX, c.redY)) << c.orientation << " " << c.width;
        EXPECT_FALSE(redAt(out, c.blueX, c.blueY)) << c.orientation << " " << c.width;
        EXPECT_EQ(out.rgba[3], 255);
    }
    EXPECT_TRUE(orbad::orbadResizedImage(halves(), 0, 4097, 10).rgba.empty());
    EXPECT_TRUE(orbad::orbadResizedImage(halves(), 0, 10, 0).rgba.empty());
}

TEST(RichMediaLinks, MailAndSMS) {
    const auto mail = orbad::orbadConvertEmailURI("mailto:a@x?cc=b@x&cc=c@x,d@x&Subject=S&body=Hi%20there&bcc=e@x");
    EXPECT_EQ(mail.to, Lines{"a@x"});
    EXPECT_EQ(mail.lists.at("cc"), (Lines{"b@x", "c@x", "d@x"}));
    EXPECT_EQ(mail.lists.at("bcc"), Lines{"e@x"});
    EXPECT_EQ(mail.texts, (std::map<std::string, std::string>{{"Subject", "S"}, {"body", "Hi there"}}));
    const auto several = orbad::orbadConvertEmailURI("mailto:a%40x,b@x?cc=f@x,g@x&stop&cc=h@x");
    EXPECT_EQ(several.to, (Lines{"a@x", "b@x"}));
    EXPECT_EQ(several.lists.at("cc"), (Lines{"f@x", "g@x"})) << "the first value split as well; no '=' ends it";

    const struct {
        const char* uri;
        Lines to;
        std::optional<std::string> body;
    } sms[] = {
        {"sms://123", {"123"}, std::nullopt},
        {"sms:123", {"123"}, std::nullopt},
        {"sms:1,2?body=Hi%20you", {"1", "2"}, "Hi you"},
        {"sms:?body=x&other=y", {}, "x"},
    };
    for (const auto& c : sms) {
        const auto link = orbad::orbadConvertSMSURI(c.uri);
        EXPECT_EQ(link.recipients, c.to) << c.uri;
        EXPECT_EQ(link.body, c.body) << c.uri;
    }
}

// The engine: its controller presents, and its touch-through answers `grant`.
struct MediaHost : dktest::NotingHost {
    plat::ui::ViewController* controller = nullptr;
    bool grant = true;
    bool shouldAutoplay() const override { return true; }
    bool richMediaRequiresUserInteraction() const override { return false; }
    plat::ui::ViewController* viewController() const override { return controller; }
    bool adShouldTouchThrough(const std::shared_ptr<orbad::OrbadAd>&) override {
        lines.push_back(grant ? "touch" : "touch refused");
        return grant;
    }
    void adDidFinishTouchThrough(const std::shared_ptr<orbad::OrbadAd>&) override { lines.push_back("finish"); }
};

class ExpandableView : public orbad::OrbadRichMediaWebAdView {
public:
    using OrbadRichMediaWebAdView::OrbadRichMediaWebAdView;
    bool isExpanded() const override { return expanded; }
    bool expanded = false;
};

// A displayed, autoplaying ad whose page registered its hidden callbacks, on a launched phone
// with a plain root controller; the container's LocalServices hold what each test writes.
class RichMediaMediaTest : public ::testing::Test {
protected:
    void SetUp() override {
        plat::foundation::Clock::process().setVirtual(true);
        plat::sys::Device::current().setPreset("phone");
        ASSERT_TRUE(plat::web::useWebEngine("fake"));
        plat::foundation::Container::setMain(*plat::foundation::Container::open("com.test.media", m_dir.file("home")));
        std::filesystem::create_directories(m_dir.file("home/Library/LocalServices"));
        dktest::launchOnScreen(m_app, m_root, m_window);
        host->controller = m_root.get();
        plat::devices::setMediaListener([this](std::string_view line) { media.emplace_back(line); });
        view = std::make_shared<ExpandableView>(plat::ui::Rect{0, 0, 320, 50});
        view->setMainAdView(host);
        view->loadWithAd(dktest::adFrom(R"({"type":"html","props":{"html":"<p>ad</p>"}})"));
        ASSERT_TRUE(dktest::turnUntil([&] { return !host->lines.empty(); }));
        view->adHasBeenDisplayed();
        view->displayCallbacks().willBecomeHidden = "hidden";
        view->displayCallbacks().didReturnFromHidden = "back";
        scripts();
        host->lines.clear();
    }
    void TearDown() override {
        plat::devices::setMediaListener({});
        view.reset();
        dktest::turn(0.1);
        m_window.reset();
        m_app.reset();
        plat::web::useWebEngine("none");
    }
    void service(const std::string& name, const std::string& dictionary) {
        dktest::writeFile(m_dir.file("home/Library/LocalServices/" + name + ".plist"),
                          "<plist version=\"1.0\"><dict>" + dictionary + "</dict></plist>");
    }
    // The page's command or link, then what it was given since the last look.
    Lines navigate(const std::string& url) {
        plat::web::FakeWebEngine::of(*view)->injectNavigation(url, plat::ui::WebNavigationType::LinkClicked, false);
        dktest::turn(0.01);
        return scripts();
    }
    Lines scripts() { return dktest::newScripts(*view, m_seen); }
    Lines took() { return std::exchange(host->lines, {}); }
    Lines heard() { return std::exchange(media, {}); }
    std::shared_ptr<plat::ui::AlertView> alert() {
        return m_app->alerts().empty() ? nullptr : m_app->alerts().front();
    }

    dktest::TempDir m_dir;
    size_t m_seen = 0;
    std::unique_ptr<plat::ui::Application> m_app;
    std::shared_ptr<plat::ui::ViewController> m_root;
    std::shared_ptr<plat::ui::Window> m_window;
    std::shared_ptr<MediaHost> host = std::make_shared<MediaHost>();
    std::shared_ptr<ExpandableView> view;
    Lines media;
};

const char* kPhoto = "madview://cameraTakePhoto?successCallbackFunctionName=ok&errorCallbackFunctionName=e";

TEST_F(RichMediaMediaTest, APhotoTurnedUprightAsAJPEGHalfASecondAfterThePick) {
    const Bitmap picture = halves();
    std::string error;
    ASSERT_TRUE(plat::image::writePNG(m_dir.file("home/pic.png"), 64, 32, picture.rgba, &error)) << error;
    service("camera", "<key>image</key><string>pic.png</string><key>orientation</key><integer>3</integer>");
    EXPECT_EQ(navigate(std::string(kPhoto) + "&width=64&height=32"), Lines{"mAdViewCallbackHandler('hidden');"});
    EXPECT_EQ(took(), Lines{"touch"});
    EXPECT_EQ(heard(), Lines{"camera show"});
    auto picker = plat::ui::ImagePickerController::onScreen();
    ASSERT_TRUE(picker);
    ASSERT_TRUE(picker->pick());
    EXPECT_FALSE(plat::ui::ImagePickerController::onScreen());
    EXPECT_EQ(scripts(), Lines{"mAdViewCallbackHandler('back');"});
    EXPECT_EQ(took(), Lines{"finish"});
    dktest::turn(0.45);
    EXPECT_EQ(scripts(), Lines{});
    dktest::turn(0.1);
    const Lines answer = scripts();
    ASSERT_EQ(answer.size(), 1u);
    const std::string prefix = "mAdViewCallbackHandler('ok', '";
    ASSERT_EQ(answer[0].substr(0, prefix.size()), prefix);
    const std::string base64 = answer[0].substr(prefix.size(), answer[0].size() - prefix.size() - 3);
    EXPECT_EQ(base64.find_first_of(" \r\n"), std::string::npos);
    const auto jpeg = orbad::orbadDataFromBase64EncodedString(base64);
    Bitmap decoded;
    ASSERT_TRUE(plat::image::decode(jpeg.data(), jpeg.size(), &decoded));
    EXPECT_EQ(decoded.width, 32);
    EXPECT_EQ(decoded.height, 64);
    EXPECT_TRUE(redAt(decoded, 16, 10)) << "red on top";
    EXPECT_FALSE(redAt(decoded, 16, 54));
}

TEST_F(RichMediaMediaTest, ACancelledPhotoAndTheSilentEnds) {
    // No camera: nothing at all, and no callback at all without ok.
    EXPECT_EQ(navigate(kPhoto), Lines{});
    EXPECT_EQ(navigate("madview://cameraTakePhoto?errorCallbackFunctionName=e"),
              Lines{"mAdViewCallbackHandler('e', 'ERROR: No image callback function specified');"});
    service("camera", "<key>image</key><string>pic.png</string>");
    host->grant = false;
    EXPECT_EQ(navigate(kPhoto), Lines{});
    EXPECT_EQ(took(), Lines{"touch refused"});
    EXPECT_FALSE(plat::ui::ImagePickerController::onScreen());

    host->grant = true;
    navigate(kPhoto);
    took();
    ASSERT_TRUE(plat::ui::ImagePickerController::onScreen());
    // Asked again while the picker shows: refused, and the page and the engine get all back.
    EXPECT_EQ(navigate(kPhoto), (Lines{"mAdViewCallbackHandler('hidden');", "mAdViewCallbackHandler('back');"}));
    EXPECT_EQ(took(), (Lines{"touch", "finish"}));
    plat::ui::ImagePickerController::onScreen()->cancel();
    EXPECT_EQ(scripts(), (Lines{"mAdViewCallbackHandler('e', 'User cancelled the action');",
                                "mAdViewCallbackHandler('back');"}));
    EXPECT_EQ(took(), Lines{"finish"});
    // A picture that cannot be read (there is no pic.png) is a cancel too.
    navigate(kPhoto);
    plat::ui::ImagePickerController::onScreen()->pick();
    dktest::turn(1);
    EXPECT_EQ(scripts()[0], "mAdViewCallbackHandler('e', 'User cancelled the action');");
}

TEST_F(RichMediaMediaTest, Songs) {
    const std::string query = "madview://mediaQuerySongs?successCallbackFunctionName=ok&errorCallbackFunctionName=e";
    EXPECT_EQ(navigate(query + "&song=%7B%7D"),
              Lines{"mAdViewCallbackHandler('e', 'ERROR: device does not have access to the song library');"});
    service("songs", "<key>items</key><array>"
                     "<dict><key>title</key><string>A's</string><key>artist</key><string>X</string></dict>"
                     "<dict><key>title</key><string>B</string><key>artist</key><string>Y</string></dict>"
                     "</array>");
    const struct {
        std::string song;
        int button;
        std::string answer;
    } cases[] = {
        {"&song=%7B%22artist%22%3A%22X%22%7D", 0, "'e', 'Error: user denied the requested action'"},
        {"&song=%7B%22artist%22%3A%22X%22%7D", 1, R"('ok', '[{"artist":"X","title":"A&#39;s"}]')"},
        {"&song=%7B%22artist%22%3A%22Z%22%7D", 1, "'ok', '[]'"},
        {"", 1, "'e', 'Error in query songs, song object is nil'"},
        {"&song=%5B1%5D", 1, "'e', 'Error in query songs, invalid JSON: the song object is not a JSON object'"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(navigate(query + c.song), Lines{}) << "nothing until the user answers";
        auto shown = alert();
        ASSERT_TRUE(shown);
        EXPECT_EQ(shown->title(), "Song Access");
        EXPECT_EQ(shown->buttonTitles(), (Lines{"Deny", "Allow"}));
        shown->pressButton(c.button);
        EXPECT_EQ(scripts(), Lines{"mAdViewCallbackHandler(" + c.answer + ");"}) << c.song;
    }
    navigate(query + "&song=%7Bartist");
    alert()->pressButton(1);
    const Lines bad = scripts();
    ASSERT_EQ(bad.size(), 1u);
    EXPECT_EQ(bad[0].rfind("mAdViewCallbackHandler('e', 'Error in query songs, invalid JSON: ", 0), 0u) << bad[0];
    EXPECT_EQ(took(), Lines{}) << "the song alert takes no touch-through";
}

TEST_F(RichMediaMediaTest, CustomAlertsFinishOnlyTheTouchThroughTheyTook) {
    navigate("madview://deviceAlert?title=T%20t&message=M&buttonTitles=One%7CTwo&callbackFunctionName=cb");
    ASSERT_TRUE(alert());
    EXPECT_EQ(alert()->title(), "T t");
    EXPECT_EQ(alert()->buttonTitles(), (Lines{"One", "Two"}));
    EXPECT_EQ(took(), Lines{"touch"});
    alert()->pressButton(1);
    EXPECT_EQ(scripts(), Lines{"mAdViewCallbackHandler('cb', 1, 'Two');"});
    EXPECT_EQ(took(), Lines{"finish"});

    // Expanded, the ad holds the screen already: no touch-through taken, none finished.
    view->expanded = true;
    navigate("madview://deviceAlert?title=T&callbackFunctionName=cb");
    ASSERT_TRUE(alert());
    EXPECT_EQ(alert()->buttonTitles(), Lines{"OK"}) << "an alert without titles can still be closed";
    alert()->pressButton(0);
    EXPECT_EQ(scripts(), Lines{"mAdViewCallbackHandler('cb', 0, 'OK');"});
    EXPECT_EQ(took(), Lines{});

    view->expanded = false;
    host->grant = false;
    navigate("madview://deviceAlert?title=T&callbackFunctionName=cb");
    EXPECT_FALSE(alert());
    navigate("madview://deviceAlert?title=T");
    EXPECT_FALSE(alert());
}

TEST_F(RichMediaMediaTest, MailAndSMSComposers) {
    // Without the composers the links end silently.
    navigate("sms:123");
    EXPECT_EQ(heard(), Lines{});
    EXPECT_EQ(took(), Lines{});
    service("mail", "");
    service("sms", "");
    const std::pair<std::string, std::string> cases[] = {
        {"mailto:a@x?cc=b@x&cc=c@x,d@x&Subject=S&body=Hi%20there", "mail to=a@x|cc=b@x,c@x,d@x|bcc=|subject=|body=Hi there"},
        {"sms://123", "sms to=123|body="},
        {"sms:1,2?body=Hi%20you", "sms to=1,2|body=Hi you"},
    };
    for (const auto& [link, line] : cases) {
        EXPECT_EQ(navigate(link), Lines{"mAdViewCallbackHandler('hidden');"}) << link;
        EXPECT_EQ(heard(), Lines{line});
        EXPECT_EQ(took(), Lines{"touch"});
        auto composer = plat::ui::ComposeViewController::onScreen();
        ASSERT_TRUE(composer);
        composer->finish();
        EXPECT_FALSE(plat::ui::ComposeViewController::onScreen());
        EXPECT_EQ(scripts(), Lines{"mAdViewCallbackHandler('back');"});
        EXPECT_EQ(took(), Lines{"finish"});
    }
    service("mail", "<key>canSendMail</key><false/>");
    navigate("mailto:a@x");
    EXPECT_EQ(heard(), Lines{});
}

TEST_F(RichMediaMediaTest, FlashlightAndVibration) {
    const std::string on = "madview://deviceFlashlightOn?successCallbackFunctionName=ok&errorCallbackFunctionName=e";
    const std::string off = "madview://deviceFlashlightOff?successCallbackFunctionName=ok&errorCallbackFunctionName=e";
    auto error = [](const std::string& text) { return Lines{"mAdViewCallbackHandler('e', 'Error: " + text + "');"}; };
    const Lines ok{"mAdViewCallbackHandler('ok');"};
    EXPECT_EQ(navigate(on), error("the device does not apear to have a flashlight, make sure to always check "
                                  "availability first"));
    EXPECT_EQ(navigate(off), error("the flashlight was already off or not present on the device"));
    service("torch", "<key>lockFails</key><true/>");
    EXPECT_EQ(navigate(on), error("unable to acquire the lock required for turning on the flashlight"));
    service("torch", "");
    EXPECT_EQ(navigate(on), ok);
    EXPECT_EQ(navigate(on), error("the flashlight is already on"));
    EXPECT_EQ(heard(), Lines{"torch on"});
    EXPECT_EQ(navigate(off), ok);
    EXPECT_EQ(navigate(off), error("the flashlight was already off or not present on the device"));
    EXPECT_EQ(heard(), Lines{"torch off"});
    // Cleaning up the ad turns it off without a word to the page.
    navigate(on);
    view->cleanupAd();
    EXPECT_EQ(heard(), (Lines{"torch on", "torch off"}));
    EXPECT_EQ(scripts(), Lines{});

    EXPECT_EQ(navigate("madview://deviceVibrate?successCallbackFunctionName=ok"), ok);
    EXPECT_EQ(heard(), Lines{"vibrate"});
}

TEST_F(RichMediaMediaTest, AnswersForAViewThatHasGoneAreDropped) {
    service("camera", "<key>image</key><string>pic.png</string>");
    service("mail", "");
    navigate("madview://deviceAlert?title=T&callbackFunctionName=cb");
    navigate(kPhoto);
    auto shown = alert();
    auto picker = plat::ui::ImagePickerController::onScreen();
    ASSERT_TRUE(shown && picker);
    EXPECT_EQ(took(), (Lines{"touch", "touch"}));
    view.reset();
    // The view gives back what it took and takes its picker down: nothing else could.
    EXPECT_EQ(took(), (Lines{"finish", "finish"}));
    EXPECT_FALSE(picker->presentingViewController());
    EXPECT_TRUE(shown->pressButton(0));
    EXPECT_EQ(took(), Lines{}) << "the alert's answer finds no one";
}

}  // namespace
