// The persistent key/value store "persistent.save": one SQLite table of text keys and values.
#pragma once

#include <optional>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

// Opens nothing and touches no file until the first store (or a load once the file exists).
// SQLite failures are silent, as scripts expect: a load finds nothing, a store does nothing.
struct DKDatabase {  // a struct: the C API header declares it so
public:
    DKDatabase(std::string filePath, std::string tablesDirectory);
    ~DKDatabase();
    DKDatabase(const DKDatabase&) = delete;
    DKDatabase& operator=(const DKDatabase&) = delete;

    // The value stored under `key`; nothing when there is none or it is SQL NULL.
    std::optional<std::string> load(std::string_view key);
    // Stores `value` under `key`, replacing any earlier one; no value stores SQL NULL.
    void store(std::string_view key, std::optional<std::string_view> value);
    // The directory scripts keep their tables in, as the host gave it.
    const std::string& tablesDirectory() const { return m_tablesDirectory; }

private:
    void open();

    std::string m_filePath;
    std::string m_tablesDirectory;
    sqlite3* m_connection = nullptr;
    // Prepared once for the connection's life: no SQL text is built per call.
    sqlite3_stmt* m_select = nullptr;
    sqlite3_stmt* m_update = nullptr;
    sqlite3_stmt* m_insert = nullptr;
};
