#include "platform/foundation/Container.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>

#include "platform/foundation/FileSystem.h"

namespace plat::foundation {

namespace {

std::unique_ptr<Container>& mainContainer() {
    static std::unique_ptr<Container> container;
    return container;
}

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string homeDirectory() {
    std::string home = environment("HOME");
    if (!home.empty()) return home;
    passwd entry;
    passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(::getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found && found->pw_dir)
        return found->pw_dir;
    return {};
}

}  // namespace

std::optional<Container> Container::open(const std::string& bundleIdentifier, const std::string& home, Error* error) {
    // The identifier names a directory and the preferences file: it must stay one name.
    if (bundleIdentifier.empty() || bundleIdentifier == "." || bundleIdentifier == ".." ||
        bundleIdentifier.find('/') != std::string::npos) {
        fail(error, kFileWriteUnknownError, "bundle identifier \"" + bundleIdentifier + "\" cannot name a directory");
        return std::nullopt;
    }
    std::string root = home.empty() ? environment("DROVIK_HOME") : home;
    if (root.empty()) {
        std::string data = environment("XDG_DATA_HOME");
        if (data.empty()) {
            const std::string user = homeDirectory();
            if (user.empty()) {
                fail(error, kFileReadNoSuchFileError, "no home directory: set HOME or DROVIK_HOME");
                return std::nullopt;
            }
            data = user + "/.local/share";
        }
        root = data + "/drovik/" + bundleIdentifier;
    }
    Container container;
    container.m_root = absolutePath(root);
    container.m_identifier = bundleIdentifier;
    if (!makeDirectories(container.m_root, error)) return std::nullopt;
    return container;
}

const Container* Container::main() {
    return mainContainer().get();
}

void Container::setMain(Container container) {
    mainContainer() = std::make_unique<Container>(std::move(container));
}

std::optional<FileLock> Container::claim(std::string* holder, std::string* problem) const {
    const std::string path = m_root + "/.drovik-player.lock";
    FileLock lock(path, false);
    if (!lock.held()) {
        std::string pid;
        if (!lock.takenElsewhere()) {
            if (problem) *problem = lock.problem();
        } else if (std::optional<std::string> text = readFile(path)) {
            pid = text->substr(0, text->find('\n'));
        }
        if (holder) *holder = pid;
        return std::nullopt;
    }
    // The pid is for a second player's message only: the lock is what counts.
    const std::string pid = std::to_string(getpid()) + "\n";
    if (ftruncate(lock.fd(), 0) == 0) (void)!pwrite(lock.fd(), pid.data(), pid.size(), 0);
    return lock;
}

std::optional<std::string> Container::unmakeableFolder() const {
    for (const char* relative :
         {"Documents", "Library/Caches", "Library/Application Support", "Library/Preferences", "tmp"}) {
        Error error;
        if (!directory(relative, &error).empty()) continue;
        const std::string path = m_root + "/" + relative;
        struct stat st;
        if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode) && ::stat(path.c_str(), &st) != 0)
            return path + ": a symbolic link to nothing is in its place";
        if (::lstat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode) && !S_ISLNK(st.st_mode))
            return path + ": a file is in its place";
        const std::string said = "cannot make directory " + path + ": ";
        return path + ": " +
               (error.message.rfind(said, 0) == 0 ? error.message.substr(said.size()) : error.message);
    }
    return std::nullopt;
}

std::string Container::directory(const char* relative, Error* error) const {
    std::string path = m_root + "/" + relative;
    return makeDirectories(path, error) ? path : std::string();
}

}  // namespace plat::foundation
