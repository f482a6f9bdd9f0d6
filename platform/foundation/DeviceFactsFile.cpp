#include "platform/foundation/DeviceFactsFile.h"

#include <cctype>
#include <cstdlib>
#include <mutex>
#include <set>

#include "platform/foundation/Container.h"
#include "platform/foundation/FileSystem.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Value.h"
#include "platform/sys/AtomicFile.h"
#include "platform/sys/Device.h"
#include "platform/sys/Uuid.h"

namespace plat::foundation {

namespace {

std::mutex g_mutex;
std::string g_file;
std::string g_processIdentifier;  // without a main container
std::set<std::string> g_reported;

void reportOnce(const std::string& message) {
    if (g_reported.insert(message).second) log("%s", message.c_str());
}

std::string advertisingIdentifier() {
    const Container* container = Container::main();
    if (!container) {
        if (g_processIdentifier.empty()) g_processIdentifier = plat::sys::newUUIDString();
        return g_processIdentifier;
    }
    const std::string directory = container->path() + "/Library/AdSupport";
    const std::string path = directory + "/advertisingIdentifier";
    if (std::optional<std::string> kept = readFile(path)) {
        std::string text = *kept;
        while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
        if (text.size() == 36) return text;
    }
    std::string made = plat::sys::newUUIDString();
    if (!makeDirectories(directory) || !plat::sys::writeFileAtomically(path, made + "\n"))
        reportOnce("device facts: cannot keep the advertising identifier in " + path);
    return made;
}

}  // namespace

void setDeviceFactsFile(std::string path) {
    std::lock_guard lock(g_mutex);
    g_file = std::move(path);
}

bool applyDeviceFactsOverrides(const Value& overrides, plat::sys::DeviceFacts& facts, Error* error) {
    const Value::Dictionary* entries = overrides.dictionary();
    if (!entries) {
        if (error) *error = {"DeviceFacts", 1, "the device facts are no dictionary", {}};
        return false;
    }
    bool ok = true;
    auto refuse = [&](const std::string& key) {
        if (ok && error) *error = {"DeviceFacts", 2, "the device fact \"" + key + "\" has the wrong type", {}};
        ok = false;
    };
    auto isNumber = [](const Value& v) { return v.type() == Value::Type::Integer || v.type() == Value::Type::Real; };
    for (const auto& [key, value] : *entries) {
        std::string* text = key == "machine"                 ? &facts.machine
                            : key == "model"                 ? &facts.model
                            : key == "systemName"            ? &facts.systemName
                            : key == "systemVersion"         ? &facts.systemVersion
                            : key == "locale"                ? &facts.locale
                            : key == "macAddress"            ? &facts.macAddress
                            : key == "advertisingIdentifier" ? &facts.advertisingIdentifier
                            : key == "timeZone"              ? &facts.timeZone
                                                             : nullptr;
        if (text) {
            if (const std::string* s = value.string())
                *text = *s;
            else
                refuse(key);
        } else if (key == "screenWidth" || key == "screenHeight") {
            if (isNumber(value))
                (key == "screenWidth" ? facts.screenWidth : facts.screenHeight) = value.doubleValue();
            else
                refuse(key);
        } else if (key == "screenScale") {
            if (isNumber(value) && value.doubleValue() > 0)
                facts.screenScale = value.doubleValue();
            else
                refuse(key);
        } else if (key == "idiom") {
            const std::string* s = value.string();
            if (s && (*s == "phone" || *s == "pad"))
                facts.idiom = *s == "pad" ? plat::sys::kUserInterfaceIdiomPad : plat::sys::kUserInterfaceIdiomPhone;
            else
                refuse(key);
        } else if (key == "batteryLevel") {
            if (isNumber(value) && (value.doubleValue() == -1 || (value.doubleValue() >= 0 && value.doubleValue() <= 1)))
                facts.batteryLevel = value.doubleValue();
            else
                refuse(key);
        } else if (key == "batteryState") {
            if (value.type() == Value::Type::Integer && value.doubleValue() >= 0 && value.doubleValue() <= 3)
                facts.batteryState = static_cast<int>(value.doubleValue());
            else
                refuse(key);
        } else if (key == "freeMemory") {
            if (isNumber(value) && value.doubleValue() >= 0)
                facts.freeMemory = static_cast<std::uint64_t>(value.doubleValue());
            else
                refuse(key);
        } else if (key == "advertisingTrackingEnabled") {
            if (value.type() == Value::Type::Bool)
                facts.advertisingTrackingEnabled = value.boolValue();
            else
                refuse(key);
        } else if (key == "languages") {
            std::vector<std::string> languages;
            const Value::Array* list = value.array();
            for (std::size_t i = 0; list && i < list->size(); ++i)
                if (const std::string* s = (*list)[i].string()) languages.push_back(*s);
            if (list && languages.size() == list->size())
                facts.languages = std::move(languages);
            else
                refuse(key);
        }
    }
    return ok;
}

plat::sys::DeviceFacts deviceFacts() {
    plat::sys::DeviceFacts facts = plat::sys::systemDeviceFacts();
    std::lock_guard lock(g_mutex);
    facts.advertisingIdentifier = advertisingIdentifier();
    std::string path = g_file;
    if (path.empty()) {
        const char* env = std::getenv("DROVIK_DEVICE_FACTS");
        if (env) path = env;
    }
    if (path.empty()) return facts;
    Error error;
    std::optional<Value> overrides = readPropertyList(path, plat::sys::kDeviceFactsCap, &error);
    if (!overrides) {
        reportOnce("device facts: " + error.message);
        return facts;
    }
    if (!applyDeviceFactsOverrides(*overrides, facts, &error)) reportOnce("device facts: " + path + ": " + error.message);
    return facts;
}

}  // namespace plat::foundation
