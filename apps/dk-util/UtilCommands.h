// dk-util's commands over the shared utilities (Base64, SHA-1, profiles, reachability, URL
// loading, the device's identity and the keychain), and what all of dk-util's commands share.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Container.h"

namespace dk::tools::util {

using Args = std::vector<std::string>;

// Exit status: done; what was asked for is absent or unreadable; bad usage.
constexpr int kOk = 0, kFailed = 1, kUsage = 2;

int base64Command(const Args& args);
int sha1Command(const Args& args);
int profileCommand(const Args& args);
int hardwareCommand(const Args& args);
int keychainCommand(Args args);
int reachabilityCommand(const Args& args);
int fetchCommand(const Args& args);

// "dk-util: WHY", then the whole usage text, on standard error; kUsage.
int usage(const std::string& why);
// --help: the whole usage text on standard output; kOk.
int help();
// "dk-util: MESSAGE" on standard error; kFailed.
int failed(const std::string& message);
// printf to standard output as one line, flushed at once (a watcher reads as it comes).
void outputLine(const char* format, ...) __attribute__((format(printf, 1, 2)));
// A number of seconds, finite and not negative.
bool parseSeconds(const std::string& text, double& seconds);
// Digits only (after "0x", hexadecimal ones, when `hex` allows it), at most 32 bits.
bool parseUnsigned(std::string_view text, std::uint32_t& value, bool hex = false);
// "[--home DIR] BUNDLE" at the front of `args`, taken off: the bundle's container. Without it,
// `status` says why (bad usage, or the bundle or container failing).
std::optional<plat::foundation::Container> openContainer(Args& args, int& status);

}  // namespace dk::tools::util
