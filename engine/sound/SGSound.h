// A sound effect decoded into one OpenAL buffer. Shared (std::shared_ptr) between its asset and
// every source that has its buffer queued, so it outlives each queue it is on. Decoded by file
// ending: ".ogg" through vorbisfile, ".caf" linear PCM by our own CAF reader (big-endian 16-bit
// samples swapped, 8-bit made unsigned), every other file converted to mono 16-bit (IMA4 CAF by our
// own ADPCM decoder, the rest through libsndfile, read in chunks until it has no more frames: a
// header's frame count is only a claim). OpenAL copies the samples. Before vorbisfile opens a file,
// the setup header of every logical stream that begins anywhere in it is read through its codebooks
// with libogg: libvorbis divides by a codebook's dimension, so a book with no dimension or a code
// tree not exactly full makes the file load as no sound. A CAF sample rate that is not a positive int
// makes the file unreadable. With no audio device, sounds decode and hold buffer name 0; a sound
// loaded while no context is current uses the sound context as the thread's own.
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
