#include "orbad/ads/OrbadAd.h"

#include "platform/net/URLParsing.h"

namespace orbad {

namespace {

const Value kNothing;

// The object at `keyPath`; an empty object when it is absent or of another type.
Value objectAt(const Value& dictionary, std::string_view keyPath) {
    const Value* v = valueForKeyPath(dictionary, keyPath);
    return v && v->dictionary() ? *v : Value(Value::Dictionary{});
}

int adType(const Value& entry) {
    const std::optional<std::string> type = stringForKeyPath(entry, "creative.type");
    if (type == "text") return kOrbadAdTypeText;
    if (type == "openallocation") return kOrbadAdTypeOpenAllocation;
    if (type == "image" || type == "banner") return kOrbadAdTypeBanner;
    return kOrbadAdTypeWeb;
}

int transitionCode(const std::optional<std::string>& word) {
    static const char* const kWords[] = {"slideUp", "slideDown", "slideLeft", "slideRight", "flipRight",
                                         "flipLeft", "curlUp",    "curlDown",  "fade"};
    for (int i = 0; i < 9; ++i)
        if (word == kWords[i]) return i + 1;
    return kOrbadTransitionNone;
}

}  // namespace

std::shared_ptr<OrbadAd> OrbadAd::adWithJSONDictionary(const Value& entry) {
    switch (adType(entry)) {
    case kOrbadAdTypeText: return std::make_shared<OrbadTextAd>(entry);
    case kOrbadAdTypeOpenAllocation: return OrbadOpenAllocationAd::openAllocationAdWithJSONDictionary(entry);
    case kOrbadAdTypeBanner: return std::make_shared<OrbadBannerAd>(entry);
    default: return std::make_shared<OrbadWebAd>(entry);
    }
}

OrbadAd::OrbadAd(const Value& entry)
    : m_identifier(stringForKeyPath(entry, "creative.id")),
      m_type(adType(entry)),
      m_properties(objectAt(entry, "creative.props")) {
    if (const Value* action = valueForKeyPath(entry, "creative.action"))
        m_action = OrbadAdAction::adActionWithJSONDictionary(*action);
    const Value* events = valueForKeyPath(entry, "creative.eventUrls");
    m_events = std::make_shared<OrbadAdEvents>(events ? *events : kNothing);
    if (const Value* params = m_properties.find("params"); params && params->dictionary())
        m_requestParameters = *params;
}

OrbadAd::~OrbadAd() = default;

OrbadTransitionableAd::OrbadTransitionableAd(const Value& entry)
    : OrbadAd(entry), m_transitionType(transitionCode(stringForKeyPath(properties(), "transitionType"))) {
    const Value& props = properties();
    m_durationTime = props.find("durationTime")     ? floatForKeyPath(props, "durationTime")
                     : props.find("transitionTime") ? floatForKeyPath(props, "transitionTime")
                                                    : 0.0;
    const Value* loop = props.find("loop");
    m_shouldLoop = loop && loop->boolValue();
}

OrbadBannerAd::OrbadBannerAd(const Value& entry) : OrbadTransitionableAd(entry) {
    const Value* images = properties().find("images");
    if (!images || !images->array()) return;
    for (const Value& image : *images->array()) {
        const std::string* text = image.string();
        if (text && text->find("://") != std::string::npos && plat::net::isValidURLString(*text))
            m_imageURLs.push_back(*text);
    }
}

std::optional<std::string> OrbadBannerAd::imageURLAtIndex(size_t index) const {
    if (index >= m_imageURLs.size()) return std::nullopt;
    return m_imageURLs[index];
}

OrbadTextAdText::OrbadTextAdText(const Value& entry)
    : backgroundImageURL(urlForKeyPath(entry, "bgImg")),
      backgroundColor(colorForKeyPath(entry, "bgColor")),
      leftIconURL(urlForKeyPath(entry, "leftIcon")),
      rightIconURL(urlForKeyPath(entry, "rightIcon")),
      headerText(stringForKeyPath(entry, "headerText.text")),
      headerTextColor(colorForKeyPath(entry, "headerText.color")),
      headerTextAlignment(alignmentForKeyPath(entry, "headerText.alignment")),
      bodyText(stringForKeyPath(entry, "bodyText.text")),
      bodyTextColor(colorForKeyPath(entry, "bodyText.color")),
      bodyTextAlignment(alignmentForKeyPath(entry, "bodyText.alignment")) {}

OrbadTextAd::OrbadTextAd(const Value& entry) : OrbadTransitionableAd(entry) {
    const Value* texts = properties().find("texts");
    if (!texts || !texts->array()) return;
    for (const Value& text : *texts->array())
        if (text.dictionary()) m_texts.push_back(std::make_shared<OrbadTextAdText>(text));
}

std::shared_ptr<OrbadTextAdText> OrbadTextAd::textAtIndex(size_t index) const {
    return index < m_texts.size() ? m_texts[index] : nullptr;
}

OrbadWebAd::OrbadWebAd(const Value& entry) : OrbadAd(entry), m_htmlContent(stringForKeyPath(properties(), "html")) {}

std::shared_ptr<OrbadOpenAllocationAd> OrbadOpenAllocationAd::openAllocationAdWithJSONDictionary(const Value& entry) {
    return std::make_shared<OrbadOpenAllocationAd>(entry);
}

OrbadOpenAllocationAd::OrbadOpenAllocationAd(const Value& entry) : OrbadAd(entry) {
    const std::optional<std::string> network = stringForKeyPath(properties(), "network");
    m_openAllocationType = network == "opengoogle"       ? 0
                           : network == "openadmob"      ? 1
                           : network == "openiad"        ? 2
                           : network == "openmillennial" ? 3
                                                         : -1;
}

}  // namespace orbad
