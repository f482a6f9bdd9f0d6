#include "player/plugins/gamecenter/GKAchievementHandler.h"

#include <cairo.h>

#include <cmath>
#include <numbers>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/RunLoop.h"
#include "platform/sys/Device.h"
#include "platform/ui/Application.h"
#include "platform/ui/Image.h"
#include "platform/ui/Window.h"

namespace dk::player::gamecenter {

using plat::ui::Rect;

plat::foundation::TraceCategory& bannerTrace() {
    static plat::foundation::TraceCategory category("gkbanner");
    return category;
}

namespace {
constexpr double kHeight = 52;
constexpr double kOutside = 53;  // the start frame's distance beyond the edge
constexpr double kGap = 63;      // from the edge to the banner's rest, past the status bar
constexpr double kSlide = 0.4;
constexpr double kRest = 1.75;
constexpr double kMessageMinimumFontSize = 10;
}  // namespace

int bannerOrientation(int orientation) {
    return orientation >= 1 && orientation <= 4 ? orientation : 1;
}

Rect bannerDefaultSize(const BannerScreen& screen) {
    const bool landscape = bannerOrientation(screen.orientation) >= 3;
    return {0, 0, (landscape ? screen.height : screen.width) * screen.ratio, kHeight};
}

Rect bannerStartFrame(const BannerScreen& s) {
    const double r = s.ratio;
    switch (bannerOrientation(s.orientation)) {
    case 2: return {s.width * (1 - r) * 0.5, s.height + kOutside, s.width * r, kHeight};
    case 3: return {s.width + kOutside, s.height * (1 - r) * 0.5, kHeight, s.height * r};
    case 4: return {-kOutside, s.height * (1 - r) * 0.5, kHeight, s.height * r};
    default: return {s.width * (1 - r) * 0.5, -kOutside, s.width * r, kHeight};
    }
}

Rect bannerEndFrame(const BannerScreen& s) {
    Rect frame = bannerStartFrame(s);
    const double inward = s.statusBar + kGap;
    switch (bannerOrientation(s.orientation)) {
    case 2: frame.y -= inward + kHeight; break;
    case 3: frame.x -= inward + kHeight; break;
    case 4: frame.x += inward; break;
    default: frame.y += inward; break;
    }
    return frame;
}

Rect bannerInterfaceFrame(const Rect& f, const BannerScreen& s) {
    switch (bannerOrientation(s.orientation)) {
    case 2: return {s.width - f.x - f.width, s.height - f.y - f.height, f.width, f.height};
    case 3: return {f.y, s.width - f.x - f.width, f.height, f.width};
    case 4: return {s.height - f.y - f.height, f.x, f.height, f.width};
    default: return f;
    }
}

Rect bannerText1Frame(const Rect& bounds, bool logo) {
    return logo ? Rect{44, 6, bounds.width - 55, 22} : Rect{10, 6, bounds.width - 20, 22};
}

Rect bannerText2Frame(const Rect& bounds, bool logo) {
    Rect frame = bannerText1Frame(bounds, logo);
    frame.y = 20;
    return frame;
}

namespace {

// The background: the image stretched, its left 8 points and the matching right cap kept.
class StretchedImageView : public plat::ui::View {
public:
    StretchedImageView(const Rect& frame, std::shared_ptr<plat::ui::Image> image)
        : View(frame), m_image(std::move(image)) {}
    const char* className() const override { return "UIImageView"; }
    bool drawsContent() const override { return m_image != nullptr; }
    void draw(cairo_t* cr) override {
        if (!m_image) return;
        const plat::ui::Size size = m_image->size();
        const Rect b = bounds();
        const double left = std::min(8.0, size.width), right = std::max(0.0, size.width - left - 1);
        const double middle = std::max(0.0, b.width - left - right);
        // Source column ranges and where they go.
        const struct {
            double sx, sw, dx, dw;
        } slices[] = {{0, left, 0, left}, {left, size.width - left - right, left, middle},
                      {size.width - right, right, left + middle, right}};
        for (const auto& p : slices) {
            if (p.sw <= 0 || p.dw <= 0) continue;
            cairo_save(cr);
            cairo_rectangle(cr, p.dx, 0, p.dw, b.height);
            cairo_clip(cr);
            cairo_translate(cr, p.dx, 0);
            cairo_scale(cr, p.dw / p.sw, b.height / size.height);
            cairo_translate(cr, -p.sx, 0);
            plat::ui::drawImage(cr, *m_image, {0, 0, size.width, size.height});
            cairo_restore(cr);
        }
    }
    std::optional<std::string> dumpImage() const override {
        return m_image ? std::optional(m_image->fileName()) : std::nullopt;
    }

private:
    std::shared_ptr<plat::ui::Image> m_image;
};

std::optional<std::string> bundleImage(const char* name) {
    const plat::foundation::Bundle* bundle = plat::foundation::Bundle::main();
    return bundle ? bundle->pathForResource(name, "png") : std::nullopt;
}

}  // namespace

}  // namespace dk::player::gamecenter

using namespace dk::player::gamecenter;

dk::player::gamecenter::BannerScreen GKAchievementNotification::currentScreen() {
    BannerScreen screen;
    // Also where the device cannot tell its idiom: only a tablet gets the shorter banner.
    screen.ratio = plat::sys::Device::current().userInterfaceIdiom() == 1 ? 0.6 : 0.88;
    auto* app = plat::ui::Application::shared();
    plat::ui::Rect interface = app ? app->interfaceBounds() : plat::ui::Rect{};
    screen.orientation = bannerOrientation(app ? app->statusBarOrientation() : 1);
    const int interfaceOrientation = app ? app->interfaceOrientation() : 1;
    if (interfaceOrientation >= 3) std::swap(interface.width, interface.height);
    screen.width = interface.width;
    screen.height = interface.height;
    screen.statusBar = 0;  // a desktop window has no status bar
    return screen;
}

GKAchievementNotification::GKAchievementNotification(const plat::gamenet::AchievementDescription& achievement) {
    setUp(achievement.title, achievement.achievedDescription);
}

GKAchievementNotification::GKAchievementNotification(std::optional<std::string> title,
                                                     std::optional<std::string> message) {
    setUp(std::move(title), std::move(message));
}

GKAchievementNotification::~GKAchievementNotification() {
    plat::foundation::RunLoop::main().cancelPerforms(this);
}

void GKAchievementNotification::setUp(std::optional<std::string> title, std::optional<std::string> message) {
    m_screen = currentScreen();
    const plat::ui::Rect size = bannerDefaultSize(m_screen);
    setFrame(size);
    std::shared_ptr<plat::ui::Image> background;
    if (auto path = bundleImage("gk-notification")) background = plat::ui::Image::fromFile(*path);
    m_background = std::make_shared<StretchedImageView>(size, std::move(background));
    m_background->setAutoresizingMask(plat::ui::kAutoresizingFlexibleWidth);
    addSubview(m_background);
    m_textLabel = std::make_shared<plat::ui::Label>(bannerText1Frame(bounds(), false));
    m_textLabel->setTextAlignment(plat::ui::TextAlignment::Center);
    m_textLabel->setTextColor({1, 1, 1, 1});
    m_textLabel->setFont({"HelveticaNeue-Bold", 15});
    m_textLabel->setText(title.value_or(plat::foundation::Bundle::localized("Achievement Unlocked")));
    m_detailLabel = std::make_shared<plat::ui::Label>(bannerText2Frame(bounds(), false));
    m_detailLabel->setTextAlignment(plat::ui::TextAlignment::Center);
    m_detailLabel->setTextColor({1, 1, 1, 1});
    m_detailLabel->setFont({"HelveticaNeue", 11});
    m_detailLabel->setAdjustsFontSizeToFitWidth(true);
    m_detailLabel->setMinimumFontSize(kMessageMinimumFontSize);
    m_detailLabel->setText(message.value_or(""));
    addSubview(m_textLabel);
    addSubview(m_detailLabel);
}

void GKAchievementNotification::setImage(const std::optional<std::string>& path) {
    std::shared_ptr<plat::ui::Image> image = path ? plat::ui::Image::fromFile(*path) : nullptr;
    if (image) {
        if (!m_logo) {
            m_logo = std::make_shared<plat::ui::ImageView>(plat::ui::Rect{7, 6, 34, 34});
            addSubview(m_logo);
        }
        m_logo->setImage(std::move(image));
    } else if (m_logo) {
        m_logo->removeFromSuperview();
        m_logo.reset();
    }
    layoutSubviews();
}

void GKAchievementNotification::layoutSubviews() {
    // From the banner's own bounds, whatever the orientation.
    if (!m_textLabel || !m_detailLabel) return;  // the first frame is set before they are made
    const bool logo = m_logo != nullptr;
    m_textLabel->setFrame(bannerText1Frame(bounds(), logo));
    m_detailLabel->setFrame(bannerText2Frame(bounds(), logo));
}

plat::ui::Rect GKAchievementNotification::startFrame() const {
    return bannerInterfaceFrame(bannerStartFrame(m_screen), m_screen);
}

plat::ui::Rect GKAchievementNotification::endFrame() const {
    return bannerInterfaceFrame(bannerEndFrame(m_screen), m_screen);
}

void GKAchievementNotification::animateIn() {
    plat::foundation::trace(bannerTrace(), "show " + title() + "|" + message());
    std::weak_ptr<View> weak = shared_from_this();
    plat::ui::View::animate({"", kSlide, plat::ui::AnimationCurve::EaseInOut}, [this] { setFrame(endFrame()); },
                            [this, weak](bool) {
                                if (weak.expired()) return;
                                plat::foundation::RunLoop::main().performAfter(kRest, this, [this] { animateOut(); });
                            });
}

void GKAchievementNotification::animateOut() {
    std::weak_ptr<View> weak = shared_from_this();
    plat::ui::View::animate({"", kSlide, plat::ui::AnimationCurve::EaseInOut}, [this] { setFrame(startFrame()); },
                            [this, weak](bool) {
                                auto self = weak.lock();
                                if (!self) return;
                                plat::foundation::trace(bannerTrace(), "hidden " + title());
                                removeFromSuperview();
                                if (m_handlerDelegate) m_handlerDelegate->didHideAchievementNotification(*this);
                            });
}

GKAchievementHandler& GKAchievementHandler::defaultHandler() {
    static GKAchievementHandler* handler = new GKAchievementHandler();
    return *handler;
}

void GKAchievementHandler::notifyAchievement(const plat::gamenet::AchievementDescription& achievement) {
    enqueue(std::make_shared<GKAchievementNotification>(achievement));
}

void GKAchievementHandler::notifyAchievementTitle(const std::string& title, const std::string& message) {
    enqueue(std::make_shared<GKAchievementNotification>(title, message));
}

void GKAchievementHandler::enqueue(std::shared_ptr<GKAchievementNotification> notification) {
    notification->setFrame(notification->startFrame());
    notification->setHandlerDelegate(this);
    notification->setImage(bundleImage("gk-icon"));
    m_queue.push_back(std::move(notification));
    if (m_queue.size() == 1) displayNotification(*m_queue.front());
}

void GKAchievementHandler::displayNotification(GKAchievementNotification& notification) {
    auto* app = plat::ui::Application::shared();
    if (app && app->keyWindow()) app->keyWindow()->addSubview(notification.shared_from_this());
    notification.animateIn();
}

void GKAchievementHandler::didHideAchievementNotification(GKAchievementNotification&) {
    if (m_queue.empty()) return;
    // Kept alive until this returns: the banner calling in is the one leaving the queue.
    std::shared_ptr<GKAchievementNotification> gone = std::move(m_queue.front());
    m_queue.pop_front();
    if (!m_queue.empty()) displayNotification(*m_queue.front());
}
