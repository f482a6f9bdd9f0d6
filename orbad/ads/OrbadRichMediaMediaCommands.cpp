// The rich-media bridge's actions that reach outside the ad: the camera, the song library, native
// alerts, vibration, the flashlight and the mail and SMS composers. Every screen that covers the
// application is framed by the page's will-become-hidden and did-return-from-hidden callbacks and,
// for an ad that is not expanded, by the engine's touch-through, which holds the refresh meanwhile.
#include <cairo.h>
#include <strings.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "orbad/ads/OrbadRichMediaMedia.h"
#include "orbad/ads/OrbadRichMediaURLParser.h"
#include "orbad/ads/OrbadRichMediaWebAdView.h"
#include "orbad/core/OrbadHelper.h"
#include "orbad/core/OrbadJSON.h"
#include "platform/foundation/RunLoop.h"
#include "platform/sys/ClassRegistry.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/MediaScreens.h"

namespace orbad {

using plat::foundation::Value;

namespace {

constexpr const char* kNoImageCallback = "ERROR: No image callback function specified";
constexpr const char* kUserCancelled = "User cancelled the action";
constexpr const char* kNoSongLibrary = "ERROR: device does not have access to the song library";
constexpr const char* kUserDenied = "Error: user denied the requested action";
constexpr const char* kNoSongObject = "Error in query songs, song object is nil";
constexpr const char* kInvalidSongJSON = "Error in query songs, invalid JSON: ";
constexpr const char* kNoFlashlight =
    "Error: the device does not apear to have a flashlight, make sure to always check availability first";
constexpr const char* kFlashlightOn = "Error: the flashlight is already on";
constexpr const char* kFlashlightLock = "Error: unable to acquire the lock required for turning on the flashlight";
constexpr const char* kFlashlightOff = "Error: the flashlight was already off or not present on the device";
constexpr const char* kSongAlertTitle = "Song Access";
constexpr const char* kSongAlertMessage =
    "The advertisement is attempting to query the songs in your iTunes library. Would you like to allow this?";
constexpr const char* kSongKeys[] = {"title", "albumTitle", "artist", "albumArtist", "genre", "composer"};
constexpr double kPhotoAnswerDelay = 0.5;
constexpr double kPhotoQuality = 0.1;

constexpr auto parameter = &OrbadRichMediaURLParser::parameter;

std::vector<std::string> split(std::string_view text, char separator) {
    std::vector<std::string> pieces;
    size_t start = 0;
    while (true) {
        const size_t end = text.find(separator, start);
        pieces.emplace_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos) return pieces;
        start = end + 1;
    }
}

// Addresses: empty pieces are no one.
std::vector<std::string> addresses(std::string_view text) {
    std::vector<std::string> out;
    for (std::string& piece : split(text, ','))
        if (!piece.empty()) out.push_back(std::move(piece));
    return out;
}

// A whole number the way the page's text reads as one ("100", "50.7"); nullopt for none.
std::optional<int> wholeNumber(const std::optional<std::string>& text) {
    if (!text) return std::nullopt;
    char* end = nullptr;
    const double value = std::strtod(text->c_str(), &end);
    if (end == text->c_str() || !std::isfinite(value) || std::fabs(value) > 1e9) return std::nullopt;
    return int(value);
}

}  // namespace

// ---- the pictures ----

plat::image::Bitmap orbadResizedImage(const plat::image::Bitmap& source, int orientation, int width, int height) {
    plat::image::Bitmap out;
    if (width <= 0 || height <= 0 || width > kOrbadMaxPhotoSide || height > kOrbadMaxPhotoSide ||
        source.width <= 0 || source.height <= 0 || orientation < 0 || orientation > 7)
        return out;
    const int turn = orientation & 3;  // up, down, left, right
    const bool mirrored = orientation >= 4;
    const bool upright = turn == 0 || turn == 1;
    out.width = upright ? width : height;
    out.height = upright ? height : width;
    out.hasAlpha = source.hasAlpha;

    // The source as premultiplied native-endian ARGB, each row as Cairo wants it.
    const int sourceStride = cairo_format_stride_for_width(CAIRO_FORMAT_ARGB32, source.width);
    std::vector<uint8_t> sourcePixels(size_t(sourceStride) * source.height);
    for (int y = 0; y < source.height; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(sourcePixels.data() + size_t(y) * sourceStride);
        for (int x = 0; x < source.width; ++x) {
            const uint8_t* p = &source.rgba[(size_t(y) * source.width + x) * 4];
            const uint32_t a = source.hasAlpha ? p[3] : 255;
            row[x] = a << 24 | (p[0] * a / 255) << 16 | (p[1] * a / 255) << 8 | (p[2] * a / 255);
        }
    }
    // The target's rows are as long as its own width asks, also when the photo is enlarged.
    const int stride = cairo_format_stride_for_width(CAIRO_FORMAT_ARGB32, out.width);
    std::vector<uint8_t> pixels(size_t(stride) * out.height, 0);
    cairo_surface_t* from = cairo_image_surface_create_for_data(sourcePixels.data(), CAIRO_FORMAT_ARGB32,
                                                                source.width, source.height, sourceStride);
    cairo_surface_t* to =
        cairo_image_surface_create_for_data(pixels.data(), CAIRO_FORMAT_ARGB32, out.width, out.height, stride);
    cairo_t* cr = cairo_create(to);
    switch (turn) {
        case 1:  // down: half a turn
            cairo_translate(cr, width, height);
            cairo_rotate(cr, M_PI);
            break;
        case 2:  // left: a quarter turn against the clock
            cairo_translate(cr, 0, width);
            cairo_rotate(cr, -M_PI / 2);
            break;
        case 3:  // right: a quarter turn with the clock
            cairo_translate(cr, height, 0);
            cairo_rotate(cr, M_PI / 2);
            break;
        default: break;
    }
    if (mirrored) {  // flipped in the picture's own space, before it turns
        cairo_translate(cr, width, 0);
        cairo_scale(cr, -1, 1);
    }
    cairo_scale(cr, double(width) / source.width, double(height) / source.height);
    cairo_set_source_surface(cr, from, 0, 0);
    cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_flush(to);
    cairo_surface_destroy(to);
    cairo_surface_destroy(from);

    out.rgba.resize(size_t(out.width) * out.height * 4);
    for (int y = 0; y < out.height; ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(pixels.data() + size_t(y) * stride);
        for (int x = 0; x < out.width; ++x) {
            const uint32_t v = row[x];
            const uint32_t a = source.hasAlpha ? v >> 24 : 255;
            uint8_t* p = &out.rgba[(size_t(y) * out.width + x) * 4];
            auto straight = [&](uint32_t c) { return uint8_t(a ? std::min<uint32_t>(255, (c * 255 + a / 2) / a) : 0); };
            p[0] = straight(v >> 16 & 0xff);
            p[1] = straight(v >> 8 & 0xff);
            p[2] = straight(v & 0xff);
            p[3] = uint8_t(a);
        }
    }
    return out;
}

// ---- the links ----

OrbadEmailLink orbadConvertEmailURI(std::string_view uri) {
    OrbadEmailLink link;
    const std::string_view rest = uri.size() > 7 ? uri.substr(7) : std::string_view();
    const size_t question = rest.find('?');
    link.to = addresses(orbadPercentDecoded(rest.substr(0, question)));
    if (question == std::string_view::npos) return link;
    std::string_view query = rest.substr(question + 1);
    while (!query.empty()) {
        const size_t equals = query.find('=');
        if (equals == std::string_view::npos) break;
        const std::string name(query.substr(0, equals));
        std::string_view value = query.substr(equals + 1);
        const size_t amp = value.find('&');
        query = amp == std::string_view::npos ? std::string_view() : value.substr(amp + 1);
        if (amp != std::string_view::npos) value = value.substr(0, amp);
        const std::string text = orbadPercentDecoded(value);
        if (strcasecmp(name.c_str(), "subject") == 0 || strcasecmp(name.c_str(), "body") == 0) {
            link.texts[name] = text;
        } else {
            // Every value may list several addresses, the first one as well.
            std::vector<std::string>& list = link.lists[name];
            for (std::string& piece : addresses(text)) list.push_back(std::move(piece));
        }
    }
    return link;
}

OrbadSMSLink orbadConvertSMSURI(std::string_view uri) {
    OrbadSMSLink link;
    std::string_view rest = uri.size() > 4 ? uri.substr(4) : std::string_view();
    // "sms://123" names 123, not "//123".
    if (rest.substr(0, 2) == "//") rest.remove_prefix(2);
    const size_t question = rest.find('?');
    link.recipients = addresses(orbadPercentDecoded(rest.substr(0, question)));
    if (question == std::string_view::npos) return link;
    const auto parameters = OrbadRichMediaURLParser::extractParametersFromUrl(rest.substr(question));
    if (auto it = parameters.find("body"); it != parameters.end()) link.body = orbadPercentDecoded(it->second);
    return link;
}

// ---- the view's side ----

// The screens' and alerts' delegate. The view owns it and the screens hold it weakly, so an answer
// that comes after the view has gone finds no one and is dropped.
class OrbadRichMediaWebAdView::MediaRelay : public plat::ui::AlertViewDelegate,
                                            public plat::ui::ImagePickerControllerDelegate,
                                            public plat::ui::MailComposeViewControllerDelegate,
                                            public plat::ui::MessageComposeViewControllerDelegate {
public:
    explicit MediaRelay(OrbadRichMediaWebAdView& view) : m_view(view) {}
    bool tookTouchThrough = false;  // the composer on screen

    void alertViewClickedButton(plat::ui::AlertView& alert, int index, const std::string& title) override {
        const auto keep = m_view.weak_from_this().lock();
        m_view.alertAnswered(alert, index, title, false);
    }
    void alertViewCancel(plat::ui::AlertView& alert) override {
        const auto keep = m_view.weak_from_this().lock();
        m_view.alertAnswered(alert, -1, {}, true);
    }
    void imagePickerControllerDidCancel(plat::ui::ImagePickerController& picker) override {
        const auto keep = m_view.weak_from_this().lock();
        m_view.photoPicked(picker, nullptr);
    }
    void imagePickerControllerDidFinishPicking(plat::ui::ImagePickerController& picker,
                                               const plat::ui::PickedMedia& media) override {
        const auto keep = m_view.weak_from_this().lock();
        m_view.photoPicked(picker, &media);
    }
    void mailComposeControllerDidFinish(plat::ui::MailComposeViewController& composer,
                                        plat::ui::ComposeResult) override {
        const auto keep = m_view.weak_from_this().lock();
        m_view.composerFinished(composer, tookTouchThrough);
    }
    void messageComposeViewControllerDidFinish(plat::ui::MessageComposeViewController& composer,
                                               plat::ui::ComposeResult) override {
        const auto keep = m_view.weak_from_this().lock();
        m_view.composerFinished(composer, tookTouchThrough);
    }

private:
    OrbadRichMediaWebAdView& m_view;
};

// What an alert on screen was shown for: the song library's permission, or the page's own alert.
struct OrbadRichMediaWebAdView::AlertContext {
    bool songs = false;
    std::optional<std::string> songJSON, ok, err;  // the song permission
    std::optional<std::string> customAlertCallback;
    bool tookTouchThrough = false;  // the custom alert's, to be finished at its tap
};

plat::ui::ViewController* OrbadRichMediaWebAdView::hostController() const {
    if (isExpanded()) return attachedViewController();
    auto host = mainAdView();
    return host ? host->viewController() : nullptr;
}

bool OrbadRichMediaWebAdView::takeTouchThrough(bool& took) {
    took = false;
    if (isExpanded()) return true;
    auto host = mainAdView();
    if (!host || !host->adShouldTouchThrough(m_currentAd)) return false;
    took = true;
    ++m_heldTouchThroughs;
    return true;
}

void OrbadRichMediaWebAdView::finishTouchThrough(bool took) {
    if (!took) return;
    if (m_heldTouchThroughs > 0) --m_heldTouchThroughs;
    if (auto host = mainAdView()) host->adDidFinishTouchThrough(m_currentAd);
}

void OrbadRichMediaWebAdView::endMediaScreens() {
    for (const auto& weak : std::exchange(m_coveringScreens, {}))
        if (auto screen = weak.lock(); screen && screen->presentingViewController()) screen->dismissViewController(false);
    while (m_heldTouchThroughs > 0) finishTouchThrough(true);
}

void OrbadRichMediaWebAdView::willBecomeHidden() {
    if (m_displayCallbacks.willBecomeHidden) callback(*m_displayCallbacks.willBecomeHidden);
}

void OrbadRichMediaWebAdView::didReturnFromHidden() {
    if (m_displayCallbacks.didReturnFromHidden) callback(*m_displayCallbacks.didReturnFromHidden);
}

// ---- the camera ----

void OrbadRichMediaWebAdView::commandCameraTakePhoto(const Parameters& parameters) {
    const auto ok = parameter(parameters, "successCallbackFunctionName");
    const auto err = parameter(parameters, "errorCallbackFunctionName");
    if (!ok) {
        if (err) callback(*err, kNoImageCallback);
        return;
    }
    m_imageSuccessCallback = ok;
    m_imageWidth = wholeNumber(parameter(parameters, "width"));
    m_imageHeight = wholeNumber(parameter(parameters, "height"));
    m_imageErrorCallback = err;
    takePhotoAndReturnToWebview();
}

void OrbadRichMediaWebAdView::takePhotoAndReturnToWebview() {
    if (!plat::ui::ImagePickerController::isCameraAvailable()) return;
    bool took = false;
    if (!takeTouchThrough(took)) return;
    plat::ui::ViewController* controller = hostController();
    if (!controller) return finishTouchThrough(took);
    if (!m_mediaRelay) m_mediaRelay = std::make_shared<MediaRelay>(*this);
    auto picker = std::make_shared<plat::ui::ImagePickerController>();
    picker->setDelegate(m_mediaRelay);
    if (presentCovering(*controller, picker, took)) m_photoTookTouchThrough = took;
}

// A controller that already shows a screen refuses another: the page gets its screen back at once
// and the touch-through is given back, or every banner's refresh would stay held.
bool OrbadRichMediaWebAdView::presentCovering(plat::ui::ViewController& controller,
                                              const std::shared_ptr<plat::ui::ViewController>& screen, bool took) {
    willBecomeHidden();
    controller.presentViewController(screen, true);
    if (screen->presentingViewController()) {
        std::erase_if(m_coveringScreens, [](const auto& weak) { return weak.expired(); });
        m_coveringScreens.push_back(screen);
        return true;
    }
    didReturnFromHidden();
    finishTouchThrough(took);
    return false;
}

void OrbadRichMediaWebAdView::photoPicked(plat::ui::ImagePickerController& picker, const plat::ui::PickedMedia* media) {
    picker.dismissViewController(true);
    const bool took = std::exchange(m_photoTookTouchThrough, false);
    if (!media) {
        if (m_imageErrorCallback) callback(*m_imageErrorCallback, kUserCancelled);
        didReturnFromHidden();
        finishTouchThrough(took);
        clearPhotoRequest();
        return;
    }
    didReturnFromHidden();
    finishTouchThrough(took);
    const plat::image::Bitmap& picture = media->edited ? *media->edited : media->original;
    // Without a usable requested size the picture keeps its own, still turned upright.
    const bool sized = m_imageWidth && m_imageHeight && *m_imageWidth > 0 && *m_imageHeight > 0 &&
                       *m_imageWidth <= kOrbadMaxPhotoSide && *m_imageHeight <= kOrbadMaxPhotoSide;
    plat::image::Bitmap image = orbadResizedImage(picture, media->orientation, sized ? *m_imageWidth : picture.width,
                                                  sized ? *m_imageHeight : picture.height);
    if (image.rgba.empty()) image = picture;
    plat::foundation::RunLoop::main().performAfter(kPhotoAnswerDelay, this,
                                                   [this, image = std::move(image)] { photoCallback(image); });
}

void OrbadRichMediaWebAdView::photoCallback(const plat::image::Bitmap& image) {
    std::vector<uint8_t> jpeg;
    std::string error;
    if (m_imageSuccessCallback &&
        plat::image::encodeJPEG(image.width, image.height, image.rgba.data(), image.rgba.size(), kPhotoQuality, &jpeg,
                                &error)) {
        std::string text = OBNewBase64Encode(jpeg.data(), jpeg.size(), false);
        std::erase_if(text, [](char c) { return std::isspace(static_cast<unsigned char>(c)); });
        callback(*m_imageSuccessCallback, text);
    }
    clearPhotoRequest();
}

void OrbadRichMediaWebAdView::clearPhotoRequest() {
    m_imageWidth.reset();
    m_imageHeight.reset();
    m_imageSuccessCallback.reset();
    m_imageErrorCallback.reset();
}

// ---- the song library ----

void OrbadRichMediaWebAdView::commandMediaQuerySongs(const Parameters& parameters) {
    askUserPermissionToQuerySongs(parameter(parameters, "song"), parameter(parameters, "successCallbackFunctionName"),
                                  parameter(parameters, "errorCallbackFunctionName"));
}

// Asked without a touch-through: the alert does not take the user away from the application.
void OrbadRichMediaWebAdView::askUserPermissionToQuerySongs(std::optional<std::string> json,
                                                            std::optional<std::string> ok,
                                                            std::optional<std::string> err) {
    if (!plat::sys::hasClass(plat::devices::kMediaQueryClassName)) {
        if (err) callback(*err, kNoSongLibrary);
        return;
    }
    if (!m_mediaRelay) m_mediaRelay = std::make_shared<MediaRelay>(*this);
    auto context = std::make_shared<AlertContext>();
    context->songs = true;
    context->songJSON = std::move(json);
    context->ok = std::move(ok);
    context->err = std::move(err);
    auto alert = std::make_shared<plat::ui::AlertView>(kSongAlertTitle, kSongAlertMessage,
                                                       std::vector<std::string>{"Deny", "Allow"}, m_mediaRelay);
    m_alertContexts[alert.get()] = std::move(context);
    alert->show();
}

void OrbadRichMediaWebAdView::querySongs(const std::optional<std::string>& json, const std::optional<std::string>& ok,
                                         const std::optional<std::string>& err) {
    if (!plat::sys::hasClass(plat::devices::kMediaQueryClassName)) {
        if (err) callback(*err, kNoSongLibrary);
        return;
    }
    if (!json) {
        if (err) callback(*err, kNoSongObject);
        return;
    }
    plat::foundation::Error error;
    const std::optional<Value> filter = OrbadJSON::decodeData(orbadPercentDecoded(*json), &error);
    if (!filter || !filter->dictionary()) {
        // A filter that is valid JSON but no object filters nothing: it is as wrong as bad JSON.
        const std::string description = filter ? "the song object is not a JSON object" : error.message;
        if (err) callback(*err, kInvalidSongJSON + obStringByAddingHTMLEscapes(description));
        return;
    }
    std::map<std::string, std::string> filters;
    for (const char* key : kSongKeys)
        if (const Value* value = filter->find(key)) filters[key] = value->string() ? *value->string() : value->description();
    const std::vector<plat::devices::Song> songs = plat::devices::querySongs(filters);
    if (!ok) return;
    if (songs.empty()) return callback(*ok, "[]");
    Value::Array list;
    for (const plat::devices::Song& song : songs) {
        Value::Dictionary entry;
        for (const char* key : kSongKeys)
            if (auto it = song.find(key); it != song.end()) entry[key] = Value(obStringByAddingHTMLEscapes(it->second));
        list.emplace_back(std::move(entry));
    }
    callback(*ok, OrbadJSON::encodeObject(Value(std::move(list))).value_or("[]"));
}

// ---- alerts ----

void OrbadRichMediaWebAdView::commandDeviceAlert(const Parameters& parameters) {
    const auto cb = parameter(parameters, "callbackFunctionName");
    if (!cb) return;
    const std::string title = orbadPercentDecoded(parameter(parameters, "title").value_or(""));
    std::optional<std::string> message;
    if (auto text = parameter(parameters, "message")) message = orbadPercentDecoded(*text);
    std::vector<std::string> buttons;
    if (auto titles = parameter(parameters, "buttonTitles")) buttons = split(orbadPercentDecoded(*titles), '|');
    // An alert without buttons could never be closed.
    if (buttons.empty()) buttons.push_back("OK");
    bool took = false;
    if (!takeTouchThrough(took)) return;
    if (!m_mediaRelay) m_mediaRelay = std::make_shared<MediaRelay>(*this);
    auto context = std::make_shared<AlertContext>();
    context->customAlertCallback = cb;
    context->tookTouchThrough = took;
    auto alert = std::make_shared<plat::ui::AlertView>(title, message, std::move(buttons), m_mediaRelay);
    m_alertContexts[alert.get()] = std::move(context);
    alert->show();
}

void OrbadRichMediaWebAdView::alertAnswered(plat::ui::AlertView& alert, int index, const std::string& title,
                                            bool cancelled) {
    const auto found = m_alertContexts.find(&alert);
    if (found == m_alertContexts.end()) return;
    const std::shared_ptr<AlertContext> context = found->second;
    m_alertContexts.erase(found);
    if (context->songs) {
        // "Deny" is the cancel button; the system's own dismissal denies too.
        if (cancelled || index == 0) {
            if (context->err) callback(*context->err, kUserDenied);
        } else {
            querySongs(context->songJSON, context->ok, context->err);
        }
        return;
    }
    if (!cancelled && context->customAlertCallback) {
        evaluate("mAdViewCallbackHandler('" + orbadJSQuoted(*context->customAlertCallback) + "', " +
                 std::to_string(index) + ", '" + orbadJSQuoted(title) + "');");
    }
    finishTouchThrough(context->tookTouchThrough);
}

// ---- vibration and the flashlight ----

void OrbadRichMediaWebAdView::commandDeviceVibrate(const Parameters& parameters) {
    plat::devices::playVibration();
    if (auto ok = parameter(parameters, "successCallbackFunctionName")) callback(*ok);
}

void OrbadRichMediaWebAdView::commandDeviceFlashlightOn(const Parameters& parameters) {
    const auto ok = parameter(parameters, "successCallbackFunctionName");
    const auto err = parameter(parameters, "errorCallbackFunctionName");
    auto fail = [&](const char* text) {
        if (err) callback(*err, text);
    };
    if (!plat::sys::hasClass(plat::devices::kCaptureDeviceClassName)) return fail(kNoFlashlight);
    if (m_session) return fail(kFlashlightOn);
    const std::shared_ptr<plat::devices::CaptureDevice> device =
        plat::devices::CaptureDevice::defaultVideoDevice();
    if (!device) return fail(kNoFlashlight);
    if (!device->lockForConfiguration(nullptr)) return fail(kFlashlightLock);
    m_session = std::make_unique<plat::devices::CaptureSession>();
    m_session->beginConfiguration();
    device->setTorchOn(true);
    device->setFlashOn(true);
    m_session->addDevice(device);
    device->unlockForConfiguration();
    m_session->commitConfiguration();
    m_session->startRunning();
    if (ok) callback(*ok);
}

void OrbadRichMediaWebAdView::commandDeviceFlashlightOff(const Parameters& parameters) {
    if (!m_session) {
        if (auto err = parameter(parameters, "errorCallbackFunctionName")) callback(*err, kFlashlightOff);
        return;
    }
    turnFlashlightOff();
    if (auto ok = parameter(parameters, "successCallbackFunctionName")) callback(*ok);
}

void OrbadRichMediaWebAdView::turnFlashlightOff() {
    if (!m_session) return;
    m_session->stopRunning();
    m_session.reset();
}

// ---- mail and SMS ----

void OrbadRichMediaWebAdView::sendEmailFromURI(const std::string& uri) {
    if (!plat::ui::MailComposeViewController::canSendMail()) return;
    bool took = false;
    if (!takeTouchThrough(took)) return;
    plat::ui::ViewController* controller = hostController();
    if (!controller) return finishTouchThrough(took);
    const OrbadEmailLink link = orbadConvertEmailURI(uri);
    if (!m_mediaRelay) m_mediaRelay = std::make_shared<MediaRelay>(*this);
    auto composer = std::make_shared<plat::ui::MailComposeViewController>();
    composer->setMailComposeDelegate(m_mediaRelay);
    composer->setToRecipients(link.to);
    if (auto it = link.lists.find("bcc"); it != link.lists.end()) composer->setBccRecipients(it->second);
    if (auto it = link.lists.find("cc"); it != link.lists.end()) composer->setCcRecipients(it->second);
    if (auto it = link.texts.find("body"); it != link.texts.end()) composer->setMessageBody(it->second, false);
    if (auto it = link.texts.find("subject"); it != link.texts.end()) composer->setSubject(it->second);
    if (presentCovering(*controller, composer, took)) m_mediaRelay->tookTouchThrough = took;
}

void OrbadRichMediaWebAdView::sendSMSFromURI(const std::string& uri) {
    if (!plat::ui::MessageComposeViewController::canSendText()) return;
    bool took = false;
    if (!takeTouchThrough(took)) return;
    plat::ui::ViewController* controller = hostController();
    if (!controller) return finishTouchThrough(took);
    const OrbadSMSLink link = orbadConvertSMSURI(uri);
    if (!m_mediaRelay) m_mediaRelay = std::make_shared<MediaRelay>(*this);
    auto composer = std::make_shared<plat::ui::MessageComposeViewController>();
    composer->setMessageComposeDelegate(m_mediaRelay);
    composer->setRecipients(link.recipients);
    composer->setBody(link.body);
    if (presentCovering(*controller, composer, took)) m_mediaRelay->tookTouchThrough = took;
}

void OrbadRichMediaWebAdView::composerFinished(plat::ui::ViewController& composer, bool took) {
    composer.dismissViewController(true);
    didReturnFromHidden();
    finishTouchThrough(took);
}

}  // namespace orbad
