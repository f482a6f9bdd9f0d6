// The queues of scores and achievement updates the network has not accepted yet, kept in
// Documents/DK_GAMECENTER_SAVED_INFO.plist: an XML property list whose dictionary holds, per
// player, "<playerID>:Scores" (array of {category (omitted when none), value, date}) and
// "<playerID>:Cheese" (array of {identifier, percentComplete}), oldest first. Keys are built by
// appending, never parsed (a player id may hold ":").
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/services/gamenet/GameNetwork.h"

namespace dk::player::gamecenter {

inline constexpr const char* kPendingFileName = "DK_GAMECENTER_SAVED_INFO.plist";

struct PendingQueues {
    std::vector<plat::gamenet::Score> scores;
    std::vector<plat::gamenet::Achievement> achievements;
};

// `playerID`'s queues; empty when the file or the player's keys are missing, and when the file
// is damaged (said in one log line; the next write sets it aside).
PendingQueues readPendingQueues(const std::string& path, const std::string& playerID);

// Replaces `playerID`'s two keys and keeps every other; the file is replaced whole (a failed
// write leaves the old one). A damaged file is renamed to PATH.damaged first.
bool writePendingQueues(const std::string& path, const std::string& playerID, const PendingQueues& queues);

// A score from the script, as the network takes it: truncated toward zero, infinities and values
// out of range clamped to the int64 limits; NaN gives nothing to report.
std::optional<int64_t> scoreValue(float score);

}  // namespace dk::player::gamecenter
