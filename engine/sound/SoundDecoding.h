// Decoding of sound-effect files into PCM that one OpenAL buffer takes whole.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct DKPcm {
    int channels = 0;
    int bitsPerSample = 16;  // 8 (unsigned, as OpenAL wants it), 16 (signed, little-endian) or other
    int sampleRate = 0;
    std::vector<uint8_t> data;
    bool tooLong = false;  // refused for its length (DKSoundTooLong), before or while decoding
};

// A sound effect is held whole in memory, so its decoded length is bounded: at most 5 minutes,
// and at most what 5 minutes of 48 kHz stereo take (57.6 MB), as a phone's memory would allow.
// Music streams and is not bounded.
inline constexpr int kMaxSoundEffectSeconds = 300;
inline constexpr uint64_t kMaxSoundEffectBytes = uint64_t(kMaxSoundEffectSeconds) * 48000 * 2 * 2;
// True when `bytes` of PCM at `rate` frames a second of `bytesPerFrame` pass the bound.
bool DKSoundTooLong(uint64_t bytes, int64_t rate, int bytesPerFrame);
// What the file problem line says of such a sound.
inline constexpr const char* kSoundTooLongReason =
    "longer than a sound effect may be (5 minutes, 57.6 MB decoded); play it as music";

// What a CAF file's description chunk says, plus where its audio data lies.
struct DKCafInfo {
    double sampleRate = 0;
    uint32_t formatID = 0;
    uint32_t formatFlags = 0;  // the file's own flags: 1 float, 2 little-endian
    uint32_t bytesPerPacket = 0;
    uint32_t framesPerPacket = 0;
    uint32_t channelsPerFrame = 0;
    uint32_t bitsPerChannel = 0;
    int64_t dataOffset = 0;
    int64_t dataSize = 0;      // bytes of audio data
    int64_t validFrames = -1;  // from a packet table, when there is one
};

// Reads the header chunks of a CAF file; false when it is not one, is damaged or has a sample
// rate OpenAL cannot take.
bool DKReadCafInfo(const std::string& path, DKCafInfo& info);

// Ogg Vorbis through vorbisfile into 16-bit samples; false when the file cannot be opened as
// Ogg Vorbis or a setup header in it has a codebook libvorbis cannot decode safely, or (tooLong
// set) when its stream says it is past the bound or its decoding passes it. Read errors are
// reported and the read is tried again (a bounded number of times).
bool DKDecodeOggVorbis(const char* path, DKPcm& out);

enum class DKCafStatus { kLinearPcm, kOtherFormat, kFailed };
// A linear-PCM CAF file as it is stored (big-endian 16-bit samples are swapped, 8-bit samples made
// unsigned); kOtherFormat for compressed CAF files; kFailed (tooLong set) for audio data past the
// bound, which is not read.
DKCafStatus DKReadCafLinearPcm(const char* path, DKPcm& out);

// Any other file, converted to mono 16-bit at its own rate: IMA4 CAF files through our own
// decoder, the rest through libsndfile, which is read until it has no more frames whatever the
// header claims. False when the file cannot be read or has more than two channels, or (tooLong
// set) when it decodes past the bound: decoding stops there.
bool DKDecodeToMono16(const char* path, DKPcm& out);

// Decodes IMA4 ADPCM packets (34 bytes per channel per packet, 64 frames each) into interleaved
// 16-bit samples.
std::vector<int16_t> DKDecodeIma4(const uint8_t* data, size_t bytes, int channels);
