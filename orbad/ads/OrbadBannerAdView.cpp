#include "orbad/ads/OrbadBannerAdView.h"

#include <algorithm>
#include <cmath>

#include "platform/foundation/RunLoop.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/TextMeasure.h"

namespace orbad {

using plat::foundation::RunLoop;
using plat::ui::ImageView;
using plat::ui::Rect;
using plat::ui::View;

namespace {

void removeAllSubviews(View& view) {
    while (!view.subviews().empty()) view.subviews().back()->removeFromSuperview();
}

std::shared_ptr<ImageView> imageView(const Rect& bounds, std::shared_ptr<plat::ui::Image> image, int mode) {
    auto view = std::make_shared<ImageView>(bounds);
    view->setImage(std::move(image));
    view->setContentMode(mode);
    return view;
}

plat::ui::TextAlignment alignment(TextAlignment a) {
    return a == TextAlignment::Right    ? plat::ui::TextAlignment::Right
           : a == TextAlignment::Center ? plat::ui::TextAlignment::Center
                                        : plat::ui::TextAlignment::Left;
}

const plat::ui::Font kHeaderFont{"Helvetica-Bold", 13};
const plat::ui::Font kBodyFont{"Helvetica", 13};
constexpr double kHeaderMinimumFontSize = 11;

}  // namespace

// ---- what both share ----

OrbadRotatingAdView::~OrbadRotatingAdView() {
    RunLoop::main().cancelPerforms(this);
}

void OrbadRotatingAdView::fetch(const std::vector<std::string>& urls, std::function<void(OrbadRotatingAdView&)> none) {
    if (m_downloads.isLoading())
        stopLoading();
    else
        m_downloads.clear();
    const unsigned generation = ++m_generation;
    std::weak_ptr<View> self = weak_from_this();
    if (urls.empty()) {
        RunLoop::main().performAfter(0, this, [self, generation, none = std::move(none)] {
            auto me = std::static_pointer_cast<OrbadRotatingAdView>(self.lock());
            if (me && me->m_generation == generation) none(*me);
        });
        return;
    }
    m_downloads.start(urls, [self] {
        if (auto me = self.lock()) static_cast<OrbadRotatingAdView&>(*me).adDataLoaded();
    });
}

void OrbadRotatingAdView::stopLoading() {
    ++m_generation;
    m_downloads.cancel();
}

void OrbadRotatingAdView::prepareForReuse() {
    OrbadTransionableAdView::prepareForReuse();
    removeAllSubviews(*this);
    RunLoop::main().cancelPerforms(this);
    m_downloads.clear();
    m_index = 0;
}

void OrbadRotatingAdView::scheduleRotation(const std::shared_ptr<View>& onScreen, double duration) {
    if (duration <= 0) return;
    std::weak_ptr<View> self = weak_from_this(), item = onScreen;
    RunLoop::main().performAfter(duration, this, [self, item] {
        if (auto me = self.lock()) static_cast<OrbadRotatingAdView&>(*me).rotateFrom(item.lock());
    });
}

bool OrbadRotatingAdView::advance(size_t count, bool loops) {
    if (++m_index < count) return true;
    if (!loops) return false;
    m_index = 0;
    return true;
}

void OrbadRotatingAdView::rotateTo(const std::shared_ptr<View>& onScreen, const std::shared_ptr<View>& next,
                                   int transition, double duration) {
    setLastAdView(onScreen);
    transitionToAdView(next, transition);
    scheduleRotation(next, duration);
}

// ---- image banners ----

void OrbadBannerAdView::loadWithAd(std::shared_ptr<OrbadAd> ad) {
    m_currentAd = std::dynamic_pointer_cast<OrbadBannerAd>(ad);
    fetch(m_currentAd ? m_currentAd->imageURLs() : std::vector<std::string>{}, [ad](OrbadRotatingAdView& me) {
        if (auto host = me.mainAdView()) host->adsViewFailedToLoad(me, ad, std::nullopt);
    });
}

void OrbadBannerAdView::prepareForReuse() {
    m_currentAd.reset();
    OrbadRotatingAdView::prepareForReuse();
}

void OrbadBannerAdView::adDataLoaded() {
    removeAllSubviews(*this);
    std::shared_ptr<OrbadBannerAd> ad = m_currentAd;
    auto host = mainAdView();
    if (!ad || !host || !host->adsViewFinishedLoading(*this, ad)) return;
    const size_t count = ad->numberOfImageURLs();
    auto first = imageView(bounds(), m_downloads.image(*ad->firstImageURL()), plat::ui::kContentModeScaleAspectFit);
    first->setUserInteractionEnabled(false);
    if (ad->transitionType() == kOrbadTransitionNone && count >= 2) {
        std::vector<std::shared_ptr<plat::ui::Image>> frames;
        for (const std::string& url : ad->imageURLs())
            if (auto picture = m_downloads.image(url)) frames.push_back(std::move(picture));
        first->setAnimationImages(std::move(frames));
        first->setAnimationDuration(ad->durationTime() * static_cast<double>(count));
        first->setAnimationRepeatCount(ad->shouldLoop() ? 0 : 1);
        first->startAnimating();
        addSubview(first);
        return;
    }
    addSubview(first);
    if (count >= 2) {
        m_index = 0;
        scheduleRotation(first, ad->durationTime());
    }
}

void OrbadBannerAdView::transitionImageView(const std::shared_ptr<View>& onScreen) {
    std::shared_ptr<OrbadBannerAd> ad = m_currentAd;
    if (!ad || !advance(ad->numberOfImageURLs(), ad->shouldLoop())) return;
    std::optional<std::string> url = ad->imageURLAtIndex(m_index);
    auto next = imageView(bounds(), url ? m_downloads.image(*url) : nullptr, plat::ui::kContentModeCenter);
    next->setUserInteractionEnabled(false);
    rotateTo(onScreen, next, ad->transitionType(), ad->durationTime());
}

// ---- text ads ----

void OrbadTextAdView::loadWithAd(std::shared_ptr<OrbadAd> ad) {
    m_currentAd = std::dynamic_pointer_cast<OrbadTextAd>(ad);
    std::vector<std::string> urls;
    if (m_currentAd) {
        for (const auto& text : m_currentAd->texts())
            for (const auto* url : {&text->leftIconURL, &text->rightIconURL, &text->backgroundImageURL})
                if (*url) urls.push_back(**url);
    }
    fetch(urls, [](OrbadRotatingAdView& me) { me.adDataLoaded(); });
}

void OrbadTextAdView::prepareForReuse() {
    m_currentAd.reset();
    OrbadRotatingAdView::prepareForReuse();
}

void OrbadTextAdView::adDataLoaded() {
    removeAllSubviews(*this);
    std::shared_ptr<OrbadTextAd> ad = m_currentAd;
    auto host = mainAdView();
    if (!ad || !host || !host->adsViewFinishedLoading(*this, ad)) return;
    std::shared_ptr<OrbadTextAdText> first = ad->firstText();
    if (!first) return;
    auto panel = viewForTextAd(*first);
    addSubview(panel);
    if (ad->numberOfTexts() >= 2) {
        m_index = 0;
        scheduleRotation(panel, ad->durationTime());
    }
}

void OrbadTextAdView::transitionTextAdView(const std::shared_ptr<View>& onScreen) {
    std::shared_ptr<OrbadTextAd> ad = m_currentAd;
    if (!ad || !advance(ad->numberOfTexts(), ad->shouldLoop())) return;
    rotateTo(onScreen, viewForTextAd(*ad->textAtIndex(m_index)), ad->transitionType(), ad->durationTime());
}

std::shared_ptr<View> OrbadTextAdView::viewForTextAd(const OrbadTextAdText& text) const {
    const double W = bounds().width, H = bounds().height;
    auto container = std::make_shared<View>(bounds());
    container->setUserInteractionEnabled(false);
    container->setBackgroundColor(text.backgroundColor);
    if (text.backgroundImageURL)
        container->addSubview(imageView(bounds(), m_downloads.image(*text.backgroundImageURL),
                                        plat::ui::kContentModeScaleToFill));
    double x = 5, width = W - 10;
    const double height = H - 10;
    auto icon = [&](const std::optional<std::string>& url, double left) {
        std::shared_ptr<plat::ui::Image> picture = m_downloads.image(*url);
        const bool large = picture && (picture->size().width > 40 || picture->size().height > 40);
        container->addSubview(imageView({left, std::floor((H - 40) * 0.5), 40, 40}, picture,
                                        large ? plat::ui::kContentModeScaleAspectFit : plat::ui::kContentModeCenter));
        width -= 45;
    };
    if (text.leftIconURL) {
        icon(text.leftIconURL, 5);
        x = 50;
    }
    if (text.rightIconURL) icon(text.rightIconURL, W - 45);

    std::shared_ptr<plat::ui::Label> header, body;
    if (text.headerText) {
        header = std::make_shared<plat::ui::Label>();
        header->setText(*text.headerText);
        header->setFont(kHeaderFont);
        header->setAdjustsFontSizeToFitWidth(true);
        header->setMinimumFontSize(kHeaderMinimumFontSize);
        header->setTextAlignment(alignment(text.headerTextAlignment));
        if (text.headerTextColor) header->setTextColor(*text.headerTextColor);
    }
    if (text.bodyText) {
        body = std::make_shared<plat::ui::Label>();
        body->setText(*text.bodyText);
        body->setFont(kBodyFont);
        body->setNumberOfLines(0);
        body->setTextAlignment(alignment(text.bodyTextAlignment));
        if (text.bodyTextColor) body->setTextColor(*text.bodyTextColor);
    }
    if (header && body) {
        const plat::ui::Font fitted =
            plat::ui::fittingFont(*text.headerText, kHeaderFont, width, kHeaderMinimumFontSize);
        const double h1 = std::min(15.0, plat::ui::textHeight(*text.headerText, fitted, width, 1));
        const double h2 = std::min(height - 18, plat::ui::measureText(*text.bodyText, kBodyFont,
                                                                      {width, height - 18}, 0).height);
        const double y = std::floor((H - (h1 + h2)) * 0.5);
        header->setFrame({x, y, width, h1});
        body->setFrame({x, y + h1, width, h2});
    } else if (body) {
        body->setFrame({x, 5, width, height});
    } else if (header) {
        header->setFrame({x, 5, width, height});
    }
    if (header) container->addSubview(header);
    if (body) container->addSubview(body);
    return container;
}

}  // namespace orbad
