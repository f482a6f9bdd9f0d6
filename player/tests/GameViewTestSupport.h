// Runs of the game view under the headless driver on the virtual clock: a bundle whose engine
// script is data/probe-engine.lua, a stand-in for the game view controller that does to the view
// only what the controller does, and the run's trace lines.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "tests/support/TestSupport.h"

namespace dktest {

struct GameViewRun {
    std::string device = "phone5";
    std::string systemVersion = "6.1";
    bool overscan = false;
    // The game project: Lua run by the script's loadProject (setDisplaySize, onUpdate, ...).
    std::string game;
    // The input script (platform/host/InputScript.h).
    std::string input;
    // When the stand-in controller first plays, after launch (0: in the launch's queued block).
    double playAt = 0;
    std::optional<long> frames;
    std::optional<double> duration;
    std::string trace = "engine,frame,gl,pause,script,input";
};

struct GameViewResult {
    std::string trace;  // every line, with its time
    std::string err;    // standard error
    long frames = 0;    // game frames the view presented
    long presents = 0;  // presents of any GL layer, the game frames' among them
};

GameViewResult runGameView(const GameViewRun& run);

// The expected text data/view/<name>.txt; with DK_UPDATE_EXPECTED=1 in the environment the file is
// written from `actual` instead (review the change before keeping it).
std::string expectedText(const std::string& name, const std::string& actual);

}  // namespace dktest
