#include "orbad/ads/OrbadAdsView.h"

#include "platform/ui/Application.h"

namespace orbad {

OrbadAdsViewPool::OrbadAdsViewPool()
    : m_memoryWarning(plat::foundation::NotificationCenter::defaultCenter().observe(
          plat::ui::kApplicationDidReceiveMemoryWarningNotification, nullptr,
          [this](const plat::foundation::Notification&) { purge(); })) {}

OrbadAdsViewPool::~OrbadAdsViewPool() {
    m_memoryWarning.remove();
}

void OrbadAdsViewPool::queueReusableAdView(const std::shared_ptr<OrbadAdsView>& view) {
    if (!view || !view->canBeReused()) return;
    const std::string className = view->adsViewClassName();
    {
        std::lock_guard lock(m_lock);
        auto it = m_views.find(className);
        if (it != m_views.end() && !it->second.empty()) return;
    }
    // Reset outside the lock: a reset may reach the pool (a memory warning, another view).
    view->prepareForReuse();
    std::lock_guard lock(m_lock);
    std::vector<std::shared_ptr<OrbadAdsView>>& waiting = m_views[className];
    if (waiting.empty()) waiting.push_back(view);
}

std::shared_ptr<OrbadAdsView> OrbadAdsViewPool::dequeueReusableAdViewWithClass(std::string_view className) {
    std::lock_guard lock(m_lock);
    auto it = m_views.find(className);
    if (it == m_views.end() || it->second.empty()) return nullptr;
    std::shared_ptr<OrbadAdsView> view = std::move(it->second.back());
    it->second.pop_back();
    return view;
}

void OrbadAdsViewPool::purge() {
    std::lock_guard lock(m_lock);
    m_views.clear();
}

size_t OrbadAdsViewPool::waitingCount() const {
    std::lock_guard lock(m_lock);
    size_t count = 0;
    for (const auto& [name, views] : m_views) count += views.size();
    return count;
}

}  // namespace orbad
