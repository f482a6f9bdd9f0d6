// What a touch on an ad does, as the ad response describes it: the action models. Carrying an
// action out and preloading its browser live with the browser and the video screens.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "orbad/ads/OBBrowserViewController.h"
#include "orbad/core/OrbadAdEvents.h"
#include "orbad/core/OrbadJSON.h"
#include "platform/foundation/RunLoop.h"

namespace plat::ui {
class View;
}

namespace orbad {

// Posted with the action as object once its browser has preloaded.
inline constexpr const char* kOrbadAdActionPreloaded = "OrbadAdActionPreloaded";
inline constexpr const char* kOBVideoPlayerWillShow = "kOBVideoPlayerWillShow";
inline constexpr const char* kOBVideoPlayerDidHide = "kOBVideoPlayerDidHide";

enum OrbadAdActionType {
    kOrbadAdActionVideo = 0,
    kOrbadAdActionPopupVideo = 1,
    kOrbadAdActionURL = 2,
    kOrbadAdActionHTML = 3,
    kOrbadAdActionOverlay = 4,
    kOrbadAdActionRichMedia = 5,
};

class OrbadAdAction {
public:
    // By "type": video, popOverVideo, url, html; anything else is a rich-media action. Anything
    // but a dictionary gives no action.
    static std::shared_ptr<OrbadAdAction> adActionWithJSONDictionary(const Value& dictionary);
    explicit OrbadAdAction(const Value& dictionary);
    virtual ~OrbadAdAction();
    OrbadAdAction(const OrbadAdAction&) = delete;
    OrbadAdAction& operator=(const OrbadAdAction&) = delete;

    virtual const char* className() const = 0;

    int type() const { return m_type; }
    const OrbadAdEvents& events() const { return m_events; }
    bool autoplay() const { return m_autoplay; }
    bool shouldPreload() const { return m_shouldPreload; }
    // Prepares the action before the touch; nothing but for the URL and HTML actions.
    virtual void preloadAction() {}

private:
    int m_type;
    OrbadAdEvents m_events;
    bool m_autoplay;
    bool m_shouldPreload;
};

// Preloading (when "preload" is set): a hidden browser fetches the page, and the action posts
// kOrbadAdActionPreloaded once, when the browser reports back or 10 s later, whichever comes first.
// Made with std::make_shared (the browser holds it weakly as its delegate). Main thread.
class OrbadAdBrowserAction : public OrbadAdAction,
                             public OBBrowserViewControllerDelegate,
                             public std::enable_shared_from_this<OrbadAdBrowserAction> {
public:
    explicit OrbadAdBrowserAction(const Value& dictionary);
    ~OrbadAdBrowserAction() override;
    void preloadAction() override;
    void finishPreloading();
    const std::shared_ptr<OBBrowserViewController>& preloadedBrowserViewController() const { return m_browser; }
    void browserFinishedPreloading(OBBrowserViewController&) override { finishPreloading(); }
    void browserFailedToPreload(OBBrowserViewController&, const Error&) override { finishPreloading(); }
    // "navigation" 1, "minimal" 2, "full" 3, else 0: handed to the in-app browser as it is.
    int browserStyle() const { return m_browserStyle; }
    bool hasPreloaded() const { return m_hasPreloaded; }
    void setHasPreloaded(bool value) { m_hasPreloaded = value; }
    bool ignorePreload() const { return m_ignorePreload; }
    void setIgnorePreload(bool value) { m_ignorePreload = value; }

protected:
    virtual std::shared_ptr<OBBrowserViewController> makeBrowser() const = 0;

private:
    int m_browserStyle;
    bool m_hasPreloaded = false;
    bool m_ignorePreload = false;
    std::shared_ptr<OBBrowserViewController> m_browser;
    plat::foundation::Timer m_preloadTimeout;
};

class OrbadAdURLAction : public OrbadAdBrowserAction {
public:
    explicit OrbadAdURLAction(const Value& dictionary);
    const char* className() const override { return "OrbadAdURLAction"; }
    const std::optional<std::string>& actionURL() const { return m_actionURL; }

protected:
    std::shared_ptr<OBBrowserViewController> makeBrowser() const override;

private:
    std::optional<std::string> m_actionURL;
};

class OrbadAdEmbeddedHTMLAction : public OrbadAdBrowserAction {
public:
    explicit OrbadAdEmbeddedHTMLAction(const Value& dictionary);
    const char* className() const override { return "OrbadAdEmbeddedHTMLAction"; }
    const std::optional<std::string>& embeddedHTML() const { return m_embeddedHTML; }
    const std::optional<std::string>& baseURL() const { return m_baseURL; }

protected:
    std::shared_ptr<OBBrowserViewController> makeBrowser() const override;

private:
    std::optional<std::string> m_embeddedHTML;
    std::optional<std::string> m_baseURL;
};

struct OrbadAdVideoActionButton {
    std::optional<std::string> imageURL;
    std::optional<std::string> url;
};

class OrbadAdVideoAction : public OrbadAdAction {
public:
    explicit OrbadAdVideoAction(const Value& dictionary);
    const char* className() const override { return "OrbadAdVideoAction"; }
    const std::optional<std::string>& videoURL() const { return m_videoURL; }
    const std::optional<std::string>& landingImageURL() const { return m_landingImageURL; }
    const std::optional<std::string>& taglineImageURL() const { return m_taglineImageURL; }
    const std::optional<std::string>& taglineTitle() const { return m_taglineTitle; }
    const std::vector<OrbadAdVideoActionButton>& buttons() const { return m_buttons; }

private:
    std::optional<std::string> m_videoURL, m_landingImageURL, m_taglineImageURL, m_taglineTitle;
    std::vector<OrbadAdVideoActionButton> m_buttons;
};

struct OrbadAdPopupVideoActionButton {
    std::optional<std::string> title;
    std::optional<std::string> url;
};

class OrbadAdPopupVideoAction : public OrbadAdAction {
public:
    explicit OrbadAdPopupVideoAction(const Value& dictionary);
    const char* className() const override { return "OrbadAdPopupVideoAction"; }
    const std::optional<std::string>& videoURL() const { return m_videoURL; }
    struct Size {
        double width = 0, height = 0;
    };
    Size videoSize() const { return m_videoSize; }
    const std::vector<OrbadAdPopupVideoActionButton>& buttons() const { return m_buttons; }

private:
    std::optional<std::string> m_videoURL;
    Size m_videoSize;
    std::vector<OrbadAdPopupVideoActionButton> m_buttons;
};

// What a rich-media creative asks to be called back with when its ad is touched: filled by that
// view, never by a server's answer (an "overlay" action from a response has it empty).
struct OrbadRichMediaCall {
    std::weak_ptr<plat::ui::View> view;
    std::string selectorName;
    std::function<void(const Value& argument)> operation;
    Value argument;
};

class OrbadAdRichMediaAction : public OrbadAdAction {
public:
    explicit OrbadAdRichMediaAction(const Value& dictionary) : OrbadAdAction(dictionary) {}
    const char* className() const override { return "OrbadAdRichMediaAction"; }
    const OrbadRichMediaCall& richMedia() const { return m_richMedia; }
    void setRichMedia(OrbadRichMediaCall call) { m_richMedia = std::move(call); }
    // Calls the operation with its argument; false when there is none or its view is gone.
    bool callRichMedia() const;

private:
    OrbadRichMediaCall m_richMedia;
};

}  // namespace orbad
