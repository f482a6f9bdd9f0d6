#include "platform/host/HeadlessHost.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <utility>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/LocalServices.h"
#include "platform/foundation/Log.h"
#include "platform/host/HeadlessScreen.h"
#include "platform/host/QuitSignals.h"
#include "platform/host/SDLDriver.h"
#include "platform/host/SDLWindow.h"
#include "platform/net/Reachability.h"
#include "platform/sys/Accelerometer.h"
#include "platform/sys/AudioSession.h"
#include "platform/sys/Device.h"
#include "platform/sys/QuitRequest.h"
#include "platform/ui/ActionSheet.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Application.h"
#include "platform/ui/Button.h"
#include "platform/ui/Compositor.h"
#include "platform/ui/Orientation.h"
#include "platform/ui/TextView.h"
#include "platform/ui/WebView.h"

namespace plat::host {

namespace {

HeadlessHost* g_current = nullptr;

// One line when the first game frame has been presented: what start-up measurements time.
foundation::TraceCategory kLaunch("launch");

// The first orientation the Info.plist lists, as the device holds it; portrait without one.
int firstListedOrientation(const foundation::Bundle& bundle) {
    const foundation::Value* list = bundle.infoValue(ui::kSupportedInterfaceOrientationsKey);
    const foundation::Value::Array* items = list ? list->array() : nullptr;
    if (!items || items->empty() || !items->front().string()) return ui::kInterfaceOrientationPortrait;
    return ui::interfaceOrientationForString(*items->front().string());
}

// Whether `path` can be written, leaving nothing behind: an existing file is opened for appending
// (its content untouched), a new one made and removed.
bool canWriteFile(const std::string& path, std::string* why) {
    int descriptor = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    bool made = false;
    if (descriptor < 0 && errno == ENOENT) {
        descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        made = descriptor >= 0;
    }
    if (descriptor < 0) {
        *why = std::strerror(errno);
        return false;
    }
    ::close(descriptor);
    if (made) ::unlink(path.c_str());
    return true;
}

ui::TouchPhase uiPhase(TouchPhase phase) {
    switch (phase) {
        case TouchPhase::Down:
            return ui::TouchPhase::Began;
        case TouchPhase::Move:
            return ui::TouchPhase::Moved;
        case TouchPhase::Up:
            return ui::TouchPhase::Ended;
        case TouchPhase::Cancel:
            break;
    }
    return ui::TouchPhase::Cancelled;
}

}  // namespace

HeadlessHost::HeadlessHost(HostOptions options) : m_options(std::move(options)) {
    g_current = this;
}

HeadlessHost::~HeadlessHost() {
    m_player.reset();
    m_timers.clear();
    m_signals.reset();
    m_driver.reset();
    m_application.reset();
    m_screen.reset();
    m_window.reset();
    if (g_current == this) g_current = nullptr;
}

HeadlessHost* HeadlessHost::current() {
    return g_current;
}

int HeadlessHost::prepare(std::string* message) {
    auto fail = [&](int status, std::string what) {
        if (message) *message = std::move(what);
        return status;
    };
    const std::optional<std::string>& categories = m_options.trace;
    const std::optional<std::string>& traceFile = m_options.traceFile;
    if (!foundation::Trace::configure(categories ? categories->c_str() : nullptr,
                                      traceFile ? traceFile->c_str() : nullptr))
        return fail(1, "");  // configure has said why
    // Launch is 0 on the virtual clock; the real one counts from here (even after an earlier start
    // in the process ran on virtual time).
    if (m_options.virtualClock())
        foundation::Clock::process().startVirtualAt(0);
    else
        foundation::Clock::process().setVirtual(false);

    sys::forgetQuitRequested();  // an earlier start's quit, noted, would end this one's lock waits at once

    if (!m_options.input.empty()) {
        std::string error;
        bool quit = false;
        std::optional<std::vector<InputCommand>> script = readInputScript(m_options.input, &error, &quit);
        if (!script) return fail(quit ? kQuitBeforeLaunch : 2, error);
        m_script = std::move(*script);
    }

    foundation::Error error;
    std::optional<foundation::Bundle> bundle = foundation::Bundle::open(m_options.bundle, &error);
    if (!bundle) return fail(1, error.message);
    std::optional<foundation::Container> container =
        foundation::Container::open(bundle->identifier(), m_options.home, &error);
    if (!container) return fail(1, error.message);
    const int listed = firstListedOrientation(*bundle);
    foundation::Bundle::setMain(std::move(*bundle));
    foundation::Container::setMain(std::move(*container));

    // The device's stand-ins start as in a new process: a second start in this one finds nothing
    // the first left (an interruption, an armed failure, a delegate, a sampling interval).
    sys::AudioSession::shared().reset();
    sys::Accelerometer::shared().reset();
    sys::Device& device = sys::Device::current();
    device.reset();
    if (!device.setPreset(m_options.device)) return fail(1, "no device preset " + m_options.device);
    device.setSystemVersion(m_options.systemVersion);
    device.setOrientation(m_options.deviceOrientation ? m_options.deviceOrientation : listed);

    if (!m_options.net.empty()) net::setNetOverride(net::parseNetOverride(m_options.net));
    // Found now, not after the whole run has been played for nothing.
    if (!m_options.screenshot.empty()) {
        std::string why;
        if (!canWriteFile(m_options.screenshot, &why))
            return fail(1, "cannot write the screenshot " + m_options.screenshot + ": " + why);
    }
    if (!m_options.headless) openWindow();
    return 0;
}

void HeadlessHost::openWindow() {
    const sys::DevicePreset& preset = sys::Device::current().preset();
    const Glass glass = glassFor(preset.width, preset.height, preset.scale, sys::Device::current().orientation());
    std::string title = "Drovik Player";
    const foundation::Bundle* bundle = foundation::Bundle::main();
    const foundation::Value* name = bundle ? bundle->infoValue("CFBundleName") : nullptr;
    if (name && name->string()) title += ": " + *name->string();
    std::string error;
    m_window = SDLWindow::open(glass, m_options.zoom, title, &error);
    if (!m_window)
        foundation::log("drovik-player: no window (%s): running headless on the %s clock until quit",
                        error.c_str(), m_options.virtualClock() ? "virtual" : "real");
}

int HeadlessHost::run(std::unique_ptr<ui::ApplicationDelegate> delegate, std::string* message) {
    foundation::RunLoop& loop = foundation::RunLoop::main();
    m_application = std::make_unique<ui::Application>(std::move(delegate), &loop);
    m_signals = std::make_unique<QuitSignals>(loop, [this](int) { quit(); });
    m_player = std::make_unique<InputPlayer>(m_script,
                                             [this](const InputCommand& command) { return commandAction(command); });
    if (m_window) {
        m_driver = std::make_unique<SDLDriver>(*m_window, *m_application, [this](const InputCommand& command,
                                                                                 bool traceIgnored) {
            return m_player->play(command, traceIgnored);
        });
        m_driver->start(loop);
    }

    // The script's commands are armed first, so at an equal time they run before the run ends.
    const double launch = loop.now();
    m_player->start(loop, launch);
    const std::optional<double> end = runBound(m_options, m_player->has(InputKind::AppQuit));
    // A script call that never returns holds the loop, and this timer with it.
    if (end) m_signals->setDeadlineIn(*end);
    if (end)
        m_timers.push_back(loop.addTimer(*end, [this, end] {
            // A game that stopped drawing (resigned, held paused) would never reach its count.
            if (m_options.frames && m_frames < *m_options.frames)
                foundation::log("drovik-player: %ld of %ld frames drawn when the run reached its end at %g clock "
                                "seconds%s",
                                m_frames, *m_options.frames, *end, m_options.duration ? "" : " (see --duration)");
            quit();
        }));

    // The screen as the run left it, taken before the teardown removes the window.
    if (!m_options.screenshot.empty())
        m_application->setBeforeTeardown([this] { compositeScreen(&m_finalScreenError); });
    m_running = true;
    int status = m_application->run();
    m_running = false;
    if (m_driver && m_driver->lost()) status = 1;  // said when it happened
    m_player.reset();
    m_timers.clear();
    m_driver.reset();

    if (!m_options.screenshot.empty()) {
        std::string error = m_finalScreenError;
        HeadlessScreen* shown = error.empty() ? screen(&error) : nullptr;
        if (!shown || !shown->writeScreenshot(m_options.screenshot, &error)) {
            if (message) *message = "cannot write the screenshot " + m_options.screenshot + ": " + error;
            status = 1;
        }
    }
    return status;
}

std::optional<double> runBound(const HostOptions& options, bool scriptQuits) {
    if (options.duration) return options.duration;
    // A game that stops making frames would leave --frames alone unreached: the virtual clock
    // would race on, a window would stay open for ever.
    if (options.frames) return kDefaultHeadlessSeconds + static_cast<double>(*options.frames) * kFrameSeconds;
    if (!options.headless) return std::nullopt;
    if (scriptQuits) return std::nullopt;
    return kDefaultHeadlessSeconds;
}

void HeadlessHost::quit() {
    // The signals are read until the process ends (the clients' drain); the run may be over.
    if (!m_application || !m_running) return;
    if (m_signals) m_signals->noteEnding();
    m_application->quit();
}

void HeadlessHost::gameFrameDidEnd() {
    if (++m_frames == 1) foundation::trace(kLaunch, "firstFrame");
    // After the frame has returned, not inside it.
    if (m_options.frames && m_frames == *m_options.frames)
        foundation::RunLoop::main().perform([this] { quit(); });
}

HeadlessScreen* HeadlessHost::screen(std::string* error) {
    if (!m_screen) {
        const sys::DevicePreset& preset = sys::Device::current().preset();
        m_screen = HeadlessScreen::create(preset.width, preset.height, preset.scale, error);
    }
    return m_screen.get();
}

HeadlessScreen* HeadlessHost::compositeScreen(std::string* error) {
    HeadlessScreen* shown = screen(error);
    if (!shown) return nullptr;
    // In a window, what the window shows: the glass as held at launch, the interface turned in it
    // (a landscape game's portrait launch screen lies on its side there).
    shown->setInterfaceOrientation(m_window        ? m_window->glass().orientation
                                   : m_application ? m_application->interfaceOrientation()
                                                   : ui::kInterfaceOrientationPortrait);
    if (m_application) m_application->compositor().composite(*shown);
    return shown;
}

bool HeadlessHost::writeScreenshot(const std::string& path, std::string* error) {
    HeadlessScreen* shown = compositeScreen(error);
    return shown && shown->writeScreenshot(path, error);
}

std::function<void()> HeadlessHost::commandAction(const InputCommand& command) {
    ui::Application& app = *m_application;
    const ui::ApplicationState state = app.state();
    using State = ui::ApplicationState;
    switch (command.kind) {
        case InputKind::Touch:
            return touchAction(command);
        case InputKind::Tap:
            return tapAction(command);
        case InputKind::Accel:
            if (!sys::Accelerometer::shared().delegate()) return nullptr;
            return [&command] {
                sys::Accelerometer::shared().deliver(
                    {command.x, command.y, command.z, foundation::Clock::process().now()});
            };
        case InputKind::Rotate:
            if (command.orientation == sys::Device::current().orientation()) return nullptr;
            return [&command] { sys::Device::current().setOrientation(command.orientation); };
        case InputKind::AppResign:
            if (state != State::Active) return nullptr;
            return [&app] { app.resignActive(); };
        case InputKind::AppActive:
            if (state != State::Inactive) return nullptr;
            return [&app] { app.becomeActive(); };
        case InputKind::AppBackground:
            if (state != State::Active && state != State::Inactive) return nullptr;
            return [&app] { app.enterBackground(); };
        case InputKind::AppForeground:
            if (state != State::Background) return nullptr;
            return [&app] { app.enterForeground(); };
        case InputKind::AppQuit:
            return [this] { quit(); };
        case InputKind::MemoryWarning:
            if (state == State::NotRunning) return nullptr;
            return [&app] { app.receiveMemoryWarning(); };
        case InputKind::AudioInterruptBegin:
            if (sys::AudioSession::shared().isInterrupted()) return nullptr;
            return [] { sys::AudioSession::shared().beginInterruption(); };
        case InputKind::AudioInterruptEnd:
            if (!sys::AudioSession::shared().isInterrupted()) return nullptr;
            return [] { sys::AudioSession::shared().endInterruption(); };
        case InputKind::AudioFail:
            return [&command] {
                using Operation = sys::AudioSession::Operation;
                sys::AudioSession::shared().failNext(command.argument == "category"   ? Operation::Category
                                                     : command.argument == "activate" ? Operation::Activate
                                                                                      : Operation::Deactivate);
            };
        case InputKind::Net:
            return [&command] { net::setNetOverride(net::parseNetOverride(command.argument)); };
        case InputKind::Screenshot:
            return [this, &command] {
                std::string error;
                if (!writeScreenshot(command.argument, &error)) {
                    foundation::log("drovik-player: cannot write the screenshot %s: %s", command.argument.c_str(),
                                    error.c_str());
                } else if (m_window) {
                    // A person at the window (F12) would not know where it went.
                    std::error_code ignored;
                    foundation::log("drovik-player: the screen is in %s",
                                    std::filesystem::absolute(command.argument, ignored).c_str());
                }
            };
        case InputKind::DumpViews:
            return [&app, &command] {
                std::string error;
                if (!app.dumpViews(command.argument, &error))
                    foundation::log("drovik-player: cannot dump the views to %s: %s", command.argument.c_str(),
                                    error.c_str());
            };
        case InputKind::Mark:
        case InputKind::Await:  // the player holds what follows
            return [] {};  // its trace line is the mark
        case InputKind::AlertPress: {
            if (app.alerts().empty()) return nullptr;
            std::shared_ptr<ui::AlertView> alert = app.alerts().front();
            const long index = command.index >= 0 ? command.index : alert->indexOfButton(command.argument);
            if (index < 0 || index >= static_cast<long>(alert->buttonTitles().size())) return nullptr;
            return [alert, index] { alert->pressButton(static_cast<int>(index)); };
        }
        case InputKind::AlertCancel: {
            if (app.alerts().empty()) return nullptr;
            return [alert = app.alerts().front()] { alert->cancel(); };
        }
        case InputKind::SheetPress: {
            ui::ActionSheet* sheet = ui::ActionSheet::onScreen();
            if (!sheet || command.index >= static_cast<long>(sheet->buttonTitles().size())) return nullptr;
            auto held = std::static_pointer_cast<ui::ActionSheet>(sheet->shared_from_this());
            return [held, &command] { held->pressButton(static_cast<int>(command.index)); };
        }
        case InputKind::TextType:
        case InputKind::TextDelete:
        case InputKind::TextClear: {
            ui::TextView* responder = app.textInputResponder();
            if (!responder) return nullptr;
            if (command.kind == InputKind::TextClear) return [responder] { responder->setText({}); };
            if (command.kind == InputKind::TextType)
                return [responder, &command] { responder->appendText(command.argument); };
            if (responder->text().empty()) return nullptr;
            return [responder] { responder->deleteBackward(); };
        }
        case InputKind::TextDone: {
            ui::TextEntryView* entry = ui::TextEntryView::onScreen();
            if (!entry) return nullptr;
            return [done = entry->doneControl()] { done->sendActions(); };
        }
        case InputKind::WebClose: {
            ui::WebView* page = ui::WebView::closableOnScreen();
            if (!page) return nullptr;
            return [close = page->closeControl()] { close->sendActions(); };
        }
        case InputKind::Service:
            return foundation::serviceCommandAction(command.name, command.arguments);
    }
    return nullptr;
}

std::function<void()> HeadlessHost::touchAction(const InputCommand& command) {
    ui::Application& app = *m_application;
    if (app.state() != ui::ApplicationState::Active || !app.keyWindow()) return nullptr;
    // The application cancels every touch at once (a resign does): then none of ours is down.
    if (app.touchCount() == 0) m_fingersDown.clear();
    for (const TouchChange& change : command.touches) {
        const bool down = std::find(m_fingersDown.begin(), m_fingersDown.end(), change.id) != m_fingersDown.end();
        if (down == (change.phase == TouchPhase::Down)) return nullptr;
    }
    return [this, &app, &command] {
        std::vector<ui::TouchInput> inputs;
        for (const TouchChange& change : command.touches) {
            std::optional<ui::Point> location;
            if (change.hasLocation) location = ui::Point{change.x, change.y};
            inputs.push_back({uiPhase(change.phase), static_cast<int>(change.id), location});
            if (change.phase == TouchPhase::Down)
                m_fingersDown.push_back(change.id);
            else if (change.phase != TouchPhase::Move)
                m_fingersDown.erase(std::find(m_fingersDown.begin(), m_fingersDown.end(), change.id));
        }
        app.injectTouches(inputs);
    };
}

std::function<void()> HeadlessHost::tapAction(const InputCommand& command) {
    ui::Application& app = *m_application;
    if (app.state() != ui::ApplicationState::Active || !app.keyWindow()) return nullptr;
    return [this, &app, &command] {
        const int finger = m_nextTapFinger--;
        app.injectTouches({{ui::TouchPhase::Began, finger, ui::Point{command.x, command.y}}});
        std::erase_if(m_timers, [](const foundation::Timer& timer) { return !timer.isValid(); });
        // A resign meanwhile has cancelled the touch; the lift then finds nothing to end.
        m_timers.push_back(foundation::RunLoop::main().addTimer(
            kTapSeconds, [&app, finger] { app.injectTouches({{ui::TouchPhase::Ended, finger, std::nullopt}}); }));
    };
}

}  // namespace plat::host
