// The cross-promotion feed's reader: JSON (comments allowed) into one flat dictionary whose values
// are all texts, numbers kept as written. Keys of maps nested outside arrays land at the top;
// each map inside an array becomes a dictionary of that array; scalars directly inside an array,
// arrays inside arrays, an empty key and a top level that is no map fail the whole feed.
//
// This is the one file that knows yajl 2.1 here (yajl_complete_parse, numbers as text).
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/foundation/Value.h"

class DKDrovikNetworkDataParser {
public:
    // The dictionary, or nullopt when the text is not such a feed. Logs "ad data parse success!"
    // or "ad data parse failed".
    std::optional<plat::foundation::Value> decodeResponse(const std::vector<std::uint8_t>& data) const;
};
