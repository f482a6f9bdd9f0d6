#include "analytics/trackwell/tests/TrackwellTestSupport.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

namespace dktest {

std::vector<std::string> rows(sqlite3* db, const std::string& sql) {
    std::vector<std::string> out;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
        out.push_back(std::string("error: ") + sqlite3_errmsg(db));
        return out;
    }
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        std::string row;
        for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
            if (i) row += "|";
            const unsigned char* text = sqlite3_column_text(stmt, i);
            row += text ? reinterpret_cast<const char*>(text) : "NULL";
        }
        out.push_back(row);
    }
    sqlite3_finalize(stmt);
    return out;
}

std::vector<std::string> rows(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    std::vector<std::string> out = rows(db, sql);
    sqlite3_close(db);
    return out;
}

bool execSql(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    char* message = nullptr;
    bool ok = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK;
    if (!ok) std::fprintf(stderr, "execSql: %s\n", message ? message : "?");
    sqlite3_free(message);
    sqlite3_close(db);
    return ok;
}

std::string gunzip(const std::string& gzip) {
    z_stream stream{};
    inflateInit2(&stream, 31);
    std::string out(std::max<std::size_t>(1 << 22, gzip.size() * 64), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(gzip.data()));
    stream.avail_in = static_cast<uInt>(gzip.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    const int rc = inflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    inflateEnd(&stream);
    return rc == Z_STREAM_END ? out : "inflate failed";
}

JsonDoc::JsonDoc(const std::string& text) {
    char error[256] = "";
    m_root = yajl_tree_parse(text.c_str(), error, sizeof error);
    // yajl_tree_parse reads a C string: a NUL inside the text would end it early.
    if (text.find('\0') != std::string::npos) {
        yajl_tree_free(m_root);
        m_root = nullptr;
        m_error = "NUL in text";
    } else if (!m_root) {
        m_error = error;
    }
}

std::vector<std::string> keys(yajl_val object) {
    std::vector<std::string> out;
    if (YAJL_IS_OBJECT(object))
        for (std::size_t i = 0; i < object->u.object.len; ++i) out.push_back(object->u.object.keys[i]);
    return out;
}

yajl_val member(yajl_val object, const std::string& key) {
    if (!YAJL_IS_OBJECT(object)) return nullptr;
    for (std::size_t i = 0; i < object->u.object.len; ++i)
        if (key == object->u.object.keys[i]) return object->u.object.values[i];
    return nullptr;
}

std::string text(yajl_val value) {
    if (!value) return "<absent>";
    if (YAJL_IS_STRING(value)) return value->u.string;
    if (YAJL_IS_NUMBER(value)) return value->u.number.r;
    if (YAJL_IS_TRUE(value)) return "true";
    if (YAJL_IS_FALSE(value)) return "false";
    if (YAJL_IS_NULL(value)) return "null";
    return "<container>";
}

std::string inflatedBody(const std::string& requestLine) {
    JsonDoc line(requestLine);
    const std::string hex = text(member(line.root(), "body_hex"));
    std::string gzip;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) gzip += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return gunzip(gzip);
}

void damagePastFirstPage(const std::string& path) {
    std::string file = readFile(path);
    if (file.size() < 100) return;
    std::size_t pageSize = (static_cast<unsigned char>(file[16]) << 8) | static_cast<unsigned char>(file[17]);
    if (pageSize == 1) pageSize = 65536;
    for (std::size_t i = pageSize; i < file.size(); ++i) file[i] = static_cast<char>(0xA5 ^ (i * 31));
    file[27] = static_cast<char>(file[27] + 1);
    // In place: an open connection keeps reading the same file.
    std::fstream out(path, std::ios::in | std::ios::out | std::ios::binary);
    out.write(file.data(), static_cast<std::streamsize>(file.size()));
}

}  // namespace dktest
