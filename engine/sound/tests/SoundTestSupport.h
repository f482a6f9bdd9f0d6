// Sound files the sound tests write for themselves (CAF of any layout, Ogg Vorbis through
// libsndfile) over the tone of port/tests/AudioTestSupport.
#pragma once

#include <sndfile.h>

#include <cstring>
#include <memory>

#include "engine/sound/SGSound.h"
#include "port/tests/AudioTestSupport.h"

namespace dktest {

inline std::string be(uint64_t v, int bytes) {
    std::string s;
    for (int i = bytes - 1; i >= 0; --i) s.push_back(static_cast<char>(v >> (8 * i) & 0xff));
    return s;
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

inline void writeCaf(const std::string& path, const CafDesc& d, const std::string& audio) {
    uint64_t rateBits;
    std::memcpy(&rateBits, &d.rate, 8);
    std::string s =
        "caff" + be(1, 2) + be(0, 2) + "desc" + be(32, 8) + be(rateBits, 8) + std::string(d.format, 4);
    for (uint32_t v : {d.flags, d.bytesPerPacket, d.framesPerPacket, d.channels, d.bits}) s += be(v, 4);
    // An unknown chunk to skip, then the audio after its edit count.
    writeFile(path, s + "free" + be(3, 8) + "xyz" + "data" + be(audio.size() + 4, 8) + be(0, 4) + audio);
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

// A mono 16-bit 44.1 kHz tone of `seconds` at 441 Hz, loaded; null if that failed.
inline std::shared_ptr<dk::SGSound> toneSound(double seconds) {
    TempDir dir;
    writeCaf(dir.file("tone.caf"), CafDesc{44100, "lpcm", 2, 2, 1, 1, 16},
             le16(sine(static_cast<int>(44100 * seconds), 1, 44100, 441, 0.5)));
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
