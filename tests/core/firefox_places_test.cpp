#include "core/firefox_places.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <ctime>
#include <set>
#include <tuple>

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

TEST_F(PlacesTest, ReaderBuildsFolderPathsFromTheRootChain) {
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
        places.AddBookmark(kPlacesRootId, "https://root.example/", "At root");
        const int64_t untitled = places.AddFolder(kPlacesToolbarId, "");
        places.AddBookmark(untitled, "https://untitled.example/", "x");
    }
    const auto records = Read();
    ASSERT_EQ(records.size(), 7u);
    EXPECT_EQ(PathOf(records, L"https://toolbar.example/"), L"Bookmarks Toolbar");
    EXPECT_EQ(PathOf(records, L"https://menu.example/"), L"Bookmarks Menu/Dev/Tools");
    EXPECT_EQ(PathOf(records, L"https://unfiled.example/"), L"Other Bookmarks");
    EXPECT_EQ(PathOf(records, L"https://mobile.example/"), L"Mobile Bookmarks");
    EXPECT_EQ(PathOf(records, L"https://tagged.example/"), L"tags/news");
    EXPECT_EQ(PathOf(records, L"https://root.example/"), L"");
    EXPECT_EQ(PathOf(records, L"https://untitled.example/"), L"Bookmarks Toolbar/");
    for (const auto& r : records) {
        EXPECT_EQ(r.id, 0);
        EXPECT_EQ(r.profile_id, 0);
        EXPECT_EQ(r.date_added, 0);
        if (r.url == L"https://tagged.example/") {
            EXPECT_EQ(r.title, L"");  // NULL title
        }
        if (r.url == L"https://menu.example/") {
            EXPECT_EQ(r.title, L"Menu");
        }
    }
}

TEST_F(PlacesTest, ReaderStopsAfter64FoldersOnDeepChainsAndCycles) {
    Create();
    int64_t a = 0;
    {
        FirefoxPlaces places(path);
        int64_t parent = kPlacesToolbarId;
        for (int i = 1; i <= 70; ++i) parent = places.AddFolder(parent, "f" + std::to_string(i));
        places.AddBookmark(parent, "https://deep.example/", "Deep");

        a = places.AddFolder(kPlacesUnfiledId, "A");
        const int64_t b = places.AddFolder(a, "B");
        places.Exec("UPDATE moz_bookmarks SET parent = " + std::to_string(b) + " WHERE id = " + std::to_string(a));
        places.AddBookmark(b, "https://cycle.example/", "Cycle");
    }
    const auto records = Read();
    ASSERT_EQ(records.size(), 2u);

    std::vector<std::wstring> expected;
    for (int i = 7; i <= 70; ++i) expected.push_back(L"f" + std::to_wstring(i));
    EXPECT_EQ(PathOf(records, L"https://deep.example/"), JoinPath(expected));

    const auto cycle = SplitPath(PathOf(records, L"https://cycle.example/"));
    ASSERT_EQ(cycle.size(), 64u);
    EXPECT_EQ(cycle.back(), L"B");
    EXPECT_EQ(cycle.front(), L"A");
}

TEST_F(PlacesTest, ReaderLeavesOutBookmarksWithoutAUsableUrl) {
    Create();
    {
        FirefoxPlaces places(path);
        places.AddBookmark(kPlacesToolbarId, "https://kept.example/", "Kept");
        places.AddSeparator(kPlacesToolbarId);
        places.AddFolder(kPlacesToolbarId, "Empty folder");
        const std::string insert =
            "INSERT INTO moz_bookmarks(type, fk, parent, position, title, guid) VALUES(1, ";
        places.Exec(insert + "NULL, 3, 9, 'null fk', 'nullfk______')");
        places.Exec(insert + "0, 3, 10, 'zero fk', 'zerofk______')");
        places.Exec(insert + "9999, 3, 11, 'dangling', 'dangling____')");
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
    EXPECT_EQ(error, L"Could not open places.sqlite (is Firefox closed?).");
    EXPECT_TRUE(ReadFirefoxBookmarks(dir / L"missing.sqlite", nullptr).empty());
    EXPECT_FALSE(test::PathExists(dir / L"missing.sqlite"));

    test::WriteTextFile(path, std::string(4096, 'x'));
    error.clear();
    EXPECT_TRUE(ReadFirefoxBookmarks(path, &error).empty());
    EXPECT_EQ(error.rfind(L"SQL prepare failed: file is not a database :: SELECT", 0), 0u) << ToUtf8(error);

    const std::wstring other = dir / L"other.sqlite";
    sqlite3* db = nullptr;
    sqlite3_open(ToUtf8(other).c_str(), &db);
    sqlite3_exec(db, "CREATE TABLE t(x);", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    error.clear();
    EXPECT_TRUE(ReadFirefoxBookmarks(other, &error).empty());
    EXPECT_EQ(error.rfind(L"SQL prepare failed: no such table: moz_bookmarks :: ", 0), 0u) << ToUtf8(error);
}

TEST_F(PlacesTest, ReaderReportsADatabaseLockedByFirefox) {
    Create();
    FirefoxPlaces firefox(path);
    firefox.AddBookmark(kPlacesToolbarId, "https://a.example/", "A");
    // Firefox holds places.sqlite in exclusive locking mode while it runs.
    firefox.Exec("PRAGMA locking_mode = EXCLUSIVE; BEGIN EXCLUSIVE;");
    std::wstring error;
    EXPECT_TRUE(ReadFirefoxBookmarks(path, &error).empty());
    EXPECT_NE(error.find(L"database is locked"), std::wstring::npos) << ToUtf8(error);
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

TEST(PlacesHelpers, ReverseHost) {
    const std::pair<std::wstring, std::string> cases[] = {
        {L"https://Ab.Cd/path", "dc.ba."},
        {L"http://www.example.com", "moc.elpmaxe.www."},
        {L"http://user@host:8080?q#f", "0808:tsoh@resu."},
        {L"https://a.b#frag/x", "b.a."},
        {L"about:blank", "."},
        {L"", "."},
        {L"http://h\u00E9.example/", "elpmaxe.\xC3\xA9h."},
    };
    for (const auto& c : cases) EXPECT_EQ(ReverseHost(c.first), c.second) << ToUtf8(c.first);
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

TEST_F(PlacesTest, MergeSkipsUrlsKnownOnlyAsVisitedPages) {
    Create();
    {
        FirefoxPlaces places(path);
        places.AddVisitedPlace("https://visited.example/page", "Visited");
    }
    int skipped = -1;
    const int added = Write({Rec(L"https://visited.example/page", L"a", L""),
                             Rec(L"HTTPS://Visited.Example/Page///", L"b", L""),
                             Rec(L"https://new.example/", L"c", L"")},
                            false, &skipped);
    EXPECT_EQ(added, 1);
    EXPECT_EQ(skipped, 2);
    FirefoxPlaces places(path);
    EXPECT_EQ(places.QueryInt("SELECT COUNT(*) FROM moz_bookmarks WHERE type = 1"), 1);
    EXPECT_EQ(places.QueryInt("SELECT COUNT(*) FROM moz_places"), 2);
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

TEST_F(PlacesTest, ReplaceRemovesBookmarksAndFoldersButKeepsRootsPlacesAndVisits) {
    Create();
    {
        FirefoxPlaces places(path);
        const int64_t work = places.AddFolder(kPlacesToolbarId, "Work");
        places.AddBookmark(work, "https://work.example/", "Work");
        places.AddBookmark(kPlacesMenuId, "https://menu.example/", "Menu");
        const int64_t tag = places.AddFolder(kPlacesTagsId, "tag");
        places.AddBookmark(tag, "https://work.example/", "");
        places.AddSeparator(kPlacesMenuId);
        places.AddVisitedPlace("https://visited.example/", "Visited");
    }
    int skipped = -1;
    EXPECT_EQ(Write({}, true, &skipped), 0);
    EXPECT_EQ(skipped, 0);
    FirefoxPlaces places(path);
    EXPECT_EQ(places.QueryInt("SELECT COUNT(*) FROM moz_bookmarks WHERE type = 1"), 0);
    EXPECT_EQ(places.QueryInt("SELECT COUNT(*) FROM moz_bookmarks WHERE type = 2"), 6);
    EXPECT_EQ(places.QueryInt("SELECT COUNT(*) FROM moz_bookmarks WHERE type = 2 AND id <= 6"), 6);
    EXPECT_EQ(places.QueryInt("SELECT COUNT(*) FROM moz_bookmarks WHERE type = 3"), 1);
    EXPECT_EQ(places.QueryInt("SELECT COUNT(*) FROM moz_places"), 3);
    EXPECT_EQ(places.QueryInt("SELECT COUNT(*) FROM moz_historyvisits"), 1);
    EXPECT_EQ(places.QueryInt("SELECT SUM(foreign_count) FROM moz_places"), 0);
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

TEST_F(PlacesTest, NewPlacesAndBookmarksGetFirefoxValues) {
    Create();
    const int64_t before = static_cast<int64_t>(std::time(nullptr)) * 1000000;
    ASSERT_EQ(Write({Rec(L"http://www.Example.com/a?b", L"Title \u00E9", L"", 1),
                     Rec(L"https://now.example/", L"", L"", 0)},
                    false),
              2);
    const int64_t after = static_cast<int64_t>(std::time(nullptr)) * 1000000;
    FirefoxPlaces places(path);
    const std::string place = " FROM moz_places WHERE url = 'http://www.Example.com/a?b'";
    EXPECT_EQ(places.QueryText("SELECT rev_host" + place), "moc.elpmaxe.www.");
    EXPECT_EQ(places.QueryInt("SELECT url_hash" + place), PlacesUrlHash("http://www.Example.com/a?b"));
    EXPECT_EQ(places.QueryText("SELECT title" + place), ToUtf8(L"Title \u00E9"));
    EXPECT_EQ(places.QueryText("SELECT hidden || typed || ',' || frecency || ',' || foreign_count" + place), "00,-1,1");
    EXPECT_EQ(places.QueryText("SELECT guid" + place).size(), 12u);
    const std::string bookmark = " FROM moz_bookmarks b JOIN moz_places p ON p.id = b.fk WHERE p.url = ";
    EXPECT_EQ(places.QueryInt("SELECT b.dateAdded" + bookmark + "'http://www.Example.com/a?b'"), 1000000);
    EXPECT_EQ(places.QueryInt("SELECT b.lastModified" + bookmark + "'http://www.Example.com/a?b'"), 1000000);
    EXPECT_EQ(places.QueryText("SELECT b.title" + bookmark + "'https://now.example/'"), "");
    const int64_t now = places.QueryInt("SELECT b.dateAdded" + bookmark + "'https://now.example/'");
    EXPECT_GE(now, before);
    EXPECT_LE(now, after);
    EXPECT_EQ(places.QueryInt("SELECT b.lastModified" + bookmark + "'https://now.example/'"), now);
    EXPECT_EQ(places.QueryInt("SELECT COUNT(DISTINCT guid) FROM moz_bookmarks"), 8);
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
        EXPECT_EQ(error, L"SQL step failed: fixture: insert refused");
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
        EXPECT_EQ(error, L"SQL step failed: database is locked");
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
    EXPECT_EQ(error, L"SQL step failed: database is locked");
    reader.Exec("COMMIT;");
    EXPECT_EQ(reader.QueryInt("SELECT COUNT(*) FROM moz_places"), 0);
    EXPECT_EQ(Write({Rec(L"https://a.example/", L"", L"")}, false), 1);
}

TEST_F(PlacesTest, WriterReportsFilesItCannotOpen) {
    const std::wstring missing = dir / L"missing.sqlite";
    std::wstring error;
    EXPECT_EQ(WriteFirefoxBookmarks(missing, {Rec(L"https://a/", L"", L"")}, nullptr, &error, false), -1);
    EXPECT_EQ(error, L"Could not open places.sqlite for writing (is Firefox closed?).");
    EXPECT_FALSE(test::PathExists(missing));
    EXPECT_EQ(WriteFirefoxBookmarks(missing, {}, nullptr, nullptr, true), -1);

    test::WriteTextFile(path, std::string(4096, 'x'));
    error.clear();
    EXPECT_EQ(WriteFirefoxBookmarks(path, {}, nullptr, &error, false), -1);
    EXPECT_EQ(error.rfind(L"SQL prepare failed: file is not a database :: ", 0), 0u) << ToUtf8(error);
    EXPECT_EQ(test::ReadTextFile(path), std::string(4096, 'x'));
}

}  // namespace
}  // namespace bm
