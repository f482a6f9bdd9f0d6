// A placement's notification (a short value with a type), asked of the content API with a
// metadata request and drawn as a badge by a renderer chosen by its type. Main thread.
#pragma once

#include <concepts>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "kiosk/KSAPIRequest.h"
#include "platform/ui/View.h"

class KSPublisherMetadataRequest : public KSAPIRequest {
public:
    // Always a new request, registered; never a live one handed back.
    static std::shared_ptr<KSPublisherMetadataRequest> requestForApp(std::string token, std::string secret,
                                                                     std::string placement,
                                                                     KSAPIRequestDelegate* delegate);
    using KSAPIRequest::KSAPIRequest;
    const char* className() const override { return "KSPublisherMetadataRequest"; }
    const std::string& placement() const { return m_placement; }

protected:
    std::string urlPath() const override;
    KSJsonObject additionalParameters() const override;

private:
    std::string m_placement;
};

// Draws nothing and takes no room.
class KSNotificationRenderer {
public:
    virtual ~KSNotificationRenderer() = default;
    virtual void drawNotification(cairo_t* cr, const KSJsonObject& notification, const plat::sys::Rect& rect);
    virtual plat::sys::Size sizeForNotification(const KSJsonObject& notification);
};

// The value in white DejaVu Sans Bold 17 on the badge image, stretched through its middle column
// (14); "0" shows nothing.
class KSNotificationBadgeRenderer : public KSNotificationRenderer {
public:
    void drawNotification(cairo_t* cr, const KSJsonObject& notification,
                          const plat::sys::Rect& rect) override;
    plat::sys::Size sizeForNotification(const KSJsonObject& notification) override;
};

class KSNotificationView : public plat::ui::View, private KSAPIRequestDelegate {
public:
    // Zero frame, clear and unclipped.
    static std::shared_ptr<KSNotificationView> make(std::string token, std::string secret,
                                                    std::string placement);
    explicit KSNotificationView(const plat::sys::Rect& frame);
    ~KSNotificationView() override;
    const char* className() const override { return "KSNotificationView"; }

    // One metadata request at a time: a refresh while one runs does nothing.
    void refresh();
    void clear();
    // A badge with the count 1.
    void test();
    const std::optional<KSJsonObject>& notificationData() const { return m_notificationData; }
    // Resizes the view about its centre to what the data's renderer asks and redraws.
    void setNotificationData(std::optional<KSJsonObject> data);
    bool isRequestRunning() const { return !m_request.expired(); }

    // Only renderer types can be registered; a type registered again is replaced.
    template <class Renderer>
    requires std::derived_from<Renderer, KSNotificationRenderer>
    static void setRendererClass(const std::string& type) {
        setRendererFactory(type, [] { return std::unique_ptr<KSNotificationRenderer>(new Renderer()); });
    }
    // The class registered for the data's "type", else the plain renderer.
    static std::unique_ptr<KSNotificationRenderer> newRendererForData(
        const std::optional<KSJsonObject>& data);

    bool drawsContent() const override { return true; }
    void draw(cairo_t* cr) override;

private:
    static void setRendererFactory(const std::string& type,
                                   std::function<std::unique_ptr<KSNotificationRenderer>()> make);
    void requestDidSucceedWithResponse(KSAPIRequest& request, const KSJsonValue* response) override;
    void requestDidFailWithError(KSAPIRequest& request, const plat::foundation::Error& error) override;

    std::string m_token;
    std::string m_secret;
    std::string m_placement;
    std::unique_ptr<KSNotificationRenderer> m_renderer;
    std::weak_ptr<KSAPIRequest> m_request;
    std::optional<KSJsonObject> m_notificationData;
};
