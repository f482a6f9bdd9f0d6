// The one tone the sound and music tests hear, and the files they make of it through libsndfile.
#pragma once

#include <sndfile.h>

#include <algorithm>
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

// Writes `samples` through libsndfile as `format` (SF_FORMAT_...): CAF, Ogg Vorbis, WAV. Narrower
// formats keep the top bits of each sample.
inline bool writeSound(const std::string& path, int format, const std::vector<int16_t>& samples, int channels,
                       int rate) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f) return false;
    double quality = 0.9;  // Vorbis
    sf_command(f, SFC_SET_VBR_ENCODING_QUALITY, &quality, sizeof quality);
    // In pieces: libsndfile's Vorbis writer overruns the stack on a long write.
    const sf_count_t frames = static_cast<sf_count_t>(samples.size() / channels), piece = 65536;
    bool ok = true;
    for (sf_count_t at = 0; ok && at < frames; at += piece) {
        const sf_count_t n = std::min(piece, frames - at);
        ok = sf_writef_short(f, samples.data() + at * channels, n) == n;
    }
    return sf_close(f) == 0 && ok;
}

inline constexpr int kOgg = SF_FORMAT_OGG | SF_FORMAT_VORBIS;
inline constexpr int kCaf16 = SF_FORMAT_CAF | SF_FORMAT_PCM_16 | SF_ENDIAN_LITTLE;
inline constexpr int kWav16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;

inline bool writeWav(const std::string& path, const std::vector<int16_t>& samples, int channels, int rate) {
    return writeSound(path, kWav16, samples, channels, rate);
}

inline int peak(const std::vector<int16_t>& samples) {
    int p = 0;
    for (int16_t v : samples) p = std::max(p, std::abs(static_cast<int>(v)));
    return p;
}

inline int zeroCrossings(const std::vector<int16_t>& s) {
    int n = 0;
    for (size_t i = 1; i < s.size(); ++i) n += (s[i - 1] < 0) != (s[i] < 0);
    return n;
}

}  // namespace dktest
