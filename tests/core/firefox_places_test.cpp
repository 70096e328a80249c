#include "core/firefox_places.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <windows.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <ctime>
#include <set>
#include <tuple>

#include "core/chromium_bookmarks.h"
#include "core/places_url.h"
#include "core/sql_statement.h"
#include "core/sqlite_file_copy.h"
#include "tests/support/firefox_fixture.h"
#include "tests/support/temp_dir.h"

namespace bm {
namespace {

using test::FirefoxPlaces;
using test::kPlacesMenuId;
using test::kPlacesMobileId;
using test::kPlacesRootId;
using test::kPlacesTagsId;
using test::kPlacesToolbarId;
using test::kPlacesUnfiledId;

BookmarkRecord Rec(const std::wstring& url, const std::wstring& title, const std::wstring& folder,
                   int64_t dateAdded = 0) {
    BookmarkRecord r;
    r.url = url;
    r.title = title;
    r.folder_path = folder;
    r.date_added = dateAdded;
    return r;
}

using Triple = std::tuple<std::wstring, std::wstring, std::wstring>;

std::set<Triple> Triples(const std::vector<BookmarkRecord>& records) {
    std::set<Triple> out;
    for (const auto& r : records) out.emplace(r.url, r.title, r.folder_path);
    return out;
}

std::wstring PathOf(const std::vector<BookmarkRecord>& records, const std::wstring& url) {
    for (const auto& r : records) {
        if (r.url == url) return r.folder_path;
    }
    return L"<missing>";
}

class PlacesTest : public ::testing::Test {
protected:
    void Create(const test::PlacesFixtureOptions& options = {}) { test::CreateFirefoxPlaces(path, options); }

    std::vector<BookmarkRecord> Read() {
        std::wstring error;
        auto records = ReadFirefoxBookmarks(path, &error);
        EXPECT_EQ(error, L"");
        return records;
    }

    int Write(const std::vector<BookmarkRecord>& items, bool replace, int* skipped = nullptr,
              std::wstring* error = nullptr) {
        int localSkipped = -7;
        std::wstring localError;
        const int result = WriteFirefoxBookmarks(path, items, skipped ? skipped : &localSkipped,
                                                 error ? error : &localError, replace);
        if (!error) {
            EXPECT_EQ(localError, L"");
        }
        return result;
    }

    test::TempDir dir;
    std::wstring path = dir / L"places.sqlite";
};

// ---------------------------------------------------------------- reader

TEST_F(PlacesTest, ReaderBuildsFolderPathsCarriesDatesAndLeavesTagEntriesOut) {
    Create();
    {
        FirefoxPlaces places(path);
        places.AddBookmark(kPlacesToolbarId, "https://toolbar.example/", "Toolbar");
        const int64_t dev = places.AddFolder(kPlacesMenuId, "Dev");
        const int64_t tools = places.AddFolder(dev, "Tools");
        places.AddBookmark(tools, "https://menu.example/", "Menu");
        places.AddBookmark(kPlacesUnfiledId, "https://unfiled.example/", "Unfiled");
        places.AddBookmark(kPlacesMobileId, "https://mobile.example/", "Mobile");
        const int64_t tag = places.AddFolder(kPlacesTagsId, "news");
        places.AddBookmark(tag, "https://tagged.example/", "");
        places.AddTag("https://menu.example/", "dev");
        places.AddBookmark(kPlacesRootId, "https://root.example/", "At root");
        const int64_t untitled = places.AddFolder(kPlacesToolbarId, "");
        places.AddBookmark(untitled, "https://untitled.example/", "x");
    }
    {
        FirefoxPlaces places(path);
        places.Exec("UPDATE moz_bookmarks SET dateAdded = 1234567891234567 WHERE title = 'Menu'");
        places.Exec("UPDATE moz_bookmarks SET dateAdded = NULL WHERE title = 'Mobile'");
    }
    const auto records = Read();
    ASSERT_EQ(records.size(), 6u);
    EXPECT_EQ(PathOf(records, L"https://toolbar.example/"), L"Bookmarks Toolbar");
    EXPECT_EQ(PathOf(records, L"https://menu.example/"), L"Bookmarks Menu/Dev/Tools");
    EXPECT_EQ(PathOf(records, L"https://unfiled.example/"), L"Other Bookmarks");
    EXPECT_EQ(PathOf(records, L"https://mobile.example/"), L"Mobile Bookmarks");
    // A tag entry labels a URL; it is no bookmark of its own.
    EXPECT_EQ(PathOf(records, L"https://tagged.example/"), L"<missing>");
    EXPECT_EQ(std::count_if(records.begin(), records.end(),
                            [](const BookmarkRecord& r) { return r.url == L"https://menu.example/"; }),
              1);
    EXPECT_EQ(PathOf(records, L"https://root.example/"), L"");
    EXPECT_EQ(PathOf(records, L"https://untitled.example/"), L"Bookmarks Toolbar/");
    for (const auto& r : records) {
        EXPECT_EQ(r.id, 0);
        EXPECT_EQ(r.profile_id, 0);
        // dateAdded in microseconds becomes seconds; no date stays 0.
        const int64_t expected = r.url == L"https://menu.example/"     ? 1234567891
                                 : r.url == L"https://mobile.example/" ? 0
                                                                       : 1700000000;
        EXPECT_EQ(r.date_added, expected) << ToUtf8(r.url);
        if (r.url == L"https://menu.example/") {
            EXPECT_EQ(r.title, L"Menu");
        }
    }
}

TEST_F(PlacesTest, ReaderGivesEveryFolderChainWholeUpToTheBoundOfTheOtherStores) {
    struct Case {
        int levels;
        bool read;
    };
    for (const Case c : {Case{70, true}, Case{1000, true}, Case{1001, false}}) {
        SCOPED_TRACE(c.levels);
        test::TempDir local;
        path = local / L"places.sqlite";
        Create();
        std::vector<std::wstring> expected{L"Bookmarks Menu"};
        {
            FirefoxPlaces places(path);
            places.Exec("BEGIN;");
            int64_t parent = kPlacesMenuId;
            for (int i = 1; i <= c.levels; ++i) {
                parent = places.AddFolder(parent, "f" + std::to_string(i));
                expected.push_back(L"f" + std::to_wstring(i));
            }
            places.AddBookmark(parent, "https://deep.example/", "Deep");
            places.AddBookmark(kPlacesMenuId, "https://shallow.example/", "Shallow");
            places.Exec("COMMIT;");
        }
        std::wstring error;
        const auto records = ReadFirefoxBookmarks(path, &error);
        if (c.read) {
            EXPECT_EQ(error, L"");
            ASSERT_EQ(records.size(), 2u);
            EXPECT_EQ(PathOf(records, L"https://deep.example/"), JoinPath(expected));
            EXPECT_EQ(PathOf(records, L"https://shallow.example/"), L"Bookmarks Menu");
        } else {
            EXPECT_TRUE(records.empty());
            EXPECT_EQ(error, L"places.sqlite nests folders more than 1000 levels deep, deeper than any browser "
                             L"writes; nothing was read from it.");
        }
    }
}

// A small crafted file must not take gigabytes: every record carries its folder's path.
TEST_F(PlacesTest, FolderPathsLongerThanAnyBrowserKeepsAreRefusedNotCopiedIntoEveryRecord) {
    struct Case {
        const char* name;
        int levels;
        size_t nameLength;
        int bookmarks;
        bool read;
    };
    for (const Case c : {Case{"long names, few links", 15, 4000, 3, true},
                         Case{"one path over the bound", 17, 4000, 1, false},
                         Case{"paths within the bound, copies beyond the file's size", 15, 4000, 2000, false}}) {
        SCOPED_TRACE(c.name);
        test::TempDir local;
        path = local / L"places.sqlite";
        Create();
        {
            FirefoxPlaces places(path);
            places.Exec("BEGIN;");
            int64_t parent = kPlacesMenuId;
            for (int i = 0; i < c.levels; ++i) parent = places.AddFolder(parent, std::string(c.nameLength, char('a' + i)));
            for (int i = 0; i < c.bookmarks; ++i)
                places.AddBookmark(parent, "https://deep.example/" + std::to_string(i), "Deep");
            places.Exec("COMMIT;");
        }
        std::wstring error;
        const auto records = ReadFirefoxBookmarks(path, &error);
        if (c.read) {
            EXPECT_EQ(error, L"");
            EXPECT_EQ(records.size(), static_cast<size_t>(c.bookmarks));
        } else {
            EXPECT_TRUE(records.empty());
            EXPECT_EQ(error, L"places.sqlite has folder paths longer than any browser keeps (over 65536 characters, "
                             L"or more in all than the file could hold); nothing was read from it.");
        }
    }
}

TEST_F(PlacesTest, ABookmarkWithoutItsPlaceInTheTreeOrItsPageIsDamageNotADrop) {
    struct Case {
        const char* what;
        std::function<void(FirefoxPlaces&)> damage;
    };
    const std::string insert = "INSERT INTO moz_bookmarks(type, fk, parent, position, title, guid) VALUES(";
    const Case cases[] = {
        {"two folders that are each other's parent",
         [](FirefoxPlaces& places) {
             const int64_t a = places.AddFolder(kPlacesUnfiledId, "A");
             const int64_t b = places.AddFolder(a, "B");
             places.Exec("UPDATE moz_bookmarks SET parent = " + std::to_string(b) + " WHERE id = " + std::to_string(a));
             places.AddBookmark(b, "https://cycle.example/", "Cycle");
         }},
        {"the top root inside its own tree",
         [](FirefoxPlaces& places) {
             places.Exec("UPDATE moz_bookmarks SET parent = " + std::to_string(kPlacesMenuId) + " WHERE id = " +
                         std::to_string(kPlacesRootId));
         }},
        {"a bookmark in a folder that is gone",
         [](FirefoxPlaces& places) { places.AddBookmark(9999, "https://orphan.example/", "Orphan"); }},
        {"a folder in a folder that is gone",
         [](FirefoxPlaces& places) { places.AddFolder(9999, "Orphan folder"); }},
        {"no top root",
         [](FirefoxPlaces& places) {
             places.Exec("UPDATE moz_bookmarks SET guid = 'notroot_____' WHERE id = " + std::to_string(kPlacesRootId));
         }},
        {"a bookmark whose page is gone",
         [&](FirefoxPlaces& places) { places.Exec(insert + "1, 9999, 3, 9, 'dangling', 'dangling____')"); }},
        {"a bookmark without a page",
         [&](FirefoxPlaces& places) { places.Exec(insert + "1, NULL, 3, 9, 'null fk', 'nullfk______')"); }},
        {"a bookmark whose page is 0",
         [&](FirefoxPlaces& places) { places.Exec(insert + "1, 0, 3, 9, 'zero fk', 'zerofk______')"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDir local;
        path = local / L"places.sqlite";
        Create();
        {
            FirefoxPlaces places(path);
            places.AddBookmark(kPlacesToolbarId, "https://kept.example/", "Kept");
            c.damage(places);
        }
        std::wstring error;
        const auto records = ReadFirefoxBookmarks(path, &error);
        EXPECT_TRUE(records.empty()) << records.size() << " records read";
        EXPECT_EQ(error.rfind(L"places.sqlite is damaged (", 0), 0u) << ToUtf8(error);
        EXPECT_NE(error.find(L"); nothing was read from it."), std::wstring::npos) << ToUtf8(error);
    }
}

TEST_F(PlacesTest, ReaderLeavesOutItemsThatAreNoBookmarksOfAPage) {
    Create();
    {
        FirefoxPlaces places(path);
        places.AddBookmark(kPlacesToolbarId, "https://kept.example/", "Kept");
        places.AddSeparator(kPlacesToolbarId);
        places.AddFolder(kPlacesToolbarId, "Empty folder");
        const std::string insert =
            "INSERT INTO moz_bookmarks(type, fk, parent, position, title, guid) VALUES(1, ";
        places.Exec("INSERT INTO moz_places(id, url, guid) VALUES(500, '', 'emptyurl____')");
        places.Exec("INSERT INTO moz_places(id, url, guid) VALUES(501, NULL, 'nullurl_____')");
        places.Exec(insert + "500, 3, 12, 'empty url', 'emptyurlbm__')");
        places.Exec(insert + "501, 3, 13, 'null url', 'nullurlbm___')");
        places.Exec("INSERT INTO moz_bookmarks(type, fk, parent, position, title, guid) "
                    "VALUES(7, " + std::to_string(places.AddPlace("https://odd.example/", "")) +
                    ", 3, 14, 'odd type', 'oddtype_____')");
    }
    const auto records = Read();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].url, L"https://kept.example/");
    EXPECT_EQ(records[0].title, L"Kept");
}

TEST_F(PlacesTest, ReaderReportsFilesItCannotRead) {
    std::wstring error;
    EXPECT_TRUE(ReadFirefoxBookmarks(dir / L"missing.sqlite", &error).empty());
    EXPECT_EQ(error, L"places.sqlite was not found in " + dir.path() + L".");
    EXPECT_TRUE(ReadFirefoxBookmarks(dir / L"missing.sqlite", nullptr).empty());
    EXPECT_FALSE(test::PathExists(dir / L"missing.sqlite"));

    test::WriteTextFile(path, std::string(4096, 'x'));
    error.clear();
    EXPECT_TRUE(ReadFirefoxBookmarks(path, &error).empty());
    EXPECT_EQ(error, L"places.sqlite is damaged (it is not a database); nothing was read from it.");

    const std::wstring other = dir / L"other.sqlite";
    sqlite3* db = nullptr;
    sqlite3_open(ToUtf8(other).c_str(), &db);
    sqlite3_exec(db, "CREATE TABLE t(x);", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    error.clear();
    EXPECT_TRUE(ReadFirefoxBookmarks(other, &error).empty());
    EXPECT_EQ(error, L"places.sqlite does not hold Firefox's bookmarks as Firefox keeps them (no such table: "
                     L"moz_bookmarks); nothing was read from it.");
}

TEST_F(PlacesTest, ReaderReportsADatabaseLockedByFirefox) {
    Create();
    FirefoxPlaces firefox(path);
    firefox.AddBookmark(kPlacesToolbarId, "https://a.example/", "A");
    // Firefox holds places.sqlite in exclusive locking mode while it runs.
    firefox.Exec("PRAGMA locking_mode = EXCLUSIVE; BEGIN EXCLUSIVE;");
    std::wstring error;
    EXPECT_TRUE(ReadFirefoxBookmarks(path, &error).empty());
    EXPECT_EQ(error, L"places.sqlite is in use by another program (Firefox holds it while it runs); nothing was read "
                     L"from it.");
}

TEST_F(PlacesTest, ReaderGivesFirefoxsOrderChildrenByPositionFoldersDepthFirst) {
    Create();
    std::vector<std::wstring> expected;
    {
        FirefoxPlaces places(path);
        // Folders and bookmarks made in one order and placed in another: positions, not ids, count.
        std::vector<int64_t> folders;
        for (int f = 0; f < 12; ++f) folders.push_back(places.AddFolder(kPlacesToolbarId, "F" + std::to_string(f)));
        std::vector<std::vector<std::string>> inFolder(folders.size());
        for (int f = 0; f < 12; ++f) {
            for (int b = 0; b < 9; ++b) {
                const std::string url = "https://f" + std::to_string(f) + "-b" + std::to_string(b) + ".example/";
                places.AddBookmark(folders[f], url, "");
                inFolder[f].push_back(url);
            }
            // Reverse the bookmarks' positions inside each folder.
            places.Exec("UPDATE moz_bookmarks SET position = 8 - position WHERE parent = " + std::to_string(folders[f]));
            std::reverse(inFolder[f].begin(), inFolder[f].end());
        }
        // Folders in the toolbar in a shuffled order, a bookmark between them.
        const int order[] = {7, 2, 11, 0, 5, 9, 1, 10, 3, 6, 8, 4};
        const int64_t between = places.AddBookmark(kPlacesToolbarId, "https://between.example/", "");
        for (int i = 0; i < 12; ++i)
            places.Exec("UPDATE moz_bookmarks SET position = " + std::to_string(i < 6 ? i : i + 1) +
                        " WHERE id = " + std::to_string(folders[order[i]]));
        places.Exec("UPDATE moz_bookmarks SET position = 6 WHERE id = " + std::to_string(between));
        // A menu bookmark and a nested folder in the first toolbar folder.
        places.AddBookmark(kPlacesMenuId, "https://menu.example/", "");
        const int64_t nested = places.AddFolder(folders[order[0]], "Nested");
        places.Exec("UPDATE moz_bookmarks SET position = 4 WHERE id = " + std::to_string(nested));
        places.Exec("UPDATE moz_bookmarks SET position = position + 1 WHERE parent = " +
                    std::to_string(folders[order[0]]) + " AND position >= 4 AND id != " + std::to_string(nested));
        places.AddBookmark(nested, "https://nested.example/", "");

        expected.push_back(L"https://menu.example/");  // the menu comes before the toolbar
        for (int i = 0; i < 12; ++i) {
            if (i == 6) expected.push_back(L"https://between.example/");
            const auto& urls = inFolder[order[i]];
            for (size_t b = 0; b < urls.size(); ++b) {
                if (i == 0 && b == 4) expected.push_back(L"https://nested.example/");
                expected.push_back(ToWide(urls[b]));
            }
        }
    }
    std::vector<std::wstring> urls;
    for (const BookmarkRecord& r : Read()) urls.push_back(r.url);
    EXPECT_EQ(urls, expected);
}

TEST_F(PlacesTest, ReaderReportsADamagedFileInsteadOfReadingPartOfIt) {
    // Pages of a file damaged in different ways; each must be an error, never a smaller set.
    struct Case {
        const char* what;
        std::function<void(const std::wstring&)> damage;
    };
    auto rootPage = [&](const std::string& name) {
        FirefoxPlaces places(path);
        return places.QueryInt("SELECT rootpage FROM sqlite_master WHERE name = '" + name + "'");
    };
    auto overwritePage = [](const std::wstring& file, int64_t page) {
        std::string bytes = test::ReadTextFile(file);
        const size_t at = static_cast<size_t>(page - 1) * 4096 + 100 * (page == 1);
        for (size_t i = at + 8; i < at + 4096 && i < bytes.size(); ++i) bytes[i] = static_cast<char>(0x5A ^ (i & 0xFF));
        test::WriteTextFile(file, bytes);
    };
    const Case cases[] = {
        {"last pages cut off",
         [](const std::wstring& file) {
             std::string bytes = test::ReadTextFile(file);
             test::WriteTextFile(file, bytes.substr(0, bytes.size() - 4096 * 3));
         }},
        {"last page cut in the middle",
         [](const std::wstring& file) {
             std::string bytes = test::ReadTextFile(file);
             test::WriteTextFile(file, bytes.substr(0, bytes.size() - 1500));
         }},
        {"a bookmarks page overwritten",
         [&](const std::wstring& file) { overwritePage(file, rootPage("moz_bookmarks")); }},
        {"a bookmarks index page overwritten",
         [&](const std::wstring& file) { overwritePage(file, rootPage("moz_bookmarks_guid_uniqueindex")); }},
        {"a places page overwritten",
         [&](const std::wstring& file) { overwritePage(file, rootPage("moz_places")); }},
        {"a places index page overwritten",
         [&](const std::wstring& file) { overwritePage(file, rootPage("moz_places_url_hashindex")); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDir local;
        path = local / L"places.sqlite";
        test::PlacesFixtureOptions options;
        options.wal = false;
        Create(options);
        {
            FirefoxPlaces places(path);
            places.Exec("PRAGMA page_size = 4096; VACUUM;");
            places.Exec("BEGIN;");
            for (int i = 0; i < 600; ++i)
                places.AddBookmark(kPlacesToolbarId, "https://site" + std::to_string(i) + ".example/some/longer/path",
                                   "Bookmark number " + std::to_string(i));
            places.Exec("COMMIT;");
            ASSERT_EQ(places.QueryInt("PRAGMA page_size"), 4096);
        }
        ASSERT_EQ(Read().size(), 600u);
        c.damage(path);
        std::wstring error;
        const auto records = ReadFirefoxBookmarks(path, &error);
        EXPECT_TRUE(records.empty()) << records.size() << " records read";
        EXPECT_EQ(error.rfind(L"places.sqlite is damaged (", 0), 0u) << ToUtf8(error);
        EXPECT_NE(error.find(L"nothing was read from it."), std::wstring::npos) << ToUtf8(error);
    }
}

TEST_F(PlacesTest, AZeroedBlockInsideAPagesPageIsDamageNotFewerBookmarks) {
    // Firefox's own 32 KB pages; the disk lost one 4 KB block of a page that holds page rows.
    test::PlacesFixtureOptions options;
    options.wal = false;
    Create(options);
    {
        FirefoxPlaces places(path);
        places.Exec("BEGIN;");
        for (int i = 0; i < 300; ++i)
            places.AddBookmark(kPlacesToolbarId, "https://site" + std::to_string(i) + ".example/some/longer/path",
                               "Bookmark number " + std::to_string(i));
        places.Exec("COMMIT;");
        ASSERT_EQ(places.QueryInt("PRAGMA page_size"), 32768);
    }
    ASSERT_EQ(Read().size(), 300u);
    // The 4 KB block that holds one page row (and the block of any stale copy of it) is lost.
    std::string bytes = test::ReadTextFile(path);
    const std::string row = "https://site150.example/";
    ASSERT_NE(bytes.find(row), std::string::npos);
    for (size_t at = bytes.find(row); at != std::string::npos; at = bytes.find(row, at + 1)) {
        const size_t block = at / 4096 * 4096;
        ASSERT_NE(block % 32768, 0u) << "the block holds a page's header";
        std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(block), bytes.begin() + static_cast<std::ptrdiff_t>(block + 4096), '\0');
    }
    test::WriteTextFile(path, bytes);

    std::wstring error;
    const auto records = ReadFirefoxBookmarks(path, &error);
    EXPECT_TRUE(records.empty()) << records.size() << " records read";
    EXPECT_EQ(error.rfind(L"places.sqlite is damaged (", 0), 0u) << ToUtf8(error);
    EXPECT_NE(error.find(L"nothing was read from it."), std::wstring::npos) << ToUtf8(error);
}

TEST_F(PlacesTest, ADatabaseSQLiteCannotOpenInPlaceIsReadFromACopyWithItsWal) {
    Create();
    FirefoxPlaces firefox(path);
    firefox.Exec("PRAGMA wal_autocheckpoint = 0;");
    firefox.AddBookmark(kPlacesToolbarId, "https://in-the-wal.example/", "Only in the -wal");
    ASSERT_TRUE(test::PathExists(path + L"-wal"));

    // Read directly from a copy: what the -wal holds is there.
    std::wstring error;
    auto records = ReadFirefoxBookmarksFromCopy(path, &error);
    EXPECT_EQ(error, L"");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].url, L"https://in-the-wal.example/");

    // A -shm SQLite cannot make or open beside the file, as in a folder the user may not write.
    test::TempDir local;
    const std::wstring lockedIn = local / L"places.sqlite";
    ASSERT_TRUE(CopyFileW(path.c_str(), lockedIn.c_str(), TRUE));
    ASSERT_TRUE(CopyFileW((path + L"-wal").c_str(), (lockedIn + L"-wal").c_str(), TRUE));
    test::MakeDirs(lockedIn + L"-shm");
    {
        sqlite3* db = nullptr;
        sqlite3_open_v2(ToUtf8(lockedIn).c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
        EXPECT_NE(sqlite3_exec(db, "SELECT COUNT(*) FROM moz_bookmarks", nullptr, nullptr, nullptr), SQLITE_OK);
        EXPECT_EQ(sqlite3_errcode(db) & 0xFF, SQLITE_CANTOPEN) << sqlite3_errmsg(db);
        sqlite3_close(db);
    }
    error.clear();
    records = ReadFirefoxBookmarks(lockedIn, &error);
    EXPECT_EQ(error, L"");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].title, L"Only in the -wal");
}

// The temporary folder of this process pointed at a folder of the test's own for its lifetime.
class OwnTemporaryFolder {
public:
    OwnTemporaryFolder() {
        for (const wchar_t* name : {L"TMP", L"TEMP"}) {
            wchar_t value[MAX_PATH + 1] = {};
            const DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH + 1);
            saved_.emplace_back(name, length > 0 && length <= MAX_PATH ? std::optional<std::wstring>(value) : std::nullopt);
            SetEnvironmentVariableW(name, dir.path().c_str());
        }
    }
    ~OwnTemporaryFolder() {
        for (const auto& [name, value] : saved_) SetEnvironmentVariableW(name.c_str(), value ? value->c_str() : nullptr);
    }
    // The names in the folder that begin with "orv-db-".
    std::set<std::wstring> Copies() const {
        std::set<std::wstring> names;
        WIN32_FIND_DATAW data;
        HANDLE find = FindFirstFileW((dir / L"orv-db-*").c_str(), &data);
        if (find == INVALID_HANDLE_VALUE) return names;
        do names.insert(data.cFileName);
        while (FindNextFileW(find, &data));
        FindClose(find);
        return names;
    }
    test::TempDir dir;

private:
    std::vector<std::pair<std::wstring, std::optional<std::wstring>>> saved_;
};

TEST_F(PlacesTest, APrivateCopyIsGoneOnEveryWayOutOfTheRead) {
    test::PlacesFixtureOptions options;
    options.wal = false;
    Create(options);
    {
        FirefoxPlaces places(path);
        places.AddBookmark(kPlacesToolbarId, "https://a.example/", "A");
    }
    const std::wstring cut = dir / L"cut.sqlite";
    const std::string whole = test::ReadTextFile(path);
    test::WriteTextFile(cut, whole.substr(0, whole.size() / 2));
    const std::wstring notADatabase = dir / L"text.sqlite";
    test::WriteTextFile(notADatabase, std::string(4096, 'x'));
    struct Case {
        const char* what;
        std::wstring file;
        bool read;
    };
    const Case cases[] = {
        {"a sound file", path, true},
        {"a file cut short", cut, false},
        {"a file that is no database", notADatabase, false},
        {"a file that is missing", dir / L"missing.sqlite", false},
    };
    OwnTemporaryFolder temp;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::wstring error;
        EXPECT_EQ(ReadFirefoxBookmarksFromCopy(c.file, &error).size(), c.read ? 1u : 0u) << ToUtf8(error);
        EXPECT_EQ(error.empty(), c.read) << ToUtf8(error);
        EXPECT_TRUE(temp.Copies().empty()) << ToUtf8(*temp.Copies().begin());
    }
}

TEST_F(PlacesTest, CopiesLeftByEndedRunsAreRemovedAndACopyInUseIsKept) {
    Create();
    OwnTemporaryFolder temp;
    // What a run killed midway leaves: the copy and its -wal, the marker closed when its process ended
    // (or no marker at all, from a release that made none).
    for (const wchar_t* name : {L"orv-db-1234-5678-0", L"orv-db-99-1-7"}) {
        test::WriteTextFile(temp.dir / (std::wstring(name) + L"\\copy.sqlite"), "history");
        test::WriteTextFile(temp.dir / (std::wstring(name) + L"\\copy.sqlite-wal"), "more history");
    }
    test::WriteTextFile(temp.dir / L"orv-db-99-1-7\\in-use", "");
    // Not ours: another name, or a file.
    test::WriteTextFile(temp.dir / L"orv-db-other\\copy.sqlite", "someone else's");
    test::WriteTextFile(temp.dir / L"orv-db-5-5-5", "a file");
    {
        TemporaryDatabaseCopy inUse(path);
        ASSERT_TRUE(inUse.ok()) << ToUtf8(inUse.error());
        EXPECT_EQ(temp.Copies().size(), 3u);  // making it removed the two leftovers
        EXPECT_EQ(RemoveLeftoverDatabaseCopies(), 0);
        EXPECT_TRUE(test::PathExists(inUse.path()));
        std::wstring error;
        EXPECT_EQ(ReadFirefoxBookmarks(inUse.path(), &error).size(), 0u);
        EXPECT_EQ(error, L"");
    }
    EXPECT_EQ(temp.Copies(), (std::set<std::wstring>{L"orv-db-5-5-5", L"orv-db-other"}));

    test::WriteTextFile(temp.dir / L"orv-db-4-4-4\\copy.sqlite", "history");
    EXPECT_EQ(RemoveLeftoverDatabaseCopies(), 1);
    EXPECT_EQ(temp.Copies(), (std::set<std::wstring>{L"orv-db-5-5-5", L"orv-db-other"}));
}

// ---------------------------------------------------------------- writer helpers

TEST(PlacesHelpers, UrlHashMatchesFirefox) {
    EXPECT_EQ(PlacesUrlHash("http://www.example.com"), 0x72262c1a3496LL);
    EXPECT_EQ(PlacesUrlHash("www.example.com"), 0x8b149337LL);
    // Only the first 1500 bytes count; a ':' past the 50th character is no scheme.
    const std::string longUrl = "http://x/" + std::string(2000, 'a');
    EXPECT_EQ(PlacesUrlHash(longUrl), PlacesUrlHash(longUrl.substr(0, 1500)));
    const std::string lateColon = std::string(50, 'a') + ":b";
    EXPECT_LE(PlacesUrlHash(lateColon), 0xFFFFFFFFLL);
    EXPECT_GT(PlacesUrlHash(std::string(49, 'a') + ":b"), 0xFFFFFFFFLL);
}

// URLs as real Firefox 153 stored them when they were bookmarked through its own bookmarks API: the
// given text, then moz_places.url, rev_host and the moz_origins prefix and host.
struct StoredByFirefox {
    const char* given;
    const char* url;
    const char* revHost;
    const char* prefix;
    const char* host;
};
const StoredByFirefox kStoredByFirefox[] = {
    {"https://example.com/", "https://example.com/", "moc.elpmaxe.", "https://", "example.com"},
    {"HTTPS://EXAMPLE.COM", "https://example.com/", "moc.elpmaxe.", "https://", "example.com"},
    {"http://\xC3\x9Cn\xC3\xAF" "code.\xE4\xBE\x8B\xE3\x81\x88.jp/p\xC3\xA4th?q=\xC3\xA4 b",
     "http://xn--ncode-cta3g.xn--r8jz45g.jp/p%C3%A4th?q=%C3%A4%20b", "pj.g54zj8r--nx.g3atc-edocn--nx.", "http://",
     "xn--ncode-cta3g.xn--r8jz45g.jp"},
    {"https://user:pw@Host.Example:8443/a b?x=y z#frag", "https://user:pw@host.example:8443/a%20b?x=y%20z#frag",
     "3448:elpmaxe.tsoh.", "https://", "host.example:8443"},
    {"javascript:alert('Hi There')", "javascript:alert('Hi There')", ".", "javascript:", "alert('Hi There')"},
    {"JavaScript:Foo( 1 ) ", "javascript:Foo( 1 )", ".", "javascript:", "Foo( 1 )"},
    {"data:text/html,<b>Hi There</b>", "data:text/html,<b>Hi There</b>", ".", "data:", "text"},
    {"DATA:text/plain,A B", "data:text/plain,A B", ".", "data:", "text"},
    {"place:parent=toolbar_____&sort=1", "place:parent=toolbar_____&sort=1", ".", "place:",
     "parent=toolbar_____&sort=1"},
    {"http://example.com/a%20b/../c", "http://example.com/c", "moc.elpmaxe.", "http://", "example.com"},
    {"https://m\xC3\xBCnchen.de", "https://xn--mnchen-3ya.de/", "ed.ay3-nehcnm--nx.", "https://", "xn--mnchen-3ya.de"},
    {"ftp://Files.Example/x y", "ftp://files.example/x%20y", "elpmaxe.selif.", "ftp://", "files.example"},
    {"file:///C:/Users/Me/A%20B.html", "file:///C:/Users/Me/A%20B.html", ".", "file://", ""},
    {"about:config", "about:config", ".", "about:", "config"},
    {"https://[::1]:8080/x", "https://[::1]:8080/x", "0808:]1::[.", "https://", "[::1]:8080"},
    {"http://192.168.0.1./", "http://192.168.0.1/", "1.0.861.291.", "http://", "192.168.0.1"},
    {"https://example.org:443/", "https://example.org/", "gro.elpmaxe.", "https://", "example.org"},
    {"http://example.org:80/p?", "http://example.org/p?", "gro.elpmaxe.", "http://", "example.org"},
    {"mailto:Someone@Example.COM", "mailto:Someone@Example.COM", ".", "mailto:", "Example.COM"},
    {"foo://Host.Example/A B?C D", "foo://Host.Example/A%20B?C%20D", "elpmaxE.tsoH.", "foo://", "Host.Example"},
    {" https://lead.example/x ", "https://lead.example/x", "elpmaxe.dael.", "https://", "lead.example"},
    {"https://EXAMPLE.net/a\tb", "https://example.net/ab", "ten.elpmaxe.", "https://", "example.net"},
    {"view-source:https://A.example/", "view-source:https://A.example/", ".", "view-source:", "https:"},
    {"https://a.example/%7Efoo/~bar/[x]/{y}|z^`", "https://a.example/%7Efoo/~bar/[x]/%7By%7D|z%5E%60", "elpmaxe.a.",
     "https://", "a.example"},
    {"https://a.example/?q='\"<>", "https://a.example/?q=%27%22%3C%3E", "elpmaxe.a.", "https://", "a.example"},
    {"https://a.example/#f g<>", "https://a.example/#f%20g%3C%3E", "elpmaxe.a.", "https://", "a.example"},
    {"http://example.com:8080", "http://example.com:8080/", "0808:moc.elpmaxe.", "http://", "example.com:8080"},
    {"HTTP://\xC3\x84" "B.example/\xC3\x84?\xC3\x84#\xC3\x84", "http://xn--b-zfa.example/%C3%84?%C3%84#%C3%84",
     "elpmaxe.afz-b--nx.", "http://", "xn--b-zfa.example"},
    {"moz-extension://abc/x", "moz-extension://abc/x", "cba.", "moz-extension://", "abc"},
    {"https://a.example/x?%zz", "https://a.example/x?%zz", "elpmaxe.a.", "https://", "a.example"},
    {"https://a.example/\\back\\slash", "https://a.example//back/slash", "elpmaxe.a.", "https://", "a.example"},
};

TEST(PlacesUrls, StoredFormRevHostAndOriginAreWhatFirefoxStores) {
    for (const StoredByFirefox& c : kStoredByFirefox) {
        SCOPED_TRACE(c.given);
        EXPECT_EQ(CanonicalPlacesUrl(c.given), c.url);
        EXPECT_EQ(PlacesReversedHost(c.url), c.revHost);
        EXPECT_EQ(ReverseHost(ToWide(c.given)), c.revHost);
        const PlacesOrigin origin = PlacesOriginOf(c.url);
        EXPECT_EQ(origin.prefix, c.prefix);
        EXPECT_EQ(origin.host, c.host);
    }
}

TEST(PlacesUrls, TextThatDoesNotParseIsKeptAsGiven) {
    for (const char* text : {"not a url", "www.example.com/page", "http://", "https://exa mple.com/", "", "//x/y"}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(CanonicalPlacesUrl(text), text);
        EXPECT_EQ(PlacesReversedHost(text), ".");
    }
}

TEST(PlacesHelpers, NewGuidsAreTwelveCharactersOfTheAlphabet) {
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) {
        const std::string guid = NewPlacesGuid();
        ASSERT_EQ(guid.size(), 12u);
        EXPECT_EQ(guid.find_first_not_of(alphabet), std::string::npos) << guid;
        seen.insert(guid);
    }
    EXPECT_EQ(seen.size(), 200u);
}

// ---------------------------------------------------------------- writer

TEST_F(PlacesTest, MergeBookmarksAUrlKnownOnlyFromHistoryOnItsExistingPlace) {
    Create();
    int64_t visited = 0, tagged = 0;
    {
        FirefoxPlaces places(path);
        visited = places.AddVisitedPlace("https://visited.example/page", "Visited");
        places.AddTag("https://tagged-only.example/", "t");  // a tag entry is no bookmark either
        tagged = places.AddPlace("https://tagged-only.example/", "");
    }
    int skipped = -1;
    const int added = Write({Rec(L"https://visited.example/page", L"a", L""),
                             Rec(L"HTTPS://Visited.Example/page///", L"b", L""),
                             Rec(L"https://new.example/", L"c", L""),
                             Rec(L"https://tagged-only.example/", L"d", L"")},
                            false, &skipped);
    EXPECT_EQ(added, 3);
    EXPECT_EQ(skipped, 1);
    FirefoxPlaces places(path);
    EXPECT_EQ(places.QueryInt("SELECT COUNT(*) FROM moz_places"), 3);  // no second row for a known URL
    EXPECT_EQ(places.QueryInt("SELECT fk FROM moz_bookmarks WHERE title = 'a'"), visited);
    EXPECT_EQ(places.QueryText("SELECT title FROM moz_places WHERE id = " + std::to_string(visited)), "Visited");
    EXPECT_EQ(places.QueryInt("SELECT foreign_count FROM moz_places WHERE id = " + std::to_string(visited)), 1);
    EXPECT_EQ(places.QueryInt("SELECT fk FROM moz_bookmarks WHERE title = 'd'"), tagged);
    EXPECT_EQ(places.QueryInt("SELECT foreign_count FROM moz_places WHERE id = " + std::to_string(tagged)), 2);
    EXPECT_EQ(places.QueryInt("SELECT visit_count FROM moz_places WHERE id = " + std::to_string(visited)), 1);
    // Bookmarked now, its frecency is due to be computed again.
    EXPECT_EQ(places.QueryText("SELECT frecency || ',' || recalc_frecency || ',' || recalc_alt_frecency FROM moz_places "
                               "WHERE id = " + std::to_string(visited)),
              "100,1,1");
}

TEST_F(PlacesTest, MergeComparesTheStoredFormsOfUrls) {
    Create();
    {
        FirefoxPlaces places(path);
        places.AddBookmark(kPlacesToolbarId, "HTTP://Raw.Example", "stored raw by another program");
        places.AddBookmark(kPlacesToolbarId, "https://xn--mnchen-3ya.de/", "punycode");
    }
    int skipped = -1;
    EXPECT_EQ(Write({Rec(L"http://raw.example/", L"", L""), Rec(L"https://M\u00FCnchen.de", L"", L""),
                     Rec(L"https://m\u00FCnchen.de/other", L"", L"")},
                    false, &skipped),
              1);
    EXPECT_EQ(skipped, 2);
}

TEST_F(PlacesTest, UrlsAreStoredAsFirefoxStoresThemAndFoundByItsHash) {
    Create();
    std::vector<BookmarkRecord> list;
    for (const StoredByFirefox& c : kStoredByFirefox) list.push_back(Rec(ToWide(c.given), L"t", L""));
    list.push_back(Rec(L"not a url", L"t", L""));  // Firefox refuses it: left out
    int skipped = -1;
    // "HTTPS://EXAMPLE.COM" is the same bookmark as "https://example.com/".
    EXPECT_EQ(Write(list, false, &skipped), static_cast<int>(list.size()) - 2);
    EXPECT_EQ(skipped, 1);
    FirefoxPlaces places(path);
    for (const StoredByFirefox& c : kStoredByFirefox) {
        SCOPED_TRACE(c.given);
        // Firefox's own lookup of a URL: by url_hash, then the exact text.
        Statement query = PrepareOrThrow(places.db(),
                                         "SELECT p.rev_host, o.prefix, o.host, (SELECT COUNT(*) FROM moz_bookmarks b "
                                         "WHERE b.fk = p.id) FROM moz_places p JOIN moz_origins o ON o.id = p.origin_id "
                                         "WHERE p.url_hash = ? AND p.url = ?");
        BindInt64(query, 1, PlacesUrlHash(c.url));
        BindText(query, 2, c.url);
        ASSERT_TRUE(StepRow(query));
        EXPECT_EQ(ColumnText(query, 0), c.revHost);
        EXPECT_EQ(ColumnText(query, 1), c.prefix);
        EXPECT_EQ(ColumnText(query, 2), c.host);
        EXPECT_EQ(ColumnInt64(query, 3), 1);
        EXPECT_FALSE(StepRow(query));
    }
    EXPECT_EQ(places.QueryInt("SELECT COUNT(*) FROM moz_places WHERE url = 'not a url'"), 0);
    EXPECT_EQ(places.QueryInt("SELECT COUNT(*) FROM moz_places p WHERE url_hash != 0 AND NOT EXISTS "
                              "(SELECT 1 FROM moz_bookmarks b WHERE b.fk = p.id)"),
              0);
}

TEST_F(PlacesTest, SameUrlTwiceInTheListIsInsertedOnceInBothModes) {
    for (const bool replace : {false, true}) {
        SCOPED_TRACE(replace ? "replace" : "merge");
        test::TempDir local;
        path = local / L"places.sqlite";
        Create();
        int skipped = -1;
        EXPECT_EQ(Write({Rec(L"https://Twice.example/", L"1", L""), Rec(L"https://twice.example", L"2", L"")},
                        replace, &skipped),
                  1);
        EXPECT_EQ(skipped, 1);
    }
}

TEST_F(PlacesTest, ReplaceRemovesEveryItemButTheRootsAndTheTagFolders) {
    Create();
    {
        FirefoxPlaces places(path);
        const int64_t work = places.AddFolder(kPlacesToolbarId, "Work");
        places.AddBookmark(work, "https://work.example/", "Work");
        places.AddSeparator(work);
        places.AddBookmark(kPlacesMenuId, "https://menu.example/", "Menu");
        places.AddTag("https://work.example/", "tag");
        places.AddSeparator(kPlacesMenuId);
        // Items whose folder is already gone go too.
        places.Exec("INSERT INTO moz_bookmarks(type, parent, position, guid) VALUES(3, 9999, 0, 'orphansep___')");
        places.AddVisitedPlace("https://visited.example/", "Visited");
    }
    int skipped = -1;
    EXPECT_EQ(Write({}, true, &skipped), 0);
    EXPECT_EQ(skipped, 0);
    FirefoxPlaces places(path);
    EXPECT_EQ(places.QueryInt("SELECT COUNT(*) FROM moz_bookmarks WHERE type = 1"), 0);
    EXPECT_EQ(places.QueryInt("SELECT COUNT(*) FROM moz_bookmarks WHERE type = 2 AND id <= 6"), 6);
    EXPECT_EQ(places.QueryText("SELECT group_concat(title) FROM moz_bookmarks WHERE type = 2 AND id > 6"), "tag");
    EXPECT_EQ(places.QueryInt("SELECT COUNT(*) FROM moz_bookmarks WHERE type = 3"), 0);
    EXPECT_EQ(places.QueryInt("SELECT COUNT(*) FROM moz_bookmarks b WHERE b.parent != 0 AND NOT EXISTS "
                              "(SELECT 1 FROM moz_bookmarks f WHERE f.id = b.parent)"),
              0);
    EXPECT_EQ(places.QueryInt("SELECT COUNT(*) FROM moz_places"), 3);
    EXPECT_EQ(places.QueryInt("SELECT COUNT(*) FROM moz_historyvisits"), 1);
    EXPECT_EQ(places.QueryInt("SELECT SUM(foreign_count) FROM moz_places"), 0);
}

TEST_F(PlacesTest, ReplaceKeepsTagsAndKeywordsOfUrlsStillBookmarkedAndDropsTheOthers) {
    Create();
    int64_t kept = 0, dropped = 0;
    {
        FirefoxPlaces places(path);
        places.AddBookmark(kPlacesToolbarId, "https://kept.example/", "Kept");
        places.AddBookmark(kPlacesToolbarId, "https://dropped.example/", "Dropped");
        places.AddTag("https://dropped.example/", "news");
        places.AddTag("https://kept.example/", "news");
        places.AddTag("https://kept.example/", "work");
        places.AddTag("https://dropped.example/", "work");
        kept = places.AddPlace("https://kept.example/", "");
        dropped = places.AddPlace("https://dropped.example/", "");
        places.AddKeyword(kept, "k");
        places.AddKeyword(dropped, "d");
    }
    // The URL comes back in the new list in another spelling; Firefox's form is the same.
    ASSERT_EQ(Write({Rec(L"HTTPS://KEPT.example", L"Kept again", L"Bookmarks Menu"),
                     Rec(L"https://new.example/", L"New", L"")},
                    true),
              2);
    FirefoxPlaces places(path);
    const std::string tagsOf = "SELECT group_concat(f.title) FROM moz_bookmarks b JOIN moz_bookmarks f ON f.id = "
                               "b.parent WHERE f.parent = 4 AND b.fk = ";
    EXPECT_EQ(places.QueryText(tagsOf + std::to_string(kept)), "news,work");
    EXPECT_EQ(places.QueryText(tagsOf + std::to_string(dropped)), "");
    EXPECT_EQ(places.QueryText("SELECT group_concat(keyword) FROM moz_keywords"), "k");
    EXPECT_EQ(places.QueryInt("SELECT foreign_count FROM moz_places WHERE id = " + std::to_string(kept)), 4);
    EXPECT_EQ(places.QueryInt("SELECT foreign_count FROM moz_places WHERE id = " + std::to_string(dropped)), 0);
    // Both tag folders stay, their remaining entries at gapless positions.
    EXPECT_EQ(places.QueryText("SELECT group_concat(title || ':' || (SELECT group_concat(position) FROM moz_bookmarks "
                               "e WHERE e.parent = f.id)) FROM moz_bookmarks f WHERE f.parent = 4"),
              "news:0,work:0");
    EXPECT_EQ(places.QueryInt("SELECT COUNT(*) FROM moz_places p WHERE foreign_count != "
                              "(SELECT COUNT(*) FROM moz_bookmarks b WHERE b.fk = p.id) + "
                              "(SELECT COUNT(*) FROM moz_keywords k WHERE k.place_id = p.id)"),
              0);
}

TEST_F(PlacesTest, ReplaceRecordsWhatFirefoxSyncKnowsAsDeleted) {
    Create();
    {
        FirefoxPlaces places(path);
        const int64_t synced = places.AddFolder(kPlacesToolbarId, "Synced folder");
        places.AddBookmark(synced, "https://synced.example/", "s");
        places.AddBookmark(kPlacesToolbarId, "https://local.example/", "l");
        places.AddTag("https://synced.example/", "tag");
        places.Exec("UPDATE moz_bookmarks SET syncStatus = 2 WHERE id > 6");
        places.Exec("UPDATE moz_bookmarks SET syncStatus = 1 WHERE title = 'l'");
    }
    const std::string syncedGuids = [&] {
        FirefoxPlaces places(path);
        return places.QueryText("SELECT group_concat(guid) FROM (SELECT guid FROM moz_bookmarks WHERE title IN "
                                "('Synced folder', 's') ORDER BY guid)");
    }();
    ASSERT_EQ(Write({}, true), 0);
    FirefoxPlaces places(path);
    EXPECT_EQ(places.QueryText("SELECT group_concat(guid) FROM (SELECT guid FROM moz_bookmarks_deleted ORDER BY guid)"),
              syncedGuids);
    const int64_t removedAt = places.QueryInt("SELECT MIN(dateRemoved) FROM moz_bookmarks_deleted");
    EXPECT_GE(removedAt, (static_cast<int64_t>(std::time(nullptr)) - 60) * 1000000);
}

TEST_F(PlacesTest, ParentFoldersMoveTheirLastModifiedAndChangeCounterAsInFirefox) {
    Create();
    int64_t dev = 0;
    {
        FirefoxPlaces places(path);
        dev = places.AddFolder(kPlacesToolbarId, "Dev");
        places.Exec("UPDATE moz_bookmarks SET lastModified = 5, syncChangeCounter = 0");
    }
    const int64_t before = static_cast<int64_t>(std::time(nullptr)) * 1000000;
    ASSERT_EQ(Write({Rec(L"https://a.example/", L"", L"Dev", 1), Rec(L"https://b.example/", L"", L"Dev", 1),
                     Rec(L"https://c.example/", L"", L"Dev/New", 1)},
                    false),
              3);
    FirefoxPlaces places(path);
    auto folder = [&](const std::string& where) {
        return places.QueryText("SELECT (lastModified >= " + std::to_string(before) + ") || ',' || syncChangeCounter "
                                "FROM moz_bookmarks WHERE " + where);
    };
    EXPECT_EQ(folder("id = " + std::to_string(dev)), "1,3");  // two bookmarks and a folder added
    EXPECT_EQ(folder("title = 'New'"), "1,2");                // made (1) and one bookmark added
    EXPECT_EQ(folder("id = " + std::to_string(kPlacesToolbarId)), "0,0");
    EXPECT_EQ(places.QueryText("SELECT group_concat(syncStatus || ':' || syncChangeCounter) FROM moz_bookmarks "
                               "WHERE id > " + std::to_string(dev) + " AND type = 1"),
              "1:1,1:1,1:1");
}

TEST_F(PlacesTest, AnOlderFirefoxFileIsWrittenWithTheColumnsItHas) {
    test::PlacesFixtureOptions options;
    options.oldSchema = true;
    Create(options);
    {
        FirefoxPlaces places(path);
        places.AddBookmark(kPlacesToolbarId, "https://old.example/", "Old");
        places.AddTag("https://old.example/", "t");
        places.AddKeyword(places.AddPlace("https://old.example/", ""), "o");
    }
    ASSERT_EQ(Write({Rec(L"https://a.example/", L"A", L"Dev")}, false), 1);
    ASSERT_EQ(Write({Rec(L"https://b.example/", L"B", L"Dev")}, true), 1);
    FirefoxPlaces places(path);
    EXPECT_EQ(places.QueryText("SELECT frecency || ',' || hidden FROM moz_places WHERE url = 'https://b.example/'"),
              "1,0");
    EXPECT_EQ(places.QueryInt("SELECT COUNT(*) FROM moz_keywords"), 0);
    EXPECT_EQ(Triples(Read()), Triples({Rec(L"https://b.example/", L"B", L"Bookmarks Toolbar/Dev")}));
}

TEST_F(PlacesTest, RecordsLandUnderTheRootTheirPathNames) {
    Create();
    ASSERT_EQ(Write({Rec(L"https://1.example/", L"", L"Bookmarks Menu/Dev"),
                     Rec(L"https://2.example/", L"", L"Other Bookmarks"),
                     Rec(L"https://3.example/", L"", L"Other bookmarks/X"),
                     Rec(L"https://4.example/", L"", L"Mobile Bookmarks"),
                     Rec(L"https://5.example/", L"", L""),
                     Rec(L"https://6.example/", L"", L"Work/Docs"),
                     Rec(L"https://7.example/", L"", L"Bookmarks bar/Y")},
                    false),
              7);
    FirefoxPlaces places(path);
    auto parentOf = [&](const std::string& url) {
        return places.QueryInt("SELECT b.parent FROM moz_bookmarks b JOIN moz_places p ON p.id = b.fk "
                               "WHERE p.url = '" + url + "'");
    };
    auto folder = [&](int64_t parent, const std::string& title) {
        return places.QueryInt("SELECT id FROM moz_bookmarks WHERE type = 2 AND parent = " + std::to_string(parent) +
                               " AND title = '" + title + "'");
    };
    EXPECT_EQ(parentOf("https://1.example/"), folder(kPlacesMenuId, "Dev"));
    EXPECT_NE(folder(kPlacesMenuId, "Dev"), 0);
    EXPECT_EQ(parentOf("https://2.example/"), kPlacesUnfiledId);
    EXPECT_EQ(parentOf("https://3.example/"), folder(kPlacesUnfiledId, "X"));
    EXPECT_EQ(parentOf("https://4.example/"), kPlacesMobileId);
    EXPECT_EQ(parentOf("https://5.example/"), kPlacesToolbarId);
    EXPECT_EQ(parentOf("https://6.example/"), folder(folder(kPlacesToolbarId, "Work"), "Docs"));
    EXPECT_EQ(parentOf("https://7.example/"), folder(kPlacesToolbarId, "Y"));
}

TEST_F(PlacesTest, AUrlLongerThanFirefoxKeepsIsLeftOutAndCounted) {
    Create();
    const std::string head = "https://long.example/";
    const std::wstring longest = ToWide(head + std::string(kFirefoxMaxUrlLength - head.size(), 'a'));
    const std::wstring tooLong = longest + L"b";
    // Percent-encoding makes the stored form longer than the given text.
    const std::wstring growsTooLong = ToWide(head) + std::wstring(kFirefoxMaxUrlLength / 3, L' ') + L"x";
    int skipped = -1;
    WriteShortfall leftOut;
    std::wstring error;
    EXPECT_EQ(WriteFirefoxBookmarks(path,
                                    {Rec(longest, L"kept", L""), Rec(tooLong, L"too long", L""),
                                     Rec(growsTooLong, L"grows too long", L""), Rec(L"https://a.example/", L"", L"")},
                                    &skipped, &error, false, &leftOut),
              2)
        << ToUtf8(error);
    EXPECT_EQ(skipped, 0);
    EXPECT_EQ(leftOut.urlTooLong, 2);
    EXPECT_EQ(leftOut.LeftOut(), 2);
    FirefoxPlaces places(path);
    EXPECT_EQ(places.QueryInt("SELECT MAX(length(url)) FROM moz_places"), static_cast<int64_t>(kFirefoxMaxUrlLength));
    EXPECT_EQ(places.QueryInt("SELECT COUNT(*) FROM moz_places"), 2);
    EXPECT_EQ(places.QueryInt("SELECT COUNT(*) FROM moz_bookmarks WHERE title LIKE '%too long'"), 0);
    // Without a count to fill the write is the same.
    EXPECT_EQ(WriteFirefoxBookmarks(path, {Rec(tooLong, L"", L"")}, nullptr, nullptr, true), 0);
    EXPECT_EQ(places.QueryInt("SELECT COUNT(*) FROM moz_bookmarks WHERE type = 1"), 0);
}

// What the reader would refuse to read back is not written: a record nested deeper than it reads goes
// into the deepest folder of its path it does read, and the rest of the write goes on.
TEST_F(PlacesTest, AFolderPathDeeperThanTheReaderTakesIsKeptInItsDeepestReadableFolder) {
    Create();
    std::vector<std::wstring> names{L"Bookmarks Menu"};
    for (size_t i = 0; i < kDeepestFolderNesting; ++i) names.push_back(L"f");
    const std::wstring deepest = JoinPath(names);
    std::wstring error;
    WriteShortfall shortfall;
    EXPECT_EQ(WriteFirefoxBookmarks(path, {Rec(L"https://a.example/", L"", deepest + L"/one more"),
                                           Rec(L"https://b.example/", L"", deepest)},
                                    nullptr, &error, false, &shortfall),
              2)
        << ToUtf8(error);
    ASSERT_EQ(shortfall.moved.size(), 1u);
    EXPECT_EQ(shortfall.moved[0].record, 0u);
    EXPECT_EQ(shortfall.moved[0].keptIn, deepest);
    EXPECT_EQ(Triples(Read()), Triples({Rec(L"https://a.example/", L"", deepest), Rec(L"https://b.example/", L"", deepest)}));
}

// A folder path longer than any browser keeps refuses the write before anything changes, also in the
// look-ahead of a merge, so that no backup is made for a write that is then refused.
TEST_F(PlacesTest, AFolderPathLongerThanAnyBrowserKeepsRefusesTheWrite) {
    Create();
    const std::vector<BookmarkRecord> records{Rec(L"https://a.example/", L"", L"Bookmarks Menu/" + std::wstring(70000, L'n'))};
    const std::wstring words =
        L"A bookmark's folder path is longer than 65536 characters, more than any browser keeps; places.sqlite was not changed.";
    std::wstring error, refusal;
    EXPECT_EQ(WriteFirefoxBookmarks(path, records, nullptr, &error, false), -1);
    EXPECT_EQ(error, words);
    EXPECT_EQ(CountFirefoxMergeAdditions(path, records, nullptr, nullptr, &refusal), -1);
    EXPECT_EQ(refusal, words);
    FirefoxPlaces places(path);
    EXPECT_EQ(places.QueryInt("SELECT COUNT(*) FROM moz_bookmarks"), 6);
}

TEST_F(PlacesTest, MissingRootsFallBack) {
    struct Case {
        std::vector<std::string> omit;
        int64_t menu, mobile, unfiled, toolbar;  // where records for each root land
    };
    const Case cases[] = {
        {{"menu________"}, kPlacesUnfiledId, kPlacesMobileId, kPlacesUnfiledId, kPlacesToolbarId},
        {{"mobile______"}, kPlacesMenuId, kPlacesUnfiledId, kPlacesUnfiledId, kPlacesToolbarId},
        {{"unfiled_____"}, kPlacesMenuId, kPlacesMobileId, kPlacesToolbarId, kPlacesToolbarId},
        {{"unfiled_____", "menu________", "mobile______"}, kPlacesToolbarId, kPlacesToolbarId, kPlacesToolbarId,
         kPlacesToolbarId},
        {{"toolbar_____"}, kPlacesMenuId, kPlacesMobileId, kPlacesUnfiledId, kPlacesUnfiledId},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.omit.front() + " and " + std::to_string(c.omit.size() - 1) + " more");
        test::TempDir local;
        path = local / L"places.sqlite";
        test::PlacesFixtureOptions options;
        options.omitRoots = c.omit;
        Create(options);
        ASSERT_EQ(Write({Rec(L"https://menu/", L"", L"Bookmarks Menu"), Rec(L"https://mobile/", L"", L"Mobile Bookmarks"),
                         Rec(L"https://unfiled/", L"", L"Other Bookmarks"), Rec(L"https://toolbar/", L"", L"")},
                        false),
                  4);
        FirefoxPlaces places(path);
        auto parentOf = [&](const std::string& url) {
            return places.QueryInt("SELECT b.parent FROM moz_bookmarks b JOIN moz_places p ON p.id = b.fk "
                                   "WHERE p.url = '" + url + "'");
        };
        EXPECT_EQ(parentOf("https://menu/"), c.menu);
        EXPECT_EQ(parentOf("https://mobile/"), c.mobile);
        EXPECT_EQ(parentOf("https://unfiled/"), c.unfiled);
        EXPECT_EQ(parentOf("https://toolbar/"), c.toolbar);
    }
}

TEST_F(PlacesTest, NeitherToolbarNorUnfiledFailsWithoutChangingTheFile) {
    test::PlacesFixtureOptions options;
    options.omitRoots = {"toolbar_____", "unfiled_____"};
    Create(options);
    {
        FirefoxPlaces places(path);
        places.AddBookmark(kPlacesMenuId, "https://kept.example/", "Kept");
    }
    int skipped = -7;
    std::wstring error;
    EXPECT_EQ(Write({Rec(L"https://new.example/", L"", L"")}, true, &skipped, &error), -1);
    EXPECT_EQ(error, L"Could not locate Firefox bookmark roots in places.sqlite.");
    EXPECT_EQ(skipped, -7);
    FirefoxPlaces places(path);
    EXPECT_EQ(places.QueryInt("SELECT COUNT(*) FROM moz_bookmarks WHERE type = 1"), 1);
    EXPECT_EQ(places.QueryInt("SELECT COUNT(*) FROM moz_places"), 1);
}

TEST_F(PlacesTest, FoldersAreFoundByTitleAndPositionsFollowExistingChildren) {
    Create();
    int64_t dev = 0;
    {
        FirefoxPlaces places(path);
        places.AddBookmark(kPlacesToolbarId, "https://old1.example/", "");  // position 0
        places.AddSeparator(kPlacesToolbarId);                              // position 1
        dev = places.AddFolder(kPlacesToolbarId, "Dev");                    // position 2
        places.AddFolder(kPlacesToolbarId, "Dev");                          // a second one, position 3
        places.AddBookmark(dev, "https://old2.example/", "");              // position 0 in Dev
    }
    ASSERT_EQ(Write({Rec(L"https://a.example/", L"", L""), Rec(L"https://b.example/", L"", L"Dev"),
                     Rec(L"https://c.example/", L"", L"Bookmarks Toolbar"), Rec(L"https://d.example/", L"", L"Dev"),
                     Rec(L"https://e.example/", L"", L"New"), Rec(L"https://f.example/", L"", L"New")},
                    false),
              6);
    FirefoxPlaces places(path);
    auto item = [&](const std::string& url) {
        return places.QueryText("SELECT b.parent || ':' || b.position FROM moz_bookmarks b JOIN moz_places p "
                                "ON p.id = b.fk WHERE p.url = '" + url + "'");
    };
    const std::string toolbar = std::to_string(kPlacesToolbarId);
    const std::string d = std::to_string(dev);
    const int64_t created = places.QueryInt("SELECT id FROM moz_bookmarks WHERE title = 'New'");
    EXPECT_EQ(item("https://a.example/"), toolbar + ":4");
    EXPECT_EQ(item("https://b.example/"), d + ":1");
    EXPECT_EQ(item("https://c.example/"), toolbar + ":5");
    EXPECT_EQ(item("https://d.example/"), d + ":2");
    EXPECT_EQ(places.QueryText("SELECT parent || ':' || position FROM moz_bookmarks WHERE title = 'New'"),
              toolbar + ":6");
    EXPECT_EQ(item("https://e.example/"), std::to_string(created) + ":0");
    EXPECT_EQ(item("https://f.example/"), std::to_string(created) + ":1");
    EXPECT_EQ(places.QueryInt("SELECT COUNT(*) FROM moz_bookmarks WHERE title = 'Dev'"), 2);
    EXPECT_EQ(places.QueryInt("SELECT COUNT(*) FROM moz_bookmarks WHERE title = 'New'"), 1);
    EXPECT_EQ(places.QueryText("SELECT guid FROM moz_bookmarks WHERE title = 'New'").size(), 12u);
}

TEST_F(PlacesTest, NewPlacesGetFirefoxsStoredUrlFrecencyStateAndOrigin) {
    Create();
    const int64_t before = static_cast<int64_t>(std::time(nullptr)) * 1000000;
    ASSERT_EQ(Write({Rec(L"http://www.Example.com/a?b", L"Title \u00E9", L"", 1),
                     Rec(L"https://now.example/", L"", L"", 0)},
                    false),
              2);
    const int64_t after = static_cast<int64_t>(std::time(nullptr)) * 1000000;
    FirefoxPlaces places(path);
    const std::string place = " FROM moz_places WHERE url = 'http://www.example.com/a?b'";
    EXPECT_EQ(places.QueryText("SELECT rev_host" + place), "moc.elpmaxe.www.");
    EXPECT_EQ(places.QueryInt("SELECT url_hash" + place), PlacesUrlHash("http://www.example.com/a?b"));
    // Firefox's own insert leaves a new page without a title until it is visited.
    EXPECT_EQ(places.QueryInt("SELECT title IS NULL" + place), 1);
    EXPECT_EQ(places.QueryInt("SELECT COUNT(*) FROM moz_places WHERE title IS NOT NULL"), 0);
    EXPECT_EQ(places.QueryText("SELECT b.title FROM moz_bookmarks b JOIN moz_places p ON p.id = b.fk WHERE p.url = "
                               "'http://www.example.com/a?b'"),
              ToUtf8(L"Title \u00E9"));
    // As Firefox's own insert leaves a new place: frecency 1 and flagged for Firefox to compute it.
    EXPECT_EQ(places.QueryText("SELECT hidden || typed || ',' || frecency || ',' || recalc_frecency || ',' || "
                               "recalc_alt_frecency || ',' || IFNULL(alt_frecency, 'null') || ',' || foreign_count" +
                               place),
              "00,1,1,1,null,1");
    EXPECT_EQ(places.QueryText("SELECT o.prefix || o.host || ',' || o.frecency || ',' || o.recalc_frecency || ',' || "
                               "o.recalc_alt_frecency FROM moz_origins o JOIN moz_places p ON p.origin_id = o.id "
                               "WHERE p.url = 'http://www.example.com/a?b'"),
              "http://www.example.com,-1,1,1");
    // An origin Firefox already has is reused, and flagged for a new frecency.
    EXPECT_EQ(places.QueryInt("SELECT COUNT(*) FROM moz_origins"), 2);
    ASSERT_EQ(Write({Rec(L"http://www.example.com/other", L"", L"")}, false), 1);
    EXPECT_EQ(places.QueryInt("SELECT COUNT(*) FROM moz_origins"), 2);
    EXPECT_EQ(places.QueryInt("SELECT COUNT(DISTINCT origin_id) FROM moz_places WHERE rev_host = 'moc.elpmaxe.www.'"), 1);
    // Firefox keeps place: queries hidden and out of the frecency ranking.
    ASSERT_EQ(Write({Rec(L"place:sort=8&maxResults=10", L"Recent", L"")}, false), 1);
    EXPECT_EQ(places.QueryText("SELECT p.hidden || ',' || p.frecency || ',' || p.recalc_frecency || ',' || o.frecency FROM "
                               "moz_places p JOIN moz_origins o ON o.id = p.origin_id WHERE url LIKE 'place:%'"),
              "1,0,0,0");
    EXPECT_EQ(places.QueryText("SELECT guid" + place).size(), 12u);
    const std::string bookmark = " FROM moz_bookmarks b JOIN moz_places p ON p.id = b.fk WHERE p.url = ";
    EXPECT_EQ(places.QueryInt("SELECT b.dateAdded" + bookmark + "'http://www.example.com/a?b'"), 1000000);
    EXPECT_EQ(places.QueryInt("SELECT b.lastModified" + bookmark + "'http://www.example.com/a?b'"), 1000000);
    EXPECT_EQ(places.QueryText("SELECT b.title" + bookmark + "'https://now.example/'"), "");
    const int64_t now = places.QueryInt("SELECT b.dateAdded" + bookmark + "'https://now.example/'");
    EXPECT_GE(now, before);
    EXPECT_LE(now, after);
    EXPECT_EQ(places.QueryInt("SELECT b.lastModified" + bookmark + "'https://now.example/'"), now);
    EXPECT_EQ(places.QueryInt("SELECT COUNT(DISTINCT guid) FROM moz_bookmarks"), 10);
    EXPECT_EQ(places.QueryInt("SELECT COUNT(*) FROM moz_places WHERE url_hash = 0 OR rev_host IS NULL"), 0);
}

TEST_F(PlacesTest, ForeignCountStaysRightAfterMergeAndReplace) {
    Create();
    int64_t shared = 0, stale = 0;
    {
        FirefoxPlaces places(path);
        places.AddBookmark(kPlacesToolbarId, "https://shared.example/", "1");
        places.AddBookmark(kPlacesMenuId, "https://shared.example/", "2");
        shared = places.AddPlace("https://shared.example/", "");
        places.AddKeyword(shared, "sh");  // 2 bookmarks + 1 keyword
        places.AddBookmark(kPlacesToolbarId, "https://gone.example/", "gone");
        // A count another program left wrong must not go below 0.
        places.AddBookmark(kPlacesToolbarId, "https://stale.example/", "stale");
        stale = places.AddPlace("https://stale.example/", "");
        places.Exec("UPDATE moz_places SET foreign_count = 0 WHERE id = " + std::to_string(stale));
    }
    auto count = [&](const std::string& url) {
        FirefoxPlaces places(path);
        return places.QueryInt("SELECT foreign_count FROM moz_places WHERE url = '" + url + "'");
    };
    EXPECT_EQ(count("https://shared.example/"), 3);

    ASSERT_EQ(Write({Rec(L"https://new.example/", L"", L"")}, false), 1);
    EXPECT_EQ(count("https://new.example/"), 1);
    EXPECT_EQ(count("https://shared.example/"), 3);

    ASSERT_EQ(Write({Rec(L"https://shared.example/", L"", L""), Rec(L"https://stale.example/", L"", L"")}, true), 2);
    EXPECT_EQ(count("https://shared.example/"), 2);  // keyword + the new bookmark
    EXPECT_EQ(count("https://stale.example/"), 1);
    EXPECT_EQ(count("https://gone.example/"), 0);
    EXPECT_EQ(count("https://new.example/"), 0);
    FirefoxPlaces places(path);
    EXPECT_EQ(places.QueryInt("SELECT COUNT(*) FROM moz_places p WHERE foreign_count != "
                              "(SELECT COUNT(*) FROM moz_bookmarks b WHERE b.fk = p.id) + "
                              "(SELECT COUNT(*) FROM moz_keywords k WHERE k.place_id = p.id)"),
              0);
}

TEST_F(PlacesTest, SecondMergeOfTheSameListInsertsNothing) {
    Create();
    const std::vector<BookmarkRecord> list = {Rec(L"https://a.example/", L"A", L"Bookmarks Menu/X"),
                                              Rec(L"https://b.example/", L"B", L"Other Bookmarks"),
                                              Rec(L"https://c.example/", L"C", L"")};
    int skipped = -1;
    EXPECT_EQ(Write(list, false, &skipped), 3);
    EXPECT_EQ(skipped, 0);
    EXPECT_EQ(Write(list, false, &skipped), 0);
    EXPECT_EQ(skipped, 3);
    FirefoxPlaces places(path);
    EXPECT_EQ(places.QueryInt("SELECT COUNT(*) FROM moz_bookmarks"), 6 + 3 + 1);
}

TEST_F(PlacesTest, WhatTheWriterWroteReadsBackTheSame) {
    Create();
    const std::vector<BookmarkRecord> list = {
        Rec(L"https://a.example/", L"A", L"Bookmarks Toolbar"),
        Rec(L"https://b.example/", L"B \u00FC", L"Bookmarks Toolbar/Dev/Tools"),
        Rec(L"https://c.example/", L"", L"Bookmarks Menu/Reading"),
        Rec(L"https://d.example/", L"D", L"Other Bookmarks/\u041F\u0430\u043F\u043A\u0430"),
        Rec(L"https://e.example/", L"E", L"Mobile Bookmarks"),
    };
    ASSERT_EQ(Write(list, true), 5);
    EXPECT_EQ(Triples(Read()), Triples(list));
}

TEST_F(PlacesTest, FailureMidwayRollsBackEverything) {
    Create();
    {
        FirefoxPlaces places(path);
        places.AddBookmark(kPlacesToolbarId, "https://kept.example/", "Kept");
        places.FailOnBookmarkInsert(3);
    }
    for (const bool replace : {false, true}) {
        SCOPED_TRACE(replace ? "replace" : "merge");
        int skipped = -7;
        std::wstring error;
        EXPECT_EQ(Write({Rec(L"https://1.example/", L"", L""), Rec(L"https://2.example/", L"", L""),
                         Rec(L"https://3.example/", L"", L""), Rec(L"https://4.example/", L"", L"")},
                        replace, &skipped, &error),
                  -1);
        EXPECT_EQ(error, L"places.sqlite refused the change (fixture: insert refused); it was not changed.");
        EXPECT_EQ(skipped, -7);
        FirefoxPlaces places(path);
        EXPECT_EQ(places.QueryInt("SELECT COUNT(*) FROM moz_bookmarks"), 7);
        EXPECT_EQ(places.QueryInt("SELECT COUNT(*) FROM moz_places"), 1);
        EXPECT_EQ(places.QueryInt("SELECT foreign_count FROM moz_places"), 1);
        EXPECT_EQ(Triples(Read()), Triples({Rec(L"https://kept.example/", L"Kept", L"Bookmarks Toolbar")}));
    }
}

TEST_F(PlacesTest, ABeginThatCannotTakeTheWriteLockFails) {
    Create();
    FirefoxPlaces other(path);
    other.AddBookmark(kPlacesToolbarId, "https://known.example/", "");
    other.Exec("BEGIN IMMEDIATE;");
    // Also when nothing would be inserted: a held write lock means Firefox is running.
    for (const auto& list : {std::vector<BookmarkRecord>{Rec(L"https://known.example/", L"", L"")},
                             std::vector<BookmarkRecord>{Rec(L"https://a.example/", L"", L"")}}) {
        std::wstring error;
        EXPECT_EQ(Write(list, false, nullptr, &error), -1);
        EXPECT_EQ(error, L"places.sqlite is in use by another program (Firefox holds it while it runs); it was not "
                         L"changed.");
    }
    other.Exec("ROLLBACK;");
    EXPECT_EQ(other.QueryInt("SELECT COUNT(*) FROM moz_places"), 1);
}

TEST_F(PlacesTest, ACommitThatFailsIsReportedAndRolledBack) {
    test::PlacesFixtureOptions options;
    options.wal = false;  // with a rollback journal a reader's lock keeps COMMIT from finishing
    Create(options);
    FirefoxPlaces reader(path);
    reader.Exec("BEGIN;");
    EXPECT_EQ(reader.QueryInt("SELECT COUNT(*) FROM moz_bookmarks"), 6);  // holds a shared lock
    std::wstring error;
    EXPECT_EQ(Write({Rec(L"https://a.example/", L"", L"")}, false, nullptr, &error), -1);
    EXPECT_EQ(error, L"places.sqlite is in use by another program (Firefox holds it while it runs); it was not changed.");
    reader.Exec("COMMIT;");
    EXPECT_EQ(reader.QueryInt("SELECT COUNT(*) FROM moz_places"), 0);
    EXPECT_EQ(Write({Rec(L"https://a.example/", L"", L"")}, false), 1);
}

TEST_F(PlacesTest, WriterLeavesADamagedFileByteForByteAsItWas) {
    struct Case {
        const char* what;
        bool wal;
        std::function<void(const std::wstring&)> damage;
    };
    auto byRows = [](const std::string& sql) {
        return [sql](const std::wstring& file) {
            FirefoxPlaces places(file);
            places.Exec(sql);
        };
    };
    auto zeroBlockOf = [](const std::string& text) {
        return [text](const std::wstring& file) {
            std::string bytes = test::ReadTextFile(file);
            for (size_t at = bytes.find(text); at != std::string::npos; at = bytes.find(text, at + 1))
                std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(at / 4096 * 4096),
                          bytes.begin() + static_cast<std::ptrdiff_t>(at / 4096 * 4096 + 4096), '\0');
            test::WriteTextFile(file, bytes);
        };
    };
    const Case cases[] = {
        {"a zeroed block in a page of page rows", false, zeroBlockOf("https://site150.example/")},
        {"a bookmark whose page is gone", false, byRows("DELETE FROM moz_places WHERE url = 'https://site7.example/some/longer/path'")},
        {"a loop of folders", true,
         byRows("UPDATE moz_bookmarks SET parent = (SELECT id FROM moz_bookmarks WHERE title = 'Inner') "
                "WHERE title = 'Outer'")},
        {"the file cut short", false,
         [](const std::wstring& file) {
             const std::string bytes = test::ReadTextFile(file);
             test::WriteTextFile(file, bytes.substr(0, bytes.size() - 32768));
         }},
    };
    for (const Case& c : cases) {
        for (const bool replace : {false, true}) {
            SCOPED_TRACE(std::string(c.what) + (replace ? ", replace" : ", merge"));
            test::TempDir local;
            path = local / L"places.sqlite";
            test::PlacesFixtureOptions options;
            options.wal = c.wal;
            Create(options);
            {
                FirefoxPlaces places(path);
                places.Exec("BEGIN;");
                const int64_t outer = places.AddFolder(kPlacesToolbarId, "Outer");
                const int64_t inner = places.AddFolder(outer, "Inner");
                for (int i = 0; i < 300; ++i)
                    places.AddBookmark(i % 2 ? inner : kPlacesMenuId,
                                       "https://site" + std::to_string(i) + ".example/some/longer/path",
                                       "Bookmark number " + std::to_string(i));
                places.Exec("COMMIT;");
            }
            c.damage(path);
            const std::string before = test::ReadTextFile(path);
            std::wstring error;
            int skipped = -7;
            EXPECT_EQ(WriteFirefoxBookmarks(path, {Rec(L"https://new.example/", L"New", L"")}, &skipped, &error, replace),
                      -1);
            EXPECT_EQ(skipped, -7);
            EXPECT_EQ(error.rfind(L"places.sqlite is damaged (", 0), 0u) << ToUtf8(error);
            EXPECT_NE(error.find(L"); it was not changed."), std::wstring::npos) << ToUtf8(error);
            EXPECT_TRUE(test::ReadTextFile(path) == before) << "the file changed";
        }
    }
}

TEST_F(PlacesTest, EveryFailureSaysWhatIsWrongWithoutSqlOrBlamingFirefoxForAMissingFile) {
    struct Case {
        const char* what;
        std::function<std::wstring(const std::wstring& folder)> setUp;  // gives the path to use
        std::wstring read;   // the reader's error, "" when it reads
        std::wstring write;  // the writer's error
    };
    auto placesIn = [](const std::wstring& folder) {
        const std::wstring file = folder + L"\\places.sqlite";
        test::CreateFirefoxPlaces(file);
        FirefoxPlaces(file).AddBookmark(kPlacesToolbarId, "https://a.example/", "A");
        return file;
    };
    const std::wstring inUse = L"places.sqlite is in use by another program (Firefox holds it while it runs); ";
    std::optional<FirefoxPlaces> holder;
    const Case cases[] = {
        {"the file is missing", [](const std::wstring& folder) { return folder + L"\\places.sqlite"; },
         L"places.sqlite was not found in {folder}.", L"places.sqlite was not found in {folder}."},
        {"its folder is missing", [](const std::wstring& folder) { return folder + L"\\gone\\places.sqlite"; },
         L"The folder of places.sqlite was not found ({folder}\\gone).",
         L"The folder of places.sqlite was not found ({folder}\\gone)."},
        {"held by a running Firefox",
         [&](const std::wstring& folder) {
             const std::wstring file = placesIn(folder);
             holder.emplace(file);
             holder->Exec("PRAGMA locking_mode = EXCLUSIVE; BEGIN EXCLUSIVE;");
             return file;
         },
         inUse + L"nothing was read from it.", inUse + L"it was not changed."},
        {"another program writing it",
         [&](const std::wstring& folder) {
             const std::wstring file = placesIn(folder);
             holder.emplace(file);
             holder->Exec("BEGIN IMMEDIATE;");
             return file;
         },
         L"", inUse + L"it was not changed."},
        {"the file is no database",
         [](const std::wstring& folder) {
             test::WriteTextFile(folder + L"\\places.sqlite", std::string(8192, '\x01'));
             return folder + L"\\places.sqlite";
         },
         L"places.sqlite is damaged (it is not a database); nothing was read from it.",
         L"places.sqlite is damaged (it is not a database); it was not changed."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDir local;
        const std::wstring file = c.setUp(local.path());
        auto expected = [&](std::wstring text) {
            const size_t at = text.find(L"{folder}");
            if (at != std::wstring::npos) text.replace(at, 8, local.path());
            return text;
        };
        std::wstring readError, writeError;
        ReadFirefoxBookmarks(file, &readError);
        EXPECT_EQ(readError, expected(c.read));
        EXPECT_EQ(WriteFirefoxBookmarks(file, {Rec(L"https://new.example/", L"", L"")}, nullptr, &writeError, false), -1);
        EXPECT_EQ(writeError, expected(c.write));
        for (const std::wstring& text : {readError, writeError}) {
            EXPECT_EQ(text.find(L"SQL"), std::wstring::npos) << ToUtf8(text);
            EXPECT_EQ(text.find(L"::"), std::wstring::npos) << ToUtf8(text);
        }
        holder.reset();
    }
}

TEST_F(PlacesTest, WriterReportsFilesItCannotOpen) {
    const std::wstring missing = dir / L"missing.sqlite";
    std::wstring error;
    EXPECT_EQ(WriteFirefoxBookmarks(missing, {Rec(L"https://a/", L"", L"")}, nullptr, &error, false), -1);
    EXPECT_EQ(error, L"places.sqlite was not found in " + dir.path() + L".");
    EXPECT_FALSE(test::PathExists(missing));
    EXPECT_EQ(WriteFirefoxBookmarks(missing, {}, nullptr, nullptr, true), -1);

    test::WriteTextFile(path, std::string(4096, 'x'));
    error.clear();
    EXPECT_EQ(WriteFirefoxBookmarks(path, {}, nullptr, &error, false), -1);
    EXPECT_EQ(error, L"places.sqlite is damaged (it is not a database); it was not changed.");
    EXPECT_EQ(test::ReadTextFile(path), std::string(4096, 'x'));
}

}  // namespace
}  // namespace bm
