#include "player/plugins/inapppurchase/DKInAppPurchaseSupport.h"

#include <cstdlib>

#include "analytics/DKPageStatsAnalytics.h"
#include "analytics/TrackwellSession.h"
#include "platform/foundation/Bundle.h"
#include "platform/util/DKProvisioningProfile.h"
#include "player/bridge/DKExternalFunctionTable.h"
#include "player/controller/DKGameViewController.h"
#include "player/plugins/DKGameCenterSupport.h"
#include "player/view/EAGLGameView.h"

using plat::store::PaymentQueue;
using plat::store::PaymentTransaction;

namespace {

const char* const kPurchaseError = "In-App Purchase Error";
const char* const kPurchaseFailed = "In-App Purchase Failed";
const char* const kRestoreError = "In-App Restore Error";
const char* const kPurchaseLater =
    "The in-App Purchase could not be completed at this time. Please try again later.";
const char* const kRestoreLater =
    "The in-App Restore could not be completed at this time. Please try again later.";
const char* const kProvider = "appleiap";

// No profile: a store build. Only an app store profile keeps production; development, ad hoc and
// a profile that does not read go to the sandbox.
bool releaseModeFromBundle() {
    const plat::foundation::Bundle* bundle = plat::foundation::Bundle::main();
    const std::optional<std::string> path =
        bundle ? bundle->pathForResource("embedded", "mobileprovision") : std::nullopt;
    if (!path) return true;
    const std::optional<DKProvisioningProfile> profile =
        DKProvisioningProfile::createWithContentsOfFile(*path);
    return profile && profile->type() == 2;
}

// DROVIK_VERIFY_TIMEOUT may only shorten the wait (for tests of a silent server).
double verifyTimeout() {
    const char* text = std::getenv("DROVIK_VERIFY_TIMEOUT");
    const double seconds = text ? std::atof(text) : 0;
    return seconds > 0 && seconds < dk::player::kVerifyTimeout ? seconds : dk::player::kVerifyTimeout;
}

}  // namespace

DKInAppPurchaseSupport::DKInAppPurchaseSupport(DKGameViewController* gameViewController)
    : DKPluginSupport(gameViewController),
      m_purchaseController(std::make_shared<DKInAppPurchaseItemController>()),
      m_releaseMode(releaseModeFromBundle()),
      m_verifyTimeout(verifyTimeout()) {
    PaymentQueue::defaultQueue().addTransactionObserver(this);
}

DKInAppPurchaseSupport::~DKInAppPurchaseSupport() {
    PaymentQueue::defaultQueue().removeTransactionObserver(this);
    for (const auto& request : m_requests) request->setDelegate(nullptr);
}

void DKInAppPurchaseSupport::registerActions(lua_State* L) {
    DKExternalFunctionTable::externalFunctionTableForState(L)->registerTarget(
        self<DKInAppPurchaseSupport>(), gameViewController(),
        {{8, &DKInAppPurchaseSupport::purchaseItem}, {9, &DKInAppPurchaseSupport::restoreItems}});
}

// ---- the scripts' actions ----

void DKInAppPurchaseSupport::purchaseItem(DKGameViewController*,
                                          std::optional<std::string> productIdentifier) {
    if (!productIdentifier || !PaymentQueue::canMakePayments() ||
        !DKGameCenterSupport::isGameCenterAvailable()) {
        // Nothing was paused: the answer plays nothing either.
        callInAppFailure();
        return;
    }
    pauseGame(false);
    showProgressView();
    generateSingleProductRequest(*productIdentifier);
}

void DKInAppPurchaseSupport::restoreItems(DKGameViewController*) {
    pauseGame(false);
    showProgressView();
    PaymentQueue::defaultQueue().restoreCompletedTransactions();
}

// ---- the store's answers ----

void DKInAppPurchaseSupport::generateSingleProductRequest(const std::string& productIdentifier) {
    auto request = plat::store::ProductsRequest::create({productIdentifier});
    request->setDelegate(this);
    m_requests.push_back(request);
    request->start();
}

void DKInAppPurchaseSupport::requestEnded(plat::store::ProductsRequest& request) {
    std::erase_if(m_requests, [&](const auto& running) { return running.get() == &request; });
}

void DKInAppPurchaseSupport::productsRequestDidReceiveResponse(
    plat::store::ProductsRequest& request, const plat::store::ProductsResponse& response) {
    requestEnded(request);
    for (const std::string& invalid : response.invalidProductIdentifiers)
        showAlert(kPurchaseError, "Product identifier was not recognized: " + invalid);
    if (response.products.size() == 1)
        makePaymentForProduct(response.products.front());
    else
        callInAppFailure();
}

void DKInAppPurchaseSupport::requestDidFailWithError(plat::store::ProductsRequest& request,
                                                     const plat::store::Error& error) {
    requestEnded(request);
    showAlert(kPurchaseError, error.message);
    callInAppFailure();
}

void DKInAppPurchaseSupport::makePaymentForProduct(const plat::store::Product& product) {
    m_productIdentifier = product.productIdentifier;
    m_productName = product.localizedTitle.value_or("NO_NAME");
    m_productPrice = product.price.value_or("NO_PRICE");
    PaymentQueue::defaultQueue().addPayment(plat::store::Payment{product.productIdentifier});
}

void DKInAppPurchaseSupport::updatedTransactions(PaymentQueue&,
                                                 const std::vector<PaymentTransaction>& transactions) {
    for (const PaymentTransaction& transaction : transactions) {
        switch (transaction.transactionState) {
            case plat::store::kTransactionPurchasing:
                break;
            case plat::store::kTransactionPurchased:
                completeTransaction(transaction);
                break;
            case plat::store::kTransactionRestored:
                restoreTransaction(transaction);
                break;
            default:
                failedTransaction(transaction);
                break;
        }
    }
}

void DKInAppPurchaseSupport::completeTransaction(const PaymentTransaction& transaction) {
    const dk::player::ReceiptAnswer answer = verifyReceipt(transaction);
    if (!answer.status) {
        // No definite answer (no response, a time-out, not JSON) is no verdict on the purchase:
        // the transaction stays unfinished, and the store hands it over again at the next start.
        showAlert(kPurchaseError, kPurchaseLater);
        callInAppFailure();
        return;
    }
    if (*answer.status != 0) {
        showAlert(kPurchaseError, kPurchaseLater);
        failedTransaction(transaction);
        return;
    }
    callInAppSuccess();
    recordAnalytics(answer.receipt, DKDataWareHouseInAppPurchase);
    PaymentQueue::defaultQueue().finishTransaction(transaction);
}

void DKInAppPurchaseSupport::failedTransaction(const PaymentTransaction& transaction) {
    if (transaction.error && transaction.error->code == plat::store::kStoreErrorPaymentCancelled) {
        callInAppCancelled();
    } else {
        showAlert(kPurchaseFailed,
                  transaction.error ? std::optional(transaction.error->message) : std::nullopt);
        callInAppFailure();
    }
    PaymentQueue::defaultQueue().finishTransaction(transaction);
}

void DKInAppPurchaseSupport::restoreTransaction(const PaymentTransaction& transaction) {
    const dk::player::ReceiptAnswer answer = verifyReceipt(transaction);
    if (answer.status && *answer.status == 0) {
        m_restoreProducts.push_back(transaction.payment.productIdentifier);
        recordAnalytics(answer.receipt, DKDataWareHouseInAppPurchaseRestore);
    } else {
        // Also without a definite answer: a restore can simply be asked for again.
        showAlert(kRestoreError, kRestoreLater);
    }
    PaymentQueue::defaultQueue().finishTransaction(transaction);
}

void DKInAppPurchaseSupport::restoreCompletedTransactionsFinished(PaymentQueue&) {
    callInAppRestore();
}

void DKInAppPurchaseSupport::restoreCompletedTransactionsFailedWithError(PaymentQueue&,
                                                                         const plat::store::Error&) {
    showAlert(kRestoreError, kRestoreLater);
    callInAppFailure();
}

dk::player::ReceiptAnswer DKInAppPurchaseSupport::verifyReceipt(const PaymentTransaction& transaction) {
    return dk::player::verifyReceipt(transaction.transactionReceipt, m_releaseMode, m_verifyTimeout);
}

void DKInAppPurchaseSupport::recordAnalytics(const std::map<std::string, std::string>& receipt,
                                             const char* eventType) {
    const auto field = [&](const char* key) -> const std::string* {
        const auto found = receipt.find(key);
        return found == receipt.end() ? nullptr : &found->second;
    };
    const std::pair<const char*, const std::string*> values[] = {
        {"pp", &m_productPrice},
        {"pdn", &m_productName},
        {"pid", field("product_id")},
        {"tid", field("transaction_id")},
        {"otid", field("original_transaction_id")},
        {"pdate", field("purchase_date_ms")},
        {"opdate", field("original_purchase_date_ms")},
    };
    TrackwellSession::Attributes attributes{{"p", std::string(kProvider)}};
    for (const auto& [key, value] : values) {
        if (!value) break;
        attributes.emplace(key, *value);
    }
    // The collectors have always been sent "(null)" for a missing field.
    std::string page = std::string(eventType) + "/" + kProvider;
    for (const auto& [key, value] : values) (page += '/') += value ? *value : "(null)";
    DKPageStatsAnalytics::sharedAnalytics().trackAppInfo(page);
    TrackwellSession::sharedTrackwellSession().tagEvent(eventType, attributes);
}

// ---- the answers to the scripts ----

void DKInAppPurchaseSupport::showProgressView() {
    DKGameViewController* controller = gameViewController();
    EAGLGameView* gameView = controller ? controller->gameView() : nullptr;
    const std::shared_ptr<plat::ui::View>& progress = m_purchaseController->view();
    progress->setFrame(gameView ? plat::ui::Rect{0, 0, gameView->frame().width, gameView->frame().height}
                                : plat::ui::Rect{});
    if (!gameView) return;
    gameView->addSubview(progress);
    m_purchaseController->setSpinning(true);
}

void DKInAppPurchaseSupport::purchaseItemControllerWasDismissed() {
    DKGameViewController* controller = gameViewController();
    EAGLGameView* gameView = controller ? controller->gameView() : nullptr;
    if (gameView && m_purchaseController->isViewLoaded() &&
        m_purchaseController->view()->superview() == gameView) {
        m_purchaseController->setSpinning(false);
        m_purchaseController->view()->removeFromSuperview();
    }
    resumeGame();
}

void DKInAppPurchaseSupport::callInAppSuccess() {
    purchaseItemControllerWasDismissed();
    raiseEvent("InAppSuccess");
}

void DKInAppPurchaseSupport::callInAppFailure() {
    purchaseItemControllerWasDismissed();
    raiseEvent("InAppFailure");
}

void DKInAppPurchaseSupport::callInAppCancelled() {
    purchaseItemControllerWasDismissed();
    raiseEvent("InAppCancelled");
}

void DKInAppPurchaseSupport::callInAppRestore() {
    const std::vector<std::string> restored = std::move(m_restoreProducts);
    m_restoreProducts.clear();
    purchaseItemControllerWasDismissed();
    raiseEvent("InAppRestore", restored);
}

void DKInAppPurchaseSupport::showAlert(const std::string& title, std::optional<std::string> message) {
    auto alert = std::make_shared<plat::ui::AlertView>(
        title, std::move(message), std::vector<std::string>{"Ok"},
        std::shared_ptr<plat::ui::AlertViewDelegate>(shared_from_this(),
                                                     static_cast<plat::ui::AlertViewDelegate*>(this)));
    alert->show();
}
