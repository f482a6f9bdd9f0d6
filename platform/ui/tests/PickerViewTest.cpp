// The picker: rows from its delegate, chosen by a tap or the script's picker.select, drawn with the
// selection marked, its screen's controls pressed by picker.done and picker.cancel.
#include <gtest/gtest.h>

#include "platform/foundation/Clock.h"
#include "platform/foundation/LocalServices.h"
#include "platform/foundation/RunLoop.h"
#include "platform/sys/Device.h"
#include "platform/ui/PickerView.h"
#include "platform/ui/Window.h"
#include "platform/ui/tests/UITestSupport.h"

namespace {

using namespace plat::ui;
using namespace dktest;

struct Rows : PickerViewDelegate {
    std::vector<std::string> titles;
    double width = 0;
    int numberOfRows(PickerView&) override { return static_cast<int>(titles.size()); }
    std::string titleForRow(PickerView&, int row) override { return titles.at(static_cast<size_t>(row)); }
    double widthForComponent(PickerView&) override { return width; }
    void didSelectRow(PickerView&, int row) override { note("selected " + std::to_string(row)); }
};

// A 320 x 216 picker at the bottom of the phone's window, over 3 rows.
class PickerViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        plat::foundation::Clock::process().setVirtual(true);
        plat::sys::Device::current().reset();
        plat::sys::Device::current().setPreset("phone");
        app = std::make_unique<Application>(nullptr, &loop);
        app->launch();
        auto root = std::make_shared<NotingController>("Root");
        window = showWindow(root);
        picker = std::make_shared<PickerView>(Rect{0, 264, 320, 216});
        rows.titles = {"ann", "bob", "cy"};
        picker->setDelegate(&rows);
        root->view()->addSubview(picker);
        picker->setControls([] { note("done"); }, [] { note("cancel"); });
        log.take();
    }
    void TearDown() override { picker->setDelegate(nullptr); }
    void tap(Point at) {
        app->injectTouches({{TouchPhase::Began, 1, at}});
        app->injectTouches({{TouchPhase::Ended, 1, std::nullopt}});
    }
    static bool command(const std::string& name, std::vector<std::string> arguments = {}) {
        auto action = plat::foundation::serviceCommandAction(name, arguments);
        if (action) action();
        return action != nullptr;
    }

    plat::foundation::RunLoop loop{std::make_shared<plat::foundation::Clock>(plat::foundation::Clock::Kind::Virtual)};
    TraceLog log;
    std::unique_ptr<Application> app;
    std::shared_ptr<Window> window;
    std::shared_ptr<PickerView> picker;
    Rows rows;
};

TEST_F(PickerViewTest, TapsAndTheScriptChooseRows) {
    EXPECT_EQ(picker->selectedRow(), 0);
    tap({160, 264 + 43.2 * 2 + 20});  // the third row
    EXPECT_EQ(picker->selectedRow(), 2);
    tap({160, 264 + 43.2 * 4 + 20});  // below the rows: nothing
    EXPECT_TRUE(command("picker.select", {"1"}));
    EXPECT_FALSE(command("picker.select", {"3"}));
    EXPECT_EQ(picker->selectedRow(), 1);
    EXPECT_TRUE(command("picker.done"));
    EXPECT_TRUE(command("picker.cancel"));
    EXPECT_EQ(log.take(), (Lines{"test selected 2", "test selected 1", "test done", "test cancel"}));
    // Programmatic selection is clamped and tells nobody; a shorter list keeps it inside.
    picker->selectRow(9);
    EXPECT_EQ(picker->selectedRow(), 2);
    rows.titles = {"ann"};
    picker->reloadAllComponents();
    EXPECT_EQ(picker->selectedRow(), 0);
    EXPECT_TRUE(log.take().empty());
    // Off screen, the script's commands find no picker.
    picker->removeFromSuperview();
    EXPECT_FALSE(command("picker.select", {"0"}));
    EXPECT_FALSE(command("picker.done"));
}

// The component is centred at its width, the selected row marked, a tap beside it chooses nothing.
TEST_F(PickerViewTest, DrawsTheComponentWithTheSelectionMarked) {
    rows.width = 200;
    picker->reloadAllComponents();
    picker->selectRow(1);
    TestScreen screen(320, 480);
    ASSERT_TRUE(app->compositor().composite(screen));
    const auto at = [&](int x, double row) { return screen.pixel(x, static_cast<int>(264 + 43.2 * row + 3)); };
    EXPECT_EQ(at(100, 0), (Rgba{255, 255, 255, 255}));  // a plain row
    EXPECT_NE(at(100, 1), at(100, 0));                  // the selection
    EXPECT_NE(at(30, 0), at(100, 0));                   // beside the component
    tap({30, 264 + 20});
    EXPECT_EQ(picker->selectedRow(), 1);
}

}  // namespace
