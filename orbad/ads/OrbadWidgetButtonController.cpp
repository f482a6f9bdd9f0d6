#include "orbad/ads/OrbadWidgetButtonController.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "orbad/ads/OrbadRichMediaWebAdView.h"
#include "orbad/core/OBResourcesController.h"
#include "orbad/core/OrbadHelper.h"
#include "platform/foundation/RunLoop.h"
#include "platform/image/ImageCodec.h"
#include "platform/sys/Device.h"
#include "platform/ui/Animation.h"

namespace orbad {

using plat::foundation::RunLoop;
using plat::ui::Point;
using plat::ui::Rect;
using plat::ui::Size;

namespace {

constexpr double kMargin = 2;

std::shared_ptr<plat::ui::Image> blankImage() {
    return OBResourcesController::sharedResources()->closeBlankImage();
}

// The page's Base64 picture; null when it does not decode or is too large to decode.
std::shared_ptr<plat::ui::Image> decodePageImage(const std::string& base64) {
    const Data bytes = orbadDataFromBase64EncodedString(base64);
    plat::image::Bitmap bitmap;
    const plat::image::Limits limits{kOrbadWidgetImageMaxSide,
                                     int64_t(kOrbadWidgetImageMaxSide) * kOrbadWidgetImageMaxSide};
    if (bytes.empty() || !plat::image::decode(bytes.data(), bytes.size(), &bitmap, nullptr, limits)) return nullptr;
    for (size_t i = 0; i + 3 < bitmap.rgba.size(); i += 4)
        for (size_t c = 0; c < 3; ++c) bitmap.rgba[i + c] = uint8_t(bitmap.rgba[i + c] * bitmap.rgba[i + 3] / 255);
    return plat::ui::Image::fromPremultipliedRGBA(bitmap.width, bitmap.height, bitmap.rgba.data(),
                                                  "MobileAdCloseWidgetButtonImage");
}

double clampSide(double side) {
    return std::clamp(side, 25.0, 200.0);
}

}  // namespace

// ---- the button ----

OrbadCloseWidgetButton::OrbadCloseWidgetButton(const Rect& frame) : Button(frame) {
    auto blank = blankImage();
    setBackgroundImage(blank);
    setFrame({frame.x, frame.y, blank ? blank->size().width : 0, blank ? blank->size().height : 0});
    auto icon = OBResourcesController::sharedResources()->closeIconImage();
    m_closeView = std::make_shared<plat::ui::ImageView>(
        Rect{10, 8, icon ? icon->size().width : 0, icon ? icon->size().height : 0});
    m_closeView->setImage(icon);
    m_closeView->setTag(kOrbadCloseIconTag);
    addSubview(m_closeView);
}

void OrbadCloseWidgetButton::setCustomImage(std::shared_ptr<plat::ui::Image> image, Size desired) {
    Size size = desired;
    if (image) {
        m_closeView->setHidden(true);
        if (size.width == 0 && size.height == 0) size = image->size();
        size = {clampSide(size.width), clampSide(size.height)};
        setBackgroundImage(std::move(image));
    } else {
        m_closeView->setHidden(false);
        auto blank = blankImage();
        setBackgroundImage(blank);
        size = blank ? blank->size() : Size{0, 0};
    }
    setFrame({frame().x, frame().y, size.width, size.height});
}

void OrbadCloseWidgetButton::setHighlighted(bool highlighted) {
    Button::setHighlighted(highlighted);
    m_closeView->setAlpha(highlighted ? 0.5 : 1.0);
}

void OrbadCloseWidgetButton::setSelected(bool selected) {
    Button::setSelected(selected);
    m_closeView->setAlpha(selected ? 0.5 : 1.0);
}

void OrbadCloseWidgetButton::startAnimating() {
    if (m_animating) return;
    plat::ui::BasicAnimation spin;
    spin.keyPath = "transform.rotation.z";
    spin.to = M_PI / 2;
    spin.duration = 0.4;
    spin.repeatCount = plat::ui::kRepeatForever;
    m_closeView->addAnimation(spin, "transform");
    m_animating = true;
}

void OrbadCloseWidgetButton::stopAnimating() {
    if (!m_animating) return;
    m_closeView->removeAllAnimations();
    m_animating = false;
}

// ---- the controller ----

OrbadWidgetButtonController::OrbadWidgetButtonController() {
    plat::sys::Device::current().beginGeneratingDeviceOrientationNotifications();
    m_orientation = plat::foundation::NotificationCenter::defaultCenter().observe(
        plat::sys::kDeviceOrientationDidChangeNotification, nullptr,
        [this](const plat::foundation::Notification&) { buttonNeedsLayout(); });
}

OrbadWidgetButtonController::~OrbadWidgetButtonController() {
    RunLoop::main().cancelPerforms(this);
    m_orientation.remove();
    plat::sys::Device::current().endGeneratingDeviceOrientationNotifications();
    m_delegate = nullptr;
    viewDidUnload();
}

void OrbadWidgetButtonController::viewDidLoad(plat::ui::View& host) {
    viewDidUnload();
    m_button = std::make_shared<OrbadCloseWidgetButton>(Rect{2, 2, 0, 0});
    m_button->addTarget(this, [this](plat::ui::Button&) { dismissWidget(); });
    host.addSubview(m_button);
    m_lastPoint = {m_button->frame().x, m_button->frame().y};
    m_lastAngle = 0;
    m_lastImage.clear();
}

void OrbadWidgetButtonController::viewDidUnload() {
    RunLoop::main().cancelPerforms(this);
    if (!m_button) return;
    m_button->removeTarget(this);
    m_button->removeFromSuperview();
    m_button.reset();
}

void OrbadWidgetButtonController::dismissWidget() {
    if (m_delegate) m_delegate->widgetButtonControllerDismissTriggered(*this);
}

void OrbadWidgetButtonController::setButtonVisible(bool visible, double duration) {
    RunLoop::main().cancelPerforms(this);
    if (!m_button) return;
    const double target = visible ? 1.0 : 0.0;
    if (m_button->alpha() == target) return;
    m_button->setHidden(false);
    m_button->setAlpha(1.0 - target);
    auto change = [&] { m_button->setAlpha(target); };
    if (duration > 0)
        plat::ui::View::animate({"", duration, plat::ui::AnimationCurve::EaseInOut}, change);
    else
        change();
    if (!visible && duration > 0) RunLoop::main().performAfter(duration + 0.1, this, [this] { hideCloseButton(); });
}

bool OrbadWidgetButtonController::getButtonVisible() const {
    return m_button && m_button->alpha() > 0;
}

void OrbadWidgetButtonController::hideCloseButton() {
    if (m_button) m_button->setHidden(true);
}

void OrbadWidgetButtonController::setButtonPosition(Point point, double angle) {
    if (!m_button) return;
    m_lastPoint = point;
    m_lastAngle = angle;
    // Sizes from bounds: a turned button's frame would be its bounding box.
    const Size own = m_button->bounds().size();
    const Size outer = m_button->superview() ? m_button->superview()->bounds().size() : Size{0, 0};
    auto clampAxis = [](double p, double side, double room) {
        if (p < 0) return 0.0;
        return p + side > room ? room - side : p;
    };
    const double x = clampAxis(point.x, own.width, outer.width);
    const double y = clampAxis(point.y, own.height, outer.height);
    const double cx = x + std::floor(own.width * 0.5), cy = y + std::floor(own.height * 0.5);
    m_button->setFrame({cx - own.width / 2, cy - own.height / 2, own.width, own.height});
    plat::ui::LayerTransform turn;
    turn.rotation = angle * M_PI / 180;
    m_button->setLayerTransform(turn);
    if (m_button->superview()) m_button->superview()->bringSubviewToFront(m_button.get());
}

Point OrbadWidgetButtonController::getButtonPoint() const {
    return m_button ? m_lastPoint : Point{-1, -1};
}

double OrbadWidgetButtonController::getButtonAngle() const {
    return m_button ? m_lastAngle : -1;
}

std::string OrbadWidgetButtonController::pageText(const char* script) {
    OrbadRichMediaWebAdView* page = m_button ? findRichMediaWebView(m_button->superview()) : nullptr;
    return page ? page->stringByEvaluatingJavaScript(script) : std::string();
}

bool OrbadWidgetButtonController::supportsAutorotation() {
    return !pageText(kOrbadOrientationsTagScript).empty();
}

void OrbadWidgetButtonController::buttonNeedsLayout() {
    if (!m_button) return;
    handleCustomImage();
    std::string list = pageText(kOrbadOrientationsTagScript);
    if (list.empty()) return;
    std::transform(list.begin(), list.end(), list.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    // Entries are matched whole: "portrait, landscapeleft" does not name landscape left.
    auto listed = [&](std::string_view word) {
        size_t start = 0;
        while (start <= list.size()) {
            const size_t comma = std::min(list.find(',', start), list.size());
            if (std::string_view(list).substr(start, comma - start) == word) return true;
            start = comma + 1;
        }
        return false;
    };
    const plat::ui::View* super = m_button->superview();
    const Size s = super ? super->frame().size() : Size{0, 0};
    const Size b = m_button->frame().size();
    Point point{kMargin, kMargin};
    double angle = 0;
    switch (plat::sys::Device::current().orientation()) {
        case 4:
            if (listed("landscaperight")) point = {kMargin, s.height - b.height - kMargin}, angle = -90;
            break;
        case 3:
            if (listed("landscapeleft")) point = {s.width - b.width - kMargin, kMargin}, angle = 90;
            break;
        case 2:
            if (listed("portraitupsidedown"))
                point = {s.width - b.width - kMargin, s.height - b.height - kMargin}, angle = 180;
            break;
        default:
            break;
    }
    setButtonPosition(point, angle);
}

void OrbadWidgetButtonController::handleCustomImage() {
    if (!m_button) return;
    const std::string content = pageText(kOrbadImageTagScript);
    if (content.empty()) {
        if (!m_lastImage.empty()) {
            m_lastImage.clear();
            m_button->setCustomImage(nullptr, {0, 0});
        }
        return;
    }
    if (content == m_lastImage) return;
    m_lastImage = content;
    ++m_decodedImages;
    auto image = decodePageImage(content);
    const double width = std::strtod(pageText(kOrbadImageWidthScript).c_str(), nullptr);
    const double height = std::strtod(pageText(kOrbadImageHeightScript).c_str(), nullptr);
    m_button->setCustomImage(std::move(image), {width, height});
}

void OrbadWidgetButtonController::buttonImageChanged() {
    const Point point = m_lastPoint;
    const double angle = m_lastAngle;
    setButtonPosition({0, 0}, 0);
    handleCustomImage();
    setButtonPosition(point, angle);
}

void OrbadWidgetButtonController::resetButton() {
    RunLoop::main().cancelPerforms(this);
    m_lastImage.clear();
    if (!m_button) return;
    m_button->setCustomImage(nullptr, {0, 0});
    setButtonPosition({kMargin, kMargin}, 0);
}

OrbadRichMediaWebAdView* OrbadWidgetButtonController::findRichMediaWebView(plat::ui::View* view) {
    if (!view) return nullptr;
    if (auto* page = dynamic_cast<OrbadRichMediaWebAdView*>(view)) return page;
    for (const auto& sub : view->subviews())
        if (auto* page = findRichMediaWebView(sub.get())) return page;
    return nullptr;
}

}  // namespace orbad
