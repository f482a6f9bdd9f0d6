#include "platform/ui/MediaScreens.h"

#include "platform/foundation/Log.h"
#include "platform/services/devices/MediaServices.h"
#include "platform/ui/UITrace.h"

namespace plat::ui {

namespace {

std::weak_ptr<ImagePickerController>& lastPicker() {
    static std::weak_ptr<ImagePickerController> picker;
    return picker;
}

std::weak_ptr<ComposeViewController>& lastComposer() {
    static std::weak_ptr<ComposeViewController> composer;
    return composer;
}

std::string joined(const std::vector<std::string>& items) {
    std::string out;
    for (const std::string& item : items) out += (out.empty() ? "" : ",") + traceable(item);
    return out;
}

bool readPicture(const std::string& path, image::Bitmap* out) {
    image::Error error;
    if (image::decodeFile(path, out, &error)) return true;
    foundation::log("camera: cannot read %s: %s", path.c_str(), error.message.c_str());
    return false;
}

}  // namespace

bool ImagePickerController::isCameraAvailable() {
    return devices::cameraSource().has_value();
}

void ImagePickerController::viewWillAppear(bool) {
    lastPicker() = std::static_pointer_cast<ImagePickerController>(shared_from_this());
    devices::reportMedia("camera show");
}

std::shared_ptr<ImagePickerController> ImagePickerController::onScreen() {
    auto picker = lastPicker().lock();
    return picker && picker->presentingViewController() ? picker : nullptr;
}

bool ImagePickerController::pick() {
    if (!presentingViewController()) return false;
    const std::shared_ptr<ViewController> self = shared_from_this();
    const std::optional<devices::CameraConfig> source = devices::cameraSource();
    PickedMedia media;
    bool read = source && readPicture(source->image, &media.original);
    if (read && source->edited) {
        media.edited.emplace();
        if (!readPicture(*source->edited, &*media.edited)) media.edited.reset();
    }
    if (!read) return cancel();
    media.orientation = source->orientation;
    if (auto delegate = m_delegate.lock()) delegate->imagePickerControllerDidFinishPicking(*this, media);
    return true;
}

bool ImagePickerController::cancel() {
    if (!presentingViewController()) return false;
    const std::shared_ptr<ViewController> self = shared_from_this();
    if (auto delegate = m_delegate.lock()) delegate->imagePickerControllerDidCancel(*this);
    return true;
}

void ComposeViewController::viewWillAppear(bool) {
    lastComposer() = std::static_pointer_cast<ComposeViewController>(shared_from_this());
    devices::reportMedia(describe());
}

std::shared_ptr<ComposeViewController> ComposeViewController::onScreen() {
    auto composer = lastComposer().lock();
    return composer && composer->presentingViewController() ? composer : nullptr;
}

bool ComposeViewController::finish(ComposeResult result) {
    if (!presentingViewController()) return false;
    const std::shared_ptr<ViewController> self = shared_from_this();
    tellDelegate(result);
    return true;
}

bool MailComposeViewController::canSendMail() {
    return devices::canSendMail();
}

std::string MailComposeViewController::describe() const {
    return "mail to=" + joined(m_to) + "|cc=" + joined(m_cc) + "|bcc=" + joined(m_bcc) +
           "|subject=" + traceable(m_subject) + "|body=" + traceable(m_body);
}

void MailComposeViewController::tellDelegate(ComposeResult result) {
    if (auto delegate = m_delegate.lock()) delegate->mailComposeControllerDidFinish(*this, result);
}

bool MessageComposeViewController::canSendText() {
    return devices::canSendText();
}

std::string MessageComposeViewController::describe() const {
    return "sms to=" + joined(m_recipients) + "|body=" + traceable(m_body.value_or(""));
}

void MessageComposeViewController::tellDelegate(ComposeResult result) {
    if (auto delegate = m_delegate.lock()) delegate->messageComposeViewControllerDidFinish(*this, result);
}

}  // namespace plat::ui
