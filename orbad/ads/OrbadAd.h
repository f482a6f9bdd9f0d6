// The ad models: one per creative of an ad response, built from its JSON entry and left unchanged
// afterwards (but for the action and events a rich-media view installs). Whatever is missing or of
// the wrong JSON type leaves its field empty, nil or 0; a model is never refused.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "orbad/ads/OrbadAdAction.h"
#include "orbad/core/OrbadAdEvents.h"
#include "orbad/core/OrbadHelper.h"
#include "orbad/core/OrbadJSON.h"

namespace orbad {

enum OrbadAdType {
    kOrbadAdTypeWeb = 0,
    kOrbadAdTypeText = 1,
    kOrbadAdTypeBanner = 2,
    kOrbadAdTypeOpenAllocation = 3,
};

class OrbadAd {
public:
    // By "creative.type": text, openallocation, image or banner; anything else (html, richMedia,
    // none) is a web ad. `entry` is the response's entry, {"creative": {...}}.
    static std::shared_ptr<OrbadAd> adWithJSONDictionary(const Value& entry);
    explicit OrbadAd(const Value& entry);
    virtual ~OrbadAd();
    OrbadAd(const OrbadAd&) = delete;
    OrbadAd& operator=(const OrbadAd&) = delete;

    virtual const char* className() const = 0;

    const std::optional<std::string>& identifier() const { return m_identifier; }
    int type() const { return m_type; }
    // "creative.props"; empty when absent or not an object.
    const Value& properties() const { return m_properties; }
    const std::shared_ptr<OrbadAdAction>& action() const { return m_action; }
    void setAction(std::shared_ptr<OrbadAdAction> action) { m_action = std::move(action); }
    const std::shared_ptr<OrbadAdEvents>& events() const { return m_events; }
    void setEvents(std::shared_ptr<OrbadAdEvents> events) { m_events = std::move(events); }
    // "params" of the properties: the follow-up request's; none when absent or not an object.
    const std::optional<Value>& requestParameters() const { return m_requestParameters; }

private:
    std::optional<std::string> m_identifier;
    int m_type;
    Value m_properties;
    std::shared_ptr<OrbadAdAction> m_action;
    std::shared_ptr<OrbadAdEvents> m_events;
    std::optional<Value> m_requestParameters;
};

// Codes of the creative views' transitions; any other word is 0, an immediate switch.
enum OrbadTransition {
    kOrbadTransitionNone = 0,
    kOrbadTransitionSlideUp = 1,
    kOrbadTransitionSlideDown = 2,
    kOrbadTransitionSlideLeft = 3,
    kOrbadTransitionSlideRight = 4,
    kOrbadTransitionFlipRight = 5,
    kOrbadTransitionFlipLeft = 6,
    kOrbadTransitionCurlUp = 7,
    kOrbadTransitionCurlDown = 8,
    kOrbadTransitionFade = 9,
};

class OrbadTransitionableAd : public OrbadAd {
public:
    explicit OrbadTransitionableAd(const Value& entry);
    int transitionType() const { return m_transitionType; }
    // Seconds each item stays: "durationTime" when present, else "transitionTime", else 0.
    double durationTime() const { return m_durationTime; }
    bool shouldLoop() const { return m_shouldLoop; }

private:
    int m_transitionType;
    double m_durationTime;
    bool m_shouldLoop;
};

class OrbadBannerAd : public OrbadTransitionableAd {
public:
    explicit OrbadBannerAd(const Value& entry);
    const char* className() const override { return "OrbadBannerAd"; }
    // The entries of "images" that are full URLs, in order.
    const std::vector<std::string>& imageURLs() const { return m_imageURLs; }
    size_t numberOfImageURLs() const { return m_imageURLs.size(); }
    std::optional<std::string> imageURLAtIndex(size_t index) const;
    std::optional<std::string> firstImageURL() const { return imageURLAtIndex(0); }

private:
    std::vector<std::string> m_imageURLs;
};

// One panel of a text ad.
struct OrbadTextAdText {
    explicit OrbadTextAdText(const Value& entry);
    std::optional<std::string> backgroundImageURL;
    std::optional<plat::ui::Color> backgroundColor;
    std::optional<std::string> leftIconURL;
    std::optional<std::string> rightIconURL;
    std::optional<std::string> headerText;
    std::optional<plat::ui::Color> headerTextColor;
    TextAlignment headerTextAlignment;
    std::optional<std::string> bodyText;
    std::optional<plat::ui::Color> bodyTextColor;
    TextAlignment bodyTextAlignment;
};

class OrbadTextAd : public OrbadTransitionableAd {
public:
    explicit OrbadTextAd(const Value& entry);
    const char* className() const override { return "OrbadTextAd"; }
    // One per object of "texts", in order; other entries are skipped.
    const std::vector<std::shared_ptr<OrbadTextAdText>>& texts() const { return m_texts; }
    size_t numberOfTexts() const { return m_texts.size(); }
    std::shared_ptr<OrbadTextAdText> textAtIndex(size_t index) const;
    std::shared_ptr<OrbadTextAdText> firstText() const { return textAtIndex(0); }

private:
    std::vector<std::shared_ptr<OrbadTextAdText>> m_texts;
};

class OrbadWebAd : public OrbadAd {
public:
    explicit OrbadWebAd(const Value& entry);
    const char* className() const override { return "OrbadWebAd"; }
    const std::optional<std::string>& htmlContent() const { return m_htmlContent; }

private:
    std::optional<std::string> m_htmlContent;
};

class OrbadOpenAllocationAd : public OrbadAd {
public:
    static std::shared_ptr<OrbadOpenAllocationAd> openAllocationAdWithJSONDictionary(const Value& entry);
    explicit OrbadOpenAllocationAd(const Value& entry);
    const char* className() const override { return "OrbadOpenAllocationAd"; }
    // opengoogle 0, openadmob 1, openiad 2, openmillennial 3, else -1.
    int openAllocationType() const { return m_openAllocationType; }

private:
    int m_openAllocationType;
};

}  // namespace orbad
