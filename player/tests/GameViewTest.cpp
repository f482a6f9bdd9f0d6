// The game view in runs of the headless driver on the virtual clock: each run's trace lines and
// standard error against data/view/<name>.txt.
#include <gtest/gtest.h>

#include "player/tests/GameViewTestSupport.h"

namespace {

using dktest::GameViewRun;

struct Scenario {
    const char* name;
    GameViewRun run;
};

void check(const Scenario& s) {
    const dktest::GameViewResult result = dktest::runGameView(s.run);
    const std::string actual = result.trace + "--- standard error\n" + result.err;
    EXPECT_EQ(actual, dktest::expectedText(s.name, actual)) << s.name;
}

GameViewRun make(std::string game, std::string input, std::string device = "phone5") {
    GameViewRun run;
    run.game = std::move(game);
    run.input = std::move(input);
    run.device = std::move(device);
    return run;
}

// The viewport at each frame-buffer rebuild and touches mapped back through it: phone5's 640x1136
// pixels with an intended 320x480, letterboxed or cropped, turned after the first frame; without
// an intended size (turned before it) every touch lands on (0, 0).
TEST(GameViewTest, TouchesMapThroughTheViewportAsTheViewTurns) {
    const std::string input =
        "0.05 tap 160 284\n"
        "0.1 rotate 3\n"
        "0.15 tap 284 160\n"
        "0.2 app.quit\n";
    Scenario letterbox{"viewport-letterbox", make("setDisplaySize(320, 480)", input)};
    Scenario overscan{"viewport-overscan", make("setDisplaySize(320, 480)", input)};
    overscan.run.overscan = true;
    Scenario none{"viewport-none", make("", "0.05 rotate 3\n0.15 tap 284 160\n0.2 app.quit\n")};
    none.run.playAt = 0.1;
    for (const Scenario& s : {letterbox, overscan, none}) check(s);
}

// Eleven slots from down to up: a twelfth finger is ignored for its whole life, a freed slot is
// the next finger's (lowest first), counts include a new touch and exclude an ended one, and the
// resign at quit cancels the rest as touch ups.
TEST(GameViewTest, ElevenTouchSlots) {
    GameViewRun run =
           make("setDisplaySize(320, 480)",
                "0.1 touch down 1 10 10 ; down 2 20 20 ; down 3 30 30 ; down 4 40 40 ; down 5 50 50 ; down 6 60 60\n"
                "+0.1 touch down 7 70 70 ; down 8 80 80 ; down 9 90 90 ; down 10 100 100 ; down 11 110 110 ; "
                "down 12 120 120\n"
                "+0.1 touch move 12 121 121 ; move 3 31 31\n"
                "+0.1 touch up 3\n"
                "+0.1 touch down 13 130 130\n"
                "+0.1 touch up 12 ; up 1\n"
                "+0.1 touch up 13\n"
                "+0.1 app.quit\n",
                "phone-retina");
    run.trace = "engine,input";
    check({"touch-slots", run});
}

// Samples between two frames reach the engine once, the latest, as the floats they were stored as.
// The run ends after its 14th frame (--frames).
TEST(GameViewTest, AccelerometerSamplesAreCoalescedToOnePerFrame) {
    GameViewRun run = make("", "0.1 accel 0.1 0.2 0.3\n"
                               "0.105 accel 0.5 -0.25 1\n"
                               "0.11 accel 0.1 0.2 -1\n"
                               "0.2 accel 1 2 3\n");
    run.frames = 14;
    check({"accelerometer", run});
}

// Below system 3.1 a repeating 1/60 s timer drives the frames.
TEST(GameViewTest, BelowSystem31ATimerIsTheClock) {
    GameViewRun run = make("", "");
    run.systemVersion = "3.0";
    run.frames = 3;
    run.trace = "frame";
    check({"timer-clock", run});
}

// Frame times are differences of the virtual clock, exact; a pause of either kind nests with
// resigns and audio interruptions, and after it the first frame counts from the play (off the
// display's beat). The pause
// lasts ten hours: time in float seconds would have stalled by then. The scripts' game time is
// the same clock's.
TEST(GameViewTest, FrameTimesAndNestedPauses) {
    check({"frame-times", make("local function now() log('gameTime', platformWrappers.getSystemTime()) end\n"
                               "now()\n"
                               "function onUpdate(frame)\n"
                               "  if frame == 3 or frame == 4 then now() end\n"
                               "  if frame == 3 then host('pause', 'behavior', 36000.51) end\n"
                               "end\n",
                               "0.1 app.resign\n"
                               "0.2 app.active\n"
                               "0.3 audio.interrupt.begin\n"
                               "0.4 audio.interrupt.end\n"
                               "36000.6 app.quit\n")});
}

// After a stop the next play is a first frame: the engine's play, a frame-buffer rebuild, a frame.
// Here that play ends an audio interruption whose session calls fail (logged, never fatal), in a
// game that keeps no sound manager.
TEST(GameViewTest, TheFirstFrameAfterAStopRebuildsFirst) {
    GameViewRun run = make("function onUpdate(frame) if frame == 3 then host('stop') end end",
                           "0.1 audio.fail deactivate\n"
                           "0.1 audio.interrupt.begin\n"
                           "0.2 audio.fail category\n"
                           "0.2 audio.fail activate\n"
                           "0.2 audio.interrupt.end\n"
                           "0.25 app.quit\n");
    run.trace += ",audio";
    check({"stop-and-first-frame", run});
}

// A scene load, from a frame and from a touch: the clock stopped and touches ignored while it
// runs; at its end one engine step, a 0.25 s turn of the run loop, the slots cleared, the clock
// restarted, and touches taken again from the first frame after it.
TEST(GameViewTest, SceneLoads) {
    check({"scene-loads",
           make("setDisplaySize(320, 568)\n"
                "function onUpdate(frame) if frame == 3 then loadScene('second') end end\n"
                "function onTouchDown(x, y) if x > 300 then loadScene('touched') end end\n",
                "0.1 touch down 1 10 10\n"
                "0.15 accel 0 0 -1\n"
                "0.2 touch up 1 10 10\n"
                "0.3 tap 20 20\n"
                "0.5 touch down 2 310 10\n"
                "0.6 touch up 2\n"
                "0.8 tap 20 20\n"
                "0.9 app.quit\n")});
}

// A quit that comes during the load's turn of the run loop still ends the run (the turn passes the
// stop on instead of swallowing it).
TEST(GameViewTest, AQuitDuringALoadEndsTheRun) {
    GameViewRun run = make("function onUpdate(frame) if frame == 3 then loadScene('second') end end",
                           "0.1 app.quit\n");
    run.duration = 5;
    check({"quit-during-load", run});
}

// A scene load that ends before the game plays starts the clock under whatever hides the view (the
// launch screen): its ticks draw nothing and so present nothing, until play draws the first frame.
TEST(GameViewTest, TicksBeforeTheFirstPlayPresentNothing) {
    GameViewRun run = make("loadScene('first')", "");
    run.trace = "";
    run.playAt = 1;  // after the load's end, itself 0.25 s after launch
    run.duration = 1;
    EXPECT_EQ(dktest::runGameView(run).presents, 0);
    run.duration = 1.5;  // the play's first frame, and the ticks after it, are presented
    const dktest::GameViewResult played = dktest::runGameView(run);
    EXPECT_GT(played.frames, 0);
    EXPECT_EQ(played.presents, played.frames);
}

}  // namespace
