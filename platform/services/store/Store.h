// The local store, standing for the phone's store: products requests, the default payment queue
// and its transactions, configured by Library/LocalServices/store.plist and keeping its own state
// (the transaction counter, unfinished transactions, finished purchases) in store-state.plist
// beside it. Every answer comes on a later turn of the main loop, never inside the call that
// asked. Main thread only. Traced under "store".
//
// store.plist is read at each call (none: canMakePayments NO, and requests, payments and restores fail
// with "Cannot connect to the store."). Its keys: canMakePayments, products (id to title, price),
// productsError, approval ("auto" from outcomes, or "ask": purchasing, then the input script's
// store.approve|cancel|fail CODE "TEXT"|state N answers the oldest waiting payment), outcomes (id to
// state, code, message, receipt), restorable, restoreError. The state file is written whole at each
// change; every delivered transaction not yet finished is handed again to each observer as it is
// added, and a restore returns the finished purchases after restorable. A damaged state file is moved
// to ".bad". Delegates and observers are not owned.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Container.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"

namespace plat::store {

using plat::foundation::Data;
using plat::foundation::Error;

inline constexpr const char* kStoreService = "store";
inline constexpr const char* kStoreStateFile = "store-state";
inline constexpr const char* kStoreErrorDomain = "SKErrorDomain";

enum StoreErrorCode : int {
    kStoreErrorUnknown = 0,
    kStoreErrorPaymentCancelled = 2,
    kStoreErrorPaymentNotAllowed = 4,
};

enum TransactionState : int {
    kTransactionPurchasing = 0,
    kTransactionPurchased = 1,
    kTransactionFailed = 2,
    kTransactionRestored = 3,
};

struct Product {
    std::string productIdentifier;
    std::optional<std::string> localizedTitle;
    std::optional<std::string> price;  // decimal text
};

struct ProductsResponse {
    std::vector<Product> products;
    std::vector<std::string> invalidProductIdentifiers;
};

struct Payment {
    std::string productIdentifier;
};

struct PaymentTransaction {
    int transactionState = kTransactionPurchasing;  // any value the store reports
    std::optional<Error> error;
    Payment payment;
    Data transactionReceipt;
    std::string transactionIdentifier;
};

class ProductsRequest;

class ProductsRequestDelegate {
public:
    virtual ~ProductsRequestDelegate() = default;
    virtual void productsRequestDidReceiveResponse(ProductsRequest& request,
                                                   const ProductsResponse& response) = 0;
    virtual void requestDidFailWithError(ProductsRequest& request, const Error& error) = 0;
};

// Asks the store about a set of product identifiers. Keeps itself alive while it runs; the
// delegate is not owned and is cleared by its owner before it goes.
class ProductsRequest : public std::enable_shared_from_this<ProductsRequest> {
public:
    // The identifiers as a set: in byte order, each once.
    static std::shared_ptr<ProductsRequest> create(std::vector<std::string> productIdentifiers);
    explicit ProductsRequest(std::vector<std::string> productIdentifiers);

    const std::vector<std::string>& productIdentifiers() const { return m_identifiers; }
    void setDelegate(ProductsRequestDelegate* delegate) { m_delegate = delegate; }
    // Traced "store products ID..."; the delegate hears on a later turn.
    void start();

private:
    std::vector<std::string> m_identifiers;
    ProductsRequestDelegate* m_delegate = nullptr;
};

class PaymentQueue;

class PaymentTransactionObserver {
public:
    virtual ~PaymentTransactionObserver() = default;
    virtual void updatedTransactions(PaymentQueue& queue,
                                     const std::vector<PaymentTransaction>& transactions) = 0;
    virtual void restoreCompletedTransactionsFinished(PaymentQueue&) {}
    virtual void restoreCompletedTransactionsFailedWithError(PaymentQueue&, const Error&) {}
};

class PaymentQueue {
public:
    // The queue of the main container, made on first use; it registers the input script's
    // store.approve, store.cancel, store.fail and store.state.
    static PaymentQueue& defaultQueue();
    // NO without a store on this machine (no store.plist), else its "canMakePayments".
    static bool canMakePayments();

    // A queue keeping its state in `container`'s LocalServices folder (none: no state kept).
    explicit PaymentQueue(std::optional<plat::foundation::Container> container);
    ~PaymentQueue();
    PaymentQueue(const PaymentQueue&) = delete;
    PaymentQueue& operator=(const PaymentQueue&) = delete;

    // Observers are not owned: remove one before it goes. An observer added hears, on a later
    // turn, every unfinished transaction again, as a store does at each start.
    void addTransactionObserver(PaymentTransactionObserver* observer);
    void removeTransactionObserver(PaymentTransactionObserver* observer);

    // Traced "store pay ID"; the transaction comes to the observers on a later turn (purchasing
    // first when the store asks the person, who answers through the input script).
    void addPayment(const Payment& payment);
    // Traced "store restore"; later, the restored transactions (state 3) and the end, or a failure.
    void restoreCompletedTransactions();
    // Traced "store finish TID": gone from the unfinished ones; a purchase is remembered for restores.
    void finishTransaction(const PaymentTransaction& transaction);

    // Unfinished transactions, oldest first.
    const std::vector<PaymentTransaction>& transactions() const { return m_unfinished; }
    // The payments waiting for the input script's answer (approval "ask").
    size_t waitingPayments() const { return m_waiting.size(); }
    // Answers the oldest waiting payment with that state and error (a receipt when purchased or
    // restored); false when none waits.
    bool answerWaitingPayment(int state, std::optional<Error> error);

private:
    std::optional<plat::foundation::Value> configuration() const;
    PaymentTransaction newTransaction(const std::string& productIdentifier, int state,
                                      std::optional<Error> error, const plat::foundation::Value* outcome);
    void deliver(std::vector<PaymentTransaction> transactions, PaymentTransactionObserver* only = nullptr);
    void later(std::function<void()> fn);
    void loadState();
    void saveState() const;

    const plat::foundation::Container* container() const { return m_container ? &*m_container : nullptr; }

    std::optional<plat::foundation::Container> m_container;
    std::vector<PaymentTransactionObserver*> m_observers;
    std::vector<PaymentTransaction> m_unfinished;
    std::vector<std::string> m_purchased;
    std::vector<PaymentTransaction> m_waiting;
    int64_t m_counter = 0;
};

}  // namespace plat::store
