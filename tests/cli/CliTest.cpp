#include <gtest/gtest.h>
#include <minizip/zip.h>

#include <sstream>
#include <string>
#include <vector>

#include "platform/gl/HeadlessGL.h"
#include "tests/support/TestSupport.h"

using dktest::runProcess;

namespace {

const std::string kCli = DK_BINARY_DIR "/apps/dk-engine-cli/dk-engine-cli";
const std::string kRecorder = DK_TEST_DATA_DIR "/recorder.lua";
const std::string kSample = DK_SOURCE_DIR "/games/sample/Sample.app";

class Cli : public testing::Test {
protected:
    std::string path(const std::string& name) const { return dir.file(name); }
    std::string commands(const std::string& text) {
        dktest::writeFile(path("commands.txt"), text);
        return path("commands.txt");
    }
    dktest::ProcessResult cli(std::vector<std::string> args, const std::vector<std::string>& env = {}) {
        args.insert(args.begin(), kCli);
        return runProcess(args, env, dir.path());
    }

    dktest::TempDir dir;
};

TEST_F(Cli, StartUpThenCommandsThenFramesThenDestroy) {
    auto r = cli({"--size", "320x240", "--frames", "2", "--commands", commands(R"(# a comment line
Update 0.5
TouchDown 10 20 1 1
TouchMoved 11.5 21 1
TouchUp 12 22 1 0
TouchCancel
MouseUp 0 0
Accelerated 0.25 -1 0
SetDeviceOrientation 3 1
GetInterfaceOrientation
SetShouldChangeToScene "Level 2"
SetVolume 0.5
RaiseExternalEvent InAppRestore a b c
RaiseExternalEvent Empty
RaiseExternalEvent external hello
GetIntendedDisplaySize
SystemInitiatedPause
BehaviorInitiatedPause
Play
Stop
raiseExternalEvent frames
RaiseExternalEvent frames
stacktop
)"),
                  kRecorder, "game.proj"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "script: initEngine\n"
              "script: loadProject game.proj\n"
              "script: loadInitialScene\n"
              "loadingWillStart\n"
              "loadingWillEnd\n"
              "script: setScreenSize 320 240\n"
              "script: play\n"
              "script: touchDown 10 20 1 1\n"
              "script: touchMoved 11.5 21 1\n"
              "script: touchUp 12 22 1 0\n"
              "script: touchCancel\n"
              "script: mouseUp 0 0\n"
              "script: accelerated 0.25 -1 0\n"
              "script: deviceOrientationChanged 3 true\n"
              "script: getInterfaceOrientation\n"
              "2\n"
              "script: setNeedsToChangeScene Level 2 false\n"
              "script: setVolume 0.5\n"
              "script: raiseExternalEvent InAppRestore 3 a b c\n"
              "script: raiseExternalEvent Empty 0\n"
              "script: raiseExternalEvent external 1 hello\n"
              "callExternalFunction showBanner 1 true hello\n"
              "640 960\n"
              "script: systemInitiatedPause\n"
              "script: behaviorInitiatedPause\n"
              "script: play\n"
              "script: stop\n"
              "script: raiseExternalEvent frames 0\n"
              "frames 1\n"
              "0\n"
              "script: shutdownEngine\n");
    EXPECT_NE(r.err.find("unknown command: raiseExternalEvent"), std::string::npos) << r.err;
}

TEST_F(Cli, ScriptErrorsAreReportedOnStandardErrorAndContained) {
    auto r = cli(
        {"--frames", "100", "--commands",
         commands("RaiseExternalEvent fail\nRaiseExternalEvent failupdates\nUpdate 1\nUpdate 1\nstacktop\n"),
         kRecorder, "missing"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("DK_LoadGame Failure: cannot open missing\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "(DK_Report_Error) Lua Error: event failed\n");
    EXPECT_NE(r.out.find("\n0\nscript: shutdownEngine"), std::string::npos)
        << "failing frames leave the stack empty";
}

TEST_F(Cli, ExitStatus) {
    EXPECT_EQ(cli({path("absent.lua")}).status, 1);

    dktest::writeFile(path("broken.lua"), "function (");
    auto broken = cli({path("broken.lua")});
    EXPECT_EQ(broken.status, 1);
    EXPECT_EQ(broken.err.rfind("(DK_Report_Error) Lua Error: ", 0), 0u) << broken.err;

    EXPECT_EQ(cli({"--frames", "many", kRecorder}).status, 2);
    EXPECT_EQ(cli({"--bogus", kRecorder}).status, 2);
    EXPECT_EQ(cli({}).status, 2);

    auto typo =
        cli({"--commands", commands("Updat 1\nUpdate x\nTouchDown 1\nDestroyState\nUpdate 1\n"), kRecorder});
    EXPECT_EQ(typo.status, 0);
    EXPECT_NE(typo.err.find("unknown command: Updat"), std::string::npos) << typo.err;
    EXPECT_NE(typo.err.find("not a number: x"), std::string::npos) << typo.err;
    EXPECT_NE(typo.err.find("TouchDown: wrong number of arguments"), std::string::npos) << typo.err;
    EXPECT_NE(typo.err.find("Update: no engine state"), std::string::npos) << typo.err;
}

TEST_F(Cli, StateLifecycleCommands) {
    auto r = cli({"--commands",
                  commands("DestroyState\nPlay\nNewState 1\nInit " + kRecorder +
                           "\nPlay\nLoadGame g\nGetIntendedDisplaySize\n"),
                  kRecorder});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(
        r.out,
        "script: initEngine\nscript: shutdownEngine\n"
        "script: initEngine\nscript: play\nscript: loadProject g\n0\n640 960\nscript: shutdownEngine\n");
}

TEST_F(Cli, ScreenshotsArePngFilesOfTheSurfaceSize) {
    for (const char* api : {"", "--es1"}) {
        std::vector<std::string> args = {"--size", "64x32", "--screenshot", path("shot.png"), kRecorder};
        if (*api) args.insert(args.begin(), api);
        auto r = cli(args);
        ASSERT_EQ(r.status, 0) << api << r.err;
        int w = 0, h = 0;
        std::vector<uint8_t> pixels;
        std::string error;
        ASSERT_TRUE(plat::gl::readPNG(path("shot.png"), &w, &h, &pixels, &error)) << error;
        EXPECT_EQ(w, 64);
        EXPECT_EQ(h, 32);
    }
}

TEST_F(Cli, RunsWithoutGL) {
    // No Mesa driver to load: the engine still runs, only the screenshot cannot be taken.
    std::vector<std::string> env = {"LIBGL_DRIVERS_PATH=/nonexistent", "EGL_DRIVERS_PATH=/nonexistent",
                                    "__EGL_VENDOR_LIBRARY_FILENAMES=/nonexistent.json"};
    auto r = cli({"--frames", "3", kRecorder, "g"}, env);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("no GL context"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("loadingWillEnd"), std::string::npos);

    auto shot = cli({"--screenshot", path("x.png"), kRecorder}, env);
    EXPECT_EQ(shot.status, 1);
    EXPECT_NE(shot.err.find("cannot write screenshot"), std::string::npos) << shot.err;
}

TEST_F(Cli, ExtractGameAtPathUnpacksIntoTheCurrentDirectory) {
    zipFile zip = zipOpen(path("game.zip").c_str(), APPEND_STATUS_CREATE);
    zip_fileinfo info{};
    info.tmz_date.tm_year = 2021;
    info.tmz_date.tm_mday = 1;
    ASSERT_EQ(zipOpenNewFileInZip(zip, "Game.app/engine32.luo", &info, nullptr, 0, nullptr, 0, nullptr,
                                  Z_DEFLATED, 6),
              ZIP_OK);
    const std::string script = "function initEngine() print('unpacked engine') end";
    zipWriteInFileInZip(zip, script.data(), static_cast<unsigned>(script.size()));
    zipCloseFileInZip(zip);
    zipClose(zip, nullptr);

    auto r = cli({"--commands",
                  commands("ExtractGameAtPath game.zip\nNewState\nInit Game.app/engine32.luo\n"), kRecorder});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "script: initEngine\n0\nscript: shutdownEngine\nunpacked engine\n");
}

TEST_F(Cli, SampleGameRunsAndKeepsItsStoreAcrossRuns) {
    std::string log = path("sample.log");
    std::vector<std::string> args = {"--save",
                                     path("save"),
                                     "--frames",
                                     "30",
                                     "--screenshot",
                                     path("sample.png"),
                                     "--commands",
                                     commands("TouchDown 100 100 1 1\nTouchUp 100 100 1 0\n"),
                                     kSample + "/engine32.luo",
                                     kSample + "/Sample.gameproj"};
    auto first = cli(args, {"DK_SAMPLE_LOG=" + log});
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(first.err, "");
    EXPECT_TRUE(dktest::exists(path("sample.png")));
    EXPECT_TRUE(dktest::exists(path("save/persistent.save")));
    auto second = cli(args, {"DK_SAMPLE_LOG=" + log});
    ASSERT_EQ(second.status, 0) << second.err;

    std::istringstream in(dktest::readFile(log));
    std::string line, calls, assets;
    while (std::getline(in, line)) {
        if (line.rfind("update", 0) != 0) calls += line.substr(0, line.find(' ')) + " ";
        if (line.rfind("assets", 0) == 0) assets += line + "\n";
    }
    const std::string run =
        "initEngine loadProject loadInitialScene assets setScreenSize play touchDown setNeedsToChangeScene "
        "assets touchUp shutdownEngine ";
    EXPECT_EQ(calls, run + run);
    // Each scene's images (and sounds) through the asset manager; the title's logo is dropped.
    const std::string loaded =
        "assets title images backdrop,logo sounds \n"
        "assets play images backdrop,crate sounds touch\n";
    EXPECT_EQ(assets, loaded + loaded);
}

TEST_F(Cli, SampleGameKeepsASettingsDocumentInTheSaveDirectory) {
    auto run = [&](const std::string& commandText) {
        return cli({"--save", path("save"), "--frames", "2", "--commands", commands(commandText),
                    kSample + "/engine32.luo", kSample + "/Sample.gameproj"});
    };
    auto settings = [&] { return dktest::readFile(path("save/settings.xml")); };
    auto first = run("SetDeviceOrientation 4 1\nSetVolume 0.5\nTouchDown 1 1 1 1\n");
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(
        settings(),
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<settings volume=\"0.5\" orientation=\"4\" launches=\"1\"><lastScene>play</lastScene></settings>\n");
    // The next run starts from the document.
    auto second = run("GetInterfaceOrientation\n");
    ASSERT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(second.out, "Asset manager constructor\nloadingWillStart\nloadingWillEnd\n4\n");
    EXPECT_NE(settings().find("launches=\"2\"><lastScene>title<"), std::string::npos);
    // A damaged document is replaced by a good one; the game runs on defaults.
    dktest::writeFile(path("save/settings.xml"), "<settings volume=");
    auto third = run("GetInterfaceOrientation\n");
    ASSERT_EQ(third.status, 0) << third.err;
    EXPECT_EQ(third.out, "Asset manager constructor\nloadingWillStart\nloadingWillEnd\n3\n");
    EXPECT_NE(settings().find("orientation=\"3\" launches=\"3\""), std::string::npos);
    EXPECT_FALSE(dktest::exists(path("save/settings.xml.new")));
}

TEST_F(Cli, SampleGameKeepsItsBestScoresInATable) {
    // A run's score is the number of frames it played; the five best are kept, highest first.
    auto run = [&](int frames) {
        auto r = cli({"--save", path("save"), "--frames", std::to_string(frames), kSample + "/engine32.luo",
                      kSample + "/Sample.gameproj"});
        EXPECT_EQ(r.status, 0) << r.err;
    };
    auto column = [&] {
        std::string text = dktest::readFile(path("save/scores.xml"));
        size_t start = text.find("<column ");
        start = text.find('>', start) + 1;
        return text.substr(start, text.find("</column>") - start);
    };
    for (int frames : {3, 7, 5, 9, 1, 4}) run(frames);
    EXPECT_EQ(column(), "9,7,5,4,3");
    // A damaged table is replaced by one holding the new run only.
    dktest::writeFile(path("save/scores.xml"), "<table numRows=");
    run(2);
    EXPECT_EQ(column(), "2");
}

}  // namespace
