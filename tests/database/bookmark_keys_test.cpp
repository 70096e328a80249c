// Saved profiles keep every URL exactly as it was given, while the duplicate test still compares
// NormalizeUrl keys (of the stored URLs too); files written by older releases, whose rows hold keys,
// keep working.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/chromium_bookmarks.h"
#include "core/file_io.h"
#include "core/portable_export.h"
#include "database/bookmark_key.h"
#include "tests/database/database_test_support.h"

namespace bm {
namespace {

using test::Bookmark;
using test::RawConnection;
using test::TempDir;

class BookmarkKeys : public test::DatabaseTest {
protected:
    std::vector<std::wstring> Urls(int64_t profile) {
        std::vector<std::wstring> urls;
        for (const BookmarkRecord& record : db.GetBookmarks(profile)) urls.push_back(record.url);
        return urls;
    }
};

// A single-quoted SQL literal of UTF-8 text.
std::string SqlLiteral(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c;
        if (c == '\'') quoted += '\'';
    }
    return quoted + "'";
}

const wchar_t kCaseSensitive[] = L"https://example.com/watch?v=dQw4w9WgXcQ&t=Ab/";

TEST_F(BookmarkKeys, UrlsAreStoredAsGivenAndDuplicatesStillCompareKeys) {
    const int64_t id = db.CreateProfile(L"P");
    ASSERT_EQ(db.AddBookmarks(id, {Bookmark(L"https://example.com/x", L"Stored"), Bookmark(kCaseSensitive, L"Video")}),
              2);
    int skipped = -1;
    EXPECT_EQ(db.AddBookmarks(id,
                              {
                                  Bookmark(L"HTTPS://Example.COM/x/", L"Other spelling"),  // key of a stored row
                                  Bookmark(L"https://example.com/WATCH?v=dqw4w9wgxcq&t=ab", L"Lower-cased video"),
                                  Bookmark(L"https://example.com/x/y", L"New"),
                              },
                              &skipped),
              1);
    EXPECT_EQ(skipped, 2);
    // In the order they were added.
    EXPECT_EQ(Urls(id), (std::vector<std::wstring>{L"https://example.com/x", kCaseSensitive, L"https://example.com/x/y"}));
    // The raw column holds the bytes that were given.
    EXPECT_EQ(raw().Int("SELECT count(*) FROM bookmarks WHERE url = " + SqlLiteral(ToUtf8(kCaseSensitive))), 1);
}

TEST_F(BookmarkKeys, KeyOfTheStoredBytesChangesExactlyWhatNormalizeUrlChanges) {
    const std::wstring urls[] = {
        L"https://Example.COM/Docs///",
        L"/",
        L"",
        L"HTTP://a.b/ ",
        L"https://\u00c4\u00d6\u00dc.example/\u00c9t\u00c9",    // Latin-1 capitals stay
        L"https://\u0130stanbul.example/I",                    // dotted capital I stays, ASCII I folds
        L"https://\u041f\u0420\u0418.example/",                // Cyrillic capitals stay
        L"https://\uff21\uff22.example/",                      // full-width capitals stay
        L"https://stra\u00dfe.example/\U0001F600/",            // sharp s and a character beyond the BMP
        L"https://x.example/it's/",
    };
    std::string key;
    for (const std::wstring& url : urls) {
        BookmarkKeyOf(ToUtf8(url), key);
        EXPECT_EQ(key, ToUtf8(NormalizeUrl(url))) << ToUtf8(url);
        // And what older releases stored as the key is its own key.
        BookmarkKeyOf(ToUtf8(NormalizeUrl(url)), key);
        EXPECT_EQ(key, ToUtf8(NormalizeUrl(url))) << ToUtf8(url);
    }
}

TEST_F(BookmarkKeys, NonAsciiCapitalsMakeDifferentKeysOnBothSides) {
    const int64_t id = db.CreateProfile(L"P");
    int skipped = -1;
    EXPECT_EQ(db.AddBookmarks(id,
                              {
                                  Bookmark(L"https://\u00c4b.example/\u00dc", L"Capitals"),
                                  Bookmark(L"https://\u00e4b.example/\u00fc", L"Small letters"),  // another key
                                  Bookmark(L"HTTPS://\u00c4B.EXAMPLE/\u00dc/", L"Same key as the first"),
                              },
                              &skipped),
              2);
    EXPECT_EQ(skipped, 1);
    EXPECT_EQ(Urls(id), (std::vector<std::wstring>{L"https://\u00c4b.example/\u00dc", L"https://\u00e4b.example/\u00fc"}));
}

TEST_F(BookmarkKeys, SnapshotAndRestoreCarryTheUrlsAsStored) {
    const int64_t id = db.CreateProfile(L"P");
    db.AddBookmarks(id, {Bookmark(kCaseSensitive, L"Video")});
    db.CreateSnapshot(id, L"Auto-backup before sync");
    EXPECT_NE(raw().Text("SELECT snapshot_json FROM profile_backups").find(ToUtf8(kCaseSensitive)), std::string::npos);
    const int64_t snapshot = db.ListSnapshots(id).front().id;
    db.DeleteBookmarksForProfile(id);
    std::wstring error;
    ASSERT_TRUE(db.RestoreSnapshot(snapshot, &error)) << ToUtf8(error);
    EXPECT_EQ(Urls(id), (std::vector<std::wstring>{kCaseSensitive}));
}

TEST_F(BookmarkKeys, BrowserToProfileToBrowserAndExportsKeepTheUrlByteForByte) {
    const std::wstring source = dir / L"Source Bookmarks";
    ASSERT_TRUE(WriteFileReplacing(source, R"({"checksum": "", "roots": {
        "bookmark_bar": {"children": [{"date_added": "13300000000000000", "id": "2", "name": "Video", "type": "url",
                                       "url": "https://example.com/watch?v=dQw4w9WgXcQ&t=Ab/"}],
                         "date_added": "0", "date_modified": "0", "id": "1", "name": "Bookmarks bar", "type": "folder"},
        "other": {"children": [], "date_added": "0", "date_modified": "0", "id": "3", "name": "Other bookmarks", "type": "folder"},
        "synced": {"children": [], "date_added": "0", "date_modified": "0", "id": "4", "name": "Mobile bookmarks", "type": "folder"}},
        "version": 1})",
                                   nullptr));
    std::wstring error;
    const std::vector<BookmarkRecord> read = ReadChromiumBookmarks(source, &error);
    ASSERT_EQ(read.size(), 1u) << ToUtf8(error);
    ASSERT_EQ(read[0].url, kCaseSensitive);

    const int64_t id = db.CreateProfile(L"P");
    ASSERT_EQ(db.AddBookmarks(id, read), 1);
    const std::vector<BookmarkRecord> stored = db.GetBookmarks(id);

    const std::wstring target = dir / L"Target Bookmarks";
    int skipped = 0;
    ASSERT_EQ(WriteChromiumBookmarks(target, stored, &skipped, &error, true), 1) << ToUtf8(error);
    const std::vector<BookmarkRecord> back = ReadChromiumBookmarks(target, &error);
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].url, kCaseSensitive);
    EXPECT_EQ(back[0].folder_path, read[0].folder_path);

    for (const wchar_t* name : {L"export.json", L"export.html"}) {
        const std::wstring file = dir / name;
        ASSERT_TRUE(ExportBookmarks(stored, file, &error)) << ToUtf8(error);
        std::string bytes;
        ASSERT_TRUE(ReadFileBytes(file, bytes));
        EXPECT_NE(bytes.find("https://example.com/watch?v=dQw4w9WgXcQ"), std::string::npos) << ToUtf8(name);
        const std::vector<BookmarkRecord> imported = ImportBookmarks(file, &error);
        ASSERT_EQ(imported.size(), 1u) << ToUtf8(name);
        EXPECT_EQ(imported[0].url, kCaseSensitive) << ToUtf8(name);
    }
}

// The tables and indexes as releases before this one created them; their rows hold the key as url.
const char kEarlierSchema[] = R"sql(
CREATE TABLE profiles (id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT NOT NULL UNIQUE,
    created_at INTEGER NOT NULL, updated_at INTEGER NOT NULL);
CREATE TABLE bookmarks (id INTEGER PRIMARY KEY AUTOINCREMENT,
    profile_id INTEGER NOT NULL REFERENCES profiles(id) ON DELETE CASCADE, url TEXT NOT NULL,
    title TEXT NOT NULL, folder_path TEXT NOT NULL DEFAULT '', date_added INTEGER NOT NULL);
CREATE INDEX idx_bookmarks_profile ON bookmarks(profile_id);
CREATE INDEX idx_bookmarks_url ON bookmarks(profile_id, url);
CREATE TABLE browser_configs (id INTEGER PRIMARY KEY AUTOINCREMENT, browser_key TEXT NOT NULL UNIQUE,
    custom_path TEXT NOT NULL DEFAULT '', bound_profile_id INTEGER NOT NULL DEFAULT 0);
CREATE TABLE app_settings (key TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE profile_backups (id INTEGER PRIMARY KEY AUTOINCREMENT,
    profile_id INTEGER NOT NULL REFERENCES profiles(id) ON DELETE CASCADE, created_at INTEGER NOT NULL,
    label TEXT NOT NULL DEFAULT '', bookmark_count INTEGER NOT NULL DEFAULT 0, snapshot_json TEXT NOT NULL);
CREATE INDEX idx_profile_backups_profile ON profile_backups(profile_id, created_at);
INSERT INTO profiles(id, name, created_at, updated_at) VALUES(1, 'Old', 100, 100);
INSERT INTO bookmarks(profile_id, url, title, folder_path, date_added) VALUES
    (1, 'https://example.com/x', 'Stored key', 'Bookmarks bar', 100),
    (1, 'https://example.com/watch?v=dqw4w9wgxcq', 'Stored lower-cased', 'Bookmarks bar/Videos', 100);
)sql";

TEST(EarlierDatabase, OpensUnchangedAndMergesAgainstItsStoredKeys) {
    TempDir dir;
    const std::wstring path = dir / L"app_data.db";
    {
        sqlite3* conn = nullptr;
        ASSERT_EQ(sqlite3_open_v2(ToUtf8(path).c_str(), &conn, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr),
                  SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(conn, kEarlierSchema, nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(conn);
    }
    AppDatabase db;
    ASSERT_TRUE(db.Open(path));
    ASSERT_EQ(db.ListProfiles().size(), 1u);
    const std::vector<BookmarkRecord> before = db.GetBookmarks(1);
    ASSERT_EQ(before.size(), 2u);
    EXPECT_EQ(before[0].url, L"https://example.com/x");

    int skipped = -1;
    EXPECT_EQ(db.AddBookmarks(1,
                              {
                                  Bookmark(L"HTTPS://Example.COM/x/", L"Same key"),
                                  Bookmark(kCaseSensitive, L"New, kept as given"),
                                  Bookmark(L"https://example.com/watch?v=dQw4w9WgXcQ", L"Same key as the stored one"),
                              },
                              &skipped),
              1);
    EXPECT_EQ(skipped, 2);
    std::vector<std::wstring> urls;
    for (const BookmarkRecord& record : db.GetBookmarks(1)) urls.push_back(record.url);
    EXPECT_EQ(urls, (std::vector<std::wstring>{L"https://example.com/x", L"https://example.com/watch?v=dqw4w9wgxcq",
                                               kCaseSensitive}));
    db.Close();

    RawConnection raw(path);
    EXPECT_EQ(raw.Text("SELECT group_concat(name) FROM sqlite_master WHERE tbl_name = 'bookmarks' AND type = 'index'"),
              "idx_bookmarks_profile");
    EXPECT_EQ(raw.Text("PRAGMA integrity_check"), "ok");
}

}  // namespace
}  // namespace bm
