#include "engine/DKDatabase.h"

#include <sqlite3.h>
#include <unistd.h>

#include <utility>

namespace {

const char* const kCreateTable =
    "CREATE TABLE IF NOT EXISTS savedValues (key char(32) primary key, value char(32))";
const char* const kSelect = "SELECT value FROM savedValues WHERE key=?1";
// Not an upsert: that needs the key's unique constraint, which a table made by another tool or
// an older version may lack. A look-up decides between these two, inside one transaction.
const char* const kUpdate = "UPDATE savedValues SET value=?2 WHERE key=?1";
const char* const kInsert = "INSERT INTO savedValues (key, value) VALUES (?1, ?2)";

// Lengths are explicit so that an embedded NUL does not cut the text short.
void bindText(sqlite3_stmt* stmt, int index, std::optional<std::string_view> text) {
    if (text)
        sqlite3_bind_text(stmt, index, text->data(), static_cast<int>(text->size()), SQLITE_TRANSIENT);
    else
        sqlite3_bind_null(stmt, index);
}

void resetStatement(sqlite3_stmt* stmt) {
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
}

}  // namespace

DKDatabase::DKDatabase(std::string filePath, std::string tablesDirectory)
    : m_filePath(std::move(filePath)), m_tablesDirectory(std::move(tablesDirectory)) {}

DKDatabase::~DKDatabase() {
    sqlite3_finalize(m_select);
    sqlite3_finalize(m_update);
    sqlite3_finalize(m_insert);
    if (m_connection) sqlite3_close(m_connection);
}

// A connection whose open failed makes its statements fail, so loads find nothing and stores
// do nothing.
void DKDatabase::open() {
    if (m_connection) return;
    sqlite3_open_v2(m_filePath.c_str(), &m_connection, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (!m_connection) return;
    sqlite3_exec(m_connection, kCreateTable, nullptr, nullptr, nullptr);
    sqlite3_prepare_v2(m_connection, kSelect, -1, &m_select, nullptr);
    sqlite3_prepare_v2(m_connection, kUpdate, -1, &m_update, nullptr);
    sqlite3_prepare_v2(m_connection, kInsert, -1, &m_insert, nullptr);
}

std::optional<std::string> DKDatabase::load(std::string_view key) {
    // A game that never saved leaves no file behind.
    if (!m_connection && access(m_filePath.c_str(), R_OK | W_OK) != 0) return std::nullopt;
    open();
    if (!m_select) return std::nullopt;
    bindText(m_select, 1, key);
    std::optional<std::string> value;
    if (sqlite3_step(m_select) == SQLITE_ROW && sqlite3_column_type(m_select, 0) != SQLITE_NULL) {
        const void* text = sqlite3_column_blob(m_select, 0);
        int bytes = sqlite3_column_bytes(m_select, 0);
        value.emplace(text ? static_cast<const char*>(text) : "", static_cast<size_t>(bytes));
    }
    resetStatement(m_select);
    return value;
}

void DKDatabase::store(std::string_view key, std::optional<std::string_view> value) {
    open();
    if (!m_select || !m_update || !m_insert) return;
    // One transaction, so no other connection writes the key between the look-up and the write.
    if (sqlite3_exec(m_connection, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) return;
    bindText(m_select, 1, key);
    const int found = sqlite3_step(m_select);
    resetStatement(m_select);
    sqlite3_stmt* write = found == SQLITE_ROW ? m_update : m_insert;
    bindText(write, 1, key);
    bindText(write, 2, value);
    const bool written = (found == SQLITE_ROW || found == SQLITE_DONE) && sqlite3_step(write) == SQLITE_DONE;
    resetStatement(write);
    if (!written || sqlite3_exec(m_connection, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
        sqlite3_exec(m_connection, "ROLLBACK", nullptr, nullptr, nullptr);
}
