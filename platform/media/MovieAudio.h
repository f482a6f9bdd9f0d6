// The movie player's sound: a streaming source on an OpenAL device and context of its own (made
// once, kept for the process), current only around its own calls so the engine's context is left
// as it was. Without a device every call does nothing and the movie plays silently.
#pragma once

#include <vector>

#include "platform/media/MovieDecoder.h"

namespace plat::media {

class MovieAudio {
public:
    MovieAudio();
    ~MovieAudio();
    MovieAudio(const MovieAudio&) = delete;
    MovieAudio& operator=(const MovieAudio&) = delete;

    bool hasDevice() const { return m_source != 0; }
    // Queues the chunks (buffers the source has played are reused) and keeps the source playing.
    void queue(std::vector<AudioChunk> chunks);
    void pause();
    void resume();

private:
    unsigned m_source = 0;
    std::vector<unsigned> m_free;
};

}  // namespace plat::media
