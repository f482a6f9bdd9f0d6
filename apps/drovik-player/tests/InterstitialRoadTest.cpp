// Interstitials and the more-games unit, driven from the script through the bridge: the probe game
// (player/tests/data/Probe.app) under an Info.plist naming the providers, the content-ads and ad
// network stand-ins played by the input script when their Library/LocalServices files are there,
// on the virtual clock. Each case's standard error (the script's calls, the player's messages and
// the trace) is compared with data/road/ads-<case>.txt; every case ends with the pause count where
// it began.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/image/ImageCodec.h"
#include "platform/web/tests/WebProcesses.h"
#include "platform/web/tests/WebTestPages.h"
#include "tests/support/RecordingServer.h"
#include "tests/support/TestSupport.h"

namespace {

namespace fs = std::filesystem;

const std::string kPlayer = DK_BINARY_DIR "/apps/drovik-player/drovik-player";
const std::string kData = DK_TEST_DATA_DIR;
const std::string kEmptyService = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict/></plist>
)";

std::string entry(const std::string& key, const std::string& value) {
    return "<key>" + key + "</key><string>" + value + "</string>";
}
const std::string kKioskKeys = entry("DKGameKS_Token", "tok") + entry("DKGameKS_Secret", "sec");

struct AdsCase {
    const char* name;
    std::string entries;                // Info.plist entries
    std::vector<std::string> services;  // Library/LocalServices files present
    const char* project;
    const char* input;
    std::vector<std::string> options = {};
    std::string orientations = "<string>UIInterfaceOrientationPortrait</string>";  // the Info.plist's
};

const AdsCase kCases[] = {
    // A disabled content-ads provider (no secret): neither the interstitial nor the more-games
    // unit pauses or sends anything.
    {"disabled",
     entry("InterstitialProvider", "kiosk") + entry("MoregamesProvider", "kiosk") + entry("DKGameKS_Token", "tok"),
     {"contentads"},
     R"(
steps = {
  function() probe('InterstitialAdDisplay', true) probe('InterstitialAdDisplay', false)
             probe('KioskShowMoreGames') end,
})",
     "7 memory.warning\n+0.1 app.quit\n"},
    // No interstitial provider; more games through another provider: nothing.
    {"none",
     kKioskKeys + entry("InterstitialProvider", "iad") + entry("MoregamesProvider", "drovikNetwork"),
     {"contentads"},
     R"(
steps = {
  function() probe('InterstitialAdDisplay', true) probe('KioskShowMoreGames') end,
})",
     "7 memory.warning\n+0.1 app.quit\n"},
    // Content ads: nothing pending to display at first; false does nothing; "game_launch" with its
    // overlay at once, opaque black (the dump), a second request while it is up ignored, displayed, dismissed (play, then the event);
    // a failure (its message, "adFailedToLoad", play, the event); the more-games unit the same way
    // on "more_games", shown and failed.
    {"kiosk",
     kKioskKeys + entry("InterstitialProvider", "kiosk") + entry("MoregamesProvider", "kiosk"),
     {"contentads"},
     R"(
steps = {
  function() probe('InterstitialAdDisplay', false) probe('InterstitialAdDisplay', true)
             probe('InterstitialAdDisplay', true) end,
  function() probe('InterstitialAdDisplay', true) end,
  function() probe('KioskShowMoreGames') probe('KioskShowMoreGames') end,
  function() probe('KioskShowMoreGames') end,
})",
     R"(7 content.display
+0 memory.warning
+0.1 dump.views views.jsonl
+0.1 content.display
+0.1 content.dismiss
+0.1 content.dismiss
+0.1 memory.warning
+0.1 content.fail "no fill"
+0.1 memory.warning
+0.1 content.display
+0.1 content.dismiss
+0.1 memory.warning
+0.1 content.fail "gone"
+0.1 app.quit
)"},
    // Content ads without the stand-in's file: the request fails on the next turn.
    {"kiosk-unserved",
     kKioskKeys + entry("InterstitialProvider", "kiosk"),
     {},
     "steps = { function() probe('InterstitialAdDisplay', true) end }",
     "7 memory.warning\n+0.1 app.quit\n"},
    // An interstitial asked for while the game loads and still up when the start-up screen goes:
    // the game starts only once it has been dismissed.
    {"kiosk-at-load",
     kKioskKeys + entry("InterstitialProvider", "kiosk"),
     {"contentads"},
     R"(
function devices:setScreenSize(width, height)
  log('setScreenSize', width, height)
  probe('InterstitialAdDisplay', true)
end
steps = {}
)",
     "6 content.display\n+0.5 content.dismiss\n+0.1 app.quit\n"},
    // The ad network, prefetched: a request before the first reachability notification (while the
    // game loads) fails inside the call, and the game still waits for its start; the ad loads at 6; a request puts the wrapper up, 1.0 s later the ad shows,
    // closing it fades the game back in and requests the next; that one has not loaded, and with
    // no time-out set the request fails 1.0 s after the wrapper came up, taken away without the fade.
    {"orbad",
     entry("InterstitialProvider", "orbad"),
     {"adnetwork"},
     R"(
function devices:setScreenSize(width, height)
  log('setScreenSize', width, height)
  probe('InterstitialAdDisplay', true)
end
steps = {
  function() probe('InterstitialAdDisplay', true) probe('InterstitialAdDisplay', true) end,
  function() probe('InterstitialAdDisplay', true) end,
})",
     R"(6 fullscreen.load
7 memory.warning
+0.5 fullscreen.close
+0.6 fullscreen.close
+0.1 memory.warning
+1.5 app.quit
)",
     {"--net", "wifi"}},
    // "DKFullscreenAdTimeout" 3: with no ad the failure comes at +4.0 s; then a load at +2.5 s
    // shows the ad at once and the time-out never fires.
    {"orbad-timeout",
     entry("InterstitialProvider", "orbad") + entry("DKFullscreenAdTimeout", "3"),
     {"adnetwork"},
     R"(
steps = {
  function() probe('InterstitialAdDisplay', true) end,
  function() probe('InterstitialAdDisplay', true) end,
})",
     R"(6 fullscreen.fail "no fill"
7 memory.warning
+4.5 memory.warning
+2.5 fullscreen.load
+1 fullscreen.close
+5 app.quit
)",
     {"--net", "wifi"}},
    // Not reachable, and a tablet: failures inside the call, no wrapper.
    {"orbad-unreachable", entry("InterstitialProvider", "orbad"), {"adnetwork"},
     "steps = { function() probe('InterstitialAdDisplay', true) end }", "7 memory.warning\n+0.1 app.quit\n",
     {"--net", "none"}},
    {"orbad-tablet", entry("InterstitialProvider", "orbad"), {"adnetwork"},
     "steps = { function() probe('InterstitialAdDisplay', true) end }", "7 memory.warning\n+0.1 app.quit\n",
     {"--net", "wifi", "--device", "tablet"}},
};

class InterstitialRoad : public testing::Test {
protected:
    // The probe game set up for `c` in the scratch directory: the player's command line.
    std::vector<std::string> prepare(const AdsCase& c) {
        const std::string app = m_dir.file("Probe.app");
        fs::remove_all(app);
        fs::remove_all(m_dir.file("home"));
        fs::copy(DK_SOURCE_DIR "/player/tests/data/Probe.app", app, fs::copy_options::recursive);
        dktest::writeFile(app + "/Probe.gameproj/project.lua", c.project);
        dktest::writeFile(app + "/Info.plist", R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
  <key>CFBundleIdentifier</key><string>com.test.probe</string>
  <key>UISupportedInterfaceOrientations</key><array>)" + c.orientations + R"(</array>
)" + c.entries + "</dict></plist>\n");
        fs::create_directories(m_dir.file("home/Library/LocalServices"));
        for (const std::string& service : c.services)
            dktest::writeFile(m_dir.file("home/Library/LocalServices/" + service + ".plist"), kEmptyService);
        dktest::writeFile(m_dir.file("input.txt"), c.input);
        std::vector<std::string> arguments = {kPlayer, "--headless", "--input", "input.txt", "--trace",
                                              "pause,plugin,input,svc,ui"};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        arguments.push_back(app);
        return arguments;
    }

    dktest::ProcessResult run(const AdsCase& c) {
        dktest::ProcessResult r = dktest::runProcess(prepare(c), {"DROVIK_HOME=" + m_dir.file("home")}, m_dir.path());
        for (size_t at = r.err.find(m_dir.path()); at != std::string::npos; at = r.err.find(m_dir.path(), at))
            r.err.replace(at, m_dir.path().size(), "$DIR");
        m_clientLog = r.err;
        r.err = dktest::withoutKioskLog(r.err);
        return r;
    }

    // data/road/ads-<name>.txt; DK_UPDATE_EXPECTED=1 writes it from `actual` (review the change).
    static std::string expected(const std::string& name, const std::string& actual) {
        const std::string path = kData + "/road/ads-" + name + ".txt";
        if (dktest::updatingExpected()) dktest::writeFile(path, actual);
        return dktest::readFile(path);
    }

    dktest::TempDir m_dir;
    std::string m_clientLog;  // the last run's standard error with the content client's lines
};

TEST_F(InterstitialRoad, ProbeGameRuns) {
    for (const AdsCase& c : kCases) {
        SCOPED_TRACE(c.name);
        const dktest::ProcessResult r = run(c);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, expected(c.name, r.err));
        // Every pause taken was given back: the last count traced is the one the road began with.
        const size_t last = r.err.rfind(" count=");
        ASSERT_NE(last, std::string::npos);
        EXPECT_EQ(r.err.substr(last, 9), " count=1\n") << "the quit's system pause over a game that plays";
        if (std::string(c.name) == "kiosk") {
            // The overlay over the game while the unit shows, opaque black.
            const std::string views = dktest::readFile(m_dir.file("views.jsonl"));
            EXPECT_NE(views.find(R"("class":"UIView","controller":null,"frame":[0,0,320,480],"hidden":false,"alpha":1,"interaction":true,"bg":[0,0,0,1])"), std::string::npos) << views;
        }
    }
}

}  // namespace

namespace {

// Headless: every activation (launch, return from the background, return after a resign) sends a
// signed open request when both keys are present; none is sent with only the token.
TEST_F(InterstitialRoad, EachActivationSendsTheOpenRequest) {
    for (const bool bothKeys : {true, false}) {
        SCOPED_TRACE(bothKeys);
        dktest::TempDir server;
        dktest::RecordingServer api(server.file("out"), R"({"secret": "sec", "default": {"body": "{}"}})", 60,
                                    DK_SOURCE_DIR "/tests/servers/kiosk_api_server.py");
        ASSERT_TRUE(api.running());
        const AdsCase c{"activations", bothKeys ? kKioskKeys : entry("DKGameKS_Token", "tok"), {}, "steps = {}",
                        "6 app.background\n+1 app.foreground\n+1 app.resign\n+1 app.active\n+1 app.quit\n"};
        dktest::writeFile(server.file("servers.plist"), R"(<plist version="1.0"><dict><key>kiosk.api</key><string>)" +
                                                            api.url() + "</string></dict></plist>");
        setenv("DROVIK_SERVERS", server.file("servers.plist").c_str(), 1);
        const dktest::ProcessResult r = run(c);
        unsetenv("DROVIK_SERVERS");
        EXPECT_EQ(r.status, 0) << r.err;
        api.stop();
        const std::string checks = dktest::exists(server.file("out/checks.jsonl")) ? dktest::readFile(server.file("out/checks.jsonl")) : "";
        std::size_t opens = 0, signed_ = 0;
        for (std::size_t at = 0; (at = checks.find("\"path\": \"/v3/publisher/open/\"", at)) != std::string::npos; ++at) ++opens;
        for (std::size_t at = 0; (at = checks.find("\"signature\": \"ok\"", at)) != std::string::npos; ++at) ++signed_;
        EXPECT_EQ(opens, bothKeys ? 3u : 0u);
        EXPECT_EQ(signed_, opens);
    }
}

}  // namespace

namespace {

// `text` as a JSON string literal (the ads below hold no control characters).
std::string jsonString(const std::string& text) {
    std::string quoted = "\"";
    for (const char c : text) quoted += c == '"' || c == '\\' ? std::string("\\") + c : std::string(1, c);
    return quoted + "\"";
}

// The content API's answers (for kiosk_api_server.py): `unit` (the unit's JSON, "$HOST" standing
// for the server) for the content the game asks for, `page` as its /unit.html.
std::string contentApiAnswers(const std::string& unit, const std::string& page) {
    return R"({"secret": "sec", "paths": {"/v3/publisher/content/": {"body": )" + jsonString(R"({"response":)" + unit + "}") +
           R"(}, "/unit.html": {"headers": [["Content-Type", "text/html"]], "body": )" + jsonString(page) +
           R"(}}, "default": {"body": "{}"}})";
}

// A whole-screen picture of one colour, as a recording server's answer.
std::string pictureAnswer(int width, int height, const uint8_t (&rgb)[3]) {
    std::vector<uint8_t> pixels;
    for (int i = 0; i < width * height; ++i) pixels.insert(pixels.end(), rgb, rgb + 3);
    std::vector<uint8_t> png;
    std::string error;
    EXPECT_TRUE(plat::image::encodePNG(width, height, pixels.data(), pixels.size(), 3, &png, &error))
        << error;
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (const uint8_t byte : png) hex += {kDigits[byte >> 4], kDigits[byte & 15]};
    return R"({"default": {"headers": [["Content-Type", "image/png"]], "body_hex": ")" + hex + R"("}})";
}

// The player's own ad client behind the interstitial (no adnetwork.plist; "DKOrbadId" starts the
// client at activation), its servers named through DROVIK_SERVERS: the game asks twice; each ad is
// prefetched from the ad server with "s=fullscreen", comes up over the game 1.0 s after the
// request, and the user closes it (Done under an HTML page, the close widget over a picture),
// which gives the game back with the provider's events in order and prefetches the next.
TEST_F(InterstitialRoad, NetworkAdsFromTheServer) {
    struct Probe {
        double x, y;  // points
        uint8_t rgb[3];
    };
    struct NetworkCase {
        const char* name;
        std::string ad;                  // "@PICTURES@" stands for the picture server
        const char* close;               // where the user taps to close it
        std::vector<std::string> shown;  // in the views while each ad is up
        std::vector<Probe> probes;       // on the screen while the first is up
    };
    static const uint8_t kRed[3] = {200, 30, 30};
    const NetworkCase cases[] = {
        // A page without the widget-style tag: the toolbar under the page, the page above it
        // (for the second ad too), the close widget faded out.
        {"network-html",
         R"({"creative": {"id": "h1", "type": "html", "props": {"html": "<p>ad</p>"}}})",
         "288 458",
         {R"("class":"OrbadAdViewInternal","controller":null,"frame":[0,0,320,436])",
          R"("class":"OrbadFullScreenWebAdView","controller":null,"frame":[0,0,320,436],"hidden":false)",
          R"("class":"UIToolbar","controller":null,"frame":[0,436,320,44],"hidden":false)",
          R"("frame":[262,436,52,44],"hidden":false,"alpha":1,"interaction":true,"bg":null,"image":null,"text":"Done")",
          R"("class":"OrbadCloseWidgetButton","controller":null,"frame":[2,2,30,30],"hidden":false,"alpha":0,)"},
         {{160, 200, {255, 255, 255}}, {160, 470, {31, 31, 36}}}},
        // A picture: the whole screen, the close widget over it, no toolbar.
        {"network-image",
         R"({"creative": {"id": "b1", "type": "banner", "props": {"images": ["@PICTURES@/ad.png"]}}})",
         "16 16",
         {R"("class":"OrbadAdViewInternal","controller":null,"frame":[0,0,320,480])",
          R"("frame":[0,0,320,480],"hidden":false,"alpha":1,"interaction":false,"bg":null,"image":"ad.png")",
          R"("class":"OrbadCloseWidgetButton","controller":null,"frame":[2,2,30,30],"hidden":false,"alpha":1,)",
          R"("class":"UIToolbar","controller":null,"frame":[0,436,320,44],"hidden":true)"},
         {{160, 240, {kRed[0], kRed[1], kRed[2]}}, {160, 470, {kRed[0], kRed[1], kRed[2]}}}},
    };
    for (const NetworkCase& n : cases) {
        SCOPED_TRACE(n.name);
        dktest::TempDir servers;
        const std::string units = R"({"ad_units": [{"size": "fullscreen", "enabled": true}]})";
        dktest::RecordingServer data(servers.file("data"),
                                     R"({"default": {"body": )" + jsonString(units) + "}}");
        dktest::RecordingServer pictures(servers.file("pictures"), pictureAnswer(320, 480, kRed));
        std::string ad = n.ad;
        if (const size_t at = ad.find("@PICTURES@"); at != std::string::npos)
            ad.replace(at, 10, pictures.url());
        dktest::RecordingServer ads(servers.file("ads"), R"({"default": {"body": )" + jsonString(ad) + "}}");
        ASSERT_TRUE(data.running() && pictures.running() && ads.running());
        dktest::writeFile(servers.file("servers.plist"),
                          R"(<plist version="1.0"><dict><key>orbad.data</key><string>)" + data.url() +
                              "</string><key>orbad.ads</key><string>" + ads.url() +
                              "</string></dict></plist>");
        const std::string close = std::string("+0 tap ") + n.close + "\n";
        const std::string input = "7 memory.warning\n+2 dump.views shown1.jsonl\n+0 screenshot shown.png\n" +
                                  close + "+1 memory.warning\n+2 dump.views shown2.jsonl\n" + close +
                                  "+1 dump.views closed.jsonl\n+0.1 app.quit\n";
        const AdsCase c{n.name,
                        entry("InterstitialProvider", "orbad") + entry("DKOrbadId", "APP123"),
                        {},
                        R"(
steps = {
  function() probe('InterstitialAdDisplay', true) end,
  function() probe('InterstitialAdDisplay', true) end,
})",
                        input.c_str(),
                        {"--net", "wifi", "--web", "fake"}};
        setenv("DROVIK_SERVERS", servers.file("servers.plist").c_str(), 1);
        const dktest::ProcessResult r = run(c);
        unsetenv("DROVIK_SERVERS");
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, expected(n.name, r.err));

        // The provider's events in order, for each ad: shown, then closed, the game back, its event.
        const char* const road[] = {"svc orbad fullscreen display yes",
                                    "ui present OrbadFullScreenAdViewController",
                                    "svc metrics tagEvent adShownFullscreen p=orbad",
                                    "input tap",
                                    "plugin wrapper dismiss fade",
                                    "plugin play fullscreenadmanager",
                                    "plugin event interstitialAdDismiss"};
        size_t at = 0;
        for (int shown = 0; shown < 2; ++shown)
            for (const char* step : road) {
                at = r.err.find(step, at);
                ASSERT_NE(at, std::string::npos) << "ad " << shown + 1 << ": " << step;
            }

        // Prefetched at the game's load and after each close, each asking for the full-screen unit.
        ads.stop();
        const std::vector<std::string> requests = ads.requestLines();
        EXPECT_EQ(requests.size(), 3u);
        for (const std::string& request : requests)
            EXPECT_NE(request.find("&s=fullscreen&"), std::string::npos) << request;

        for (const char* dump : {"shown1.jsonl", "shown2.jsonl"}) {
            const std::string views = dktest::readFile(m_dir.file(dump));
            for (const std::string& view : n.shown)
                EXPECT_NE(views.find(view), std::string::npos) << dump << ": " << view;
        }
        EXPECT_EQ(dktest::readFile(m_dir.file("closed.jsonl")).find("OrbadFullScreenAdViewController"),
                  std::string::npos);
        int width = 0, height = 0;
        std::vector<uint8_t> rgba;
        std::string error;
        ASSERT_TRUE(plat::image::readPNG(m_dir.file("shown.png"), &width, &height, &rgba, &error)) << error;
        for (const Probe& probe : n.probes) {
            const uint8_t* p =
                &rgba[(static_cast<size_t>(probe.y * 2) * width + static_cast<size_t>(probe.x * 2)) * 4];
            for (int k = 0; k < 3; ++k) EXPECT_NEAR(p[k], probe.rgb[k], 2) << probe.x << "," << probe.y;
        }
    }
}

}  // namespace

namespace {

// The content-ads client's own unit over a game in landscape, as a person sees and presses it: the
// template has a button of its own colour in each corner; once it has drawn (at each size it is
// given) it says so, and each click it hears, through "ks://closeButton" calls that also hide the
// native button (the client logs each call it dispatches, and the script awaits those lines). The
// mended fault: the unit turned itself for the device inside a window that had turned already,
// drawn a quarter sideways in the left 320 columns, the taps at the screen's corners missing.
TEST_F(InterstitialRoad, AContentUnitInLandscapeIsUprightAndEachCornerIsPressed) {
    const std::string page =
        "<html><head><style>body{margin:0;background:#fff} b{position:fixed;width:20px;height:20px}</style></head>"
        "<body><b id=tl style='left:0;top:0;background:#f00'></b><b id=tr style='right:0;top:0;background:#0f0'></b>"
        "<b id=bl style='left:0;bottom:0;background:#ff0'></b><b id=br style='right:0;bottom:0;background:#0ff'></b>"
        "<script>function say(what) { var f = document.createElement('iframe'); f.style.display = 'none';"
        " f.src = 'ks://closeButton?callback=' + what + '&context=' + encodeURIComponent('{\"hidden\":true}');"
        " document.body.appendChild(f); }"
        "function drawn() { requestAnimationFrame(function () { requestAnimationFrame(function () {"
        " say('drawn-' + innerWidth + 'x' + innerHeight); }); }); }"
        "window.onload = drawn; window.onresize = drawn;"
        "document.addEventListener('click', function (e) {"
        " say('click-' + (e.target.id || 'page') + '-' + e.clientX + ',' + e.clientY); });</script></body></html>";
    const std::string landscapes =
        "<string>UIInterfaceOrientationLandscapeRight</string><string>UIInterfaceOrientationLandscapeLeft</string>";
    const struct {
        const char* name;
        std::string unit;          // the API's answer
        std::string orientations;  // the bundle's
        const char* orientation;   // the device's at launch
        const char* turn;          // the script's lines once the unit has drawn, before the picture
        double x, y, w, h;         // where the page lies on the screen, interface points
    } cases[] = {
        {"full screen in landscape", R"({"url":"http://$HOST/unit.html","transition":"KS_MODAL","frame":"KS_FULLSCREEN"})",
         landscapes, "3", "", 0, 0, 480, 320},
        // Of one size in both orientations, so that the page drawn before the turn is what shows
        // after it, wherever the turn puts it (the turn runs its course on the clock).
        {"dialog turned to landscape",
         R"({"url":"http://$HOST/unit.html","transition":"KS_DIALOG","frame":{"KS_PORTRAIT":{"x":20,"y":40,"w":250,)"
         R"("h":120},"KS_LANDSCAPE":{"x":70,"y":20,"w":250,"h":120}}})",
         "<string>UIInterfaceOrientationPortrait</string>" + landscapes, "1",
         "+0 rotate 4\n", 70, 20, 250, 120},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        dktest::TempDir servers;
        dktest::RecordingServer api(servers.file("api"), contentApiAnswers(c.unit, page), 120,
                                    DK_SOURCE_DIR "/tests/servers/kiosk_api_server.py");
        ASSERT_TRUE(api.running());
        dktest::writeFile(servers.file("servers.plist"), R"(<plist version="1.0"><dict><key>kiosk.api</key><string>)" +
                                                             api.url() + "</string></dict></plist>");
        auto num = [](double v) { return std::to_string(static_cast<int>(v)); };  // whole points here
        const std::string size = num(c.w) + "x" + num(c.h);
        auto at = [&](double px, double py) { return num(c.x + px) + " " + num(c.y + py); };
        const std::string input = std::string("7 memory.warning\n") + "+0 await callback: drawn-" + size +
                                  " to dispatch\n" + c.turn + "+0.5 screenshot shown.png\n+0 tap " + at(10, 10) + "\n+0.1 tap " +
                                  at(c.w - 10, 10) + "\n+0.1 tap " + at(10, c.h - 10) + "\n+0.1 tap " +
                                  at(c.w - 10, c.h - 10) + "\n+0 await callback: click-br-\n+0.1 app.quit\n";
        const AdsCase run{c.name,
                          kKioskKeys + entry("InterstitialProvider", "kiosk"),
                          {},
                          "steps = { function() probe('InterstitialAdDisplay', true) end }",
                          input.c_str(),
                          {"--web", "wpe", "--device-orientation", c.orientation},
                          c.orientations};
        setenv("DROVIK_SERVERS", servers.file("servers.plist").c_str(), 1);
        const dktest::ProcessResult r = this->run(run);
        unsetenv("DROVIK_SERVERS");
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err.find("timed out"), std::string::npos) << r.err;

        // Each corner's colour in that corner of the screen.
        int width = 0, height = 0;
        std::vector<uint8_t> rgba;
        std::string error;
        ASSERT_TRUE(plat::image::readPNG(m_dir.file("shown.png"), &width, &height, &rgba, &error)) << error;
        ASSERT_EQ(width * 2, height * 3) << "a landscape screen";
        const double scale = width / 480.0;
        const struct {
            double x, y;
            uint8_t rgb[3];
        } corners[] = {{10, 10, {255, 0, 0}}, {c.w - 10, 10, {0, 255, 0}}, {10, c.h - 10, {255, 255, 0}},
                       {c.w - 10, c.h - 10, {0, 255, 255}}};
        for (const auto& corner : corners) {
            const uint8_t* p = &rgba[(static_cast<size_t>((c.y + corner.y) * scale) * width +
                                      static_cast<size_t>((c.x + corner.x) * scale)) * 4];
            EXPECT_EQ((std::vector<int>{p[0], p[1], p[2]}),
                      (std::vector<int>{corner.rgb[0], corner.rgb[1], corner.rgb[2]}))
                << "at " << corner.x << "," << corner.y << " of the page";
        }
        // Each tap pressed the button under it, in turn.
        size_t from = 0;
        for (const std::string& click : {std::string("tl-10,10"), "tr-" + num(c.w - 10) + ",10",
                                         "bl-10," + num(c.h - 10), "br-" + num(c.w - 10) + "," + num(c.h - 10)}) {
            from = m_clientLog.find("callback: click-" + click + " to dispatch", from);
            ASSERT_NE(from, std::string::npos) << "click-" << click << " in\n" << m_clientLog;
        }
    }
}

}  // namespace

namespace {

// However the player ends at once with a content unit shown whose page never yields (a second quit
// signal; a script call on the way out that never returns, ended a few seconds after the run's
// end), no process of the page engine outlives it: no exit handler runs there, and the stuck page
// would never read that we have gone. The game's update is not called while the unit is up: the
// call that hangs is the resign's event.
TEST_F(InterstitialRoad, NoWebProcessOutlivesAnEndAtOnce) {
    const struct {
        const char* name;
        std::vector<int> signals;  // sent once the page loops (two kinds: like ones may merge)
        std::string game;          // added to the game's project
        std::string said;          // the player's line for the road it ends by
        bool killed;               // by the signal read second; else status 1
    } cases[] = {
        {"a second signal", {SIGTERM, SIGINT}, "", "drovik-player: a second SIG", true},
        {"a call that never returns", {SIGTERM},
         "hooks.raiseExternalEvent = function(name) while name == 'AppHibernateStart' do end end",
         "the game's raiseExternalEvent did not return within 3 s", false},
    };
    const std::string unit = R"({"url":"http://$HOST/unit.html","transition":"KS_MODAL","frame":"KS_FULLSCREEN"})";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        dktest::TempDir servers;
        dktest::RecordingServer api(servers.file("api"),
                                    contentApiAnswers(unit, dktest::neverYieldingPage("while (true) {}")), 120,
                                    DK_SOURCE_DIR "/tests/servers/kiosk_api_server.py");
        ASSERT_TRUE(api.running());
        dktest::writeFile(servers.file("servers.plist"), R"(<plist version="1.0"><dict><key>kiosk.api</key><string>)" +
                                                             api.url() + "</string></dict></plist>");
        const std::string project = "steps = { function() probe('InterstitialAdDisplay', true) end }\n" + c.game;
        // The run keeps to real time awaiting a line that never comes, until the signals.
        const AdsCase run{c.name,
                          kKioskKeys + entry("InterstitialProvider", "kiosk"),
                          {},
                          project.c_str(),
                          "7 memory.warning\n+0 await what never comes\n",
                          {"--web", "wpe", "--duration", "600"}};
        std::vector<pid_t> pages, outlived;
        bool zombie = false, timedOut = false;
        const dktest::ProcessResult r = dktest::runProcessActing(
            prepare(run), {"DROVIK_HOME=" + m_dir.file("home"), "DROVIK_SERVERS=" + servers.file("servers.plist")},
            m_dir.path(),
            [&] {
                const std::vector<std::string> lines = api.requestLines();
                return std::any_of(lines.begin(), lines.end(),
                                   [](const std::string& line) { return line.find("/looping") != std::string::npos; });
            },
            [&](int pid) {
                pages = dktest::webProcessesOf(pid);
                for (int signal : c.signals) kill(pid, signal);
                // Looked at once the player has ended, before it is reaped.
                zombie = dktest::waitUntil([&] { return dktest::processState(pid) == 'Z'; }, 60);
                for (pid_t page : pages)
                    if (!dktest::processEnded(page)) outlived.push_back(page);
            },
            120, &timedOut);
        for (pid_t page : outlived) kill(page, SIGKILL);
        ASSERT_FALSE(timedOut) << r.err;
        ASSERT_FALSE(pages.empty()) << r.err;
        EXPECT_TRUE(zombie);
        EXPECT_EQ(outlived, std::vector<pid_t>{});
        EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
        if (c.killed)
            EXPECT_TRUE(r.status == 128 + SIGTERM || r.status == 128 + SIGINT) << r.status;
        else
            EXPECT_EQ(r.status, 1);
    }
}

}  // namespace
