// The bridge through real engine states: scripts call callbacks.callExternalFunction and the
// actions of a recording plugin (and of the probe) answer.
#include <gmock/gmock.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "player/plugins/DKPluginSupport.h"
#include "player/plugins/probe/DKProbeSupport.h"
#include "player/tests/BridgeTestSupport.h"

namespace dktest {
namespace {

using plat::foundation::Value;
using namespace std::string_literals;

std::string format(const char* pattern, auto... args) {
    char text[512];
    std::snprintf(text, sizeof text, pattern, args...);
    return text;
}

// Writes what it is given into a log shared with the test, prefixed by its label.
class Recorder : public DKPluginSupport {
public:
    Recorder(std::vector<std::string>* log, std::string label, DK_State* state = nullptr)
        : DKPluginSupport(fakeController(0)), m_log(log), m_label(std::move(label)), m_state(state) {}

    void echo(DKGameViewController*, std::optional<std::string> o, int32_t i, uint32_t u, double d, float f,
              bool c) {
        note(format("@=%s i=%d I=%u d=%.17g f=%.9g c=%s", o ? o->c_str() : "nil", i, u, d,
                    static_cast<double>(f), c ? "YES" : "NO"));
    }
    void ping(DKGameViewController* context) {
        note(context == fakeController(1) ? "ping" : "ping from another controller");
    }
    // Raises "fail" into the same Lua state, whose handler fails, then tells what it was given.
    int32_t raise(DKGameViewController*, std::optional<std::string> text, int32_t n) {
        const char* args[] = {"a", "b"};
        DK_RaiseExternalEvent(m_state, "fail", args, 2);
        note("raised " + text.value_or("nil") + " " + std::to_string(n));
        return n + 1;
    }
    // Drops the table that holds this very action.
    std::optional<std::string> dropTable(DKGameViewController*) {
        DKExternalFunctionTable::destroyExternalFunctionTableForState(m_state->L);
        note("dropped");
        return "still answered";
    }
    // Registers another action under its own name, "replaceSelf".
    double replaceSelf(DKGameViewController*) {
        DKExternalFunctionTable::externalFunctionTableForState(m_state->L)
            ->registerTarget(std::make_shared<Recorder>(m_log, "replacement"), fakeController(1),
                             &Recorder::ping, "replaceSelf");
        note("replaced");
        return 0.5;
    }
    Value value(DKGameViewController*) { return nextValue; }

    Value nextValue;

private:
    void note(const std::string& line) { m_log->push_back(m_label.empty() ? line : m_label + " " + line); }

    std::vector<std::string>* m_log;
    std::string m_label;
    DK_State* m_state;
};

class Bridge : public BridgeTest {
protected:
    void SetUp() override {
        BridgeTest::SetUp();
        recorder = std::make_shared<Recorder>(&log, "", state);
        table()->registerTarget(recorder, fakeController(1),
                                {{"echo", &Recorder::echo},
                                 {"ping", &Recorder::ping},
                                 {"raise", &Recorder::raise},
                                 {"dropTable", &Recorder::dropTable},
                                 {"replaceSelf", &Recorder::replaceSelf},
                                 {"value", &Recorder::value}});
        trace.take();
    }
    // The log since the last look.
    std::vector<std::string> takeLog() { return std::exchange(log, {}); }

    std::vector<std::string> log;
    std::shared_ptr<Recorder> recorder;
};

using Lines = std::vector<std::string>;

TEST_F(Bridge, EveryLuaTypeReachesEveryTypeCode) {
    const struct {
        const char* value;
        const char* received;
    } cases[] = {
        {"nil", "@=nil i=0 I=0 d=0 f=0 c=NO"},
        {"false", "@=nil i=0 I=0 d=0 f=0 c=NO"},
        {"true", "@=nil i=0 I=0 d=0 f=0 c=YES"},
        {"0", "@=0 i=0 I=0 d=0 f=0 c=YES"},  // 0 is true in Lua
        {"5", "@=5 i=5 I=5 d=5 f=5 c=YES"},
        {"2.5", "@=2.5 i=2 I=2 d=2.5 f=2.5 c=YES"},
        {"0.1", "@=0.1 i=0 I=0 d=0.10000000000000001 f=0.100000001 c=YES"},
        {"-8.9", "@=-8.9 i=-8 I=4294967288 d=-8.9000000000000004 f=-8.89999962 c=YES"},
        {"-1", "@=-1 i=-1 I=4294967295 d=-1 f=-1 c=YES"},
        {"'7'", "@=7 i=7 I=7 d=7 f=7 c=YES"},
        {"'3.5'", "@=3.5 i=3 I=3 d=3.5 f=3.5 c=YES"},
        {"' 0x10 '", "@= 0x10  i=16 I=16 d=16 f=16 c=YES"},
        {"'1e3'", "@=1e3 i=1000 I=1000 d=1000 f=1000 c=YES"},
        {"'abc'", "@=abc i=0 I=0 d=0 f=0 c=YES"},
        {"''", "@= i=0 I=0 d=0 f=0 c=YES"},
        {"{}", "@=nil i=0 I=0 d=0 f=0 c=YES"},
        {"print", "@=nil i=0 I=0 d=0 f=0 c=YES"},
        {"coroutine.create(print)", "@=nil i=0 I=0 d=0 f=0 c=YES"},
        {"io.stdout", "@=nil i=0 I=0 d=0 f=0 c=YES"},
        // Wider than 32 bits: truncated to 64, then wrapped to 32.
        {"2^31", "@=2147483648 i=-2147483648 I=2147483648 d=2147483648 f=2.14748365e+09 c=YES"},
        {"2^32 + 7", "@=4294967303 i=7 I=7 d=4294967303 f=4.2949673e+09 c=YES"},
        {"-(2^32 + 7.5)", "@=-4294967303.5 i=-7 I=4294967289 d=-4294967303.5 f=-4.2949673e+09 c=YES"},
        {"2^62 + 2^31",
         "@=4.6116860205749e+18 i=-2147483648 I=2147483648 d=4.6116860205748716e+18 f=4.61168602e+18 c=YES"},
        // No 64-bit integer holds these: 0.
        {"2^63", "@=9.2233720368548e+18 i=0 I=0 d=9.2233720368547758e+18 f=9.22337204e+18 c=YES"},
        {"-2^64", "@=-1.844674407371e+19 i=0 I=0 d=-1.8446744073709552e+19 f=-1.84467441e+19 c=YES"},
        {"1/0", "@=inf i=0 I=0 d=inf f=inf c=YES"},
        {"-1/0", "@=-inf i=0 I=0 d=-inf f=-inf c=YES"},
        {"1e300", "@=1e+300 i=0 I=0 d=1.0000000000000001e+300 f=inf c=YES"},
        {"'1e300'", "@=1e300 i=0 I=0 d=1.0000000000000001e+300 f=inf c=YES"},
    };
    for (const auto& c : cases) {
        const std::string v = c.value;
        EXPECT_EQ(
            run("local v = " + v + " return show(callbacks.callExternalFunction('echo', v, v, v, v, v, v))"),
            "0")
            << v;
        EXPECT_EQ(takeLog(), Lines{c.received}) << v;
    }
    // NaN: no integer, and whatever sign the machine gives it.
    run("local v = 0/0 callbacks.callExternalFunction('echo', v, v, v, v, v, v)");
    const Lines nan = takeLog();
    ASSERT_EQ(nan.size(), 1u);
    EXPECT_THAT(nan[0], testing::MatchesRegex("@=-?nan i=0 I=0 d=-?nan f=-?nan c=YES"));
}

TEST_F(Bridge, MissingArgumentsReadAsNilZeroOrNoAndExtraOnesAreIgnored) {
    const struct {
        const char* call;
        const char* received;
    } cases[] = {
        {"'echo'", "@=nil i=0 I=0 d=0 f=0 c=NO"},
        {"'echo', 'a'", "@=a i=0 I=0 d=0 f=0 c=NO"},
        {"'echo', 'a', 1, 2, 3.5", "@=a i=1 I=2 d=3.5 f=0 c=NO"},
        {"'echo', 'a', 1, 2, 3.5, 4.5, true, 'extra', {}, nil, 9", "@=a i=1 I=2 d=3.5 f=4.5 c=YES"},
        {"'echo', nil, nil, nil, nil, nil, 1", "@=nil i=0 I=0 d=0 f=0 c=YES"},
        {"'ping'", "ping"},
        {"'ping', 1, 'two', {}, print", "ping"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(run(std::string("return show(callbacks.callExternalFunction(") + c.call + "))"), "0")
            << c.call;
        EXPECT_EQ(takeLog(), Lines{c.received}) << c.call;
    }
}

TEST_F(Bridge, KeysAreIdsWhenTheyReadAsNumbersElseNames) {
    std::vector<std::string> hits;
    auto byId = std::make_shared<Recorder>(&hits, "id 8");
    auto byName = std::make_shared<Recorder>(&hits, "openURL");
    auto byOddName = std::make_shared<Recorder>(&hits, "8x");
    table()->registerTarget(byId, fakeController(1), &Recorder::ping, 8);
    table()->registerTarget(byName, fakeController(1), &Recorder::ping, "openURL");
    table()->registerTarget(byOddName, fakeController(1), &Recorder::ping, "8x");
    trace.take();
    const struct {
        const char* key;
        const char* traced;
        const char* hit;  // null: nothing answers
    } cases[] = {
        {"8", "call 8", "id 8 ping"},
        {"'8'", "call 8", "id 8 ping"},
        {"8.9", "call 8", "id 8 ping"},
        {"'8.9'", "call 8", "id 8 ping"},
        {"' 8 '", "call 8", "id 8 ping"},
        {"'0x8'", "call 8", "id 8 ping"},
        {"2^32 + 8", "call 8", "id 8 ping"},
        {"-8", "call -8 unknown", nullptr},
        {"2^64 + 8", "call 0 unknown", nullptr},
        {"0/0", "call 0 unknown", nullptr},
        {"'openURL'", "call openURL", "openURL ping"},
        {"'OpenURL'", "call OpenURL unknown", nullptr},
        {"'8x'", "call 8x", "8x ping"},
        {"'8 x'", "call 8 x unknown", nullptr},
        {"nil", "call none", nullptr},
        {"", "call none", nullptr},
        {"true", "call none", nullptr},
        {"{8}", "call none", nullptr},
        {"print", "call none", nullptr},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(run(std::string("return show(callbacks.callExternalFunction(") + c.key + "))"), "0")
            << c.key;
        EXPECT_EQ(trace.take(), Lines{std::string("bridge ") + c.traced}) << c.key;
        EXPECT_EQ(std::exchange(hits, {}), c.hit ? Lines{c.hit} : Lines{}) << c.key;
    }
    EXPECT_TRUE(takeLog().empty());
}

TEST_F(Bridge, EveryResultKindPushesOneResultAndNoResultNone) {
    auto probe = DKPluginSupport::create<DKProbeSupport>(state->L, fakeController(1));
    const struct {
        const char* key;
        const char* results;
    } probeCases[] = {
        {"'probe.int'", "1 number -7"},
        {"'probe.uint'", "1 number 4294967295"},
        {"'probe.double'", "1 number 0.1"},
        {"'probe.float'", "1 number 0.10000000149012"},  // the float widened
        {"'probe.bool'", "1 boolean true"},
        {"'probe.string'", "1 string x"},
        {"'probe.number'", "1 number 2.5"},
        {"'probe.object'", "1 nil nil"},
        {"'probe.nil'", "1 nil nil"},
        {"'probe.echo'", "0"},
        {"9001", "0"},
    };
    for (const auto& c : probeCases) {
        EXPECT_EQ(run(std::string("return show(callbacks.callExternalFunction(") + c.key + "))"), c.results)
            << c.key;
    }
    // Object results: numbers of every kind come through a float; text as text; the rest nil.
    const struct {
        Value value;
        const char* results;
    } valueCases[] = {
        {Value(), "1 nil nil"},
        {Value(16777217), "1 number 16777216"},
        {Value(-3), "1 number -3"},
        {Value(0.1), "1 number 0.10000000149012"},
        {Value(true), "1 number 1"},
        {Value(false), "1 number 0"},
        {Value("text"), "1 string text"},
        {Value(""), "1 string "},
        {Value(plat::foundation::Data{1, 2}), "1 nil nil"},
        {Value(Value::Dictionary{{"k", 1}}), "1 nil nil"},
    };
    for (const auto& c : valueCases) {
        recorder->nextValue = c.value;
        EXPECT_EQ(run("return show(callbacks.callExternalFunction('value'))"), c.results)
            << c.value.canonicalJSON();
    }
    recorder->nextValue = "a\0b"s;  // whole, past its NUL
    EXPECT_EQ(run("local s = callbacks.callExternalFunction('value') return #s, s:byte(2), s:sub(3)"),
              "3,0,b");
}

TEST_F(Bridge, RegisteringAKeyAgainReplacesItsActionAndLetsTheOldTargetGo) {
    std::vector<std::string> hits;
    auto first = std::make_shared<Recorder>(&hits, "first");
    std::weak_ptr<Recorder> firstAlive = first;
    table()->registerTarget(first, fakeController(1), &Recorder::ping, "k");
    first.reset();
    run("callbacks.callExternalFunction('k')");
    EXPECT_EQ(std::exchange(hits, {}), Lines{"first ping"});
    ASSERT_FALSE(firstAlive.expired()) << "the action holds its target";

    table()->registerTarget(std::make_shared<Recorder>(&hits, "second"), fakeController(2), &Recorder::ping,
                            "k");
    EXPECT_TRUE(firstAlive.expired());
    run("callbacks.callExternalFunction('k')");
    EXPECT_EQ(hits, Lines{"second ping from another controller"});

    // The probe's own: "probe.rebind" moves "probe.echo" to a second target.
    DKPluginSupport::create<DKProbeSupport>(state->L, fakeController(1));
    trace.take();
    run("callbacks.callExternalFunction('probe.echo', 'a') callbacks.callExternalFunction('probe.rebind') "
        "callbacks.callExternalFunction('probe.echo', 'b', 1, 2, 3, 4, 5)");
    EXPECT_EQ(trace.take(), (Lines{"bridge call probe.echo", "bridge probe.echo @=a i=0 I=0 d=0 f=0 c=NO",
                                   "bridge call probe.rebind", "bridge call probe.echo",
                                   "bridge probe.echo2 @=b i=1 I=2 d=3 f=4 c=YES"}));
}

TEST_F(Bridge, CallsFromCoroutinesUseTheirOwnStack) {
    EXPECT_EQ(run("local co = coroutine.wrap(function(a)"
                  "  callbacks.callExternalFunction('echo', a, 1)"
                  "  local b = coroutine.yield(show(callbacks.callExternalFunction('value')))"
                  "  callbacks.callExternalFunction('echo', b, 2)"
                  "  return 'done'"
                  " end)"
                  " local first = co('x')"
                  " return first, co('y'), show(callbacks.callExternalFunction('echo', 'main', 3))"),
              "1 nil nil,done,0");
    EXPECT_EQ(takeLog(),
              (Lines{"@=x i=1 I=0 d=0 f=0 c=NO", "@=y i=2 I=0 d=0 f=0 c=NO", "@=main i=3 I=0 d=0 f=0 c=NO"}));
    // Nested: a coroutine in a coroutine; the results land on the caller's stack.
    recorder->nextValue = 4;
    EXPECT_EQ(run("return coroutine.wrap(function()"
                  "  local inner = coroutine.wrap(function() return 1, "
                  "callbacks.callExternalFunction('value'), 2 end)"
                  "  return inner()"
                  " end)()"),
              "1,4,2");
    EXPECT_EQ(lua_gettop(state->L), 0);
}

TEST_F(Bridge, AnActionWhoseEventHandlerFailsStillGetsItsArgumentsAndAnswers) {
    // The handler empties the main Lua state's stack under the running call. The only reference to
    // the text is that stack, and the handler collects garbage before failing.
    const std::string calls =
        "local r = show(callbacks.callExternalFunction('raise', ('x'):rep(30) .. 'y', 41))"
        " local after = show(callbacks.callExternalFunction('value'))"
        " callbacks.callExternalFunction('echo', 'next', 7)"
        " events = {}";
    const std::string fromMain = calls + " return r, after";
    const std::string fromCoroutine =
        "local t = {} for i = 1, 100 do t[i] = {i} end"
        " local r, after = coroutine.wrap(function() " +
        calls +
        " return r, after end)()"
        " collectgarbage() return r, after";
    for (const std::string& chunk : {fromMain, fromCoroutine}) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(run(chunk), "1 number 42,1 nil nil") << chunk;
        const std::string reported = testing::internal::GetCapturedStderr();
        EXPECT_EQ(reported,
                  "(DK_Report_Error) Lua Error: " DK_TEST_DATA_DIR "/bridge.lua:23: the handler failed\n");
        EXPECT_EQ(takeLog(),
                  (Lines{"raised " + std::string(30, 'x') + "y 41", "@=next i=7 I=0 d=0 f=0 c=NO"}));
        EXPECT_EQ(lua_gettop(state->L), 0);
    }
}

TEST_F(Bridge, ATableDroppedIsMadeAgainByTheNextCall) {
    std::weak_ptr<Recorder> alive = recorder;
    recorder.reset();
    DKExternalFunctionTable::destroyExternalFunctionTableForState(state->L);
    EXPECT_EQ(trace.take(), Lines{"bridge table destroy"});
    EXPECT_TRUE(alive.expired()) << "nothing else held the plugin";
    EXPECT_EQ(run("return show(callbacks.callExternalFunction('echo', 'x'))"), "0");
    EXPECT_EQ(trace.take(), (Lines{"bridge table create", "bridge call echo unknown"}));
    EXPECT_TRUE(takeLog().empty());
}

// The action running is replaced, or its table dropped, and it still answers.
TEST_F(Bridge, AnActionMayReplaceItselfOrDropItsOwnTable) {
    EXPECT_EQ(run("return show(callbacks.callExternalFunction('replaceSelf'))"), "1 number 0.5");
    EXPECT_EQ(run("return show(callbacks.callExternalFunction('replaceSelf'))"), "0");
    EXPECT_EQ(takeLog(), (Lines{"replaced", "replacement ping"}));

    std::weak_ptr<Recorder> alive = recorder;
    recorder.reset();
    EXPECT_EQ(run("return show(callbacks.callExternalFunction('dropTable'))"), "1 string still answered");
    EXPECT_TRUE(alive.expired());
    EXPECT_EQ(takeLog(), Lines{"dropped"});
    trace.take();
    run("callbacks.callExternalFunction('dropTable')");
    EXPECT_EQ(trace.take(), (Lines{"bridge table create", "bridge call dropTable unknown"}));
}

TEST_F(Bridge, WithoutEntryDataTheCallingStatesTableAnswers) {
    state->callbacks.externalData = nullptr;
    EXPECT_EQ(run("callbacks.callExternalFunction('echo', 'main') return 1"), "1");
    EXPECT_EQ(takeLog(), Lines{"@=main i=0 I=0 d=0 f=0 c=NO"});
}

TEST(TypeCodes, MatchOnTheFirstCharacterAlone) {
    const struct {
        const char* encoding;
        const char* code;
        bool matches;
    } cases[] = {
        {"@", OBJC_TYPE_ID, true},           {"@\"NSString\"", OBJC_TYPE_ID, true},
        {"i", OBJC_TYPE_INT, true},          {"i", OBJC_TYPE_UNSIGNED_INT, false},
        {"I", OBJC_TYPE_UNSIGNED_INT, true}, {"c", OBJC_TYPE_BOOL, true},
        {"B", OBJC_TYPE_BOOL, false},        {"d", OBJC_TYPE_FLOAT, false},
        {"rc", OBJC_TYPE_BOOL, false},  // a qualifier is a first character of its own
        {"", OBJC_TYPE_ID, false},           {nullptr, OBJC_TYPE_ID, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(objcTypeMatches(c.encoding, c.code), c.matches)
            << (c.encoding ? c.encoding : "null") << c.code;
    }
}

TEST_F(Bridge, RegistrationsRecordTheirTypeCodes) {
    DKPluginSupport::create<DKProbeSupport>(state->L, fakeController(3));
    const struct {
        DKExternalFunctionTable::Key key;
        const char* codes;
    } cases[] = {
        {"echo", "v@:@@iIdfc"},   {"ping", "v@:@"},         {"raise", "i@:@@i"},     {"value", "@@:@"},
        {"probe.uint", "I@:@"},   {"probe.double", "d@:@"}, {"probe.float", "f@:@"}, {"probe.bool", "c@:@"},
        {"probe.string", "@@:@"}, {9001, "v@:@"},
    };
    for (const auto& c : cases) {
        auto action = table()->actionForKey(c.key);
        ASSERT_TRUE(action);
        EXPECT_EQ(action->typeCodes(), c.codes);
    }
    // Read back as the call reads them: the context at index 2, the script's arguments after.
    auto echo = table()->actionForKey("echo");
    EXPECT_EQ(echo->numberOfArguments(), 9);
    const char* expected[] = {OBJC_TYPE_ID,     OBJC_TYPE_ID,    OBJC_TYPE_INT, OBJC_TYPE_UNSIGNED_INT,
                              OBJC_TYPE_DOUBLE, OBJC_TYPE_FLOAT, OBJC_TYPE_BOOL};
    for (int index = 2; index < echo->numberOfArguments(); ++index) {
        EXPECT_TRUE(objcTypeMatches(echo->argumentType(index).c_str(), expected[index - 2])) << index;
    }
    EXPECT_TRUE(objcTypeMatches(echo->methodReturnType().c_str(), "v"));
    EXPECT_EQ(table()->actionForKey(9001)->context(), fakeController(3));
    EXPECT_EQ(table()->actionForKey("missing"), nullptr);
}

}  // namespace
}  // namespace dktest
