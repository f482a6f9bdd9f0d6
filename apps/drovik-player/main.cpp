// drovik-player: runs a game bundle. Until the game view arrives it runs a plain application (a
// black window whose root controller allows the Info.plist's orientations) under the host, so
// the lifecycle, the device, rotations, touches and the input script can be driven and checked.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Log.h"
#include "platform/host/HeadlessHost.h"
#include "platform/host/HostOptions.h"
#include "platform/host/QuitSignals.h"
#include "platform/sys/Device.h"
#include "platform/ui/Application.h"
#include "platform/ui/Orientation.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"

namespace {

using namespace plat;

unsigned infoPlistOrientations() {
    const foundation::Bundle* bundle = foundation::Bundle::main();
    return ui::interfaceOrientationMaskForInfoList(bundle ? bundle->infoValue(ui::kSupportedInterfaceOrientationsKey)
                                                          : nullptr);
}

class RootViewController : public ui::ViewController {
public:
    const char* className() const override { return "DrovikRootViewController"; }
    unsigned supportedInterfaceOrientations() const override { return infoPlistOrientations(); }
    bool shouldAutorotateToInterfaceOrientation(int orientation) const override {
        return ui::maskAllows(infoPlistOrientations(), orientation);
    }
};

class PlainApplicationDelegate : public ui::ApplicationDelegate {
public:
    void didFinishLaunching(ui::Application&) override {
        m_window = std::make_shared<ui::Window>(sys::Screen::main().bounds());
        m_window->setBackgroundColor(ui::Color{0, 0, 0, 1});
        m_window->setRootViewController(std::make_shared<RootViewController>());
        m_window->makeKeyAndVisible();
    }

private:
    std::shared_ptr<ui::Window> m_window;
};

}  // namespace

int main(int argc, char** argv) {
    // Before any thread exists, so SIGINT and SIGTERM reach only the run loop.
    host::QuitSignals::block();
    host::HostOptions options;
    std::string error;
    if (!host::parseHostOptions(std::vector<std::string>(argv + 1, argv + argc), std::getenv("DROVIK_BUNDLE"),
                                &options, &error)) {
        std::fprintf(stderr, "drovik-player: %s (see drovik-player --help)\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(host::hostUsage(), stdout);
        return 0;
    }
    host::HeadlessHost driver(options);
    if (const int status = driver.prepare(&error)) {
        if (!error.empty()) foundation::log("drovik-player: %s", error.c_str());
        return status;
    }
    const int status = driver.run(std::make_unique<PlainApplicationDelegate>(), &error);
    if (status) foundation::log("drovik-player: %s", error.c_str());
    return status;
}
