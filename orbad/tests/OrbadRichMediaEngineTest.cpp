// The rich-media creative on WPE WebKit: the stub and the ad's properties as the page sees them,
// replies that carry page text arriving intact without running any of it, and the interaction gate
// held by the view's own touches, not by anything the page can do to itself.
#include <gtest/gtest.h>

#include <set>

#include "orbad/ads/OrbadRichMediaWebAdView.h"
#include "orbad/tests/OrbadCreativeTestSupport.h"
#include "platform/foundation/Container.h"
#include "platform/sys/Device.h"
#include "platform/web/PageEngine.h"
#include "tests/support/TestSupport.h"

namespace {

// Presents expansions from the test's root controller and always grants the take-over.
struct BootHost : dktest::NotingHost {
    plat::ui::ViewController* root = nullptr;
    std::string mraidURL() const override { return "http://127.0.0.1:9/mraid's.js"; }
    plat::ui::ViewController* viewController() const override { return root; }
    bool adShouldTouchThrough(const std::shared_ptr<orbad::OrbadAd>&) override { return true; }
};

constexpr const char* kPage =
    "<html><head><script src='mraid.js' onload='window.stubLoaded = 1'></script><script>"
    "window.rec = [];"
    "function mAdViewCallbackHandler() { window.rec.push(Array.prototype.slice.call(arguments)); }"
    "function mAdViewUnknownURLHandler(u) { window.rec.push(['unknown', u]); }"
    "</script></head><body>ad</body></html>";

// A page that sends commands through hidden iframes, notes every reply as "name|text", and answers
// the key check with whatever its click listener stored. Once loaded, it says "domReady" and clicks
// itself until the listener has given it the key; then it asks to vibrate, and clicks a command link
// from its own script.
constexpr const char* kGatePage =
    "<html><head><script>"
    "window.rec = [];"
    "function mAdViewCallbackHandler() { rec.push(Array.prototype.slice.call(arguments).join('|')); }"
    "function mAdViewPermissionsCheck() { return window.mAdViewPermissionsKey; }"
    "function send(c) { var f = document.createElement('iframe'); f.style.display = 'none'; "
    "f.src = 'madview://' + c; document.body.appendChild(f); }"
    "function vibrate(t) { send('deviceVibrate?successCallbackFunctionName=ok' + t + "
    "'&errorCallbackFunctionName=no' + t); }"
    "window.onload = function() { send('domReady'); var t = setInterval(function() {"
    " if (typeof window.mAdViewPermissionsKey != 'string') {"
    " document.body.dispatchEvent(new MouseEvent('click', {bubbles: true})); return; }"
    " clearInterval(t); vibrate(1); var a = document.createElement('a');"
    " a.href = 'madview://deviceVibrate?successCallbackFunctionName=ok2&errorCallbackFunctionName=no2';"
    " document.body.appendChild(a); a.click(); }, 20); };"
    "</script></head><body style='margin:0;height:50px'>ad</body></html>";

class RichMediaOnTheEngine : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(plat::web::useWebEngine("wpe"));
        plat::sys::Device::current().reset();
        plat::sys::Device::current().setPreset("phone");
        plat::foundation::Container::setMain(*plat::foundation::Container::open("com.test.wpe", m_dir.file("home")));
        dktest::launchOnScreen(m_app, m_root, m_window);
        host->root = m_root.get();
        view = std::make_shared<orbad::OrbadRichMediaWebAdView>(plat::ui::Rect{0, 0, 320, 50});
        m_root->view()->addSubview(view);
        view->setMainAdView(host);
    }
    void TearDown() override {
        view.reset();
        dktest::turn(0.1);
        m_window.reset();
        m_app.reset();
        plat::web::useWebEngine("none");
    }
    // The ad of `html` (and the properties after it, JSON members) loaded until the engine heard.
    void load(const std::string& html, const std::string& properties = "") {
        host->lines.clear();
        view->loadWithAd(
            dktest::adFrom(std::string(R"({"type":"html","props":{"html":")") + html + "\"" + properties + "}}"));
        ASSERT_TRUE(dktest::turnUntil([&] { return !host->lines.empty(); }, 30));
        ASSERT_EQ(host->lines, std::vector<std::string>{"finished"});
    }
    std::string js(const std::string& script) { return view->stringByEvaluatingJavaScript(script); }
    // The page's n-th reply (from 0), once it is in.
    std::string reply(int n) {
        const std::string count = "String(window.rec.length > " + std::to_string(n) + ")";
        if (!dktest::turnUntil([&] { return js(count) == "true"; }, 30)) return "(none)";
        return js("window.rec[" + std::to_string(n) + "]");
    }

    dktest::TempDir m_dir;
    std::unique_ptr<plat::ui::Application> m_app;
    std::shared_ptr<plat::ui::ViewController> m_root;
    std::shared_ptr<plat::ui::Window> m_window;
    std::shared_ptr<BootHost> host = std::make_shared<BootHost>();
    std::shared_ptr<orbad::OrbadRichMediaWebAdView> view;
};

TEST_F(RichMediaOnTheEngine, TheStubLoadsTheBootLoaderOnceAndKeepsWhatThePageHas) {
    load(kPage);
    EXPECT_EQ(js("String(window.stubLoaded)"), "1") << "mraid.js lies beside the page";
    EXPECT_EQ(js("String(window.isOrbad)"), "true");
    const std::string loaders =
        "String(Array.prototype.filter.call(document.scripts, function(s) { "
        "return s.getAttribute('src') == \"http://127.0.0.1:9/mraid's.js\"; }).length)";
    EXPECT_EQ(js(loaders), "0");
    EXPECT_EQ(js("mraid.getState()"), "loading");
    EXPECT_EQ(js(loaders), "1");
    EXPECT_EQ(js("mraid.getState()"), "loading");
    EXPECT_EQ(js("mraid.addEventListener('ready', function() {}); mraid.addEventListener('ready'); "
                 "String(mraid.tmpListeners.ready.length)"),
              "1");
    EXPECT_EQ(js(loaders), "1");
    EXPECT_EQ(js("String(mraid._obIsExpanded) + ' ' + mraid._obAdUnitType"), "false 0x0");
    js("window.mraid = {mine: 1}; window.isOrbad = false;");
    js(view->stubScript());
    EXPECT_EQ(js("String(window.mraid.mine) + ' ' + window.isOrbad"), "1 true");
}

TEST_F(RichMediaOnTheEngine, RepliesArriveIntactAndAnIframeAddressRunsNothing) {
    load(kPage);
    const std::string text = "a'b\\c\nd\r\xE2\x80\xA8" "e";
    view->callback("f'n", text);
    EXPECT_EQ(js("String(window.rec.length)"), "1");
    EXPECT_EQ(js("String(window.rec[0][0] === \"f'n\" && window.rec[0][1] === 'a\\'b\\\\c\\nd\\r\\u2028e')"), "true");
    js("var f = document.createElement('iframe'); f.src = \"x:');window.evil=1;('\"; document.body.appendChild(f);");
    ASSERT_TRUE(dktest::turnUntil([&] { return js("String(window.rec.length)") == "2"; }, 10));
    EXPECT_EQ(js("window.rec[1][1]"), "x:');window.evil=1;('");
    EXPECT_EQ(js("typeof window.evil"), "undefined");
}

// The ad's properties are defined before the page's first script runs, and at its load; the next
// ad in the same view sees its own.
TEST_F(RichMediaOnTheEngine, TheAdsPropertiesAreThereBeforeItsFirstScript) {
    const std::string page =
        "<html><head><script>window.early = JSON.stringify(window.mAdViewAdProperties);</script></head>"
        "<body onload='window.atLoad = window.mAdViewAdProperties.k'>ad</body></html>";
    load(page, R"(,"k":"v")");
    ASSERT_TRUE(dktest::turnUntil([&] { return js("typeof window.atLoad") == "string"; }, 30));
    EXPECT_EQ(js("window.atLoad"), "v");
    EXPECT_NE(js("window.early").find(R"("k":"v")"), std::string::npos) << js("window.early");
    load(page, R"(,"k":"w")");
    ASSERT_TRUE(dktest::turnUntil([&] { return js("typeof window.atLoad") == "string"; }, 30));
    EXPECT_EQ(js("window.atLoad"), "w");
    EXPECT_EQ(js("window.early").find(R"("k":"v")"), std::string::npos) << js("window.early");
}

// A page that clicks itself, holds the key and answers the check with it is still refused, and so
// is a script's click on a command link; a tap on the view lets the page's click listener through;
// once the expanded ad has closed, the next command waits for the next tap.
TEST_F(RichMediaOnTheEngine, OnlyTheViewsOwnTouchOpensTheGate) {
    const std::string refused = std::string("|") + orbad::kOrbadPermissionsErrorText;
    load(kGatePage);
    // The page's own two tries, in whichever order the engine asks about them.
    std::set<std::string> tries = {reply(0), reply(1)};
    EXPECT_EQ(tries, (std::set<std::string>{"no1" + refused, "no2" + refused}));
    ASSERT_TRUE(view->permissionsKey().has_value());
    EXPECT_EQ(js("mAdViewPermissionsCheck()"), *view->permissionsKey()) << "the page holds the key";
    EXPECT_TRUE(view->adIsRestricted());

    js("window.addEventListener('click', function() { vibrate(3); });");
    ASSERT_TRUE(dktest::tap(*m_app, *view));
    EXPECT_EQ(reply(2), "ok3");
    EXPECT_FALSE(view->adIsRestricted());

    js("send('displayExpandToFullScreen?animationDuration=0.1&successCallbackFunctionName=grown')");
    EXPECT_EQ(reply(3), "grown");
    ASSERT_NE(view->expandableViewController(), nullptr);
    js("send('displayContractAd?animationDuration=0.1&successCallbackFunctionName=shrunk')");
    EXPECT_EQ(reply(4), "shrunk");
    ASSERT_TRUE(dktest::turnUntil([&] { return view->expandableViewController() == nullptr; }, 30));
    EXPECT_TRUE(view->adIsRestricted());
    js("vibrate(5)");
    EXPECT_EQ(reply(5), "no5" + refused);
    ASSERT_TRUE(dktest::tap(*m_app, *view));
    EXPECT_EQ(reply(6), "ok3");
}

}  // namespace
