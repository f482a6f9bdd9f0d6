#include "orbad/tests/OrbadCreativeTestSupport.h"

#include <gtest/gtest.h>

#include "orbad/ads/OrbadRichMediaWebAdView.h"
#include "platform/crypto/Crypto.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "platform/image/ImageCodec.h"
#include "platform/sys/Device.h"
#include "platform/web/FakeWebEngine.h"

namespace dktest {

using plat::foundation::RunLoop;

bool NotingHost::adsViewFinishedLoading(orbad::OrbadAdsView&, const std::shared_ptr<orbad::OrbadAd>&) {
    lines.push_back("finished");
    return answer;
}

void NotingHost::adsViewFailedToLoad(orbad::OrbadAdsView&, const std::shared_ptr<orbad::OrbadAd>&,
                                     const std::optional<plat::foundation::Error>& error) {
    lines.push_back(error ? "failed " + std::to_string(error->code) : "failed nil");
}

void NotingHost::openActionForAd(const std::shared_ptr<orbad::OrbadAd>& ad) {
    lines.push_back("action " + ad->identifier().value_or("nil"));
}

void NotingHost::openActionURL(const std::string& url, const std::shared_ptr<orbad::OrbadAd>&) {
    lines.push_back("url " + url);
}

void NotingHost::openURLInBrowser(const std::string& url, int browserStyle) {
    lines.push_back("browser " + url + " " + std::to_string(browserStyle));
}

std::shared_ptr<orbad::OrbadAd> adFrom(const std::string& creative) {
    std::string error;
    auto entry = plat::foundation::Value::fromJSON(R"({"creative":)" + creative + "}", &error);
    EXPECT_TRUE(entry) << error;
    return orbad::OrbadAd::adWithJSONDictionary(entry ? *entry : plat::foundation::Value());
}

std::string pngHex(int width, int height, const std::vector<uint8_t>& rgba) {
    std::vector<uint8_t> pixels;
    for (int i = 0; i < width * height; ++i) pixels.insert(pixels.end(), rgba.begin(), rgba.end());
    std::vector<uint8_t> png;
    std::string error;
    EXPECT_TRUE(plat::image::encodePNG(width, height, pixels.data(), pixels.size(), 4, &png, &error)) << error;
    return plat::crypto::hex(png);
}

void turn(double seconds) {
    RunLoop::main().runFor(seconds);
}

std::vector<std::string> newScripts(const plat::ui::WebView& view, size_t& seen) {
    const auto& all = plat::web::FakeWebEngine::of(view)->evaluated();
    std::vector<std::string> out;
    for (; seen < all.size(); ++seen) out.push_back(all[seen]);
    return out;
}

bool turnUntil(const std::function<bool()>& done, double seconds) {
    const double end = plat::foundation::Clock::monotonicSeconds() + seconds;
    while (!done()) {
        if (plat::foundation::Clock::monotonicSeconds() > end) return false;
        RunLoop::main().runOnce(0.01);
    }
    return true;
}

void launchOnScreen(std::unique_ptr<plat::ui::Application>& app, std::shared_ptr<plat::ui::ViewController>& root,
                    std::shared_ptr<plat::ui::Window>& window) {
    app = std::make_unique<plat::ui::Application>();
    app->launch();
    root = std::make_shared<plat::ui::ViewController>();
    window = std::make_shared<plat::ui::Window>(plat::sys::Screen::main().bounds());
    window->setRootViewController(root);
    window->makeKeyAndVisible();
}

bool tap(plat::ui::Application& app, const plat::ui::View& view, std::optional<plat::ui::Point> at) {
    static int finger = 1000;
    const plat::ui::Rect b = view.bounds();
    const plat::ui::Point local = at.value_or(plat::ui::Point{b.x + b.width / 2, b.y + b.height / 2});
    const plat::ui::Point point = view.convertPointToView(local, nullptr);
    const int id = ++finger;
    using plat::ui::TouchPhase;
    return app.injectTouches({{TouchPhase::Began, id, point}}) && app.injectTouches({{TouchPhase::Ended, id, std::nullopt}});
}

}  // namespace dktest

// Fontconfig (behind the labels' text), GLib and WebKit (behind the web creative) keep their
// configuration and caches for the life of the process; that is not ours to report.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\nleak:libglib-2.0.so\nleak:libgobject-2.0.so\nleak:libgio-2.0.so\n"
           "leak:libWPEWebKit-1.1.so\nleak:libwpe-1.0.so\nleak:libWPEBackend-fdo-1.0.so\n";
}
