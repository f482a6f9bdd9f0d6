// dk-orbad-cli as a whole program: its frame and its commands, line for line.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <regex>
#include <sstream>

#include "platform/image/ImageCodec.h"
#include "platform/media/tests/MediaTestSupport.h"
#include "tests/support/RecordingServer.h"
#include "tests/support/TestSupport.h"

namespace {

const std::string kCli = DK_BINARY_DIR "/apps/dk-orbad-cli/dk-orbad-cli";

TEST(OrbadCli, CommandFileGivesItsExpectedLines) {
    dktest::TempDir work;
    for (const auto& entry : std::filesystem::directory_iterator(DK_TEST_DATA_DIR))
        std::filesystem::copy(entry.path(), work.path() + "/" + entry.path().filename().string());
    dktest::ProcessResult result =
        dktest::runProcess({kCli, "--home", work.path() + "/home", "--start-time", "1700000000", "--web",
                            "fake", "--net", "none", "--pasteboards", work.path() + "/pb", "--endpoint",
                            "ads=http://127.0.0.1:9", "--commands", "frame.commands"},
                           {}, work.path());
    EXPECT_EQ(result.out, dktest::readFile(DK_TEST_DATA_DIR "/frame.out"));
    EXPECT_EQ(result.status, 2);  // the refused lines
    EXPECT_EQ(result.err, "");
    int width = 0, height = 0;
    std::vector<uint8_t> rgba;
    std::string error;
    ASSERT_TRUE(plat::image::readPNG(work.path() + "/close.png", &width, &height, &rgba, &error)) << error;
    EXPECT_EQ(width, 60);
    EXPECT_EQ(rgba[(30 * 60 + 30) * 4 + 3], 255) << "the disc is opaque";
    EXPECT_EQ(rgba[3], 0) << "the corner is clear";
}

std::string withAddresses(std::string text, const std::string& url, const std::string& slow) {
    text = std::regex_replace(text, std::regex("@URL@"), url);
    return std::regex_replace(text, std::regex("@SLOW@"), slow);
}

// The tool with the test bundle ("PlayerTest") and device facts at a fixed start, then `options`,
// running the command file `commands` of the test data in `work`.
dktest::ProcessResult runClient(const dktest::TempDir& work, std::vector<std::string> options,
                                const std::string& commands, std::vector<std::string> env = {}) {
    const std::string data = DK_TEST_DATA_DIR;
    std::vector<std::string> argv = {kCli, "--home", work.file("home"), "--bundle", data + "/PlayerTest.app",
                                     "--device-facts", data + "/facts.plist", "--start-time", "1700000000"};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.insert(argv.end(), {"--commands", data + "/" + commands});
    return dktest::runProcess(argv, env, work.path());
}

TEST(OrbadCli, RequestsReachabilityAndEvents) {
    dktest::TempDir work;
    dktest::RecordingServer server(work.file("server"), R"({"requests": {
        "1": {"delay": 0.3, "body": "one"},
        "2": {"silent": true},
        "3": {"body_hex": "636166e9", "headers": [["Content-Type", "text/plain; charset=iso-8859-1"]]},
        "4": {"body": "posted"},
        "5": {"status": "HTTP/1.1 404 Not Found", "body": "gone"}}})");
    dktest::RecordingServer slow(work.file("slow"), R"({"default": {"delay": 30}})");
    for (const char* name : {"http.commands", "events.json"})
        dktest::writeFile(work.file(name),
                          withAddresses(dktest::readFile(std::string(DK_TEST_DATA_DIR "/") + name),
                                        server.url(), slow.url()));
    dktest::ProcessResult result =
        dktest::runProcess({kCli, "--home", work.file("home"), "--start-time", "1700000000", "--net", "wifi",
                            "--commands", "http.commands"},
                           {}, work.path());
    EXPECT_EQ(result.out,
              withAddresses(dktest::readFile(DK_TEST_DATA_DIR "/http.out"), server.url(), slow.url()));
    EXPECT_EQ(result.status, 2);  // the two refused lines
    EXPECT_EQ(result.err, "");

    server.stop();
    std::vector<std::string> paths;
    const std::regex requestLine(R"("request_line": "([A-Z]+ [^ ]+))");
    for (const std::string& line : server.requestLines()) {
        std::smatch m;
        if (std::regex_search(line, m, requestLine)) paths.push_back(m[1]);
    }
    std::sort(paths.begin() + std::min<std::size_t>(paths.size(), 5), paths.end());  // the pings race
    EXPECT_EQ(paths, (std::vector<std::string>{"GET /a", "GET /idle", "GET /latin", "POST /form",
                                               "POST /empty", "GET /e1", "GET /e2"}));
}

// The client's start, its configuration against the server, the environment and the session
// through the lifecycle, with the test bundle and device; what it keeps is the user's alone,
// however permissive the umask.
TEST(OrbadCli, StartConfigurationEnvironmentAndSession) {
    dktest::TempDir work;
    const dktest::ScopedUmask permissive(0);
    dktest::RecordingServer server(work.file("server"), R"({"requests": {
        "1": {"body": "{\"debug_config\": {\"loglevel\": 2, \"impression\": 5}, \"native_urls\": [\"maps.example\", \"mailto:\"], \"user_agent\": \"theirs\"}"},
        "2": {"status": "HTTP/1.1 500 Oops"}}})");
    const std::string data = DK_TEST_DATA_DIR;
    // The fake page engine's user agent is the same on every machine.
    dktest::ProcessResult result = runClient(
        work, {"--pasteboards", work.file("pb"), "--endpoint", "orbad=" + server.url(), "--web", "fake"}, "start.commands");
    EXPECT_EQ(result.out, withAddresses(dktest::readFile(data + "/start.out"), server.url(), ""));
    EXPECT_EQ(result.status, 2);  // the refused lines
    EXPECT_EQ(result.err, "");

    server.stop();
    std::vector<std::string> lines = server.requestLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("&fb=id%20with%20spaces&dm=iPhone4_1&"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("&st=0.000000&it=0.000000&new=true& HTTP/1.1"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("&off=0&st=119.100000&it=119.000000& HTTP/1.1"), std::string::npos) << lines[1];

    for (const char* kept :
         {"Library/Caches/PlayerTest/OrbadConfig-APP123.plist",
          "Library/Application Support/PlayerTest/OrbadSDK/OrbadSessionTracking-APP123.plist",
          "Library/Preferences/com.test.player.plist", "Library/AdSupport/advertisingIdentifier"})
        EXPECT_TRUE(dktest::exists(work.file("home/") + kept)) << kept;
    EXPECT_EQ(dktest::unexpectedModes(work.file("home"), 0600, 0700), std::vector<std::string>{});
    EXPECT_EQ(dktest::unexpectedModes(work.file("pb"), 0600, 0700), std::vector<std::string>{});
}

// A picture of the tool's screenshot: its size and the colour at a point.
struct Picture {
    int width = 0, height = 0;
    std::vector<uint8_t> rgba;
    explicit Picture(const std::string& path) {
        std::string error;
        EXPECT_TRUE(plat::image::readPNG(path, &width, &height, &rgba, &error)) << error;
    }
    std::vector<int> at(int x, int y) const {
        const uint8_t* p = &rgba[(static_cast<size_t>(y) * width + x) * 4];
        return {p[0], p[1], p[2], p[3]};
    }
};

std::string png(int width, int height, std::vector<uint8_t> colour) {
    std::vector<uint8_t> pixels, file;
    for (int i = 0; i < width * height; ++i) pixels.insert(pixels.end(), colour.begin(), colour.end());
    std::string error, hex;
    EXPECT_TRUE(plat::image::encodePNG(width, height, pixels.data(), pixels.size(), 4, &file, &error));
    for (uint8_t byte : file) {
        char two[3];
        std::snprintf(two, sizeof two, "%02x", byte);
        hex += two;
    }
    return hex;
}

TEST(OrbadCli, ModelsCreativesTheirViewsAndScreenshots) {
    dktest::TempDir work;
    dktest::RecordingServer pictures(work.file("png"), R"({"default": {"body_hex": ")" + png(4, 2, {0, 200, 0, 255}) + R"("}})");
    // A 1 x 1 GIF, red.
    const std::string redGIF = "47494638396101000100800000ff00000000002c00000000010001000002024401003b";
    dktest::RecordingServer gif(work.file("gif"), R"({"default": {"body_hex": ")" + redGIF + R"("}})");
    auto place = [&](std::string text) {
        text = std::regex_replace(text, std::regex("@URL2@"), gif.url());
        return std::regex_replace(text, std::regex("@URL@"), pictures.url());
    };
    for (const char* name : {"creative.commands", "image-ad.json", "empty-ad.json", "text-ad.json"})
        dktest::writeFile(work.file(name), place(dktest::readFile(std::string(DK_TEST_DATA_DIR "/") + name)));
    dktest::ProcessResult result = dktest::runProcess(
        {kCli, "--home", work.file("home"), "--clock", "virtual", "--start-time", "1700000000", "--net", "wifi", "--commands",
         "creative.commands"},
        {}, work.path());
    EXPECT_EQ(result.out, place(dktest::readFile(DK_TEST_DATA_DIR "/creative.out")));
    EXPECT_EQ(result.status, 2);  // the missing file
    EXPECT_EQ(result.err, "");

    const Picture text(work.file("text.png"));
    ASSERT_EQ(text.width, 320);
    ASSERT_EQ(text.height, 50);
    EXPECT_EQ(text.at(2, 2), (std::vector<int>{0, 0, 255, 255})) << "the panel's background";
    int ink = 0;
    for (int x = 0; x < 320; ++x)
        for (int y = 9; y < 24; ++y) ink += text.at(x, y)[0] > 128;
    EXPECT_GT(ink, 50) << "the white header";
    const Picture image(work.file("image.png"));
    ASSERT_EQ(image.width, 300);
    EXPECT_EQ(image.at(150, 30), (std::vector<int>{0, 200, 0, 255})) << "the first image, fitted";
    EXPECT_EQ(image.at(2, 30)[1], 0) << "aspect fit leaves bands beside it";
}

// The client's ad units, alerts and reporters over a configuration answer with units, alerts
// and debug capture; the seeded draws repeat.
TEST(OrbadCli, UnitsAlertsAndReporters) {
    const std::string data = DK_TEST_DATA_DIR;
    std::string config;
    for (unsigned char c : dktest::readFile(data + "/client-config.json")) {
        config += "0123456789abcdef"[c >> 4];
        config += "0123456789abcdef"[c & 15];
    }
    dktest::TempDir work;
    dktest::RecordingServer server(work.file("server"),
                                   R"({"requests": {"1": {"body_hex": ")" + config +
                                       R"("}, "5": {"status": "HTTP/1.1 404 Not Found"}}})");
    dktest::ProcessResult result =
        runClient(work, {"--seed", "45", "--endpoint", "orbad=" + server.url()}, "client.commands", {"TZ=UTC"});
    EXPECT_EQ(result.out, withAddresses(dktest::readFile(data + "/client.out"), server.url(), ""));
    EXPECT_EQ(result.status, 2);  // the refused lines
    EXPECT_EQ(result.err, "");

    server.stop();
    std::vector<std::string> posts;
    const std::regex post(R"re("request_line": "POST ([^ ]+).*"body_hex": "([0-9a-f]*)")re");
    for (const std::string& line : server.requestLines()) {
        std::smatch m;
        if (!std::regex_search(line, m, post)) continue;
        const std::string hex = m[2].str();
        std::string body;
        for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
            body += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
        posts.push_back(m[1].str() + " " + body);
    }
    ASSERT_EQ(posts.size(), 5u) << "instrumentation, demographics, two comments, ratings";
    EXPECT_TRUE(posts[0].starts_with("/post/debug payload=")) << posts[0];
    EXPECT_NE(posts[0].find("&cat=load"), std::string::npos) << posts[0];
    for (const char* field : {"&t=demo&dbd=1990-05-04&dec=6&dci=K%C3%B6ln&gps=52.500000%2C13.400000"})
        EXPECT_NE(posts[1].find(field), std::string::npos) << posts[1];
    EXPECT_NE(posts[2].find("&c=Great%20game"), std::string::npos) << posts[2];
    EXPECT_NE(posts[4].find("&1=5&2=4&3=3&4=2&5=1"), std::string::npos) << posts[4];
}

// The rich-media creative's bridge through the fake page; the permission key is new every run.
TEST(OrbadCli, RichMediaBridgeOnTheFakePage) {
    dktest::TempDir work;
    for (const char* name : {"richmedia.commands", "rich-ad.json"})
        std::filesystem::copy(std::string(DK_TEST_DATA_DIR "/") + name, work.file(name));
    dktest::ProcessResult result = dktest::runProcess(
        {kCli, "--home", work.file("home"), "--clock", "virtual", "--start-time", "1700000000", "--net", "none",
         "--web", "fake", "--commands", "richmedia.commands"},
        {}, work.path());
    const std::regex key("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}");
    EXPECT_EQ(std::regex_replace(result.out, key, "@KEY@"), dktest::readFile(DK_TEST_DATA_DIR "/richmedia.out"));
    EXPECT_EQ(result.status, 2);  // the bad "web" line
}

// The lines `web` and `creative` commands give for a creative whose page holds as many frames as
// the page engine loads, `script` added to it, then `commands` (the creative first shown). The page
// makes its frames a slice at a time, answering the view between slices: made at once they hold it
// silent so long that on a loaded machine the engine takes it for stuck and ends it. Its last frame
// asks for "x-page:ready", what `web wait ready` waits on.
std::vector<std::string> framedPageAnswers(const std::string& script, const std::string& commands) {
    dktest::TempDir work;
    const std::string page =
        "<html><body><p>rich</p><script>var made = 0; (function slice() {"
        " for (var end = Math.min(made + 50, 1000); made < end; made++) {"
        " var f = document.createElement('iframe'); f.style.display = 'none';"
        " if (made == 999) f.src = 'x-page:ready'; document.body.appendChild(f); }"
        " if (made < 1000) setTimeout(slice, 0); })(); " +
        script + "</script></body></html>";
    dktest::writeFile(work.file("framed.json"),
                      R"({"creative": {"id": "r1", "type": "html", "props": {"html": ")" + page + R"("}}})");
    dktest::writeFile(work.file("rich-ad.json"), dktest::readFile(DK_TEST_DATA_DIR "/rich-ad.json"));
    dktest::writeFile(work.file("limit.commands"), "creative framed.json\nweb wait ready\n" + commands);
    const dktest::ProcessResult result = dktest::runProcess(
        {kCli, "--home", work.file("home"), "--clock", "virtual", "--start-time", "1700000000", "--net", "none",
         "--web", "wpe", "--commands", "limit.commands"},
        {}, work.path());
    EXPECT_EQ(result.status, 0) << result.out;
    std::vector<std::string> answers;
    std::stringstream lines(result.out);
    for (std::string line; std::getline(lines, line);)
        if (line.starts_with("web ") || line.starts_with("creative ")) answers.push_back(line);
    return answers;
}

const std::string kReady = "web refuse x-page:ready";
const std::string kAtFrameLimit = "web none: the page holds 1000 frames, as many as the page engine loads";

// The mended fault: on a page holding as many frames as the page engine loads, the frame `web nav`
// adds never loads, and the answer was a bare "web none" after a wait. It says why now; a page
// below the limit still has its navigation decided.
TEST(OrbadCli, WebNavOnAPageAtTheFrameLimitSaysWhyNothingCame) {
    EXPECT_EQ(framedPageAnswers("", "web nav madview://domReady\ncreative rich-ad.json\n"
                                    "web nav madview://domReady\n"),
              (std::vector<std::string>{"creative finished", kReady, kAtFrameLimit, "creative finished",
                                        "web refuse madview://domReady"}));
}

// The mended fault: the frames were counted through a synchronous evaluation, which gives up after
// a second; a page slower than that to answer (busy, or on a loaded machine) counted none and got
// the bare "web none". Here the page is busy 1.5 s on the meta element `web meta` adds.
TEST(OrbadCli, WebNavCountsTheFramesOfAPageSlowToAnswer) {
    const std::string busy = "new MutationObserver(function() { var end = Date.now() + 1500; "
                             "while (Date.now() < end); }).observe(document.head, {childList: true});";
    EXPECT_EQ(framedPageAnswers(busy, "web meta slow yes\nweb nav madview://domReady\n"),
              (std::vector<std::string>{"creative finished", kReady, kAtFrameLimit}));
}

// The media stand-ins' screens and lines through the bridge, with every service configured.
TEST(OrbadCli, RichMediaMediaCommands) {
    dktest::TempDir work;
    for (const char* name : {"media.commands", "rich-ad.json"})
        std::filesystem::copy(std::string(DK_TEST_DATA_DIR "/") + name, work.file(name));
    const std::pair<const char*, const char*> services[] = {
        {"camera", "<key>image</key><string>pic.png</string>"}, {"mail", ""}, {"sms", ""}, {"torch", ""}};
    std::filesystem::create_directories(work.file("home/Library/LocalServices"));
    for (const auto& [name, entries] : services)
        dktest::writeFile(work.file(std::string("home/Library/LocalServices/") + name + ".plist"),
                          std::string("<plist version=\"1.0\"><dict>") + entries + "</dict></plist>");
    dktest::ProcessResult result = dktest::runProcess(
        {kCli, "--home", work.file("home"), "--clock", "virtual", "--start-time", "1700000000", "--net", "none",
         "--web", "fake", "--commands", "media.commands"},
        {}, work.path());
    const std::regex key("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}");
    EXPECT_EQ(std::regex_replace(result.out, key, "@KEY@"), dktest::readFile(DK_TEST_DATA_DIR "/media.out"));
    EXPECT_EQ(result.status, 2);  // the second cancel and the bad "compose" line
}

using Query = std::map<std::string, std::string>;

// The query of each "GET /?..." the server saw, in order, percent-escapes decoded.
std::vector<Query> adRequests(const dktest::RecordingServer& server) {
    auto decode = [](const std::string& text) {
        std::string out;
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '%' && i + 2 < text.size()) {
                out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
                i += 2;
            } else {
                out += text[i];
            }
        }
        return out;
    };
    std::vector<Query> queries;
    const std::regex requestLine(R"("request_line": "GET /\?([^ ]*) )");
    for (const std::string& line : server.requestLines()) {
        std::smatch m;
        if (!std::regex_search(line, m, requestLine)) continue;
        Query query;
        std::stringstream pairs(m[1].str());
        for (std::string pair; std::getline(pairs, pair, '&');) {
            const size_t eq = pair.find('=');
            query[decode(pair.substr(0, eq))] = eq == std::string::npos ? "" : decode(pair.substr(eq + 1));
        }
        queries.push_back(std::move(query));
    }
    return queries;
}

// Banners of the started client on the tool's delegate, against a scripted ad server: what the
// delegate hears, and what each request carried.
TEST(OrbadCli, BannersOfTheStartedClient) {
    dktest::TempDir work;
    // The configuration (two units), also the answer to every other request of the client.
    const std::string units = R"({\"ad_units\": [{\"size\": \"320x50\", \"enabled\": true, )"
                              R"(\"rm_require_user\": true}, {\"size\": \"728x90\", \"enabled\": true}]})";
    dktest::RecordingServer data(work.file("data"), R"({"default": {"body": ")" + units + R"("}})");
    dktest::RecordingServer pictures(work.file("png"),
                                     R"({"default": {"body_hex": ")" + png(4, 2, {0, 200, 0, 255}) + R"("}})");
    const std::string ad = R"({\"creative\": {\"type\": \"image\", \"props\": {\"images\": [\")" +
                           pictures.url() + R"(/a.png\"]}, \"eventUrls\": {\"show\": [\")" + data.url() +
                           R"(/show\"]}}})";
    const std::string image = R"({"body": ")" + ad + R"("})", none = R"({"status": "HTTP/1.1 503 X"})";
    const std::string answers[] = {image, none, R"({"status": "HTTP/1.1 500 X"})", image, image, image, none,
                                   R"({"delay": 0.5, "body": ")" + ad + R"("})"};
    std::string script = R"({"requests": {)";
    for (size_t n = 0; n < std::size(answers); ++n)
        script += (n ? ", \"" : "\"") + std::to_string(n + 1) + "\": " + answers[n];
    dktest::RecordingServer ads(work.file("ads"), script + "}}");
    const std::string dir = DK_TEST_DATA_DIR;
    dktest::ProcessResult result = runClient(
        work, {"--net", "wifi", "--endpoint", "orbad=" + data.url(), "--endpoint", "orbad.ads=" + ads.url()},
        "banner.commands");
    EXPECT_EQ(result.out, dktest::readFile(dir + "/banner.out"));
    EXPECT_EQ(result.status, 2);  // the refused lines
    EXPECT_EQ(result.err, "");

    // Four ads shown, each pinged once.
    data.stop();
    const std::vector<std::string> seen = data.requestLines();
    EXPECT_EQ(
        std::count_if(seen.begin(), seen.end(),
                      [](const std::string& line) { return line.find("\"GET /show ") != std::string::npos; }),
        4);
    ads.stop();
    const std::vector<Query> queries = adRequests(ads);
    ASSERT_EQ(queries.size(), std::size(answers));
    std::string first;
    for (const auto& [key, value] : queries[0]) first += key + "=" + value + "\n";
    EXPECT_EQ(first, dktest::readFile(dir + "/banner-request.txt"));
    // Request n's keys that differ from the first's (absent: nullopt).
    using Keys = std::map<std::string, std::optional<std::string>>;
    const Keys expected[] = {
        {{"o", "1"},
         {"ap", "1"},
         {"rm", "0"},
         {"k", "kw"},
         {"q", "a b"},
         {"ip", "10.1.2.3"},
         {"cr", "cr7"},
         {"i", {}},
         {"adurl", {}},
         {"as", "abcdefghijklmnop"},
         {"t", "1"}},
        {{"o", "2"}, {"sh", "320"}, {"sw", "480"}, {"k", {}}, {"cr", {}}, {"i", "APP123"}},
        {{"o", "0"}, {"sh", "320"}},
        {{"o", "1"}, {"i", "APP123"}, {"adurl", {}}},
        {{"o", "2"}},
        {{"o", "3"}, {"e", "6"}, {"r", {}}, {"j", "7"}, {"g", {}}, {"db", "2"}, {"x", {}}, {"m", {}}, {"c", "12"},
         {"dc", "-1"}, {"mc", {}}, {"ci", "K\xC3\xB6ln"}, {"co", {}}, {"z", "10115"}, {"re", {}}, {"d", "19900504"}},
        {{"o", "0"}, {"s", "728x90"}, {"sh", "480"}, {"as", {}}, {"t", {}}, {"e", "6"}},
    };
    for (size_t n = 1; n < queries.size(); ++n)
        for (const auto& [key, value] : expected[n - 1]) {
            auto it = queries[n].find(key);
            EXPECT_EQ(it == queries[n].end() ? std::nullopt : std::optional<std::string>(it->second), value)
                << "request " << n + 1 << ": " << key;
        }
}

// The configured open-allocation list through the tool's delegate, then the banner's browser on the
// fake page: links, the "Open in Safari" sheet, a turn, and a native link closing it.
TEST(OrbadCli, WaterfallAndBrowser) {
    dktest::TempDir work;
    dktest::RecordingServer pings(work.file("pings"), R"({"default": {"body": ""}})");
    const std::string config = R"({\"urls\": {\"oa\": \")" + pings.url() + R"(/oa/\"}, \"ad_units\": [{)"
                               R"(\"size\": \"320x50\", \"enabled\": true, \"open_allocs\": {\"config\": )"
                               R"({\"method\": \"priority\"}, \"openadmob\": {\"priority\": 1}, )"
                               R"(\"orbad\": {\"priority\": 2}}}]})";
    dktest::RecordingServer data(work.file("data"), R"({"default": {"body": ")" + config + R"("}})");
    const std::string ad = R"({\"creative\": {\"type\": \"text\", \"props\": {\"texts\": [\"hi\"]}}})";
    dktest::RecordingServer ads(work.file("ads"), R"({"default": {"body": ")" + ad + R"("}})");
    const std::string dir = DK_TEST_DATA_DIR;
    dktest::ProcessResult result = runClient(work,
                                             {"--net", "wifi", "--web", "fake", "--endpoint", "orbad=" + data.url(),
                                              "--endpoint", "orbad.ads=" + ads.url()},
                                             "waterfall.commands");
    EXPECT_EQ(result.out, dktest::readFile(dir + "/waterfall.out"));
    EXPECT_EQ(result.status, 2);  // the refused lines
    EXPECT_EQ(result.err, "");
    pings.stop();
    std::vector<std::string> seen;
    for (const std::string& line : pings.requestLines()) {
        const size_t at = line.find("\"GET /oa/");
        if (at != std::string::npos) seen.push_back(line.substr(at + 9, line.find('?', at) - at - 9));
    }
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, (std::vector<std::string>{"oadev", "oadev", "oanoad"}));
}

// Full-screen ads of the started client on the tool's delegate: each request one "s=fullscreen"
// query, the delegate's hook only while it answers it; presentations, dismissals and refusals.
TEST(OrbadCli, FullScreenAdsOfTheStartedClient) {
    dktest::TempDir work;
    const std::string units = R"({\"ad_units\": [{\"size\": \"fullscreen\", \"enabled\": true}]})";
    dktest::RecordingServer data(work.file("data"), R"({"default": {"body": ")" + units + R"("}})");
    const std::string text = R"({"body": "{\"creative\": {\"type\": \"text\", )"
                             R"(\"props\": {\"texts\": [\"hi\"]}}}"})",
                      html = R"({"body": "{\"creative\": {\"type\": \"html\", )"
                             R"(\"props\": {\"html\": \"<p>ad</p>\"}}}"})",
                      none = R"({"status": "HTTP/1.1 503 X"})";
    const std::string answers[] = {html, text, text, none, none, text};
    std::string script = R"({"requests": {)";
    for (size_t n = 0; n < std::size(answers); ++n)
        script += (n ? ", \"" : "\"") + std::to_string(n + 1) + "\": " + answers[n];
    dktest::RecordingServer ads(work.file("ads"), script + "}}");
    dktest::ProcessResult result = runClient(
        work,
        {"--net", "wifi", "--web", "fake", "--endpoint", "orbad=" + data.url(), "--endpoint", "orbad.ads=" + ads.url()},
        "fullscreen.commands");
    EXPECT_EQ(result.out, withAddresses(dktest::readFile(DK_TEST_DATA_DIR "/fullscreen.out"), data.url(), ""));
    EXPECT_EQ(result.status, 2);  // the refused lines
    EXPECT_EQ(result.err, "");
    ads.stop();
    const std::vector<Query> queries = adRequests(ads);
    ASSERT_EQ(queries.size(), std::size(answers));
    for (size_t n = 0; n < queries.size(); ++n) {
        EXPECT_EQ(queries[n].at("s"), "fullscreen") << "request " << n + 1;
        EXPECT_EQ(queries[n].count("adurl"), n == 0 ? 1u : 0u) << "request " << n + 1;
    }
    EXPECT_EQ(queries[0].at("adurl"), "http://ads.example/one");
}

TEST(OrbadCli, BadCommandLinesAreRefused) {
    dktest::TempDir home;
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{},
                                               {"--home", home.path(), "--net", "lte"},
                                               {"--home", home.path(), "--web", "x"},
                                               {"--home", home.path(), "--device", "toaster"},
                                               {"--home", home.path(), "--bogus", "1"}}) {
        std::vector<std::string> argv = {kCli};
        argv.insert(argv.end(), args.begin(), args.end());
        EXPECT_EQ(dktest::runProcess(argv).status, 2) << (args.size() > 2 ? args[2] : "");
    }
    // The last option of the line is named for what it is, not for the value it lacks.
    const dktest::ProcessResult unknown = dktest::runProcess({kCli, "--home", home.path(), "--bogus"});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_TRUE(unknown.err.starts_with("dk-orbad-cli: unknown option --bogus\n")) << unknown.err;
}

// A video that cannot be opened still ends, once, with its error; `movie finish` needs a movie.
TEST(OrbadCli, MovieCommands) {
    dktest::TempDir work;
    dktest::ProcessResult result = dktest::runProcess(
        {kCli, "--home", work.file("home"), "--clock", "virtual", "--commands", DK_TEST_DATA_DIR "/movie.commands"},
        {}, work.path());
    EXPECT_EQ(result.out, dktest::readFile(DK_TEST_DATA_DIR "/movie.out"));
    EXPECT_EQ(result.status, 2);
}

// A tapped banner carries out its creative's video action: the screen presented over the banners'
// window, and gone once its movie ends.
TEST(OrbadCli, TappedBannerPlaysItsVideoAction) {
    dktest::TempDir work;
    std::string error;
    ASSERT_TRUE(dktest::writeClip(work.file("clip.nut"), {std::vector<dktest::RGB>(20, {200, 0, 0})}, &error)) << error;
    dktest::RecordingServer data(work.file("data"), R"({"default": {"body": "{}"}})");
    dktest::RecordingServer pictures(work.file("png"),
                                     R"({"default": {"body_hex": ")" + png(4, 2, {0, 200, 0, 255}) + R"("}})");
    const std::string ad = R"({\"creative\": {\"type\": \"image\", \"props\": {\"images\": [\")" +
                           pictures.url() + R"(/a.png\"]}, \"action\": {\"type\": \"video\", \"videoUrl\": )"
                           R"(\"file://)" + work.file("clip.nut") + R"(\"}}})";
    dktest::RecordingServer ads(work.file("ads"), R"({"default": {"body": ")" + ad + R"("}})");
    const std::string dir = DK_TEST_DATA_DIR;
    dktest::ProcessResult result = runClient(work,
                                             {"--net", "wifi", "--clock", "virtual", "--endpoint",
                                              "orbad=" + data.url(), "--endpoint", "orbad.ads=" + ads.url()},
                                             "banner-video.commands");
    EXPECT_EQ(result.out, dktest::readFile(dir + "/banner-video.out"));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
}

// An HTML banner on the real page engine, driven end to end by taps on its page: the page's click
// listener grows the ad, resizes it and closes it. The page hears the callbacks in the order the
// expansion's steps come, and the banner's refresh waits for the take-over to end.
TEST(OrbadCli, AnExpandedBannerIsDrivenThroughItsPage) {
    dktest::TempDir work;
    const std::string page =
        "<html><head><script>"
        "var step = 0;"
        "function send(c) { var f = document.createElement('iframe'); f.style.display = 'none'; "
        "f.src = 'madview://' + c; document.body.appendChild(f); }"
        "window.onload = function() { send('displaySetAllCallbacks?adFinishedResizingCallbackFunctionName=fr"
        "&adWillContractCallbackFunctionName=wc&successCallbackFunctionName=set'); };"
        "window.addEventListener('click', function() { step += 1;"
        " if (step == 1) send('displayExpandToFullScreen?animationDuration=0.5&successCallbackFunctionName=grown');"
        " if (step == 2) send('displayResizeTo?x=0&y=0&width=320&height=240&animationDuration=0.5"
        "&successCallbackFunctionName=resized');"
        " if (step == 3) send('displayContractAd?animationDuration=0.5&successCallbackFunctionName=closed'); });"
        "</script></head><body style='margin:0'>ad</body></html>";
    // The page inside the creative inside the server's answer: two levels of JSON strings.
    const std::string ad = R"({\"creative\": {\"type\": \"html\", \"props\": {\"html\": \")" + page + R"(\"}}})";
    const std::string units = R"({\"ad_units\": [{\"size\": \"320x50\", \"enabled\": true, \"rm_require_user\": true}]})";
    dktest::RecordingServer data(work.file("data"), R"({"default": {"body": ")" + units + R"("}})");
    dktest::RecordingServer ads(work.file("ads"), R"({"default": {"body": ")" + ad + R"("}})");
    const dktest::ProcessResult result =
        runClient(work,
                  {"--net", "wifi", "--clock", "virtual", "--web", "wpe", "--endpoint", "orbad=" + data.url(),
                   "--endpoint", "orbad.ads=" + ads.url()},
                  "banner-rich.commands");
    EXPECT_EQ(result.status, 0) << result.out;
    std::vector<std::string> heard, engine;
    std::stringstream lines(result.out);
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("js mAdViewCallbackHandler(") && line.find("adHasBeenDisplayed") == std::string::npos)
            heard.push_back(line.substr(26));
        if (line.starts_with("delegate adViewWillTouchThrough") || line.starts_with("delegate adViewDidFinishTouchThrough") ||
            line.starts_with("delegate requestedAdUrlForAdView") || line.starts_with("web refuse madview://"))
            engine.push_back(line.substr(0, line.find('?')));
    }
    // (The refreshed ad's page may be heard after them.)
    const std::vector<std::string> callbacks = {"'set');", "'grown');", "'fr');",     "'resized');",
                                                "'fr');",  "'wc');",    "'closed');", "'fr');"};
    ASSERT_GE(heard.size(), callbacks.size()) << result.out;
    EXPECT_EQ(std::vector<std::string>(heard.begin(), heard.begin() + std::ptrdiff_t(callbacks.size())), callbacks)
        << result.out;
    // One request before the take-over, none during it though a refresh was asked for, and the
    // refresh again once the ad has closed.
    const std::vector<std::string> expected = {
        "delegate requestedAdUrlForAdView",
        "web refuse madview://displaySetAllCallbacks",
        "delegate adViewWillTouchThrough",
        "web refuse madview://displayExpandToFullScreen",
        "web refuse madview://displayResizeTo",
        "web refuse madview://displayContractAd",
        "delegate adViewDidFinishTouchThrough",
        "delegate requestedAdUrlForAdView",
    };
    ASSERT_GE(engine.size(), expected.size()) << result.out;
    EXPECT_EQ(std::vector<std::string>(engine.begin(), engine.begin() + std::ptrdiff_t(expected.size())), expected)
        << result.out;
}

// A request to a server that never answers holds `run` for 10 s of real time (one step of the
// clock), no longer: the run ends with the request still in flight (its own time-out is a minute
// away) and the clock moved.
TEST(OrbadCli, RunHoldsTheClockForASilentServerTenSecondsAtMost) {
    dktest::TempDir work;
    dktest::RecordingServer silent(work.file("silent"), R"({"default": {"silent": true}})");
    dktest::writeFile(work.file("held.commands"),
                      "get " + silent.url() + "/held\nrun 1\nsettle 0\ntime\ncancel\nsettle\n");
    const dktest::ProcessResult result = dktest::runProcess(
        {kCli, "--home", work.file("home"), "--start-time", "1700000000", "--commands", "held.commands"}, {},
        work.path());
    EXPECT_EQ(result.out, "http GET " + silent.url() + "/held\nok\nbusy\ntime 1700000001.000\nok\nidle\n");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
}

// --help answers with the usage and every command on standard output; each command it lists is
// one the tool knows.
TEST(OrbadCli, HelpListsTheCommandsTheToolKnows) {
    dktest::TempDir work;
    const dktest::ProcessResult result = dktest::runProcess({kCli, "--help"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(result.out.starts_with("usage: dk-orbad-cli --home DIR")) << result.out;
    const std::vector<std::string> words = dktest::helpCommandWords(result.out, "Commands");
    for (const char* expected : {"run", "settle", "get", "start", "banner", "fullscreen", "web", "motion", "widget"})
        EXPECT_NE(std::find(words.begin(), words.end(), expected), words.end()) << expected;
    EXPECT_EQ(dktest::commandsRefusedAsUnknown({kCli, "--home", work.file("home"), "--net", "none", "--endpoint",
                                                "orbad=http://127.0.0.1:9"},
                                               words, work.path()),
              std::vector<std::string>{});
    EXPECT_EQ(dktest::runProcess({kCli, "--home", work.file("home"), "-h"}).status, 0);
    // One spelling of the page engines with the player's: the old "real" is no longer one.
    for (const char* engine : {"x", "real"}) {
        const dktest::ProcessResult bad = dktest::runProcess({kCli, "--home", work.file("home"), "--web", engine});
        EXPECT_EQ(bad.status, 2) << engine;
        EXPECT_TRUE(bad.err.starts_with("dk-orbad-cli: --web takes wpe, fake or none\nusage: dk-orbad-cli")) << bad.err;
    }
}

}  // namespace
