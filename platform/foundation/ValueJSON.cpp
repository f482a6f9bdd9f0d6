// JSON text read into a Value (the writer is Value::canonicalJSON).
#include "platform/foundation/Value.h"

#include <charconv>

#include "platform/foundation/UTF8.h"

namespace plat::foundation {

namespace {

constexpr int kMaxDepth = 512;  // deeper documents are refused rather than overflow the stack

class Reader {
public:
    explicit Reader(std::string_view text) : m_text(text) {}

    std::optional<Value> document(std::string* error) {
        std::optional<Value> v = value(0);
        skipSpace();
        if (v && m_at != m_text.size()) v = failAt("text after the value");
        if (!v && error) *error = m_error;
        return v;
    }

private:
    std::nullopt_t failAt(const char* what) {
        if (m_error.empty()) m_error = std::string(what) + " at offset " + std::to_string(m_at);
        return std::nullopt;
    }

    void skipSpace() {
        while (m_at < m_text.size() &&
               (m_text[m_at] == ' ' || m_text[m_at] == '\t' || m_text[m_at] == '\n' || m_text[m_at] == '\r'))
            ++m_at;
    }

    bool literal(std::string_view word) {
        if (m_text.substr(m_at, word.size()) != word) return false;
        m_at += word.size();
        return true;
    }

    std::optional<Value> value(int depth) {
        if (depth > kMaxDepth) return failAt("nesting too deep");
        skipSpace();
        if (m_at == m_text.size()) return failAt("missing value");
        switch (m_text[m_at]) {
        case '{': return object(depth);
        case '[': return array(depth);
        case '"': {
            std::optional<std::string> s = string();
            if (!s) return std::nullopt;
            return std::make_optional<Value>(std::move(*s));
        }
        case 't': if (literal("true")) return std::make_optional<Value>(true); break;
        case 'f': if (literal("false")) return std::make_optional<Value>(false); break;
        case 'n': if (literal("null")) return std::make_optional<Value>(); break;
        default: return number();
        }
        return failAt("unknown word");
    }

    std::optional<Value> array(int depth) {
        ++m_at;
        Value::Array items;
        skipSpace();
        if (m_at < m_text.size() && m_text[m_at] == ']') {
            ++m_at;
            return std::make_optional<Value>(std::move(items));
        }
        for (;;) {
            std::optional<Value> item = value(depth + 1);
            if (!item) return std::nullopt;
            items.push_back(std::move(*item));
            skipSpace();
            if (m_at < m_text.size() && m_text[m_at] == ',') {
                ++m_at;
            } else if (m_at < m_text.size() && m_text[m_at] == ']') {
                ++m_at;
                return std::make_optional<Value>(std::move(items));
            } else {
                return failAt("expected ',' or ']'");
            }
        }
    }

    std::optional<Value> object(int depth) {
        ++m_at;
        Value::Dictionary entries;
        skipSpace();
        if (m_at < m_text.size() && m_text[m_at] == '}') {
            ++m_at;
            return std::make_optional<Value>(std::move(entries));
        }
        for (;;) {
            skipSpace();
            if (m_at == m_text.size() || m_text[m_at] != '"') return failAt("expected a key");
            std::optional<std::string> key = string();
            if (!key) return std::nullopt;
            skipSpace();
            if (m_at == m_text.size() || m_text[m_at] != ':') return failAt("expected ':'");
            ++m_at;
            std::optional<Value> item = value(depth + 1);
            if (!item) return std::nullopt;
            entries.insert_or_assign(std::move(*key), std::move(*item));
            skipSpace();
            if (m_at < m_text.size() && m_text[m_at] == ',') {
                ++m_at;
            } else if (m_at < m_text.size() && m_text[m_at] == '}') {
                ++m_at;
                break;
            } else {
                return failAt("expected ',' or '}'");
            }
        }
        // The canonical forms of data and dates.
        if (entries.size() == 1) {
            const auto& [key, item] = *entries.begin();
            if (key == "data" && item.string()) {
                if (std::optional<Data> bytes = base64Decode(*item.string())) return std::make_optional<Value>(std::move(*bytes));
                return failAt("data that is not base64 before");
            }
            if (key == "date" && item.string()) {
                if (std::optional<Date> date = Date::fromISO8601(*item.string())) return std::make_optional<Value>(*date);
                return failAt("a date not of the form YYYY-MM-DDTHH:MM:SSZ before");
            }
        }
        return std::make_optional<Value>(std::move(entries));
    }

    std::optional<unsigned> hex4() {
        if (m_text.size() - m_at < 4) return std::nullopt;
        unsigned v = 0;
        auto [end, ec] = std::from_chars(m_text.data() + m_at, m_text.data() + m_at + 4, v, 16);
        if (ec != std::errc() || end != m_text.data() + m_at + 4) return std::nullopt;
        m_at += 4;
        return v;
    }

    std::optional<std::string> string() {
        ++m_at;
        std::string out;
        while (m_at < m_text.size()) {
            const char c = m_text[m_at++];
            if (c == '"') return out;
            if (static_cast<unsigned char>(c) < 0x20) return failAt("control character in a string");
            if (c != '\\') {
                out += c;
                continue;
            }
            if (m_at == m_text.size()) break;
            const char e = m_text[m_at++];
            switch (e) {
            case '"': case '\\': case '/': out += e; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                std::optional<unsigned> cp = hex4();
                if (cp && utf8::isHighSurrogate(*cp)) {
                    std::optional<unsigned> low;
                    if (literal("\\u")) low = hex4();
                    cp = low && utf8::isLowSurrogate(*low) ? utf8::fromSurrogates(*cp, *low)
                                                           : std::optional<unsigned>();
                } else if (cp && utf8::isLowSurrogate(*cp)) {
                    cp.reset();
                }
                if (!cp) return failAt("bad \\u escape");
                utf8::append(out, *cp);
                break;
            }
            default: return failAt("bad escape");
            }
        }
        return failAt("unterminated string");
    }

    std::optional<Value> number() {
        const size_t start = m_at;
        auto digits = [&] {
            const size_t from = m_at;
            while (m_at < m_text.size() && m_text[m_at] >= '0' && m_text[m_at] <= '9') ++m_at;
            return m_at - from;
        };
        if (m_at < m_text.size() && m_text[m_at] == '-') ++m_at;
        const size_t intStart = m_at;
        const size_t intDigits = digits();
        if (intDigits == 0 || (intDigits > 1 && m_text[intStart] == '0')) return failAt("bad number");
        bool integral = true;
        if (m_at < m_text.size() && m_text[m_at] == '.') {
            ++m_at;
            if (digits() == 0) return failAt("bad number");
            integral = false;
        }
        if (m_at < m_text.size() && (m_text[m_at] == 'e' || m_text[m_at] == 'E')) {
            ++m_at;
            if (m_at < m_text.size() && (m_text[m_at] == '+' || m_text[m_at] == '-')) ++m_at;
            if (digits() == 0) return failAt("bad number");
            integral = false;
        }
        const char* first = m_text.data() + start;
        const char* last = m_text.data() + m_at;
        if (integral) {
            int64_t n = 0;
            if (std::from_chars(first, last, n).ec == std::errc()) return std::make_optional<Value>(n);
        }
        // The text is a decimal number, which a string's doubleValue reads whole: in the C locale,
        // too large as infinite, too small as zero.
        return std::make_optional<Value>(Value(std::string_view(first, last)).doubleValue());
    }

    std::string_view m_text;
    size_t m_at = 0;
    std::string m_error;
};

}  // namespace

std::optional<Value> Value::fromJSON(std::string_view text, std::string* error) {
    return Reader(text).document(error);
}

}  // namespace plat::foundation
