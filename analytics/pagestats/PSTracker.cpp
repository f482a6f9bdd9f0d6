#include "analytics/pagestats/PSTracker.h"

#include "analytics/pagestats/PSGlobalStore.h"
#include "analytics/pagestats/PSUtils.h"
#include "platform/foundation/Log.h"

using plat::foundation::RunLoop;

namespace {

plat::foundation::TraceCategory kAnalytics("analytics");

std::string sProduct = "PageStats";
std::string sVersion = "1.3";
bool sPipelineMode = true;

void fail(PSError* error, std::uint32_t code) {
    if (error) *error = PSError{kPSTrackerErrorDomain, code};
}

void clear(PSError* error) {
    if (error) *error = PSError{};
}

}  // namespace

struct PSTracker::Private {
    std::string accountID;
    int dispatchPeriod = -1;
    plat::foundation::Timer dispatchTimer;
    RunLoop* loop = nullptr;  // where the timer fires and the dispatcher reports
    PSTrackerDelegate* delegate = nullptr;
    unsigned sessionHitCount = 0;
    unsigned hitsDispatched = 0;
    unsigned hitsInFlight = 0;  // stored hits when the running dispatch began; 0: none runs
    std::shared_ptr<PSHitBuilder> hitBuilder;
    std::unique_ptr<PSPersistentHitStore> store;
    std::unique_ptr<PSDataDispatcher> dispatcher;
    std::optional<PSCustomVariableBuffer> pendingCustomVariables;
    bool powerSaveMode = false;
    std::map<std::string, PSTransaction> transactions;
    std::map<std::string, std::map<std::string, PSItem>> itemsByOrder;
    int callbackDepth = 0;  // inside a dispatcher's call: a stop must not free it under its feet
};

PSTracker& PSTracker::sharedTracker() {
    static PSTracker* shared = new PSTracker;  // kept for the process
    return *shared;
}

PSTracker::PSTracker() = default;

void PSTracker::startTrackerWithAccountID(const std::string& accountID, int dispatchPeriod,
                                          PSTrackerDelegate* delegate) {
    std::lock_guard lock(m_lock);
    if (!m_private) {
        auto record = std::make_unique<Private>();
        record->loop = &RunLoop::current();
        record->hitBuilder = std::make_shared<PSHitBuilder>();
        record->store = std::make_unique<PSPersistentHitStore>(record->hitBuilder);
        record->store->setAnonymizeIp(m_anonymizeIp);
        record->store->setSampleRate(m_sampleRate);
        record->store->setDebug(m_debug);
        record->dispatcher = std::make_unique<PSDataDispatcher>(this, sProduct, sVersion, *record->loop);
        record->dispatcher->setDryRun(m_dryRun);
        record->dispatcher->setDebug(m_debug);
        m_private = std::move(record);
    }
    m_private->store->startNewSession();
    m_private->hitBuilder->setAccountID(accountID);
    m_private->accountID = accountID;
    m_private->delegate = delegate;
    setDispatchPeriod(dispatchPeriod);
}

void PSTracker::stopTracker() {
    std::lock_guard lock(m_lock);
    if (!m_private) return;
    stopTimer();
    m_private->dispatcher->cancelDispatch();
    m_private->store->releaseDispatch();
    std::shared_ptr<Private> retired(std::move(m_private));
    // Stopped from the dispatcher's own call (a delegate's): it is freed once that call is over.
    if (retired->callbackDepth > 0) retired->loop->perform([retired] {});
}

bool PSTracker::isStarted() const {
    std::lock_guard lock(m_lock);
    return m_private != nullptr;
}

// old -1 and new > 0 starts the timer; old > 0 restarts it (new > 0) or stops it (new <= 0);
// from 0 or below (or -1 to <= 0) nothing changes: a later page view starts no timer either,
// unless power save stopped it.
void PSTracker::setDispatchPeriod(int period) {
    std::lock_guard lock(m_lock);
    if (!m_private) return;
    const int old = m_private->dispatchPeriod;
    m_private->dispatchPeriod = period;
    if (old == -1 && period > 0) {
        startTimer();
    } else if (old > 0) {
        stopTimer();
        if (period > 0) startTimer();
    }
}

void PSTracker::startTimer() {
    m_private->dispatchTimer =
        m_private->loop->addRepeatingTimer(m_private->dispatchPeriod, [this] { dispatch(); });
}

void PSTracker::stopTimer() {
    m_private->dispatchTimer.invalidate();
}

bool PSTracker::checkForErrors(const PSEvent& event, PSError* error) {
    (void)event;
    if (m_private->sessionHitCount >= kMaxHitsPerSession) {
        fail(error, kPSTrackerHitsPerSessionLimitError);
        return false;
    }
    ++m_private->sessionHitCount;
    return true;
}

std::optional<PSEvent> PSTracker::createEventUnlocked(const std::optional<std::string>& category,
                                                      const std::optional<std::string>& action,
                                                      const std::optional<std::string>& label, int value,
                                                      PSError* error) {
    if (!m_private) {
        fail(error, kPSTrackerNotStartedError);
        return std::nullopt;
    }
    if (!category || !action) {
        fail(error, kPSTrackerInvalidInputError);
        return std::nullopt;
    }
    PSEvent event(*category, *action, label, value);
    if (!checkForErrors(event, error)) return std::nullopt;
    if (event.category == kPSTransactionEventCategory || event.category == kPSItemEventCategory) return event;
    event.customVariableBuffer = std::move(m_private->pendingCustomVariables);
    m_private->pendingCustomVariables.reset();
    if (!m_private->store->putEvent(event, error)) return std::nullopt;
    return event;
}

std::optional<PSEvent> PSTracker::createEvent(const std::optional<std::string>& category,
                                              const std::optional<std::string>& action,
                                              const std::optional<std::string>& label, int value, PSError* error) {
    std::optional<PSEvent> event = createEventUnlocked(category, action, label, value, error);
    if (m_private && m_private->powerSaveMode && m_private->dispatchPeriod >= 1) {
        m_private->powerSaveMode = false;
        startTimer();
    }
    return event;
}

bool PSTracker::trackPageview(const std::optional<std::string>& page, PSError* error) {
    std::lock_guard lock(m_lock);
    clear(error);
    std::optional<std::string> path = page;
    if (path && !path->starts_with("/")) path = "/" + *path;
    return createEvent(std::string(kPSPageviewEventCategory), path, std::nullopt, -1, error).has_value();
}

bool PSTracker::trackEvent(const std::optional<std::string>& category, const std::optional<std::string>& action,
                           const std::optional<std::string>& label, int value, PSError* error) {
    std::lock_guard lock(m_lock);
    clear(error);
    return createEvent(category, action, label, value, error).has_value();
}

bool PSTracker::setCustomVariableAtIndex(unsigned index, const std::optional<std::string>& name,
                                         const std::optional<std::string>& value, unsigned scope, PSError* error) {
    clear(error);
    if (!m_private) {
        fail(error, kPSTrackerNotStartedError);
        return false;
    }
    if (index < 1 || index > kPSMaxCustomVariables || !name || name->size() > kMaxCustomVariableLength || !value ||
        value->size() > kMaxCustomVariableLength || scope < kPSVisitorScope || scope > kPSPageScope) {
        fail(error, kPSTrackerInvalidInputError);
        return false;
    }
    if (!m_private->pendingCustomVariables) m_private->pendingCustomVariables.emplace();
    m_private->pendingCustomVariables->addCustomVariable(PSCustomVariable(index, *name, *value, scope));
    return true;
}

std::optional<std::string> PSTracker::getVisitorCustomVarAtIndex(unsigned index) {
    if (index < 1 || index > kPSMaxCustomVariables) {
        PSUtils::log("Error: index must be between 1 and kPSMaxCustomVariables");
        return std::nullopt;
    }
    if (!m_private) return std::nullopt;
    return m_private->store->getVisitorCustomVarAtSlot(index);
}

bool PSTracker::addTransaction(const std::optional<std::string>& orderID, double totalPrice,
                               const std::optional<std::string>& storeName, double totalTax, double shippingCost,
                               PSError* error) {
    std::lock_guard lock(m_lock);
    clear(error);
    if (!orderID || orderID->empty()) {
        fail(error, kPSTrackerInvalidInputError);
        return false;
    }
    if (!m_private) {
        fail(error, kPSTrackerNotStartedError);
        return false;
    }
    m_private->transactions.insert_or_assign(*orderID,
                                             PSTransaction(*orderID, storeName, totalPrice, totalTax, shippingCost));
    return true;
}

bool PSTracker::addItem(const std::optional<std::string>& orderID, const std::optional<std::string>& itemSKU,
                        double itemPrice, double itemCount, const std::optional<std::string>& itemName,
                        const std::optional<std::string>& itemCategory, PSError* error) {
    std::lock_guard lock(m_lock);
    clear(error);
    if (!orderID || orderID->empty() || !itemSKU || itemSKU->empty()) {
        fail(error, kPSTrackerInvalidInputError);
        return false;
    }
    if (!m_private) {
        fail(error, kPSTrackerNotStartedError);
        return false;
    }
    PSItem item(*orderID, *itemSKU, itemName, itemCategory, itemPrice, static_cast<int>(itemCount));
    if (!m_private->transactions.contains(*orderID))
        m_private->transactions.emplace(*orderID, PSTransaction(*orderID, std::nullopt, 0, 0, 0));
    m_private->itemsByOrder[*orderID].insert_or_assign(*itemSKU, std::move(item));
    return true;
}

bool PSTracker::trackTransactions(PSError* error) {
    std::lock_guard lock(m_lock);
    clear(error);
    if (!m_private) {
        fail(error, kPSTrackerNotStartedError);
        return false;
    }
    bool ok = true;
    const std::string transactionCategory(kPSTransactionEventCategory), itemCategory(kPSItemEventCategory);
    for (const auto& [orderID, transaction] : m_private->transactions) {
        std::optional<PSEvent> event = createEvent(transactionCategory, "", "", 0, error);
        if (!event) {
            ok = false;
            break;
        }
        event->transaction = transaction;
        if (!m_private->store->putEvent(*event, error)) {
            ok = false;
            break;
        }
        auto items = m_private->itemsByOrder.find(orderID);
        if (items == m_private->itemsByOrder.end()) continue;
        for (const auto& [sku, item] : items->second) {
            std::optional<PSEvent> itemEvent = createEvent(itemCategory, "", "", 0, error);
            if (!itemEvent) {
                ok = false;
                break;
            }
            itemEvent->item = item;
            if (!m_private->store->putEvent(*itemEvent, error)) {
                ok = false;
                break;
            }
        }
        if (!ok) break;
    }
    m_private->transactions.clear();
    m_private->itemsByOrder.clear();
    return ok;
}

bool PSTracker::clearTransactions(PSError* error) {
    std::lock_guard lock(m_lock);
    clear(error);
    if (m_private) {
        m_private->transactions.clear();
        m_private->itemsByOrder.clear();
    }
    return true;
}

bool PSTracker::setReferrer(const std::optional<std::string>& referrer, PSError* error) {
    std::lock_guard lock(m_lock);
    clear(error);
    if (!m_private) {
        fail(error, kPSTrackerNotStartedError);
        return false;
    }
    if (!referrer) {
        fail(error, kPSTrackerInvalidInputError);
        return false;
    }
    return m_private->store->setReferrer(*referrer, error);
}

bool PSTracker::dispatch() {
    if (m_debug) PSUtils::log("dispatch called");
    std::lock_guard lock(m_lock);
    if (!m_private) return false;
    // Another process's dispatch counts as busy: both would send the same stored hits.
    if (m_private->hitsInFlight != 0 || m_private->dispatcher->isBusy() || !m_private->store->claimDispatch()) {
        if (m_debug) PSUtils::log("...dispatcher was busy");
        return false;
    }
    m_private->hitsInFlight = m_private->store->storedHits();
    std::optional<std::vector<PSHit>> hits;
    if (m_private->hitsInFlight != 0) hits = m_private->store->peekHits(-1);
    if (!hits || hits->empty()) {
        m_private->store->releaseDispatch();
        m_private->hitsInFlight = 0;
        if (m_debug) PSUtils::log("...nothing to dispatch");
        stopTimer();
        m_private->powerSaveMode = true;
        return false;
    }
    m_private->hitsDispatched = 0;
    if (m_debug) PSUtils::log("dispatching " + std::to_string(hits->size()) + " hits");
    m_private->dispatcher->dispatchHits(std::move(*hits));
    return true;
}

bool PSTracker::isDispatching() const {
    std::lock_guard lock(m_lock);
    return m_private && m_private->hitsInFlight != 0;
}

std::optional<double> PSTracker::dispatchDeadline() const {
    std::lock_guard lock(m_lock);
    return m_private ? m_private->dispatcher->nextDeadline() : std::nullopt;
}

void PSTracker::dataDispatcherDispatched(PSDataDispatcher&, const PSHit& hit) {
    std::lock_guard lock(m_lock);
    if (!m_private) return;
    Private& record = *m_private;
    ++record.callbackDepth;
    record.store->deleteHit(hit.hitId());
    ++record.hitsDispatched;
    if (record.delegate) record.delegate->hitDispatched(hit.hitString());
    --record.callbackDepth;
}

void PSTracker::dataDispatcherDidComplete(PSDataDispatcher& dispatcher) {
    std::lock_guard lock(m_lock);
    if (!m_private) return;
    Private& record = *m_private;
    sPipelineMode = dispatcher.pipelineMode();
    const unsigned dispatched = record.hitsDispatched;
    const unsigned failed = record.hitsInFlight > dispatched ? record.hitsInFlight - dispatched : 0;
    record.hitsInFlight = 0;
    record.store->releaseDispatch();
    plat::foundation::tracef(kAnalytics, "dispatch dispatched=%u failed=%u", dispatched, failed);
    ++record.callbackDepth;
    if (m_dispatchHook) m_dispatchHook(dispatched, failed);
    if (record.delegate) record.delegate->trackerDispatchDidComplete(*this, dispatched, failed);
    --record.callbackDepth;
}

void PSTracker::setSampleRate(unsigned rate) {
    if (rate > 100) {
        PSUtils::log("Invalid sample rate: " + std::to_string(rate) + " (should be between 0 and 100)");
        return;
    }
    m_sampleRate = rate;
    if (m_private) m_private->store->setSampleRate(rate);
}

void PSTracker::setAnonymizeIp(bool anonymize) {
    m_anonymizeIp = anonymize;
    if (m_private) m_private->store->setAnonymizeIp(anonymize);
}

void PSTracker::setDryRun(bool dryRun) {
    m_dryRun = dryRun;
    if (m_private) m_private->dispatcher->setDryRun(dryRun);
}

void PSTracker::setDebug(bool debug) {
    m_debug = debug;
    if (m_private) {
        m_private->store->setDebug(debug);
        m_private->dispatcher->setDebug(debug);
    }
}

PSDataDispatcher* PSTracker::getDispatcher() {
    return m_private ? m_private->dispatcher.get() : nullptr;
}

PSPersistentHitStore* PSTracker::persistentHitStore() {
    return m_private ? m_private->store.get() : nullptr;
}

void PSTracker::setProduct(const std::optional<std::string>& product, const std::optional<std::string>& version) {
    if (product) sProduct = *product;
    if (version) sVersion = *version;
}

bool PSTracker::getPipelineMode() {
    return sPipelineMode;
}

std::optional<std::string> PSTracker::visitorIDForAfma() {
    std::lock_guard lock(m_lock);
    if (!m_private) return std::nullopt;
    return m_private->store->visitorIDForAfma();
}

std::optional<std::string> PSTracker::sessionIDForAfma() {
    std::lock_guard lock(m_lock);
    if (!m_private) return std::nullopt;
    return m_private->store->sessionIDForAfma();
}

std::optional<std::string> PSTracker::accountIDForAfma() {
    std::lock_guard lock(m_lock);
    if (!m_private) return std::nullopt;
    return m_private->accountID;
}

plat::foundation::Value PSTracker::globalParameters() {
    std::lock_guard lock(m_lock);
    return PSGlobalStore::sharedGlobalStore().parameters(accountIDForAfma(), sessionIDForAfma(), visitorIDForAfma());
}
