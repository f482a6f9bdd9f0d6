// drovik-player's start: which of the large libraries a run loads (the loader's own record of the
// files it maps), and the line that says when the first game frame has been presented.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "port/tests/AudioTestSupport.h"
#include "tests/support/TestSupport.h"

namespace {

const std::string kPlayer = DK_BINARY_DIR "/apps/drovik-player/drovik-player";
const std::string kData = DK_TEST_DATA_DIR;

const char* const kInfo = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>CFBundleIdentifier</key><string>com.test.startup</string></dict></plist>
)";

// The quiet game, with music started by its first scene when `music` names a file.
std::string engineScript(const std::string& music) {
    std::ifstream quiet(kData + "/quiet-engine.lua");
    std::stringstream script;
    script << quiet.rdbuf();
    if (!music.empty())
        script << "function loadInitialScene() platformWrappers.playMusic(\"" << music << "\", 1) end\n";
    return script.str();
}

class StartUp : public ::testing::Test {
protected:
    void makeGame(const std::string& app, const std::string& music) {
        std::filesystem::create_directories(m_dir.file(app) + "/Game.gameproj");
        dktest::writeFile(m_dir.file(app) + "/Info.plist", kInfo);
        dktest::writeFile(m_dir.file(app) + "/engine32.luo", engineScript(music));
    }

    // Runs the player with the dynamic loader writing down every file it maps (one record per
    // process, so the web engine's own processes write theirs); returns all the records.
    std::string runRecordingLoads(const std::string& name, std::vector<std::string> arguments,
                                  dktest::ProcessResult* result) {
        const std::string records = m_dir.file("loads-" + name);
        std::filesystem::create_directories(records);
        arguments.insert(arguments.begin(), kPlayer);
        *result = dktest::runProcess(arguments,
                                     {"DROVIK_HOME=" + m_dir.file("home-" + name), "LD_DEBUG=files",
                                      "LD_DEBUG_OUTPUT=" + records + "/ld"},
                                     m_dir.path());
        std::string all;
        for (const auto& entry : std::filesystem::directory_iterator(records)) all += dktest::readFile(entry.path());
        return all;
    }

    dktest::TempDir m_dir;
};

bool loaded(const std::string& records, const std::string& library) {
    return records.find("file=" + library) != std::string::npos;
}

// FFmpeg (with its codecs) and WPE WebKit are loaded when a run needs them: music or a movie, the
// page engine's first web view. A game with neither starts without them, whichever page engine is
// named; music loads FFmpeg alone.
TEST_F(StartUp, FFmpegAndWebKitAreLoadedOnlyWhenARunNeedsThem) {
    ASSERT_TRUE(dktest::writeWav(m_dir.file("tone.wav"), dktest::sine(4410, 1, 44100, 440, 0.5), 1, 44100));
    makeGame("Quiet.app", "");
    makeGame("Music.app", m_dir.file("tone.wav"));
    struct Case {
        const char* name;
        std::vector<std::string> arguments;
        bool ffmpeg, webkit;
    } cases[] = {
        {"quiet", {"--headless", "--frames", "2", "--drain-seconds", "0", "Quiet.app"}, false, false},
        {"music", {"--headless", "--frames", "2", "--drain-seconds", "0", "Music.app"}, true, false},
        // The page engine named, and the default: loaded at the first web view, which never comes.
        {"web", {"--headless", "--frames", "2", "--drain-seconds", "0", "--web", "wpe", "Quiet.app"}, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        dktest::ProcessResult r;
        const std::string records = runRecordingLoads(c.name, c.arguments, &r);
        EXPECT_EQ(r.status, 0) << r.err;
        ASSERT_TRUE(loaded(records, "libEGL_mesa")) << "no loader record";
        EXPECT_EQ(loaded(records, "libavcodec"), c.ffmpeg);
        EXPECT_EQ(loaded(records, "libavformat"), c.ffmpeg);
        EXPECT_EQ(loaded(records, "libWPEWebKit"), c.webkit);
        EXPECT_EQ(r.err.find("could not be loaded"), std::string::npos) << r.err;
    }
}

// "launch firstFrame" comes once, after the first game frame's update, whatever the count of frames.
TEST_F(StartUp, TheFirstPresentedGameFrameIsTracedOnce) {
    makeGame("Quiet.app", "");
    for (const char* frames : {"1", "3"}) {
        SCOPED_TRACE(frames);
        const dktest::ProcessResult r = dktest::runProcess(
            {kPlayer, "--headless", "--frames", frames, "--drain-seconds", "0", "--trace", "launch,frame",
             "--trace-file", "-", "Quiet.app"},
            {"DROVIK_HOME=" + m_dir.file(std::string("home") + frames)}, m_dir.path());
        ASSERT_EQ(r.status, 0) << r.err;
        const size_t update = r.out.find(" frame DK_Update");
        const size_t first = r.out.find(" launch firstFrame\n");
        ASSERT_NE(update, std::string::npos) << r.out;
        ASSERT_NE(first, std::string::npos) << r.out;
        EXPECT_LT(update, first);
        EXPECT_EQ(r.out.find(" launch ", first + 1), std::string::npos) << r.out;
    }
}

// On the virtual clock the first game frame follows the game's loading at once: the music its first
// scene asks for opens (FFmpeg loads) once that frame is on screen, and plays; the game's question
// at its end gets the same answer as ever.
TEST_F(StartUp, FirstSceneMusicOpensAfterTheFirstFrameAndPlays) {
    ASSERT_TRUE(dktest::writeWav(m_dir.file("tone.wav"), dktest::sine(4410, 1, 44100, 440, 0.5), 1, 44100));
    makeGame("Music.app", m_dir.file("tone.wav"));
    dktest::writeFile(m_dir.file("Music.app") + "/engine32.luo",
                      engineScript(m_dir.file("tone.wav")) +
                          "function shutdownEngine() io.stderr:write('music playing ', "
                          "platformWrappers.isMusicPlaying(), '\\n') end\n");
    // The trace and the loader's record both go to standard error, in the order they happen.
    const dktest::ProcessResult r = dktest::runProcess(
        {kPlayer, "--headless", "--frames", "3", "--drain-seconds", "0", "--trace", "launch", "Music.app"},
        {"DROVIK_HOME=" + m_dir.file("home"), "LD_DEBUG=files"}, m_dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    const size_t first = r.err.find(" launch firstFrame\n");
    const size_t ffmpeg = r.err.find("file=libavcodec");
    ASSERT_NE(first, std::string::npos) << r.err;
    ASSERT_NE(ffmpeg, std::string::npos) << r.err;
#if !defined(__SANITIZE_ADDRESS__)  // there FFmpeg loads on the main thread, at the request
    EXPECT_LT(first, ffmpeg);
#endif
    EXPECT_NE(r.err.find("music playing 1\n"), std::string::npos) << r.err;
}

}  // namespace
