// The dispatcher's response reader: pieces of any size, the headers that matter, bounds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "analytics/pagestats/PSHTTPResponseParser.h"

namespace {

// What the parser reported, one word per call: "ok" / "ok-close" per response, "error <status>".
struct Recorder : PSHTTPResponseParserDelegate {
    std::vector<std::string> calls;
    void parseError(PSHTTPResponseParser&, int status) override { calls.push_back("error " + std::to_string(status)); }
    void responseParsed(PSHTTPResponseParser&, bool persistent) override {
        calls.push_back(persistent ? "ok" : "ok-close");
    }
};

std::vector<std::string> parseInPieces(const std::string& text, const std::vector<std::size_t>& cuts) {
    Recorder recorder;
    PSHTTPResponseParser parser(&recorder);
    std::size_t at = 0;
    for (std::size_t cut : cuts) {
        parser.parseResponse(text.data() + at, cut - at);
        at = cut;
    }
    parser.parseResponse(text.data() + at, text.size() - at);
    return recorder.calls;
}

const std::string kBody35(35, 'x');
const std::string kOk = "HTTP/1.1 200 OK\r\nContent-Length: 35\r\n\r\n" + kBody35;
// A response without a length after one with a length: it has no body.
const std::string kOkBare = "HTTP/1.1 200 OK\r\nServer: t\r\n\r\n";
const std::string kClose = "HTTP/1.1 200 OK\r\nconnection:  close\r\nCONTENT-LENGTH: 3\r\n\r\nabc";

TEST(PSHTTPResponseParser, PipelinedResponsesParseTheSameSplitAtEveryByte) {
    const std::string stream = kOk + kOkBare + kOk + kClose;
    const std::vector<std::string> whole = parseInPieces(stream, {});
    EXPECT_EQ(whole, (std::vector<std::string>{"ok", "ok", "ok", "ok-close"}));
    for (std::size_t cut = 1; cut < stream.size(); ++cut) EXPECT_EQ(parseInPieces(stream, {cut}), whole) << cut;
    std::vector<std::size_t> everyByte;
    for (std::size_t cut = 1; cut < stream.size(); ++cut) everyByte.push_back(cut);
    EXPECT_EQ(parseInPieces(stream, everyByte), whole);
}

TEST(PSHTTPResponseParser, StatusLinesAndHeaders) {
    const std::string longName(40, 'N');
    struct Case {
        const char* what;
        std::string text;
        std::vector<std::string> calls;
    } cases[] = {
        {"no reason phrase", "HTTP/1.1 200\r\n\r\n", {"error 500"}},
        {"refused", "HTTP/1.1 503 Busy\r\n\r\n", {"error 503"}},
        {"1.0 is not persistent", "HTTP/1.0 200 OK\r\n\r\n", {"ok-close"}},
        {"close is exact", "HTTP/1.1 200 OK\r\nConnection: Close\r\n\r\n", {"ok"}},
        {"close after a tab", "HTTP/1.1 200 OK\r\nConnection:\tclose\r\n\r\n", {"ok-close"}},
        {"negative length", "HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\n", {"error 0"}},
        {"unreadable length", "HTTP/1.1 200 OK\r\nContent-Length: 3x\r\n\r\n", {"error 0"}},
        {"absurd length", "HTTP/1.1 200 OK\r\nContent-Length: 1048577\r\n\r\n", {"error 0"}},
        {"overlong length", "HTTP/1.1 200 OK\r\nContent-Length: 0000000000000003\r\n\r\nabc", {"error 0"}},
        {"two lengths", "HTTP/1.1 200 OK\r\nContent-Length: 3\r\nContent-Length: 2\r\n\r\nabc", {"error 0"}},
        {"one length twice", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nContent-Length: 2\r\n\r\nab", {"ok"}},
        {"overlong name skipped", "HTTP/1.1 200 OK\r\n" + longName + ": 1\r\nContent-Length: 2\r\n\r\nab", {"ok"}},
        {"overlong value skipped", "HTTP/1.1 200 OK\r\nConnection: close-and-then-some\r\n\r\n", {"ok"}},
        {"parsing stops at an error", "HTTP/1.1 404 No\r\n\r\n" + kOk, {"error 404"}},
    };
    for (const Case& c : cases) EXPECT_EQ(parseInPieces(c.text, {}), c.calls) << c.what;
}

// A line or a head that never ends is refused at its bound, however the bytes arrive; a body is
// bounded by its length alone.
TEST(PSHTTPResponseParser, LinesAndHeadsAreBounded) {
    const std::size_t line = PSHTTPResponseParser::kMaxLineLength, head = PSHTTPResponseParser::kMaxHeadLength;
    std::string manyHeaders = "HTTP/1.1 200 OK\r\n";
    while (manyHeaders.size() <= head) manyHeaders += "X-Filler: " + std::string(100, 'f') + "\r\n";
    const std::string longBody(line * 2, 'b');
    struct Case {
        const char* what;
        std::string text;
        std::vector<std::string> calls;
    } cases[] = {
        {"endless status line", "HTTP/1.1 200 " + std::string(line, 'O'), {"error 0"}},
        {"endless header line", "HTTP/1.1 200 OK\r\nX-Endless: " + std::string(line, 'a'), {"error 0"}},
        {"endless head of short lines", manyHeaders, {"error 0"}},
        {"a line just within", "HTTP/1.1 200 OK\r\nX: " + std::string(line - 8, 'a') + "\r\n\r\n", {"ok"}},
        {"a body longer than a line",
         "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(longBody.size()) + "\r\n\r\n" + longBody + kOk,
         {"ok", "ok"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parseInPieces(c.text, {}), c.calls) << c.what;
        std::vector<std::size_t> kilobytes;
        for (std::size_t cut = 1024; cut < c.text.size(); cut += 1024) kilobytes.push_back(cut);
        EXPECT_EQ(parseInPieces(c.text, kilobytes), c.calls) << c.what << " in pieces";
    }
}

// A body read by its length that ends on a CR leaves the LF after it to the next response: that
// CR ends no line (it took the status line's length below zero, and the read past the buffer).
TEST(PSHTTPResponseParser, ABodyEndingOnACarriageReturnEndsNoLine) {
    const std::string crBody = "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nab\r";
    struct Case {
        const char* what;
        std::string text;
        std::vector<std::string> calls;
    } cases[] = {
        {"a lone LF after it", crBody + "\n", {"ok"}},
        {"the next response after the LF", crBody + "\n" + kOk, {"ok", "ok"}},
        {"a refusal after the LF", crBody + "\nHTTP/1.1 503 Busy\r\n\r\n", {"ok", "error 503"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parseInPieces(c.text, {}), c.calls) << c.what;
        for (std::size_t cut = 1; cut < c.text.size(); ++cut)
            EXPECT_EQ(parseInPieces(c.text, {cut}), c.calls) << c.what << " " << cut;
    }
}

// Bodies are counted per response: a length never carries over to the next one.
TEST(PSHTTPResponseParser, ALengthIsResetAfterEachResponse) {
    EXPECT_EQ(parseInPieces(kOk + kOkBare + kOkBare, {}), (std::vector<std::string>{"ok", "ok", "ok"}));
}

// A reset from inside a call drops the rest of the piece; the next write's answers parse afresh.
TEST(PSHTTPResponseParser, AResetFromTheDelegateStartsOver) {
    struct Resetter : Recorder {
        PSHTTPResponseParser* parser = nullptr;
        void responseParsed(PSHTTPResponseParser& p, bool persistent) override {
            Recorder::responseParsed(p, persistent);
            if (calls.size() == 1) parser->reset();
        }
    } recorder;
    PSHTTPResponseParser parser(&recorder);
    recorder.parser = &parser;
    const std::string two = kOk + kOk;
    parser.parseResponse(two.data(), two.size());
    parser.parseResponse(kOk.data(), kOk.size());
    EXPECT_EQ(recorder.calls, (std::vector<std::string>{"ok", "ok"}));
}

}  // namespace
