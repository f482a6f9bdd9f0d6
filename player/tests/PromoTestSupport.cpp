#include "player/tests/PromoTestSupport.h"

#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "platform/sys/Device.h"

namespace dktest {

namespace {
struct AnyOrientation : plat::ui::ApplicationDelegate {
    std::optional<unsigned> supportedInterfaceOrientationsForWindow(plat::ui::Application&,
                                                                    plat::ui::Window*) override {
        return 30;
    }
};
}  // namespace

void StripRecorder::iconSwitcherDidDismiss(DKIconSwitcherViewController&, unsigned reason) {
    lines.push_back("dismiss " + std::to_string(reason));
}

void StripRecorder::iconSwitcher(DKIconSwitcherViewController&, const DKIconSwitcherItem& item, unsigned slot,
                                 unsigned page) {
    lines.push_back("tap " + std::to_string(slot) + " page " + std::to_string(page) + " " + item.caption.value_or("-"));
}

void StripRecorder::iconsDidDisplay(const DKIconSwitcherItems& items, unsigned startingSlot, unsigned page) {
    std::string range = std::to_string(startingSlot);
    if (items.size() > 1) range += "-" + std::to_string(startingSlot + items.size() - 1);
    lines.push_back("shown " + range + " page " + std::to_string(page));
}

DKIconSwitcherItems makeItems(size_t count) {
    DKIconSwitcherItems items;
    for (size_t i = 0; i < count; ++i) {
        auto item = std::make_shared<DKIconSwitcherItem>();
        item->caption = "Game " + std::to_string(i);
        item->targetURL = "http://games.test/" + std::to_string(i);
        items.push_back(item);
    }
    return items;
}

void StripTest::launch(const std::string& device) {
    plat::foundation::Clock::process().setVirtual(true);
    plat::sys::Device::current().reset();
    plat::sys::Device::current().setPreset(device);
    app = std::make_unique<plat::ui::Application>(std::make_unique<AnyOrientation>());
    app->launch();
    root = std::make_shared<plat::ui::ViewController>();
    window = std::make_shared<plat::ui::Window>(app->interfaceBounds());
    window->setRootViewController(root);
    window->makeKeyAndVisible();
}

void StripTest::TearDown() {
    window.reset();
    root.reset();
    app.reset();
    plat::sys::Device::current().reset();
}

void StripTest::runFor(double seconds) {
    plat::foundation::RunLoop::main().runFor(seconds);
}

void StripTest::touch(plat::ui::Point from, std::optional<plat::ui::Point> to) {
    using plat::ui::TouchPhase;
    app->injectTouches({{TouchPhase::Began, 1, from}});
    if (to) app->injectTouches({{TouchPhase::Moved, 1, *to}});
    app->injectTouches({{TouchPhase::Ended, 1, std::nullopt}});
}

}  // namespace dktest
