#include "platform/host/InputPlayer.h"

#include <algorithm>
#include <utility>

#include "platform/foundation/Log.h"

namespace plat::host {

namespace {
foundation::TraceCategory kInput("input");
}

InputPlayer::InputPlayer(std::vector<InputCommand> commands, Handler handler)
    : m_commands(std::move(commands)), m_handler(std::move(handler)) {}

void InputPlayer::start(foundation::RunLoop& loop, double launch) {
    m_timers.clear();
    m_timers.reserve(m_commands.size());
    const double now = loop.now();
    for (const InputCommand& command : m_commands) {
        const double delay = launch + command.time - now;
        m_timers.push_back(loop.addTimer(delay > 0 ? delay : 0, [this, &command] { play(command); }));
    }
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
