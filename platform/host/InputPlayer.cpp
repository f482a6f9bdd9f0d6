#include "platform/host/InputPlayer.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>

#include "platform/foundation/Log.h"

namespace plat::host {

namespace {
foundation::TraceCategory kInput("input");
constexpr double kAwaitCap = 60;     // real seconds
constexpr double kAwaitLook = 0.01;  // clock seconds between looks at what was written
}  // namespace

// Lines come on any thread; the loop looks at what they met.
struct InputPlayer::Seen {
    std::mutex mutex;
    std::vector<std::string> wanted;
    std::vector<bool> met;
};

InputPlayer::InputPlayer(std::vector<InputCommand> commands, Handler handler)
    : m_commands(std::move(commands)), m_handler(std::move(handler)) {}

InputPlayer::~InputPlayer() {
    stop();
}

void InputPlayer::start(foundation::RunLoop& loop, double launch) {
    stop();
    m_loop = &loop;
    if (has(InputKind::Await)) {
        m_seen = std::make_shared<Seen>();
        for (const InputCommand& command : m_commands)
            if (command.kind == InputKind::Await) m_seen->wanted.push_back(command.argument);
        m_seen->met.assign(m_seen->wanted.size(), false);
        foundation::setLineObserver([seen = m_seen](std::string_view line) {
            // The script's own lines (the await's among them) say nothing of what happened.
            if (line.starts_with(kInput.name()) && line.substr(std::strlen(kInput.name())).starts_with(' ')) return;
            std::lock_guard lock(seen->mutex);
            for (std::size_t i = 0; i < seen->wanted.size(); ++i)
                if (line.find(seen->wanted[i]) != std::string_view::npos) seen->met[i] = true;
        });
    }
    arm(0, launch, 0);
}

void InputPlayer::stop() {
    m_timers.clear();
    m_look.invalidate();
    m_awaiting.end();
    if (m_seen) foundation::setLineObserver(nullptr);
    m_seen.reset();
}

void InputPlayer::arm(std::size_t first, double origin, double base) {
    const double now = m_loop->now();
    for (std::size_t i = first; i < m_commands.size(); ++i) {
        const double delay = origin + m_commands[i].time - base - now;
        const bool awaits = m_commands[i].kind == InputKind::Await;
        m_timers.push_back(m_loop->addTimer(delay > 0 ? delay : 0, [this, i, awaits] {
            play(m_commands[i]);
            if (awaits) await(i);
        }));
        if (awaits) return;
    }
}

void InputPlayer::await(std::size_t index) {
    if (!m_seen) return;
    std::size_t which = 0;
    for (std::size_t i = 0; i < index; ++i) which += m_commands[i].kind == InputKind::Await;
    const auto began = std::chrono::steady_clock::now();
    // A virtual clock would race from look to look (a run's end, the game's timers passing in
    // milliseconds); held as a transfer, it keeps to real time while the await waits, and what the
    // game does on its timers, which may be what is awaited, goes on.
    m_awaiting = m_loop->clock().beginWork(foundation::WorkKind::Transfer);
    m_look = m_loop->addRepeatingTimer(kAwaitLook, [this, index, which, began] {
        bool met;
        {
            std::lock_guard lock(m_seen->mutex);
            met = m_seen->met[which];
        }
        const bool late = std::chrono::steady_clock::now() - began > std::chrono::duration<double>(kAwaitCap);
        if (!met && !late) return;
        if (!met) foundation::trace(kInput, [&] { return m_commands[index].text + " timed out"; });
        m_look.invalidate();
        m_awaiting.end();
        arm(index + 1, m_loop->now(), m_commands[index].time);
    });
}

bool InputPlayer::has(InputKind kind) const {
    return std::any_of(m_commands.begin(), m_commands.end(),
                       [kind](const InputCommand& command) { return command.kind == kind; });
}

bool InputPlayer::play(const InputCommand& command, bool traceIgnored) {
    std::function<void()> action = m_handler(command);
    if (!action && !traceIgnored) return false;
    foundation::trace(kInput, [&] { return action ? command.text : command.text + " ignored"; });
    if (!action) return false;
    action();
    return true;
}

}  // namespace plat::host
