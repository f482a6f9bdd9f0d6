// The page-view tracker's value records: an event before it is stored, a stored hit, and the
// e-commerce, referrer and custom-variable records an event carries.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

constexpr unsigned kPSMaxCustomVariables = 5;
constexpr unsigned kPSVisitorScope = 1;
constexpr unsigned kPSSessionScope = 2;
constexpr unsigned kPSPageScope = 3;

// Categories that mark an event as another kind of hit (compared by value).
inline constexpr std::string_view kPSPageviewEventCategory = "__##GOOGLEPAGEVIEW##__";
inline constexpr std::string_view kPSTransactionEventCategory = "__##GOOGLETRANSACTION##__";
inline constexpr std::string_view kPSItemEventCategory = "__##GOOGLEITEM##__";

struct PSCustomVariable {
    PSCustomVariable(unsigned index, std::string name, std::string value, unsigned scope)
        : index(index), name(std::move(name)), value(std::move(value)), scope(scope) {}
    unsigned index;
    std::string name;
    std::string value;
    unsigned scope;  // kPSVisitorScope, kPSSessionScope or kPSPageScope
};

// Slots 1..kPSMaxCustomVariables, each empty or holding one variable.
class PSCustomVariableBuffer {
public:
    // False for a variable whose index is no slot; otherwise it replaces what the slot held.
    bool addCustomVariable(const PSCustomVariable& variable);
    const PSCustomVariable* customVariableAt(unsigned slot) const;
    bool isSlotAvailable(unsigned slot) const;
    bool hasCustomVariables() const;

private:
    static bool isSlot(unsigned slot) { return slot >= 1 && slot <= kPSMaxCustomVariables; }
    std::array<std::optional<PSCustomVariable>, kPSMaxCustomVariables + 1> m_slots;
};

struct PSItem {
    PSItem(std::string orderID, std::string itemSKU, std::optional<std::string> itemName,
           std::optional<std::string> itemCategory, double itemPrice, int itemCount)
        : orderID(std::move(orderID)), itemSKU(std::move(itemSKU)), itemName(std::move(itemName)),
          itemCategory(std::move(itemCategory)), itemPrice(itemPrice), itemCount(itemCount) {}
    std::string orderID;
    std::string itemSKU;
    std::optional<std::string> itemName;
    std::optional<std::string> itemCategory;
    double itemPrice;
    int itemCount;
};

struct PSTransaction {
    PSTransaction(std::string orderID, std::optional<std::string> storeName, double totalCost, double totalTax,
                  double shippingCost)
        : orderID(std::move(orderID)), storeName(std::move(storeName)), totalCost(totalCost), totalTax(totalTax),
          shippingCost(shippingCost) {}
    std::string orderID;
    std::optional<std::string> storeName;
    double totalCost;
    double totalTax;
    double shippingCost;
};

// A campaign referrer: its formatted text, and the visit that first carried it (0 until then).
struct PSReferrer {
    std::string referrer;
    int timestamp = 0;
    int visit = 0;
    int index = 0;
};

// A stored hit: the request path and its row in the queue.
class PSHit {
public:
    PSHit(std::string hitString, std::uint64_t hitId) : m_hitString(std::move(hitString)), m_hitId(hitId) {}
    const std::string& hitString() const { return m_hitString; }
    void setHitString(std::string hitString) { m_hitString = std::move(hitString); }
    std::uint64_t hitId() const { return m_hitId; }

private:
    std::string m_hitString;
    std::uint64_t m_hitId;
};

// One page view, event, transaction or item before it is stored; -1 marks what the store stamps.
struct PSEvent {
    PSEvent(std::string category, std::string action, std::optional<std::string> label, int value)
        : category(std::move(category)), action(std::move(action)), label(std::move(label)), value(value) {}
    PSEvent(std::int64_t eventID, int randomVal, int timestampFirst, int timestampPrevious, int timestampCurrent,
            int visits, std::string category, std::string action, std::optional<std::string> label, int value)
        : eventID(eventID), randomVal(randomVal), timestampFirst(timestampFirst),
          timestampPrevious(timestampPrevious), timestampCurrent(timestampCurrent), visits(visits),
          category(std::move(category)), action(std::move(action)), label(std::move(label)), value(value) {}

    bool isSessionInitialized() const { return timestampFirst >= 0; }

    std::int64_t eventID = -1;
    int visitorId = -1;
    int randomVal = -1;
    int timestampFirst = -1;
    int timestampPrevious = -1;
    int timestampCurrent = -1;
    int visits = -1;
    bool anonymizeIp = false;
    std::string category;
    std::string action;  // a page view's path
    std::optional<std::string> label;
    int value;  // negative: none
    std::optional<PSCustomVariableBuffer> customVariableBuffer;
    std::optional<PSItem> item;
    std::optional<PSTransaction> transaction;
};
