// What the creative views' tests share: an engine stand-in that notes what the views report, ads
// made from creative JSON, pictures to serve, and turns of the main loop on the virtual clock.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "orbad/ads/OrbadAd.h"
#include "orbad/ads/OrbadAdsView.h"
#include "platform/ui/Application.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/WebView.h"
#include "platform/ui/Window.h"

namespace dktest {

struct NotingHost : orbad::OrbadAdsViewHost {
    std::vector<std::string> lines;
    bool answer = true;  // to adsViewFinishedLoading
    bool adsViewFinishedLoading(orbad::OrbadAdsView& view, const std::shared_ptr<orbad::OrbadAd>& ad) override;
    void adsViewFailedToLoad(orbad::OrbadAdsView& view, const std::shared_ptr<orbad::OrbadAd>& ad,
                             const std::optional<plat::foundation::Error>& error) override;
    void openActionForAd(const std::shared_ptr<orbad::OrbadAd>& ad) override;
    void openActionURL(const std::string& url, const std::shared_ptr<orbad::OrbadAd>& ad) override;
    void openURLInBrowser(const std::string& url, int browserStyle) override;
};

// The model of `creative` (a JSON object), as the response's entry holds it.
std::shared_ptr<orbad::OrbadAd> adFrom(const std::string& creative);
// A PNG of `width` x `height` in one colour, as hex for the recording server's "body_hex".
std::string pngHex(int width, int height, const std::vector<uint8_t>& rgba = {255, 0, 0, 255});
// Runs the main loop for `seconds` of its (virtual) clock.
void turn(double seconds);
// The scripts the fake page of `view` was given from index `seen` on; `seen` moves past them.
std::vector<std::string> newScripts(const plat::ui::WebView& view, size_t& seen);
// Turns until `done` (at most `seconds` of real time); its last answer.
bool turnUntil(const std::function<bool()>& done, double seconds = 10);

// A launched application whose key window, the whole screen, shows `root`.
void launchOnScreen(std::unique_ptr<plat::ui::Application>& app, std::shared_ptr<plat::ui::ViewController>& root,
                    std::shared_ptr<plat::ui::Window>& window);
// A finger down and up at `view`'s centre (or `at`, in its coordinates), through the application as
// the driver delivers it: whatever is on top there gets it. False when the application took none.
bool tap(plat::ui::Application& app, const plat::ui::View& view, std::optional<plat::ui::Point> at = std::nullopt);

}  // namespace dktest
