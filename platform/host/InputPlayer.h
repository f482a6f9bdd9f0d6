// Plays an input script on a run loop: each command a timer at its time after launch, in file order
// at equal times. Each traces "input <command as written>" before it acts, with " ignored" when it
// does not apply (a lifecycle step from the wrong state, a finger not down or down already, a turn to
// the orientation the device has, a sample without a delegate, a press with nothing of that kind on
// screen or no such button, text commands with no text view taking the keyboard...). A tap is a finger
// of the driver's own, lifted 0.05 s later; script fingers are forgotten when the application cancels
// every touch (a resign). SERVICE.ACTION commands go to the handler the service registered. An "await TEXT" holds the
// commands after it until a line holding TEXT has been logged or traced since start, the script's
// own "input" lines aside (60 s of real time at most, then "input await TEXT timed out" and on),
// their times counting from then; meanwhile a virtual clock keeps to real time (work in flight).
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "platform/foundation/RunLoop.h"
#include "platform/host/InputScript.h"

namespace plat::host {

// Each command, when its time comes, is traced ("input" category) as "<command as written>",
// with " ignored" added when the handler finds it does not apply. Equal times run in file order,
// before anything else the loop has due at that time that was armed after the script.
class InputPlayer {
public:
    // What the command does now, or an empty function when it does not apply. The trace line is
    // written between the two, so it comes before whatever the command itself traces.
    using Handler = std::function<std::function<void()>(const InputCommand&)>;

    InputPlayer(std::vector<InputCommand> commands, Handler handler);
    ~InputPlayer();
    InputPlayer(const InputPlayer&) = delete;
    InputPlayer& operator=(const InputPlayer&) = delete;

    // Arms every command up to the first await at `launch` (a time of the loop's clock) plus its
    // time; each await arms the next stretch when it is met.
    void start(foundation::RunLoop& loop, double launch);
    // Drops the commands not yet run.
    void stop();

    const std::vector<InputCommand>& commands() const { return m_commands; }
    bool has(InputKind kind) const;

    // Runs `command` now, traced as the script's are (the window driver's device events): whether
    // it applied. With `traceIgnored` false, one that does not apply leaves no line.
    bool play(const InputCommand& command, bool traceIgnored = true);

private:
    struct Seen;
    // Arms the commands from `first` on, through the next await, `origin` being the loop's time at
    // which the script reads `base`.
    void arm(std::size_t first, double origin, double base);
    void await(std::size_t index);

    std::vector<InputCommand> m_commands;
    Handler m_handler;
    std::vector<foundation::Timer> m_timers;
    foundation::Timer m_look;  // the await under way looking at what was written
    foundation::WorkInFlight m_awaiting;  // while an await waits: a virtual clock keeps to real time
    foundation::RunLoop* m_loop = nullptr;
    std::shared_ptr<Seen> m_seen;  // what the awaits want and have met, shared with the observer
};

}  // namespace plat::host
