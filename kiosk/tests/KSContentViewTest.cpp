// The content view on the fake page engine: the dispatcher runs only registered commands with
// their arity's arguments, loadContext's reply and its refusal, and a pooled view shown again
// while its failed show still animates out.
#include <gtest/gtest.h>

#include "kiosk/KSAPIRequest.h"
#include "kiosk/KSContentBridge.h"
#include "kiosk/KSContentView.h"
#include "kiosk/KSJsonParser.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/Application.h"
#include "platform/ui/ViewAnimations.h"
#include "platform/web/FakeWebEngine.h"
#include "platform/web/PageEngine.h"
#include "platform/web/tests/WebTestSupport.h"
#include "tests/support/RecordingServer.h"
#include "tests/support/TestSupport.h"

namespace {

using plat::ui::WebNavigationType;
using plat::web::FakeWebEngine;

struct NotingDelegate : KSContentViewDelegate {
    std::vector<std::string> lines;
    void contentViewDidShow(KSContentView&) override { lines.push_back("show"); }
    void contentViewDidDismiss(KSContentView&) override { lines.push_back("dismiss"); }
    void contentViewDidFail(KSContentView&, const plat::foundation::Error& e) override {
        lines.push_back("fail " + std::to_string(e.code));
    }
};

// A template the fake engine can load, from the recording server's default answer.
const std::string& templateURL() {
    static dktest::TempDir dir;
    static dktest::RecordingServer server(dir.path());
    static const std::string url = server.url() + "/t.html";
    return url;
}

std::shared_ptr<KSContent> unit(const std::string& frame) {
    auto value = KSJsonParser().objectWithString(
        R"({"url":")" + templateURL() + R"(","transition":"KS_DIALOG","context":{"n":1},"frame":)" + frame + "}");
    return KSContent::contentWithDictionary(*value->object());
}

class KSContentViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(plat::web::useWebEngine("fake"));
        target = std::make_shared<plat::ui::View>(plat::ui::Rect{0, 0, 320, 480});
        view = KSContentView::make(unit(R"("KS_FULLSCREEN")"));
        view->setDelegate(&delegate);
        view->setTargetView(target.get());
    }
    void TearDown() override {
        KSContentView::clearContentViews();
        plat::web::useWebEngine("none");
    }
    FakeWebEngine& fake() { return *FakeWebEngine::of(view->webView()); }
    void navigate(const std::string& url) {
        fake().injectNavigation(url, WebNavigationType::LinkClicked);
        dktest::turnUntil([] { return false; }, 0.1);
    }
    NotingDelegate delegate;
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
    dktest::turnUntil([] { return plat::ui::ViewAnimations::runningCount() == 0; }, 5);
    dktest::turnUntil([] { return false; }, 0.1);
    EXPECT_EQ(second.lines, (std::vector<std::string>{"show"}));
    EXPECT_TRUE(again->content());
    EXPECT_EQ(again->delegate(), &second);
    EXPECT_EQ(again->superview(), target.get());
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
