#include "analytics/pagestats/PSHTTPResponseParser.h"

#include <cctype>
#include <string_view>

namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
    return true;
}

// A decimal count, digits only (no sign), up to `limit`; -1 otherwise.
long parseLength(std::string_view text, long limit) {
    if (text.empty()) return -1;
    long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return -1;
        value = value * 10 + (c - '0');
        if (value > limit) return -1;
    }
    return value;
}

}  // namespace

PSHTTPResponseParser::PSHTTPResponseParser(PSHTTPResponseParserDelegate* delegate) : m_delegate(delegate) {
    m_buffer.reserve(kInitialBufferSize);
}

void PSHTTPResponseParser::reset() {
    m_buffer.clear();
    m_start = m_end = m_headStart = 0;
    m_state = 0;
    m_contentLength = 0;
    m_lengthGiven = false;
    m_stopped = false;
    ++m_generation;
}

void PSHTTPResponseParser::parseResponse(const char* bytes, std::size_t length) {
    if (m_stopped) return;
    m_buffer.insert(m_buffer.end(), bytes, bytes + length);
    const std::uint64_t generation = m_generation;
    for (; m_end < m_buffer.size(); ++m_end) {
        const std::size_t at = m_end;
        // The CR must be the line's own: one that ended the last body ends no line.
        const bool lineEnd = m_buffer[at] == '\n' && at > m_start && m_buffer[at - 1] == '\r';
        bool goOn = true;
        if (m_state != 2 && headTooLong(at)) return;
        if (m_state == 0) {
            if (!lineEnd) continue;
            goOn = parseStatusLine(m_start, at - 1);
            if (goOn) {
                m_start = at + 1;
                m_state = 1;
            }
        } else if (m_state == 1) {
            if (!lineEnd) continue;
            if (at - 1 > m_start) {  // a header line; an empty one ends the headers
                goOn = parseHeaderLine(m_start, at - 1);
                m_start = at + 1;
                if (!goOn) return;
                continue;
            }
            m_start = at + 1;
            if (m_contentLength == 0) {
                goOn = complete();
            } else {
                m_state = 2;
            }
        } else {
            if (static_cast<long>(at - m_start) + 1 < m_contentLength) continue;
            m_start = at + 1;
            goOn = complete();
        }
        if (!goOn || generation != m_generation) return;
    }
}

bool PSHTTPResponseParser::headTooLong(std::size_t at) {
    if (at - m_start < kMaxLineLength && at - m_headStart < kMaxHeadLength) return false;
    m_stopped = true;
    m_delegate->parseError(*this, 0);
    return true;
}

bool PSHTTPResponseParser::complete() {
    m_state = 0;
    m_headStart = m_start;
    m_contentLength = 0;  // the next response brings its own length, or none
    m_lengthGiven = false;
    m_delegate->responseParsed(*this, m_persistentConnection);
    return true;
}

bool PSHTTPResponseParser::parseStatusLine(std::size_t from, std::size_t to) {
    std::string_view line(m_buffer.data() + from, to - from);
    const std::size_t blank = line.find(' ');
    if (blank != std::string_view::npos && line.substr(0, blank) == "HTTP/1.0") m_persistentConnection = false;
    int status = 500;  // no reason phrase: the line is not one we trust
    if (blank != std::string_view::npos && line.find(' ', blank + 1) != std::string_view::npos) {
        std::string_view code = line.substr(blank + 1, 3);
        status = 0;
        for (char c : code) status = (c >= '0' && c <= '9') ? status * 10 + (c - '0') : -1000;
        if (code.size() != 3 || status < 0) status = 0;
    }
    if (status == 200) return true;
    m_stopped = true;
    m_delegate->parseError(*this, status);
    return false;
}

bool PSHTTPResponseParser::parseHeaderLine(std::size_t from, std::size_t to) {
    std::string_view line(m_buffer.data() + from, to - from);
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon > kMaxHeaderName) return true;
    const std::string_view name = line.substr(0, colon);
    std::string_view value = line.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    if (equalsIgnoringCase(name, "Content-Length")) {
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
        const long length = value.size() > kMaxHeaderValue ? -1 : parseLength(value, kMaxContentLength);
        // A second length that differs leaves the body's end to whichever is believed.
        if (length < 0 || (m_lengthGiven && length != m_contentLength)) {
            m_stopped = true;
            m_delegate->parseError(*this, 0);
            return false;
        }
        m_contentLength = length;
        m_lengthGiven = true;
    } else if (equalsIgnoringCase(name, "Connection") && value.size() <= kMaxHeaderValue && value == "close") {
        m_persistentConnection = false;
    }
    return true;
}
