// The purchase's progress view: a translucent cover with a spinner in its middle, laid over the
// game view while the store and the verification are waited for.
#pragma once

#include <memory>

#include "platform/ui/ActivityIndicator.h"
#include "player/plugins/DKPluginViewController.h"

// Made with std::make_shared.
class DKInAppPurchaseItemController : public DKPluginViewController {
public:
    const char* className() const override { return "DKInAppPurchaseItemController"; }
    void loadView() override;
    // The spinner turns only while the cover shows: a turning one keeps the run loop busy.
    void setSpinning(bool on);

private:
    std::shared_ptr<plat::ui::ActivityIndicator> m_spinner;
};
