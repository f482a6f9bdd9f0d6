#include "platform/services/store/Store.h"

#include <algorithm>
#include <cstdio>

#include "platform/foundation/FileSystem.h"
#include "platform/foundation/LocalServices.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/RunLoop.h"

namespace plat::store {

using plat::foundation::Value;

namespace {

plat::foundation::TraceCategory kStoreTrace("store");

const char* const kNoStore = "Cannot connect to the store.";

Error storeError(int code, std::string description) {
    return Error{kStoreErrorDomain, code, std::move(description), {}};
}

const std::string* stringAt(const Value* dictionary, std::string_view key) {
    const Value* v = dictionary ? dictionary->find(key) : nullptr;
    return v ? v->string() : nullptr;
}

// What an outcome's "state" says: a name or a raw integer; purchased when absent or unknown.
int outcomeState(const Value* outcome) {
    const Value* state = outcome ? outcome->find("state") : nullptr;
    if (!state) return kTransactionPurchased;
    if (state->type() == Value::Type::Integer) return static_cast<int>(state->intValue());
    const std::string* name = state->string();
    if (name && *name == "failed") return kTransactionFailed;
    if (name && *name == "cancelled") return kTransactionFailed;
    return kTransactionPurchased;
}

// The error an outcome gives its transaction: always for a failure, otherwise only when the
// outcome names a code or a message.
std::optional<Error> outcomeError(const Value* outcome, int state) {
    const Value* code = outcome ? outcome->find("code") : nullptr;
    const std::string* message = stringAt(outcome, "message");
    const std::string* name = stringAt(outcome, "state");
    const bool cancelled = name && *name == "cancelled";
    if (state != kTransactionFailed && !code && !message) return std::nullopt;
    const int errorCode = code        ? static_cast<int>(code->intValue())
                          : cancelled ? kStoreErrorPaymentCancelled
                                      : kStoreErrorUnknown;
    return storeError(errorCode, message     ? *message
                                 : cancelled ? "The payment was cancelled."
                                             : "The payment failed.");
}

Value errorValue(const Error& error) {
    return Value::Dictionary{{"domain", error.domain}, {"code", error.code}, {"message", error.message}};
}

Value transactionValue(const PaymentTransaction& t) {
    Value::Dictionary d{{"id", t.transactionIdentifier},
                        {"product", t.payment.productIdentifier},
                        {"state", t.transactionState},
                        {"receipt", t.transactionReceipt}};
    if (t.error) d.emplace("error", errorValue(*t.error));
    return d;
}

std::optional<PaymentTransaction> transactionFrom(const Value& v) {
    const std::string* id = stringAt(&v, "id");
    const std::string* product = stringAt(&v, "product");
    const Value* state = v.find("state");
    if (!id || !product || !state) return std::nullopt;
    PaymentTransaction t;
    t.transactionIdentifier = *id;
    t.payment.productIdentifier = *product;
    t.transactionState = static_cast<int>(state->intValue());
    if (const Value* receipt = v.find("receipt"); receipt && receipt->data())
        t.transactionReceipt = *receipt->data();
    if (const Value* error = v.find("error"); error && error->dictionary()) {
        const std::string* domain = stringAt(error, "domain");
        const std::string* message = stringAt(error, "message");
        const Value* code = error->find("code");
        t.error = Error{domain ? *domain : kStoreErrorDomain,
                        code ? static_cast<int>(code->intValue()) : 0,
                        message ? *message : "",
                        {}};
    }
    return t;
}

// The outcome's receipt (text or data), else the text "receipt-TID".
Data receiptFor(const std::string& transactionIdentifier, const Value* outcome) {
    const Value* receipt = outcome && outcome->dictionary() ? outcome->find("receipt") : nullptr;
    if (receipt && receipt->data()) return *receipt->data();
    const std::string text =
        receipt && receipt->string() ? *receipt->string() : "receipt-" + transactionIdentifier;
    return Data(text.begin(), text.end());
}

std::string stateLine(const PaymentTransaction& t) {
    return "transaction " + t.transactionIdentifier + " " + t.payment.productIdentifier + " " +
           std::to_string(t.transactionState);
}

}  // namespace

// ---- products requests ----

std::shared_ptr<ProductsRequest> ProductsRequest::create(std::vector<std::string> productIdentifiers) {
    return std::make_shared<ProductsRequest>(std::move(productIdentifiers));
}

ProductsRequest::ProductsRequest(std::vector<std::string> productIdentifiers)
    : m_identifiers(std::move(productIdentifiers)) {
    std::sort(m_identifiers.begin(), m_identifiers.end());
    m_identifiers.erase(std::unique(m_identifiers.begin(), m_identifiers.end()), m_identifiers.end());
}

void ProductsRequest::start() {
    plat::foundation::trace(kStoreTrace, [&] {
        std::string line = "products";
        for (const std::string& id : m_identifiers) (line += ' ') += id;
        return line;
    });
    plat::foundation::RunLoop::main().perform([self = shared_from_this()] {
        ProductsRequestDelegate* delegate = self->m_delegate;
        if (!delegate) return;
        const std::optional<Value> config = plat::foundation::readLocalService(kStoreService);
        if (!config)
            return delegate->requestDidFailWithError(*self, storeError(kStoreErrorUnknown, kNoStore));
        if (const std::string* failure = stringAt(&*config, "productsError"))
            return delegate->requestDidFailWithError(*self, storeError(kStoreErrorUnknown, *failure));
        const Value* listed = config->find("products");
        ProductsResponse response;
        for (const std::string& id : self->m_identifiers) {
            const Value* entry = listed ? listed->find(id) : nullptr;
            if (!entry || !entry->dictionary()) {
                response.invalidProductIdentifiers.push_back(id);
                continue;
            }
            Product product{id, {}, {}};
            if (const std::string* title = stringAt(entry, "title")) product.localizedTitle = *title;
            if (const std::string* price = stringAt(entry, "price")) product.price = *price;
            response.products.push_back(std::move(product));
        }
        delegate->productsRequestDidReceiveResponse(*self, response);
    });
}

// ---- the payment queue ----

PaymentQueue& PaymentQueue::defaultQueue() {
    // Never destroyed: the input script's commands and posted answers may outlive any order of
    // static destruction.
    static PaymentQueue* queue = [] {
        const plat::foundation::Container* main = plat::foundation::Container::main();
        auto* made = new PaymentQueue(main ? std::optional(*main) : std::nullopt);
        const auto answer = [made](
                                int state,
                                std::function<std::optional<Error>(const std::vector<std::string>&)> error) {
            return [made, state, error](const std::vector<std::string>& arguments) -> std::function<void()> {
                if (made->waitingPayments() == 0) return nullptr;
                return
                    [made, state, error, arguments] { made->answerWaitingPayment(state, error(arguments)); };
            };
        };
        using Args = const std::vector<std::string>&;
        plat::foundation::registerServiceCommand(
            "store.approve", answer(kTransactionPurchased, [](Args) { return std::optional<Error>(); }));
        plat::foundation::registerServiceCommand(
            "store.cancel", answer(kTransactionFailed, [](Args) {
                return std::optional<Error>(
                    storeError(kStoreErrorPaymentCancelled, "The payment was cancelled."));
            }));
        plat::foundation::registerServiceCommand(
            "store.fail", answer(kTransactionFailed, [](Args a) {
                return std::optional<Error>(
                    storeError(a.empty() ? 0 : std::atoi(a[0].c_str()), a.size() > 1 ? a[1] : ""));
            }));
        plat::foundation::registerServiceCommand("store.state", [made](Args a) -> std::function<void()> {
            if (made->waitingPayments() == 0) return nullptr;
            const int state = a.empty() ? 0 : std::atoi(a[0].c_str());
            return [made, state] {
                made->answerWaitingPayment(
                    state, state == kTransactionFailed
                               ? std::optional<Error>(storeError(kStoreErrorUnknown, "The payment failed."))
                               : std::nullopt);
            };
        });
        return made;
    }();
    return *queue;
}

bool PaymentQueue::canMakePayments() {
    const std::optional<Value> config = plat::foundation::readLocalService(kStoreService);
    if (!config) return false;
    const Value* can = config->find("canMakePayments");
    return !can || can->boolValue();
}

PaymentQueue::PaymentQueue(std::optional<plat::foundation::Container> container)
    : m_container(std::move(container)) {
    loadState();
}

PaymentQueue::~PaymentQueue() {
    plat::foundation::RunLoop::main().cancelPerforms(this);
}

std::optional<Value> PaymentQueue::configuration() const {
    return plat::foundation::readLocalService(kStoreService, container());
}

void PaymentQueue::later(std::function<void()> fn) {
    plat::foundation::RunLoop::main().performAfter(0, this, std::move(fn));
}

void PaymentQueue::addTransactionObserver(PaymentTransactionObserver* observer) {
    if (!observer || std::find(m_observers.begin(), m_observers.end(), observer) != m_observers.end()) return;
    m_observers.push_back(observer);
    if (!m_unfinished.empty()) later([this, observer] { deliver(m_unfinished, observer); });
}

void PaymentQueue::removeTransactionObserver(PaymentTransactionObserver* observer) {
    std::erase(m_observers, observer);
}

void PaymentQueue::deliver(std::vector<PaymentTransaction> transactions, PaymentTransactionObserver* only) {
    if (only && std::find(m_observers.begin(), m_observers.end(), only) == m_observers.end()) return;
    for (const PaymentTransaction& t : transactions) plat::foundation::trace(kStoreTrace, stateLine(t));
    // An observer may remove itself or others while it hears: each is asked again before its turn.
    const std::vector<PaymentTransactionObserver*> observers = only ? std::vector{only} : m_observers;
    for (PaymentTransactionObserver* observer : observers)
        if (std::find(m_observers.begin(), m_observers.end(), observer) != m_observers.end())
            observer->updatedTransactions(*this, transactions);
}

PaymentTransaction PaymentQueue::newTransaction(const std::string& productIdentifier, int state,
                                                std::optional<Error> error, const Value* outcome) {
    PaymentTransaction t;
    t.transactionIdentifier = std::to_string(++m_counter);
    t.payment.productIdentifier = productIdentifier;
    t.transactionState = state;
    t.error = std::move(error);
    if (state == kTransactionPurchased || state == kTransactionRestored)
        t.transactionReceipt = receiptFor(t.transactionIdentifier, outcome);
    return t;
}

void PaymentQueue::addPayment(const Payment& payment) {
    plat::foundation::trace(kStoreTrace, "pay " + payment.productIdentifier);
    const std::optional<Value> config = configuration();
    const Value* outcomes = config ? config->find("outcomes") : nullptr;
    const Value* outcome = outcomes ? outcomes->find(payment.productIdentifier) : nullptr;
    if (outcome && !outcome->dictionary()) outcome = nullptr;
    PaymentTransaction t;
    if (!config) {
        t = newTransaction(payment.productIdentifier, kTransactionFailed,
                           storeError(kStoreErrorUnknown, kNoStore), nullptr);
    } else if (const Value* can = config->find("canMakePayments"); can && !can->boolValue()) {
        t = newTransaction(
            payment.productIdentifier, kTransactionFailed,
            storeError(kStoreErrorPaymentNotAllowed, "Payments are not allowed on this device."), nullptr);
    } else if (const std::string* approval = stringAt(&*config, "approval"); approval && *approval == "ask") {
        t = newTransaction(payment.productIdentifier, kTransactionPurchasing, std::nullopt, nullptr);
        m_waiting.push_back(t);
    } else {
        const int state = outcomeState(outcome);
        t = newTransaction(payment.productIdentifier, state, outcomeError(outcome, state), outcome);
    }
    if (t.transactionState != kTransactionPurchasing) m_unfinished.push_back(t);
    saveState();
    later([this, t] { deliver({t}); });
}

bool PaymentQueue::answerWaitingPayment(int state, std::optional<Error> error) {
    if (m_waiting.empty()) return false;
    PaymentTransaction t = m_waiting.front();
    t.transactionState = state;
    t.error = std::move(error);
    if (state == kTransactionPurchased || state == kTransactionRestored) {
        const std::optional<Value> config = configuration();
        const Value* outcomes = config ? config->find("outcomes") : nullptr;
        t.transactionReceipt = receiptFor(t.transactionIdentifier,
                                          outcomes ? outcomes->find(t.payment.productIdentifier) : nullptr);
    }
    // A payment answered "purchasing" again still waits.
    if (state != kTransactionPurchasing) {
        m_waiting.erase(m_waiting.begin());
        m_unfinished.push_back(t);
        saveState();
    }
    later([this, t] { deliver({t}); });
    return true;
}

void PaymentQueue::restoreCompletedTransactions() {
    plat::foundation::trace(kStoreTrace, "restore");
    const std::optional<Value> config = configuration();
    const std::string* failure = config ? stringAt(&*config, "restoreError") : nullptr;
    if (!config || failure) {
        const Error error = storeError(kStoreErrorUnknown, failure ? *failure : kNoStore);
        later([this, error] {
            for (PaymentTransactionObserver* observer : std::vector(m_observers))
                observer->restoreCompletedTransactionsFailedWithError(*this, error);
        });
        return;
    }
    std::vector<std::string> ids;
    if (const Value* restorable = config->find("restorable"); restorable && restorable->array())
        for (const Value& id : *restorable->array())
            if (id.string()) ids.push_back(*id.string());
    ids.insert(ids.end(), m_purchased.begin(), m_purchased.end());
    std::vector<PaymentTransaction> restored;
    for (const std::string& id : ids) {
        restored.push_back(newTransaction(id, kTransactionRestored, std::nullopt, nullptr));
        m_unfinished.push_back(restored.back());
    }
    saveState();
    later([this, restored] {
        if (!restored.empty()) deliver(restored);
        for (PaymentTransactionObserver* observer : std::vector(m_observers))
            observer->restoreCompletedTransactionsFinished(*this);
    });
}

void PaymentQueue::finishTransaction(const PaymentTransaction& transaction) {
    plat::foundation::trace(kStoreTrace, "finish " + transaction.transactionIdentifier);
    const auto found =
        std::find_if(m_unfinished.begin(), m_unfinished.end(), [&](const PaymentTransaction& t) {
            return t.transactionIdentifier == transaction.transactionIdentifier;
        });
    if (found == m_unfinished.end()) return;
    const std::string& product = found->payment.productIdentifier;
    if (found->transactionState == kTransactionPurchased &&
        std::find(m_purchased.begin(), m_purchased.end(), product) == m_purchased.end())
        m_purchased.push_back(product);
    m_unfinished.erase(found);
    saveState();
}

// ---- the store's own state ----

void PaymentQueue::loadState() {
    const std::string path = plat::foundation::localServicePath(kStoreStateFile, container());
    if (path.empty()) return;
    plat::foundation::Error error;
    const std::optional<Value> state = plat::foundation::readPropertyList(path, &error);
    if (!state || !state->dictionary()) {
        if (state || error.code != plat::foundation::kFileReadNoSuchFileError) {
            // Kept aside rather than written over: a purchase in it may still be owed.
            std::rename(path.c_str(), (path + ".bad").c_str());
            plat::foundation::log("store: %s is damaged; moved to %s.bad, starting empty", path.c_str(),
                                  path.c_str());
        }
        return;
    }
    if (const Value* counter = state->find("transactionCounter")) m_counter = counter->intValue();
    if (const Value* unfinished = state->find("unfinished"); unfinished && unfinished->array())
        for (const Value& v : *unfinished->array())
            if (std::optional<PaymentTransaction> t = transactionFrom(v))
                m_unfinished.push_back(std::move(*t));
    if (const Value* purchased = state->find("purchased"); purchased && purchased->array())
        for (const Value& v : *purchased->array())
            if (v.string()) m_purchased.push_back(*v.string());
}

void PaymentQueue::saveState() const {
    const std::string path = plat::foundation::localServicePath(kStoreStateFile, container());
    if (path.empty()) return;
    Value::Array unfinished, purchased;
    for (const PaymentTransaction& t : m_unfinished) unfinished.push_back(transactionValue(t));
    for (const std::string& id : m_purchased) purchased.push_back(id);
    const Value state = Value::Dictionary{{"transactionCounter", m_counter},
                                          {"unfinished", std::move(unfinished)},
                                          {"purchased", std::move(purchased)}};
    plat::foundation::Error error;
    plat::foundation::makeDirectories(path.substr(0, path.rfind('/')));
    if (!plat::foundation::writePropertyList(path, state, plat::foundation::PropertyListFormat::Xml, &error))
        plat::foundation::log("store: %s", error.message.c_str());
}

}  // namespace plat::store
