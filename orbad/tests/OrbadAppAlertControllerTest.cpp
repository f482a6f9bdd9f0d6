// Server-pushed alerts on the platform's alerts: which are due, how their dialogs read, what each
// answer counts, and several due alerts each counted to its own id.
#include <gtest/gtest.h>

#include <filesystem>

#include "orbad/core/OBSession.h"
#include "orbad/core/OrbadAppAlertController.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/Application.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace plat::foundation;
using orbad::OrbadAppAlertController;

constexpr double kStart = 1700000000;

class OrbadAppAlertControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        Clock::process().setVirtual(true);
        orbad::setStartWallTime(kStart);
        m_container = Container::open("com.test.alerts", m_dir.file("home"));
        Container::setMain(*m_container);
        version("1.2.3");
        m_app = std::make_unique<plat::ui::Application>(nullptr, &RunLoop::main());
    }
    void version(const std::string& text) {
        std::filesystem::create_directories(m_dir.file("Test.app"));
        ASSERT_TRUE(writePropertyList(m_dir.file("Test.app/Info.plist"),
                                      Value(Value::Dictionary{{"CFBundleVersion", Value(text)}}),
                                      PropertyListFormat::Xml));
        Bundle::setMain(*Bundle::open(m_dir.file("Test.app")));
    }
    // The configuration's "app_alerts" arriving.
    static void arrive(const std::string& alerts) {
        OrbadAppAlertController::create(*Value::fromJSON(alerts))->show();
    }
    // The alert on screen as traced: "TITLE|MESSAGE|B1,B2"; "" when none.
    std::string screen() const {
        if (m_app->alerts().empty()) return "";
        const auto& alert = *m_app->alerts().front();
        std::string text = alert.title() + "|" + alert.message().value_or("<nil>") + "|";
        for (size_t i = 0; i < alert.buttonTitles().size(); ++i)
            text += (i ? "," : "") + alert.buttonTitles()[i];
        return text;
    }
    void press(int index) { ASSERT_TRUE(m_app->alerts().front()->pressButton(index)); }
    void systemCancel() { ASSERT_TRUE(m_app->alerts().front()->cancel()); }

    dktest::TempDir m_dir;
    std::optional<Container> m_container;
    std::unique_ptr<plat::ui::Application> m_app;
};

TEST_F(OrbadAppAlertControllerTest, DueAlertsAndTheirDialogs) {
    struct Case {
        const char* alert;
        const char* version;
        const char* shown;
    };
    const Case cases[] = {
        {R"({"id": 1, "title": "News", "message": " \n Read it \n", "action_url": "http://x.test/a",
             "dismiss_button": " Later ", "action_button": "Go"})",
         "1.2.3", "News|Read it|Later,Go"},
        {R"({"id": 2, "title": "T", "action_url": "http://x.test/a"})", "1.2.3", "T|<nil>|Close,Open"},
        {R"({"id": 3, "title": "T", "action_url": "x.test/a", "action_button": "Go"})", "1.2.3",
         "T|<nil>|Close"},
        {R"({"id": 4, "title": "T", "dismiss_button": "  "})", "1.2.3", "T|<nil>|Close"},
        {R"({"id": 5, "title": ""})", "1.2.3", ""},
        {R"({"id": 6, "message": "no title"})", "1.2.3", ""},
        {R"({"title": "no id"})", "1.2.3", ""},
        {R"({"id": 7, "title": "T", "target_versions": ["1.2*"]})", "1.2", "T|<nil>|Close"},
        {R"({"id": 8, "title": "T", "target_versions": ["1.2*"]})", "1.2.3", "T|<nil>|Close"},
        {R"({"id": 9, "title": "T", "target_versions": ["1.2*"]})", "1.20", "T|<nil>|Close"},
        {R"({"id": 10, "title": "T", "target_versions": ["1.2"]})", "1.2.3", ""},
        {R"({"id": 11, "title": "T", "target_versions": ["0.9", "1.2"]})", "1.2", "T|<nil>|Close"},
        {R"({"id": 12, "title": "T", "target_versions": []})", "1.2", "T|<nil>|Close"},
        // Every dialog keeps a way to close without acting; a title is trimmed, and one of white
        // space only is none.
        {R"({"id": 13, "title": "T", "action_url": "http://x.test/a", "dismiss_button": " \t\u2028"})",
         "1.2.3", "T|<nil>|Close,Open"},
        {R"({"id": 14, "title": "T", "action_url": "http://x.test/a", "dismiss_button": ""})", "1.2.3",
         "T|<nil>|Close,Open"},
        {R"({"id": 15, "title": " \n News \u00a0"})", "1.2.3", "News|<nil>|Close"},
        {R"({"id": 16, "title": " \n\u3000"})", "1.2.3", ""},
    };
    for (const Case& c : cases) {
        version(c.version);
        arrive(std::string("[") + c.alert + "]");
        EXPECT_EQ(screen(), c.shown) << c.alert;
        if (!m_app->alerts().empty()) systemCancel();
    }
    arrive("[]");
    arrive(R"({"id": 1, "title": "not in an array"})");
    EXPECT_EQ(screen(), "");
}

TEST_F(OrbadAppAlertControllerTest, TextsAreTrimmedOfEveryWhiteSpaceAndLineBreak) {
    struct Case {
        const char* json;  // a JSON string's contents
        const char* kept;
    };
    const Case cases[] = {
        {R"(\u2028Read it\u2029)", "Read it"},
        {R"(\u00a0\u3000\u202f\u205f\u1680 Read it\u2000\u200a)", "Read it"},
        {R"(\t\r\n\f\u000b\u0085Read it\u0085\n)", "Read it"},
        {R"( Read\u2028 \u00a0it )", "Read\xE2\x80\xA8 \xC2\xA0it"},  // only the ends
        {R"(\u200bRead it\u200b)", "\xE2\x80\x8BRead it\xE2\x80\x8B"},  // a zero-width space is no space
        {R"(\u2028 \u3000)", ""},
        {R"(\u00e9t\u00e9)", "\xC3\xA9t\xC3\xA9"},
    };
    for (const Case& c : cases) {
        const std::string text = std::string("\"") + c.json + "\"";
        arrive(R"([{"id": "trim", "title": "T", "action_url": "http://x.test/a", "message": )" + text +
               R"(, "dismiss_button": )" + text + R"(, "action_button": )" + text + "}]");
        const std::string kept = c.kept;
        // Emptied buttons fall back to their default titles.
        EXPECT_EQ(screen(), "T|" + kept + "|" + (kept.empty() ? "Close,Open" : kept + "," + kept)) << c.json;
        press(0);
    }
}

TEST_F(OrbadAppAlertControllerTest, AnswersCountAndCapTheShowings) {
    const std::string capped = R"([{"id": "cap", "title": "Capped", "max_displays": 2,
                                    "action_url": "http://x.test/go", "dismiss_button": "No"}])";
    for (int i = 0; i < 3; ++i) {  // dismissed with the cancel button: never counted
        arrive(capped);
        press(0);
    }
    EXPECT_EQ(OrbadAppAlertController::timesShown("cap"), 0);
    EXPECT_EQ(OrbadAppAlertController::lastDateShown("cap"), 0);

    arrive(capped);
    RunLoop::main().runFor(5);
    press(1);  // the action
    EXPECT_EQ(OrbadAppAlertController::timesShown("cap"), 1);
    EXPECT_EQ(OrbadAppAlertController::lastDateShown("cap"), kStart + 5);
    EXPECT_EQ(m_app->openedURLs(), (std::vector<std::string>{"http://x.test/go"}));
    arrive(capped);
    systemCancel();  // counts, opens nothing
    EXPECT_EQ(OrbadAppAlertController::timesShown("cap"), 2);
    EXPECT_EQ(m_app->openedURLs().size(), 1u);
    arrive(capped);
    EXPECT_EQ(screen(), "") << "shown twice already";
    const std::optional<Value> saved = readPropertyList(UserDefaults::standard()->path());
    ASSERT_TRUE(saved);
    EXPECT_EQ(*saved->find("OBAppAlertTimesShown-cap"), Value(2)) << "written at once";
}

TEST_F(OrbadAppAlertControllerTest, TheIntervalSpacesShowings) {
    const std::string spaced = R"([{"id": "int", "title": "Spaced", "display_interval": 60}])";
    arrive(spaced);
    systemCancel();
    RunLoop::main().runFor(59);
    arrive(spaced);
    EXPECT_EQ(screen(), "");
    RunLoop::main().runFor(1);
    arrive(spaced);
    EXPECT_EQ(screen(), "Spaced|<nil>|Close");
}

TEST_F(OrbadAppAlertControllerTest, DueAlertsFollowEachOtherEachCountedToItsOwnId) {
    arrive(R"([{"id": "a", "title": "A", "action_url": "http://x.test/a", "dismiss_button": "No"},
               {"id": "b", "title": "B", "action_url": "http://x.test/b", "dismiss_button": "No"},
               {"id": "c", "title": "C"}])");
    EXPECT_EQ(m_app->alerts().size(), 1u) << "one at a time";
    EXPECT_EQ(screen(), "A|<nil>|No,Open");
    press(1);
    EXPECT_EQ(screen(), "B|<nil>|No,Open");
    press(0);
    EXPECT_EQ(screen(), "C|<nil>|Close");
    systemCancel();
    EXPECT_EQ(screen(), "");
    EXPECT_EQ(OrbadAppAlertController::timesShown("a"), 1);
    EXPECT_EQ(OrbadAppAlertController::timesShown("b"), 0);
    EXPECT_EQ(OrbadAppAlertController::timesShown("c"), 1);
    EXPECT_EQ(m_app->openedURLs(), (std::vector<std::string>{"http://x.test/a"}));
}

}  // namespace

// Fontconfig, behind the alerts' text, keeps its caches for the process's life.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
