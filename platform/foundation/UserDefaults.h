// Values kept across runs: a dictionary in a property-list file, written whole. Thread-safe (one
// mutex), and shared with other processes: it keeps the keys set or removed since its last write,
// and synchronize (writes serialised) takes the flock on the directory's .lock, reads the file
// afresh, applies only those keys, writes it as XML and takes the result as its own, so a player and
// dk-util keep each other's keys; the changes are kept on failure. A file that does not parse is
// moved aside (moveAside) with one log line; one that exists but cannot be read is never written
// over. standard() is made from the main container when first asked for.
#pragma once

#include "platform/foundation/Container.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace plat::foundation {

class UserDefaults {
public:
    // Reads `path` (XML or binary, a dictionary); a missing file starts empty. A file that does not
    // parse, or holds no dictionary, is renamed to `path`.bad (.bad.2 and on when that is taken)
    // with a message on standard error and the defaults start empty. One that exists but cannot
    // be read is left alone: synchronize then refuses to write over it.
    explicit UserDefaults(std::string path);
    // Library/Preferences/<bundle identifier>.plist of `container`.
    explicit UserDefaults(const Container& container);
    // Unsaved changes are written.
    ~UserDefaults();
    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    // The defaults of Container::main(), made on the first call for its file; null while there is
    // none. A new main container (a second start in the process) has its own. Never destroyed:
    // what is not synchronized is lost at exit, as on the platform when it is killed.
    static UserDefaults* standard();

    const std::string& path() const { return m_path; }

    std::optional<Value> objectForKey(std::string_view key) const;
    // Strings as they are, numbers as their description; nullopt for anything else.
    std::optional<std::string> stringForKey(std::string_view key) const;
    // The Value conversions of the entry; false or 0 when absent.
    bool boolForKey(std::string_view key) const;
    int64_t integerForKey(std::string_view key) const;
    double doubleForKey(std::string_view key) const;
    Value::Dictionary dictionaryRepresentation() const;

    // A null value removes the key. A value no property list can hold (one with a null inside, a
    // string with a NUL, a date out of range) is refused: false, with a message on standard error.
    bool setObject(Value value, std::string_view key);
    void setBool(bool value, std::string_view key) { setObject(Value(value), key); }
    void setInteger(int64_t value, std::string_view key) { setObject(Value(value), key); }
    void setDouble(double value, std::string_view key) { setObject(Value(value), key); }
    void removeObjectForKey(std::string_view key);

    // Under the lock that every process's defaults take on the file's directory (its `.lock`):
    // reads the file afresh, sets and removes there the keys changed here since the last write,
    // and writes it as XML, atomically (a kill at any point leaves the old file whole). What
    // others wrote is then seen here too. True when nothing needed writing. The changes stay
    // unsaved on failure; without `error` the failure is logged, once until another or a success.
    bool synchronize(Error* error = nullptr);

private:
    using Changes = std::map<std::string, std::optional<Value>, std::less<>>;  // nullopt: removed
    enum class FileState { Read, MovedAside, Unreadable };
    void load();
    bool write(Error* error);  // synchronize's work, with m_writeMutex held
    // The file's dictionary (empty when there is none, or when it was damaged and moved aside);
    // `problem` says why when it cannot be read. Called with the lock held.
    FileState readFile(Value::Dictionary& values, std::string* problem) const;
    std::string directory() const;
    std::string lockPath() const;
    static void apply(const Changes& changes, Value::Dictionary& values);

    const std::string m_path;
    mutable std::mutex m_mutex;  // guards the members below
    Value::Dictionary m_values;
    Changes m_changes;          // since the last write
    std::mutex m_writeMutex;    // one write at a time, in the order the snapshots were taken
    std::string m_saidFailure;  // the last failure logged (guarded by m_writeMutex)
};

}  // namespace plat::foundation
