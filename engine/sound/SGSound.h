// A sound effect decoded into one OpenAL buffer. Shared (std::shared_ptr) between its asset and
// every source that has its buffer queued, so it outlives each queue it is on.
#pragma once

#include <AL/al.h>

#include <cstdint>

class SGSound {
public:
    SGSound() = default;
    ~SGSound();
    SGSound(const SGSound&) = delete;
    SGSound& operator=(const SGSound&) = delete;

    // Chooses the decoder by the path's last four bytes (".ogg", ".caf", anything else). False
    // only when an ".ogg" file cannot be opened as Ogg Vorbis or has codebooks libvorbis cannot
    // decode safely; other failures leave the sound without a buffer (bufferCount 0), so it is
    // never queued.
    bool loadFromFile(const char* path);
    // Deletes the buffer; the sound is empty again.
    void freeSound();

    // 1 once loaded; the one buffer's name is 0 with no audio device. OpenAL copies the samples
    // (this OpenAL has no static-buffer extension), so they are not kept.
    int32_t bufferCount() const { return m_bufferCount; }
    const ALuint* buffers() const { return m_buffers; }

private:
    int32_t m_bufferCount = 0;
    ALuint* m_buffers = nullptr;
};
