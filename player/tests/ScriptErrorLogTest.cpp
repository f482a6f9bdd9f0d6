// The log of the errors a game survives: each distinct error once with its traceback, counts at
// 10, 100, 1,000..., the whole count at the end, and a bound on distinct errors.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "player/ScriptErrorLog.h"

namespace {

using dk::player::ScriptErrorLog;

class ScriptErrors : public testing::Test {
protected:
    std::vector<std::string> lines;
    ScriptErrorLog log{[this](std::string_view text) { lines.emplace_back(text); }};
};

TEST_F(ScriptErrors, EachErrorOnceWithItsTracebackThenCounted) {
    for (int frame = 1; frame <= 1234; ++frame) {
        log.failed("update", "main.lua:3: boom", "stack traceback:\n\tmain.lua:3: in function 'update'");
        if (frame == 5) log.failed("touchDown", "main.lua:9: bad touch", "stack traceback:\n\tmain.lua:9: here");
    }
    log.failed("update", "main.lua:4: another", "");
    log.finish();
    log.finish();  // once only
    const std::vector<std::string> expected = {
        "Lua error in update (the game goes on): main.lua:3: boom\nstack traceback:\n\tmain.lua:3: in function "
        "'update'",
        "Lua error in touchDown (the game goes on): main.lua:9: bad touch\nstack traceback:\n\tmain.lua:9: here",
        "Lua error in update, 10 times so far: main.lua:3: boom",
        "Lua error in update, 100 times so far: main.lua:3: boom",
        "Lua error in update, 1000 times so far: main.lua:3: boom",
        "Lua error in update (the game goes on): main.lua:4: another",
        "Lua error in update, 1234 times in all: main.lua:3: boom",
    };
    EXPECT_EQ(lines, expected);
}

TEST_F(ScriptErrors, ACountAlreadyWrittenIsNotRepeatedAtTheEnd) {
    for (int frame = 0; frame < 100; ++frame) log.failed("update", "boom", "");
    log.finish();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines.back(), "Lua error in update, 100 times so far: boom");
}

// An error whose text changes every time (a counter in it) must not become a line a frame.
TEST_F(ScriptErrors, DistinctErrorsBeyondTheBoundAreCountedNotShown) {
    const size_t extra = 500;
    for (size_t i = 0; i < ScriptErrorLog::kMaxDistinct + extra; ++i)
        log.failed("update", "frame " + std::to_string(i), "");
    log.finish();
    ASSERT_EQ(lines.size(), ScriptErrorLog::kMaxDistinct + 2);
    EXPECT_EQ(lines[ScriptErrorLog::kMaxDistinct],
              "Lua errors: more than 32 different ones; the next are counted, not shown");
    EXPECT_EQ(lines.back(), "Lua errors not shown: " + std::to_string(extra));
}

}  // namespace
