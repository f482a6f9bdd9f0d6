#include "kiosk/udid/SharedUDID.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "platform/crypto/Crypto.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Pasteboard.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/sys/Random.h"
#include "platform/sys/Uuid.h"

using plat::foundation::Error;
using plat::foundation::Pasteboard;
using plat::foundation::Value;

namespace {

constexpr const char* kDefaultsKey = "SharedUDID";
constexpr const char* kAppUIDKey = "SharedUDID_appUID";
constexpr const char* kCreatedKey = "SharedUDID_createdTS";
constexpr const char* kSlotKey = "SharedUDID_slot";
constexpr const char* kOptOutKey = "SharedUDID_optOutTS";

// The identifier as read with these defaults: a second start on another home reads its own record.
std::optional<std::string> g_cached;
plat::foundation::UserDefaults* g_cachedFrom = nullptr;
std::function<double()> g_now;

double now() { return g_now ? g_now() : plat::foundation::Clock::wallSeconds(); }

void report(Error* error, int code, std::string text) {
    if (!error) return;
    error->domain = SharedUDID::kScheme;
    error->code = code;
    error->message = text;
    error->userInfo = Value(Value::Dictionary{{"description", Value(std::move(text))}});
}

const std::string* stringIn(const Value::Dictionary& dict, const char* key) {
    auto it = dict.find(key);
    return it == dict.end() ? nullptr : it->second.string();
}

// Slots are written by any application on the device: only an identifier of the scheme's own
// shape (40 lower-case hex digits) may vote, or one slot could put any text in every request.
bool isIdentifier(const std::string& text) {
    return text.size() == 40 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

}  // namespace

void SharedUDID::setWallClock(std::function<double()> now) { g_now = std::move(now); }

Value::Dictionary SharedUDID::dictFromPasteboard(const std::string& pasteboardName) {
    std::unique_ptr<Pasteboard> board = Pasteboard::named(pasteboardName, false);
    std::optional<plat::foundation::Data> data = board ? board->dataForType(kScheme) : std::nullopt;
    if (!data) return {};
    std::optional<Value> value =
        plat::foundation::parsePropertyList(std::string_view(reinterpret_cast<const char*>(data->data()), data->size()));
    if (!value || !value->dictionary()) return {};
    return *value->dictionary();
}

bool SharedUDID::setDictForPasteboard(const Value::Dictionary& dict, const std::string& pasteboardName) {
    std::unique_ptr<Pasteboard> board = Pasteboard::named(pasteboardName, true);
    std::optional<std::string> bytes =
        plat::foundation::serializePropertyList(Value(dict), plat::foundation::PropertyListFormat::Binary);
    return board && bytes && board->setData(plat::foundation::Data(bytes->begin(), bytes->end()), kScheme);
}

std::string SharedUDID::generateFreshSharedUDID() {
    char unique[128];
    std::snprintf(unique, sizeof unique, "%s-%d-%.0f", plat::sys::newUUIDString().c_str(),
                  static_cast<int>(getpid()), now() * 1000);
    std::string out = plat::crypto::hex(plat::crypto::md5(unique).value_or(plat::crypto::Bytes(16, 0)));
    char tail[16];
    // The platform's draw taken modulo 4,294,967,295: never ffffffff.
    std::snprintf(tail, sizeof tail, "%08llx", static_cast<unsigned long long>(plat::sys::randomUniform(0xFFFFFFFFu)));
    return out + tail;
}

std::string SharedUDID::value() { return valueWithError(nullptr); }

namespace {

// What this application keeps of the scheme in its own defaults.
struct AppRecord {
    std::string appUID;
    std::optional<Value::Dictionary> dict;
    std::optional<std::string> storedId, slot;
    std::optional<Value> optOutDate;
};

AppRecord readAppRecord(plat::foundation::UserDefaults& defaults) {
    AppRecord app;
    // Only the top level: the dictionary's own copy is never consulted, so opting out keeps
    // working through the opt-out date stored beside it.
    if (std::optional<std::string> stored = defaults.stringForKey(kAppUIDKey))
        app.appUID = *stored;
    else
        app.appUID = plat::sys::newUUIDString();
    if (std::optional<Value> stored = defaults.objectForKey(kDefaultsKey); stored && stored->dictionary()) {
        app.dict = *stored->dictionary();
        if (const std::string* s = stringIn(*app.dict, kDefaultsKey)) app.storedId = *s;
        if (const std::string* s = stringIn(*app.dict, kSlotKey)) app.slot = *s;
        if (auto it = app.dict->find(kOptOutKey); it != app.dict->end()) app.optOutDate = it->second;
    }
    return app;
}

// What the device's slots say: the identifier most of them hold, the first free slot, and this
// application's own slot and opt-out as its slot records them.
struct SlotVote {
    std::optional<std::string> mostFrequent, freeSlot;
    bool optedOut = false;
};

SlotVote readSlots(AppRecord& app) {
    SlotVote vote;
    vote.optedOut = app.optOutDate.has_value();
    std::vector<std::pair<std::string, int>> counts;  // in order of first sight
    for (int i = 0; i < SharedUDID::kSlotCount; ++i) {
        const std::string name = SharedUDID::kSlotStem + std::to_string(i);
        std::unique_ptr<Pasteboard> board = Pasteboard::named(name, false);
        Value::Dictionary dict = board ? SharedUDID::dictFromPasteboard(name) : Value::Dictionary{};
        const std::string* id = stringIn(dict, kDefaultsKey);
        if (id && !isIdentifier(*id)) id = nullptr;
        if (!board || !id) {
            if (!vote.freeSlot) vote.freeSlot = name;
        } else {
            auto it = std::find_if(counts.begin(), counts.end(), [&](const auto& c) { return c.first == *id; });
            if (it == counts.end())
                counts.emplace_back(*id, 1);
            else
                ++it->second;
        }
        if (const std::string* uid = stringIn(dict, kAppUIDKey); uid && *uid == app.appUID) {
            app.slot = name;
            auto opt = dict.find(kOptOutKey);
            vote.optedOut = vote.optedOut && opt != dict.end();
            if (vote.optedOut) app.optOutDate = opt->second;
        }
    }
    // Ties go to the last in slot order: a stable ascending sort, then the last one.
    std::stable_sort(counts.begin(), counts.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
    if (!counts.empty()) vote.mostFrequent = counts.back().first;
    return vote;
}

}  // namespace

std::string SharedUDID::valueWithError(Error* error) {
    plat::foundation::UserDefaults* defaults = plat::foundation::UserDefaults::standard();
    if (g_cached && g_cachedFrom == defaults) {
        report(error, 0, "SharedUDID in cache from first call");
        return *g_cached;
    }
    AppRecord app = readAppRecord(*defaults);
    const SlotVote vote = readSlots(app);

    std::string result;
    bool discrepancy = false, save = false;
    if (app.storedId) {
        result = *app.storedId;
        discrepancy = vote.mostFrequent && *vote.mostFrequent != *app.storedId;
    } else {
        result = vote.mostFrequent ? *vote.mostFrequent : generateFreshSharedUDID();
        if (!app.dict) {
            app.dict = Value::Dictionary{{kDefaultsKey, Value(result)},
                                         {kAppUIDKey, Value(app.appUID)},
                                         {kCreatedKey, Value(plat::foundation::Date{now()})}};
            save = true;
        }
    }
    // Written back: this application's record into the first free slot, when it has none elsewhere.
    if (vote.freeSlot && (!app.slot || *vote.freeSlot == *app.slot)) {
        std::unique_ptr<Pasteboard> board = Pasteboard::named(*vote.freeSlot, true);
        if (board) board->setPersistent(true);
        if (app.dict) {
            (*app.dict)[kSlotKey] = Value(*vote.freeSlot);
            save = true;
            setDictForPasteboard(*app.dict, *vote.freeSlot);
        }
    }
    if (save) {
        defaults->setObject(Value(*app.dict), kDefaultsKey);
        defaults->synchronize();
    }
    if (vote.optedOut) {
        report(error, 1,
               "Application with unique id " + app.appUID + " is opted-out from SharedUDID as of " +
                   app.optOutDate->description());
        result = std::string(40, '0');
    } else if (discrepancy) {
        report(error, 2,
               "Found a discrepancy between stored SharedUDID (reliable) and redundant copies; one of the apps on "
               "the device is most likely corrupting the SharedUDID protocol");
    } else {
        report(error, 0, "SharedUDID succesfully retrieved");
    }
    g_cached = result;
    g_cachedFrom = defaults;
    return result;
}

void SharedUDID::setOptOut(bool optOut) {
    value();
    plat::foundation::UserDefaults* defaults = plat::foundation::UserDefaults::standard();
    Value::Dictionary dict;
    if (std::optional<Value> stored = defaults->objectForKey(kDefaultsKey); stored && stored->dictionary())
        dict = *stored->dictionary();
    if (optOut)
        dict[kOptOutKey] = Value(plat::foundation::Date{now()});
    else
        dict.erase(kOptOutKey);
    defaults->setObject(Value(dict), kDefaultsKey);
    defaults->synchronize();
    g_cached.reset();
}
