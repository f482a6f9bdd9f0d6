#include "player/plugins/gamecenter/DKGameCenterAchievementSupport.h"

#include "platform/foundation/Log.h"
#include "platform/foundation/RunLoop.h"

namespace {

// Runs `fn` with the support on the main queue, when it is still there.
template <class Fn>
void onMain(const std::weak_ptr<DKGameCenterAchievementSupport>& support, Fn fn) {
    plat::foundation::mainAsync([support, fn = std::move(fn)]() mutable {
        if (auto self = support.lock()) fn(*self);
    });
}

}  // namespace

void DKGameCenterAchievementSupport::loadAchievements(bool force) {
    auto* network = plat::gamenet::GameNetwork::shared();
    if ((m_achievements && !force) || !network) return;
    network->loadAchievements([support = weak_from_this()](std::vector<plat::gamenet::Achievement> list,
                                                            const plat::gamenet::Failure& error) {
        onMain(support, [list = std::move(list), error](DKGameCenterAchievementSupport& self) {
            if (error) {
                plat::foundation::log("Error when grabbing achievements:  %s", error->message.c_str());
                return;
            }
            Achievements cache;
            for (const auto& achievement : list) cache[achievement.identifier] = achievement;
            self.m_achievements = std::move(cache);
            self.m_achievementsReady = true;
            self.objectsCached();
        });
    });
}

void DKGameCenterAchievementSupport::loadAchievementDescriptions(bool force) {
    auto* network = plat::gamenet::GameNetwork::shared();
    if ((m_descriptions && !force) || !network) return;
    network->loadAchievementDescriptions([support = weak_from_this()](
                                             std::vector<plat::gamenet::AchievementDescription> list,
                                             const plat::gamenet::Failure& error) {
        onMain(support, [list = std::move(list), error](DKGameCenterAchievementSupport& self) {
            if (error) {
                plat::foundation::log("Error when grabbing achievement descriptions:  %s", error->message.c_str());
                return;
            }
            Descriptions cache;
            for (const auto& description : list) cache[description.identifier] = description;
            self.m_descriptions = std::move(cache);
            self.m_descriptionsReady = true;
            self.objectsCached();
        });
    });
}

void DKGameCenterAchievementSupport::resetAchievements() {
    auto* network = plat::gamenet::GameNetwork::shared();
    if (!network) return;
    network->resetAchievements([support = weak_from_this()](const plat::gamenet::Failure& error) {
        onMain(support, [error](DKGameCenterAchievementSupport& self) {
            if (error)
                plat::foundation::log("Error string:  %s", error->message.c_str());
            else
                self.clearAchievementsCache();
        });
    });
}

void DKGameCenterAchievementSupport::clearAchievementsCache() {
    m_achievements.reset();
}

void DKGameCenterAchievementSupport::clearDescriptionsCache() {
    m_descriptions.reset();
}

plat::gamenet::Achievement* DKGameCenterAchievementSupport::achievementForIdentifier(const std::string& identifier) {
    if (m_achievements)
        if (auto found = m_achievements->find(identifier); found != m_achievements->end()) return &found->second;
    if (!descriptionForIdentifier(identifier)) return nullptr;
    if (!m_achievements) m_achievements.emplace();
    return &((*m_achievements)[identifier] = {identifier, 0});
}

const plat::gamenet::AchievementDescription* DKGameCenterAchievementSupport::descriptionForIdentifier(
    const std::string& identifier) const {
    if (!m_descriptions) return nullptr;
    auto found = m_descriptions->find(identifier);
    return found == m_descriptions->end() ? nullptr : &found->second;
}

void DKGameCenterAchievementSupport::objectsCached() {
    if (m_achievementsReady && m_descriptionsReady && m_delegate) m_delegate->achievementSupportReady();
}
