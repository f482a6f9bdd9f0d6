#include "engine/DKDatabase.h"

#include <sqlite3.h>
#include <unistd.h>

#include <utility>

namespace {

const char* const kCreateTable =
    "CREATE TABLE IF NOT EXISTS savedValues (key char(32) primary key, value char(32))";
const char* const kSelect = "SELECT value FROM savedValues WHERE key=?1";
const char* const kUpsert =
    "INSERT INTO savedValues (key, value) VALUES (?1, ?2) "
    "ON CONFLICT(key) DO UPDATE SET value=excluded.value";

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
    sqlite3_finalize(m_upsert);
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
    sqlite3_prepare_v2(m_connection, kUpsert, -1, &m_upsert, nullptr);
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
    if (!m_upsert) return;
    bindText(m_upsert, 1, key);
    bindText(m_upsert, 2, value);
    sqlite3_step(m_upsert);
    resetStatement(m_upsert);
}
