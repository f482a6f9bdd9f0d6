#include "kiosk/content/KSNotificationView.h"

#include <cairo.h>

#include <map>

#include "kiosk/content/KSEmbeddedImages.h"
#include "platform/net/Servers.h"
#include "platform/sys/Device.h"
#include "platform/ui/Image.h"
#include "platform/ui/Label.h"

using plat::sys::Rect;
using plat::sys::Size;

namespace {

constexpr double kLeftCap = 14;
const plat::ui::Font kBadgeFont{"DejaVu Sans-Bold", 17};

std::map<std::string, std::function<std::unique_ptr<KSNotificationRenderer>()>, std::less<>>& renderers() {
    static std::map<std::string, std::function<std::unique_ptr<KSNotificationRenderer>()>, std::less<>> map{
        {"badge", [] { return std::unique_ptr<KSNotificationRenderer>(new KSNotificationBadgeRenderer()); }}};
    return map;
}

std::string valueText(const KSJsonObject& notification) {
    return KSAgnosticStringValue(notification.find("value")).value_or("(null)");
}

std::shared_ptr<plat::ui::Image> badge() {
    return kiosk::badgeImage(plat::sys::Screen::main().scale());
}

// One piece of `image` (source columns sx..sx+sw, all rows) painted over the destination columns.
void paintColumns(cairo_t* cr, const plat::ui::Image& image, double sx, double sw, double dx, double dw,
                  double h) {
    if (sw <= 0 || dw <= 0) return;
    const double scale = image.scale();
    cairo_save(cr);
    cairo_rectangle(cr, dx, 0, dw, h);
    cairo_clip(cr);
    cairo_translate(cr, dx, 0);
    cairo_scale(cr, dw / sw, h / image.size().height);
    cairo_translate(cr, -sx, 0);
    cairo_scale(cr, 1 / scale, 1 / scale);
    cairo_set_source_surface(cr, image.surface(), 0, 0);
    cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
    cairo_paint(cr);
    cairo_restore(cr);
}

}  // namespace

// --- metadata request ---

std::shared_ptr<KSPublisherMetadataRequest> KSPublisherMetadataRequest::requestForApp(
    std::string token, std::string secret, std::string placement, KSAPIRequestDelegate* delegate) {
    auto request =
        KSAPIRequest::requestForApp<KSPublisherMetadataRequest>(std::move(token), std::move(secret));
    request->m_placement = std::move(placement);
    request->setDelegate(delegate);
    return request;
}

std::string KSPublisherMetadataRequest::urlPath() const {
    return plat::net::serverURL("kiosk.api", plat::net::serverBase("kiosk.api"), "/v3/publisher/content/");
}

KSJsonObject KSPublisherMetadataRequest::additionalParameters() const {
    KSJsonObject parameters;
    parameters.set("placement_id", m_placement);
    parameters.set("metadata", "1");
    return parameters;
}

// --- renderers ---

void KSNotificationRenderer::drawNotification(cairo_t*, const KSJsonObject&, const Rect&) {}

Size KSNotificationRenderer::sizeForNotification(const KSJsonObject&) {
    return {};
}

Size KSNotificationBadgeRenderer::sizeForNotification(const KSJsonObject& notification) {
    std::string value = valueText(notification);
    if (value == "0") return {};
    return {plat::ui::textWidth(value, kBadgeFont) + 20, badge()->size().height};
}

void KSNotificationBadgeRenderer::drawNotification(cairo_t* cr, const KSJsonObject& notification,
                                                   const Rect&) {
    std::string value = valueText(notification);
    if (value == "0") return;
    std::shared_ptr<plat::ui::Image> image = badge();
    Size size = sizeForNotification(notification);
    const double w = image->size().width, h = image->size().height;
    // Left cap as drawn, the middle column stretched, the rest as drawn at the right end.
    const double right = w - kLeftCap - 1;
    paintColumns(cr, *image, 0, kLeftCap, 0, std::min(kLeftCap, size.width), h);
    paintColumns(cr, *image, kLeftCap, 1, kLeftCap, size.width - kLeftCap - right, h);
    paintColumns(cr, *image, kLeftCap + 1, right, size.width - right, right, h);
    plat::ui::drawText(cr, value, kBadgeFont, plat::ui::Color{1, 1, 1, 1}, Rect{10, 1, size.width, h},
                       plat::ui::TextAlignment::Left, 1, plat::ui::VerticalAlignment::Top);
}

// --- the view ---

std::shared_ptr<KSNotificationView> KSNotificationView::make(std::string token, std::string secret,
                                                             std::string placement) {
    auto view = std::make_shared<KSNotificationView>(Rect{});
    view->m_token = std::move(token);
    view->m_secret = std::move(secret);
    view->m_placement = std::move(placement);
    return view;
}

KSNotificationView::KSNotificationView(const Rect& frame) : View(frame) {
    setBackgroundColor(std::nullopt);
    setClipsToBounds(false);
}

KSNotificationView::~KSNotificationView() {
    if (auto request = m_request.lock(); request && request->delegate() == this)
        request->setDelegate(nullptr);
}

void KSNotificationView::setRendererFactory(const std::string& type,
                                            std::function<std::unique_ptr<KSNotificationRenderer>()> make) {
    renderers()[type] = std::move(make);
}

std::unique_ptr<KSNotificationRenderer> KSNotificationView::newRendererForData(
    const std::optional<KSJsonObject>& data) {
    const KSJsonValue* type = data ? data->find("type") : nullptr;
    if (type && type->string())
        if (auto found = renderers().find(*type->string()); found != renderers().end())
            return found->second();
    return std::make_unique<KSNotificationRenderer>();
}

void KSNotificationView::refresh() {
    if (isRequestRunning()) return;
    auto request = KSPublisherMetadataRequest::requestForApp(m_token, m_secret, m_placement, this);
    m_request = request;
    request->send();
}

void KSNotificationView::clear() {
    if (auto request = m_request.lock()) request->setDelegate(nullptr);
    m_request.reset();
    setNotificationData(std::nullopt);
}

void KSNotificationView::test() {
    static const KSJsonObject data = [] {
        KSJsonObject d;
        d.set("type", "badge");
        d.set("value", "1");
        return d;
    }();
    setNotificationData(data);
}

void KSNotificationView::setNotificationData(std::optional<KSJsonObject> data) {
    m_notificationData = std::move(data);
    m_renderer = newRendererForData(m_notificationData);
    Size size = m_notificationData ? m_renderer->sizeForNotification(*m_notificationData) : Size{};
    const Rect& old = frame();
    const double cx = old.x + old.width / 2, cy = old.y + old.height / 2;
    setFrame({cx - size.width / 2, cy - size.height / 2, size.width, size.height});
    setNeedsDisplay();
}

void KSNotificationView::draw(cairo_t* cr) {
    if (m_renderer && m_notificationData)
        m_renderer->drawNotification(cr, *m_notificationData, {0, 0, frame().width, frame().height});
}

void KSNotificationView::requestDidSucceedWithResponse(KSAPIRequest&, const KSJsonValue* response) {
    m_request.reset();
    const KSJsonObject* object = response ? response->object() : nullptr;
    const KSJsonValue* notification = object ? object->find("notification") : nullptr;
    if (notification && notification->object())
        setNotificationData(*notification->object());
    else
        setNotificationData(std::nullopt);
}

void KSNotificationView::requestDidFailWithError(KSAPIRequest&, const plat::foundation::Error&) {
    m_request.reset();
    setNotificationData(std::nullopt);
}
