// A configuration answer's ad units and alerts, as the configuration takes them: the unit table in
// force once observers hear, the alert on the application's screen.
#include <gtest/gtest.h>

#include "orbad/core/OBConfig.h"
#include "orbad/core/OBEnvironment.h"
#include "orbad/tests/OrbadTestSupport.h"
#include "platform/foundation/RunLoop.h"
#include "platform/net/Servers.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Application.h"

namespace {

using orbad::OBConfig;
using plat::foundation::Value;

struct Heard : orbad::OBConfigObserver {
    void orbadConfigurationUpdated(OBConfig&) override { ++count; }
    int count = 0;
};

class OBConfigAnswerTest : public dktest::OrbadClientTest {
protected:
    void TearDown() override {
        m_config.reset();
        OrbadClientTest::TearDown();
    }
    // Started against a server whose every answer is `answer`, and answered.
    OBConfig& start(const std::string& answer) {
        m_server = std::make_unique<dktest::ScriptedServer>(R"({"default": {"body": )" + answer + "}}");
        for (const char* name : orbad::kOrbadServerNames) plat::net::setServerBaseOverride(name, m_server->url(""));
        m_config = std::make_unique<OBConfig>(std::make_shared<orbad::OBEnvironment>("APP123"));
        m_config->addObserver(&m_heard);
        EXPECT_TRUE(turnUntil([&] { return m_heard.count == 1; }));
        m_config->removeObserver(&m_heard);
        return *m_config;
    }

    plat::ui::Application m_app{nullptr, &plat::foundation::RunLoop::main()};
    std::unique_ptr<dktest::ScriptedServer> m_server;
    std::unique_ptr<OBConfig> m_config;
    Heard m_heard;
};

TEST_F(OBConfigAnswerTest, UnitsAndAlertsOfAnAnswer) {
    const Value answer(Value::Dictionary{
        {"ad_units", *Value::fromJSON(R"([{"size": "320x50", "enabled": true, "refresh": 45, "open_allocs":
            {"config": {"method": "priority"}, "b": {"priority": 2}, "a": {"priority": "1", "key1": "pub-a"}}}])")},
        {"app_alerts", *Value::fromJSON(R"([{"id": "news", "title": "News", "message": "Hello",
                                             "action_url": "http://x.test/n"}])")}});
    OBConfig& config = start(Value(answer.canonicalJSON()).canonicalJSON());
    const orbad::OBAdSize banner{320.6f, 50.9f};
    EXPECT_TRUE(config.adUnitEnabled(banner));
    EXPECT_FALSE(config.adUnitEnabled({300, 250})) << "units configured, none of this size";
    EXPECT_EQ(config.refreshInteveralForAdUnit(banner), 45);
    EXPECT_EQ(config.openAllocationKey(1, "a", banner), "pub-a");
    const auto candidates = config.getOpenAllocationCandidates(banner);
    ASSERT_TRUE(candidates);
    EXPECT_EQ(*config.getNextCandidate(banner, candidates)->find("name"), Value("a"));

    ASSERT_TRUE(turnUntil([&] { return !m_app.alerts().empty(); })) << "handed over on a later turn";
    ASSERT_EQ(m_app.alerts().size(), 1u);
    const plat::ui::AlertView& alert = *m_app.alerts().front();
    EXPECT_EQ(alert.title(), "News");
    EXPECT_EQ(alert.message(), "Hello");
    EXPECT_EQ(alert.buttonTitles(), (std::vector<std::string>{"Open"}));
}

}  // namespace
