// The rich-media creative on WPE WebKit: the stub as the page sees it, and replies that carry
// page text arriving intact without running any of it.
#include <gtest/gtest.h>

#include "orbad/ads/OrbadRichMediaWebAdView.h"
#include "orbad/tests/OrbadCreativeTestSupport.h"
#include "platform/foundation/Container.h"
#include "platform/web/PageEngine.h"
#include "tests/support/TestSupport.h"

namespace {

struct BootHost : dktest::NotingHost {
    std::string mraidURL() const override { return "http://127.0.0.1:9/mraid's.js"; }
};

constexpr const char* kPage =
    "<html><head><script src='mraid.js' onload='window.stubLoaded = 1'></script><script>"
    "window.rec = [];"
    "function mAdViewCallbackHandler() { window.rec.push(Array.prototype.slice.call(arguments)); }"
    "function mAdViewUnknownURLHandler(u) { window.rec.push(['unknown', u]); }"
    "</script></head><body>ad</body></html>";

class RichMediaOnTheEngine : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(plat::web::useWebEngine("wpe"));
        plat::foundation::Container::setMain(*plat::foundation::Container::open("com.test.wpe", m_dir.file("home")));
        view = std::make_shared<orbad::OrbadRichMediaWebAdView>(plat::ui::Rect{0, 0, 320, 50});
        view->setMainAdView(host);
        view->loadWithAd(dktest::adFrom(std::string(R"({"type":"html","props":{"html":")") + kPage + "\"}}"));
        ASSERT_TRUE(dktest::turnUntil([&] { return !host->lines.empty(); }, 30));
        ASSERT_EQ(host->lines, std::vector<std::string>{"finished"});
    }
    void TearDown() override {
        view.reset();
        plat::web::useWebEngine("none");
    }
    std::string js(const std::string& script) { return view->stringByEvaluatingJavaScript(script); }

    dktest::TempDir m_dir;
    std::shared_ptr<BootHost> host = std::make_shared<BootHost>();
    std::shared_ptr<orbad::OrbadRichMediaWebAdView> view;
};

TEST_F(RichMediaOnTheEngine, TheStubLoadsTheBootLoaderOnceAndKeepsWhatThePageHas) {
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
    const std::string text = "a'b\\c\nd\r\xE2\x80\xA8" "e";
    view->callback("f'n", text);
    EXPECT_EQ(js("String(window.rec.length)"), "1");
    EXPECT_EQ(js("String(window.rec[0][0] === \"f'n\" && window.rec[0][1] === 'a\\'b\\\\c\\nd\\r\\u2028e')"), "true");
    js("var f = document.createElement('iframe'); f.src = \"x:');window.evil=1;('\"; document.body.appendChild(f);");
    ASSERT_TRUE(dktest::turnUntil([&] { return js("String(window.rec.length)") == "2"; }, 10));
    EXPECT_EQ(js("window.rec[1][1]"), "x:');window.evil=1;('");
    EXPECT_EQ(js("typeof window.evil"), "undefined");
}

}  // namespace
