// An application bundle: a directory (GAME.app/) with its Info.plist (XML or binary, a dictionary)
// and its resources, found in the root, then <lang>.lproj (from LC_ALL, LC_MESSAGES, LANG, read when
// opened), then Base.lproj; listings are sorted by byte. localizedString looks an English text up in
// <lang>.lproj/Localizable.strings (read at the first look-up; a damaged one is said once) and
// answers the text itself when it has none. The host sets setMain once at start-up.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"

namespace plat::foundation {

inline constexpr std::string_view kBundleIdentifierKey = "CFBundleIdentifier";
inline constexpr std::string_view kBundleVersionKey = "CFBundleVersion";
inline constexpr std::string_view kBundleShortVersionKey = "CFBundleShortVersionString";
inline constexpr std::string_view kBundleExecutableKey = "CFBundleExecutable";

class Bundle {
public:
    // Reads `path`/Info.plist (XML or binary), which must hold a dictionary; otherwise nullopt
    // with the error naming the file, for the caller to report. The language of localized
    // resources is taken from the environment now.
    static std::optional<Bundle> open(const std::string& path, Error* error = nullptr);

    // The process's own bundle, set once at start-up before other threads look; null until then.
    static const Bundle* main();
    static void setMain(Bundle bundle);
    // The main bundle's Info.plist entry; null without a main bundle or without the entry.
    static const Value* mainInfoValue(std::string_view key);
    // That entry when it is a string; empty otherwise.
    static std::string mainInfoString(std::string_view key);

    // Absolute, without a trailing slash.
    const std::string& path() const { return m_path; }
    const Value& infoDictionary() const { return m_info; }
    // An Info.plist entry; null when absent.
    const Value* infoValue(std::string_view key) const { return m_info.find(key); }
    // CFBundleIdentifier when it is a non-empty string, else the directory's name less ".app".
    std::string identifier() const;
    // CFBundleVersion, CFBundleShortVersionString, CFBundleExecutable: the entry's description,
    // empty when absent.
    std::string version() const { return infoText(kBundleVersionKey); }
    std::string shortVersion() const { return infoText(kBundleShortVersionKey); }
    std::string executableName() const { return infoText(kBundleExecutableKey); }
    // The language code of the first of LC_ALL, LC_MESSAGES, LANG that is set ("fr" from
    // "fr_FR.UTF-8"); empty when none is.
    const std::string& language() const { return m_language; }

    // `name`.`type` (just `name` when `type` is empty), a file or a directory, looked for in the
    // bundle's root, then in `language`.lproj/, then in Base.lproj/. Names match exactly: no case
    // folding and no implicit suffixes.
    std::optional<std::string> pathForResource(std::string_view name, std::string_view type) const;
    // Every `*.type` (every entry when `type` is empty) in `subdirectory` of the same three places,
    // a name found in an earlier place hiding it in later ones; sorted by name byte by byte, so
    // "Z.gameproj" comes before "b.gameproj".
    std::vector<std::string> pathsForResourcesOfType(std::string_view type, std::string_view subdirectory = {}) const;

    // `english` in the bundle's `language`.lproj/Localizable.strings (a property list of English
    // texts to this language's, read at the first look-up; one that cannot be read is said once
    // on the log), else `english` itself.
    std::string localizedString(std::string_view english) const;
    // The main bundle's; `english` itself without one.
    static std::string localized(std::string_view english);

private:
    struct Strings;

    Bundle() = default;
    std::string infoText(std::string_view key) const;
    std::vector<std::string> searchDirectories(std::string_view subdirectory) const;

    std::string m_path;
    std::string m_language;
    Value m_info;
    std::shared_ptr<Strings> m_strings;  // shared by copies: one table per opened bundle
};

// The process's name, as per-process directories use it (Caches/<name>/): the bundle's
// CFBundleExecutable, else the program's file name.
std::string processName(const Bundle* bundle = Bundle::main());

}  // namespace plat::foundation
