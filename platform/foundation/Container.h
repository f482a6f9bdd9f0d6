// The application's own directories, under one root per bundle identifier, chosen by --home,
// DROVIK_HOME, else under $XDG_DATA_HOME/drovik/<bundle id>; each directory is made 0700 when asked
// for. The host sets setMain once at start-up. claim takes a non-blocking flock on the root's
// .drovik-player.lock, holding the pid and let go when the process ends however it ends: one player
// per home, since two would each keep a saved value in memory and write it over the other's. Tools
// take no claim (the user defaults merge under their own lock).
#pragma once

#include "platform/foundation/Error.h"
#include "platform/foundation/FileSystem.h"

#include <optional>
#include <string>

namespace plat::foundation {

class Container {
public:
    // The root is `home` when it is not empty, else $DROVIK_HOME when set, else
    // ${XDG_DATA_HOME:-$HOME/.local/share}/drovik/<bundleIdentifier>; made here with its parents.
    // Nullopt, with an error naming the path, when it cannot be made, or when the identifier is
    // no single file name (empty, "." or "..", or with a slash).
    static std::optional<Container> open(const std::string& bundleIdentifier, const std::string& home = {},
                                         Error* error = nullptr);

    // The process's own container, set once at start-up before other threads look; null until then.
    static const Container* main();
    static void setMain(Container container);

    // The container for this process's game alone while the lock lives: an flock on
    // <root>/.drovik-player.lock, with this process's pid written in it. Nullopt when another
    // process holds it, `holder` then that process's pid (empty when it has not written it yet),
    // or when the lock file cannot be had (a folder or a link at its name, a home that cannot be
    // written), `problem` then saying why and naming the file.
    std::optional<FileLock> claim(std::string* holder, std::string* problem = nullptr) const;

    const std::string& path() const { return m_root; }
    const std::string& bundleIdentifier() const { return m_identifier; }

    // Absolute paths, each directory made when asked for (so again if something removed it);
    // empty, with an error naming the path, when it cannot be made.
    std::string documentsPath(Error* error = nullptr) const { return directory("Documents", error); }
    std::string cachesPath(Error* error = nullptr) const { return directory("Library/Caches", error); }
    std::string applicationSupportPath(Error* error = nullptr) const {
        return directory("Library/Application Support", error);
    }
    std::string preferencesPath(Error* error = nullptr) const { return directory("Library/Preferences", error); }
    std::string temporaryPath(Error* error = nullptr) const { return directory("tmp", error); }
    // The first of the folders above that cannot be made, and why ("H/Documents: a file is in
    // its place"); nullopt when each can. A program that would save under them stops on it
    // rather than let a path made from an empty answer land outside the home.
    std::optional<std::string> unmakeableFolder() const;

private:
    Container() = default;
    std::string directory(const char* relative, Error* error) const;

    std::string m_root;
    std::string m_identifier;
};

}  // namespace plat::foundation
