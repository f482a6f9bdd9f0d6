// Text views: the keyboard's edits, whole characters deleted, and the first responder that the
// window driver types into.
#include <gtest/gtest.h>

#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "platform/sys/Device.h"
#include "platform/ui/TextView.h"
#include "platform/ui/Window.h"
#include "platform/ui/tests/UITestSupport.h"

namespace {

using namespace plat::ui;
using namespace dktest;
using plat::foundation::Clock;
using plat::foundation::RunLoop;

TEST(TextView, BackspaceTakesTheLastCharacterWhole) {
    const struct {
        const char* text;
        const char* left;
    } cases[] = {
        {"abc", "ab"},
        {"a", ""},
        {"", ""},
        {"caf\xc3\xa9", "caf"},                          // é, one code point
        {"cafe\xcc\x81", "caf"},                         // e and a combining acute
        {"go \xf0\x9f\x87\xab\xf0\x9f\x87\xb7", "go "},  // a flag: two regional indicators
        {"ok \xf0\x9f\x91\x8d\xf0\x9f\x8f\xbd", "ok "},  // a thumb and its skin tone
        {"line\r\n", "line"},                            // CR LF, one break
        {"\xe4\xbd\xa0\xe5\xa5\xbd", "\xe4\xbd\xa0"},
    };
    for (const auto& c : cases) {
        TextView view;
        view.setText(c.text);
        view.deleteBackward();
        EXPECT_EQ(view.text(), c.left) << c.text;
    }
}

TEST(TextView, KeyboardInputAppendsOnlyUTF8) {
    TextView view;
    EXPECT_TRUE(view.appendText("Zo\xc3\xa9"));
    view.insertNewline();
    testing::internal::CaptureStderr();
    EXPECT_FALSE(view.appendText("\xc3("));
    EXPECT_FALSE(view.appendText("\xed\xa0\x80"));  // a surrogate
    EXPECT_NE(testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(view.appendText(""));
    EXPECT_EQ(view.text(), "Zo\xc3\xa9\n");
}

TEST(TextView, OneFirstResponderInTheWindowWhichLeavingResigns) {
    Clock::process().setVirtual(true);
    plat::sys::Device::current().reset();
    RunLoop loop{std::make_shared<Clock>(Clock::Kind::Virtual)};
    Application app(nullptr, &loop);
    auto window = showWindow(std::make_shared<ViewController>());
    auto first = std::make_shared<TextView>();
    auto second = std::make_shared<TextView>();
    EXPECT_FALSE(first->becomeFirstResponder());  // in no window
    EXPECT_EQ(app.textInputResponder(), nullptr);
    window->addSubview(first);
    window->addSubview(second);
    EXPECT_TRUE(first->becomeFirstResponder());
    EXPECT_EQ(app.textInputResponder(), first.get());
    EXPECT_TRUE(second->becomeFirstResponder());
    EXPECT_FALSE(first->isFirstResponder());
    first->removeFromSuperview();
    EXPECT_EQ(app.textInputResponder(), second.get());  // not first's to resign
    second->removeFromSuperview();
    EXPECT_EQ(app.textInputResponder(), nullptr);
    window->addSubview(second);
    EXPECT_TRUE(second->becomeFirstResponder());
    second.reset();
    window.reset();  // its views go without leaving it
    EXPECT_EQ(app.textInputResponder(), nullptr);
}

}  // namespace
