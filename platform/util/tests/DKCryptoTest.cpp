// Base64 as the player writes and reads it, and SHA-1 over strings and streams.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/crypto/Crypto.h"
#include "platform/util/DKCrypto.h"
#include "tests/support/TestSupport.h"

namespace {

using Data = DKCrypto::Data;

Data bytes(std::string_view text) {
    return Data(text.begin(), text.end());
}

Data counting(std::size_t size) {
    Data data(size);
    for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>(i * 7 + 3);
    return data;
}

std::string hexOf(const std::optional<Data>& digest) {
    return digest ? plat::crypto::hex(*digest) : "<none>";
}

TEST(DKCryptoBase64, MatchesRfc4648BothWays) {
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},         {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}, {std::string("\xff\xfe\x00", 3), "//4A"},
    };
    for (const auto& [plain, text] : cases) {
        EXPECT_EQ(DKCrypto::encodeBase64(bytes(plain)), text);
        EXPECT_EQ(DKCrypto::decodeBase64(text), bytes(plain)) << text;
    }
}

TEST(DKCryptoBase64, BreaksLinesAfterTheGroupThatFillsThem) {
    // Lines of `width` characters cut from the unbroken text, each ended by a line feed but a short last one.
    auto brokenInto = [](const std::string& text, std::size_t width) {
        std::string out;
        for (std::size_t i = 0; i < text.size(); i += width)
            out += text.substr(i, width) + (i + width <= text.size() ? "\n" : "");
        return out;
    };
    const std::string flat48 = DKCrypto::encodeBase64(counting(48)), flat12 = DKCrypto::encodeBase64(counting(12));
    struct Case {
        Data data;
        unsigned line;
        std::string text;
    } cases[] = {
        // The smallest multiple of 4 at least as long as asked.
        {counting(48), 64, flat48 + "\n"},
        {counting(48), 10, brokenInto(flat48, 12)},
        {counting(12), 5, brokenInto(flat12, 8)},
        {counting(12), 1, brokenInto(flat12, 4)},
        {bytes("f"), 4, "Zg==\n"},
        {bytes(""), 4, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DKCrypto::encodeBase64(c.data, c.line), c.text) << c.data.size() << " bytes, line " << c.line;
    for (unsigned line : {0u, 1u, 10u, 64u}) {
        const Data data = counting(256);
        EXPECT_EQ(DKCrypto::decodeBase64(DKCrypto::encodeBase64(data, line), line), data) << line;
    }
}

TEST(DKCryptoBase64, DecodesSkippingStrangersAndStoppingAtTheFirstPad) {
    const std::pair<std::string, std::string> cases[] = {
        {"Zm 9v\n", "foo"},          // a blank inside, a line feed after
        {"Zm9v\nYmFy\n", "foobar"},  // broken lines
        {"Z-m_9*v", "foo"},          // bytes outside the alphabet are skipped
        {"Zm9vYg==QUJD", "foob"},    // nothing after the first "=" counts
        {"Zm9vYg=QUJD", "foob"},
        {"Zm9vYg", "foo"},  // an unclosed last group is dropped
        {"Zm9vYmE", "foo"},
        {"=Zm9v", ""},
        {"Zm9v====", "foo"},
        // One lone value at the "=": one byte, the value shifted left by 2, whatever came before.
        {"Q=", "\x40"},
        {"QUJDQ=", "ABC\x40"},
        {"Zm9v/=", "foo\xfc"},
        // Anything beyond ASCII: nothing at all.
        {"Zm9v\xc3\xa9", ""},
        {"\x80Zm9v", ""},
    };
    for (const auto& [text, plain] : cases) EXPECT_EQ(DKCrypto::decodeBase64(text), bytes(plain)) << text;
}

// A stream over bytes in memory that hands out at most `piece` bytes a read and fails (-1) once
// `failAt` bytes have gone out.
class ScriptedStream : public plat::util::InputStream {
public:
    ScriptedStream(Data data, std::size_t piece, std::size_t failAt = SIZE_MAX)
        : m_data(std::move(data)), m_piece(piece), m_failAt(failAt) {}
    bool open() override { return true; }
    long read(std::uint8_t* buffer, std::size_t size) override {
        m_largestAsk = std::max(m_largestAsk, size);
        if (m_given >= m_failAt) return -1;
        std::size_t n = std::min({size, m_piece, m_data.size() - m_given, m_failAt - m_given});
        std::copy_n(m_data.begin() + static_cast<long>(m_given), n, buffer);
        m_given += n;
        return static_cast<long>(n);
    }
    void close() override { m_closed = true; }

    bool m_closed = false;
    std::size_t m_largestAsk = 0;

private:
    Data m_data;
    std::size_t m_piece, m_failAt;
    std::size_t m_given = 0;
};

TEST(DKCryptoDigest, OverStringsFilesAndStreamsOrNothingWhenAReadFails) {
    EXPECT_EQ(DKCrypto::createDigestStringForString("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(DKCrypto::createDigestStringForString(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709");

    dktest::TempDir dir;
    const Data odd = counting(5000);
    dktest::writeFile(dir.file("odd"), std::string(odd.begin(), odd.end()));
    dktest::writeFile(dir.file("empty"), "");
    plat::util::FileInputStream file(dir.file("odd")), empty(dir.file("empty")), directory(dir.path()),
        missing(dir.file("missing"));
    ScriptedStream pieces(odd, 333), failing(odd, 1024, 2500), failingAtOnce(odd, 1024, 0);
    const std::string expected = hexOf(DKCrypto::createDigestForData(file));
    EXPECT_EQ(expected, plat::crypto::hex(*plat::crypto::sha1(std::string(odd.begin(), odd.end()))));
    EXPECT_EQ(hexOf(DKCrypto::createDigestForData(pieces)), expected);
    EXPECT_EQ(pieces.m_largestAsk, 1024u);
    EXPECT_EQ(hexOf(DKCrypto::createDigestForData(empty)), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    // Never the digest of part of the data; a directory opens but cannot be read.
    for (plat::util::InputStream* stream :
         std::initializer_list<plat::util::InputStream*>{&failing, &failingAtOnce, &directory, &missing})
        EXPECT_EQ(DKCrypto::createDigestForData(*stream), std::nullopt);
    EXPECT_TRUE(pieces.m_closed && failing.m_closed);
}

}  // namespace
