#include "orbad/ads/OrbadAdAction.h"

#include "orbad/core/OrbadHelper.h"

namespace orbad {

namespace {

int actionType(const Value& dictionary) {
    const std::optional<std::string> type = stringForKeyPath(dictionary, "type");
    if (type == "video") return kOrbadAdActionVideo;
    if (type == "popOverVideo") return kOrbadAdActionPopupVideo;
    if (type == "url") return kOrbadAdActionURL;
    if (type == "html") return kOrbadAdActionHTML;
    if (type == "overlay") return kOrbadAdActionOverlay;
    return kOrbadAdActionRichMedia;
}

const Value kNothing;

const Value& entryOr(const Value& dictionary, std::string_view key) {
    const Value* v = valueForKeyPath(dictionary, key);
    return v ? *v : kNothing;
}

}  // namespace

std::shared_ptr<OrbadAdAction> OrbadAdAction::adActionWithJSONDictionary(const Value& dictionary) {
    if (!dictionary.dictionary()) return nullptr;
    switch (actionType(dictionary)) {
    case kOrbadAdActionVideo: return std::make_shared<OrbadAdVideoAction>(dictionary);
    case kOrbadAdActionPopupVideo: return std::make_shared<OrbadAdPopupVideoAction>(dictionary);
    case kOrbadAdActionURL: return std::make_shared<OrbadAdURLAction>(dictionary);
    case kOrbadAdActionHTML: return std::make_shared<OrbadAdEmbeddedHTMLAction>(dictionary);
    default: return std::make_shared<OrbadAdRichMediaAction>(dictionary);
    }
}

OrbadAdAction::OrbadAdAction(const Value& dictionary)
    : m_type(actionType(dictionary)),
      m_events(entryOr(dictionary, "eventUrls")),
      m_autoplay(entryOr(dictionary, "autoplay").boolValue()),
      m_shouldPreload(Value(stringForKeyPath(dictionary, "preload").value_or("")).boolValue()) {}

OrbadAdAction::~OrbadAdAction() = default;

OrbadAdBrowserAction::OrbadAdBrowserAction(const Value& dictionary) : OrbadAdAction(dictionary) {
    const std::optional<std::string> style = stringForKeyPath(dictionary, "browserType");
    m_browserStyle = style == "navigation" ? 1 : style == "minimal" ? 2 : style == "full" ? 3 : 0;
}

OrbadAdBrowserAction::~OrbadAdBrowserAction() {
    m_ignorePreload = true;
    m_preloadTimeout.invalidate();
    if (m_browser) {
        m_browser->setDelegate({});
        m_browser->stopLoading();
    }
}

namespace {
constexpr double kPreloadTimeout = 10.0;
}

void OrbadAdBrowserAction::preloadAction() {
    if (!shouldPreload()) return;
    m_browser = makeBrowser();
    m_browser->setAutoDismissOnResignActive(true);
    m_browser->setDelegate(weak_from_this());
    m_browser->preloadRequest();
    m_preloadTimeout = plat::foundation::RunLoop::main().addTimer(kPreloadTimeout, [this] { finishPreloading(); });
}

void OrbadAdBrowserAction::finishPreloading() {
    if (m_hasPreloaded || m_ignorePreload) return;
    m_hasPreloaded = true;
    m_preloadTimeout.invalidate();
    plat::foundation::NotificationCenter::defaultCenter().post(
        kOrbadAdActionPreloaded, {static_cast<const OrbadAdAction*>(this), className()});
}

std::shared_ptr<OBBrowserViewController> OrbadAdURLAction::makeBrowser() const {
    return OBBrowserViewController::withURL(m_actionURL.value_or(""), browserStyle());
}

std::shared_ptr<OBBrowserViewController> OrbadAdEmbeddedHTMLAction::makeBrowser() const {
    return OBBrowserViewController::withHTML(m_embeddedHTML.value_or(""), m_baseURL, browserStyle());
}

OrbadAdURLAction::OrbadAdURLAction(const Value& dictionary)
    : OrbadAdBrowserAction(dictionary), m_actionURL(urlForKeyPath(dictionary, "url")) {}

OrbadAdEmbeddedHTMLAction::OrbadAdEmbeddedHTMLAction(const Value& dictionary)
    : OrbadAdBrowserAction(dictionary),
      m_embeddedHTML(stringForKeyPath(dictionary, "html")),
      m_baseURL(urlForKeyPath(dictionary, "baseUrl")) {}

OrbadAdVideoAction::OrbadAdVideoAction(const Value& dictionary)
    : OrbadAdAction(dictionary),
      m_videoURL(urlForKeyPath(dictionary, "videoUrl")),
      m_landingImageURL(urlForKeyPath(dictionary, "landingUrl")),
      m_taglineImageURL(urlForKeyPath(dictionary, "taglineImageUrl")),
      m_taglineTitle(stringForKeyPath(dictionary, "tagline")) {
    if (const Value::Array* list = entryOr(dictionary, "buttons").array()) {
        for (const Value& entry : *list) {
            if (!entry.dictionary()) continue;
            m_buttons.push_back({urlForKeyPath(entry, "imageUrl"), urlForKeyPath(entry, "url")});
        }
    }
}

OrbadAdPopupVideoAction::OrbadAdPopupVideoAction(const Value& dictionary)
    : OrbadAdAction(dictionary),
      m_videoURL(urlForKeyPath(dictionary, "url")),
      m_videoSize{floatForKeyPath(dictionary, "size.w"), floatForKeyPath(dictionary, "size.h")} {
    if (const Value::Array* list = entryOr(dictionary, "buttons").array()) {
        for (const Value& entry : *list) {
            if (!entry.dictionary()) continue;
            m_buttons.push_back({stringForKeyPath(entry, "title"), urlForKeyPath(entry, "url")});
        }
    }
}

bool OrbadAdRichMediaAction::callRichMedia() const {
    if (!m_richMedia.operation || m_richMedia.view.expired()) return false;
    m_richMedia.operation(m_richMedia.argument);
    return true;
}

}  // namespace orbad
