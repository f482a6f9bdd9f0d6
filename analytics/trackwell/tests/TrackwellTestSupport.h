// What the store's and the uploader's tests share: a home of their own and plain SQL read-backs.
#pragma once

#include <sqlite3.h>
#include <yajl/yajl_tree.h>

#include <string>
#include <vector>

#include "analytics/trackwell/TrackwellDatabase.h"
#include "tests/support/TestSupport.h"

namespace dktest {

// A scratch home with the Documents and Caches places of a container.
struct TrackwellHome {
    TempDir dir;
    TrackwellDatabase::Places places() const {
        return {dir.path() + "/Documents", dir.path() + "/Library/Caches"};
    }
    std::string storePath() const { return TrackwellDatabase::trackwellDatabasePath(places()); }
    std::string oldDirectory() const { return dir.path() + "/Documents/.trackwell"; }
};

// Every row of `sql`, its columns joined by "|" (NULL as "NULL").
std::vector<std::string> rows(sqlite3* db, const std::string& sql);
// The same on a read-write connection of its own to `path`, so that a hot journal another
// connection left is rolled back first.
std::vector<std::string> rows(const std::string& path, const std::string& sql);
// Runs statements on a connection of its own; false with the message on standard error.
bool execSql(const std::string& path, const std::string& sql);

// Overwrites every page of an SQLite file but the first (whose schema still reads) and moves its
// change counter on, so connections that have it open read the damage too.
void damagePastFirstPage(const std::string& path);

// What a gzip stream inflates to; "inflate failed" when it is no whole stream.
std::string gunzip(const std::string& gzip);
// The body of one line of a recording server's requests.jsonl, gunzipped.
std::string inflatedBody(const std::string& requestLine);

// A JSON text read strictly (yajl: well-formed UTF-8, one value, nothing after it).
class JsonDoc {
public:
    explicit JsonDoc(const std::string& text);
    ~JsonDoc() { yajl_tree_free(m_root); }
    JsonDoc(const JsonDoc&) = delete;
    JsonDoc& operator=(const JsonDoc&) = delete;
    yajl_val root() const { return m_root; }
    const std::string& error() const { return m_error; }

private:
    yajl_val m_root = nullptr;
    std::string m_error;
};

// An object's member names in order; its member `key` (null when absent); a value as text
// (strings as they are, null as "null", numbers and booleans as written).
std::vector<std::string> keys(yajl_val object);
yajl_val member(yajl_val object, const std::string& key);
std::string text(yajl_val value);

}  // namespace dktest
