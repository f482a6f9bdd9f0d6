#include "platform/host/InputScript.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <utility>

#include "platform/host/PlainNumbers.h"
#include "platform/host/QuitSignals.h"
#include "platform/net/Reachability.h"
#include "platform/sys/Excerpt.h"
#include "platform/sys/WholeFile.h"
#include "platform/ui/ViewText.h"

namespace plat::host {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

// Splits off the first word of `rest` (blanks around it dropped).
std::string_view nextWord(std::string_view& rest) {
    rest = trim(rest);
    size_t end = 0;
    while (end < rest.size() && !isBlank(rest[end])) ++end;
    std::string_view word = rest.substr(0, end);
    rest = trim(rest.substr(end));
    return word;
}

std::vector<std::string_view> words(std::string_view rest) {
    std::vector<std::string_view> out;
    while (!(rest = trim(rest)).empty()) out.push_back(nextWord(rest));
    return out;
}

struct Failure {
    std::string what;
};

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// A byte, or a byte-order mark, as a message shows it: a NUL, a control byte or the mark as \xNN
// escapes (a NUL would cut the line where it is printed; the others are invisible).
// Not ui::traceable: the script's messages show every such byte, a tab and the mark's too, as an
// upper-case \xNN; trace lines name \n \r \t and write lower case.
size_t showEscaped(std::string_view rest, std::string& out) {
    const size_t n = rest.starts_with(kByteOrderMark) ? kByteOrderMark.size() : 1;
    const auto c = static_cast<unsigned char>(rest[0]);
    if (n == 1 && c >= 0x20 && c != 0x7F) return sys::showAsIs(rest, out);  // a character whole
    for (size_t i = 0; i < n; ++i) {
        static const char kHex[] = "0123456789ABCDEF";
        const auto b = static_cast<unsigned char>(rest[i]);
        out += {'\\', 'x', kHex[b >> 4], kHex[b & 0xF]};
    }
    return n;
}

// What a message quotes of the script, escaped and cut to a bounded length.
std::string quoted(std::string_view word) {
    return "\"" + sys::excerpt(word, showEscaped, "\"");
}

// A byte-order mark where a line starts (an editor's, before the first TIME), named rather than
// met as a strange TIME.
void expectNoByteOrderMark(std::string_view line) {
    if (line.starts_with(kByteOrderMark))
        throw Failure{"the line starts with a byte-order mark (U+FEFF): " + quoted(line)};
}

// A NUL that no command's own check named (in a comment, a FILE or a mark's TEXT, which it would
// cut), named with the line shown whole.
void expectNoNul(std::string_view line) {
    if (const size_t nul = line.find('\0'); nul != std::string_view::npos)
        throw Failure{"the line holds a NUL (byte " + std::to_string(nul + 1) + "): " + quoted(line)};
}

void expectNone(std::string_view name, std::string_view rest) {
    if (!trim(rest).empty()) throw Failure{std::string(name) + " takes no arguments"};
}

double number(std::string_view word, std::string_view usage) {
    double value = 0;
    if (!parsePlainDecimal(word, true, &value)) throw Failure{std::string(usage) + ", not " + quoted(word)};
    return value;
}

std::string oneOf(std::string_view name, std::string_view rest, std::initializer_list<const char*> choices) {
    const std::vector<std::string_view> w = words(rest);
    for (const char* choice : choices)
        if (w.size() == 1 && w[0] == choice) return choice;
    std::string usage = std::string(name) + " takes ";
    size_t i = 0;
    for (const char* choice : choices) {
        if (i > 0) usage += i + 1 == choices.size() ? " or " : ", ";
        usage += choice;
        ++i;
    }
    throw Failure{usage};
}

std::string restOfLine(std::string_view name, std::string_view rest, const char* what) {
    rest = trim(rest);
    if (rest.empty()) throw Failure{std::string(name) + " takes " + what};
    return std::string(rest);
}

// The whole of `rest` is one "quoted" text (see InputScript.h).
std::string quotedText(std::string_view name, std::string_view rest, const char* what) {
    rest = trim(rest);
    const std::string usage = std::string(name) + " takes a \"" + what + "\" in double quotes";
    if (rest.size() < 2 || rest.front() != '"' || rest.back() != '"') throw Failure{usage};
    std::string text;
    for (size_t i = 1; i + 1 < rest.size(); ++i) {
        char c = rest[i];
        if (c == '"') throw Failure{usage + " (a quote inside is \\\")"};
        if (c == '\\') {
            c = i + 2 < rest.size() ? rest[++i] : '\0';
            if (c == 'n')
                c = '\n';
            else if (c != '"' && c != '\\')
                throw Failure{std::string(name) + ": a backslash comes before \", \\ or n"};
        }
        text += c;
    }
    // Each such text ends up in a view: held to the views' own rule, and told apart.
    if (text.find('\0') != std::string::npos)
        throw Failure{std::string(name) + ": the " + what + " holds a NUL"};
    if (!ui::isViewText(text)) throw Failure{std::string(name) + ": the " + what + " is not UTF-8"};
    return text;
}

void parseTouches(std::string_view rest, InputCommand* command) {
    std::vector<std::string_view> groups;
    for (size_t start = 0;;) {
        const size_t semicolon = rest.find(';', start);
        groups.push_back(rest.substr(start, semicolon == std::string_view::npos ? rest.npos : semicolon - start));
        if (semicolon == std::string_view::npos) break;
        start = semicolon + 1;
    }
    const std::string usage = "touch takes down|move|up|cancel ID [X Y], events apart by \";\"";
    for (std::string_view group : groups) {
        const std::vector<std::string_view> w = words(group);
        if (w.empty()) throw Failure{usage};
        TouchChange change;
        if (w[0] == "down")
            change.phase = TouchPhase::Down;
        else if (w[0] == "move")
            change.phase = TouchPhase::Move;
        else if (w[0] == "up")
            change.phase = TouchPhase::Up;
        else if (w[0] == "cancel")
            change.phase = TouchPhase::Cancel;
        else
            throw Failure{usage + ", not " + quoted(w[0])};
        if (w.size() < 2 || !parsePlainWhole(w[1], 0, 1'000'000'000, &change.id))
            throw Failure{"touch " + std::string(w[0]) + " needs a finger ID (a whole number)"};
        if (w.size() == 4) {
            change.hasLocation = true;
            change.x = number(w[2], "X is a number of points");
            change.y = number(w[3], "Y is a number of points");
        } else if (w.size() != 2 || change.phase == TouchPhase::Down) {
            throw Failure{"touch " + std::string(w[0]) + " " + std::string(w[1]) +
                          (change.phase == TouchPhase::Down ? " needs X Y" : " takes X Y or nothing")};
        }
        for (const TouchChange& earlier : command->touches)
            if (earlier.id == change.id)
                throw Failure{"finger " + std::to_string(change.id) + " appears twice in one event"};
        command->touches.push_back(change);
    }
}

// The service commands and their arguments: WORD, INT (a whole number, sign allowed), TEXT (quoted),
// or a|b|c (one of those words).
constexpr std::pair<const char*, const char*> kServiceCommands[] = {
    {"gamenet.signin", "WORD"},
    {"gamenet.signout", ""},
    {"gamenet.screen", "ok|cancel"},
    {"gamenet.done", ""},
    {"gamenet.fail", "score|achievement|reset INT TEXT"},
    {"store.approve", ""},
    {"store.cancel", ""},
    {"store.fail", "INT TEXT"},
    {"store.state", "INT"},
    {"compose.send", ""},
    {"compose.cancel", ""},
    {"picker.select", "INT"},
    {"picker.done", ""},
    {"picker.cancel", ""},
    {"banner.load", ""},
    {"banner.fail", "TEXT"},
    {"banner.click", ""},
    {"banner.back", ""},
    {"content.display", ""},
    {"content.dismiss", ""},
    {"content.fail", "TEXT"},
    {"fullscreen.load", ""},
    {"fullscreen.fail", "TEXT"},
    {"fullscreen.close", ""},
    {"promo.page", "INT"},
    {"promo.tap", "INT"},
    {"promo.close", ""},
    {"promo.dim", ""},
};

// Splits off the next argument: a word, or a quoted text up to its closing quote.
std::string_view nextArgument(std::string_view& rest) {
    rest = trim(rest);
    if (!rest.starts_with('"')) return nextWord(rest);
    size_t end = 1;
    while (end < rest.size() && rest[end] != '"') end += rest[end] == '\\' ? 2 : 1;
    end = std::min(end + 1, rest.size());
    std::string_view argument = rest.substr(0, end);
    rest = trim(rest.substr(end));
    return argument;
}

void parseServiceCommand(std::string_view name, std::string_view shape, std::string_view rest,
                         InputCommand* command) {
    const std::string usage =
        shape.empty() ? std::string(name) + " takes no arguments" : std::string(name) + " takes " + std::string(shape);
    for (std::string_view expected : words(shape)) {
        const std::string_view written = nextArgument(rest);
        if (written.empty()) throw Failure{usage};
        if (expected == "TEXT") {
            command->arguments.push_back(quotedText(name, written, "TEXT"));
            continue;
        }
        long whole = 0;
        const std::string_view digits = written.starts_with('-') ? written.substr(1) : written;
        const bool fits = expected == "WORD"  ? !written.starts_with('"')
                          : expected == "INT" ? parsePlainWhole(digits, 0, 2'000'000'000, &whole)
                                              : false;
        bool chosen = false;
        for (std::string_view choices = expected; !fits && !choices.empty();) {
            const size_t bar = choices.find('|');
            if (choices.substr(0, bar) == written) chosen = true;
            choices = bar == std::string_view::npos ? std::string_view() : choices.substr(bar + 1);
        }
        if (!fits && !(chosen && expected.find('|') != std::string_view::npos))
            throw Failure{usage + ", not " +
                          (written.starts_with('"') ? sys::excerpt(written) : quoted(written))};
        command->arguments.emplace_back(written);
    }
    if (!trim(rest).empty()) throw Failure{usage};
    command->kind = InputKind::Service;
    command->name = std::string(name);
}

void parseCommand(std::string_view text, InputCommand* command) {
    std::string_view rest = text;
    const std::string_view name = nextWord(rest);
    if (name.empty()) throw Failure{"a time needs a command after it"};
    using K = InputKind;
    static const std::pair<const char*, K> kPlain[] = {
        {"app.resign", K::AppResign},
        {"app.active", K::AppActive},
        {"app.background", K::AppBackground},
        {"app.foreground", K::AppForeground},
        {"app.quit", K::AppQuit},
        {"memory.warning", K::MemoryWarning},
        {"audio.interrupt.begin", K::AudioInterruptBegin},
        {"audio.interrupt.end", K::AudioInterruptEnd},
        {"text.delete", K::TextDelete},
        {"text.clear", K::TextClear},
        {"text.done", K::TextDone},
        {"web.close", K::WebClose},
        {"alert.cancel", K::AlertCancel},
    };
    for (const auto& [plainName, kind] : kPlain) {
        if (name == plainName) {
            expectNone(name, rest);
            command->kind = kind;
            return;
        }
    }
    if (name == "touch") {
        command->kind = K::Touch;
        parseTouches(rest, command);
    } else if (name == "tap" || name == "accel") {
        const bool tap = name == "tap";
        const std::vector<std::string_view> w = words(rest);
        const char* usage = tap ? "tap takes X Y (points)" : "accel takes X Y Z (g)";
        if (w.size() != (tap ? 2u : 3u)) throw Failure{usage};
        command->kind = tap ? K::Tap : K::Accel;
        command->x = number(w[0], usage);
        command->y = number(w[1], usage);
        if (!tap) command->z = number(w[2], usage);
    } else if (name == "rotate") {
        const std::vector<std::string_view> w = words(rest);
        long orientation = 0;
        if (w.size() != 1 || !parsePlainWhole(w[0], 0, 6, &orientation))
            throw Failure{"rotate takes a device orientation 0-6"};
        command->kind = K::Rotate;
        command->orientation = static_cast<int>(orientation);
    } else if (name == "audio.fail") {
        command->kind = K::AudioFail;
        command->argument = oneOf(name, rest, {"category", "activate", "deactivate"});
    } else if (name == "net") {
        command->kind = K::Net;
        command->argument = std::string(trim(rest));
        if (!net::parseNetOverride(command->argument)) throw Failure{"net takes wifi, wwan or none"};
    } else if (name == "screenshot") {
        command->kind = K::Screenshot;
        command->argument = restOfLine(name, rest, "a FILE (PNG)");
    } else if (name == "dump.views") {
        command->kind = K::DumpViews;
        command->argument = restOfLine(name, rest, "a FILE");
    } else if (name == "mark" || name == "await") {
        command->kind = name == "mark" ? K::Mark : K::Await;
        command->argument = restOfLine(name, rest, "a TEXT");
    } else if (name == "alert.press") {
        command->kind = K::AlertPress;
        const std::string_view written = trim(rest);
        if (!written.starts_with('"') && !parsePlainWhole(written, 0, 1000, &command->index))
            throw Failure{"alert.press takes a button index (from 0) or a \"TITLE\""};
        if (written.starts_with('"')) command->argument = quotedText(name, written, "TITLE");
    } else if (name == "sheet.press") {
        command->kind = K::SheetPress;
        if (!parsePlainWhole(trim(rest), 0, 1000, &command->index))
            throw Failure{"sheet.press takes a button index (from 0)"};
    } else if (name == "text.type") {
        command->kind = K::TextType;
        command->argument = quotedText(name, rest, "TEXT");
    } else {
        for (const auto& [serviceName, shape] : kServiceCommands)
            if (name == serviceName) return parseServiceCommand(name, shape, rest, command);
        throw Failure{"unknown command " + quoted(name)};
    }
}

// Standard input as a script: a pipe or a terminal is the point of it, read to its end within the
// cap; a named FIFO or another device is refused as it would be by name (/dev/zero never ends).
// Signals that quit are blocked for the run loop, so while a writer holds its pipe open they are
// watched here too: SIGTERM still ends the wait.
std::optional<std::string> readStandardInput(const std::string& name, const sys::FileCap& cap,
                                             sys::ReadProblem* problem) {
    struct stat st;
    if (fstat(STDIN_FILENO, &st) != 0) {
        *problem = {sys::ReadFailure::Unreadable, name + ": " + std::strerror(errno)};
        return std::nullopt;
    }
    char target[64] = {};
    const bool pipe = S_ISFIFO(st.st_mode) && readlink("/proc/self/fd/0", target, sizeof target - 1) > 0 &&
                      std::string_view(target).starts_with("pipe:");
    if ((S_ISFIFO(st.st_mode) && !pipe) || (S_ISCHR(st.st_mode) && !isatty(STDIN_FILENO)) || S_ISBLK(st.st_mode) ||
        S_ISDIR(st.st_mode)) {
        *problem = {sys::ReadFailure::NotAFile, name + ": not a file (" + sys::fileTypeName(st.st_mode) + ")"};
        return std::nullopt;
    }
    const sigset_t quit = QuitSignals::set();
    const int stop = S_ISREG(st.st_mode) ? -1 : signalfd(-1, &quit, SFD_NONBLOCK | SFD_CLOEXEC);
    std::optional<std::string> text = sys::readWholeStream(STDIN_FILENO, name, cap, problem, stop);
    if (stop >= 0) close(stop);
    return text;
}

}  // namespace

std::string scriptQuoted(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out + "\"";
}

std::optional<std::vector<InputCommand>> parseInputScript(std::string_view text, const std::string& fileName,
                                                          std::string* error) {
    std::vector<InputCommand> commands;
    double previous = 0;
    int lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        const size_t end = text.find('\n');
        std::string_view line = trim(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        try {
            expectNoByteOrderMark(line);
            if (line.empty() || line.front() == '#') {
                expectNoNul(line);
                continue;
            }
            InputCommand command;
            command.line = lineNumber;
            std::string_view rest = line;
            const std::string_view written = nextWord(rest);
            std::string_view time = written;
            const bool relative = time.front() == '+';
            if (relative) time.remove_prefix(1);
            double seconds = 0;
            if (!parsePlainDecimal(time, false, &seconds))
                throw Failure{"a line starts with a TIME (seconds since launch, or +seconds after the previous "
                              "line), not " +
                              quoted(written)};
            // Kept to the microsecond, so "+0.1" three times and "0.3" are the same time.
            command.time = std::round(((relative ? previous : 0) + seconds) * 1e6) / 1e6;
            command.text = std::string(rest);
            parseCommand(rest, &command);
            expectNoNul(line);
            previous = command.time;
            commands.push_back(std::move(command));
        } catch (const Failure& failure) {
            if (error) *error = fileName + ":" + std::to_string(lineNumber) + ": " + failure.what;
            return std::nullopt;
        }
    }
    return commands;
}

std::optional<std::vector<InputCommand>> readInputScript(const std::string& path, std::string* error, bool* quit) {
    const bool standardInput = path == "-";
    const std::string name = standardInput ? "<stdin>" : path;
    sys::ReadProblem problem;
    const std::optional<std::string> text = standardInput
                                                ? readStandardInput(name, sys::kInputScriptCap, &problem)
                                                : sys::readWholeFile(path, sys::kInputScriptCap, &problem);
    if (quit) *quit = problem.failure == sys::ReadFailure::Stopped;
    if (!text) {
        if (error) *error = problem.message;
        return std::nullopt;
    }
    return parseInputScript(*text, name, error);
}

}  // namespace plat::host
