// Base64 as the player writes and reads it, and SHA-1 over strings and streams.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/crypto/Crypto.h"
#include "platform/foundation/Value.h"
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

// Lines of `width` characters cut from `text`, each ended by a line feed but a short last one.
std::string brokenInto(const std::string& text, std::size_t width) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); i += width) {
        out += text.substr(i, width);
        if (i + width <= text.size()) out += '\n';
    }
    return out;
}

TEST(DKCryptoBase64, EncodesInGroupsAndBreaksLinesAfterWholeGroups) {
    // The unbroken text comes from the foundation's own encoder, written apart from this one.
    const std::string flat48 = plat::foundation::base64Encode(counting(48));
    const std::string flat12 = plat::foundation::base64Encode(counting(12));
    struct Case {
        Data data;
        unsigned line;
        std::string text;
    } cases[] = {
        // RFC 4648, section 10.
        {bytes(""), 0, ""},
        {bytes("f"), 0, "Zg=="},
        {bytes("fo"), 0, "Zm8="},
        {bytes("foo"), 0, "Zm9v"},
        {bytes("foob"), 0, "Zm9vYg=="},
        {bytes("fooba"), 0, "Zm9vYmE="},
        {bytes("foobar"), 0, "Zm9vYmFy"},
        {bytes(std::string("\xff\xfe\x00", 3)), 0, "//4A"},
        // Line lengths: 0 none; otherwise the smallest multiple of 4 at least as long, and a
        // line feed after the last group when it completes a line.
        {counting(48), 0, flat48},
        {counting(48), 64, flat48 + "\n"},
        {counting(48), 10, brokenInto(flat48, 12)},
        {counting(12), 5, brokenInto(flat12, 8)},
        {counting(12), 1, brokenInto(flat12, 4)},
        {bytes("foo"), 4, "Zm9v\n"},
        {bytes("f"), 4, "Zg==\n"},
        {bytes(""), 4, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DKCrypto::encodeBase64(c.data, c.line), c.text)
            << c.data.size() << " bytes, line " << c.line;
    }
}

TEST(DKCryptoBase64, DecodesSkippingStrangersAndStoppingAtTheFirstPad) {
    struct Case {
        std::string text;
        std::string bytes;
    } cases[] = {
        {"", ""},
        {"Zg==", "f"},
        {"Zm8=", "fo"},
        {"Zm9vYmFy", "foobar"},
        {"//4A", std::string("\xff\xfe\x00", 3)},
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
    for (const Case& c : cases) {
        EXPECT_EQ(DKCrypto::decodeBase64(c.text), bytes(c.bytes)) << c.text;
        EXPECT_EQ(DKCrypto::decodeBase64(c.text, 4), bytes(c.bytes)) << c.text;
    }
    for (unsigned line : {0u, 1u, 10u, 64u}) {
        const Data data = counting(256);
        EXPECT_EQ(DKCrypto::decodeBase64(DKCrypto::encodeBase64(data, line)), data) << line;
    }
}

TEST(DKCryptoDigest, StringsGiveFortyLowerCaseDigits) {
    // FIPS 180 examples; the empty string too.
    const std::pair<std::string, std::string> cases[] = {
        {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
        {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
    };
    for (const auto& [text, digest] : cases)
        EXPECT_EQ(DKCrypto::createDigestStringForString(text), digest) << text;
}

// A stream over bytes in memory that hands out at most `piece` bytes a read and fails (-1) once
// `failAt` bytes have gone out.
class ScriptedStream : public plat::util::InputStream {
public:
    ScriptedStream(Data data, std::size_t piece, std::size_t failAt = SIZE_MAX)
        : m_data(std::move(data)), m_piece(piece), m_failAt(failAt) {}
    bool open() override {
        m_opened = true;
        return true;
    }
    long read(std::uint8_t* buffer, std::size_t size) override {
        m_largestAsk = std::max(m_largestAsk, size);
        if (m_given >= m_failAt) return -1;
        std::size_t n = std::min({size, m_piece, m_data.size() - m_given, m_failAt - m_given});
        std::copy_n(m_data.begin() + static_cast<long>(m_given), n, buffer);
        m_given += n;
        return static_cast<long>(n);
    }
    void close() override { m_closed = true; }

    bool m_opened = false, m_closed = false;
    std::size_t m_largestAsk = 0;

private:
    Data m_data;
    std::size_t m_piece, m_failAt;
    std::size_t m_given = 0;
};

TEST(DKCryptoDigest, StreamsFilesAndStreamsInChunks) {
    dktest::TempDir dir;
    const std::string million(1000000, 'a');
    dktest::writeFile(dir.file("million"), million);
    dktest::writeFile(dir.file("empty"), "");
    const Data odd = counting(5000);
    dktest::writeFile(dir.file("odd"), std::string(odd.begin(), odd.end()));
    const struct Case {
        std::string file;
        std::string digest;
    } cases[] = {
        {"million", "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},  // FIPS 180: a million "a"
        {"empty", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
        {"odd", plat::crypto::hex(*plat::crypto::sha1(std::string(odd.begin(), odd.end())))},
    };
    for (const Case& c : cases) {
        plat::util::FileInputStream file(dir.file(c.file));
        std::optional<Data> digest = DKCrypto::createDigestForData(file);
        ASSERT_TRUE(digest) << c.file;
        EXPECT_EQ(plat::crypto::hex(*digest), c.digest) << c.file;
    }
    ScriptedStream stream(odd, 333);
    std::optional<Data> digest = DKCrypto::createDigestForData(stream);
    ASSERT_TRUE(digest);
    EXPECT_EQ(plat::crypto::hex(*digest), cases[2].digest);
    EXPECT_TRUE(stream.m_opened && stream.m_closed);
    EXPECT_EQ(stream.m_largestAsk, 1024u);
}

TEST(DKCryptoDigest, AFailedReadGivesNoDigest) {
    dktest::TempDir dir;
    ScriptedStream failing(counting(5000), 1024, 2500);
    EXPECT_EQ(DKCrypto::createDigestForData(failing), std::nullopt);
    EXPECT_TRUE(failing.m_closed);
    ScriptedStream failingAtOnce(counting(10), 1024, 0);
    EXPECT_EQ(DKCrypto::createDigestForData(failingAtOnce), std::nullopt);
    // A directory opens but cannot be read; a missing file does not open.
    plat::util::FileInputStream directory(dir.path()), missing(dir.file("missing"));
    EXPECT_EQ(DKCrypto::createDigestForData(directory), std::nullopt);
    EXPECT_EQ(DKCrypto::createDigestForData(missing), std::nullopt);
}

}  // namespace
