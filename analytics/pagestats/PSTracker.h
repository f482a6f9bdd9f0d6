// The page-view tracker: the process's one tracker, started with a web-property id and a dispatch
// period, fed page views, events, custom variables, transactions and items, which it checks and
// hands to the hit store; a timer has the dispatcher send what is stored. All state lives in one
// private record that exists from start to stop.
//
// Stopping cancels the dispatch or its retry and gives up the dispatch claim, so nothing calls back
// afterwards; a stop from inside a dispatcher's call frees the record on a later turn. Completions
// trace "dispatch dispatched=N failed=M" under "analytics"; the dispatch hook hears them besides
// the optional delegate (for tools).
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "analytics/pagestats/PSDataDispatcher.h"
#include "analytics/pagestats/PSErrors.h"
#include "analytics/pagestats/PSPersistentHitStore.h"
#include "platform/foundation/Value.h"

class PSTracker;

// Both operations are called whenever a delegate is set.
class PSTrackerDelegate {
public:
    virtual ~PSTrackerDelegate() = default;
    virtual void trackerDispatchDidComplete(PSTracker& tracker, unsigned eventsDispatched,
                                            unsigned eventsFailedDispatch) = 0;
    virtual void hitDispatched(const std::string& hitString) = 0;
};

class PSTracker : public PSDataDispatcherDelegate {
public:
    static constexpr unsigned kMaxHitsPerSession = 500;
    static constexpr std::size_t kMaxCustomVariableLength = 64;

    static PSTracker& sharedTracker();

    // A nil delegate is allowed. Starting a started tracker keeps its record and counters, opens
    // a new visit and replaces the account, delegate and period.
    void startTrackerWithAccountID(const std::string& accountID, int dispatchPeriod, PSTrackerDelegate* delegate);
    // Cancels a running dispatch and a pending retry; nothing calls back afterwards.
    void stopTracker();
    bool isStarted() const;

    // -1 never set; 0 or less: no timer. Only some changes start or stop the timer (see the .cpp).
    void setDispatchPeriod(int period);

    bool trackPageview(const std::optional<std::string>& page, PSError* error = nullptr);
    bool trackEvent(const std::optional<std::string>& category, const std::optional<std::string>& action,
                    const std::optional<std::string>& label, int value, PSError* error = nullptr);
    bool setCustomVariableAtIndex(unsigned index, const std::optional<std::string>& name,
                                  const std::optional<std::string>& value, unsigned scope, PSError* error = nullptr);
    bool setCustomVariableAtIndex(unsigned index, const std::optional<std::string>& name,
                                  const std::optional<std::string>& value, PSError* error = nullptr) {
        return setCustomVariableAtIndex(index, name, value, kPSPageScope, error);
    }
    std::optional<std::string> getVisitorCustomVarAtIndex(unsigned index);

    bool addTransaction(const std::optional<std::string>& orderID, double totalPrice,
                        const std::optional<std::string>& storeName, double totalTax, double shippingCost,
                        PSError* error = nullptr);
    bool addItem(const std::optional<std::string>& orderID, const std::optional<std::string>& itemSKU,
                 double itemPrice, double itemCount, const std::optional<std::string>& itemName,
                 const std::optional<std::string>& itemCategory, PSError* error = nullptr);
    bool trackTransactions(PSError* error = nullptr);
    bool clearTransactions(PSError* error = nullptr);
    bool setReferrer(const std::optional<std::string>& referrer, PSError* error = nullptr);

    // True when a dispatch was started.
    bool dispatch();
    // A dispatch runs (from dispatch() answering true until it completes, retry delay included).
    bool isDispatching() const;
    // When the running dispatch's next timed step is due on its loop's clock.
    std::optional<double> dispatchDeadline() const;

    void setSampleRate(unsigned rate);
    unsigned sampleRate() const { return m_sampleRate; }
    void setAnonymizeIp(bool anonymize);
    bool anonymizeIp() const { return m_anonymizeIp; }
    void setDryRun(bool dryRun);
    bool dryRun() const { return m_dryRun; }
    void setDebug(bool debug);
    bool debug() const { return m_debug; }

    PSDataDispatcher* getDispatcher();
    PSPersistentHitStore* persistentHitStore();
    // The User-Agent's product and version, for dispatchers made by later starts.
    static void setProduct(const std::optional<std::string>& product, const std::optional<std::string>& version);
    // The pipeline mode as it stood after the last completed dispatch.
    static bool getPipelineMode();

    std::optional<std::string> visitorIDForAfma();
    std::optional<std::string> sessionIDForAfma();
    std::optional<std::string> accountIDForAfma();
    // PSGlobalStore's parameters for these ids.
    plat::foundation::Value globalParameters();

    // Called after every completed dispatch with its counts, besides the delegate (for tools and
    // tests: the player's wrapper starts the tracker with no delegate).
    using DispatchHook = std::function<void(unsigned dispatched, unsigned failed)>;
    void setDispatchHook(DispatchHook hook) { m_dispatchHook = std::move(hook); }

private:
    struct Private;

    PSTracker();
    void startTimer();
    void stopTimer();
    bool checkForErrors(const PSEvent& event, PSError* error);
    std::optional<PSEvent> createEvent(const std::optional<std::string>& category,
                                       const std::optional<std::string>& action,
                                       const std::optional<std::string>& label, int value, PSError* error);
    std::optional<PSEvent> createEventUnlocked(const std::optional<std::string>& category,
                                               const std::optional<std::string>& action,
                                               const std::optional<std::string>& label, int value, PSError* error);

    void dataDispatcherDispatched(PSDataDispatcher& dispatcher, const PSHit& hit) override;
    void dataDispatcherDidComplete(PSDataDispatcher& dispatcher) override;

    mutable std::recursive_mutex m_lock;
    std::unique_ptr<Private> m_private;
    bool m_debug = false;
    bool m_dryRun = false;
    bool m_anonymizeIp = false;
    unsigned m_sampleRate = 100;
    DispatchHook m_dispatchHook;
};
