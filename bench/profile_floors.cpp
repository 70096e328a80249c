// Floors of the saved-profile operations over app_data.db.
#include <ctime>
#include <nlohmann/json.hpp>
#include <string>
#include <unordered_set>

#include "bench/floors.h"
#include "core/sql_statement.h"
#include "database/bookmark_key.h"

namespace bm::bench {
namespace {

using nlohmann::json;

int64_t Now() { return static_cast<int64_t>(std::time(nullptr)); }

void TouchProfile(sqlite3* db, int64_t profileId) {
    Statement update = PrepareOrThrow(db, "UPDATE profiles SET updated_at = ? WHERE id = ?");
    BindInt64(update, 1, Now());
    BindInt64(update, 2, profileId);
    StepRow(update);
}

// The inserts of AddBookmarks inside an open transaction: the keys of the stored URLs in a hash set,
// each record's key tested against it and the URL as given inserted, one statement prepared once.
int InsertNew(sqlite3* db, int64_t profileId, const std::vector<BookmarkRecord>& records) {
    std::unordered_set<std::string> keys;
    std::string key;
    {
        Statement stored = PrepareOrThrow(db, "SELECT url FROM bookmarks WHERE profile_id = ?");
        BindInt64(stored, 1, profileId);
        while (StepRow(stored)) {
            BookmarkKeyOf(ColumnTextView(stored, 0), key);
            keys.insert(key);
        }
    }
    Statement insert = PrepareOrThrow(
        db, "INSERT INTO bookmarks(profile_id, url, title, folder_path, date_added) VALUES(?, ?, ?, ?, ?)");
    BindInt64(insert, 1, profileId);
    int inserted = 0;
    for (const BookmarkRecord& record : records) {
        if (!keys.insert(ToUtf8(NormalizeUrl(record.url))).second) continue;
        BindText(insert, 2, ToUtf8(record.url));
        BindText(insert, 3, ToUtf8(record.title));
        BindText(insert, 4, ToUtf8(record.folder_path));
        BindInt64(insert, 5, record.date_added != 0 ? record.date_added : Now());
        StepRow(insert);
        sqlite3_reset(insert.get());
        ++inserted;
    }
    return inserted;
}

}  // namespace

sqlite3* OpenProfileDatabase(const std::wstring& path) {
    sqlite3* db = nullptr;
    Require(sqlite3_open_v2(ToUtf8(path).c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK, "open app_data");
    // The program's own connection settings.
    ExecSql(db, "PRAGMA journal_mode=DELETE;");
    ExecSql(db, "PRAGMA foreign_keys=ON;");
    ExecSql(db, "PRAGMA synchronous=FULL;");
    ExecSql(db, kWriteCacheSizePragma);
    return db;
}

std::vector<BookmarkRecord> GetBookmarksFloor(sqlite3* db, int64_t profileId) {
    // The same ordered query, each text converted once from the engine's buffer into its record.
    Statement select = PrepareOrThrow(db,
                                      "SELECT id, profile_id, url, title, folder_path, date_added FROM bookmarks "
                                      "WHERE profile_id = ? ORDER BY id");
    BindInt64(select, 1, profileId);
    std::vector<BookmarkRecord> records;
    while (StepRow(select)) {
        BookmarkRecord& record = records.emplace_back();
        record.id = sqlite3_column_int64(select.get(), 0);
        record.profile_id = sqlite3_column_int64(select.get(), 1);
        record.url = WideColumn(select.get(), 2);
        record.title = WideColumn(select.get(), 3);
        record.folder_path = WideColumn(select.get(), 4);
        record.date_added = sqlite3_column_int64(select.get(), 5);
    }
    return records;
}

int AddBookmarksFloor(sqlite3* db, int64_t profileId, const std::vector<BookmarkRecord>& records) {
    // One transaction; the duplicate test and the insert reused for every record.
    ExecSql(db, "BEGIN IMMEDIATE;");
    const int inserted = InsertNew(db, profileId, records);
    ExecSql(db, "COMMIT;");
    return inserted;
}

void CreateSnapshotFloor(sqlite3* db, int64_t profileId, const char* label) {
    // The rows read as UTF-8, each element's members assigned and the element moved into the array,
    // one compact dump, the insert and the prune to the newest 20.
    json list = json::array();
    json::array_t& elements = list.get_ref<json::array_t&>();
    {
        Statement select = PrepareOrThrow(db, "SELECT url, title, folder_path, date_added FROM bookmarks WHERE profile_id = ? ORDER BY id");
        BindInt64(select, 1, profileId);
        while (StepRow(select)) {
            json element(json::value_t::object);
            element["url"] = Utf8Column(select.get(), 0);
            element["title"] = Utf8Column(select.get(), 1);
            element["folder_path"] = Utf8Column(select.get(), 2);
            element["date_added"] = sqlite3_column_int64(select.get(), 3);
            elements.push_back(std::move(element));
        }
    }
    Statement insert = PrepareOrThrow(
        db, "INSERT INTO profile_backups(profile_id, created_at, label, bookmark_count, snapshot_json) VALUES(?, ?, ?, ?, ?)");
    BindInt64(insert, 1, profileId);
    BindInt64(insert, 2, Now());
    BindText(insert, 3, label);
    BindInt64(insert, 4, static_cast<int64_t>(elements.size()));
    BindText(insert, 5, list.dump());
    StepRow(insert);
    Statement prune = PrepareOrThrow(db,
                                     "DELETE FROM profile_backups WHERE profile_id = ? AND id NOT IN (SELECT id FROM "
                                     "profile_backups WHERE profile_id = ? ORDER BY created_at DESC LIMIT 20)");
    BindInt64(prune, 1, profileId);
    BindInt64(prune, 2, profileId);
    StepRow(prune);
}

void RestoreSnapshotFloor(sqlite3* db, int64_t snapshotId) {
    // Every step of a restore: the look-up, the parse, then in one transaction the automatic
    // snapshot, the delete, the inserts (one statement reused) and the profile's time.
    int64_t profileId = 0;
    std::string text;
    {
        Statement select = PrepareOrThrow(db, "SELECT profile_id, snapshot_json FROM profile_backups WHERE id = ?");
        BindInt64(select, 1, snapshotId);
        Require(StepRow(select), "snapshot look-up");
        profileId = sqlite3_column_int64(select.get(), 0);
        text = Utf8Column(select.get(), 1);
    }
    const json parsed = json::parse(text);

    ExecSql(db, "BEGIN IMMEDIATE;");
    CreateSnapshotFloor(db, profileId, "Auto-backup before restore");
    {
        Statement remove = PrepareOrThrow(db, "DELETE FROM bookmarks WHERE profile_id = ?");
        BindInt64(remove, 1, profileId);
        StepRow(remove);
        Statement insert = PrepareOrThrow(
            db, "INSERT INTO bookmarks(profile_id, url, title, folder_path, date_added) VALUES(?, ?, ?, ?, ?)");
        BindInt64(insert, 1, profileId);
        for (const json& element : parsed) {
            BindText(insert, 2, element["url"].get_ref<const std::string&>());
            BindText(insert, 3, element["title"].get_ref<const std::string&>());
            BindText(insert, 4, element["folder_path"].get_ref<const std::string&>());
            BindInt64(insert, 5, element["date_added"].get<int64_t>());
            StepRow(insert);
            sqlite3_reset(insert.get());
        }
        TouchProfile(db, profileId);
    }
    ExecSql(db, "COMMIT;");
}

void ProfileCopyFloor(sqlite3* db, int64_t fromProfileId, int64_t toProfileId) {
    // The copy job's steps: load the source, snapshot the destination, then in one transaction
    // empty it, insert with the duplicate test and set its time.
    const std::vector<BookmarkRecord> records = GetBookmarksFloor(db, fromProfileId);
    ExecSql(db, "BEGIN IMMEDIATE;");
    CreateSnapshotFloor(db, toProfileId, "Auto-backup before REPLACE sync");
    ExecSql(db, "COMMIT;");
    ExecSql(db, "BEGIN IMMEDIATE;");
    {
        Statement remove = PrepareOrThrow(db, "DELETE FROM bookmarks WHERE profile_id = ?");
        BindInt64(remove, 1, toProfileId);
        StepRow(remove);
    }
    InsertNew(db, toProfileId, records);
    TouchProfile(db, toProfileId);
    ExecSql(db, "COMMIT;");
}

}  // namespace bm::bench
