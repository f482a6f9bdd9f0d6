// The ad models from a response entry of any shape: built, described, and each text panel and
// action read, whatever types the server sent.
#include "fuzz/FuzzSupport.h"
#include "orbad/ads/OrbadAd.h"
#include "orbad/ads/OrbadAdDump.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace orbad;
    std::optional<Value> entry = OrbadJSON::decodeData(Data(data, data + size));
    if (!entry) return 0;
    std::shared_ptr<OrbadAd> ad = OrbadAd::adWithJSONDictionary(*entry);
    if (!ad) __builtin_trap();  // a model is never refused
    describeAd(*ad);
    // The entry itself as the creative, and as an action.
    OrbadAd::adWithJSONDictionary(Value(Value::Dictionary{{"creative", *entry}}));
    OrbadAdAction::adActionWithJSONDictionary(*entry);
    return 0;
}
