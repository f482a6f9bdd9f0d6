// CPU the music feeder costs per second of audio streamed: a looping stereo file plays for a few
// seconds of wall time, and the process CPU time spent is set against the same wait with nothing
// playing (OpenAL's own mixer thread runs in both). One process per output, since the device is
// chosen once: OpenAL Soft's null driver, its loopback device rendered at the real-time pace from
// here, and no device at all (the silent path, which still decodes at the real-time rate).
//   bench_music                      all three, each in a child process
//   bench_music null|loopback|silent [seconds]
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "port/DKAudioDevice.h"
#include "port/DKMusic.h"

namespace {

constexpr int kRate = 44100;

double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}

void putLE(std::string& s, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) s.push_back(static_cast<char>(v >> (8 * i) & 0xff));
}

// Ten seconds of a stereo tone as 16-bit WAV, which FFmpeg decodes as it would any file.
std::string writeMusic() {
    std::string path = "/tmp/bench-music-" + std::to_string(getpid()) + ".wav";
    const uint32_t frames = kRate * 10, bytes = frames * 4;
    std::string s = "RIFF";
    putLE(s, 36 + bytes, 4);
    s += "WAVEfmt ";
    for (uint32_t v : {16u, 1u | 2u << 16, uint32_t(kRate), uint32_t(kRate * 4), 4u | 16u << 16})
        putLE(s, v, 4);
    s += "data";
    putLE(s, bytes, 4);
    for (uint32_t i = 0; i < frames; ++i) {
        auto v = static_cast<uint16_t>(static_cast<int16_t>(12000 * std::sin(2 * M_PI * 440.0 * i / kRate)));
        putLE(s, v, 2);
        putLE(s, v, 2);
    }
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return "";
    std::fwrite(s.data(), 1, s.size(), f);
    std::fclose(f);
    return path;
}

// Waits `seconds`; with the loopback device the mixer is driven from here, 10 ms at a time.
double spendCpu(double seconds, bool loopback) {
    using clock = std::chrono::steady_clock;
    std::vector<int16_t> out(kRate / 100 * 2);
    double start = cpuSeconds();
    auto end = clock::now() + std::chrono::duration<double>(seconds);
    for (auto next = clock::now(); next < end; next += std::chrono::milliseconds(10)) {
        if (loopback) DKAudioDevice::renderSamples(out.data(), kRate / 100);
        std::this_thread::sleep_until(next);
    }
    return cpuSeconds() - start;
}

int runMode(const std::string& mode, double seconds) {
    bool loopback = mode == "loopback";
    if (mode == "silent") setenv("ALSOFT_DRIVERS", "none", 1);
    if (mode == "null") setenv("ALSOFT_DRIVERS", "null", 1);
    if (loopback && !DKAudioDevice::useLoopback(kRate, 2)) return 1;
    std::string path = writeMusic();
    if (path.empty()) return 1;
    auto& music = DKMusicManager::sharedMusicManager();
    // The loopback device renders only once it has a context; the music makes its own later.
    if (loopback && !DKAudioDevice::createContext()) return 1;
    DKAudioDevice::device();
    double idle = spendCpu(seconds, loopback);
    music.playMusic(path, true);
    if (!music.isPlaying()) return 1;
    double playing = spendCpu(seconds, loopback);
    music.stopMusic();
    music.reset();
    std::remove(path.c_str());
    std::printf("%-9s feeder %6.2f ms CPU per second of music  (idle %5.2f ms/s, playing %5.2f ms/s)\n",
                mode.c_str(), (playing - idle) / seconds * 1e3, idle / seconds * 1e3,
                playing / seconds * 1e3);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = argc > 2 ? std::atof(argv[2]) : 4.0;
    if (argc > 1) return runMode(argv[1], seconds);
    int failures = 0;
    for (const char* mode : {"null", "loopback", "silent"}) {
        std::fflush(stdout);
        pid_t child = fork();
        if (child == 0) {
            int rc = runMode(mode, seconds);
            std::fflush(stdout);
            _exit(rc);
        }
        int status = 0;
        waitpid(child, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::printf("%-9s failed\n", mode);
            ++failures;
        }
    }
    return failures ? 1 : 0;
}
