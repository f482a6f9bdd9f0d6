#include "player/ScriptErrorLog.h"

#include <algorithm>

#include "engine/DKEngine.h"
#include "platform/foundation/Log.h"

namespace dk::player {

namespace {

// 10, 100, 1,000...: the counts at which a repeating error is written again.
bool isMark(uint64_t count) {
    if (count < 10) return false;
    while (count % 10 == 0) count /= 10;
    return count == 1;
}

}  // namespace

ScriptErrorLog::ScriptErrorLog(std::function<void(std::string_view)> write) : m_write(std::move(write)) {}

void ScriptErrorLog::attach(DK_State* state) {
    state->scriptErrorHandler = handle;
    state->scriptErrorData = this;
}

void ScriptErrorLog::detach(DK_State* state) {
    state->scriptErrorHandler = nullptr;
    state->scriptErrorData = nullptr;
}

void ScriptErrorLog::handle(void* data, const char* function, const char* message, const char* traceback) {
    static_cast<ScriptErrorLog*>(data)->failed(function ? function : "?", message ? message : "",
                                               traceback ? traceback : "");
}

void ScriptErrorLog::write(const std::string& text) {
    if (m_write)
        m_write(text);
    else
        plat::foundation::logText(text);
}

void ScriptErrorLog::failed(std::string_view function, std::string_view message, std::string_view traceback) {
    auto found = std::find_if(m_entries.begin(), m_entries.end(), [&](const Entry& entry) {
        return entry.function == function && entry.message == message;
    });
    if (found == m_entries.end()) {
        if (m_entries.size() >= kMaxDistinct) {
            if (++m_uncounted == 1)
                write("Lua errors: more than " + std::to_string(kMaxDistinct) +
                      " different ones; the next are counted, not shown");
            return;
        }
        m_entries.push_back({std::string(function), std::string(message), 1, 1});
        std::string text = "Lua error in " + std::string(function) + " (the game goes on): " + std::string(message);
        if (!traceback.empty()) text.append(1, '\n').append(traceback);
        write(text);
        return;
    }
    Entry& entry = *found;
    if (!isMark(++entry.count)) return;
    entry.written = entry.count;
    write("Lua error in " + entry.function + ", " + std::to_string(entry.count) + " times so far: " + entry.message);
}

void ScriptErrorLog::finish() {
    if (m_finished) return;
    m_finished = true;
    for (Entry& entry : m_entries) {
        if (entry.count == entry.written) continue;
        entry.written = entry.count;
        write("Lua error in " + entry.function + ", " + std::to_string(entry.count) + " times in all: " +
              entry.message);
    }
    if (m_uncounted)
        write("Lua errors not shown: " + std::to_string(m_uncounted));
}

}  // namespace dk::player
