// Sound files the sound tests write for themselves through libsndfile, over the tone of
// port/tests/AudioTestSupport.
#pragma once

#include <sndfile.h>

#include <memory>

#include "engine/sound/SGSound.h"
#include "port/tests/AudioTestSupport.h"

namespace dktest {

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
    sf_count_t frames = static_cast<sf_count_t>(samples.size() / channels);
    bool ok = sf_writef_short(f, samples.data(), frames) == frames;
    return sf_close(f) == 0 && ok;
}

inline constexpr int kOgg = SF_FORMAT_OGG | SF_FORMAT_VORBIS;
inline constexpr int kCaf16 = SF_FORMAT_CAF | SF_FORMAT_PCM_16 | SF_ENDIAN_LITTLE;
inline constexpr int kWav16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;

// A mono 16-bit 44.1 kHz tone of `seconds` at 441 Hz, loaded; null if that failed.
inline std::shared_ptr<dk::SGSound> toneSound(double seconds) {
    TempDir dir;
    writeSound(dir.file("tone.caf"), kCaf16, sine(static_cast<int>(44100 * seconds), 1, 44100, 441, 0.5), 1,
               44100);
    auto sound = std::make_shared<dk::SGSound>();
    return sound->loadFromFile(dir.file("tone.caf").c_str()) && sound->bufferCount == 1 ? sound : nullptr;
}

inline std::vector<int16_t> fromLE16(const std::vector<uint8_t>& bytes) {
    std::vector<int16_t> out(bytes.size() / 2);
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return out;
}

// Root-mean-square difference of two signals of the same length, in sample units.
inline double rmsError(const std::vector<int16_t>& a, const std::vector<int16_t>& b) {
    double sum = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) sum += double(a[i] - b[i]) * (a[i] - b[i]);
    return a.size() == b.size() && !a.empty() ? std::sqrt(sum / a.size()) : 1e9;
}

}  // namespace dktest
