// The schema a file gets: only indexes that some statement uses, each statement served by one, and
// a file of the previous schema version brought up to this one with every row kept.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "database/bookmark_queries.h"
#include "tests/database/database_test_support.h"

namespace bm {
namespace {

using test::Bookmark;
using test::RawConnection;
using test::TempDir;

// SQLite's plan of `sql` on the file at `path`, one line per step.
std::string QueryPlan(const std::wstring& path, const std::string& sql) {
    sqlite3* conn = nullptr;
    EXPECT_EQ(sqlite3_open_v2(ToUtf8(path).c_str(), &conn, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* plan = nullptr;
    std::string details;
    if (sqlite3_prepare_v2(conn, ("EXPLAIN QUERY PLAN " + sql).c_str(), -1, &plan, nullptr) != SQLITE_OK)
        details = std::string("prepare failed: ") + sqlite3_errmsg(conn);
    while (plan && sqlite3_step(plan) == SQLITE_ROW)
        details += std::string(reinterpret_cast<const char*>(sqlite3_column_text(plan, 3))) + "\n";
    sqlite3_finalize(plan);
    sqlite3_close(conn);
    return details;
}

class Schema : public test::DatabaseTest {};

// Every statement on a profile's rows and snapshots searches an index (never a walk over the whole
// table, never a sort of its own), and every index of those tables serves one of them: an index that
// no statement uses would only slow every write.
TEST_F(Schema, EveryStatementSearchesAnIndexAndEveryIndexServesAStatement) {
    // Rows of two profiles; the program never runs ANALYZE, so the planner has no statistics either.
    const int64_t id = db.CreateProfile(L"P");
    const int64_t other = db.CreateProfile(L"Other");
    std::vector<BookmarkRecord> records;
    for (int i = 0; i < 400; ++i)
        records.push_back(Bookmark(L"https://site.example/" + std::to_wstring(i), L"T" + std::to_wstring(i % 7),
                                   L"Bookmarks bar/F" + std::to_wstring(i % 13)));
    db.AddBookmarks(id, records);
    db.AddBookmarks(other, records);
    db.CreateSnapshot(id, L"Auto-backup before sync");

    const struct {
        const char* sql;
        const char* index;  // the index the plan must search
    } statements[] = {
        {kProfileRowsSql, "idx_bookmarks_profile"},
        {kProfileTextsSql, "idx_bookmarks_profile"},
        {kSnapshotRowsSql, "idx_bookmarks_profile"},
        {kProfileUrlsSql, "idx_bookmarks_profile"},
        {kCountProfileRowsSql, "idx_bookmarks_profile"},
        {kDeleteProfileRowsSql, "idx_bookmarks_profile"},
        {kListSnapshotsSql, "idx_profile_backups_profile"},
        {kPruneSnapshotsSql, "idx_profile_backups_profile"},
    };
    std::set<std::string> used;
    for (const auto& s : statements) {
        SCOPED_TRACE(s.sql);
        const std::string plan = QueryPlan(path, s.sql);
        EXPECT_NE(plan.find(std::string("INDEX ") + s.index + " (profile_id=?"), std::string::npos) << plan;
        EXPECT_EQ(plan.find("SCAN "), std::string::npos) << plan;
        EXPECT_EQ(plan.find("TEMP B-TREE"), std::string::npos) << plan;
        used.insert(s.index);
    }

    std::set<std::string> indexes;
    RawConnection& conn = raw();
    const std::string names = conn.Text(
        "SELECT group_concat(name, ',') FROM sqlite_master WHERE type = 'index' AND tbl_name IN ('bookmarks', "
        "'profile_backups') AND sql IS NOT NULL");
    for (size_t start = 0; start < names.size();) {
        size_t end = names.find(',', start);
        if (end == std::string::npos) end = names.size();
        indexes.insert(names.substr(start, end - start));
        start = end + 1;
    }
    EXPECT_EQ(indexes, used);

    // A profile's rows come in the order they were added, without the sort the plan leaves out.
    const auto rows = db.GetBookmarks(id);
    ASSERT_EQ(rows.size(), records.size());
    for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(rows[i].url, records[i].url) << i;
}

// The schema as the previous version (1) of this program creates it, marks included.
const char kVersion1Schema[] = R"sql(
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
CREATE INDEX IF NOT EXISTS idx_bookmarks_url_key ON bookmarks(profile_id, lower(rtrim(url, '/')));
PRAGMA application_id = 1332901484;
PRAGMA user_version = 1;
)sql";

// Rows as that version stores them: URLs as given and, from before it, lower-cased keys; snapshots
// of both profiles; settings and a browser's configuration.
const char kVersion1Rows[] = R"sql(
INSERT INTO profiles(id, name, created_at, updated_at) VALUES(1, 'Work', 100, 200), (2, 'Home', 300, 300);
INSERT INTO bookmarks(profile_id, url, title, folder_path, date_added) VALUES
    (1, 'https://zeta.example/Path', 'Zeta', 'Bookmarks bar', 101),
    (1, 'https://alpha.example', 'alpha', 'Bookmarks bar', 102),
    (2, 'https://home.example/', 'Home page', 'Other bookmarks', 301),
    (1, 'https://yak.example', 'Yak', 'Bookmarks bar/Work', 103),
    (1, 'https://example.com/watch?v=dqw4w9wgxcq', 'Stored as its key', 'Bookmarks bar/Work', 104),
    (2, 'https://caf' || char(233) || '.example', 'Caf' || char(233), 'Other bookmarks', 302);
INSERT INTO profile_backups(profile_id, created_at, label, bookmark_count, snapshot_json) VALUES
    (1, 150, 'Auto-backup before sync', 1,
     '[{"date_added":101,"folder_path":"Bookmarks bar","title":"Zeta","url":"https://zeta.example/Path"}]'),
    (2, 310, 'Auto-backup before import', 0, '[]');
INSERT INTO app_settings(key, value) VALUES('theme', 'light'), ('defaultProfileId', '2');
INSERT INTO browser_configs(browser_key, custom_path, bound_profile_id) VALUES('edge', 'C:\Edge\Bookmarks', 1);
)sql";

// Every row of every table, as text, in row id order.
std::map<std::string, std::string> AllRows(RawConnection& conn) {
    std::map<std::string, std::string> rows;
    for (const char* query : {
             "SELECT group_concat(id || '|' || name || '|' || created_at || '|' || updated_at, '\n') FROM "
             "(SELECT * FROM profiles ORDER BY id)",
             "SELECT group_concat(id || '|' || profile_id || '|' || url || '|' || title || '|' || folder_path || '|' || "
             "date_added, '\n') FROM (SELECT * FROM bookmarks ORDER BY id)",
             "SELECT group_concat(id || '|' || profile_id || '|' || created_at || '|' || label || '|' || bookmark_count "
             "|| '|' || snapshot_json, '\n') FROM (SELECT * FROM profile_backups ORDER BY id)",
             "SELECT group_concat(key || '|' || value, '\n') FROM (SELECT * FROM app_settings ORDER BY key)",
             "SELECT group_concat(browser_key || '|' || custom_path || '|' || bound_profile_id, '\n') FROM "
             "(SELECT * FROM browser_configs ORDER BY id)",
         })
        rows[query] = conn.Text(query);
    return rows;
}

TEST(SchemaUpgrade, FileOfThePreviousVersionOpensIsBroughtUpToDateAndKeepsEveryRow) {
    TempDir dir;
    const std::wstring path = dir / L"app_data.db";
    std::map<std::string, std::string> before;
    {
        sqlite3* conn = nullptr;
        ASSERT_EQ(sqlite3_open_v2(ToUtf8(path).c_str(), &conn, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr),
                  SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(conn, kVersion1Schema, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(conn);
        ASSERT_EQ(sqlite3_exec(conn, kVersion1Rows, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(conn);
        sqlite3_close(conn);
        RawConnection raw(path);
        before = AllRows(raw);
    }

    {
        AppDatabase db;
        std::wstring error;
        ASSERT_TRUE(db.Open(path, &error)) << ToUtf8(error);
    }
    {
        RawConnection raw(path);
        EXPECT_EQ(raw.Int("PRAGMA user_version;"), 2);
        EXPECT_EQ(raw.Int("PRAGMA application_id;"), 1332901484);
        EXPECT_EQ(raw.Text("SELECT group_concat(name, ',') FROM (SELECT name FROM sqlite_master WHERE type = 'index' "
                           "AND sql IS NOT NULL ORDER BY name)"),
                  "idx_bookmarks_profile,idx_profile_backups_profile");
        EXPECT_EQ(AllRows(raw), before);
        EXPECT_EQ(raw.Text("PRAGMA integrity_check;"), "ok");
    }

    // The upgraded file works as a new one: in the order the rows were added, duplicates found by the
    // keys of the stored URLs, its snapshots restored.
    AppDatabase db;
    ASSERT_TRUE(db.Open(path));
    ASSERT_EQ(db.ListProfiles().size(), 2u);
    std::vector<std::wstring> titles;
    for (const BookmarkRecord& record : db.GetBookmarks(1)) titles.push_back(record.title);
    EXPECT_EQ(titles, (std::vector<std::wstring>{L"Zeta", L"alpha", L"Yak", L"Stored as its key"}));
    int skipped = -1;
    EXPECT_EQ(db.AddBookmarks(1,
                              {Bookmark(L"https://ZETA.example/Path/", L"Same key"),
                               Bookmark(L"https://example.com/watch?v=dQw4w9WgXcQ", L"Same key as the stored one"),
                               Bookmark(L"https://zeta.example/path/more", L"New")},
                              &skipped),
              1);
    EXPECT_EQ(skipped, 2);
    ASSERT_EQ(db.ListSnapshots(1).size(), 1u);
    std::wstring error;
    ASSERT_TRUE(db.RestoreSnapshot(db.ListSnapshots(1)[0].id, &error)) << ToUtf8(error);
    ASSERT_EQ(db.GetBookmarks(1).size(), 1u);
    EXPECT_EQ(db.GetBookmarks(1)[0].url, L"https://zeta.example/Path");
    EXPECT_EQ(db.GetBookmarks(2).size(), 2u);
    EXPECT_EQ(db.GetSetting(L"theme", L""), L"light");
    EXPECT_EQ(db.GetDefaultProfileId(), 2);
    EXPECT_EQ(db.GetBrowserConfig(L"edge").custom_path, L"C:\\Edge\\Bookmarks");
}

}  // namespace
}  // namespace bm
