// A sound effect decoded into one OpenAL buffer. Shared (std::shared_ptr) between its asset and
// every source that has its buffer queued, so it outlives each queue it is on.
#pragma once

#include <AL/al.h>

#include <cstdint>

namespace dk {

class SGSound {
public:
    SGSound() = default;
    ~SGSound();
    SGSound(const SGSound&) = delete;
    SGSound& operator=(const SGSound&) = delete;

    // Chooses the decoder by the path's last four bytes (".ogg", ".caf", anything else). False
    // only when an ".ogg" file cannot be opened as Ogg Vorbis; other failures leave the sound
    // without a buffer (bufferCount 0), so it is never queued.
    bool loadFromFile(const char* path);
    // Deletes the buffer; the sound is empty again.
    void freeSound();

    int32_t bufferCount = 0;
    ALuint* buffers = nullptr;
    // Bytes of decoded PCM handed to OpenAL. OpenAL copies it (this OpenAL has no static-buffer
    // extension), so the block itself is not kept: pcmData stays null.
    uint32_t pcmSize = 0;
    uint8_t* pcmData = nullptr;
};

}  // namespace dk
