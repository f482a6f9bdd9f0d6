#include "platform/services/devices/MediaServices.h"

#include "platform/sys/ClassRegistry.h"
#include "platform/sys/Report.h"

namespace plat::devices {

namespace {

constexpr std::string_view kTraceCategory = "media";

MediaServiceReaders& readers() {
    static MediaServiceReaders r;
    return r;
}

std::function<void(std::string_view)>& listener() {
    static std::function<void(std::string_view)> l;
    return l;
}

template <class Config>
std::optional<Config> read(const std::function<std::optional<Config>()>& reader) {
    return reader ? reader() : std::nullopt;
}

}  // namespace

void setMediaServiceReaders(MediaServiceReaders r) {
    readers() = std::move(r);
}

const MediaServiceReaders& mediaServiceReaders() {
    return readers();
}

void setMediaListener(std::function<void(std::string_view line)> l) {
    listener() = std::move(l);
}

void reportMedia(std::string_view line) {
    sys::reportTrace(kTraceCategory, line);
    if (listener()) listener()(line);
}

std::optional<CameraConfig> cameraSource() {
    return read(readers().camera);
}

void playVibration() {
    reportMedia("vibrate");
}

std::shared_ptr<CaptureDevice> CaptureDevice::defaultVideoDevice() {
    if (!sys::hasClass(kCaptureDeviceClassName)) return nullptr;
    auto device = std::make_shared<CaptureDevice>();
    if (auto config = read(readers().torch)) device->m_lockFails = config->lockFails;
    return device;
}

bool CaptureDevice::lockForConfiguration(std::string* error) {
    if (m_lockFails) {
        if (error) *error = "the device could not be locked for configuration";
        return false;
    }
    m_locked = true;
    return true;
}

CaptureSession::~CaptureSession() {
    stopRunning();
}

void CaptureSession::startRunning() {
    if (m_running) return;
    m_running = true;
    m_lit = m_device && m_device->torchOn();
    if (m_lit) reportMedia("torch on");
}

void CaptureSession::stopRunning() {
    if (!m_running) return;
    m_running = false;
    if (m_lit) reportMedia("torch off");
    m_lit = false;
}

std::vector<Song> querySongs(const std::map<std::string, std::string>& filters) {
    std::vector<Song> found;
    if (!sys::hasClass(kMediaQueryClassName)) return found;
    const std::optional<SongsConfig> library = read(readers().songs);
    if (!library) return found;
    for (const Song& item : library->items) {
        bool matches = true;
        for (const auto& [property, value] : filters) {
            const auto it = item.find(property);
            matches = matches && it != item.end() && it->second == value;
        }
        if (matches) found.push_back(item);
    }
    return found;
}

bool canSendMail() {
    if (!sys::hasClass(kMailComposeClassName)) return false;
    const auto config = read(readers().mail);
    return config && config->canSend;
}

bool canSendText() {
    if (!sys::hasClass(kMessageComposeClassName)) return false;
    const auto config = read(readers().sms);
    return config && config->canSend;
}

}  // namespace plat::devices
