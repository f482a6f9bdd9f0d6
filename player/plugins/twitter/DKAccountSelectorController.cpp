#include "player/plugins/twitter/DKAccountSelectorController.h"

#include "platform/foundation/Bundle.h"
#include "platform/sys/Device.h"
#include "platform/ui/Button.h"

namespace {

constexpr double kToolbarHeight = 44;
constexpr double kButtonWidth = 72;
constexpr double kInset = 8;

}  // namespace

DKAccountSelectorController::~DKAccountSelectorController() {
    if (m_picker) m_picker->setDelegate(nullptr);
}

const char* DKAccountSelectorController::interfaceFileName() {
    return plat::sys::Device::current().userInterfaceIdiom() == 1 ? "AccountSelector-iPad" : "AccountSelector-iPhone";
}

plat::ui::Size DKAccountSelectorController::pickerSize(int deviceOrientation, int idiom) {
    const bool portrait = deviceOrientation == 1 || deviceOrientation == 2;
    return {portrait || idiom == 1 ? 320.0 : 480.0, 216.0};
}

plat::ui::Size DKAccountSelectorController::pickerSize() {
    const plat::sys::Device& device = plat::sys::Device::current();
    return pickerSize(device.orientation(), device.userInterfaceIdiom());
}

plat::ui::PickerView& DKAccountSelectorController::picker() {
    view();
    return *m_picker;
}

std::string DKAccountSelectorController::titleForRow(plat::ui::PickerView&, int row) {
    return m_accountsArray.at(static_cast<size_t>(row)).username;
}

void DKAccountSelectorController::loadView() {
    auto* app = plat::ui::Application::shared();
    const plat::ui::Rect bounds = app ? app->interfaceBounds() : plat::ui::Rect{0, 0, 320, 480};
    auto root = std::make_shared<plat::ui::View>(bounds);
    root->setBackgroundColor(plat::ui::Color{0, 0, 0, 0.4});
    root->setAutoresizingMask(plat::ui::kAutoresizingFlexibleWidth | plat::ui::kAutoresizingFlexibleHeight);
    const plat::ui::Size size = pickerSize();

    m_picker = std::make_shared<plat::ui::PickerView>(
        plat::ui::Rect{0, bounds.height - size.height, bounds.width, size.height});
    m_picker->setAutoresizingMask(plat::ui::kAutoresizingFlexibleWidth | plat::ui::kAutoresizingFlexibleTopMargin);
    m_picker->setControls([this] { actionPickerDone(); }, [this] { actionPickerCancel(); });
    m_picker->setDelegate(this);

    auto toolbar = std::make_shared<plat::ui::View>(
        plat::ui::Rect{0, bounds.height - size.height - kToolbarHeight, bounds.width, kToolbarHeight});
    toolbar->setBackgroundColor(plat::ui::Color{0.43, 0.52, 0.64, 1});
    toolbar->setAutoresizingMask(plat::ui::kAutoresizingFlexibleWidth | plat::ui::kAutoresizingFlexibleTopMargin);
    const auto control = [&](const char* english, double x, unsigned mask, void (DKAccountSelectorController::*action)()) {
        auto button = std::make_shared<plat::ui::Button>(
            plat::ui::Rect{x, kInset, kButtonWidth, kToolbarHeight - 2 * kInset});
        button->setTitle(plat::foundation::Bundle::localized(english));
        button->setBackgroundColor(plat::ui::Color{0.2, 0.35, 0.65, 1});
        button->setAutoresizingMask(mask);
        button->addTarget(this, [this, action](plat::ui::Button&) { (this->*action)(); });
        toolbar->addSubview(button);
    };
    control("Cancel", kInset, plat::ui::kAutoresizingFlexibleRightMargin, &DKAccountSelectorController::actionPickerCancel);
    control("Done", bounds.width - kButtonWidth - kInset, plat::ui::kAutoresizingFlexibleLeftMargin,
            &DKAccountSelectorController::actionPickerDone);
    root->addSubview(toolbar);
    root->addSubview(m_picker);
    setView(std::move(root));
}

bool DKAccountSelectorController::showAccountSelector(plat::ui::ViewController& presenter,
                                                      std::vector<plat::social::Account> accounts, DoneBlock done,
                                                      CancelBlock cancel) {
    if (presentingViewController()) return false;
    m_accountsArray = std::move(accounts);
    m_onAccountSelectorDone = std::move(done);
    m_onAccountSelectorCancel = std::move(cancel);
    m_selectedIndex = 0;
    picker().reloadAllComponents();
    picker().selectRow(0);
    presenter.presentViewController(shared_from_this(), true);
    return presentingViewController() != nullptr;
}

void DKAccountSelectorController::actionPickerDone() {
    if (!presentingViewController()) return;  // a control of a selector already gone
    auto keep = shared_from_this();
    if (m_onAccountSelectorDone && m_selectedIndex >= 0 && m_selectedIndex < static_cast<int>(m_accountsArray.size())) {
        const plat::social::Account account = m_accountsArray[static_cast<size_t>(m_selectedIndex)];
        m_onAccountSelectorDone(*this, m_selectedIndex, account);
    }
    dismissViewController(true);
}

void DKAccountSelectorController::actionPickerCancel() {
    if (!presentingViewController()) return;
    auto keep = shared_from_this();
    if (m_onAccountSelectorCancel) m_onAccountSelectorCancel(*this);
    dismissViewController(true);
}
