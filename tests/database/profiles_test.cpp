// Saved profiles and the bookmarks stored in them.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <ctime>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "tests/database/database_test_support.h"

namespace bm {
namespace {

using test::Bookmark;

class ProfilesTest : public test::DatabaseTest {
protected:
    std::string ErrorOfCreate(const std::wstring& name) {
        try {
            db.CreateProfile(name);
        } catch (const std::runtime_error& e) {
            return e.what();
        }
        return "(no error)";
    }
    int64_t Count(const std::string& table) { return raw().Int("SELECT count(*) FROM " + table); }
};

TEST_F(ProfilesTest, CreateAndListByByteOrder) {
    const int64_t before = std::time(nullptr);
    const int64_t apple = db.CreateProfile(L"apple");
    const int64_t zebra = db.CreateProfile(L"Zebra");
    const int64_t umlaut = db.CreateProfile(L"\u00c4rger");
    const int64_t after = std::time(nullptr);
    EXPECT_GT(zebra, apple);

    const auto profiles = db.ListProfiles();
    ASSERT_EQ(profiles.size(), 3u);
    EXPECT_EQ(profiles[0].name, L"Zebra");
    EXPECT_EQ(profiles[0].id, zebra);
    EXPECT_EQ(profiles[1].name, L"apple");
    EXPECT_EQ(profiles[2].name, L"\u00c4rger");
    EXPECT_EQ(profiles[2].id, umlaut);
    for (const auto& p : profiles) {
        EXPECT_GE(p.created_at, before);
        EXPECT_LE(p.created_at, after);
        EXPECT_EQ(p.updated_at, p.created_at);
    }
}

TEST_F(ProfilesTest, TakenNameFailsWithEngineTextAndChangesNothing) {
    const int64_t work = db.CreateProfile(L"Work");
    const int64_t home = db.CreateProfile(L"Home");
    EXPECT_EQ(ErrorOfCreate(L"Work"), "SQL step failed: UNIQUE constraint failed: profiles.name");
    try {
        db.RenameProfile(home, L"Work");
        ADD_FAILURE() << "renaming to a taken name succeeded";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "SQL step failed: UNIQUE constraint failed: profiles.name");
    }
    ASSERT_EQ(db.ListProfiles().size(), 2u);
    EXPECT_EQ(db.ListProfiles()[0].name, L"Home");

    // The lock is free again for the other thread, and the test is case-sensitive.
    int64_t lower = 0;
    std::thread other([&] { lower = db.CreateProfile(L"work"); });
    other.join();
    EXPECT_GT(lower, work);
}

TEST_F(ProfilesTest, RenameAndTouchMoveUpdatedAt) {
    const int64_t id = db.CreateProfile(L"Old");
    raw().Exec("UPDATE profiles SET updated_at = 5, created_at = 5");
    const int64_t before = std::time(nullptr);

    EXPECT_TRUE(db.RenameProfile(id, L"New \u65e5\u672c"));
    auto profile = db.ListProfiles().at(0);
    EXPECT_EQ(profile.name, L"New \u65e5\u672c");
    EXPECT_EQ(profile.created_at, 5);
    EXPECT_GE(profile.updated_at, before);

    raw().Exec("UPDATE profiles SET updated_at = 5");
    EXPECT_TRUE(db.RenameProfile(id, L"New \u65e5\u672c"));  // its own name: only the time moves
    EXPECT_GE(db.ListProfiles().at(0).updated_at, before);

    raw().Exec("UPDATE profiles SET updated_at = 5");
    db.TouchProfile(id);
    EXPECT_GE(db.ListProfiles().at(0).updated_at, before);

    EXPECT_FALSE(db.RenameProfile(id + 1, L"Nobody"));
    db.TouchProfile(id + 1);
    EXPECT_EQ(db.ListProfiles().size(), 1u);
}

TEST_F(ProfilesTest, DeleteTakesBookmarksAndSnapshotsWithIt) {
    const int64_t gone = db.CreateProfile(L"Gone");
    const int64_t stays = db.CreateProfile(L"Stays");
    db.AddBookmarks(gone, {Bookmark(L"https://a.example", L"A"), Bookmark(L"https://b.example", L"B")});
    db.AddBookmarks(stays, {Bookmark(L"https://a.example", L"A")});
    db.CreateSnapshot(gone, L"Auto-backup before sync");
    db.CreateSnapshot(stays, L"Auto-backup before sync");
    db.SetDefaultProfileId(gone);

    EXPECT_TRUE(db.DeleteProfile(gone));
    EXPECT_FALSE(db.DeleteProfile(gone));
    EXPECT_EQ(Count("bookmarks"), 1);
    EXPECT_EQ(Count("profile_backups"), 1);
    EXPECT_EQ(db.GetBookmarks(stays).size(), 1u);
    EXPECT_EQ(db.GetDefaultProfileId(), gone);  // resetting the default is the caller's work
}

TEST_F(ProfilesTest, AddBookmarksStoresUrlsAsGivenAndSkipsDuplicateKeys) {
    const int64_t id = db.CreateProfile(L"P");
    ASSERT_EQ(db.AddBookmarks(id, {Bookmark(L"https://stored.example/x", L"Stored", L"Bookmarks bar/Old")}), 1);

    BookmarkRecord foreign = Bookmark(L"https://ids.example", L"Ids are ignored");
    foreign.id = 77;
    foreign.profile_id = 999;
    const int64_t before = std::time(nullptr);
    int skipped = -1;
    const int added = db.AddBookmarks(
        id,
        {
            Bookmark(L"HTTPS://Example.COM/Path//", L"First spelling"),
            Bookmark(L"https://example.com/path", L"Second spelling"),          // same key in the same call
            Bookmark(L"https://STORED.example/x/", L"Other title", L"Other"),   // same key as a stored row
            Bookmark(L"https://\u00c4B.example/", L"Accented capital", L"", 0), // date 0: now
            Bookmark(L"///", L"", L"", -5),                                     // only slashes: empty key
            foreign,
        },
        &skipped);
    const int64_t after = std::time(nullptr);
    EXPECT_EQ(added, 4);
    EXPECT_EQ(skipped, 2);

    const auto rows = db.GetBookmarks(id);  // in the order they were added
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[0].url, L"https://stored.example/x");
    EXPECT_EQ(rows[0].title, L"Stored");  // a skipped duplicate does not update the stored row
    EXPECT_EQ(rows[0].folder_path, L"Bookmarks bar/Old");
    EXPECT_EQ(rows[1].url, L"HTTPS://Example.COM/Path//");
    EXPECT_EQ(rows[1].title, L"First spelling");
    EXPECT_EQ(rows[1].date_added, 1);
    EXPECT_EQ(rows[2].url, L"https://\u00c4B.example/");
    EXPECT_GE(rows[2].date_added, before);
    EXPECT_LE(rows[2].date_added, after);
    EXPECT_EQ(rows[3].url, L"///");
    EXPECT_EQ(rows[3].title, L"");
    EXPECT_EQ(rows[3].date_added, -5);
    EXPECT_EQ(rows[4].url, L"https://ids.example");
    EXPECT_EQ(rows[4].profile_id, id);
    EXPECT_NE(rows[4].id, 77);
}

TEST_F(ProfilesTest, EmptyListAddsNothingAndReportsZeroSkipped) {
    const int64_t id = db.CreateProfile(L"P");
    int skipped = -1;
    EXPECT_EQ(db.AddBookmarks(id, {}, &skipped), 0);
    EXPECT_EQ(skipped, 0);
    EXPECT_EQ(db.AddBookmarks(id, {}), 0);
    EXPECT_EQ(Count("bookmarks"), 0);
}

// The order a browser lists its bookmarks in (the bar "Zeta, alpha, Work{Yak, Bee}, Mango") is the
// order of the rows: every read of the profile gives it back, whatever the folders and titles.
TEST_F(ProfilesTest, EveryReadGivesTheBookmarksInTheOrderTheyWereAdded) {
    const std::vector<BookmarkRecord> added = {
        Bookmark(L"https://zeta.example", L"Zeta", L"Bookmarks bar"),
        Bookmark(L"https://alpha.example", L"alpha", L"Bookmarks bar"),
        Bookmark(L"https://yak.example", L"Yak", L"Bookmarks bar/Work"),
        Bookmark(L"https://bee.example", L"Bee", L"Bookmarks bar/Work"),
        Bookmark(L"https://mango.example", L"Mango", L"Bookmarks bar"),
        Bookmark(L"https://caf\u00e9.example", L"Caf\u00e9 \U0001F600", L"Other bookmarks"),
        Bookmark(L"https://alpha.example/", L"Duplicate, skipped", L"Bookmarks bar"),
        Bookmark(L"https://able.example", L"Able", L"Bookmarks bar"),
    };
    std::vector<std::wstring> expected;  // titles, the duplicate left out
    for (const BookmarkRecord& record : added)
        if (record.title != L"Duplicate, skipped") expected.push_back(record.title);

    const int64_t id = db.CreateProfile(L"P");
    const int64_t other = db.CreateProfile(L"Other");
    // Rows of another profile between this one's, as a sync into it would leave them.
    db.AddBookmarks(id, std::vector<BookmarkRecord>(added.begin(), added.begin() + 3));
    db.AddBookmarks(other, {Bookmark(L"https://a.example", L"Not mine")});
    db.AddBookmarks(id, std::vector<BookmarkRecord>(added.begin() + 3, added.end()));

    auto titles = [](const std::vector<BookmarkRecord>& rows) {
        std::vector<std::wstring> list;
        for (const BookmarkRecord& row : rows) list.push_back(row.title);
        return list;
    };
    EXPECT_EQ(titles(db.GetBookmarks(id)), expected) << "GetBookmarks";
    std::vector<std::wstring> visited;
    db.VisitBookmarkTexts(id, [&](std::string_view title, std::string_view, std::string_view) {
        visited.push_back(ToWide(std::string(title)));
    });
    EXPECT_EQ(visited, expected) << "VisitBookmarkTexts";

    const int64_t copy = db.CreateProfile(L"Copy");
    db.ReplaceBookmarks(copy, db.GetBookmarks(id));
    EXPECT_EQ(titles(db.GetBookmarks(copy)), expected) << "a copy into another profile";

    const int64_t snapshot = db.CreateSnapshot(id, L"Auto-backup before sync");
    db.DeleteBookmarksForProfile(id);
    std::wstring error;
    ASSERT_TRUE(db.RestoreSnapshot(snapshot, &error)) << ToUtf8(error);
    EXPECT_EQ(titles(db.GetBookmarks(id)), expected) << "a restored snapshot";

    const auto first = db.GetBookmarks(id).front();
    EXPECT_EQ(first.url, L"https://zeta.example");
    EXPECT_EQ(first.folder_path, L"Bookmarks bar");
    EXPECT_EQ(first.profile_id, id);
    EXPECT_TRUE(db.GetBookmarks(id + 100).empty());
}

// SQLite keeps a text by its length, so a NUL inside one is part of it: every way a profile's rows
// come back gives the text whole, and two URLs that differ only after a NUL are two bookmarks.
TEST_F(ProfilesTest, TextsWithANulInsideComeBackWholeFromEveryRead) {
    const std::wstring nul(1, L'\0');
    const std::vector<BookmarkRecord> records = {
        Bookmark(L"https://a.example/", L"Be" + nul + L"fore", L"Bookmarks bar"),
        Bookmark(L"https://b.example/" + nul + L"x", L"Same URL up to the NUL", L"Bookmarks bar"),
        Bookmark(L"https://b.example/" + nul + L"y", L"URL with a NUL", L"Bookmarks bar"),
        Bookmark(L"https://c.example/", L"In a folder with a NUL", L"Bookmarks bar/Wo" + nul + L"rk"),
        Bookmark(L"https://d.example/", nul + L"\u00e9" + nul, L"Other bookmarks/\u65e5" + nul),
    };
    const int64_t id = db.CreateProfile(L"Na" + nul + L"me");
    ASSERT_EQ(db.AddBookmarks(id, records), static_cast<int>(records.size()));

    auto expectSame = [&](const std::vector<BookmarkRecord>& rows, const char* read) {
        SCOPED_TRACE(read);
        ASSERT_EQ(rows.size(), records.size());
        for (size_t i = 0; i < rows.size(); ++i) {
            EXPECT_EQ(rows[i].url, records[i].url) << i;
            EXPECT_EQ(rows[i].title, records[i].title) << i;
            EXPECT_EQ(rows[i].folder_path, records[i].folder_path) << i;
        }
    };
    expectSame(db.GetBookmarks(id), "GetBookmarks");

    std::vector<BookmarkRecord> visited;
    db.VisitBookmarkTexts(id, [&](std::string_view title, std::string_view url, std::string_view folder) {
        visited.push_back(Bookmark(ToWide(std::string(url)), ToWide(std::string(title)), ToWide(std::string(folder))));
    });
    expectSame(visited, "VisitBookmarkTexts");

    const int64_t snapshot = db.CreateSnapshot(id, L"Auto-backup before sync");
    db.DeleteBookmarksForProfile(id);
    std::wstring error;
    ASSERT_TRUE(db.RestoreSnapshot(snapshot, &error)) << ToUtf8(error);
    expectSame(db.GetBookmarks(id), "snapshot and restore");

    const auto profiles = db.ListProfiles();
    ASSERT_EQ(profiles.size(), 1u);
    EXPECT_EQ(profiles[0].name, L"Na" + nul + L"me");
}

TEST_F(ProfilesTest, CountBookmarksCountsOnlyThatProfilesRows) {
    const int64_t id = db.CreateProfile(L"P");
    const int64_t other = db.CreateProfile(L"Other");
    const int64_t empty = db.CreateProfile(L"Empty");
    std::vector<BookmarkRecord> many;
    for (int i = 0; i < 1500; ++i) many.push_back(Bookmark(L"https://site" + std::to_wstring(i) + L".example", L"T"));
    ASSERT_EQ(db.AddBookmarks(id, many), 1500);
    db.AddBookmarks(other, {Bookmark(L"https://a.example", L"A"), Bookmark(L"https://b.example", L"B")});
    // Rows an older release stored twice under one key are two bookmarks all the same.
    raw().Exec("INSERT INTO bookmarks(profile_id, url, title, folder_path, date_added) VALUES(" +
               std::to_string(other) + ", 'https://A.example/', 'A again', 'Bookmarks bar', 1)");
    db.CreateSnapshot(id, L"Auto-backup before sync");  // snapshots are not bookmarks

    struct Case {
        int64_t profile;
        int64_t expected;
    } cases[] = {{id, 1500}, {other, 3}, {empty, 0}, {other + 100, 0}};
    for (const Case& c : cases) {
        EXPECT_EQ(db.CountBookmarks(c.profile), c.expected) << "profile " << c.profile;
        EXPECT_EQ(db.CountBookmarks(c.profile), static_cast<int64_t>(db.GetBookmarks(c.profile).size()));
    }

    db.DeleteBookmarksForProfile(id);
    EXPECT_EQ(db.CountBookmarks(id), 0);
    EXPECT_EQ(db.CountBookmarks(other), 3);
    db.Close();
    EXPECT_THROW(db.CountBookmarks(other), std::runtime_error);
}

TEST_F(ProfilesTest, DeleteBookmarksForProfileKeepsOtherProfilesAndSnapshots) {
    const int64_t id = db.CreateProfile(L"P");
    const int64_t other = db.CreateProfile(L"Other");
    db.AddBookmarks(id, {Bookmark(L"https://a.example", L"A")});
    db.AddBookmarks(other, {Bookmark(L"https://a.example", L"A")});
    db.CreateSnapshot(id, L"Auto-backup before REPLACE sync");
    db.DeleteBookmarksForProfile(id);
    db.DeleteBookmarksForProfile(id + 100);
    EXPECT_TRUE(db.GetBookmarks(id).empty());
    EXPECT_EQ(db.GetBookmarks(other).size(), 1u);
    EXPECT_EQ(db.ListSnapshots(id).size(), 1u);
}

TEST_F(ProfilesTest, ChangeCountMovesWithEveryWriteAndOnlyThen) {
    const int64_t start = db.ChangeCount();
    const int64_t id = db.CreateProfile(L"P");
    const int64_t afterCreate = db.ChangeCount();
    EXPECT_GT(afterCreate, start);
    db.ListProfiles();
    db.GetBookmarks(id);
    db.GetBrowserConfig(L"chrome");
    EXPECT_EQ(db.ChangeCount(), afterCreate);  // reads change nothing
    db.RenameProfile(id + 100, L"nobody");     // no row matched
    EXPECT_EQ(db.ChangeCount(), afterCreate);
    db.SetBrowserConfig(L"chrome", id, L"");
    const int64_t afterConfig = db.ChangeCount();
    EXPECT_GT(afterConfig, afterCreate);
    db.CreateSnapshot(id, L"s");
    EXPECT_GT(db.ChangeCount(), afterConfig);
    db.Close();
    EXPECT_EQ(db.ChangeCount(), 0);
}

TEST_F(ProfilesTest, ReplaceBookmarksSwapsTheWholeSetAndLeavesOtherProfiles) {
    const int64_t id = db.CreateProfile(L"P");
    const int64_t other = db.CreateProfile(L"Other");
    db.AddBookmarks(id, {Bookmark(L"https://old.example", L"Old"), Bookmark(L"https://both.example", L"Both")});
    db.AddBookmarks(other, {Bookmark(L"https://old.example", L"Old")});

    int skipped = -1;
    // The old rows are gone before the duplicate test, so a URL of the old set is stored again (as
    // given); a repeat within the new list is still a duplicate.
    EXPECT_EQ(db.ReplaceBookmarks(id,
                                  {Bookmark(L"https://Both.example/", L"Both again"), Bookmark(L"https://new.example", L"New"),
                                   Bookmark(L"https://new.example/", L"Repeat")},
                                  &skipped),
              2);
    EXPECT_EQ(skipped, 1);
    std::vector<std::wstring> urls;
    for (const BookmarkRecord& record : db.GetBookmarks(id)) urls.push_back(record.url + L"|" + record.title);
    EXPECT_EQ(urls, (std::vector<std::wstring>{L"https://Both.example/|Both again", L"https://new.example|New"}));
    EXPECT_EQ(db.GetBookmarks(other).size(), 1u);

    EXPECT_EQ(db.ReplaceBookmarks(id, {}, &skipped), 0);
    EXPECT_EQ(skipped, 0);
    EXPECT_TRUE(db.GetBookmarks(id).empty());
}

TEST_F(ProfilesTest, ReplaceBookmarksThatFailsMidwayKeepsTheOldSet) {
    const int64_t id = db.CreateProfile(L"P");
    db.AddBookmarks(id, {Bookmark(L"https://old1.example", L"Old 1"), Bookmark(L"https://old2.example", L"Old 2")});
    raw().Exec("CREATE TRIGGER refuse BEFORE INSERT ON bookmarks WHEN NEW.title = 'third' "
               "BEGIN SELECT RAISE(ABORT, 'refused by test'); END;");
    std::string failure;
    try {
        db.ReplaceBookmarks(id, {Bookmark(L"https://n1.example", L"first"), Bookmark(L"https://n2.example", L"second"),
                                 Bookmark(L"https://n3.example", L"third")});
    } catch (const std::runtime_error& e) {
        failure = e.what();
    }
    EXPECT_EQ(failure, "SQL step failed: refused by test");
    const std::vector<BookmarkRecord> kept = db.GetBookmarks(id);
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept[0].url, L"https://old1.example");
    EXPECT_EQ(kept[1].url, L"https://old2.example");
    EXPECT_TRUE(raw().CanWrite()) << "the failed replace left its transaction open";

    // An unknown profile fails its foreign key and changes nothing either.
    EXPECT_THROW(db.ReplaceBookmarks(id + 100, {Bookmark(L"https://x.example", L"X")}), std::runtime_error);
    EXPECT_EQ(Count("bookmarks"), 2);
}

}  // namespace
}  // namespace bm
