// dk-util's commands over the shared utilities: Base64, SHA-1, profiles, reachability, URL
// loading, the device's identity and the keychain. Same exit rules as the others.
#pragma once

#include <string>
#include <vector>

namespace dkutil {

using Args = std::vector<std::string>;

constexpr int kOk = 0, kFailed = 1, kUsage = 2;

// The usage lines of these commands, indented to follow the others'.
extern const char* const kUtilUsageText;

int base64Command(const Args& args);
int sha1Command(const Args& args);
int profileCommand(const Args& args);
int hardwareCommand(const Args& args);
int keychainCommand(Args args);
int reachabilityCommand(const Args& args);
int fetchCommand(const Args& args);

// Shared by the files of these commands.
int utilUsage();
int utilFailed(const std::string& message);
// printf to standard output as one line, flushed at once (a watcher reads as it comes).
void outputLine(const char* format, ...) __attribute__((format(printf, 1, 2)));
// A number of seconds, finite and not negative.
bool parseSeconds(const std::string& text, double& seconds);

}  // namespace dkutil
