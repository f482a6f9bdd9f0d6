// The client's JSON parser and writer: the edge cases with their whole error traces as expected
// texts (DK_UPDATE_EXPECTED=1 rewrites them), the nesting cap, and round trips of random values.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <sstream>
#include <string>

#include "kiosk/KSJsonParser.h"
#include "kiosk/KSJsonWriter.h"
#include "tests/support/TestSupport.h"

namespace {

void expectGolden(const std::string& name, const std::string& actual) {
    std::string path = std::string(DK_TEST_DATA_DIR) + "/" + name;
    if (dktest::updatingExpected()) dktest::writeFile(path, actual);
    EXPECT_EQ(actual, dktest::readFile(path)) << name;
}

// The escapes of parse.cases.
std::string unescape(const std::string& line) {
    std::string out;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] != '\\' || i + 1 == line.size()) {
            out += line[i];
            continue;
        }
        char c = line[++i];
        switch (c) {
            case 'n': out += '\n'; break;
            case 't': out += '\t'; break;
            case 'r': out += '\r'; break;
            case 'v': out += '\v'; break;
            case 'f': out += '\f'; break;
            case '0': out += '\0'; break;
            case 'x':
                out += static_cast<char>(std::stoi(line.substr(i + 1, 2), nullptr, 16));
                i += 2;
                break;
            default: out += c;
        }
    }
    return out;
}

// The trace as the tool prints it, after checking that it is chained and in the client's domain.
std::string traceText(const KSJsonBase& json) {
    std::string out;
    const auto& trace = json.errorTrace();
    for (std::size_t i = 0; i < trace.size(); ++i) {
        EXPECT_EQ(trace[i].domain, "com.drovik.kiosk.json");
        const KSJsonError* before = i ? &trace[i - 1] : nullptr;
        EXPECT_EQ(trace[i].underlying != nullptr, before != nullptr);
        if (before && trace[i].underlying) {
            EXPECT_EQ(trace[i].underlying->description, before->description);
        }
        out += "error " + std::to_string(trace[i].code) + ": " + trace[i].description + "\n";
    }
    return out;
}

std::string compact(const KSJsonValue& value) {
    KSJsonWriter writer;
    writer.setMaxDepth(0);
    return writer.stringWithObject(value).value_or("(unwritable)");
}

TEST(KSJsonParser, EdgeCasesGiveTheirValueOrWholeTrace) {
    std::istringstream cases(dktest::readFile(DK_TEST_DATA_DIR "/parse.cases"));
    std::string out, line;
    KSJsonParser parser;  // one parser for all: each call starts afresh
    while (std::getline(cases, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::string input = line;
        parser.setMaxDepth(KSJsonBase::kDefaultMaxDepth);
        if (input.rfind("depth=", 0) == 0) {
            std::size_t blank = input.find(' ');
            parser.setMaxDepth(std::stoul(input.substr(6, blank - 6)));
            input = input.substr(blank + 1);
        }
        std::optional<KSJsonValue> value =
            input == "NIL" ? parser.objectWithString(std::nullopt) : parser.objectWithString(unescape(input));
        out += "> " + line + "\n";
        if (value) {
            EXPECT_TRUE(parser.errorTrace().empty()) << line;
            out += compact(*value) + "\n";
        } else {
            EXPECT_FALSE(parser.errorTrace().empty()) << line;
            out += traceText(parser);
        }
    }
    expectGolden("parse.out", out);
}

// The texts of parse.out do not tell an integer from a decimal.
TEST(KSJsonParser, NumbersAreIntegersOnlyWithoutFractionExponentOrOverflow) {
    using Type = KSJsonValue::Type;
    const std::pair<const char*, Type> cases[] = {
        {"[9223372036854775807]", Type::Integer},  {"[-9223372036854775807]", Type::Integer},
        {"[-9223372036854775808]", Type::Decimal}, {"[9223372036854775808]", Type::Decimal},
        {"[-0]", Type::Integer},                   {"[1.0]", Type::Decimal},
        {"[1e2]", Type::Decimal},
    };
    for (const auto& [text, type] : cases) {
        std::optional<KSJsonValue> value = KSJsonParser().objectWithString(text);
        ASSERT_TRUE(value) << text;
        EXPECT_EQ(value->array()->front().type(), type) << text;
    }
}

TEST(KSJsonParser, ErrorOutParameterIsTheLastOfTheTrace) {
    KSJsonParser parser;
    KSJsonError error;
    EXPECT_FALSE(parser.objectWithString("[[1,]]", &error));
    EXPECT_EQ(error.code, kKSJsonParse);
    EXPECT_EQ(error.description, "Expected value while parsing array");
    ASSERT_NE(error.underlying, nullptr);
    EXPECT_EQ(error.underlying->code, kKSJsonTrailingComma);
}

KSJsonValue nested(std::size_t levels) {
    KSJsonValue value = KSJsonArray{};
    for (std::size_t i = 1; i < levels; ++i) value = KSJsonArray{std::move(value)};
    return value;
}

std::string nestedText(std::size_t levels) {
    return std::string(levels, '[') + std::string(levels, ']');
}

// Without a limit of its own, a recursive parser or writer used to run off the end of the stack.
TEST(KSJsonDepth, LimitAndHardCapFailWithCode7) {
    struct Case {
        std::size_t maxDepth, levels;
        bool passes;
    };
    const Case cases[] = {
        {KSJsonBase::kDefaultMaxDepth, 512, true}, {KSJsonBase::kDefaultMaxDepth, 513, false},
        {0, 2048, true},                           {0, 2049, false},
        {0, 100000, false},                        {5000, 2049, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.maxDepth) + " " + std::to_string(c.levels));
        KSJsonParser parser;
        parser.setMaxDepth(c.maxDepth);
        std::optional<KSJsonValue> parsed = parser.objectWithString(nestedText(c.levels));
        EXPECT_EQ(parsed.has_value(), c.passes);
        if (!c.passes) {
            EXPECT_EQ(parser.errorTrace().front().code, kKSJsonDepth);
            EXPECT_EQ(parser.errorTrace().front().description, "Nested too deep");
        }
        if (c.levels > 3000) continue;  // a value that deep is not built
        KSJsonWriter writer;
        writer.setMaxDepth(c.maxDepth);
        EXPECT_EQ(writer.stringWithObject(nested(c.levels)).has_value(), c.passes);
        if (!c.passes) {
            EXPECT_EQ(writer.errorTrace().front().code, kKSJsonDepth);
        }
    }
}

KSJsonValue object(std::initializer_list<std::pair<std::string, KSJsonValue>> members) {
    KSJsonObject o;
    for (const auto& [key, value] : members) o.set(key, value);
    return o;
}

TEST(KSJsonWriter, LayoutsAndFailuresGiveTheirTextOrWholeTrace) {
    std::string controls;
    for (int c = 0; c < 32; ++c) controls += static_cast<char>(c);
    struct Case {
        const char* name;
        KSJsonValue value;
        bool humanReadable = false, sortKeys = false;
        std::size_t maxDepth = KSJsonBase::kDefaultMaxDepth;
    };
    const Case cases[] = {
        {"empty array, human-readable", KSJsonArray{}, true},
        {"one member, human-readable", object({{"a", 1}}), true},
        {"nested, human-readable",
         object({{"a", KSJsonArray{1, object({{"b", KSJsonArray{}}})}}, {"c", object({})}}), true},
        {"keys in insertion order", object({{"b", 1}, {"a", 2}, {"\xc3\xa9", 3}, {"z", 4}, {"A", 5}})},
        {"keys in byte order", object({{"b", 1}, {"a", 2}, {"\xc3\xa9", 3}, {"z", 4}, {"A", 5}}), false, true},
        {"scalars",
         KSJsonArray{true, false, nullptr, INT64_MAX, INT64_MIN, KSDecimal::fromDouble(0.1),
                     KSDecimal::fromDouble(-0.0), *KSDecimal::fromString("-12.500e-2")}},
        {"escapes", KSJsonArray{controls, "\" \\ / \x7f caf\xc3\xa9"}},
        {"NaN", KSJsonArray{KSDecimal::fromDouble(NAN)}},
        {"infinity in a member", object({{"x", KSDecimal::fromDouble(-1e300)}})},
        {"failure two members deep", object({{"a", object({{"b", KSDecimal::fromDouble(INFINITY)}})}})},
        {"top-level scalar", "text"},
        {"too deep in a member", object({{"a", KSJsonArray{KSJsonArray{}}}}), false, false, 2},
    };
    std::string out;
    for (const Case& c : cases) {
        KSJsonWriter writer;
        writer.setHumanReadable(c.humanReadable);
        writer.setSortKeys(c.sortKeys);
        writer.setMaxDepth(c.maxDepth);
        std::optional<std::string> text = writer.stringWithObject(c.value);
        out += std::string("> ") + c.name + "\n" + (text ? *text + "\n" : traceText(writer));
        if (text) {
            KSJsonParser parser;
            EXPECT_EQ(parser.objectWithString(*text), c.value) << c.name;
        }
    }
    expectGolden("write.out", out);
}

// Values of every kind, strings of every width of character.
class RandomJson {
public:
    explicit RandomJson(unsigned seed) : m_rng(seed) {}

    KSJsonValue container(int depth = 0) {
        bool array = pick(2) == 0;
        KSJsonArray elements;
        KSJsonObject members;
        for (unsigned n = pick(depth < 4 ? 6 : 2); n > 0; --n) {
            KSJsonValue v = value(depth + 1);
            if (array)
                elements.push_back(std::move(v));
            else
                members.set(string(), std::move(v));
        }
        return array ? KSJsonValue(std::move(elements)) : KSJsonValue(std::move(members));
    }

private:
    unsigned pick(unsigned n) { return static_cast<unsigned>(m_rng() % n); }

    KSJsonValue value(int depth) {
        switch (pick(8)) {
            case 0: return nullptr;
            case 1: return pick(2) == 1;
            case 2: {
                static const std::int64_t kEdges[] = {0, 1, -1, INT64_MAX, INT64_MIN, INT64_MAX - 1};
                return pick(2) ? KSJsonValue(kEdges[pick(6)]) : KSJsonValue(static_cast<std::int64_t>(m_rng()));
            }
            case 3: return decimal();
            case 4:
            case 5: return string();
            default: return depth < 6 ? container(depth) : KSJsonValue(string());
        }
    }

    KSJsonValue decimal() {
        std::string text = pick(2) ? "-" : "";
        text += static_cast<char>('1' + pick(9));
        for (unsigned n = pick(KSDecimal::kMaxDigits); n > 0; --n) text += static_cast<char>('0' + pick(10));
        text += 'e';
        text += std::to_string(static_cast<int>(pick(200)) - 120);
        std::optional<KSDecimal> d = KSDecimal::fromString(text);
        EXPECT_TRUE(d) << text;
        return d ? KSJsonValue(*d) : KSJsonValue(nullptr);
    }

    std::string string() {
        static const char32_t kSamples[] = {'"', '\\', '/', '\n', 0, 0x1f, 0x7f, 0xe9, 0x20ac, 0xfffd, 0x1f600, 0x10ffff};
        std::string s;
        for (unsigned n = pick(12); n > 0; --n) {
            char32_t cp = pick(3) ? kSamples[pick(std::size(kSamples))] : 0x20 + pick(0x5f);
            if (cp < 0x80) {
                s += static_cast<char>(cp);
            } else if (cp < 0x800) {
                s += static_cast<char>(0xC0 | (cp >> 6));
                s += static_cast<char>(0x80 | (cp & 0x3F));
            } else if (cp < 0x10000) {
                s += static_cast<char>(0xE0 | (cp >> 12));
                s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
                s += static_cast<char>(0x80 | (cp & 0x3F));
            } else {
                s += static_cast<char>(0xF0 | (cp >> 18));
                s += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
                s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
                s += static_cast<char>(0x80 | (cp & 0x3F));
            }
        }
        return s;
    }

    std::mt19937 m_rng;
};

TEST(KSJsonRoundTrip, WrittenValuesParseBackEqual) {
    for (unsigned seed = 1; seed <= 300; ++seed) {
        KSJsonValue value = RandomJson(seed).container();
        for (int layout = 0; layout < 3; ++layout) {
            KSJsonWriter writer;
            writer.setHumanReadable(layout == 1);
            writer.setSortKeys(layout == 2);
            std::optional<std::string> text = writer.stringWithObject(value);
            ASSERT_TRUE(text) << seed;
            KSJsonParser parser;
            std::optional<KSJsonValue> back = parser.objectWithString(*text);
            ASSERT_TRUE(back) << seed << " " << *text << "\n" << traceText(parser);
            EXPECT_EQ(*back, value) << seed << " " << *text;
        }
    }
}

}  // namespace
