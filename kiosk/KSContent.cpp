#include "kiosk/KSContent.h"

#include <cmath>
#include <cstdlib>
#include <numbers>

#include "platform/ui/Orientation.h"

using plat::sys::Rect;

namespace kiosk {

double floatValue(const KSJsonValue* value) {
    if (!value) return 0;
    if (const std::int64_t* i = value->integer()) return static_cast<double>(*i);
    if (const KSDecimal* d = value->decimal()) return std::strtod(d->text().c_str(), nullptr);
    if (const bool* b = value->boolean()) return *b ? 1 : 0;
    if (const std::string* s = value->string()) {
        double v = std::strtod(s->c_str(), nullptr);
        return std::isfinite(v) ? v : 0;
    }
    return 0;
}

void placeInWindow(plat::sys::Point& center, double& rotation, const Rect& screen, int interfaceOrientation) {
    center = plat::ui::interfacePointFromGlass({center.x - screen.x, center.y - screen.y},
                                               {screen.width, screen.height}, plat::ui::kInterfaceOrientationPortrait,
                                               interfaceOrientation);
    center = {center.x + screen.x, center.y + screen.y};
    // Whole quarter turns, so the result is exact: 0, pi / 2, -pi or -pi / 2.
    const long quarters = std::lround(rotation / (std::numbers::pi / 2)) -
                          plat::ui::interfaceQuarterTurns(interfaceOrientation, plat::ui::kInterfaceOrientationPortrait);
    constexpr double kTurns[] = {0, std::numbers::pi / 2, -std::numbers::pi, -std::numbers::pi / 2};
    rotation = kTurns[((quarters % 4) + 4) % 4];
}

ContentLayout contentViewLayout(const Rect& screen, int orientation, int interfaceOrientation) {
    ContentLayout layout;
    layout.center = {screen.x + std::ceil(screen.width / 2), screen.y + std::ceil(screen.height / 2)};
    double w = std::floor(screen.width), h = std::floor(screen.height);
    bool landscape = plat::ui::isLandscape(orientation);
    layout.frame = landscape ? Rect{0, 0, h, w} : Rect{0, 0, w, h};
    // Device orientations: 3 is landscape left, 4 landscape right.
    if (orientation == plat::ui::kInterfaceOrientationPortraitUpsideDown) layout.rotation = -std::numbers::pi;
    else if (orientation == 3) layout.rotation = std::numbers::pi / 2;
    else if (orientation == 4) layout.rotation = -std::numbers::pi / 2;
    placeInWindow(layout.center, layout.rotation, screen, interfaceOrientation);
    return layout;
}

Rect turnedFrame(const ContentLayout& layout) {
    const bool quarter = std::abs(std::abs(layout.rotation) - std::numbers::pi / 2) < 1e-9;
    const double w = quarter ? layout.frame.height : layout.frame.width;
    const double h = quarter ? layout.frame.width : layout.frame.height;
    return {layout.center.x - w / 2, layout.center.y - h / 2, w, h};
}

plat::sys::Point slideOffset(double rotation, double distance) {
    // Quarter turns land on whole points, not on sin(pi)'s crumbs.
    auto snap = [](double v) { return std::abs(v) < 1e-9 ? 0.0 : v; };
    return {snap(-distance * std::sin(rotation)), snap(distance * std::cos(rotation))};
}

double statusBarOffset(bool statusBarHidden) {
    return statusBarHidden ? 0.0 : 20.0;
}

Rect modalWebFrame(const plat::sys::Size& view, double statusBar) {
    return {0, statusBar, view.width, view.height - statusBar};
}

Rect dialogWebFrame(const Rect& unitFrame, double statusBar) {
    return {unitFrame.x, unitFrame.y + statusBar, unitFrame.width, unitFrame.height};
}

}  // namespace kiosk

std::shared_ptr<KSContent> KSContent::contentWithDictionary(const KSJsonObject& dictionary) {
    const KSJsonValue* frame = dictionary.find("frame");
    const KSJsonValue* url = dictionary.find("url");
    const KSJsonValue* transition = dictionary.find("transition");
    if (!frame || !url || !transition) return nullptr;
    if (!frame->string() && !frame->object()) return nullptr;
    auto content = std::make_shared<KSContent>();
    content->setFramesWithDictionary(*frame);
    content->m_url = kiosk::agnosticText(url);
    if (const std::string* t = transition->string()) {
        if (*t == "KS_MODAL") content->m_transition = KSTransition::Modal;
        else if (*t == "KS_DIALOG") content->m_transition = KSTransition::Dialog;
    }
    if (const KSJsonValue* context = dictionary.find("context")) content->m_context = *context;
    double delay = kiosk::floatValue(dictionary.find("close_delay"));
    if (delay > 0) content->m_closeButtonDelay = delay;
    if (const KSJsonValue* ping = dictionary.find("close_ping"); ping && ping->string())
        content->m_closeButtonURLPath = *ping->string();
    return content;
}

void KSContent::setFramesWithDictionary(const KSJsonValue& frame) {
    m_frames = KSJsonObject();
    if (const std::string* s = frame.string()) m_frames.set(*s, *s);
    else if (const KSJsonObject* o = frame.object()) m_frames = *o;
}

Rect KSContent::frameForOrientation(int orientation, const Rect& applicationFrame) const {
    bool landscape = plat::ui::isLandscape(orientation);
    if (m_frames.find("KS_FULLSCREEN")) {
        if (landscape) return {0, 0, applicationFrame.height, applicationFrame.width};
        return {0, 0, applicationFrame.width, applicationFrame.height};
    }
    const KSJsonValue* entry = m_frames.find(landscape ? "KS_LANDSCAPE" : "KS_PORTRAIT");
    const KSJsonObject* box = entry ? entry->object() : nullptr;
    if (!box) return {};
    return {kiosk::floatValue(box->find("x")), kiosk::floatValue(box->find("y")), kiosk::floatValue(box->find("w")),
            kiosk::floatValue(box->find("h"))};
}
