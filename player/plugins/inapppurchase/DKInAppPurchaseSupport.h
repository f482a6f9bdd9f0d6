// In-app purchases for the scripts: action 8 buys the product it names, action 9 restores earlier
// purchases. The plugin pauses the game under a progress view, asks the local store, verifies
// each purchased or restored transaction with the store's verification server, records it with
// the analytics clients and answers "InAppSuccess", "InAppFailure", "InAppCancelled" or
// "InAppRestore" (the restored identifiers).
//
// It observes the default queue from its creation. No identifier, payments refused or no game network
// answer "InAppFailure" inside the call with nothing paused. A verification without an answer fails
// the purchase with one alert and leaves its transaction unfinished (the next start verifies it); a
// restored one is refused, finished and not counted. Each answer removes the progress view, releases
// the plugin's pause, then raises the event; the analytics record follows a success.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/services/store/Store.h"
#include "platform/ui/AlertView.h"
#include "player/plugins/DKPluginSupport.h"
#include "player/plugins/inapppurchase/DKInAppPurchaseItemController.h"
#include "player/plugins/inapppurchase/DKReceiptVerification.h"

inline constexpr const char* DKDataWareHouseInAppPurchase = "purchase";
inline constexpr const char* DKDataWareHouseInAppPurchaseRestore = "restore";

class DKInAppPurchaseSupport : public DKPluginSupport,
                               private plat::store::ProductsRequestDelegate,
                               private plat::store::PaymentTransactionObserver,
                               private plat::ui::AlertViewDelegate {
public:
    explicit DKInAppPurchaseSupport(DKGameViewController* gameViewController);
    ~DKInAppPurchaseSupport() override;
    static const char* pluginIdentifier() { return "inAppPurchase"; }

    // Action 8. No identifier (a table, nil), payments refused or no game network: "InAppFailure"
    // inside the call, with nothing paused or shown.
    void purchaseItem(DKGameViewController*, std::optional<std::string> productIdentifier);
    // Action 9.
    void restoreItems(DKGameViewController*);

    // YES: the production verification server, NO: the sandbox one (from the bundle's profile).
    bool releaseMode() const { return m_releaseMode; }
    const std::string& productIdentifier() const { return m_productIdentifier; }
    const std::string& productName() const { return m_productName; }
    const std::string& productPrice() const { return m_productPrice; }
    DKInAppPurchaseItemController& purchaseController() { return *m_purchaseController; }

protected:
    void registerActions(lua_State* L) override;

private:
    void productsRequestDidReceiveResponse(plat::store::ProductsRequest&,
                                           const plat::store::ProductsResponse&) override;
    void requestDidFailWithError(plat::store::ProductsRequest&, const plat::store::Error&) override;
    void updatedTransactions(plat::store::PaymentQueue&,
                             const std::vector<plat::store::PaymentTransaction>&) override;
    void restoreCompletedTransactionsFinished(plat::store::PaymentQueue&) override;
    void restoreCompletedTransactionsFailedWithError(plat::store::PaymentQueue&,
                                                     const plat::store::Error&) override;
    void alertViewClickedButton(plat::ui::AlertView&, int, const std::string&) override {}

    void generateSingleProductRequest(const std::string& productIdentifier);
    void requestEnded(plat::store::ProductsRequest& request);
    void makePaymentForProduct(const plat::store::Product& product);
    void completeTransaction(const plat::store::PaymentTransaction& transaction);
    void failedTransaction(const plat::store::PaymentTransaction& transaction);
    void restoreTransaction(const plat::store::PaymentTransaction& transaction);
    dk::player::ReceiptAnswer verifyReceipt(const plat::store::PaymentTransaction& transaction);
    void recordAnalytics(const std::map<std::string, std::string>& receipt, const char* eventType);

    void showProgressView();
    void purchaseItemControllerWasDismissed();
    void callInAppSuccess();
    void callInAppFailure();
    void callInAppCancelled();
    void callInAppRestore();
    void showAlert(const std::string& title, std::optional<std::string> message);

    std::shared_ptr<DKInAppPurchaseItemController> m_purchaseController;
    // Requests under way, each answered on its own.
    std::vector<std::shared_ptr<plat::store::ProductsRequest>> m_requests;
    std::vector<std::string> m_restoreProducts;
    bool m_releaseMode = false;
    double m_verifyTimeout = dk::player::kVerifyTimeout;
    std::string m_productIdentifier;
    std::string m_productName = "NO_NAME";
    std::string m_productPrice = "NO_PRICE";
};
