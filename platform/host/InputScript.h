// The input script: scripted touches, sensors, lifecycle and checks, one command a line.
//
//   TIME touch down|move|up|cancel ID [X Y] [; PHASE ID [X Y] ...]
//   TIME tap X Y | accel X Y Z | rotate N
//   TIME app.resign | app.active | app.background | app.foreground | app.quit | memory.warning
//   TIME audio.interrupt.begin | audio.interrupt.end | audio.fail category|activate|deactivate
//   TIME net wifi|wwan|none | screenshot FILE | dump.views FILE | mark TEXT
//   TIME await TEXT      the commands after it wait until a line holding TEXT has been logged or
//                        traced since launch (60 s of real time at most), their times from then
//   TIME alert.press N | alert.press "TITLE"      a button of the alert on screen, by index or title
//   TIME alert.cancel                              the system takes the alert on screen away
//   TIME sheet.press N                            a button of the action sheet on screen, by index
//   TIME text.type "TEXT" | text.delete | text.clear  the keyboard's text view (delete: Backspace)
//   TIME text.done                                 the done control of the text entry on screen
//   TIME web.close                                 the close control of the web page on screen
//   TIME SERVICE.ACTION [ARGUMENTS]                what a person or a server does to a local service:
//     gamenet.signin ID | gamenet.signout | gamenet.screen ok|cancel | gamenet.done
//     gamenet.fail score|achievement|reset CODE "TEXT"
//     store.approve | store.cancel | store.fail CODE "TEXT" | store.state N
//     compose.send | compose.cancel | picker.select ROW | picker.done | picker.cancel
//     banner.load | banner.fail "TEXT" | banner.click | banner.back
//     content.display | content.dismiss | content.fail "TEXT"
//     fullscreen.load | fullscreen.fail "TEXT" | fullscreen.close
//     promo.page N | promo.tap SLOT | promo.close | promo.dim
//   (CODE, N, ROW and SLOT are whole numbers, CODE and N may be negative; ID is a word.)
//
// TIME is clock seconds since launch, or +S: S seconds after the previous command's time. Lines
// whose first visible character is '#' are comments; FILE and TEXT are the rest of the line. A
// quoted "TITLE" or "TEXT" is UTF-8 written between double quotes, with \" for a quote, \\ for a
// backslash and \n for a line feed. The script is parsed whole before launch (every service
// command's name and arguments are in one table here, so a typo fails at once); times are kept to
// the microsecond, so +0.1 three times meets a written 0.3.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plat::host {

enum class TouchPhase { Down, Move, Up, Cancel };

// One finger's part of a touch event. A down needs a place; the others may leave it out, and
// then the finger stays where it was.
struct TouchChange {
    TouchPhase phase = TouchPhase::Down;
    long id = 0;  // the script's name for the finger, from its down to its up or cancel
    bool hasLocation = false;
    double x = 0;  // interface points
    double y = 0;
};

enum class InputKind {
    Touch,
    Tap,
    Accel,
    Rotate,
    AppResign,
    AppActive,
    AppBackground,
    AppForeground,
    AppQuit,
    MemoryWarning,
    AudioInterruptBegin,
    AudioInterruptEnd,
    AudioFail,
    Net,
    Screenshot,
    DumpViews,
    Mark,
    AlertPress,
    TextType,
    TextDelete,
    TextClear,
    TextDone,
    WebClose,
    Service,  // handled by the service that registered the command's name
    AlertCancel,
    SheetPress,
    Await,  // held by the player itself (InputPlayer)
};

struct InputCommand {
    double time = 0;  // clock seconds since launch, to the microsecond
    int line = 0;
    std::string text;  // the command as written, without its time
    InputKind kind = InputKind::Mark;
    std::vector<TouchChange> touches;  // Touch: the event's fingers, in the order written
    double x = 0, y = 0, z = 0;        // Tap: the place; Accel: the sample in g
    int orientation = 0;               // Rotate: the device orientation, 0-6
    long index = -1;                   // AlertPress: the button's index, -1 when by title; SheetPress: it
    // AudioFail: the call; Net: the link; a FILE; Mark, Await and TextType: TEXT; AlertPress: TITLE.
    std::string argument;
    std::string name;                    // Service: the command's name
    std::vector<std::string> arguments;  // Service: its arguments, quoted texts unquoted
};

// `text` as a quoted "TEXT" of the script.
std::string scriptQuoted(std::string_view text);

// The whole script, or nullopt with `error` reading "FILE:LINE: what" (`fileName` is FILE).
std::optional<std::vector<InputCommand>> parseInputScript(std::string_view text, const std::string& fileName,
                                                          std::string* error);
// Reads and parses `path` ("-": standard input, named "<stdin>" in errors); a file that cannot be
// read is an error "FILE: why". `quit` is set when a quit signal ended the read of standard input
// ("<stdin>: stopped before its end"): no fault of the script's.
std::optional<std::vector<InputCommand>> readInputScript(const std::string& path, std::string* error,
                                                         bool* quit = nullptr);

}  // namespace plat::host
