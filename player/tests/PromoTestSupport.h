// What the promotion tests share: an application launched on the virtual clock with a window and
// a root controller on a device of the test's choice, and a delegate that writes down what the
// strip tells it.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/ui/Application.h"
#include "platform/ui/Window.h"
#include "player/plugins/promo/DKIconSwitcherViewController.h"

namespace dktest {

// Lines "shown 4-7 page 1", "tap 2 page 0 Game 2", "dismiss 1".
struct StripRecorder : DKIconSwitcherViewControllerDelegate {
    std::vector<std::string> lines;
    std::vector<std::string> take() { return std::exchange(lines, {}); }
    void iconSwitcherDidDismiss(DKIconSwitcherViewController&, unsigned reason) override;
    void iconSwitcher(DKIconSwitcherViewController&, const DKIconSwitcherItem& item, unsigned slot,
                      unsigned page) override;
    void iconsDidDisplay(const DKIconSwitcherItems& items, unsigned startingSlot, unsigned page) override;
};

// `count` items "Game 0"... with target "http://games.test/N" and no image.
DKIconSwitcherItems makeItems(size_t count);

class StripTest : public testing::Test {
protected:
    void TearDown() override;
    // Launches on `device` ("phone", "tablet"...), every orientation allowed.
    void launch(const std::string& device);
    // Turns the process's virtual clock.
    static void runFor(double seconds);
    // A finger down at `from`, moved to `to` (when given), lifted.
    void touch(plat::ui::Point from, std::optional<plat::ui::Point> to = std::nullopt);

    std::unique_ptr<plat::ui::Application> app;
    std::shared_ptr<plat::ui::Window> window;
    std::shared_ptr<plat::ui::ViewController> root;
};

}  // namespace dktest
