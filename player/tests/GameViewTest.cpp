// The game view in runs of the headless driver on the virtual clock, checked by their traces.
#include <gtest/gtest.h>

#include "player/tests/GameViewTestSupport.h"

namespace {

using dktest::expectedText;
using dktest::GameViewRun;
using dktest::runGameView;

TEST(GameViewTest, Scratch) {
    GameViewRun run;
    run.game = "setDisplaySize(320, 480)";
    run.input = "0.1 tap 160 284\n0.2 app.quit\n";
    auto r = runGameView(run);
    std::cout << r.trace << "\n---\n" << r.err;
}

}  // namespace
