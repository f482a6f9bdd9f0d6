// The input script's grammar: every command, times absolute and relative, and the errors that
// name the file and line.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <ctime>
#include <string>
#include <vector>

#include "platform/host/InputScript.h"
#include "tests/support/TestSupport.h"

namespace {

using plat::host::InputCommand;
using plat::host::InputKind;
using plat::host::parseInputScript;
using namespace std::string_literals;
using plat::host::readInputScript;
using plat::host::TouchChange;
using plat::host::TouchPhase;

// A command's fields in one line of text, so expectations read like the script.
std::string describe(const InputCommand& c) {
    char head[64];
    std::snprintf(head, sizeof head, "@%g L%d kind%d", c.time, c.line, static_cast<int>(c.kind));
    std::string out = head;
    for (const TouchChange& t : c.touches) {
        out += " [" + std::to_string(static_cast<int>(t.phase)) + " " + std::to_string(t.id);
        if (t.hasLocation) {
            char at[64];
            std::snprintf(at, sizeof at, " %g,%g", t.x, t.y);
            out += at;
        }
        out += "]";
    }
    if (c.kind == InputKind::Tap || c.kind == InputKind::Accel) {
        char xyz[96];
        std::snprintf(xyz, sizeof xyz, " %g %g %g", c.x, c.y, c.z);
        out += xyz;
    }
    if (c.kind == InputKind::Rotate) out += " o" + std::to_string(c.orientation);
    if (c.kind == InputKind::AlertPress || c.kind == InputKind::SheetPress) out += " #" + std::to_string(c.index);
    if (!c.argument.empty()) out += " '" + c.argument + "'";
    if (c.kind == InputKind::Service) out += " " + c.name;
    for (const std::string& argument : c.arguments) out += " [" + argument + "]";
    return out + " <" + c.text + ">";
}

std::vector<std::string> parsed(const std::string& script) {
    std::string error;
    auto commands = parseInputScript(script, "s.txt", &error);
    EXPECT_TRUE(commands) << error;
    std::vector<std::string> out;
    if (commands)
        for (const InputCommand& c : *commands) out.push_back(describe(c));
    return out;
}

std::string failure(const std::string& script) {
    std::string error;
    auto commands = parseInputScript(script, "s.txt", &error);
    EXPECT_FALSE(commands) << script;
    return error;
}

TEST(InputScript, ReadsEveryCommand) {
    const struct Case {
        std::string line;
        std::string parsed;
    } cases[] = {
        {"1 touch down 3 10 20", "@1 L1 kind0 [0 3 10,20] <touch down 3 10 20>"},
        {"1 touch down 1 10 20 ; move 2 -5.5 .25;up 3;cancel 4 1 2",
         "@1 L1 kind0 [0 1 10,20] [1 2 -5.5,0.25] [2 3] [3 4 1,2] <touch down 1 10 20 ; move 2 -5.5 .25;up 3;cancel 4 1 2>"},
        {"2.5 tap 160 240", "@2.5 L1 kind1 160 240 0 <tap 160 240>"},
        {"0 accel 0.1 -1 0", "@0 L1 kind2 0.1 -1 0 <accel 0.1 -1 0>"},
        {"3 rotate 0", "@3 L1 kind3 o0 <rotate 0>"},
        {"3 rotate 6", "@3 L1 kind3 o6 <rotate 6>"},
        {"4 app.resign", "@4 L1 kind4 <app.resign>"},
        {"4 app.active", "@4 L1 kind5 <app.active>"},
        {"4 app.background", "@4 L1 kind6 <app.background>"},
        {"4 app.foreground", "@4 L1 kind7 <app.foreground>"},
        {"4 app.quit", "@4 L1 kind8 <app.quit>"},
        {"4 memory.warning", "@4 L1 kind9 <memory.warning>"},
        {"5 audio.interrupt.begin", "@5 L1 kind10 <audio.interrupt.begin>"},
        {"5 audio.interrupt.end", "@5 L1 kind11 <audio.interrupt.end>"},
        {"5 audio.fail category", "@5 L1 kind12 'category' <audio.fail category>"},
        {"5 audio.fail activate", "@5 L1 kind12 'activate' <audio.fail activate>"},
        {"5 audio.fail deactivate", "@5 L1 kind12 'deactivate' <audio.fail deactivate>"},
        {"6 net wifi", "@6 L1 kind13 'wifi' <net wifi>"},
        {"6 net wwan", "@6 L1 kind13 'wwan' <net wwan>"},
        {"6 net none", "@6 L1 kind13 'none' <net none>"},
        {"7 screenshot shots/a b.png", "@7 L1 kind14 'shots/a b.png' <screenshot shots/a b.png>"},
        {"7 dump.views views.jsonl", "@7 L1 kind15 'views.jsonl' <dump.views views.jsonl>"},
        {"8 mark level  two # not a comment", "@8 L1 kind16 'level  two # not a comment' <mark level  two # not a comment>"},
        {"\t 9\tmark x \r", "@9 L1 kind16 'x' <mark x>"},
        {"10 alert.press 2", "@10 L1 kind17 #2 <alert.press 2>"},
        {"10 alert.press \"Not now\"", "@10 L1 kind17 #-1 'Not now' <alert.press \"Not now\">"},
        {"10 alert.press \"12\"", "@10 L1 kind17 #-1 '12' <alert.press \"12\">"},
        {"11 text.type \"Zo\xc3\xa9 \\\"Z\\\" \\\\ \\n\"",
         "@11 L1 kind18 'Zo\xc3\xa9 \"Z\" \\ \n' <text.type \"Zo\xc3\xa9 \\\"Z\\\" \\\\ \\n\">"},
        {"11 text.type \"\"", "@11 L1 kind18 <text.type \"\">"},
        {"11 text.delete", "@11 L1 kind19 <text.delete>"},
        {"11 text.clear", "@11 L1 kind20 <text.clear>"},
        {"11 text.done", "@11 L1 kind21 <text.done>"},
        {"12 web.close", "@12 L1 kind22 <web.close>"},
        {"12 alert.cancel", "@12 L1 kind24 <alert.cancel>"},
        {"12 sheet.press 1", "@12 L1 kind25 #1 <sheet.press 1>"},
        {"13 store.approve", "@13 L1 kind23 store.approve <store.approve>"},
        {"13 gamenet.signin G:1", "@13 L1 kind23 gamenet.signin [G:1] <gamenet.signin G:1>"},
        {"13 gamenet.fail score -1009  \"No \\\"net\\\"\"",
         "@13 L1 kind23 gamenet.fail [score] [-1009] [No \"net\"] <gamenet.fail score -1009  \"No \\\"net\\\"\">"},
        {"13 banner.fail \"\"", "@13 L1 kind23 banner.fail [] <banner.fail \"\">"},
        {"13 promo.page 2", "@13 L1 kind23 promo.page [2] <promo.page 2>"},
    };
    for (const Case& c : cases) EXPECT_EQ(parsed(c.line), std::vector<std::string>{c.parsed}) << c.line;
}

TEST(InputScript, RelativeTimesFollowThePreviousCommand) {
    const std::string script =
        "# a comment, then a blank line\n"
        "\n"
        "+0.5 mark a\n"
        "   # an indented comment\n"
        "+0.1 mark b\n"
        "+0.1 mark c\n"
        "+0.1 mark d\n"
        "0.8 mark e\n"
        "0.8 mark f\n"
        "+0 mark g\n"
        "0.2 mark h\n"
        "+1 mark i";
    EXPECT_EQ(parsed(script), (std::vector<std::string>{
                                  "@0.5 L3 kind16 'a' <mark a>",
                                  "@0.6 L5 kind16 'b' <mark b>",
                                  "@0.7 L6 kind16 'c' <mark c>",
                                  "@0.8 L7 kind16 'd' <mark d>",
                                  "@0.8 L8 kind16 'e' <mark e>",
                                  "@0.8 L9 kind16 'f' <mark f>",
                                  "@0.8 L10 kind16 'g' <mark g>",
                                  "@0.2 L11 kind16 'h' <mark h>",
                                  "@1.2 L12 kind16 'i' <mark i>",
                              }));
    // Summed tenths meet the written time exactly, so they count as equal times.
    std::string error;
    auto commands = parseInputScript(script, "s.txt", &error);
    ASSERT_TRUE(commands);
    EXPECT_EQ((*commands)[3].time, (*commands)[4].time);
}

TEST(InputScript, ErrorsNameFileLineAndWhat) {
    const struct Case {
        std::string script;
        std::string error;
    } cases[] = {
        {"1 mark a\nsoon mark b", "s.txt:2: a line starts with a TIME (seconds since launch, or +seconds after the "
                                  "previous line), not \"soon\""},
        {"-1 mark a", "s.txt:1: a line starts with a TIME (seconds since launch, or +seconds after the previous "
                      "line), not \"-1\""},
        {"1e3 mark a", "s.txt:1: a line starts with a TIME (seconds since launch, or +seconds after the previous "
                       "line), not \"1e3\""},
        {"+ mark a", "s.txt:1: a line starts with a TIME (seconds since launch, or +seconds after the previous "
                     "line), not \"+\""},
        {"\n\n3", "s.txt:3: a time needs a command after it"},
        {"1 jump", "s.txt:1: unknown command \"jump\""},
        {"1 touch", "s.txt:1: touch takes down|move|up|cancel ID [X Y], events apart by \";\""},
        {"1 touch press 1 2 3", "s.txt:1: touch takes down|move|up|cancel ID [X Y], events apart by \";\", not "
                                "\"press\""},
        {"1 touch down 1", "s.txt:1: touch down 1 needs X Y"},
        {"1 touch down x 1 2", "s.txt:1: touch down needs a finger ID (a whole number)"},
        {"1 touch up -1", "s.txt:1: touch up needs a finger ID (a whole number)"},
        {"1 touch up 1 5", "s.txt:1: touch up 1 takes X Y or nothing"},
        {"1 touch move 1 5 6 7", "s.txt:1: touch move 1 takes X Y or nothing"},
        {"1 touch down 1 5 six", "s.txt:1: Y is a number of points, not \"six\""},
        {"1 touch down 1 5 6 ;", "s.txt:1: touch takes down|move|up|cancel ID [X Y], events apart by \";\""},
        {"1 touch down 1 5 6 ; up 1", "s.txt:1: finger 1 appears twice in one event"},
        {"1 tap 5", "s.txt:1: tap takes X Y (points)"},
        {"1 tap 5 nan", "s.txt:1: tap takes X Y (points), not \"nan\""},
        {"1 accel 0 0", "s.txt:1: accel takes X Y Z (g)"},
        {"1 rotate 7", "s.txt:1: rotate takes a device orientation 0-6"},
        {"1 rotate", "s.txt:1: rotate takes a device orientation 0-6"},
        {"1 app.quit now", "s.txt:1: app.quit takes no arguments"},
        {"1 memory.warning 2", "s.txt:1: memory.warning takes no arguments"},
        {"1 audio.fail play", "s.txt:1: audio.fail takes category, activate or deactivate"},
        {"1 net lan", "s.txt:1: net takes wifi, wwan or none"},
        {"1 net", "s.txt:1: net takes wifi, wwan or none"},
        {"1 screenshot", "s.txt:1: screenshot takes a FILE (PNG)"},
        {"1 dump.views  ", "s.txt:1: dump.views takes a FILE"},
        {"1 mark", "s.txt:1: mark takes a TEXT"},
        {"1 alert.press", "s.txt:1: alert.press takes a button index (from 0) or a \"TITLE\""},
        {"1 alert.press -1", "s.txt:1: alert.press takes a button index (from 0) or a \"TITLE\""},
        {"1 sheet.press \"Cancel\"", "s.txt:1: sheet.press takes a button index (from 0)"},
        {"1 alert.press OK", "s.txt:1: alert.press takes a button index (from 0) or a \"TITLE\""},
        {"1 alert.press \"OK", "s.txt:1: alert.press takes a \"TITLE\" in double quotes"},
        {"1 text.type hello", "s.txt:1: text.type takes a \"TEXT\" in double quotes"},
        {"1 text.type \"a\" \"b\"",
         "s.txt:1: text.type takes a \"TEXT\" in double quotes (a quote inside is \\\")"},
        {"1 text.type \"a\\\"", "s.txt:1: text.type: a backslash comes before \", \\ or n"},
        {"1 text.type \"\\t\"", "s.txt:1: text.type: a backslash comes before \", \\ or n"},
        {"1 text.type \"\xc3(\"", "s.txt:1: text.type: the TEXT is not UTF-8"},
        {"1 text.type \"\xed\xa0\x80\"", "s.txt:1: text.type: the TEXT is not UTF-8"},
        {"1 text.clear all", "s.txt:1: text.clear takes no arguments"},
        {"1 web.close now", "s.txt:1: web.close takes no arguments"},
        {"1 store.cancel now", "s.txt:1: store.cancel takes no arguments"},
        {"1 store.state", "s.txt:1: store.state takes INT"},
        {"1 store.state 1.5", "s.txt:1: store.state takes INT, not \"1.5\""},
        {"1 store.fail 2", "s.txt:1: store.fail takes INT TEXT"},
        {"1 store.fail 2 oops", "s.txt:1: store.fail takes a \"TEXT\" in double quotes"},
        {"1 store.fail 2 \"a\" more", "s.txt:1: store.fail takes INT TEXT"},
        {"1 gamenet.fail leaderboard 2 \"x\"",
         "s.txt:1: gamenet.fail takes score|achievement|reset INT TEXT, not \"leaderboard\""},
        {"1 gamenet.signin \"me\"", "s.txt:1: gamenet.signin takes WORD, not \"me\""},
    };
    for (const Case& c : cases) EXPECT_EQ(failure(c.script), c.error) << c.script;
    // A NUL a view would hold as U+FFFD, typed or shown: refused before anything runs.
    EXPECT_EQ(failure("1 text.type \"a\0b\"\n"s), "s.txt:1: text.type: the TEXT holds a NUL");
    EXPECT_EQ(failure("1 alert.press \"\0\"\n"s), "s.txt:1: alert.press: the TITLE holds a NUL");
}

// A NUL or a byte-order mark is named and the line shown whole, escaped: a NUL printed cut the
// message short, and a NUL inside a mark's TEXT cut the trace line.
TEST(InputScript, NamesANulOrAByteOrderMarkAndShowsTheLineWhole) {
    const struct {
        std::string script, error;
    } cases[] = {
        {"0 mark a\0b c\n"s, "s.txt:1: the line holds a NUL (byte 9): \"0 mark a\\x00b c\""},
        {"0 tap 1 2\n# a note\0\n"s, "s.txt:2: the line holds a NUL (byte 9): \"# a note\\x00\""},
        {"\xEF\xBB\xBF" "0 tap 1 2\n", "s.txt:1: the line starts with a byte-order mark (U+FEFF): "
                                     "\"\\xEF\\xBB\\xBF0 tap 1 2\""},
        {"0\x01 tap 1 2\n", "s.txt:1: a line starts with a TIME (seconds since launch, or +seconds after the "
                            "previous line), not \"0\\x01\""},
    };
    for (const auto& c : cases) EXPECT_EQ(failure(c.script), c.error) << c.script;
}

// What a message quotes of a long line is cut to a few hundred characters, whole characters and
// escapes, with the count of the bytes left out: a 16 MiB line of NULs made a 67 MB message.
TEST(InputScript, AMessageQuotesAtMostAFewHundredCharactersOfItsLine) {
    auto times = [](std::string_view piece, size_t n) {
        std::string out;
        while (n-- > 0) out += piece;
        return out;
    };
    const size_t kLong = 1 << 20;
    const struct {
        std::string script, error;
    } cases[] = {
        // 7 characters and 73 escapes of 4 fill 299 of the 300.
        {"0 mark " + std::string(kLong, '\0') + "\n", "s.txt:1: the line holds a NUL (byte 8): \"0 mark " +
                                                          times("\\x00", 73) + "\"... (" +
                                                          std::to_string(kLong - 73) + " more bytes)"},
        // A two-byte character is never split; 300 bytes are shown whole.
        {"0 a" + times("\u00e9", kLong) + "\n", "s.txt:1: unknown command \"a" + times("\u00e9", 149) +
                                                    "\"... (" + std::to_string(2 * kLong - 298) +
                                                    " more bytes)"},
        {"0 " + times("\u00e9", 150) + "\n", "s.txt:1: unknown command \"" + times("\u00e9", 150) + "\""},
    };
    for (const auto& c : cases) EXPECT_EQ(failure(c.script), c.error) << c.script.substr(0, 20);
}

TEST(InputScript, ReadsFilesAndNamesThemInErrors) {
    dktest::TempDir dir;
    dktest::writeFile(dir.file("good.txt"), "0.5 tap 1 2\n+1 app.quit\n");
    dktest::writeFile(dir.file("bad.txt"), "0.5 tap 1 2\n\n+1 app.quit please\n");
    std::string error;
    auto commands = readInputScript(dir.file("good.txt"), &error);
    ASSERT_TRUE(commands) << error;
    ASSERT_EQ(commands->size(), 2u);
    EXPECT_EQ(commands->back().time, 1.5);
    EXPECT_FALSE(readInputScript(dir.file("bad.txt"), &error));
    EXPECT_EQ(error, dir.file("bad.txt") + ":3: app.quit takes no arguments");
    EXPECT_FALSE(readInputScript(dir.file("missing.txt"), &error));
    EXPECT_EQ(error, dir.file("missing.txt") + ": No such file or directory");
    EXPECT_FALSE(readInputScript(dir.path(), &error));
    EXPECT_EQ(error, dir.path() + ": Is a directory");
}

// Standard input from a pipe is read to its end; one whose writer holds it open and never ends it
// held the start for ever, deaf to SIGTERM (blocked for the run loop): now the signal ends the wait.
TEST(InputScript, StandardInputIsReadToItsEndOrUntilAQuitSignal) {
    const int saved = dup(STDIN_FILENO);
    sigset_t term, before;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &term, &before);
    for (const bool held : {false, true}) {
        int ends[2];
        ASSERT_EQ(pipe(ends), 0);
        ASSERT_EQ(write(ends[1], "0 tap 1 2\n", 10), 10);
        dup2(ends[0], STDIN_FILENO);
        close(ends[0]);
        if (held)
            pthread_kill(pthread_self(), SIGTERM);  // pending for this thread, as for the player's
        else
            close(ends[1]);
        std::string error;
        bool quit = !held;
        const auto commands = readInputScript("-", &error, &quit);
        EXPECT_EQ(quit, held);  // a quit, not a bad script
        if (held) {
            EXPECT_FALSE(commands);
            EXPECT_EQ(error, "<stdin>: stopped before its end");
            const timespec none{};
            EXPECT_EQ(sigtimedwait(&term, nullptr, &none), SIGTERM);
            close(ends[1]);
        } else {
            ASSERT_TRUE(commands) << error;
            EXPECT_EQ(commands->size(), 1u);
        }
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    dup2(saved, STDIN_FILENO);
    close(saved);
}

}  // namespace
