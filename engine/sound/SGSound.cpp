#include "engine/sound/SGSound.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "engine/sound/ALCheck.h"
#include "engine/sound/SoundContext.h"
#include "engine/sound/SoundDecoding.h"
#include "port/DKFileProblems.h"

namespace {

bool endsWith(const char* path, size_t length, const char* ending) {
    return length >= 4 && std::memcmp(path + length - 4, ending, 4) == 0;
}

ALenum pcmFormat(int channels, int bits) {
    if (channels == 1 && bits == 16) return AL_FORMAT_MONO16;
    if (channels == 2 && bits == 16) return AL_FORMAT_STEREO16;
    if (channels == 1 && bits == 8) return AL_FORMAT_MONO8;
    if (channels == 2 && bits == 8) return AL_FORMAT_STEREO8;
    return -1;  // OpenAL rejects it, and the check after the upload says so
}

}  // namespace

SGSound::~SGSound() {
    freeSound();
}

// One buffer holding `pcm` in `format`. With no audio at all the sound is still loaded, with
// buffer name 0, and plays nothing.
static ALuint* makeBuffer(const DKPcm& pcm, ALenum format, const char* label) {
    ALuint* names = new ALuint[1]{0};
    DKScopedSoundContext scope;
    if (!scope.active()) return names;
    alGetError();
    alGenBuffers(1, names);
    alBufferData(names[0], format, pcm.data.data(), static_cast<ALsizei>(pcm.data.size()), pcm.sampleRate);
    DKCheckALError(label);
    return names;
}

// The sound is kept, silent (its load counts as done); its author hears why, once.
static void reportUnplayable(const char* path, const DKPcm& pcm) {
    const std::string problem = pcm.tooLong ? kSoundTooLongReason : dk::port::fileOpenProblem(path);
    dk::port::reportFileProblem(path, problem.empty() ? "not a sound file that can be decoded" : problem);
}

bool SGSound::loadFromFile(const char* path) {
    freeSound();  // a second load must not leak the first buffer
    if (!path) path = "";
    const size_t length = std::strlen(path);
    DKPcm pcm;
    if (endsWith(path, length, ".ogg")) {
        if (!DKDecodeOggVorbis(path, pcm)) {
            // Past the bound it is a sound all the same, kept silent like the other roads' failures.
            if (!pcm.tooLong) return false;  // the asset that asked says so
            reportUnplayable(path, pcm);
            return true;
        }
        ALenum format = pcm.channels == 1 ? AL_FORMAT_MONO16 : AL_FORMAT_STEREO16;
        m_buffers = makeBuffer(pcm, format, "makeOpenALBuffers: alBufferData");
        m_bufferCount = 1;
        return true;
    }
    if (endsWith(path, length, ".caf")) {
        DKCafStatus status = DKReadCafLinearPcm(path, pcm);
        if (status == DKCafStatus::kLinearPcm) {
            m_buffers =
                makeBuffer(pcm, pcmFormat(pcm.channels, pcm.bitsPerSample), "CAFToOpenAL: alBufferData");
            m_bufferCount = 1;
            return true;
        }
        if (status == DKCafStatus::kFailed) {
            reportUnplayable(path, pcm);
            return true;
        }
    }
    if (DKDecodeToMono16(path, pcm)) {
        m_buffers = makeBuffer(pcm, AL_FORMAT_MONO16, "ExtAudioFileToOpenAL: alBufferData");
        m_bufferCount = 1;
    } else {
        reportUnplayable(path, pcm);
    }
    return true;
}

void SGSound::freeSound() {
    DKScopedSoundContext scope;
    DKCheckALError("~SGSound");
    if (m_bufferCount < 1 || !m_buffers) return;
    if (scope.active() && m_buffers[0] != 0) {
        alGetError();
        if (alIsBuffer(m_buffers[0])) {
            alDeleteBuffers(m_bufferCount, m_buffers);
            ALenum error = alGetError();
            if (error != AL_NO_ERROR)
                std::fprintf(stderr, "OpenAL error %d in call to %s", error, "~SGSound: alDeleteBuffers");
        }
    }
    delete[] m_buffers;
    m_buffers = nullptr;
    m_bufferCount = 0;
}
