// Named pasteboards shared by every game of the user: one binary property list a pasteboard,
// `<name>.plist` in the pasteboard directory, {"persistent", "owner", "items": {type: data}}.
// Every call reads the file afresh (other processes write it too); changes are read-modify-write
// under an flock on the directory's lock file and replace the file atomically.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Value.h"

namespace plat::foundation {

inline constexpr const char* kPasteboardTypeUTF8PlainText = "public.utf8-plain-text";

class Pasteboard {
public:
    // The directory: the one set here (a tool's --pasteboards), else DROVIK_PASTEBOARDS, else
    // ${XDG_DATA_HOME:-$HOME/.local/share}/drovik-pasteboards.
    static void setDirectory(std::string directory);
    static std::string directory();

    // The pasteboard of that name; null when it does not exist and `create` is false, or when the
    // directory cannot be written. A file that does not parse, or a non-persistent pasteboard
    // whose maker has ended, counts as absent. A new pasteboard is not persistent and belongs to
    // this process, which removes it when it exits.
    static std::unique_ptr<Pasteboard> named(std::string_view name, bool create);
    static void remove(std::string_view name);
    // Names of the pasteboards present, sorted.
    static std::vector<std::string> names();
    // The file name a pasteboard name maps to: bytes outside [A-Za-z0-9._-] as %XX, ".plist".
    static std::string fileNameFor(std::string_view name);

    const std::string& name() const { return m_name; }
    bool persistent() const;
    void setPersistent(bool persistent);

    std::optional<Data> dataForType(std::string_view type) const;
    // False when the file could not be written.
    bool setData(const Data& data, std::string_view type);
    std::optional<std::string> string() const;
    bool setString(std::string_view text);

private:
    explicit Pasteboard(std::string name) : m_name(std::move(name)) {}
    std::string m_name;
};

}  // namespace plat::foundation
