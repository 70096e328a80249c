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

namespace {

// A setting of the connection, read back: SQLite ignores some silently (foreign keys inside a
// transaction, a journal mode the file cannot take).
void ApplyPragma(sqlite3* db, const char* set, const char* read, const char* expected) {
    ExecOrThrow(db, set);
    Statement check = PrepareOrThrow(db, read);
    if (!StepRow(check) || ColumnText(check, 0) != expected)
        throw std::runtime_error(std::string(set) + " did not take effect");
}

// How long a connection waits for a lock that another connection holds for a moment; a lock held
// longer (another program with the file open) is reported as such.
constexpr int kMomentaryLockWaitMs = 1000;

void ApplyConnectionSettings(sqlite3* db) {
    ApplyPragma(db, "PRAGMA journal_mode=DELETE;", "PRAGMA journal_mode;", "delete");
    ApplyPragma(db, "PRAGMA foreign_keys=ON;", "PRAGMA foreign_keys;", "1");  // ON DELETE CASCADE needs it
    ApplyPragma(db, "PRAGMA synchronous=FULL;", "PRAGMA synchronous;", "2");
    ExecOrThrow(db, kWriteCacheSizePragma);
}

// The schema and the mark in one transaction: a file is either left as it was or fully set up.
void SetUpSchema(sqlite3* db, const DatabaseFileCheck& check) {
    ImmediateTransaction transaction(db);
    ExecOrThrow(db, kSchema);
    if (check.kind != DatabaseFileKind::Marked || check.schemaVersion != kAppDatabaseSchemaVersion) {
        ExecOrThrow(db, kUpgrade);
        const std::string mark = "PRAGMA application_id = " + std::to_string(kAppDatabaseApplicationId) +
                                 "; PRAGMA user_version = " + std::to_string(kAppDatabaseSchemaVersion) + ";";
        ExecOrThrow(db, mark.c_str());
    }
    transaction.Commit();
}

}  // namespace

AppDatabase::~AppDatabase() { Close(); }

bool AppDatabase::Open(const std::wstring& path, std::wstring* error) {
    // A check of an earlier file still running ends first: it would write that file's kept settings.
    JoinChecker();
    std::lock_guard<std::mutex> lock(mutex);
    {
        std::lock_guard<std::mutex> state(checkMutex);
        trouble = DatabaseTrouble::None;
        troubleReason.clear();
        checking = false;
    }
    keptSettings.clear();
    checkFinished = true;
    readOnly = false;
    if (db) {
        // Opening again replaces the connection instead of leaking it.
        sqlite3_close(db);
        db = nullptr;
    }
    auto refuse = [this, error](sqlite3* handle, const std::wstring& reason, DatabaseTrouble found) {
        if (handle) sqlite3_close(handle);
        if (error) *error = reason;
        std::lock_guard<std::mutex> state(checkMutex);
        trouble = found;
        troubleReason = reason;
        return false;
    };

    sqlite3* handle = nullptr;
    const std::string utf8Path = ToUtf8(path);
    const int rc = sqlite3_open_v2(utf8Path.c_str(), &handle,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, kLongPathVfs);
    if (rc != SQLITE_OK) {
        // The engine may hand back a handle even when opening failed; it must still be released.
        return refuse(handle, L"SQLite could not open or create it: " +
                                  ToWide(handle ? sqlite3_errmsg(handle) : sqlite3_errstr(rc)) + L".",
                      DatabaseTrouble::None);
    }
    // The check of the file reads beside this connection: two readers taking their locks at one
    // moment can find each other's for an instant, which must not read as another program's lock.
    sqlite3_busy_timeout(handle, kMomentaryLockWaitMs);
    // A read-only file (or medium) is opened for reading: everything but saving still works.
    readOnly = sqlite3_db_readonly(handle, "main") == 1;

    // Nothing is written before the file is known to be ours (or new).
    const DatabaseFileCheck check = CheckDatabaseFile(handle);
    switch (check.kind) {
        case DatabaseFileKind::OtherProgram:
        case DatabaseFileKind::Newer:
            return refuse(handle, check.reason + L" The file was left unchanged.", DatabaseTrouble::None);
        case DatabaseFileKind::Damaged:
        case DatabaseFileKind::Unreadable:
            return refuse(handle, check.reason + L" The file was left unchanged.", check.trouble);
        case DatabaseFileKind::Empty:
        case DatabaseFileKind::Marked:
        case DatabaseFileKind::Unmarked:
            break;
    }
    try {
        ApplyConnectionSettings(handle);
    } catch (const SqlError& failure) {
        // A lock, the disk or memory keep the program from using the file, as they keep it from reading it.
        const DatabaseTrouble trouble = TroubleOf(failure.code());
        if (trouble != DatabaseTrouble::None && trouble != DatabaseTrouble::Damaged)
            return refuse(handle, TroubleWords(trouble) + L" The file was left unchanged.", trouble);
        return refuse(handle, L"Its connection could not be set up: " + ToWide(failure.what()) + L".",
                      DatabaseTrouble::None);
    } catch (const std::exception& failure) {
        return refuse(handle, L"Its connection could not be set up: " + ToWide(failure.what()) + L".",
                      DatabaseTrouble::None);
    }

    // A damaged page anywhere must be found before anything is written: writing into such a file
    // (even the settings at close) can spread the damage over rows that are still sound. A file of
    // this schema is checked beside the window, all writes waiting for the check; one that needs
    // setting up (a new file has nothing to check) is checked here, before its set-up writes.
    const bool checkLater = check.kind == DatabaseFileKind::Marked && check.schemaVersion == kAppDatabaseSchemaVersion;
    if (!checkLater && check.kind != DatabaseFileKind::Empty) {
        const DamageFinding finding = FindDamage(handle);
        if (finding.trouble != DatabaseTrouble::None)
            return refuse(handle, finding.reason + L" The file was left unchanged.", finding.trouble);
    }
    if (!checkLater && !readOnly) {
        try {
            SetUpSchema(handle, check);
        } catch (const std::exception& failure) {
            return refuse(handle, L"Its tables could not be set up: " + ToWide(failure.what()) + L".",
                          DatabaseTrouble::None);
        }
    }
    db = handle;
    if (checkLater) {
        checkFinished = false;
        {
            std::lock_guard<std::mutex> state(checkMutex);
            checking = true;
        }
        try {
            checker = std::thread(&AppDatabase::CheckFile, this, utf8Path);
        } catch (const std::exception&) {
            // No thread to spare: checked here instead.
            checking = false;
            const DamageFinding finding = FindDamage(handle);
            db = nullptr;
            if (finding.trouble != DatabaseTrouble::None)
                return refuse(handle, finding.reason + L" The file was left unchanged.", finding.trouble);
            db = handle;
            checkFinished = true;
        }
    }
    return true;
}

void AppDatabase::CheckFile(std::string path) {
    // A connection of its own that can only read: the check never holds the operations' lock, and the
    // window's reads go on beside it.
    DamageFinding finding;
    sqlite3* reader = nullptr;
    if (sqlite3_open_v2(path.c_str(), &reader, SQLITE_OPEN_READONLY | SQLITE_OPEN_FULLMUTEX, kLongPathVfs) == SQLITE_OK) {
        sqlite3_busy_timeout(reader, kMomentaryLockWaitMs);
        finding = FindDamage(reader);
    } else {
        finding.trouble = TroubleOf(sqlite3_errcode(reader)) == DatabaseTrouble::None ? DatabaseTrouble::DiskError
                                                                                       : TroubleOf(sqlite3_errcode(reader));
        finding.reason = TroubleWords(finding.trouble);
    }
    sqlite3_close(reader);
    std::function<void()> callback;
    {
        std::lock_guard<std::mutex> state(checkMutex);
        trouble = finding.trouble;
        if (trouble != DatabaseTrouble::None) troubleReason = finding.reason + L" The file was left unchanged.";
        checking = false;
        callback = onFileChecked;
    }
    checkEnded.notify_all();
    {
        std::lock_guard<std::mutex> lock(mutex);
        FinishAfterCheck();
    }
    if (callback) callback();
}

void AppDatabase::FinishAfterCheck() {
    if (checkFinished) return;
    checkFinished = true;
    DatabaseTrouble found;
    {
        std::lock_guard<std::mutex> state(checkMutex);
        found = trouble;
    }
    if (found != DatabaseTrouble::None) {
        // Nothing is ever written into a file found damaged or unreadable (WritableConnection refuses);
        // reads go on until the owner closes it, so that a window drawn meanwhile does not fail.
        keptSettings.clear();
        return;
    }
    if (!db || readOnly) {
        keptSettings.clear();
        return;
    }
    const std::map<std::wstring, std::wstring> kept = std::move(keptSettings);
    keptSettings.clear();
    try {
        // Ensures every table (writes nothing in a file that has them all), then the kept settings.
        DatabaseFileCheck current;
        current.kind = DatabaseFileKind::Marked;
        current.schemaVersion = kAppDatabaseSchemaVersion;
        SetUpSchema(db, current);
        for (const auto& [key, value] : kept) {
            Statement upsert = PrepareOrThrow(
                db, "INSERT INTO app_settings(key, value) VALUES(?, ?) ON CONFLICT(key) DO UPDATE SET value = excluded.value");
            BindText(upsert, 1, ToUtf8(key));
            BindText(upsert, 2, ToUtf8(value));
            StepRow(upsert);
        }
    } catch (const std::exception&) {
        // A setting that cannot be saved is not worth more than the one saved next; the next
        // SetSetting reports such a failure to its caller.
    }
}

void AppDatabase::JoinChecker() {
    if (checker.joinable()) checker.join();
}

void AppDatabase::WaitForFileCheck() {
    std::unique_lock<std::mutex> state(checkMutex);
    checkEnded.wait(state, [this] { return !checking; });
}

bool AppDatabase::FileCheckDone() {
    std::lock_guard<std::mutex> state(checkMutex);
    return !checking;
}

void AppDatabase::SetFileCheckedCallback(std::function<void()> callback) {
    std::lock_guard<std::mutex> state(checkMutex);
    onFileChecked = std::move(callback);
}

sqlite3* AppDatabase::WritableConnection() {
    Connection();  // a closed database says so first
    {
        std::unique_lock<std::mutex> state(checkMutex);
        checkEnded.wait(state, [this] { return !checking; });
        if (trouble != DatabaseTrouble::None) {
            const std::wstring reason = troubleReason;
            state.unlock();
            FinishAfterCheck();
            throw std::runtime_error("Nothing was saved: app_data.db cannot be used. " + ToUtf8(reason));
        }
    }
    FinishAfterCheck();  // the kept settings first, so that this write comes after them
    return Connection();
}

bool AppDatabase::KeepWhileChecking(const std::wstring& key, const std::wstring& value) {
    {
        std::lock_guard<std::mutex> state(checkMutex);
        if (!checking) return false;
    }
    keptSettings[key] = value;
    return true;
}

void AppDatabase::Close() {
    JoinChecker();
    std::lock_guard<std::mutex> lock(mutex);
    FinishAfterCheck();
    if (db) {
        // Every statement is finalized by its owner before an operation returns, so the close cannot
        // find one open; v2 would still release the file once one was.
        sqlite3_close_v2(db);
        db = nullptr;
    }
}

DatabaseTrouble AppDatabase::Trouble() {
    std::lock_guard<std::mutex> state(checkMutex);
    return trouble;
}

std::wstring AppDatabase::TroubleReason() {
    std::lock_guard<std::mutex> state(checkMutex);
    return troubleReason;
}

bool AppDatabase::ReadOnly() {
    std::lock_guard<std::mutex> lock(mutex);
    return readOnly;
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
