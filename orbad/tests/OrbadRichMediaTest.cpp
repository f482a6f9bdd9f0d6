// The rich-media creative on the fake page engine: its page files, load reports, display scripts,
// the link decision, the command URLs with their gates and the permission key, each by the exact
// scripts the page is given.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "orbad/ads/OrbadRichMediaURLParser.h"
#include "orbad/ads/OrbadRichMediaWebAdView.h"
#include "orbad/ads/OrbadWebAdView.h"
#include "platform/foundation/Bundle.h"
#include "orbad/tests/OrbadCreativeTestSupport.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/sys/ClassRegistry.h"
#include "platform/ui/Application.h"
#include "platform/ui/ScrollView.h"
#include "platform/web/FakeWebEngine.h"
#include "platform/web/PageEngine.h"
#include "tests/support/TestSupport.h"

namespace {

using orbad::OrbadRichMediaURLParser;
using orbad::OrbadRichMediaWebAdView;
using plat::ui::WebNavigationType;
using Lines = std::vector<std::string>;

constexpr WebNavigationType kClick = WebNavigationType::LinkClicked;
constexpr WebNavigationType kOther = WebNavigationType::Other;
const std::string kError = std::string("', '") + orbad::kOrbadPermissionsErrorText + "');";

TEST(RichMediaURLParser, NamesAndParameters) {
    using Map = std::map<std::string, std::string>;
    const struct {
        const char* url;
        const char* name;
        Map parameters;
    } cases[] = {
        {"madview://deviceModel", "deviceModel", {}},
        {"madview://deviceModel?callbackFunctionName=cb", "deviceModel", {{"callbackFunctionName", "cb"}}},
        {"madview://x?a=1=2&b=", "x", {{"a", "1=2"}}},
        {"madview://x?a&b=1&c=NuLL&d=null2", "x", {{"a&b", "1"}, {"d", "null2"}}},
        {"madview://x?a=1&a=2&tail", "x", {{"a", "2"}}},
        {"madview://x?noequals", "x", {}},
        // Too short to hold a name, or a "?" inside the scheme's part: no command.
        {"madview:/", "", {}},
        {"madview:?a=1", "", {{"a", "1"}}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(OrbadRichMediaURLParser::extractFunctionCallFromURL(c.url), c.name) << c.url;
        EXPECT_EQ(OrbadRichMediaURLParser::extractParametersFromUrl(c.url), c.parameters) << c.url;
    }
}

TEST(RichMediaURLParser, QuotesTextForAScriptLiteral) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain text/é?=&", "plain text/é?=&"},
        {"a'b\\c", "a\\'b\\\\c"},
        {"l\nr\r", "l\\nr\\r"},
        {"\xE2\x80\xA8|\xE2\x80\xA9", "\\u2028|\\u2029"},
        {std::string("\t\x01", 2), "\\x09\\x01"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(orbad::orbadJSQuoted(in), out) << in;
}

// The engine's answers, and what the view asks of it, written down.
struct RichHost : dktest::NotingHost {
    bool autoplay = false, interaction = true;
    bool shouldAutoplay() const override { return autoplay; }
    bool richMediaRequiresUserInteraction() const override { return interaction; }
    double adWidth() const override { return 320; }
    double adHeight() const override { return 50; }
    std::string mraidURL() const override { return "http://h/mraid's.js"; }
    void logInfo(const std::string& text) const override { const_cast<RichHost*>(this)->lines.push_back("log " + text); }
    int interfaceOrientation() const override { return orientation; }
    int orientation = 1;
};

class TestRichView : public OrbadRichMediaWebAdView {
public:
    using OrbadRichMediaWebAdView::OrbadRichMediaWebAdView;
    bool isExpanded() const override { return expanded; }
    bool expanded = false;
    Lines* heard = nullptr;

protected:
    void sendSMSFromURI(const std::string& uri) override { heard->push_back("sms " + uri); }
    void sendEmailFromURI(const std::string& uri) override { heard->push_back("mail " + uri); }
};

struct Decisions : plat::ui::WebViewObserver {
    Lines lines;
    void webViewDecided(plat::ui::WebView&, const plat::ui::WebRequest& request, WebNavigationType,
                        bool allowed) override {
        lines.push_back((allowed ? "load " : "refuse ") + request.url);
    }
};

class RichMediaTest : public ::testing::Test {
protected:
    void SetUp() override {
        plat::foundation::Clock::process().setVirtual(true);
        ASSERT_TRUE(plat::web::useWebEngine("fake"));
        plat::foundation::Container::setMain(*plat::foundation::Container::open("com.test.rich", m_dir.file("home")));
        plat::ui::WebView::setObserver(&decisions);
    }
    void TearDown() override {
        plat::ui::WebView::setObserver(nullptr);
        view.reset();
        plat::web::useWebEngine("none");
    }
    // A new view on the host, loaded with `html` until the engine heard of it.
    void load(const std::string& html = "<p>ad</p>", bool finish = true) {
        view = std::make_shared<TestRichView>(plat::ui::Rect{0, 0, 320, 50});
        view->heard = &host->lines;
        view->setMainAdView(host);
        view->loadWithAd(dktest::adFrom(R"({"type":"html","props":{"html":")" + html + R"(","k":1}})"));
        if (!finish) return;
        ASSERT_TRUE(dktest::turnUntil([&] { return !host->lines.empty(); }));
        dktest::turn(0.1);
        forget();
    }
    plat::web::FakeWebEngine& fake() { return *plat::web::FakeWebEngine::of(*view); }
    void forget() {
        m_seen = fake().evaluated().size();
        host->lines.clear();
        decisions.lines.clear();
    }
    // Scripts given since the last look.
    Lines scripts() { return dktest::newScripts(*view, m_seen); }
    void navigate(const std::string& url, WebNavigationType type = kOther) {
        fake().injectNavigation(url, type, false);
        dktest::turn(0.1);
    }
    // "domReady", then a link the user clicked.
    void unrestrict() {
        navigate("madview://domReady");
        navigate("madview://nothing", kClick);
        ASSERT_FALSE(view->adIsRestricted());
        forget();
    }
    std::string filesInCache() {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(view->mraidCacheLocation()).parent_path()))
            names.insert(entry.path().filename().string().substr(0, 12));
        std::string text;
        for (const auto& name : names) text += name + " ";
        return text;
    }

    dktest::TempDir m_dir;
    size_t m_seen = 0;
    Decisions decisions;
    std::shared_ptr<RichHost> host = std::make_shared<RichHost>();
    std::shared_ptr<TestRichView> view;
};

TEST_F(RichMediaTest, WritesThePageBesideTheStubAndReportsTheFirstLoadOnce) {
    load("<b>x</b>", false);
    fake().answer(orbad::kOrbadShouldOpenScript, "http://h/open");
    ASSERT_TRUE(dktest::turnUntil([&] { return host->lines.size() >= 2; }));
    EXPECT_EQ(host->lines, (Lines{"finished", "browser http://h/open 3"}));
    const std::string page = view->cacheLocation();
    EXPECT_EQ(std::filesystem::path(page).parent_path().filename(), plat::foundation::processName());
    char id[32];
    std::snprintf(id, sizeof id, "-%lx.html", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(view.get())));
    EXPECT_TRUE(page.ends_with(id)) << page;
    EXPECT_NE(page.find("/OrbadTempAd-" + std::to_string(int(plat::foundation::Clock::wallSeconds() - 978307200) / 100)),
              std::string::npos) << page;
    EXPECT_EQ(dktest::readFile(page), "<b>x</b>");
    EXPECT_EQ(dktest::readFile(view->mraidCacheLocation()), view->stubScript());
    EXPECT_NE(view->stubScript().find("s.setAttribute('src', 'http://h/mraid\\'s.js');"), std::string::npos);
    EXPECT_NE(view->stubScript().find("_obIsExpanded: false, _obAdUnitType: '320x50'};"), std::string::npos);
    EXPECT_EQ(fake().settings().startScript, R"(window.mAdViewAdProperties = {"html":"<b>x<\/b>","k":1};)");
    // A later load of the page, and a failing one, are the page's own business; the status bar's
    // activity indicator follows every load.
    host->lines.clear();
    plat::ui::Application app;
    fake().setHoldsLoads(true);
    fake().injectNavigation("file://" + view->cacheLocation() + "?again", kOther);
    EXPECT_TRUE(dktest::turnUntil([&] { return app.isNetworkActivityIndicatorVisible(); }));
    view->WebView::stopLoading();
    fake().setHoldsLoads(false);
    fake().injectNavigation("file://" + view->cacheLocation() + "#third", kOther);
    dktest::turn(0.5);
    EXPECT_FALSE(app.isNetworkActivityIndicatorVisible());
    EXPECT_EQ(host->lines, Lines{});
}

TEST_F(RichMediaTest, OnePageFileAfterThreeLoadsAndNoneAfterTeardown) {
    load();
    for (int i = 0; i < 2; ++i) {
        view->loadWithAd(dktest::adFrom(R"({"type":"html","props":{"html":"<i>"}})"));
        dktest::turn(0.2);
    }
    EXPECT_EQ(filesInCache(), "OrbadTempAd- mraid.js ") << "one page, one stub";
    view->prepareForReuse();
    EXPECT_EQ(filesInCache(), "mraid.js ");
    view->loadWithAd(dktest::adFrom(R"({"type":"html","props":{"html":"<i>"}})"));
    const auto directory = std::filesystem::path(view->mraidCacheLocation()).parent_path();
    view.reset();
    EXPECT_TRUE(std::filesystem::is_empty(directory));
}

TEST_F(RichMediaTest, AnUnwritablePageOrNoMarkupFailsAfterAMoment) {
    load();
    view->loadWithAd(dktest::adFrom(R"({"type":"html"})"));
    dktest::turn(0.04);
    EXPECT_EQ(host->lines, Lines{});
    dktest::turn(0.02);
    EXPECT_EQ(host->lines, Lines{"failed nil"});
    // A failure still pending is the earlier ad's: the next load takes its place.
    view->loadWithAd(dktest::adFrom(R"({"type":"html"})"));
    view->loadWithAd(dktest::adFrom(R"({"type":"html","props":{"html":"<i>"}})"));
    dktest::turn(0.5);
    EXPECT_EQ(host->lines, (Lines{"failed nil", "finished"}));
    const auto directory = std::filesystem::path(view->mraidCacheLocation()).parent_path();
    std::filesystem::remove_all(directory);
    std::ofstream(directory.string()) << "a file where the folder goes";
    host->lines.clear();
    view->loadWithAd(dktest::adFrom(R"({"type":"html","props":{"html":"<i>"}})"));
    dktest::turn(0.1);
    EXPECT_EQ(host->lines, Lines{"failed nil"});
}

TEST_F(RichMediaTest, DisplayDismissalAndRotationScripts) {
    for (bool autoplay : {false, true}) {
        host->autoplay = autoplay;
        load();
        view->displayCallbacks().didDisplay = "shown";
        view->displayCallbacks().hasBeenDismissed = "gone";
        view->adHasBeenDisplayed();
        Lines expected{orbad::kOrbadDisplayedNoticeScript, "mAdViewCallbackHandler('shown');"};
        if (autoplay) expected.push_back(orbad::kOrbadAutoplayScript);
        EXPECT_EQ(scripts(), expected);
        EXPECT_EQ(fake().settings().mediaNeedsAction, !autoplay);
        view->adHasBeenDismissed();
        EXPECT_EQ(scripts(), (Lines{"mAdViewCallbackHandler('gone');", orbad::kOrbadPauseScript}));
        EXPECT_FALSE(view->displayCallbacks().didDisplay);
    }
    const std::pair<int, const char*> rotations[] = {{1, "0"}, {2, "180"}, {3, "90"}, {4, "-90"}};
    for (const auto& [orientation, degrees] : rotations) {
        host->orientation = orientation;
        view->didRotateFromInterfaceOrientation(0);
        EXPECT_EQ(scripts(), Lines{std::string("window.__defineGetter__('orientation',function() {return ") +
                                   degrees + ";});window.onorientationchange();"});
    }
    host->orientation = 5;
    view->didRotateFromInterfaceOrientation(0);
    EXPECT_EQ(scripts(), Lines{});
}

// Each row from a new view: held (restricted, no autoplay), free (the key proven) or auto (an
// autoplaying ad on screen).
TEST_F(RichMediaTest, TheLinkDecision) {
    const struct {
        const char* state;
        bool expanded;
        std::string url;
        WebNavigationType type;
        Lines heard;
    } cases[] = {
        // The ad's own page, again or at an anchor; no other local file (a mended fault: every
        // file loaded).
        {"held", false, "@PAGE@?again", kOther, {"load"}},
        {"held", false, "@PAGE@#top", kClick, {"load"}},
        {"held", false, "file:///x.html", kOther, {"refuse", "js mAdViewUnknownURLHandler('file:///x.html');"}},
        {"held", false, "FILE:///etc/passwd", kClick, {"refuse", "js mAdViewUnknownURLHandler('FILE:///etc/passwd');"}},
        {"held", false, "data:text/html,x", kOther, {"refuse", "js mAdViewUnknownURLHandler('data:text/html,x');"}},
        {"held", false, "javascript:x()", kClick, {"refuse", "js mAdViewUnknownURLHandler('javascript:x()');"}},
        {"held", false, "http://a/b", kOther, {"load", "log Allowing second web load of URL (likely iframe?) ->http://a/b<- "}},
        {"held", false, "http://a/b", kClick, {"refuse", "url http://a/b"}},
        {"free", false, "https://a/b", kOther, {"refuse", "url https://a/b"}},
        {"held", false, "http://a/?shouldOpenInNewWindow=no", kOther, {"refuse"}},
        {"held", false, "http://a/?shouldOpenInNewWindow=No", kClick, {"load"}},
        {"free", false, "http://a/?shouldOpenInNewWindow=no", kOther, {"load"}},
        {"held", false, "http://a/?shouldOpenInNewWindow=YES", kClick, {"refuse", "url http://a/?shouldOpenInNewWindow=YES"}},
        {"held", true, "http://a/b", kOther, {"load"}},
        {"held", false, "tel:123", kOther, {"refuse"}},
        {"held", false, "tel:123", kClick, {"load"}},
        {"auto", false, "tel:123", kOther, {"load"}},
        {"held", false, "sms:123", kOther, {"refuse"}},
        {"held", false, "sms:123", kClick, {"refuse", "sms sms:123"}},
        {"free", false, "http://a/?dest=sms%3A555%3Fbody%3Dhi", kOther, {"refuse", "sms sms:555?body=hi"}},
        {"held", false, "mailto:a@b", kOther, {"refuse"}},
        {"free", false, "mailto:a@b", kOther, {"load"}},
        {"ab", false, "ab", kClick, {"refuse"}},
        {"free", false, "x:abcd", kOther, {"refuse"}},
        {"free", false, "x:abcde", kOther, {"refuse", "js mAdViewUnknownURLHandler('x:abcde');"}},
        {"held", false, "about:blank", kOther, {"refuse", "js mAdViewUnknownURLHandler('about:blank');"}},
        // An iframe's address cannot end the script's literal.
        {"held", false, "x:');evil();('", kOther, {"refuse", "js mAdViewUnknownURLHandler('x:\\');evil();(\\'');"}},
    };
    for (const auto& c : cases) {
        host->autoplay = c.state == std::string("auto");
        load();
        view->expanded = c.expanded;
        if (c.state == std::string("free")) unrestrict();
        if (c.state == std::string("auto")) view->adHasBeenDisplayed();
        forget();
        std::string url = c.url;
        if (url.starts_with("@PAGE@")) url.replace(0, 6, "file://" + view->cacheLocation());
        navigate(url, c.type);
        Lines heard;
        for (const auto& line : decisions.lines) heard.push_back(line.substr(0, line.find(' ')));
        for (const auto& line : host->lines) heard.push_back(line);
        for (const auto& script : scripts()) heard.push_back("js " + script);
        EXPECT_EQ(heard, c.heard) << c.state << " " << c.url;
    }
    // With a mail composer the link goes to it.
    plat::sys::registerClass("MFMailComposeViewController", [] { return true; });
    load();
    unrestrict();
    navigate("mailto:a@b");
    plat::sys::unregisterClass("MFMailComposeViewController");
    EXPECT_EQ(decisions.lines, Lines{"refuse mailto:a@b"});
    EXPECT_EQ(host->lines, Lines{"mail mailto:a@b"});
}

TEST_F(RichMediaTest, ThePermissionKeyAndTheGates) {
    load();
    navigate("madview://deviceVibrate?errorCallbackFunctionName=e");
    EXPECT_TRUE(view->adIsRestricted());
    EXPECT_EQ(scripts(), Lines{"mAdViewCallbackHandler('e" + kError});
    navigate("madview://domReady");
    const std::string key = view->permissionsKey().value_or("");
    ASSERT_EQ(key.size(), 36u);
    for (char c : key) EXPECT_TRUE(std::isdigit(c) || std::isupper(c) || c == '-') << key;
    EXPECT_EQ(scripts(), Lines{"window.addEventListener('click', function() { mAdViewPermissionsKey = '" + key +
                               "';}, true);"});
    // The autoplay gate holds until the ad may autoplay and is on screen; the interaction gate
    // only while the engine asks for a touch.
    navigate("madview://deviceAlert?errorCallbackFunctionName=a&callbackFunctionName=c");
    host->interaction = false;
    view->setRestrictions();
    navigate("madview://deviceVibrate?errorCallbackFunctionName=e");
    EXPECT_EQ(scripts(), Lines{"mAdViewCallbackHandler('a" + kError});
    // The page's own check answering the key proves nothing: a page can click itself.
    fake().answer("mAdViewPermissionsCheck();", key);
    navigate("madview://deviceAlert?errorCallbackFunctionName=a");
    EXPECT_TRUE(view->adIsRestricted());
    EXPECT_EQ(scripts(), Lines{"mAdViewCallbackHandler('a" + kError});
    // A link the user clicked does.
    navigate("madview://deviceAlert?errorCallbackFunctionName=a", kClick);
    EXPECT_FALSE(view->adIsRestricted());
    EXPECT_FALSE(fake().settings().mediaNeedsAction);
    const char* refused[] = {"calendarAddEvent", "calendarGetCalendars", "calendarQueryEvents", "contactsAddContact",
                             "contactsGetContact", "mediaGetImage", "mediaSendImage"};
    for (const char* name : refused) navigate(std::string("madview://") + name + "?errorCallbackFunctionName=r'");
    for (const char* name : {"contactsAddVCard", "deviceStartOrientationChangeListening",
                             "deviceStopOrientationChangeListening", "nosuchcommand", "DomReady"})
        navigate(std::string("madview://") + name + "?errorCallbackFunctionName=r");
    navigate("madview://calendarAddEvent");
    EXPECT_EQ(scripts(), Lines(7, "mAdViewCallbackHandler('r\\'" + kError));
}

// The scrolling switches reach every scroll view under the ad, both ways of bouncing, and the
// page's own scrolling.
TEST_F(RichMediaTest, TheScrollingSwitchesSetBothBounces) {
    load();
    auto outer = std::make_shared<plat::ui::ScrollView>(plat::ui::Rect{0, 0, 320, 50});
    auto inner = std::make_shared<plat::ui::ScrollView>(plat::ui::Rect{0, 0, 100, 50});
    outer->addSubview(inner);
    view->addSubview(outer);
    OrbadRichMediaWebAdView::enableScrolling(*view);
    for (auto* scroll : {outer.get(), inner.get()})
        EXPECT_TRUE(scroll->alwaysBounceVertical() && scroll->alwaysBounceHorizontal());
    EXPECT_TRUE(fake().settings().scrollEnabled);
    OrbadRichMediaWebAdView::disableScrolling(*view);
    for (auto* scroll : {outer.get(), inner.get()})
        EXPECT_FALSE(scroll->alwaysBounceVertical() || scroll->alwaysBounceHorizontal());
    EXPECT_FALSE(fake().settings().scrollEnabled);
}

TEST_F(RichMediaTest, TheBrowserOpensOutsideAndItsCloseRestrictsAgain) {
    load();
    unrestrict();
    view->displayCallbacks().willBecomeHidden = "hide";
    view->displayCallbacks().didReturnFromHidden = "back";
    navigate("http://a/b", kClick);
    EXPECT_EQ(host->lines, Lines{"url http://a/b"});
    EXPECT_EQ(scripts(), Lines{"mAdViewCallbackHandler('hide');"});
    plat::foundation::NotificationCenter::defaultCenter().post("ORBAD_BROWSER_CLOSE");
    EXPECT_TRUE(view->adIsRestricted());
    EXPECT_EQ(scripts(), Lines{"mAdViewCallbackHandler('back');"});
    plat::foundation::NotificationCenter::defaultCenter().post("ORBAD_BROWSER_CLOSE");
    EXPECT_EQ(scripts(), Lines{}) << "heard once";
}

TEST_F(RichMediaTest, TheRichMediaActionGoesThroughTheEngine) {
    load();
    std::string called;
    view->sendActionWithSuccessSelectorName(
        "takePhoto", [&](const plat::foundation::Value& v) { called = v.string() ? *v.string() : ""; },
        plat::foundation::Value("arg"));
    EXPECT_EQ(host->lines, Lines{"action nil"});
    auto action = std::dynamic_pointer_cast<orbad::OrbadAdRichMediaAction>(view->currentAd()->action());
    ASSERT_TRUE(action);
    EXPECT_EQ(action->richMedia().selectorName, "takePhoto");
    EXPECT_FALSE(action->autoplay());
    EXPECT_TRUE(action->callRichMedia());
    EXPECT_EQ(called, "arg");
}

}  // namespace
