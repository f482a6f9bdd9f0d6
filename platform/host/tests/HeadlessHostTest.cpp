// The driver in process: script touches reaching a view as fingers with identities, a run ended by
// its game-frame count, and composited screenshots, each on the virtual clock.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/LocalServices.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/tests/FoundationTestSupport.h"
#include "platform/gl/DisplayLink.h"
#include "platform/host/HeadlessHost.h"
#include "platform/image/ImageCodec.h"
#include "platform/net/Reachability.h"
#include "platform/sys/Accelerometer.h"
#include "platform/sys/AudioSession.h"
#include "platform/sys/Device.h"
#include "platform/sys/QuitRequest.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Application.h"
#include "platform/ui/Button.h"
#include "platform/ui/TextView.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/WebView.h"
#include "platform/ui/Window.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace plat;

using Records = std::vector<std::string>;

// A full-screen view that takes every finger and notes each change: phase, which finger (numbered
// as first seen), where in the window, and when since launch.
class RecordingView : public ui::View {
public:
    RecordingView(Records* records, double launch) : m_records(records), m_launch(launch) {
        setMultipleTouchEnabled(true);
    }
    void touchesBegan(const ui::TouchSet& touches, const ui::Event&) override { note("began", touches); }
    void touchesMoved(const ui::TouchSet& touches, const ui::Event&) override { note("moved", touches); }
    void touchesEnded(const ui::TouchSet& touches, const ui::Event&) override { note("ended", touches); }
    void touchesCancelled(const ui::TouchSet& touches, const ui::Event&) override { note("cancelled", touches); }

private:
    void note(const char* phase, const ui::TouchSet& touches) {
        for (const auto& touch : touches) {
            auto [it, added] = m_fingers.emplace(touch, static_cast<int>(m_fingers.size()) + 1);
            const ui::Point at = touch->locationInView(nullptr);
            char line[96];
            std::snprintf(line, sizeof line, "%s #%d (%g,%g) @%g", phase, it->second, at.x, at.y,
                          foundation::RunLoop::main().now() - m_launch);
            m_records->push_back(line);
        }
    }
    Records* m_records;
    double m_launch;
    // Weakly (a touch holds its view): a weak reference keeps the block, so no address is reused.
    std::map<std::weak_ptr<ui::Touch>, int, std::owner_less<>> m_fingers;
};

class RecordingController : public ui::ViewController {
public:
    RecordingController(Records* records, double launch) : m_records(records), m_launch(launch) {}
    void loadView() override {
        setView(std::make_shared<RecordingView>(m_records, m_launch));
        view()->setFrame(ui::Application::shared()->interfaceBounds());
    }

private:
    Records* m_records;
    double m_launch;
};

// A window with the recording controller; and, when asked, a display link that reports a game
// frame on each tick, as the game view will.
class Delegate : public ui::ApplicationDelegate {
public:
    Delegate(Records* records, bool frames) : m_records(records), m_frames(frames) {}
    void didFinishLaunching(ui::Application&) override {
        const double launch = foundation::RunLoop::main().now();
        m_window = std::make_shared<ui::Window>(sys::Screen::main().bounds());
        m_window->setRootViewController(std::make_shared<RecordingController>(m_records, launch));
        m_window->makeKeyAndVisible();
        if (!m_frames) return;
        m_link = std::make_unique<gl::DisplayLink>([this, launch] {
            char line[64];
            std::snprintf(line, sizeof line, "frame @%.4f", foundation::RunLoop::main().now() - launch);
            m_records->push_back(line);
            host::HeadlessHost::current()->gameFrameDidEnd();
        });
        m_link->addToRunLoop(foundation::RunLoop::main());
    }

private:
    Records* m_records;
    bool m_frames;
    std::shared_ptr<ui::Window> m_window;
    std::unique_ptr<gl::DisplayLink> m_link;
};

// Notes the internet's reachability flags at launch, then each change of them.
class ReachabilityDelegate : public ui::ApplicationDelegate {
public:
    explicit ReachabilityDelegate(Records* records) : m_records(records) {}
    void didFinishLaunching(ui::Application&) override {
        const double launch = foundation::RunLoop::main().now();
        const bool started = m_reachability.start([this, launch](std::uint32_t flags) {
            char line[64];
            std::snprintf(line, sizeof line, "flags 0x%x @%g", flags, foundation::RunLoop::main().now() - launch);
            m_records->push_back(line);
        });
        if (!started) m_records->push_back("no netlink socket");
        char line[32];
        std::snprintf(line, sizeof line, "launch 0x%x", m_reachability.flags().value_or(0xDEAD));
        m_records->push_back(line);
    }

private:
    Records* m_records;
    net::Reachability m_reachability;
};

// A red quarter fading out in the first second after launch, and a green quarter that turns blue
// at 2.5 s.
class FadingDelegate : public ui::ApplicationDelegate {
public:
    explicit FadingDelegate(Records*) {}
    void didFinishLaunching(ui::Application&) override {
        m_window = std::make_shared<ui::Window>(sys::Screen::main().bounds());
        auto red = std::make_shared<ui::View>(ui::Rect{0, 0, 160, 240});
        red->setBackgroundColor(ui::Color{1, 0, 0, 1});
        auto green = std::make_shared<ui::View>(ui::Rect{160, 240, 160, 240});
        green->setBackgroundColor(ui::Color{0, 1, 0, 1});
        m_window->addSubview(red);
        m_window->addSubview(green);
        m_window->makeKeyAndVisible();
        ui::View::animate({"fade", 1, ui::AnimationCurve::Linear}, [&] { red->setAlpha(0); });
        m_turn = foundation::RunLoop::main().addTimer(2.5, [green] { green->setBackgroundColor(ui::Color{0, 0, 1, 1}); });
    }

private:
    std::shared_ptr<ui::Window> m_window;
    foundation::Timer m_turn;
};

foundation::TraceCategory kTest("test");

// What the player's screens will do with the platform's: at launch two alerts, a text entry being
// edited and a web page with its close control; done and close take them off the screen.
struct NotedAlerts : ui::AlertViewDelegate {
    void alertViewClickedButton(ui::AlertView& alert, int index, const std::string& title) override {
        foundation::trace(kTest, "alert " + alert.title() + " " + std::to_string(index) + " " + title);
    }
};

class ScreensDelegate : public ui::ApplicationDelegate {
public:
    explicit ScreensDelegate(Records*) {}
    void didFinishLaunching(ui::Application&) override {
        m_window = std::make_shared<ui::Window>(sys::Screen::main().bounds());
        m_window->setRootViewController(std::make_shared<ui::ViewController>());
        m_window->makeKeyAndVisible();
        const std::shared_ptr<ui::View>& screen = m_window->rootViewController()->view();

        auto entry = std::make_shared<ui::TextEntryView>(ui::Rect{0, 0, 320, 240});
        entry->setTitle("Name");
        entry->textView()->setText("Bob");
        entry->textView()->setKeyboardType(ui::kKeyboardTypeNumbersAndPunctuation);
        entry->doneControl()->addTarget(this, [weak = std::weak_ptr(entry)](ui::Button&) {
            foundation::trace(kTest, "done");
            if (auto shown = weak.lock()) shown->removeFromSuperview();
        });
        screen->addSubview(entry);
        entry->beginEditing();

        auto page = std::make_shared<ui::WebView>(ui::Rect{0, 240, 320, 200});
        auto close = std::make_shared<ui::Button>(ui::Rect{0, 440, 320, 40});
        page->setCloseControl(close);
        close->addTarget(this, [page, close = close.get()](ui::Button&) {
            foundation::trace(kTest, "close");
            page->load(ui::kBlankPage);
            page->removeFromSuperview();
            close->removeFromSuperview();
        });
        screen->addSubview(page);
        screen->addSubview(close);
        page->load("https://example.com/news");

        std::make_shared<ui::AlertView>("Save", "Keep your progress?",
                                        std::vector<std::string>{"Cancel", "OK"}, m_alerts)
            ->show();
        std::make_shared<ui::AlertView>("Quit", std::nullopt, std::vector<std::string>{"Yes", "No", "Later"},
                                        m_alerts)
            ->show();
    }

private:
    std::shared_ptr<ui::Window> m_window;
    std::shared_ptr<NotedAlerts> m_alerts = std::make_shared<NotedAlerts>();
};

class HeadlessHostTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(m_dir.file("Game.app"));
        dktest::writeFile(m_dir.file("Game.app/Info.plist"),
                          "<plist version=\"1.0\"><dict><key>UISupportedInterfaceOrientations</key><array>"
                          "<string>UIInterfaceOrientationPortrait</string></array></dict></plist>");
        m_options.bundle = m_dir.file("Game.app");
        m_options.home = m_dir.file("home");
        m_options.headless = true;
    }

    template <class D = Delegate, class... Args>
    Records run(Args... args) {
        Records records;
        host::HeadlessHost driver(m_options);
        std::string message;
        EXPECT_EQ(driver.prepare(&message), 0) << message;
        EXPECT_EQ(driver.run(std::make_unique<D>(&records, args...), &message), 0) << message;
        m_frames = driver.gameFrames();
        return records;
    }

    dktest::TempDir m_dir;
    host::HostOptions m_options;
    long m_frames = 0;
};

// A second start in the process finds the audio session and the accelerometer as a new process
// does, whatever the first start left of them.
TEST_F(HeadlessHostTest, ASecondStartFindsTheDeviceStandInsAtTheirDefaults) {
    struct Listener : sys::AccelerometerDelegate {
        void didAccelerate(sys::Accelerometer&, const sys::Acceleration&) override {}
    } listener;
    sys::AudioSession& session = sys::AudioSession::shared();
    sys::Accelerometer& accelerometer = sys::Accelerometer::shared();
    for (int start = 0; start < 2; ++start) {
        SCOPED_TRACE(start);
        ASSERT_TRUE(session.setCategory(sys::kAudioSessionCategoryPlayback));
        ASSERT_TRUE(session.setActive(true));
        ASSERT_TRUE(session.beginInterruption());
        session.failNext(sys::AudioSession::Operation::Activate);
        accelerometer.setDelegate(&listener);
        accelerometer.setUpdateInterval(1);

        host::HeadlessHost driver(m_options);
        std::string message;
        ASSERT_EQ(driver.prepare(&message), 0) << message;
        EXPECT_EQ(session.category(), sys::kAudioSessionCategorySoloAmbient);
        EXPECT_FALSE(session.isActive());
        EXPECT_FALSE(session.isInterrupted());
        EXPECT_TRUE(session.setActive(true));  // no failure left armed
        EXPECT_EQ(accelerometer.delegate(), nullptr);
        EXPECT_EQ(accelerometer.updateInterval(), sys::Accelerometer::kDefaultUpdateInterval);
        session.reset();
    }
}

// Each start runs on the clock it asks for, whatever the start before it in the process ran on.
TEST_F(HeadlessHostTest, EachStartRunsOnTheClockItAsksFor) {
    foundation::Clock& clock = foundation::Clock::process();
    for (host::ClockChoice choice : {host::ClockChoice::Virtual, host::ClockChoice::Real, host::ClockChoice::Virtual,
                                     host::ClockChoice::Real}) {
        m_options.clock = choice;
        host::HeadlessHost driver(m_options);
        std::string message;
        ASSERT_EQ(driver.prepare(&message), 0) << message;
        EXPECT_EQ(clock.isVirtual(), choice == host::ClockChoice::Virtual);
    }
}

// A quit read in one start (its last saves' lock waits end at once) leaves the next start's waits
// their full length: they gave up after a second and a load came back empty.
TEST_F(HeadlessHostTest, AQuitOfAnEarlierStartEndsNoWaitOfTheNext) {
    sys::noteQuitRequested();
    ASSERT_TRUE(sys::quitRequested());
    host::HeadlessHost driver(m_options);
    std::string message;
    ASSERT_EQ(driver.prepare(&message), 0) << message;
    EXPECT_FALSE(sys::quitRequested());
}

TEST_F(HeadlessHostTest, ScriptTouchesReachTheViewAsFingers) {
    dktest::writeFile(m_dir.file("touches.txt"),
                      "0.5 tap 10 20\n"
                      "1 touch down 7 100 200 ; down 8 30 40\n"
                      "+0.25 touch move 7 110 210\n"
                      "+0.25 touch up 7 ; move 8 35 45\n"
                      "+0.25 touch cancel 8\n"
                      "2 touch down 7 1 2\n"
                      "+0.25 touch up 7 3 4\n"
                      "3 app.quit\n");
    m_options.input = m_dir.file("touches.txt");
    EXPECT_EQ(run(false), (Records{
                              "began #1 (10,20) @0.5",
                              "ended #1 (10,20) @0.55",
                              "began #2 (100,200) @1",
                              "began #3 (30,40) @1",
                              "moved #2 (110,210) @1.25",
                              "moved #3 (35,45) @1.5",  // one event: the moved set goes first
                              "ended #2 (110,210) @1.5",
                              "cancelled #3 (35,45) @1.75",
                              "began #4 (1,2) @2",  // finger 7 again: a new touch
                              "ended #4 (3,4) @2.25",
                          }));
}

TEST_F(HeadlessHostTest, TheRunEndsAfterTheNthGameFrame) {
    m_options.frames = 3;
    EXPECT_EQ(run(true), (Records{"frame @0.0167", "frame @0.0333", "frame @0.0500"}));
    EXPECT_EQ(m_frames, 3);
}

TEST_F(HeadlessHostTest, TheNetworkIsWhatTheCommandLineAndTheScriptSay) {
    dktest::writeFile(m_dir.file("net.txt"), "1 net none\n2 net wifi\n3 app.quit\n");
    m_options.input = m_dir.file("net.txt");
    m_options.net = "wwan";
    EXPECT_EQ(run<ReachabilityDelegate>(), (Records{"launch 0x40002", "flags 0x0 @1", "flags 0x2 @2"}));
    net::setNetOverride(std::nullopt);
}

TEST_F(HeadlessHostTest, ScreenshotsShowTheCompositedScreenAtTheirTime) {
    dktest::writeFile(m_dir.file("shots.txt"), "0.5 screenshot " + m_dir.file("mid.png") + "\n2 screenshot " +
                                                   m_dir.file("end.png") + "\n3 app.quit\n");
    m_options.input = m_dir.file("shots.txt");
    m_options.screenshot = m_dir.file("quit.png");
    run<FadingDelegate>();
    const struct {
        const char* file;
        int red;  // in the red quarter, fading
        int green, blue;  // in the green quarter
    } shots[] = {{"mid.png", 128, 255, 0}, {"end.png", 0, 255, 0}, {"quit.png", 0, 0, 255}};
    for (const auto& shot : shots) {
        int width = 0, height = 0;
        std::vector<std::uint8_t> rgba;
        std::string error;
        ASSERT_TRUE(image::readPNG(m_dir.file(shot.file), &width, &height, &rgba, &error)) << error;
        ASSERT_EQ(width, 640);  // phone-retina, in pixels
        ASSERT_EQ(height, 960);
        const auto at = [&](int x, int y, int channel) { return rgba[(static_cast<size_t>(y) * width + x) * 4 + channel]; };
        EXPECT_NEAR(at(100, 100, 0), shot.red, 2) << shot.file;
        EXPECT_EQ(at(500, 700, 1), shot.green) << shot.file;
        EXPECT_EQ(at(500, 700, 2), shot.blue) << shot.file;
        EXPECT_EQ(at(500, 100, 1), 0) << shot.file;
    }
}

TEST_F(HeadlessHostTest, ScriptedKeysAndPressesReachTheScreensOnShowOrAreIgnored) {
    std::filesystem::create_directories(m_dir.file("Game.app/fr.lproj"));
    ASSERT_TRUE(
        foundation::writePropertyList(m_dir.file("Game.app/fr.lproj/Localizable.strings"),
                                      foundation::Value::Dictionary{{"OK", "D'accord"}, {"Quit", "Quitter"}},
                                      foundation::PropertyListFormat::Xml));
    const dktest::ScopedEnv env{{"LC_ALL", "fr_FR.UTF-8"}};
    m_options.input = DK_TEST_DATA_DIR "/screens-input.txt";
    m_options.trace = "input,alert,text,web,test";
    m_options.traceFile = m_dir.file("trace.txt");
    run<ScreensDelegate>();
    foundation::Trace::configure("", "");
    EXPECT_EQ(dktest::readFile(m_dir.file("trace.txt")),
              dktest::readFile(DK_TEST_DATA_DIR "/screens-trace.txt"));
}

}  // namespace

namespace {

TEST_F(HeadlessHostTest, ServiceCommandsGoToTheServiceThatRegisteredThem) {
    std::vector<std::string> received;
    foundation::registerServiceCommand("store.fail", [&](const std::vector<std::string>& arguments) {
        return [&received, arguments] { received.push_back(arguments[0] + "|" + arguments[1]); };
    });
    foundation::registerServiceCommand("store.approve", [](const std::vector<std::string>&) { return nullptr; });
    dktest::writeFile(m_dir.file("store.txt"),
                      "1 store.fail -2 \"no \\\"funds\\\"\"\n2 store.approve\n3 store.cancel\n4 app.quit\n");
    m_options.input = m_dir.file("store.txt");
    m_options.trace = "input";
    m_options.traceFile = m_dir.file("trace.txt");
    run(false);
    foundation::Trace::configure("", "");
    foundation::unregisterServiceCommand("store.fail");
    foundation::unregisterServiceCommand("store.approve");
    EXPECT_EQ(received, std::vector<std::string>{"-2|no \"funds\""});
    EXPECT_EQ(dktest::readFile(m_dir.file("trace.txt")),
              "t=1.000000 input store.fail -2 \"no \\\"funds\\\"\"\n"
              "t=2.000000 input store.approve ignored\n"
              "t=3.000000 input store.cancel ignored\n"
              "t=4.000000 input app.quit\n");
}

}  // namespace
