// Where the music feeder's decoded audio goes: an OpenAL source on the music context, or, with no
// audio device, nowhere at the real-time rate (so a player's timing is the same either way).
// Chosen once when a feeder starts; every call comes from that feeder's thread.
#pragma once

#include <cstdint>
#include <memory>

namespace dk::port {

// The decoded side of the feeder: chunks of the current file, looping as asked.
class MusicChunks {
public:
    virtual ~MusicChunks() = default;
    // Decodes the next chunk; 0 frames once the data (the last loop) has ended.
    virtual int next() = 0;
    virtual const int16_t* data() const = 0;
    virtual int channels() const = 0;
    virtual int sampleRate() const = 0;
};

class MusicOutput {
public:
    virtual ~MusicOutput() = default;
    virtual void setVolume(float volume) = 0;
    // Drops whatever was decoded but not yet heard (a stop, or the end of the music).
    virtual void flush() = 0;
    virtual void pause() = 0;
    // Plays on, decoding from `chunks` as the output wants more; true once the data ended and
    // everything decoded has been heard.
    virtual bool feed(MusicChunks& chunks) = 0;

    // Makes the music context (or finds there is no device), on the caller's thread, before a
    // feeder needs it.
    static void prepare();
    // OpenAL when the music context is usable on this thread, else the silent output.
    static std::unique_ptr<MusicOutput> open();
};

}  // namespace dk::port
