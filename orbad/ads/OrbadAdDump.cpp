#include "orbad/ads/OrbadAdDump.h"

#include <cstdio>

#include "orbad/ads/OrbadAd.h"

namespace orbad {

namespace {

std::string escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default: out += c;
        }
    }
    return out;
}

std::string text(const std::optional<std::string>& value) {
    return value ? escaped(*value) : "nil";
}

std::string yesNo(bool value) {
    return value ? "YES" : "NO";
}

std::string number(double value) {
    char out[32];
    std::snprintf(out, sizeof out, "%g", value);
    return out;
}

std::string color(const std::optional<plat::ui::Color>& c) {
    if (!c) return "nil";
    char out[64];
    std::snprintf(out, sizeof out, "%.3f,%.3f,%.3f,%.3f", c->r, c->g, c->b, c->a);
    return out;
}

std::string joined(const std::vector<std::string>& list) {
    std::string out;
    for (const std::string& item : list) out += (out.empty() ? "" : ",") + escaped(item);
    return out;
}

class Lines {
public:
    void field(const std::string& name, const std::string& value) {
        m_lines.push_back("field " + name + (value.empty() ? "" : " " + value));
    }
    void events(const std::string& name, const OrbadAdEvents& events) {
        if (events.events().empty()) field(name, "{}");
        for (const auto& [event, urls] : events.events()) field(name + "." + event, joined(urls));
    }
    std::vector<std::string> m_lines;
};

void describeAction(Lines& out, const OrbadAdAction* action) {
    if (!action) {
        out.field("action", "nil");
        return;
    }
    out.field("action.class", action->className());
    out.field("action.type", std::to_string(action->type()));
    out.events("action.events", action->events());
    out.field("action.autoplay", yesNo(action->autoplay()));
    out.field("action.shouldPreload", yesNo(action->shouldPreload()));
    if (auto* browser = dynamic_cast<const OrbadAdBrowserAction*>(action))
        out.field("action.browserStyle", std::to_string(browser->browserStyle()));
    if (auto* url = dynamic_cast<const OrbadAdURLAction*>(action)) out.field("action.actionURL", text(url->actionURL()));
    if (auto* html = dynamic_cast<const OrbadAdEmbeddedHTMLAction*>(action)) {
        out.field("action.embeddedHTML", text(html->embeddedHTML()));
        out.field("action.baseURL", text(html->baseURL()));
    }
    if (auto* video = dynamic_cast<const OrbadAdVideoAction*>(action)) {
        out.field("action.videoURL", text(video->videoURL()));
        out.field("action.landingImageURL", text(video->landingImageURL()));
        out.field("action.taglineImageURL", text(video->taglineImageURL()));
        out.field("action.taglineTitle", text(video->taglineTitle()));
        for (size_t i = 0; i < video->buttons().size(); ++i) {
            const std::string name = "action.buttons[" + std::to_string(i) + "].";
            out.field(name + "imageURL", text(video->buttons()[i].imageURL));
            out.field(name + "url", text(video->buttons()[i].url));
        }
    }
    if (auto* popup = dynamic_cast<const OrbadAdPopupVideoAction*>(action)) {
        out.field("action.videoURL", text(popup->videoURL()));
        out.field("action.videoSize", number(popup->videoSize().width) + "," + number(popup->videoSize().height));
        for (size_t i = 0; i < popup->buttons().size(); ++i) {
            const std::string name = "action.buttons[" + std::to_string(i) + "].";
            out.field(name + "title", text(popup->buttons()[i].title));
            out.field(name + "url", text(popup->buttons()[i].url));
        }
    }
}

}  // namespace

std::vector<std::string> describeAd(const OrbadAd& ad) {
    Lines out;
    out.m_lines.push_back(std::string("model ") + ad.className() + " type=" + std::to_string(ad.type()) +
                          " id=" + text(ad.identifier()));
    out.field("identifier", text(ad.identifier()));
    out.field("type", std::to_string(ad.type()));
    out.field("properties", escaped(ad.properties().canonicalJSON()));
    describeAction(out, ad.action().get());
    out.events("events", *ad.events());
    if (!ad.requestParameters()) {
        out.field("requestParameters", "nil");
    } else if (ad.requestParameters()->dictionary()->empty()) {
        out.field("requestParameters", "{}");
    } else {
        for (const auto& [key, value] : *ad.requestParameters()->dictionary())
            out.field("requestParameters." + key, escaped(value.description()));
    }
    if (auto* rotating = dynamic_cast<const OrbadTransitionableAd*>(&ad)) {
        out.field("transitionType", std::to_string(rotating->transitionType()));
        out.field("durationTime", number(rotating->durationTime()));
        out.field("shouldLoop", yesNo(rotating->shouldLoop()));
    }
    if (auto* banner = dynamic_cast<const OrbadBannerAd*>(&ad)) out.field("imageURLs", joined(banner->imageURLs()));
    if (auto* textAd = dynamic_cast<const OrbadTextAd*>(&ad)) {
        if (textAd->texts().empty()) out.field("texts", "");
        for (size_t i = 0; i < textAd->texts().size(); ++i) {
            const OrbadTextAdText& t = *textAd->texts()[i];
            const std::string name = "texts[" + std::to_string(i) + "].";
            out.field(name + "backgroundImageURL", text(t.backgroundImageURL));
            out.field(name + "backgroundColor", color(t.backgroundColor));
            out.field(name + "leftIconURL", text(t.leftIconURL));
            out.field(name + "rightIconURL", text(t.rightIconURL));
            out.field(name + "headerText", text(t.headerText));
            out.field(name + "headerTextColor", color(t.headerTextColor));
            out.field(name + "headerTextAlignment", std::to_string(static_cast<int>(t.headerTextAlignment)));
            out.field(name + "bodyText", text(t.bodyText));
            out.field(name + "bodyTextColor", color(t.bodyTextColor));
            out.field(name + "bodyTextAlignment", std::to_string(static_cast<int>(t.bodyTextAlignment)));
        }
    }
    if (auto* web = dynamic_cast<const OrbadWebAd*>(&ad)) out.field("htmlContent", text(web->htmlContent()));
    if (auto* open = dynamic_cast<const OrbadOpenAllocationAd*>(&ad))
        out.field("openAllocationType", std::to_string(open->openAllocationType()));
    return out.m_lines;
}

}  // namespace orbad
