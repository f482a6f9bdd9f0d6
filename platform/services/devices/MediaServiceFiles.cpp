#include "platform/services/devices/MediaServiceFiles.h"

#include <mutex>

#include "platform/foundation/LocalServices.h"
#include "platform/services/devices/MediaServices.h"

namespace plat::devices {

using foundation::Container;
using foundation::readLocalService;
using foundation::registerLocalServiceClass;
using foundation::Value;

namespace {

std::optional<std::string> text(const Value& config, const char* key) {
    const Value* value = config.find(key);
    const std::string* s = value ? value->string() : nullptr;
    return s ? std::optional(*s) : std::nullopt;
}

bool flag(const Value& config, const char* key, bool absent) {
    const Value* value = config.find(key);
    return value ? value->boolValue() : absent;
}

// A path in the container; one that leaves it is no path.
std::optional<std::string> containerPath(const std::optional<std::string>& relative) {
    const Container* container = Container::main();
    if (!relative || relative->empty() || !container) return std::nullopt;
    std::string path = *relative;
    while (!path.empty() && path.front() == '/') path.erase(0, 1);
    if (path == ".." || path.rfind("../", 0) == 0 || path.find("/../") != std::string::npos) return std::nullopt;
    return container->path() + "/" + path;
}

std::optional<CameraConfig> camera() {
    const std::optional<Value> config = readLocalService("camera");
    if (!config) return std::nullopt;
    const std::optional<std::string> image = containerPath(text(*config, "image"));
    if (!image) return std::nullopt;
    CameraConfig out;
    out.image = *image;
    if (const Value* orientation = config->find("orientation")) {
        const int64_t n = orientation->intValue();
        out.orientation = n >= 0 && n <= 7 ? int(n) : 0;
    }
    out.edited = containerPath(text(*config, "edited"));
    return out;
}

std::optional<TorchConfig> torch() {
    const std::optional<Value> config = readLocalService("torch");
    if (!config) return std::nullopt;
    return TorchConfig{flag(*config, "lockFails", false)};
}

std::optional<SongsConfig> songs() {
    const std::optional<Value> config = readLocalService("songs");
    if (!config) return std::nullopt;
    SongsConfig out;
    const Value* items = config->find("items");
    if (!items || !items->array()) return out;
    for (const Value& item : *items->array()) {
        if (!item.dictionary()) continue;
        Song song;
        for (const char* key : {"title", "albumTitle", "artist", "albumArtist", "genre", "composer"})
            if (auto value = text(item, key)) song[key] = *value;
        out.items.push_back(std::move(song));
    }
    return out;
}

std::optional<ComposerConfig> composer(const char* service, const char* key) {
    const std::optional<Value> config = readLocalService(service);
    if (!config) return std::nullopt;
    return ComposerConfig{flag(*config, key, true)};
}

}  // namespace

void registerMediaServices() {
    static std::once_flag once;
    std::call_once(once, [] {
        setMediaServiceReaders({camera, torch, songs, [] { return composer("mail", "canSendMail"); },
                                [] { return composer("sms", "canSendText"); }});
        registerLocalServiceClass(kCaptureDeviceClassName, "torch");
        registerLocalServiceClass(kMediaQueryClassName, "songs");
        registerLocalServiceClass(kMailComposeClassName, "mail");
        registerLocalServiceClass(kMessageComposeClassName, "sms");
    });
}

}  // namespace plat::devices
