#include "apps/dk-orbad-cli/CreativeCommands.h"

#include <algorithm>
#include <cstdio>

#include "apps/dk-orbad-cli/DataCommands.h"
#include "apps/dk-orbad-cli/NetCommands.h"
#include "apps/dk-orbad-cli/RichMediaCommands.h"
#include "orbad/ads/OrbadAd.h"
#include "orbad/ads/OrbadAdDump.h"
#include "orbad/ads/OrbadBannerAdView.h"
#include "orbad/ads/OrbadRichMediaWebAdView.h"
#include "orbad/ads/OrbadWebAdView.h"
#include "orbad/core/OrbadJSON.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "platform/gl/GLContext.h"
#include "platform/host/HeadlessScreen.h"
#include "platform/image/ImageCodec.h"
#include "platform/sys/Device.h"
#include "platform/ui/Application.h"
#include "platform/ui/Compositor.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/ViewDump.h"
#include "platform/ui/Window.h"

namespace dk::tools::orbadcli {

using plat::foundation::Clock;
using plat::foundation::RunLoop;
using plat::foundation::Value;

// The engine's stand-in for `creative`: it takes every ad and says how the load ended.
class StandInHost : public orbad::OrbadAdsViewHost {
public:
    explicit StandInHost(Say say) : m_say(std::move(say)) {}
    std::optional<std::string> outcome;
    bool adsViewFinishedLoading(orbad::OrbadAdsView&, const std::shared_ptr<orbad::OrbadAd>&) override {
        if (!outcome) outcome = "creative finished";
        return true;
    }
    void adsViewFailedToLoad(orbad::OrbadAdsView&, const std::shared_ptr<orbad::OrbadAd>&,
                             const std::optional<orbad::Error>& error) override {
        if (!outcome) outcome = error ? "creative failed " + std::to_string(error->code) : "creative failed";
    }
    void openActionForAd(const std::shared_ptr<orbad::OrbadAd>&) override { m_say("host action"); }
    void openActionURL(const std::string& url, const std::shared_ptr<orbad::OrbadAd>&) override {
        m_say("host url " + escape(url));
    }
    void openURLInBrowser(const std::string& url, int style) override {
        m_say("host browser " + escape(url) + " " + std::to_string(style));
    }
    void logInfo(const std::string& text) const override { m_say("host log " + escape(text)); }
    int interfaceOrientation() const override { return plat::sys::Device::current().orientation(); }
    double adWidth() const override { return size.width; }
    double adHeight() const override { return size.height; }
    plat::ui::Size size{};
    // The bridge's covering screens (picker, composers): a controller over the engine view, made
    // when one is first shown, and a touch-through the tool always grants.
    plat::ui::ViewController* viewController() const override {
        auto view = engineView.lock();
        if (view && !controller) {
            controller = std::make_shared<plat::ui::ViewController>();
            controller->setView(view);
        }
        return controller.get();
    }
    bool adShouldTouchThrough(const std::shared_ptr<orbad::OrbadAd>&) override {
        m_say("host touch");
        return true;
    }
    void adDidFinishTouchThrough(const std::shared_ptr<orbad::OrbadAd>&) override { m_say("host finish"); }
    std::weak_ptr<plat::ui::View> engineView;
    mutable std::shared_ptr<plat::ui::ViewController> controller;

private:
    Say m_say;
};

namespace {

// The top left `width` x `height` pixels of the screen, as a PNG file.
bool writeTopLeft(plat::host::HeadlessScreen& screen, const std::string& path, int width, int height,
                  std::string* error) {
    const std::vector<std::uint8_t> all = screen.capture();
    const int screenWidth = screen.pixelWidth();
    width = std::min(width, screenWidth);
    height = std::min(height, screen.pixelHeight());
    std::vector<std::uint8_t> part;
    for (int y = 0; y < height; ++y) {
        const auto row = all.begin() + static_cast<std::ptrdiff_t>(y) * screenWidth * 4;
        part.insert(part.end(), row, row + static_cast<std::ptrdiff_t>(width) * 4);
    }
    return plat::image::writePNG(path, width, height, part, error);
}

}  // namespace

CreativeCommands::CreativeCommands(Say say, RichMediaCommands& richMedia)
    : Voice(say), m_say(std::move(say)), m_richMedia(richMedia) {}

CreativeCommands::~CreativeCommands() = default;

const std::vector<AreaCommand<CreativeCommands>>& CreativeCommands::commands() {
    static const std::vector<AreaCommand<CreativeCommands>> table = {
        {"model", {"model FILE"}, &CreativeCommands::model},
        {"creative", {"creative FILE [WxH]"}, &CreativeCommands::creative},
        {"views", {"views"}, &CreativeCommands::views},
        {"screenshot", {"screenshot FILE.png"}, &CreativeCommands::screenshot},
    };
    return table;
}

bool CreativeCommands::views(Call& call) {
    if (!call.args.empty()) return refuse("usage: views");
    // Without a creative, the key window: the banners' with the screens they present.
    plat::ui::Application* application = plat::ui::Application::shared();
    plat::ui::Window* window = m_window ? m_window.get() : application ? application->keyWindow() : nullptr;
    if (!window) return refuse("no creative shown");
    std::fputs(plat::ui::dumpViewTree(*window).c_str(), stdout);
    std::fflush(stdout);
    return true;
}

std::shared_ptr<orbad::OrbadAd> CreativeCommands::readModel(const std::string& path, std::string& error) {
    orbad::Data data;
    if (!readFile(path, data)) {
        error = "cannot read " + path;
        return nullptr;
    }
    std::optional<Value> entry = orbad::OrbadJSON::decodeData(data);
    if (!entry || !entry->dictionary()) {
        error = "not a JSON object: " + path;
        return nullptr;
    }
    return orbad::OrbadAd::adWithJSONDictionary(*entry);
}

bool CreativeCommands::model(Call& call) {

    const std::vector<Arg>& args = call.args;
    if (args.size() != 1) return refuse("usage: model FILE");
    std::string error;
    auto ad = readModel(args[0].text, error);
    if (!ad) return refuse(error);
    for (const std::string& line : orbad::describeAd(*ad)) say(line);
    return true;
}

bool CreativeCommands::creative(Call& call) {

    const std::vector<Arg>& args = call.args;
    constexpr const char* kUsage = "usage: creative FILE [WxH]";
    if (args.empty() || args.size() > 2) return refuse(kUsage);
    int width = 320, height = 50;
    if (args.size() == 2 && (std::sscanf(args[1].text.c_str(), "%dx%d", &width, &height) != 2 || width <= 0 ||
                             height <= 0 || width > 4096 || height > 4096))
        return refuse(kUsage);
    std::string error;
    auto ad = readModel(args[0].text, error);
    if (!ad) return refuse(error);
    if (m_creative) m_creative->adsView().removeFromSuperview();
    m_window = std::make_shared<plat::ui::Window>(plat::ui::Rect{0, 0, double(width), double(height)});
    m_window->makeKeyAndVisible();
    auto engineView = std::make_shared<plat::ui::View>(plat::ui::Rect{0, 0, double(width), double(height)});
    m_window->addSubview(engineView);
    const plat::ui::Rect frame{0, 0, double(width), double(height)};
    if (dynamic_cast<orbad::OrbadBannerAd*>(ad.get()))
        m_creative = std::make_shared<orbad::OrbadBannerAdView>(frame);
    else if (dynamic_cast<orbad::OrbadTextAd*>(ad.get()))
        m_creative = std::make_shared<orbad::OrbadTextAdView>(frame);
    else if (dynamic_cast<orbad::OrbadWebAd*>(ad.get()))
        m_richMedia.setView(std::static_pointer_cast<orbad::OrbadRichMediaWebAdView>(
            m_creative = std::make_shared<orbad::OrbadRichMediaWebAdView>(frame)));
    else
        return refuse(std::string("no creative view for ") + ad->className());
    m_host = std::make_shared<StandInHost>(m_say);
    m_host->size = frame.size();
    m_host->engineView = engineView;
    m_creative->setMainAdView(m_host);
    engineView->addSubview(std::dynamic_pointer_cast<plat::ui::View>(m_creative));
    m_creative->loadWithAd(ad);
    RunLoop& loop = RunLoop::main();
    const double start = Clock::monotonicSeconds();
    while (!m_host->outcome && Clock::monotonicSeconds() - start < 30) {
        dk::tools::turnWhileBusy(requestsInFlight, 1);
        loop.runOnce(0.05);
    }
    say(m_host->outcome.value_or("creative failed timeout"));
    return true;
}

bool CreativeCommands::screenshot(Call& call) {
    const std::vector<Arg>& args = call.args;
    if (args.size() != 1) return refuse("usage: screenshot FILE.png");
    plat::ui::Application* application = plat::ui::Application::shared();
    if (!m_window || !application) return refuse("no creative shown");
    // The whole interface is drawn, one pixel a point, and the window's part of it kept.
    plat::gl::CurrentContextScope keep;
    std::string error;
    const plat::ui::Rect interface = application->interfaceBounds();
    auto screen = plat::host::HeadlessScreen::create(interface.width, interface.height, 1, &error);
    if (!screen) return refuse("no screen: " + error);
    if (!application->compositor().composite(*screen)) return refuse("nothing composited");
    const plat::ui::Rect frame = m_window->frame();
    if (!writeTopLeft(*screen, args[0].text, int(frame.width), int(frame.height), &error))
        return refuse("cannot write " + args[0].text + ": " + error);
    say("screenshot " + escape(args[0].text));
    return true;
}
}  // namespace dk::tools::orbadcli
