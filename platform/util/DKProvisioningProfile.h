// The provisioning profile signed into an application bundle ("embedded.mobileprovision"): a
// signed binary envelope with the profile's property list inside, read for its name,
// entitlements and the kind of build it makes. The file's raw bytes are searched: the XML from the
// first "<?xml version=" to the first "</plist>" after it; anything else (markers missing, no
// dictionary) is no profile.
#pragma once

#include <optional>
#include <string>

#include "platform/foundation/Value.h"

enum DKProvisioningProfileType : int {
    DKProvisioningProfileTypeDevelopment = 0,
    DKProvisioningProfileTypeAdHoc = 1,
    DKProvisioningProfileTypeAppStore = 2,
};

class DKProvisioningProfile {
public:
    using Value = plat::foundation::Value;

    // The property list between the first "<?xml version=" of the file's bytes and the first
    // "</plist>" after it. Nothing when the file cannot be read, a marker is missing, or the text
    // between them is no property list holding a dictionary.
    static std::optional<DKProvisioningProfile> createWithContentsOfFile(const std::string& path);

    const std::string& path() const { return m_path; }
    const Value& plistData() const { return m_plistData; }
    void setPlistData(Value plistData) { m_plistData = std::move(plistData); }

    // Top-level "Name"; null when absent or no string.
    const std::string* name() const;
    // Top-level "Entitlements"; null when absent or no dictionary.
    const Value* entitlements() const;
    // "application-identifier" of the entitlements; null when absent or no string.
    const std::string* applicationIdentifier() const;
    // Top-level "DeveloperCertificates"; null when absent or no array.
    const Value* developerCertificates() const;
    // Development when the entitlements allow "get-task-allow", else ad hoc when the profile
    // lists "ProvisionedDevices", else app store.
    DKProvisioningProfileType type() const;

private:
    DKProvisioningProfile(std::string path, Value plistData)
        : m_path(std::move(path)), m_plistData(std::move(plistData)) {}

    std::string m_path;
    Value m_plistData;
};
