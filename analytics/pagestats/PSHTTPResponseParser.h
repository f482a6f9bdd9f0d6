// The dispatcher's HTTP response reader: status line, the two headers that matter, and a body of
// Content-Length bytes, fed in pieces of any size as they arrive on a pipelined connection.
//
// Read in place and bounded: a header whose name is over kMaxHeaderName is skipped, a Connection
// value over kMaxHeaderValue ignored; a Content-Length that is no number, is longer than
// kMaxHeaderValue, exceeds kMaxContentLength or differs from an earlier one is an error, as are a
// line past kMaxLineLength and a head past kMaxHeadLength. The length is reset for each response.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class PSHTTPResponseParser;

class PSHTTPResponseParserDelegate {
public:
    virtual ~PSHTTPResponseParserDelegate() = default;
    // A refused or unreadable response: its status (500 for a status line without a reason
    // phrase, 0 for a malformed header or a line or head past its bound). Parsing stops until
    // reset.
    virtual void parseError(PSHTTPResponseParser& parser, int statusCode) = 0;
    virtual void responseParsed(PSHTTPResponseParser& parser, bool persistentConnection) = 0;
};

class PSHTTPResponseParser {
public:
    static constexpr std::size_t kInitialBufferSize = 4096;
    static constexpr std::size_t kMaxHeaderName = 31;
    static constexpr std::size_t kMaxHeaderValue = 15;
    static constexpr long kMaxContentLength = 1 << 20;
    // A collector's status line and headers are short: a line or a head past these is refused, so
    // bytes that keep arriving without an end are never buffered on.
    static constexpr std::size_t kMaxLineLength = 8 * 1024;
    static constexpr std::size_t kMaxHeadLength = 64 * 1024;

    explicit PSHTTPResponseParser(PSHTTPResponseParserDelegate* delegate);

    // Empties the buffer for a new write's responses. The connection's persistence is kept: once
    // the server said it closes, that holds for the dispatcher's life.
    void reset();
    // Examines the new bytes. The delegate may reset the parser from its calls; the rest of the
    // piece is then dropped.
    void parseResponse(const char* bytes, std::size_t length);

    bool persistentConnection() const { return m_persistentConnection; }

private:
    // False when the line stops parsing (the delegate was told).
    bool parseStatusLine(std::size_t from, std::size_t to);
    bool parseHeaderLine(std::size_t from, std::size_t to);
    bool complete();
    // True when the head or its current line has grown past its bound (the delegate was told).
    bool headTooLong(std::size_t at);

    PSHTTPResponseParserDelegate* m_delegate;
    std::vector<char> m_buffer;
    std::size_t m_start = 0;  // the line or body being collected
    std::size_t m_end = 0;    // the next byte to examine
    std::size_t m_headStart = 0;  // where the current response's status line began
    int m_state = 0;          // 0 status line, 1 headers, 2 body
    long m_contentLength = 0;
    bool m_lengthGiven = false;  // by this response
    bool m_persistentConnection = true;
    bool m_stopped = false;
    std::uint64_t m_generation = 0;  // moves on every reset
};
