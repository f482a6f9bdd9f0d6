// The account selector: a picker of the player's Twitter accounts by user name, with Done and
// Cancel, presented over the game when the direct post has more than one account to choose from.
#pragma once

#include <functional>
#include <vector>

#include "platform/services/social/Accounts.h"
#include "platform/ui/PickerView.h"
#include "player/plugins/DKPluginViewController.h"

// Made with std::make_shared.
class DKAccountSelectorController : public DKPluginViewController, private plat::ui::PickerViewDelegate {
public:
    using DoneBlock = std::function<void(DKAccountSelectorController&, int index, const plat::social::Account&)>;
    using CancelBlock = std::function<void(DKAccountSelectorController&)>;

    ~DKAccountSelectorController() override;
    const char* className() const override { return "DKAccountSelectorController"; }
    // The interface file the platform loads it from: by the device's idiom.
    static const char* interfaceFileName();

    // The picker's size, also its component's width: 320 wide while the device is in portrait or
    // upside down; otherwise 480 on a phone (or an idiom it cannot tell) and 320 on a tablet;
    // 216 high.
    static plat::ui::Size pickerSize(int deviceOrientation, int idiom);
    static plat::ui::Size pickerSize();

    // Keeps the accounts and the blocks and is presented by `presenter`; the first row selected
    // each time (an index kept from an earlier, longer list would point past this one). False when
    // the presentation is refused, and while it is already up: the road showing it keeps its blocks.
    bool showAccountSelector(plat::ui::ViewController& presenter, std::vector<plat::social::Account> accounts,
                             DoneBlock done, CancelBlock cancel);

    // The controls: the done block with the selected row's account, or the cancel block; then
    // the selector dismisses itself.
    void actionPickerDone();
    void actionPickerCancel();

    int selectedIndex() const { return m_selectedIndex; }
    const std::vector<plat::social::Account>& accountsArray() const { return m_accountsArray; }
    plat::ui::PickerView& picker();

    void loadView() override;

private:
    int numberOfRows(plat::ui::PickerView&) override { return static_cast<int>(m_accountsArray.size()); }
    std::string titleForRow(plat::ui::PickerView&, int row) override;
    double widthForComponent(plat::ui::PickerView&) override { return pickerSize().width; }
    void didSelectRow(plat::ui::PickerView&, int row) override { m_selectedIndex = row; }

    int m_selectedIndex = 0;
    std::vector<plat::social::Account> m_accountsArray;
    DoneBlock m_onAccountSelectorDone;
    CancelBlock m_onAccountSelectorCancel;
    std::shared_ptr<plat::ui::PickerView> m_picker;
};
