// Sound files the sound tests write for themselves: CAF in several encodings (with a small IMA4
// encoder), Ogg Vorbis through libsndfile.
#pragma once

#include <sndfile.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "engine/sound/SGSound.h"
#include "port/tests/TestAudioFiles.h"

namespace dk::test {

inline void putBE(std::string& s, uint64_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

struct CafDesc {
    double rate = 44100;
    const char* format = "lpcm";
    uint32_t flags = 2;  // little-endian integer
    uint32_t bytesPerPacket = 4;
    uint32_t framesPerPacket = 1;
    uint32_t channels = 2;
    uint32_t bits = 16;
};

inline bool writeCaf(const std::string& path, const CafDesc& d, const std::string& audio,
                     int64_t validFrames = -1) {
    std::string s = "caff";
    putBE(s, 1, 2);
    putBE(s, 0, 2);
    s += "desc";
    putBE(s, 32, 8);
    uint64_t rateBits;
    std::memcpy(&rateBits, &d.rate, 8);
    putBE(s, rateBits, 8);
    s += std::string(d.format, 4);
    for (uint32_t v : {d.flags, d.bytesPerPacket, d.framesPerPacket, d.channels, d.bits}) putBE(s, v, 4);
    if (validFrames >= 0) {
        s += "pakt";
        putBE(s, 24, 8);
        putBE(s, 0, 8);
        putBE(s, static_cast<uint64_t>(validFrames), 8);
        putBE(s, 0, 4);
        putBE(s, 0, 4);
    }
    s += "free";  // an unknown chunk to skip
    putBE(s, 3, 8);
    s += "xyz";
    s += "data";
    putBE(s, audio.size() + 4, 8);
    putBE(s, 0, 4);
    s += audio;
    return writeFile(path, s);
}

inline std::string le16(const std::vector<int16_t>& samples) {
    std::string s;
    for (int16_t v : samples) putLE(s, static_cast<uint16_t>(v), 2);
    return s;
}

inline const int kImaStep[89] = {
    7,    8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,   28,
    31,   34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,  118,
    130,  143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,  494,
    544,  598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878, 2066,
    2272, 2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845, 8630,
    9493, 10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

// A textbook IMA ADPCM encoder in the 34-byte packet layout (2-byte header, 64 nibbles).
inline std::string encodeIma4(const std::vector<int16_t>& interleaved, int channels) {
    static const int kIndex[8] = {-1, -1, -1, -1, 2, 4, 6, 8};
    size_t frames = interleaved.size() / channels;
    size_t packets = (frames + 63) / 64;
    std::vector<int> pred(channels, 0), index(channels, 0);
    std::string out;
    for (size_t p = 0; p < packets; ++p) {
        for (int c = 0; c < channels; ++c) {
            pred[c] = static_cast<int16_t>(pred[c] & 0xff80);
            putBE(out, (static_cast<uint16_t>(pred[c]) & 0xff80) | index[c], 2);
            uint8_t bytes[32] = {};
            for (int i = 0; i < 64; ++i) {
                size_t f = p * 64 + i;
                int sample = f < frames ? interleaved[f * channels + c] : 0;
                int step = kImaStep[index[c]];
                int diff = sample - pred[c];
                int nibble = 0;
                if (diff < 0) {
                    nibble = 8;
                    diff = -diff;
                }
                int delta = step >> 3;
                if (diff >= step) {
                    nibble |= 4;
                    diff -= step;
                    delta += step;
                }
                if (diff >= step >> 1) {
                    nibble |= 2;
                    diff -= step >> 1;
                    delta += step >> 1;
                }
                if (diff >= step >> 2) {
                    nibble |= 1;
                    delta += step >> 2;
                }
                pred[c] = std::clamp(pred[c] + ((nibble & 8) ? -delta : delta), -32768, 32767);
                index[c] = std::clamp(index[c] + kIndex[nibble & 7], 0, 88);
                bytes[i / 2] |= static_cast<uint8_t>(nibble << ((i & 1) * 4));
            }
            out.append(reinterpret_cast<char*>(bytes), 32);
        }
    }
    return out;
}

inline bool writeOgg(const std::string& path, const std::vector<int16_t>& samples, int channels, int rate) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f) return false;
    double quality = 0.9;
    sf_command(f, SFC_SET_VBR_ENCODING_QUALITY, &quality, sizeof quality);
    sf_count_t frames = static_cast<sf_count_t>(samples.size() / channels);
    bool ok = sf_writef_short(f, samples.data(), frames) == frames;
    return sf_close(f) == 0 && ok;
}

// A mono 16-bit 44.1 kHz CAF tone of `seconds` at 441 Hz, loaded; null if that failed.
inline std::shared_ptr<SGSound> toneSound(double seconds) {
    static int made = 0;
    std::string path = tempPath("tone" + std::to_string(made++) + ".caf");
    auto sound = std::make_shared<SGSound>();
    bool ok = writeCaf(path, CafDesc{44100, "lpcm", 2, 2, 1, 1, 16},
                       le16(sine(static_cast<int>(44100 * seconds), 1, 44100, 441, 0.5))) &&
              sound->loadFromFile(path.c_str()) && sound->bufferCount == 1;
    std::remove(path.c_str());
    return ok ? sound : nullptr;
}

inline std::vector<int16_t> fromLE16(const std::vector<uint8_t>& bytes) {
    std::vector<int16_t> out(bytes.size() / 2);
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return out;
}

// Root-mean-square difference of two signals, in sample units.
inline double rmsError(const std::vector<int16_t>& a, const std::vector<int16_t>& b) {
    size_t n = std::min(a.size(), b.size());
    double sum = 0;
    for (size_t i = 0; i < n; ++i) sum += double(a[i] - b[i]) * (a[i] - b[i]);
    return n ? std::sqrt(sum / n) : 1e9;
}

}  // namespace dk::test
