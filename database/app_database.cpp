#include "database/app_database.h"

#include <sqlite3.h>

#include <stdexcept>
#include <string>

#include "core/sql_statement.h"
#include "database/bookmark_key.h"

namespace bm {
namespace {

// Every statement uses IF NOT EXISTS, so opening an existing file keeps its rows.
const char* const kSchema = R"sql(
CREATE TABLE IF NOT EXISTS profiles (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    name TEXT NOT NULL UNIQUE,
    created_at INTEGER NOT NULL,
    updated_at INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS bookmarks (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    profile_id INTEGER NOT NULL REFERENCES profiles(id) ON DELETE CASCADE,
    url TEXT NOT NULL,
    title TEXT NOT NULL,
    folder_path TEXT NOT NULL DEFAULT '',
    date_added INTEGER NOT NULL
);
CREATE INDEX IF NOT EXISTS idx_bookmarks_profile ON bookmarks(profile_id);
CREATE INDEX IF NOT EXISTS idx_bookmarks_url ON bookmarks(profile_id, url);
-- GetBookmarks reads a profile in this order; without it every read sorts the whole profile.
CREATE INDEX IF NOT EXISTS idx_bookmarks_order ON bookmarks(profile_id, folder_path, title);
CREATE TABLE IF NOT EXISTS browser_configs (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    browser_key TEXT NOT NULL UNIQUE,
    custom_path TEXT NOT NULL DEFAULT '',
    bound_profile_id INTEGER NOT NULL DEFAULT 0
);
CREATE TABLE IF NOT EXISTS app_settings (
    key TEXT PRIMARY KEY,
    value TEXT NOT NULL
);
CREATE TABLE IF NOT EXISTS profile_backups (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    profile_id INTEGER NOT NULL REFERENCES profiles(id) ON DELETE CASCADE,
    created_at INTEGER NOT NULL,
    label TEXT NOT NULL DEFAULT '',
    bookmark_count INTEGER NOT NULL DEFAULT 0,
    snapshot_json TEXT NOT NULL
);
CREATE INDEX IF NOT EXISTS idx_profile_backups_profile ON profile_backups(profile_id, created_at);
)sql";

}  // namespace

AppDatabase::~AppDatabase() { Close(); }

bool AppDatabase::Open(const std::wstring& path) {
    std::lock_guard<std::mutex> lock(mutex);
    if (db) {
        // Opening again replaces the connection instead of leaking it.
        sqlite3_close(db);
        db = nullptr;
    }
    sqlite3* handle = nullptr;
    const int rc = sqlite3_open_v2(ToUtf8(path).c_str(), &handle,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        // The engine may hand back a handle even when opening failed; it must still be released.
        if (handle) sqlite3_close(handle);
        return false;
    }
    db = handle;

    sqlite3_exec(db, "PRAGMA journal_mode=DELETE;", nullptr, nullptr, nullptr);
    sqlite3_exec(db, "PRAGMA foreign_keys=ON;", nullptr, nullptr, nullptr);  // ON DELETE CASCADE needs it
    sqlite3_exec(db, "PRAGMA synchronous=FULL;", nullptr, nullptr, nullptr);
    sqlite3_exec(db, kWriteCacheSizePragma, nullptr, nullptr, nullptr);

    for (const char* statements : {kSchema, kBookmarkKeyIndexSql}) {
        char* message = nullptr;
        if (sqlite3_exec(db, statements, nullptr, nullptr, &message) != SQLITE_OK) {
            std::string text = message ? message : "unknown schema error";
            sqlite3_free(message);
            throw std::runtime_error("Failed to initialize schema: " + text);
        }
    }
    return true;
}

void AppDatabase::Close() {
    std::lock_guard<std::mutex> lock(mutex);
    if (db) {
        sqlite3_close(db);
        db = nullptr;
    }
}

int64_t AppDatabase::ChangeCount() {
    std::lock_guard<std::mutex> lock(mutex);
    return db ? static_cast<int64_t>(sqlite3_total_changes64(db)) : 0;
}

sqlite3* AppDatabase::Connection() const {
    if (!db) throw std::runtime_error("The profile database is not open.");
    return db;
}

}  // namespace bm
