#include "database/app_database.h"

#include <sqlite3.h>

#include <stdexcept>
#include <string>

#include "core/sql_statement.h"
#include "database/app_database_file.h"
#include "database/sql_transaction.h"

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
-- A profile's rows in the order they were added (by id), read without a sort. Every index slows
-- every write of a profile, so there is none that no statement uses (database/bookmark_queries.h).
CREATE INDEX IF NOT EXISTS idx_bookmarks_profile ON bookmarks(profile_id);
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

// Brings a file of an earlier schema version up to this one; each step may run on a file that has
// had it already. Version 2: indexes that only slow every write of a profile: the one of the old
// reading order (folder, then title), the one on the URL as stored, which no statement used, and
// the one on the duplicate key, whose look-up per record cost more than comparing the keys in
// memory (AddBookmarks reads the profile's URLs once instead).
const char* const kUpgrade = R"sql(
DROP INDEX IF EXISTS idx_bookmarks_order;
DROP INDEX IF EXISTS idx_bookmarks_url;
DROP INDEX IF EXISTS idx_bookmarks_url_key;
)sql";

}  // namespace

AppDatabase::~AppDatabase() { Close(); }

bool AppDatabase::Open(const std::wstring& path, std::wstring* error) {
    std::lock_guard<std::mutex> lock(mutex);
    foundDamaged = false;
    if (db) {
        // Opening again replaces the connection instead of leaking it.
        sqlite3_close(db);
        db = nullptr;
    }
    auto refuse = [error](sqlite3* handle, const std::wstring& reason) {
        if (handle) sqlite3_close(handle);
        if (error) *error = reason;
        return false;
    };

    sqlite3* handle = nullptr;
    const int rc = sqlite3_open_v2(ToUtf8(path).c_str(), &handle,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, kLongPathVfs);
    if (rc != SQLITE_OK) {
        // The engine may hand back a handle even when opening failed; it must still be released.
        return refuse(handle, L"SQLite could not open or create it: " +
                                  ToWide(handle ? sqlite3_errmsg(handle) : sqlite3_errstr(rc)) + L".");
    }

    // Nothing is written before the file is known to be ours (or new).
    const DatabaseFileCheck check = CheckDatabaseFile(handle);
    switch (check.kind) {
        case DatabaseFileKind::OtherProgram:
        case DatabaseFileKind::Newer:
        case DatabaseFileKind::Damaged:
            return refuse(handle, check.reason + L" The file was left unchanged.");
        case DatabaseFileKind::Empty:
        case DatabaseFileKind::Marked:
        case DatabaseFileKind::Unmarked:
            break;
    }
    // A damaged page anywhere, found before anything is written: writing into such a file (even the
    // settings at close) can spread the damage over rows that are still sound.
    if (check.kind != DatabaseFileKind::Empty) {
        const std::wstring damage = FindDamage(handle);
        if (!damage.empty()) {
            foundDamaged = true;
            return refuse(handle, damage + L" The file was left unchanged.");
        }
    }

    sqlite3_exec(handle, "PRAGMA journal_mode=DELETE;", nullptr, nullptr, nullptr);
    sqlite3_exec(handle, "PRAGMA foreign_keys=ON;", nullptr, nullptr, nullptr);  // ON DELETE CASCADE needs it
    sqlite3_exec(handle, "PRAGMA synchronous=FULL;", nullptr, nullptr, nullptr);
    sqlite3_exec(handle, kWriteCacheSizePragma, nullptr, nullptr, nullptr);

    // The schema and the mark in one transaction: a file is either left as it was or fully set up.
    try {
        ImmediateTransaction transaction(handle);
        ExecOrThrow(handle, kSchema);
        if (check.kind != DatabaseFileKind::Marked || check.schemaVersion != kAppDatabaseSchemaVersion) {
            ExecOrThrow(handle, kUpgrade);
            const std::string mark = "PRAGMA application_id = " + std::to_string(kAppDatabaseApplicationId) +
                                     "; PRAGMA user_version = " + std::to_string(kAppDatabaseSchemaVersion) + ";";
            ExecOrThrow(handle, mark.c_str());
        }
        transaction.Commit();
    } catch (const std::exception& failure) {
        return refuse(handle, L"Its tables could not be set up: " + ToWide(failure.what()) + L".");
    }
    db = handle;
    return true;
}

void AppDatabase::Close() {
    std::lock_guard<std::mutex> lock(mutex);
    if (db) {
        sqlite3_close(db);
        db = nullptr;
    }
}

bool AppDatabase::FoundDamaged() {
    std::lock_guard<std::mutex> lock(mutex);
    return foundDamaged;
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
