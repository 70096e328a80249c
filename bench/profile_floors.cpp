// Floors of the saved-profile operations over app_data.db.
#include <ctime>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
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

// Length of the well-formed UTF-8 sequence at the start of [p, end), or 0 (overlong forms, surrogates
// and code points beyond U+10FFFF are not well-formed).
size_t SequenceLength(const unsigned char* p, const unsigned char* end) {
    const unsigned char c = p[0];
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) length = 2;
    else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        if (c == 0xE0) low = 0xA0;
        if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        if (c == 0xF0) low = 0x90;
        if (c == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (static_cast<size_t>(end - p) < length || p[1] < low || p[1] > high) return 0;
    for (size_t i = 2; i < length; ++i)
        if (p[i] < 0x80 || p[i] > 0xBF) return 0;
    return length;
}

// `text` as a JSON string: runs of plain bytes copied at once, the short escapes, \u00xx for the other
// control characters. False when the text is not UTF-8.
bool AppendJsonString(std::string& out, std::string_view text) {
    static const char kHex[] = "0123456789abcdef";
    out.push_back('"');
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        const auto* run = p;
        while (p < end && *p >= 0x20 && *p < 0x80 && *p != '"' && *p != '\\') ++p;
        out.append(reinterpret_cast<const char*>(run), static_cast<size_t>(p - run));
        if (p == end) break;
        if (*p >= 0x80) {
            const size_t length = SequenceLength(p, end);
            if (length == 0) return false;
            out.append(reinterpret_cast<const char*>(p), length);
            p += length;
            continue;
        }
        out.push_back('\\');
        switch (*p) {
            case '"': out.push_back('"'); break;
            case '\\': out.push_back('\\'); break;
            case '\b': out.push_back('b'); break;
            case '\f': out.push_back('f'); break;
            case '\n': out.push_back('n'); break;
            case '\r': out.push_back('r'); break;
            case '\t': out.push_back('t'); break;
            default:
                out.append("u00");
                out.push_back(kHex[*p >> 4]);
                out.push_back(kHex[*p & 0xF]);
        }
        ++p;
    }
    out.push_back('"');
    return true;
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
    // The text written straight from the engine's buffers (as the program writes it): each row's
    // members in key order, only what JSON must escape escaped, every text checked to be UTF-8 JSON can
    // hold; then the insert and the prune to the newest 20.
    std::string text = "[";
    int64_t count = 0;
    {
        Statement select = PrepareOrThrow(db, "SELECT url, title, folder_path, date_added FROM bookmarks WHERE profile_id = ? ORDER BY id");
        BindInt64(select, 1, profileId);
        sqlite3_stmt* row = select.get();
        auto column = [row](int i) {
            return std::string_view(reinterpret_cast<const char*>(sqlite3_column_text(row, i)),
                                    static_cast<size_t>(sqlite3_column_bytes(row, i)));
        };
        while (StepRow(select)) {
            if (count > 0) text.push_back(',');
            text.append("{\"date_added\":");
            text.append(std::to_string(sqlite3_column_int64(row, 3)));
            text.append(",\"folder_path\":");
            bool ok = AppendJsonString(text, column(2));
            text.append(",\"title\":");
            ok = AppendJsonString(text, column(1)) && ok;
            text.append(",\"url\":");
            ok = AppendJsonString(text, column(0)) && ok;
            text.push_back('}');
            Require(ok, "snapshot text (a bookmark that is not UTF-8)");
            ++count;
        }
    }
    text.push_back(']');
    Statement insert = PrepareOrThrow(
        db, "INSERT INTO profile_backups(profile_id, created_at, label, bookmark_count, snapshot_json) VALUES(?, ?, ?, ?, ?)");
    BindInt64(insert, 1, profileId);
    BindInt64(insert, 2, Now());
    BindText(insert, 3, label);
    BindInt64(insert, 4, count);
    BindText(insert, 5, text);
    StepRow(insert);
    Statement prune = PrepareOrThrow(db,
                                     "DELETE FROM profile_backups WHERE profile_id = ? AND id NOT IN (SELECT id FROM "
                                     "profile_backups WHERE profile_id = ? ORDER BY created_at DESC LIMIT 20)");
    BindInt64(prune, 1, profileId);
    BindInt64(prune, 2, profileId);
    StepRow(prune);
}

void RestoreSnapshotFloor(sqlite3* db, int64_t snapshotId) {
    // Every step of a restore with every check it makes: the look-up, the parse, the text held to be
    // a list of the stored count of records whose members have their types; then in one transaction
    // the automatic snapshot, the delete, the inserts (one statement reused) and the profile's time.
    int64_t profileId = 0;
    int64_t storedCount = 0;
    std::string text;
    {
        Statement select = PrepareOrThrow(db, "SELECT profile_id, bookmark_count, snapshot_json FROM profile_backups WHERE id = ?");
        BindInt64(select, 1, snapshotId);
        Require(StepRow(select), "snapshot look-up");
        profileId = sqlite3_column_int64(select.get(), 0);
        storedCount = sqlite3_column_int64(select.get(), 1);
        text = Utf8Column(select.get(), 2);
    }
    const json parsed = json::parse(text, nullptr, true, false);
    text = std::string();
    Require(parsed.is_array() && static_cast<int64_t>(parsed.size()) == storedCount, "snapshot list");
    for (const json& element : parsed) {
        bool ok = element.is_object();
        for (const char* key : {"url", "title", "folder_path"}) {
            if (!ok) break;
            const auto member = element.find(key);
            ok = member != element.end() && member->is_string();
        }
        const auto date = ok ? element.find("date_added") : element.end();
        Require(ok && date != element.end() && date->is_number(), "snapshot record");
    }

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
