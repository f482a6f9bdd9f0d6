#include "apps/dk-util/UtilCommands.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "platform/crypto/Crypto.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/FileSystem.h"
#include "platform/util/DKCrypto.h"
#include "platform/util/DKHardwareInfo.h"
#include "platform/util/DKKeychain.h"
#include "platform/util/DKProvisioningProfile.h"

namespace dk::tools::util {

using plat::foundation::Bundle;
using plat::foundation::Container;

namespace {

constexpr const char* kUsageText =
    "usage: dk-util plist show FILE\n"
    "       dk-util plist convert --xml|--binary IN OUT\n"
    "       dk-util bundle BUNDLE info [KEY]\n"
    "       dk-util bundle BUNDLE path NAME TYPE\n"
    "       dk-util bundle BUNDLE paths TYPE\n"
    "       dk-util container [--home DIR] BUNDLE\n"
    "       dk-util defaults [--home DIR] BUNDLE get KEY | set KEY JSON | remove KEY\n"
    "       dk-util bridge SCRIPT\n"
    "       dk-util base64 encode [--line N] | base64 decode\n"
    "       dk-util sha1 [FILE] | sha1 --string TEXT\n"
    "       dk-util profile FILE\n"
    "       dk-util reachability flags FLAGS [--local] | reachability watch [--local] [--seconds S]\n"
    "       dk-util fetch [--mode async|sync|thread] [--method M] [--data TEXT] [--header \"K: V\"]...\n"
    "                     [--timeout S] [--cancel-after S] URL\n"
    "       dk-util hardware mac | device-id | uuid [--home DIR] BUNDLE\n"
    "       dk-util keychain [--home DIR] BUNDLE store ACCOUNT PASSWORD | get ACCOUNT | forget ACCOUNT\n";

std::string readStandardInput() {
    std::string text;
    plat::foundation::readAll(0, text);
    return text;
}

void writeOut(const void* data, std::size_t size) {
    if (size != 0) std::fwrite(data, 1, size, stdout);  // empty data may have no buffer at all
}

// The bundle's container becomes the process's main one, where the user defaults and the
// keychain live.
int useContainerOf(Args& args) {
    int status = kOk;
    std::optional<Container> container = openContainer(args, status);
    if (container) Container::setMain(std::move(*container));
    return status;
}

}  // namespace

int usage(const std::string& why) {
    std::fprintf(stderr, "dk-util: %s\n", why.c_str());
    std::fputs(kUsageText, stderr);
    return kUsage;
}

int help() {
    std::fputs(kUsageText, stdout);
    std::fputs("Exit status 0; 1 when what was asked for is absent or unreadable; 2 for bad usage.\n", stdout);
    std::fflush(stdout);
    return kOk;
}

int failed(const std::string& message) {
    std::fprintf(stderr, "dk-util: %s\n", message.c_str());
    return kFailed;
}

void outputLine(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(stdout, format, args);
    va_end(args);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

bool parseSeconds(const std::string& text, double& seconds) {
    char* end = nullptr;
    errno = 0;
    seconds = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0' && errno == 0 && std::isfinite(seconds) && seconds >= 0;
}

bool parseUnsigned(std::string_view text, std::uint32_t& value, bool hex) {
    const bool prefixed = hex && (text.starts_with("0x") || text.starts_with("0X"));
    if (prefixed) text.remove_prefix(2);
    const char* end = text.data() + text.size();
    const auto [stop, problem] = std::from_chars(text.data(), end, value, prefixed ? 16 : 10);
    return !text.empty() && problem == std::errc() && stop == end;
}

std::optional<Container> openContainer(Args& args, int& status) {
    std::string home;
    if (!args.empty() && args[0] == "--home") {
        if (args.size() < 2 || args[1].empty()) {
            status = usage("--home needs a directory");
            return std::nullopt;
        }
        home = args[1];
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.empty()) {
        status = usage("no BUNDLE");
        return std::nullopt;
    }
    plat::foundation::Error error;
    std::optional<Bundle> bundle = Bundle::open(args[0], &error);
    std::optional<Container> container = bundle ? Container::open(bundle->identifier(), home, &error) : std::nullopt;
    if (!container) status = failed(error.message);
    args.erase(args.begin());
    return container;
}

int base64Command(const Args& a) {
    if (a.size() == 1 && a[0] == "decode") {
        const DKCrypto::Data data = DKCrypto::decodeBase64(readStandardInput());
        writeOut(data.data(), data.size());
        return kOk;
    }
    std::uint32_t line = 0;
    if (a.size() == 3 && a[0] == "encode" && a[1] == "--line") {
        if (!parseUnsigned(a[2], line)) return usage("base64 encode --line takes a whole number, not \"" + a[2] + "\"");
    } else if (a.size() != 1 || a[0] != "encode") {
        return usage("base64 takes encode [--line N] or decode");
    }
    const std::string input = readStandardInput();
    const std::string text = DKCrypto::encodeBase64(DKCrypto::Data(input.begin(), input.end()), line);
    writeOut(text.data(), text.size());
    return kOk;
}

int sha1Command(const Args& a) {
    if (a.size() == 2 && a[0] == "--string") {
        std::optional<std::string> digest = DKCrypto::createDigestStringForString(a[1]);
        if (!digest) return failed("the digest failed");
        outputLine("%s", digest->c_str());
        return kOk;
    }
    if (a.size() > 1 || (a.size() == 1 && a[0].starts_with("--"))) return usage("sha1 takes [FILE] or --string TEXT");
    std::optional<plat::util::FileInputStream> stream;
    if (a.empty()) {
        stream.emplace(0);
    } else {
        stream.emplace(a[0]);
    }
    std::optional<DKCrypto::Data> digest = DKCrypto::createDigestForData(*stream);
    if (!digest) return failed((a.empty() ? std::string("standard input") : a[0]) + ": cannot be read");
    outputLine("%s", plat::crypto::hex(*digest).c_str());
    return kOk;
}

int profileCommand(const Args& a) {
    if (a.size() != 1) return usage("profile takes one FILE");
    std::optional<DKProvisioningProfile> profile = DKProvisioningProfile::createWithContentsOfFile(a[0]);
    if (!profile) return failed(a[0] + ": no profile");
    outputLine("type %d", static_cast<int>(profile->type()));
    if (const std::string* name = profile->name()) outputLine("name %s", name->c_str());
    if (const std::string* identifier = profile->applicationIdentifier())
        outputLine("application-identifier %s", identifier->c_str());
    return kOk;
}

int hardwareCommand(const Args& a) {
    DKHardwareInfo& info = DKHardwareInfo::sharedHardwareInfo();
    if (a.size() == 1 && a[0] == "mac") {
        outputLine("%s", info.macAddress().c_str());
        return kOk;
    }
    if (a.size() == 1 && a[0] == "device-id") {
        outputLine("%s", info.deviceIdentifier().c_str());
        return kOk;
    }
    constexpr const char* kHardware = "hardware takes mac, device-id or uuid [--home DIR] BUNDLE";
    if (a.empty() || a[0] != "uuid" || (a.size() != 2 && a.size() != 4)) return usage(kHardware);
    Args rest(a.begin() + 1, a.end());
    if (int status = useContainerOf(rest); status != kOk) return status;
    if (!rest.empty()) return usage(kHardware);
    const std::string identifier = info.deviceIdentifierAppleRecomended();
    if (identifier.empty()) return failed("no user defaults");
    outputLine("%s", identifier.c_str());
    return kOk;
}

int keychainCommand(Args a) {
    // Bad usage is told before anything is made.
    const std::size_t at = !a.empty() && a[0] == "--home" ? 3 : 1;
    const bool shaped = a.size() > at &&
                        ((a[at] == "store" && a.size() == at + 3) || (a[at] == "get" && a.size() == at + 2) ||
                         (a[at] == "forget" && a.size() == at + 2));
    if (!shaped)
        return usage("keychain takes [--home DIR] BUNDLE store ACCOUNT PASSWORD | get ACCOUNT | forget ACCOUNT");
    if (int status = useContainerOf(a); status != kOk) return status;
    DKKeychain& keychain = DKKeychain::sharedKeychain();
    const std::string& account = a[1];
    if (a[0] == "store") {
        keychain.storePassword(a[2], account);
        // The keychain reports nothing: what it kept tells.
        if (keychain.retrievePasswordForAccount(account) != a[2])
            return failed("the password for \"" + account + "\" could not be stored");
    } else if (a[0] == "get") {
        std::optional<std::string> password = keychain.retrievePasswordForAccount(account);
        if (!password) return failed("no password for \"" + account + "\"");
        outputLine("%s", password->c_str());
    } else {
        keychain.forgetPasswordForAccount(account);
    }
    return kOk;
}

}  // namespace dk::tools::util
