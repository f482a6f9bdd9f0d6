// The page-view dispatcher's response reader on a collector's bytes. No crash, no read past the
// buffer; the same calls whether the bytes come whole or in pieces (the first byte sets the piece
// size); nothing after a refusal, whose status is that of three digits (0 when unreadable).
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "analytics/pagestats/PSHTTPResponseParser.h"
#include "fuzz/FuzzSupport.h"

namespace {

struct Calls : PSHTTPResponseParserDelegate {
    std::vector<int> seen;  // -1 a response taken, -2 one that closes, else a refusal's status
    bool refused = false;
    void parseError(PSHTTPResponseParser&, int status) override {
        if (refused || status < 0 || status > 999 || status == 200) std::abort();
        refused = true;
        seen.push_back(status);
    }
    void responseParsed(PSHTTPResponseParser&, bool persistent) override {
        if (refused) std::abort();
        seen.push_back(persistent ? -1 : -2);
    }
};

std::vector<int> parse(const char* bytes, std::size_t size, std::size_t piece) {
    Calls calls;
    PSHTTPResponseParser parser(&calls);
    for (std::size_t at = 0; at < size; at += piece)
        parser.parseResponse(bytes + at, std::min(piece, size - at));
    return calls.seen;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::size_t piece = data[0] % 16 + 1;
    const char* bytes = reinterpret_cast<const char*>(data + 1);
    const std::size_t length = size - 1;
    if (parse(bytes, length, length + 1) != parse(bytes, length, piece)) std::abort();
    return 0;
}
