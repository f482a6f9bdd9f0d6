// The phone's camera, torch, song library, vibration and message composers as a desktop has them:
// not at all, unless the game's container configures a stand-in (Library/LocalServices/
// camera.plist, torch.plist, songs.plist, mail.plist, sms.plist), read by the readers that
// registerMediaServices (MediaServiceFiles.h) installs, with the class names; without them every
// service is absent. What the stand-ins do is traced in the "media" category ("torch on",
// "vibrate") and told to the media listener. Main thread.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plat::devices {

inline constexpr const char* kCaptureDeviceClassName = "AVCaptureDevice";
inline constexpr const char* kMediaQueryClassName = "MPMediaQuery";
inline constexpr const char* kMailComposeClassName = "MFMailComposeViewController";
inline constexpr const char* kMessageComposeClassName = "MFMessageComposeViewController";

// The camera source: the picture it takes (a PNG or JPEG file, absolute), its orientation (0 up,
// 1 down, 2 left, 3 right, 4-7 their mirrored forms) and, when set, the user's edited picture.
struct CameraConfig {
    std::string image;
    int orientation = 0;
    std::optional<std::string> edited;
};
struct TorchConfig {
    bool lockFails = false;  // locking the device for configuration reports an error
};
// One song: any of "title", "albumTitle", "artist", "albumArtist", "genre", "composer".
using Song = std::map<std::string, std::string>;
struct SongsConfig {
    std::vector<Song> items;
};
struct ComposerConfig {
    bool canSend = true;
};

// Each answers the service's configuration now, nullopt when it is absent.
struct MediaServiceReaders {
    std::function<std::optional<CameraConfig>()> camera;
    std::function<std::optional<TorchConfig>()> torch;
    std::function<std::optional<SongsConfig>()> songs;
    std::function<std::optional<ComposerConfig>()> mail;
    std::function<std::optional<ComposerConfig>()> sms;
};
void setMediaServiceReaders(MediaServiceReaders readers);
const MediaServiceReaders& mediaServiceReaders();

// Every line the stand-ins trace, as it happens (tools print them); null: none.
void setMediaListener(std::function<void(std::string_view line)> listener);
// Traces `line` and tells the listener (the screens above this layer report through it too).
void reportMedia(std::string_view line);

// The camera as an image source; nullopt without one.
std::optional<CameraConfig> cameraSource();

// The system's vibration: traced "vibrate"; nothing moves on a desktop.
void playVibration();

// The default video device, with its torch and flash; null without the capture class.
class CaptureDevice {
public:
    static std::shared_ptr<CaptureDevice> defaultVideoDevice();
    // False, with `error`, when the configuration says so.
    bool lockForConfiguration(std::string* error);
    void unlockForConfiguration() { m_locked = false; }
    bool locked() const { return m_locked; }
    void setTorchOn(bool on) { m_torch = on; }
    void setFlashOn(bool on) { m_flash = on; }
    bool torchOn() const { return m_torch; }
    bool flashOn() const { return m_flash; }

private:
    bool m_lockFails = false;
    bool m_locked = false;
    bool m_torch = false;
    bool m_flash = false;
};

// A capture session over one device: while it runs with the torch on, the light is on
// (traced "torch on", then "torch off" when it stops or goes).
class CaptureSession {
public:
    ~CaptureSession();
    void beginConfiguration() {}
    void addDevice(std::shared_ptr<CaptureDevice> device) { m_device = std::move(device); }
    void commitConfiguration() {}
    void startRunning();
    void stopRunning();
    bool running() const { return m_running; }

private:
    std::shared_ptr<CaptureDevice> m_device;
    bool m_running = false;
    bool m_lit = false;
};

// The song library: the items equal to every filter value (property name to value), in library
// order; none without the query class.
std::vector<Song> querySongs(const std::map<std::string, std::string>& filters);

// Whether the composers can send now (false without their class).
bool canSendMail();
bool canSendText();

}  // namespace plat::devices
