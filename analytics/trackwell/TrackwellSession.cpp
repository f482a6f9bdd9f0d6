#include "analytics/trackwell/TrackwellSession.h"

#include <unicode/uchar.h>
#include <unicode/uloc.h>
#include <unicode/ustring.h>
#include <unicode/utf8.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "analytics/trackwell/TrackwellDatabase.h"
#include "analytics/trackwell/TrackwellEnvironment.h"
#include "analytics/trackwell/UploaderThread.h"
#include "platform/crypto/Crypto.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/DeviceFactsFile.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Value.h"
#include "platform/util/DKProvisioningProfile.h"

using dk::trackwell::BlobWriter;
using dk::trackwell::logMessage;

namespace {

plat::foundation::TraceCategory kSvc("svc");

constexpr const char* kProfileName = "embedded.mobileprovision";
constexpr const char* kDisplayLocale = "en_US";

double now() {
    return dk::trackwell::wallTime();
}

std::string sha1Hex(std::string_view text) {
    std::optional<plat::crypto::Bytes> digest = plat::crypto::sha1(text);
    return digest ? plat::crypto::hex(*digest) : std::string();
}

// Letters, marks and numbers of any script, as the platform's alphanumeric set has them.
bool isAlphanumeric(std::string_view text) {
    const auto* s = reinterpret_cast<const uint8_t*>(text.data());
    const int32_t length = static_cast<int32_t>(text.size());
    for (int32_t i = 0; i < length;) {
        UChar32 c;
        U8_NEXT(s, i, length, c);
        if (c < 0) return false;
        const int32_t mask = U_GET_GC_MASK(c);
        if (!(mask & (U_GC_L_MASK | U_GC_M_MASK | U_GC_N_MASK))) return false;
    }
    return true;
}

std::optional<std::string> utf8(const UChar* text, int32_t length) {
    if (length <= 0) return std::nullopt;
    char out[256];
    int32_t written = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strToUTF8(out, sizeof out, &written, text, length, &status);
    if (U_FAILURE(status)) return std::nullopt;
    return std::string(out, static_cast<std::size_t>(written));
}

// English names of a language and of a locale's country; nothing when ICU has none.
std::optional<std::string> languageName(const std::string& language) {
    UChar name[128];
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = uloc_getDisplayLanguage(language.c_str(), kDisplayLocale, name, 128, &status);
    return U_FAILURE(status) ? std::nullopt : utf8(name, length);
}

std::optional<std::string> countryCode(const std::string& locale) {
    char country[ULOC_COUNTRY_CAPACITY];
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = uloc_getCountry(locale.c_str(), country, sizeof country, &status);
    if (U_FAILURE(status) || length <= 0) return std::nullopt;
    return std::string(country, static_cast<std::size_t>(length));
}

std::optional<std::string> countryName(const std::string& locale) {
    if (!countryCode(locale)) return std::nullopt;
    UChar name[128];
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = uloc_getDisplayCountry(locale.c_str(), kDisplayLocale, name, 128, &status);
    return U_FAILURE(status) ? std::nullopt : utf8(name, length);
}

std::optional<std::string> infoString(const plat::foundation::Bundle* bundle, std::string_view key) {
    const plat::foundation::Value* value = bundle ? bundle->infoValue(key) : nullptr;
    const std::string* text = value ? value->string() : nullptr;
    if (text) return *text;
    return std::nullopt;
}

// Whole keys in their order, for the trace (the line the player's checks read).
std::string traceAttributes(const TrackwellSession::Attributes& attributes) {
    std::vector<std::pair<std::string, std::string>> sorted;
    for (const auto& [key, value] : attributes) sorted.emplace_back(key, dk::trackwell::describe(value));
    std::sort(sorted.begin(), sorted.end());
    std::string line;
    for (const auto& [key, value] : sorted) line += " " + key + "=" + value;
    return line;
}

}  // namespace

bool TrackwellSession::Attributes::emplace(std::string key, AttributeValue value) {
    for (const auto& entry : *this)
        if (entry.first == key) return false;
    emplace_back(std::move(key), std::move(value));
    return true;
}

TrackwellSession::TrackwellSession(TrackwellDatabase& database, UploaderThread& uploader, Host host)
    : m_database(database), m_uploader(uploader), m_host(std::move(host)) {
    if (!m_host.deviceFacts) m_host.deviceFacts = [] { return plat::sys::DeviceFacts{}; };
    m_liveIOSApp = isLiveApp();
}

// ---- the player's calls ----

void TrackwellSession::startSession(std::string_view applicationKey) {
    plat::foundation::trace(kSvc, [&] { return "metrics startSession " + std::string(applicationKey); });
    initialize(applicationKey);
    open();
    stageAndUpload();
}

void TrackwellSession::resume() {
    plat::foundation::trace(kSvc, "metrics resume");
    resumeSession();
}

void TrackwellSession::close() {
    plat::foundation::trace(kSvc, "metrics close");
    closeSession();
}

void TrackwellSession::upload() {
    plat::foundation::trace(kSvc, "metrics upload");
    stageAndUpload();
}

bool TrackwellSession::tagEvent(std::string_view name, const Attributes& attributes) {
    plat::foundation::trace(kSvc, [&] { return "metrics tagEvent " + std::string(name) + traceAttributes(attributes); });
    return tagEvent(name, attributes, std::nullopt);
}

// ---- the session ----

void TrackwellSession::initialize(std::string_view applicationKey) {
    if (m_hasInitialized) {
        logMessage("Object has already been initialized.");
        return;
    }
    if (applicationKey.empty()) {
        logMessage("App key is null or empty.");
        return;
    }
    std::string letters(applicationKey);
    std::erase(letters, '-');
    if (!isAlphanumeric(letters)) {
        logMessage("App key may only contain dashes and alphanumeric characters.");
        return;
    }
    if (!m_database.isOpen()) return;
    m_applicationKey = std::string(applicationKey);
    m_hasInitialized = true;
    logMessage("Object Initialized.  Application's key is: " + *m_applicationKey);
}

void TrackwellSession::open() {
    if (!m_hasInitialized || m_isSessionOpen) {
        logMessage("Unable to open session.");
        return;
    }
    if (!isOptedIn()) {
        logMessage("Can't open session because user is opted out.");
        return;
    }
    if (m_database.eventCount() >= kMaximumStoredEvents) {
        logMessage("Maximum number of events stored in database. Session not opened.");
        m_isSessionOpen = false;
        return;
    }
    m_sessionActiveDuration = 0;
    m_sessionResumeTime = now();
    {
        std::lock_guard lock(m_flowLock);
        m_unstagedFlowEvents.clear();
        m_stagedFlowEvents.clear();
        m_screens.clear();
    }
    const bool began = m_database.beginTransaction("open_session");
    m_lastSessionStartTimestamp = m_sessionResumeTime;
    bool stored = false;
    int number = 0;
    if (began && m_database.setLastsessionStartTimestamp(m_lastSessionStartTimestamp) &&
        m_database.incrementLastSessionNumber(&number)) {
        m_sessionUUID = dk::trackwell::newUUID();
        std::optional<std::string> dimensions[4];
        customDimensions(dimensions);
        stored = m_database.addEventWithBlobString(BlobWriter()
                                                       .string("dt", "s")
                                                       .string("u", m_sessionUUID)
                                                       .number("ct", dk::trackwell::truncateUnsigned(m_lastSessionStartTimestamp))
                                                       .number("nth", number)
                                                       .dimensions(dimensions)
                                                       .finish());
    }
    if (stored) {
        m_database.releaseTransaction("open_session");
        m_isSessionOpen = true;
        m_sessionHasBeenOpen = true;
        logMessage("Succesfully opened session. UUID is: " + *m_sessionUUID);
    } else {
        m_database.rollbackTransaction("open_session");
        m_isSessionOpen = false;
        logMessage("Failed to open session.");
    }
}

void TrackwellSession::resumeSession() {
    if (m_isSessionOpen) return;
    if (!isOptedIn()) {
        logMessage("Can't resume session because user is opted out.");
        return;
    }
    if (m_sessionHasBeenOpen && (!m_sessionCloseTime || now() - *m_sessionCloseTime <= m_backgroundSessionTimeout)) {
        logMessage("Resume called - Resuming previous session.");
        reopenPreviousSession();
    } else {
        logMessage("Resume called - Opening a new session.");
        open();
    }
    m_sessionCloseTime.reset();
}

void TrackwellSession::reopenPreviousSession() {
    if (!m_sessionHasBeenOpen) {
        logMessage("Unable to reopen previous session, because a previous session was never opened.");
        return;
    }
    m_sessionResumeTime = now();
    m_database.removeLastCloseAndFlowEvents();
    m_isSessionOpen = true;
}

void TrackwellSession::closeSession() {
    if (!m_isSessionOpen) {
        logMessage("Unable to close session");
        return;
    }
    const double closeTime = now();
    m_sessionCloseTime = closeTime;
    m_sessionActiveDuration += closeTime - m_sessionResumeTime;

    std::optional<std::string> dimensions[4];
    customDimensions(dimensions);
    BlobWriter blob;
    blob.string("dt", "c")
        .string("su", m_sessionUUID)
        .string("u", dk::trackwell::newUUID())
        .number("ss", dk::trackwell::truncateUnsigned(m_lastSessionStartTimestamp))
        .number("ct", dk::trackwell::truncateUnsigned(closeTime));
    // Whole seconds of the close minus the exact start, so a session shorter than a second has none.
    const double length = std::trunc(std::trunc(closeTime) - m_lastSessionStartTimestamp);
    if (length >= 1 && length <= 399999) blob.number("ctl", static_cast<long long>(length));
    bool writesFlow;
    {
        std::lock_guard lock(m_flowLock);
        blob.raw("fl", "[" + m_screens + "]");
        writesFlow = !m_unstagedFlowEvents.empty();
    }
    blob.dimensions(dimensions);

    // A close that writes no flow blob also forgets the last one: a resume undoing this close must
    // not take back a flow blob an earlier upload wrote (and may not have delivered).
    const bool stored = m_database.addCloseEventWithBlobString(blob.finish(), !writesFlow);
    m_isSessionOpen = false;
    if (stored && saveApplicationFlow())
        logMessage("Session succesfully closed.");
    else
        logMessage("Failed to record session close.");
}

bool TrackwellSession::saveApplicationFlow() {
    std::string unstaged, staged;
    {
        std::lock_guard lock(m_flowLock);
        unstaged = m_unstagedFlowEvents;
        staged = m_stagedFlowEvents;
    }
    if (unstaged.empty()) return true;
    return m_database.addFlowEventWithBlobString(BlobWriter()
                                                     .string("dt", "f")
                                                     .string("u", dk::trackwell::newUUID())
                                                     .number("ss", dk::trackwell::truncateUnsigned(m_lastSessionStartTimestamp))
                                                     .raw("nw", "[" + unstaged + "]")
                                                     .raw("od", "[" + staged + "]")
                                                     .finish());
}

bool TrackwellSession::tagEvent(std::string_view name, const std::optional<Attributes>& attributes,
                                const std::optional<Attributes>& reportAttributes) {
    if (!m_isSessionOpen) {
        logMessage("Cannot tag an event because the session is not open.");
        return false;
    }
    if (name.empty()) {
        logMessage("Event tagged without a name. Skipping.");
        return false;
    }
    // The dimensions are read in the insert's own transaction: one lock and commit per event
    // rather than a read transaction of their own besides.
    const bool began = m_database.beginTransaction("tag_event");
    std::optional<std::string> dimensions[4];
    customDimensions(dimensions);
    BlobWriter blob;
    blob.string("dt", "e")
        .string("u", dk::trackwell::newUUID())
        .string("au", m_applicationKey)
        .string("su", m_sessionUUID)
        .string("n", std::string(name))
        .number("ct", dk::trackwell::truncateUnsigned(now()))
        .dimensions(dimensions);
    if (attributes) blob.raw("attrs", dk::trackwell::attributesObject(*attributes));
    if (reportAttributes) blob.raw("rattrs", dk::trackwell::attributesObject(*reportAttributes));
    if (!began || !m_database.addEventWithBlobString(blob.finish())) {
        m_database.rollbackTransaction("tag_event");  // also gives back the lock a failed begin took
        logMessage("Failed to tag event.");
        return false;
    }
    if (!m_database.releaseTransaction("tag_event")) {
        logMessage("Failed to tag event.");
        return false;
    }
    addFlowEvent(name, "e");
    logMessage("Tagged event: " + std::string(name));
    return true;
}

void TrackwellSession::tagScreen(std::string_view name) {
    if (!m_isSessionOpen) {
        logMessage("Cannot tag a screen because the session is not open.");
        return;
    }
    addFlowEvent(name, "s");
    {
        std::lock_guard lock(m_flowLock);
        if (!m_screens.empty()) m_screens += ',';
        m_screens += dk::trackwell::quotedScreen(name);
    }
    logMessage("Tagged screen: " + std::string(name));
}

void TrackwellSession::addFlowEvent(std::string_view name, std::string_view type) {
    const std::string entry = dk::trackwell::flowEntry(type, name);
    std::lock_guard lock(m_flowLock);
    if (!m_unstagedFlowEvents.empty()) m_unstagedFlowEvents += ',';
    m_unstagedFlowEvents += entry;
}

bool TrackwellSession::createOptEvent(bool optIn) {
    return m_database.addEventWithBlobString(BlobWriter()
                                                 .string("dt", "o")
                                                 .string("au", m_applicationKey)
                                                 .boolean("optin", optIn)
                                                 .number("ct", dk::trackwell::truncateUnsigned(now()))
                                                 .finish());
}

void TrackwellSession::setOptIn(bool optIn) {
    if (optIn == isOptedIn()) {
        logMessage("Opt status unchanged.");
        return;
    }
    // The blob and the flag go together or not at all.
    if (!m_database.beginTransaction("set_opt") || !createOptEvent(optIn) || !m_database.setOptedOut(!optIn)) {
        m_database.rollbackTransaction("set_opt");  // also gives back the lock a failed begin took
        logMessage("Failed to update opt state.");
        return;
    }
    if (!m_database.releaseTransaction("set_opt")) {
        logMessage("Failed to update opt state.");
        return;
    }
    if (!optIn) m_isSessionOpen = false;  // no close blob: an opted-out user's session ends unrecorded
    logMessage(optIn ? "Application opted in" : "Application opted out");
}

bool TrackwellSession::isOptedIn() {
    return !m_database.isOptedOut();
}

void TrackwellSession::setCustomDimension(int slot, const std::optional<std::string>& value) {
    if (slot < 0 || slot > 3) {
        logMessage("Only valid dimensions are 0 - 3");
        return;
    }
    if (!m_database.setCustomDimension(slot, value)) logMessage("Unable to set custom dimensions.");
}

void TrackwellSession::customDimensions(std::optional<std::string> (&values)[4]) {
    m_database.customDimensions(values);
}

void TrackwellSession::stageAndUpload() {
    if (m_uploader.isUploading()) {
        logMessage("An upload is already in progress. Aborting.");
        return;
    }
    // Staged under another process's upload, rows would be deleted by it unsent, or sent by both.
    if (!m_database.claimUpload()) {
        logMessage("An upload is already in progress. Aborting.");
        return;
    }
    // The header's facts take a while the first time (language names): gathered before the
    // savepoint, whose write lock other processes wait for. The install id (which may draw a
    // UUID) is taken in its place, so seeded runs draw in the same order.
    std::optional<dk::trackwell::HeaderFacts> facts;
    {
        std::lock_guard lock(m_flowLock);
        if (!m_unstagedFlowEvents.empty() || m_database.unstagedEventCount() >= 1) facts = headerFacts(false);
    }
    bool ok = m_database.beginTransaction("stage_upload");
    std::lock_guard lock(m_flowLock);
    ok = ok && saveApplicationFlow();
    if (ok && m_database.unstagedEventCount() >= 1) {
        int number = 0;
        if (!facts) facts = headerFacts(false);
        facts->installationId = installationId();
        ok = m_database.getNextUploadNumber(number) &&
             m_database.addHeaderWithSequenceNumber(number, blobHeaderStringWithSequenceNumber(number, *facts)) &&
             m_database.stageEventsForUpload(number);
    }
    if (!ok) {
        m_database.rollbackTransaction("stage_upload");
        m_database.releaseUpload();
        logMessage("Failed to start upload.");
        return;
    }
    if (!m_database.releaseTransaction("stage_upload")) {
        m_database.releaseUpload();
        logMessage("Failed to start upload.");
        return;
    }
    if (!m_unstagedFlowEvents.empty()) {
        if (!m_stagedFlowEvents.empty()) m_stagedFlowEvents += ',';
        m_stagedFlowEvents += m_unstagedFlowEvents;
        m_unstagedFlowEvents.clear();
    }
    // Also with nothing newly staged: what an earlier failed upload staged goes again. The upload
    // holds the claim itself; if another process takes it first, that one sends what was staged.
    m_uploader.uploaderThreadwithApplicationKey(m_applicationKey.value_or(""));
    m_database.releaseUpload();
}

// ---- the upload header ----

std::string TrackwellSession::blobHeaderStringWithSequenceNumber(int sequence) {
    return blobHeaderStringWithSequenceNumber(sequence, headerFacts());
}

std::string TrackwellSession::blobHeaderStringWithSequenceNumber(int sequence, const dk::trackwell::HeaderFacts& facts) {
    return dk::trackwell::headerBlob(sequence, m_database.createdTimestamp(), dk::trackwell::newUUID(), facts);
}

dk::trackwell::HeaderFacts TrackwellSession::headerFacts(bool withInstallationId) {
    const plat::sys::DeviceFacts device = m_host.deviceFacts();
    dk::trackwell::HeaderFacts facts;
    if (withInstallationId) facts.installationId = installationId();
    facts.applicationKey = m_applicationKey;
    facts.appVersion = infoString(m_host.bundle, plat::foundation::kBundleVersionKey);
    const std::string identifier = systemIdentifier(device);
    facts.systemIdentifier = identifier;
    facts.udid = sha1Hex(identifier);
    facts.model = device.model;
    facts.systemVersion = device.systemVersion;
    facts.machine = device.machine;
    facts.userId = infoString(m_host.bundle, "DKUserID");
    facts.releaseId = infoString(m_host.bundle, "DKReleaseID");
    facts.live = m_liveIOSApp;
    facts.macDigest = sha1Hex(device.macAddress);
    facts.freeMemory = device.freeMemory;
    if (!device.languages.empty()) facts.languageName = languageName(device.languages.front());
    facts.countryName = countryName(device.locale);
    facts.countryCode = countryCode(device.locale);
    facts.jailbroken = isDeviceJailbroken();
    return facts;
}

std::string TrackwellSession::installationId() {
    plat::foundation::UserDefaults* defaults = m_host.defaults;
    std::optional<std::string> id = defaults ? defaults->stringForKey(kInstallIdKey) : std::nullopt;
    if (!id) id = m_database.installId();
    if (!id) id = dk::trackwell::newUUID();
    if (defaults) {
        defaults->setObject(plat::foundation::Value(*id), kInstallIdKey);
        defaults->synchronize();
    }
    return *id;
}

// The advertising identifier from system 6.0 on; without one (or before), the digest of the
// hardware address, of "" when there is none.
std::string TrackwellSession::systemIdentifier(const plat::sys::DeviceFacts& facts) {
    if (std::strtod(facts.systemVersion.c_str(), nullptr) >= 6.0 && !facts.advertisingIdentifier.empty())
        return facts.advertisingIdentifier;
    return sha1Hex(facts.macAddress);
}

bool TrackwellSession::isLiveApp() const {
    if (!m_host.bundle) return false;
    const std::string path = m_host.bundle->path() + "/" + kProfileName;
    if (::access(path.c_str(), F_OK) != 0) return false;
    std::optional<DKProvisioningProfile> profile = DKProvisioningProfile::createWithContentsOfFile(path);
    return profile && profile->type() == DKProvisioningProfileTypeAppStore;
}

bool TrackwellSession::isDeviceJailbroken() const {
    return ::access(m_host.deviceCheckPath.c_str(), F_OK) == 0;
}
