#include "player/plugins/gamecenter/DKGameCenterPendingFile.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>

#include "platform/foundation/Log.h"
#include "platform/foundation/PropertyList.h"

namespace dk::player::gamecenter {

using plat::foundation::Value;

namespace {

std::string scoresKey(const std::string& playerID) {
    return playerID + ":Scores";
}
std::string achievementsKey(const std::string& playerID) {
    return playerID + ":Cheese";
}

// The file's dictionary; an empty one when there is no file; nullopt when it is damaged.
std::optional<Value::Dictionary> readDictionary(const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) return Value::Dictionary{};
    plat::foundation::Error error;
    std::optional<Value> file = plat::foundation::readPropertyList(path, &error);
    if (!file || !file->dictionary()) return std::nullopt;
    return std::move(*file->dictionary());
}

}  // namespace

PendingQueues readPendingQueues(const std::string& path, const std::string& playerID) {
    PendingQueues queues;
    const std::optional<Value::Dictionary> file = readDictionary(path);
    if (!file) {
        plat::foundation::log("DKGameCenterSupport: %s is damaged; pending scores and achievements start empty",
                              path.c_str());
        return queues;
    }
    if (auto found = file->find(scoresKey(playerID)); found != file->end() && found->second.array())
        for (const Value& entry : *found->second.array()) {
            const Value* value = entry.find("value");
            if (!value || (value->type() != Value::Type::Integer && value->type() != Value::Type::Real)) continue;
            plat::gamenet::Score score;
            if (const Value* category = entry.find("category"); category && category->string())
                score.category = *category->string();
            score.value = value->intValue();
            if (const Value* date = entry.find("date"); date && date->date()) score.date = date->date()->seconds;
            queues.scores.push_back(std::move(score));
        }
    if (auto found = file->find(achievementsKey(playerID)); found != file->end() && found->second.array())
        for (const Value& entry : *found->second.array()) {
            const Value* identifier = entry.find("identifier");
            const Value* percent = entry.find("percentComplete");
            if (!identifier || !identifier->string() || !percent) continue;
            queues.achievements.push_back({*identifier->string(), percent->doubleValue()});
        }
    return queues;
}

bool writePendingQueues(const std::string& path, const std::string& playerID, const PendingQueues& queues) {
    std::optional<Value::Dictionary> file = readDictionary(path);
    if (!file) {
        // Kept for whoever wants to look at it, never silently replaced.
        const std::string aside = path + ".damaged";
        if (std::rename(path.c_str(), aside.c_str()) != 0) {
            plat::foundation::log("DKGameCenterSupport: cannot set %s aside: %s", path.c_str(), std::strerror(errno));
            return false;
        }
        file.emplace();
    }
    Value::Array scores;
    for (const plat::gamenet::Score& score : queues.scores) {
        Value::Dictionary entry{{"value", score.value}, {"date", plat::foundation::Date{score.date}}};
        if (score.category) entry.emplace("category", *score.category);
        scores.emplace_back(std::move(entry));
    }
    Value::Array achievements;
    for (const plat::gamenet::Achievement& achievement : queues.achievements)
        achievements.emplace_back(
            Value::Dictionary{{"identifier", achievement.identifier}, {"percentComplete", achievement.percentComplete}});
    (*file)[scoresKey(playerID)] = std::move(scores);
    (*file)[achievementsKey(playerID)] = std::move(achievements);
    plat::foundation::Error error;
    if (!plat::foundation::writePropertyList(path, Value(std::move(*file)), plat::foundation::PropertyListFormat::Xml,
                                             &error)) {
        plat::foundation::log("DKGameCenterSupport: %s", error.message.c_str());
        return false;
    }
    return true;
}

std::optional<int64_t> scoreValue(float score) {
    if (std::isnan(score)) return std::nullopt;
    const double value = std::trunc(static_cast<double>(score));
    // 2^63 is the first float above the range; the lowest limit is itself a float.
    if (value >= 9223372036854775808.0) return std::numeric_limits<int64_t>::max();
    if (value <= -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(value);
}

}  // namespace dk::player::gamecenter
