// The player's achievements and the game's achievement descriptions, cached by identifier, for
// the Game Center plugin. Made with std::make_shared: the network's completions hold it weakly.
// Main thread.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/services/gamenet/GameNetwork.h"

class DKGameCenterAchievementSupportDelegate {
public:
    virtual ~DKGameCenterAchievementSupportDelegate() = default;
    // Both caches have been loaded.
    virtual void achievementSupportReady() = 0;
};

class DKGameCenterAchievementSupport : public std::enable_shared_from_this<DKGameCenterAchievementSupport> {
public:
    using Achievements = std::map<std::string, plat::gamenet::Achievement>;
    using Descriptions = std::map<std::string, plat::gamenet::AchievementDescription>;

    // Not owned: the delegate clears itself before it goes.
    void setDelegate(DKGameCenterAchievementSupportDelegate* delegate) { m_delegate = delegate; }

    // Asks the network unless the cache exists and `force` is false.
    void loadAchievements(bool force);
    void loadAchievementDescriptions(bool force);
    // The network forgets the player's progress; so does the cache on success.
    void resetAchievements();
    void clearAchievementsCache();
    void clearDescriptionsCache();

    // The cached achievement; else, when the identifier has a description, a new one at 0 %,
    // cached. A cache that is missing reads as empty (a reset drops it while it stays ready).
    plat::gamenet::Achievement* achievementForIdentifier(const std::string& identifier);
    const plat::gamenet::AchievementDescription* descriptionForIdentifier(const std::string& identifier) const;

    bool achievementsReady() const { return m_achievementsReady; }
    bool descriptionsReady() const { return m_descriptionsReady; }
    void setNotReady() { m_achievementsReady = m_descriptionsReady = false; }
    bool hasAchievementsCache() const { return m_achievements.has_value(); }

private:
    void objectsCached();

    std::optional<Achievements> m_achievements;
    std::optional<Descriptions> m_descriptions;
    bool m_achievementsReady = false;
    bool m_descriptionsReady = false;
    DKGameCenterAchievementSupportDelegate* m_delegate = nullptr;
};
