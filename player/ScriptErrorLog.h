// What the game's script raised in the calls whose failures the game survives (frames, input, play,
// pauses, stop): each distinct error (the script function and its text) is written once with its
// traceback, then counted. A running count is written at its 10th, 100th, 1,000th... time, so an
// error repeating every frame costs a line now and then and never floods the log, and at the end
// of the game each error that repeated is written once more with its whole count.
//
// Lines read "Lua error in update (the game goes on): ...", "Lua error in update, 100 times so far:
// ...", and at the end "... 1234 times in all: ..." unless that count was just written. Past 32
// distinct errors (a text that changes every time) the rest are counted together, said once, and
// totalled at the end.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

struct DK_State;

namespace dk::player {

class ScriptErrorLog {
public:
    // Distinct errors beyond this many (an error text that changes every time) are counted together.
    static constexpr size_t kMaxDistinct = 32;

    // `write` takes one entry, maybe of several lines, without its final newline (default: standard
    // error).
    explicit ScriptErrorLog(std::function<void(std::string_view)> write = {});
    ScriptErrorLog(const ScriptErrorLog&) = delete;
    ScriptErrorLog& operator=(const ScriptErrorLog&) = delete;

    // Makes this log the state's handler of ignored failures; `detach` leaves the state none.
    void attach(DK_State* state);
    static void detach(DK_State* state);

    void failed(std::string_view function, std::string_view message, std::string_view traceback);
    // The whole count of each error that repeated since it was last written; once.
    void finish();

private:
    struct Entry {
        std::string function;
        std::string message;
        uint64_t count = 0;
        uint64_t written = 0;  // the count when it was last written
    };
    static void handle(void* data, const char* function, const char* message, const char* traceback);
    void write(const std::string& text);

    std::function<void(std::string_view)> m_write;
    std::vector<Entry> m_entries;
    uint64_t m_uncounted = 0;  // failures of errors beyond kMaxDistinct
    bool m_finished = false;
};

}  // namespace dk::player
