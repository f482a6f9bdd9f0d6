// Per-frame cost of SoundManager::update with the whole pool playing, a reserve/play/stop cycle,
// and decoding throughput (audio frames per second) of the Ogg, IMA4 and converting roads.
// Runs on OpenAL Soft's null output unless ALSOFT_DRIVERS says otherwise.
#include <benchmark/benchmark.h>

#include "engine/sound/SoundDecoding.h"
#include "engine/sound/SoundManager.h"
#include "engine/sound/tests/SoundTestSupport.h"

using dk::sound::SoundManager;

namespace {

constexpr int kRate = 44100;

// The IMA4 file is the sound tests' (a second of stereo at 44.1 kHz); the others are made here.
struct Files {
    dktest::TempDir dir;
    std::string ogg = dir.file("bench.ogg");
    std::string ima4 = DK_SOUND_TEST_DATA "/tone-ima4.caf";
    std::string wav = dir.file("bench.wav");
    Files() {
        auto stereo = dktest::sine(kRate * 2, 2, kRate, 440, 0.5);
        dktest::writeSound(ogg, dktest::kOgg, stereo, 2, kRate);
        dktest::writeWav(wav, stereo, 2, kRate);
    }
};

Files& files() {
    static Files f;
    return f;
}

void BM_UpdateWithAllSourcesPlaying(benchmark::State& state) {
    SoundManager m;
    auto sound = std::make_shared<SGSound>();
    sound->loadFromFile(files().wav.c_str());
    while (DKAudioSource* s = m.reserveSource()) {
        s->setLooping(true);
        s->queueBuffers(sound);
        m.playSource(s);
    }
    for (auto _ : state) m.update();
    state.counters["playing"] = static_cast<double>(m.playingCount());
}
BENCHMARK(BM_UpdateWithAllSourcesPlaying);

void BM_ReservePlayStop(benchmark::State& state) {
    SoundManager m;
    auto sound = std::make_shared<SGSound>();
    sound->loadFromFile(files().wav.c_str());
    for (auto _ : state) {
        DKAudioSource* s = m.reserveSource();
        s->queueBuffers(sound);
        m.playSource(s);
        m.stopSource(s);
    }
}
BENCHMARK(BM_ReservePlayStop);

void decodeBench(benchmark::State& state, bool (*decode)(const char*, DKPcm&), const std::string& path) {
    size_t frames = 0;
    for (auto _ : state) {
        DKPcm pcm;
        decode(path.c_str(), pcm);
        frames += pcm.data.size() / (2 * std::max(pcm.channels, 1));
    }
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}

void BM_DecodeOgg(benchmark::State& state) {
    decodeBench(state, DKDecodeOggVorbis, files().ogg);
}
void BM_DecodeIma4ToMono(benchmark::State& state) {
    decodeBench(state, DKDecodeToMono16, files().ima4);
}
void BM_DecodeWavToMono(benchmark::State& state) {
    decodeBench(state, DKDecodeToMono16, files().wav);
}
BENCHMARK(BM_DecodeOgg)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeIma4ToMono)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeWavToMono)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    setenv("ALSOFT_DRIVERS", "null", 0);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
