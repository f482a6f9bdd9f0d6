#include "orbad/core/OrbadJSON.h"

#include <cstring>

#include "platform/foundation/UTF8.h"

namespace utf8 = plat::foundation::utf8;

namespace orbad {

namespace {

bool isJSONSpace(uint8_t c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

ByteSet::ByteSet(std::string_view members) {
    for (char c : members) {
        const auto b = static_cast<uint8_t>(c);
        m_bits[b >> 6] |= uint64_t{1} << (b & 63);
    }
}

const std::vector<char32_t>& obLinebreaksCharacterSet() {
    static const std::vector<char32_t> set = {0x0A, 0x0C, 0x0D, 0x85, 0x2028, 0x2029};
    return set;
}

// ---- OrbadDataScanner ----

void OrbadDataScanner::setData(Data data) {
    m_data = std::move(data);
    m_current = 0;
}

uint8_t OrbadDataScanner::obscanCharacter() {
    if (isAtEnd()) return 0;
    return m_data[m_current++];
}

bool OrbadDataScanner::obscanCharacter(uint8_t expected) {
    if (isAtEnd() || m_data[m_current] != expected) return false;
    ++m_current;
    return true;
}

void OrbadDataScanner::skipWhitespace() {
    while (m_current < m_data.size() && isJSONSpace(m_data[m_current])) ++m_current;
}

bool OrbadDataScanner::scanUTF8String(std::string_view text, std::string* into) {
    if (text.empty() || m_data.size() - m_current < text.size() ||
        std::memcmp(m_data.data() + m_current, text.data(), text.size()) != 0)
        return false;
    m_current += text.size();
    if (into) *into = text;
    return true;
}

bool OrbadDataScanner::scanNumber(double* out) {
    static const ByteSet numberBytes("0123456789eE-.");
    std::string run;
    if (!obscanCharactersFromSet(numberBytes, &run)) return false;
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t(0));
    *out = strtod_l(run.c_str(), nullptr, cLocale);
    return true;
}

bool OrbadDataScanner::obscanCharactersFromSet(const ByteSet& set, std::string* into) {
    size_t end = m_current;
    while (end < m_data.size() && set.contains(m_data[end])) ++end;
    if (end == m_current) return false;
    if (into) into->assign(reinterpret_cast<const char*>(m_data.data() + m_current), end - m_current);
    m_current = end;
    return true;
}

bool OrbadDataScanner::scanUpToCharactersFromSet(const ByteSet& set, std::string* into) {
    size_t end = m_current;
    while (end < m_data.size() && !set.contains(m_data[end])) ++end;
    if (end == m_current) return false;
    if (into) into->assign(reinterpret_cast<const char*>(m_data.data() + m_current), end - m_current);
    m_current = end;
    return true;
}

bool OrbadDataScanner::scanUpToString(std::string_view text, std::string* into) {
    if (text.empty()) return false;
    std::string_view rest(reinterpret_cast<const char*>(m_data.data() + m_current),
                          m_data.size() - m_current);
    const size_t at = rest.find(text);
    if (at == std::string_view::npos) return false;
    if (into) *into = rest.substr(0, at);
    m_current += at;
    return true;
}

std::string OrbadDataScanner::obremainingString() const {
    return utf8::replaceInvalid(m_data.data() + m_current, m_data.size() - m_current);
}

size_t OrbadDataScanner::linebreakAt(size_t at) const {
    const size_t left = m_data.size() - at;
    if (at >= m_data.size()) return 0;
    const uint8_t* p = m_data.data() + at;
    if (*p == '\n' || *p == '\f' || *p == '\r') return 1;
    if (left >= 2 && p[0] == 0xC2 && p[1] == 0x85) return 2;
    if (left >= 3 && p[0] == 0xE2 && p[1] == 0x80 && (p[2] == 0xA8 || p[2] == 0xA9)) return 3;
    return 0;
}

bool OrbadDataScanner::obScanCPlusPlusStyleComment(std::string* into, std::string* reason) {
    if (!scanUTF8String("//")) {
        if (reason) *reason = "Not a C++ style comment.";
        return false;
    }
    const size_t start = m_current;
    while (m_current < m_data.size() && linebreakAt(m_current) == 0) ++m_current;
    if (into) into->assign(reinterpret_cast<const char*>(m_data.data() + start), m_current - start);
    while (size_t len = linebreakAt(m_current)) m_current += len;
    return true;
}

bool OrbadDataScanner::obScanCStyleComment(std::string* into, std::string* reason) {
    const size_t start = m_current;
    if (!scanUTF8String("/*")) {
        if (reason) *reason = "Not a C style comment.";
        return false;
    }
    std::string body;
    if (!scanUpToString("*/", &body)) {
        m_current = start;
        if (reason) *reason = "Started to scan a C style comment but it wasn't terminated.";
        return false;
    }
    if (body.find("/*") != std::string::npos) {
        m_current = start;
        if (reason) *reason = "C style comments should not be nested.";
        return false;
    }
    if (!scanUTF8String("*/")) {
        m_current = start;
        if (reason) *reason = "C style comment did not end correctly.";
        return false;
    }
    if (into) *into = std::move(body);
    return true;
}

bool OrbadDataScanner::obbacktrack(size_t count, std::string* reason) {
    if (count > m_current) {
        if (reason) *reason = "Backtracked too far.";
        return false;
    }
    m_current -= count;
    return true;
}

size_t OrbadDataScanner::obLineOfScanLocation() const {
    size_t lines = 0;
    for (size_t i = 0; i < m_current; ++i) lines += m_data[i] == '\n' || m_data[i] == '\r';
    return lines;
}

}  // namespace orbad
