// Base64 text and SHA-1 digests as the player's plugins and the analytics clients use them. Base64 is
// the foundation's encoder and decoder, adding only line breaks and the lenient reading (strangers
// skipped, the first "=" ends; a lone value there gives one byte, the value shifted left by 2). The
// stream digest reads an InputStream and gives nothing when a read fails.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/util/InputStream.h"

class DKCrypto {
public:
    using Data = std::vector<std::uint8_t>;

    // RFC 4648 text. With a line length other than 0, a line feed follows every group of four
    // characters that brings the line to at least that length (the last group's too).
    static std::string encodeBase64(const Data& data, unsigned lineLength = 0);
    // Every byte outside the alphabet is skipped; the first "=" ends the text, and the values
    // pending then give what they can (one lone value gives one byte, the value shifted left by
    // 2); an unclosed last group is dropped. Text with a byte beyond ASCII gives empty data.
    static Data decodeBase64(std::string_view text);
    // The line length is ignored.
    static Data decodeBase64(std::string_view text, unsigned lineLength);

    // The 20-byte SHA-1 of everything the stream gives, read 1024 bytes at a time; nothing when
    // the stream cannot be opened or a read fails (never the digest of part of the data).
    static std::optional<Data> createDigestForData(plat::util::InputStream& stream);
    // SHA-1 of the text's bytes as 40 lower-case hexadecimal digits; nothing if the digest fails.
    static std::optional<std::string> createDigestStringForString(std::string_view text);
};
