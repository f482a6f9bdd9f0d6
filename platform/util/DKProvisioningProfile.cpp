#include "platform/util/DKProvisioningProfile.h"

#include "platform/foundation/FileSystem.h"
#include "platform/foundation/PropertyList.h"

namespace {

constexpr std::string_view kStartMarker = "<?xml version=";
constexpr std::string_view kEndMarker = "</plist>";

}  // namespace

std::optional<DKProvisioningProfile> DKProvisioningProfile::createWithContentsOfFile(
    const std::string& path) {
    // The profile is a binary signed envelope: its bytes are searched as they are, never read as text.
    std::optional<std::string> bytes = plat::foundation::readFile(path);
    if (!bytes) return std::nullopt;
    const std::size_t start = bytes->find(kStartMarker);
    const std::size_t end = start == std::string::npos ? start : bytes->find(kEndMarker, start);
    if (end == std::string::npos) return std::nullopt;
    std::optional<Value> plist = plat::foundation::parsePropertyList(
        std::string_view(*bytes).substr(start, end + kEndMarker.size() - start));
    if (!plist || !plist->dictionary()) return std::nullopt;
    return DKProvisioningProfile(path, std::move(*plist));
}

const std::string* DKProvisioningProfile::name() const {
    const Value* v = m_plistData.find("Name");
    return v ? v->string() : nullptr;
}

const plat::foundation::Value* DKProvisioningProfile::entitlements() const {
    const Value* v = m_plistData.find("Entitlements");
    return v && v->dictionary() ? v : nullptr;
}

const std::string* DKProvisioningProfile::applicationIdentifier() const {
    const Value* e = entitlements();
    const Value* v = e ? e->find("application-identifier") : nullptr;
    return v ? v->string() : nullptr;
}

const plat::foundation::Value* DKProvisioningProfile::developerCertificates() const {
    const Value* v = m_plistData.find("DeveloperCertificates");
    return v && v->array() ? v : nullptr;
}

DKProvisioningProfileType DKProvisioningProfile::type() const {
    const Value* e = entitlements();
    const Value* allow = e ? e->find("get-task-allow") : nullptr;
    if (allow && allow->boolValue()) return DKProvisioningProfileTypeDevelopment;
    if (m_plistData.find("ProvisionedDevices")) return DKProvisioningProfileTypeAdHoc;
    return DKProvisioningProfileTypeAppStore;
}
