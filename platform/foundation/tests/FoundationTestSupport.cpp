#include "platform/foundation/tests/FoundationTestSupport.h"

#include <cstdlib>

namespace dktest {

using plat::foundation::Data;
using plat::foundation::Date;
using plat::foundation::Value;

Value everyKind() {
    return Value::Dictionary{
        {"ascii", "plain text"},
        {"unicode", "h\u00e9llo w\u00f6rld \u2713 \u65e5\u672c \U0001F3AE"},
        {"markup", "a < b && c > d \"quoted\" ]]> 'single'"},
        {"empty string", ""},
        {"small", 42},
        {"negative", -7},
        {"int64 max", INT64_MAX},
        {"int64 min", INT64_MIN},
        {"real", 0.1},
        {"negative real", -1234.5e-10},
        {"huge real", 1e300},
        {"yes", true},
        {"no", false},
        {"data", Data{0, 1, 2, 0x7F, 0x80, 0xFE, 0xFF}},
        {"empty data", Data{}},
        {"before 2001", Date{946684798}},    // 1999-12-31T23:59:58Z
        {"long before", Date{-2208988800}},  // 1900-01-01T00:00:00Z
        {"after 2001", Date{1907757001}},    // 2030-06-15T12:30:01Z
        {"long after", Date{4107481200}},    // 2100-02-28T07:00:00Z
        {"epoch", Date{978307200}},          // 2001-01-01T00:00:00Z
        {"array", Value::Array{1, "two", 3.5, Value::Array{}, Value::Dictionary{}}},
        {"empty array", Value::Array{}},
        {"empty dict", Value::Dictionary{}},
        {"nested", Value::Dictionary{{"Z", 1}, {"b", 2}, {"a", Value::Dictionary{{"x", Value::Array{true}}}}}},
    };
}

ScopedEnv::ScopedEnv(std::initializer_list<std::pair<const char*, std::optional<std::string>>> settings) {
    for (const auto& [name, value] : settings) {
        const char* old = std::getenv(name);
        m_saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        if (value)
            setenv(name, value->c_str(), 1);
        else
            unsetenv(name);
    }
}

ScopedEnv::~ScopedEnv() {
    for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
        if (it->second)
            setenv(it->first.c_str(), it->second->c_str(), 1);
        else
            unsetenv(it->first.c_str());
    }
}

}  // namespace dktest
