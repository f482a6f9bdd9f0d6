// The one tone the sound and music tests hear, and the files they make of it.
#pragma once

#include <chrono>
#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/TestSupport.h"

namespace dktest {

// `frames` frames of a sine at `hz` with peak `amplitude` (0..1), 16-bit, interleaved; channel c
// is scaled by (c + 1) / channels so channels differ.
inline std::vector<int16_t> sine(int frames, int channels, int rate, double hz, double amplitude) {
    std::vector<int16_t> out(static_cast<size_t>(frames) * channels);
    for (size_t i = 0; i < out.size(); ++i) {
        int c = static_cast<int>(i % channels);
        double v = amplitude * std::sin(2 * M_PI * hz * static_cast<double>(i / channels) / rate);
        out[i] = static_cast<int16_t>(std::lround(32767.0 * v * (c + 1) / channels));
    }
    return out;
}

inline std::string le(uint32_t v, int bytes) {
    std::string s;
    for (int i = 0; i < bytes; ++i) s.push_back(static_cast<char>(v >> (8 * i) & 0xff));
    return s;
}

inline std::string le16(const std::vector<int16_t>& samples) {
    std::string s;
    for (int16_t v : samples) s += le(static_cast<uint16_t>(v), 2);
    return s;
}

// A canonical 16-bit PCM WAV file; false when it could not be written.
inline bool writeWav(const std::string& path, const std::vector<int16_t>& samples, int channels, int rate) {
    const auto bytes = static_cast<uint32_t>(samples.size() * 2), block = static_cast<uint32_t>(channels * 2);
    writeFile(path, "RIFF" + le(36 + bytes, 4) + "WAVEfmt " + le(16, 4) + le(1, 2) + le(channels, 2) +
                        le(rate, 4) + le(rate * block, 4) + le(block, 2) + le(16, 2) + "data" + le(bytes, 4) +
                        le16(samples));
    return exists(path);
}

// Polls `condition` until it holds or `seconds` pass; the music feeder runs on its own thread.
inline bool waitUntil(const std::function<bool()>& condition, double seconds) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

inline int peak(const std::vector<int16_t>& samples) {
    int p = 0;
    for (int16_t v : samples) p = std::max(p, std::abs(static_cast<int>(v)));
    return p;
}

inline int zeroCrossings(const std::vector<int16_t>& s, size_t from, size_t to) {
    int n = 0;
    for (size_t i = from + 1; i < to && i < s.size(); ++i) n += (s[i - 1] < 0) != (s[i] < 0);
    return n;
}

}  // namespace dktest
