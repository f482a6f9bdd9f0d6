#include "orbad/ads/OrbadWebAdView.h"

namespace orbad {

// Every cookie accepted, in the ads' own cookie context: the application's other web views keep
// their policy.
OrbadWebAdView::OrbadWebAdView(const plat::ui::Rect& frame) : WebView(frame, plat::ui::WebCookieAcceptPolicy::Always) {
    setScalesPageToFit(false);
    setBackgroundColor(std::nullopt);
    setOpaque(false);
    setDidScroll([](WebView& view) { static_cast<OrbadWebAdView&>(view).scrolled(); });
}

OrbadWebAdView::~OrbadWebAdView() {
    setDelegate(nullptr);
    m_adViewDelegate = nullptr;
    m_mainAdView.reset();
}

void OrbadWebAdView::loadWithAd(std::shared_ptr<OrbadAd> ad) {
    m_currentAd = std::dynamic_pointer_cast<OrbadWebAd>(ad);
    setDelegate(this);
    m_shouldBeLoading = true;
    m_reported = false;
    loadHTMLString(m_currentAd && m_currentAd->htmlContent() ? *m_currentAd->htmlContent() : "", "");
}

void OrbadWebAdView::stopLoading() {
    setDelegate(nullptr);
    if (isLoading()) WebView::stopLoading();
    m_shouldBeLoading = false;
}

void OrbadWebAdView::prepareForReuse() {
    m_currentAd.reset();
    stopLoading();
    m_shouldBeLoading = true;
    load(plat::ui::kBlankPage);
    m_shouldBeLoading = false;
}

bool OrbadWebAdView::shouldStartLoad(plat::ui::WebView&, const plat::ui::WebRequest& request,
                                     plat::ui::WebNavigationType type) {
    if (type == plat::ui::WebNavigationType::LinkClicked) {
        if (auto host = mainAdView()) host->openActionURL(request.url, m_currentAd);
        return false;
    }
    return m_shouldBeLoading;
}

// A page that loads again later (its script moving on, a frame of its own) is not a new ad: the
// engine would show it once more.
void OrbadWebAdView::didFinishLoad(plat::ui::WebView&) {
    if (isLoading() || m_reported) return;
    m_reported = true;
    auto host = mainAdView();
    if (!host || !host->adsViewFinishedLoading(*this, m_currentAd)) return;
    const std::string url = stringByEvaluatingJavaScript(kOrbadShouldOpenScript);
    if (url.size() >= 7) host->openURLInBrowser(url, 0);
}

void OrbadWebAdView::didFailLoad(plat::ui::WebView&, const plat::foundation::Error& error) {
    if (isLoading()) return;
    if (auto host = mainAdView()) host->adsViewFailedToLoad(*this, m_currentAd, error);
}

void OrbadWebAdView::scrolled() {
    setScrollEnabled(false);
    setContentOffset({0, 0});
}

}  // namespace orbad
