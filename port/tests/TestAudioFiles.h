// Small audio files made by the tests themselves.
#pragma once

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace dk::test {

// `frames` frames of a sine at `hz` with peak `amplitude` (0..1), 16-bit, interleaved; channel c
// is scaled by (c + 1) / channels so channels differ.
inline std::vector<int16_t> sine(int frames, int channels, int rate, double hz, double amplitude) {
    std::vector<int16_t> out(static_cast<size_t>(frames) * channels);
    for (int i = 0; i < frames; ++i) {
        double v = amplitude * std::sin(2 * M_PI * hz * i / rate);
        for (int c = 0; c < channels; ++c) {
            out[static_cast<size_t>(i) * channels + c] =
                static_cast<int16_t>(std::lround(32767.0 * v * (c + 1) / channels));
        }
    }
    return out;
}

inline void putLE(std::string& s, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

inline bool writeFile(const std::string& path, const std::string& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

// A canonical 16-bit PCM WAV file.
inline bool writeWav(const std::string& path, const std::vector<int16_t>& samples, int channels, int rate) {
    std::string s = "RIFF";
    uint32_t dataBytes = static_cast<uint32_t>(samples.size() * 2);
    putLE(s, 36 + dataBytes, 4);
    s += "WAVEfmt ";
    putLE(s, 16, 4);
    putLE(s, 1, 2);
    putLE(s, channels, 2);
    putLE(s, rate, 4);
    putLE(s, rate * channels * 2, 4);
    putLE(s, channels * 2, 2);
    putLE(s, 16, 2);
    s += "data";
    putLE(s, dataBytes, 4);
    for (int16_t v : samples) putLE(s, static_cast<uint16_t>(v), 2);
    return writeFile(path, s);
}

inline std::string tempPath(const std::string& name) {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/dk-" + std::to_string(::getpid()) + "-" + name;
}

}  // namespace dk::test
