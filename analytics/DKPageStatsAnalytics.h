// The page-view analytics wrapper: one per process, each call returns at once.
#pragma once

#include <string_view>

class DKPageStatsAnalytics {
public:
    static DKPageStatsAnalytics& sharedAnalytics();

    // One page view for `page` (a word such as "appLaunch", or a slash-separated record).
    void trackAppInfo(std::string_view page);

private:
    DKPageStatsAnalytics() = default;
};
