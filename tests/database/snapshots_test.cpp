// Snapshots of saved profiles: the stored text, pruning, and restoring.
#include <gtest/gtest.h>

#include <ctime>
#include <iterator>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>

#include "database/snapshot_text.h"
#include "tests/database/database_test_support.h"

namespace bm {
namespace {

using test::Bookmark;

class SnapshotsTest : public test::DatabaseTest {
protected:
    void SetUp() override {
        DatabaseTest::SetUp();
        profile = db.CreateProfile(L"P");
    }

    std::string StoredText(int64_t snapshotId) {
        return raw().Text("SELECT snapshot_json FROM profile_backups WHERE id = " + std::to_string(snapshotId));
    }
    // A snapshot row written the way a damaged or hand-edited file might hold it.
    int64_t InsertSnapshotText(const std::string& text, int64_t count, int64_t profileId = 0) {
        raw().Exec("INSERT INTO profile_backups(profile_id, created_at, label, bookmark_count, snapshot_json) VALUES(" +
                   std::to_string(profileId ? profileId : profile) + ", 100, 'Hand-made', " + std::to_string(count) +
                   ", '" + text + "')");
        return raw().Int("SELECT max(id) FROM profile_backups");
    }
    // The profile's bookmarks and snapshots as rows, to show that nothing changed.
    std::string State() {
        return raw().Text("SELECT group_concat(id || url || title, ';') FROM bookmarks") + "|" +
               raw().Text("SELECT group_concat(id || label || bookmark_count, ';') FROM profile_backups") + "|" +
               raw().Text("SELECT updated_at FROM profiles WHERE id = " + std::to_string(profile));
    }
    // Gives the profile's snapshots distinct times, oldest first in id order.
    void SpreadSnapshotTimes() { raw().Exec("UPDATE profile_backups SET created_at = 1000 + id"); }

    std::vector<std::wstring> Urls() {
        std::vector<std::wstring> urls;
        for (const auto& b : db.GetBookmarks(profile)) urls.push_back(b.url);
        return urls;
    }

    int64_t profile = 0;
};

TEST_F(SnapshotsTest, TextIsCompactSortedUtf8WithOnlyRequiredEscapes) {
    db.AddBookmarks(profile, {Bookmark(L"https://example.com/a/b", L"Line\nbreak \"q\" back\\slash \x01 tab\t \x1f",
                                       L"Bookmarks bar/Dev", 5),
                              Bookmark(L"https://caf\u00e9.example", L"Caf\u00e9 \u65e5\u672c \U0001F600", L"", -2)});
    const int64_t id = db.CreateSnapshot(profile, L"Auto-backup before sync");
    EXPECT_EQ(StoredText(id),
              "[{\"date_added\":5,\"folder_path\":\"Bookmarks bar/Dev\","
              "\"title\":\"Line\\nbreak \\\"q\\\" back\\\\slash \\u0001 tab\\t \\u001f\",\"url\":\"https://example.com/a/b\"},"
              "{\"date_added\":-2,\"folder_path\":\"\",\"title\":\"Caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80\","
              "\"url\":\"https://caf\xC3\xA9.example\"}]");

    const auto list = db.ListSnapshots(profile);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].id, id);
    EXPECT_EQ(list[0].profile_id, profile);
    EXPECT_EQ(list[0].label, L"Auto-backup before sync");
    EXPECT_EQ(list[0].bookmark_count, 2);
}

// The text is written straight from the stored bytes; it must be exactly what the JSON library
// writes for the same values, whatever bytes the texts hold, and refuse what JSON cannot hold.
TEST(SnapshotText, IsWhatTheJsonLibraryWritesForTheSameValues) {
    std::string everyControl;
    for (int c = 0; c < 0x20; ++c) everyControl.push_back(static_cast<char>(c));
    const std::string texts[] = {
        "",
        everyControl,
        "\x7f quote \" back \\ slash / and text",
        "Caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80 \xEF\xBF\xBD \xF4\x8F\xBF\xBF",
        std::string("nul\0inside", 10),
        std::string(5000, 'x') + "\n",
    };
    const int64_t dates[] = {0, -1, 13300000000000000, INT64_MIN, INT64_MAX};
    nlohmann::json list = nlohmann::json::array();
    SnapshotTextWriter writer;
    for (size_t i = 0; i < std::size(texts); ++i) {
        const std::string& folder = texts[i];
        const std::string& title = texts[(i + 1) % std::size(texts)];
        const std::string& url = texts[(i + 2) % std::size(texts)];
        const int64_t date = dates[i % std::size(dates)];
        ASSERT_TRUE(writer.Add(date, folder, title, url)) << i;
        list.push_back({{"url", url}, {"title", title}, {"folder_path", folder}, {"date_added", date}});
    }
    EXPECT_EQ(writer.count(), static_cast<int32_t>(std::size(texts)));
    EXPECT_EQ(writer.Finish(), list.dump());
    EXPECT_EQ(SnapshotTextWriter().Finish(), "[]");

    // Bytes that are no UTF-8 (a cut sequence, an overlong form, a surrogate, beyond U+10FFFF, a lone
    // continuation byte): the library refuses them, and so does the writer, adding nothing.
    for (const std::string bad : {"a\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\x80", "\xFF"}) {
        SCOPED_TRACE(bad);
        EXPECT_THROW(nlohmann::json(bad).dump(), nlohmann::json::exception);
        SnapshotTextWriter refused;
        ASSERT_TRUE(refused.Add(1, "ok", "ok", "ok"));
        EXPECT_FALSE(refused.Add(2, "ok", bad, "ok"));
        EXPECT_EQ(refused.count(), 1);
        EXPECT_EQ(refused.Finish(), "[{\"date_added\":1,\"folder_path\":\"ok\",\"title\":\"ok\",\"url\":\"ok\"}]");
    }
}

TEST_F(SnapshotsTest, ProfileHoldingBytesThatAreNoUtf8GetsNoSnapshotAndSaysWhy) {
    raw().Exec("INSERT INTO bookmarks(profile_id, url, title, folder_path, date_added) VALUES(" + std::to_string(profile) +
               ", 'https://a.example', CAST(X'4361C3' AS TEXT), '', 1)");
    try {
        db.CreateSnapshot(profile, L"Auto-backup before sync");
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()).rfind("A bookmark of this profile holds text that is not valid UTF-8", 0), 0u)
            << e.what();
    }
    EXPECT_TRUE(db.ListSnapshots(profile).empty());
    EXPECT_TRUE(raw().CanWrite());
}

TEST_F(SnapshotsTest, EmptyProfileGivesEmptyArrayAndRestoringItEmptiesTheProfile) {
    const int64_t id = db.CreateSnapshot(profile, L"Auto-backup before import");
    EXPECT_EQ(StoredText(id), "[]");
    EXPECT_EQ(db.ListSnapshots(profile).at(0).bookmark_count, 0);

    db.AddBookmarks(profile, {Bookmark(L"https://a.example", L"A")});
    std::wstring error = L"untouched";
    EXPECT_TRUE(db.RestoreSnapshot(id, &error));
    EXPECT_EQ(error, L"untouched");
    EXPECT_TRUE(db.GetBookmarks(profile).empty());
}

TEST_F(SnapshotsTest, SnapshotOfUnknownProfileThrowsAndStoresNothing) {
    try {
        db.CreateSnapshot(profile + 100, L"Auto-backup before sync");
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "SQL step failed: FOREIGN KEY constraint failed");
    }
    EXPECT_EQ(raw().Int("SELECT count(*) FROM profile_backups"), 0);
}

TEST_F(SnapshotsTest, KeepsNewestTwentyPerProfile) {
    const int64_t other = db.CreateProfile(L"Other");
    for (int i = 0; i < 3; ++i) db.CreateSnapshot(other, L"Auto-backup before sync");
    int64_t oldest = 0;
    for (int i = 0; i < 20; ++i) {
        const int64_t id = db.CreateSnapshot(profile, L"Auto-backup before sync");
        if (i == 0) oldest = id;
    }
    SpreadSnapshotTimes();
    EXPECT_EQ(db.ListSnapshots(profile).size(), 20u);

    const int64_t newest = db.CreateSnapshot(profile, L"Auto-backup before REPLACE sync");
    const auto list = db.ListSnapshots(profile);
    ASSERT_EQ(list.size(), 20u);
    EXPECT_EQ(list.front().id, newest);
    for (const auto& s : list) EXPECT_NE(s.id, oldest);
    for (size_t i = 1; i < list.size(); ++i) EXPECT_GE(list[i - 1].created_at, list[i].created_at);
    EXPECT_EQ(db.ListSnapshots(other).size(), 3u);
}

TEST_F(SnapshotsTest, DeleteSnapshotReportsWhetherARowWent) {
    const int64_t id = db.CreateSnapshot(profile, L"Auto-backup before sync");
    EXPECT_TRUE(db.DeleteSnapshot(id));
    EXPECT_FALSE(db.DeleteSnapshot(id));
    EXPECT_TRUE(db.ListSnapshots(profile).empty());
}

TEST_F(SnapshotsTest, RestoreTakesAutomaticSnapshotThenReplacesBookmarks) {
    db.AddBookmarks(profile, {Bookmark(L"https://a.example", L"A", L"Bookmarks bar", 10),
                              Bookmark(L"https://b.example", L"B", L"Bookmarks bar/Sub", 20)});
    const auto original = db.GetBookmarks(profile);
    const int64_t id = db.CreateSnapshot(profile, L"Auto-backup before sync");
    db.DeleteBookmarksForProfile(profile);
    db.AddBookmarks(profile, {Bookmark(L"https://c.example", L"C")});
    raw().Exec("UPDATE profiles SET updated_at = 5");
    const int64_t before = std::time(nullptr);

    ASSERT_TRUE(db.RestoreSnapshot(id));
    const auto restored = db.GetBookmarks(profile);
    ASSERT_EQ(restored.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(restored[i].url, original[i].url);
        EXPECT_EQ(restored[i].title, original[i].title);
        EXPECT_EQ(restored[i].folder_path, original[i].folder_path);
        EXPECT_EQ(restored[i].date_added, original[i].date_added);
        EXPECT_GT(restored[i].id, original[i].id);
    }
    EXPECT_GE(db.ListProfiles().at(0).updated_at, before);

    const auto list = db.ListSnapshots(profile);
    ASSERT_EQ(list.size(), 2u);
    const SnapshotInfo& automatic = list[0].id > list[1].id ? list[0] : list[1];
    EXPECT_EQ(automatic.label, L"Auto-backup before restore");
    EXPECT_EQ(automatic.bookmark_count, 1);
    EXPECT_NE(StoredText(automatic.id).find("https://c.example"), std::string::npos);
}

// The snapshot just restored stays listed (the user would see it vanish otherwise); the oldest of the
// others makes room for the automatic one.
TEST_F(SnapshotsTest, RestoringTheOldestOfTwentyKeepsItListed) {
    db.AddBookmarks(profile, {Bookmark(L"https://first.example", L"First")});
    const int64_t oldest = db.CreateSnapshot(profile, L"Auto-backup before sync");
    db.AddBookmarks(profile, {Bookmark(L"https://later.example", L"Later")});
    const int64_t secondOldest = db.CreateSnapshot(profile, L"Auto-backup before sync");
    for (int i = 0; i < 18; ++i) db.CreateSnapshot(profile, L"Auto-backup before sync");
    SpreadSnapshotTimes();

    ASSERT_TRUE(db.RestoreSnapshot(oldest));
    EXPECT_EQ(Urls(), std::vector<std::wstring>{L"https://first.example"});
    const auto list = db.ListSnapshots(profile);
    ASSERT_EQ(list.size(), 20u);
    EXPECT_EQ(list.front().label, L"Auto-backup before restore");
    EXPECT_EQ(list.back().id, oldest);
    for (const auto& s : list) EXPECT_NE(s.id, secondOldest);

    // Restoring it again keeps it again, and the bound holds.
    ASSERT_TRUE(db.RestoreSnapshot(oldest));
    const auto again = db.ListSnapshots(profile);
    ASSERT_EQ(again.size(), 20u);
    EXPECT_EQ(again.back().id, oldest);
}

TEST_F(SnapshotsTest, MissingSnapshotIsReportedWithoutTakingOne) {
    std::wstring error;
    EXPECT_FALSE(db.RestoreSnapshot(12345, &error));
    EXPECT_EQ(error, L"Snapshot not found.");
    EXPECT_FALSE(db.RestoreSnapshot(12345, nullptr));
    EXPECT_TRUE(db.ListSnapshots(profile).empty());
}

// Element texts of a snapshot as Orvellane writes them, with other values where a test needs them.
std::string Element(const std::string& url, const std::string& date = "1", const std::string& title = "\"t\"") {
    return "{\"date_added\":" + date + ",\"folder_path\":\"\",\"title\":" + title + ",\"url\":\"" + url + "\"}";
}

TEST_F(SnapshotsTest, StoredValuesAreRestoredAsTheyAre) {
    const struct {
        std::string text;
        int64_t count;
        std::vector<std::wstring> urls;  // in id order
        int64_t firstDate;
    } cases[] = {
        {"[]", 0, {}, 0},
        {"[" + Element("HTTPS://X.org/", "0") + "]", 1, {L"HTTPS://X.org/"}, 0},
        {"[" + Element("f", "12.9") + "," + Element("g", "-3.7") + "]", 2, {L"f", L"g"}, 12},
        {"[" + Element("big", "1e30") + "]", 1, {L"big"}, INT64_MAX},
        // Members in another order, and one more that this version does not know.
        {"[{\"url\":\"u\",\"title\":\"t\",\"extra\":[1],\"folder_path\":\"\",\"date_added\":7}]", 1, {L"u"}, 7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        db.AddBookmarks(profile, {Bookmark(L"https://before.example", L"Before")});
        std::wstring error;
        ASSERT_TRUE(db.RestoreSnapshot(InsertSnapshotText(c.text, c.count), &error)) << ToUtf8(error);
        std::vector<std::wstring> urls;
        for (int64_t rowid = 0;;) {
            const std::string next = raw().Text("SELECT min(id) FROM bookmarks WHERE profile_id = " +
                                                std::to_string(profile) + " AND id > " + std::to_string(rowid));
            if (next.empty()) break;
            rowid = std::stoll(next);
            urls.push_back(ToWide(raw().Text("SELECT url FROM bookmarks WHERE id = " + next)));
            if (urls.size() == 1) {
                EXPECT_EQ(raw().Int("SELECT date_added FROM bookmarks WHERE id = " + next), c.firstDate);
                EXPECT_EQ(raw().Text("SELECT folder_path FROM bookmarks WHERE id = " + next), "");
            }
        }
        EXPECT_EQ(urls, c.urls);
    }
}

// A snapshot whose text is damaged is refused in words before anything changes: the profile keeps
// its bookmarks and its list of snapshots (no automatic snapshot pushes a good one out).
TEST_F(SnapshotsTest, DamagedSnapshotIsRefusedInWordsAndNothingChanges) {
    std::string thousand = "[";
    for (int i = 0; i < 1000; ++i) thousand += (i ? "," : "") + Element("https://site" + std::to_string(i) + ".example");
    thousand += "]";
    std::string renamed = thousand;
    renamed.replace(renamed.find("\"url\""), 5, "\"uri\"");
    const std::string twice = thousand.substr(0, thousand.size() - 1) + "," + Element("https://site7.example") + "]";
    const std::string sayPrefix = "The snapshot is damaged and was not restored; nothing was changed. Its text ";
    const struct {
        const char* name;
        std::string text;
        int64_t count;
        std::string says;  // after sayPrefix
    } cases[] = {
        {"an empty list for 1000", "[]", 1000, "holds 0 bookmark(s), but the snapshot was taken of 1000."},
        {"null", "null", 1000, "holds no list of bookmarks."},
        {"null for none", "null", 0, "holds no list of bookmarks."},
        {"a renamed url key", renamed, 1000, "is not as Orvellane writes it: bookmark 1 of 1000 has no URL."},
        {"fewer than stored", thousand, 1001, "holds 1000 bookmark(s), but the snapshot was taken of 1001."},
        {"a title that is a number", "[" + Element("a", "1", "1") + "]", 1,
         "is not as Orvellane writes it: bookmark 1 of 1 has a title that is not text."},
        {"a null url", "[" + Element("ok") + ",{\"date_added\":1,\"folder_path\":\"\",\"title\":\"t\",\"url\":null}]", 2,
         "is not as Orvellane writes it: bookmark 2 of 2 has a URL that is not text."},
        {"a date that is text", "[" + Element("ok") + "," + Element("x", "\"5\"") + "]", 2,
         "is not as Orvellane writes it: bookmark 2 of 2 has a date that is not a number."},
        {"no title", "[{\"date_added\":1,\"folder_path\":\"\",\"url\":\"u\"}]", 1,
         "is not as Orvellane writes it: bookmark 1 of 1 has no title."},
        {"a number for a record", "[" + Element("ok") + ",1]", 2, "is not as Orvellane writes it: bookmark 2 of 2 is not a bookmark record."},
        {"records by name", "{\"a\":" + Element("u") + "}", 1, "holds no list of bookmarks."},
        {"text alone", "\"just text\"", 0, "holds no list of bookmarks."},
        {"an empty url", "[" + Element("ok") + "," + Element("") + "]", 2,
         "is not as Orvellane writes it: bookmark 2 of 2 has an empty URL."},
        {"a record twice", twice, 1001, "is not as Orvellane writes it: bookmark 1001 of 1001 has the same URL as bookmark 8."},
        {"one address twice in other letters", "[" + Element("https://a.example/x") + "," + Element("https://A.example/x//") + "]", 2,
         "is not as Orvellane writes it: bookmark 2 of 2 has the same URL as bookmark 1."},
        {"not JSON", "not json", 1, "is not valid JSON (at byte 2)."},
        {"a comment", "[" + Element("a") + " // comment\n]", 1, "is not valid JSON (at byte 58)."},
        {"cut short", thousand.substr(0, 500), 1000, "is not valid JSON (at byte 501)."},
    };
    db.AddBookmarks(profile, {Bookmark(L"https://kept.example", L"Kept")});
    db.CreateSnapshot(profile, L"Auto-backup before sync");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const int64_t id = InsertSnapshotText(c.text, c.count);
        const std::string before = State();
        std::wstring error;
        EXPECT_FALSE(db.RestoreSnapshot(id, &error));
        EXPECT_EQ(ToUtf8(error), sayPrefix + c.says);
        EXPECT_EQ(ToUtf8(error).find("json"), std::string::npos);
        EXPECT_EQ(State(), before);
        EXPECT_FALSE(db.RestoreSnapshot(id, nullptr));
        EXPECT_TRUE(raw().CanWrite());
        db.DeleteSnapshot(id);
    }
    ASSERT_EQ(db.GetBookmarks(profile).size(), 1u);
    EXPECT_EQ(db.ListSnapshots(profile).size(), 1u);
}

TEST_F(SnapshotsTest, FailedCommitOfRestoreRollsBackAndReportsTheEngineText) {
    raw().Exec(
        "CREATE TABLE poison_parent(id INTEGER PRIMARY KEY);"
        "CREATE TABLE poison_child(pid INTEGER REFERENCES poison_parent(id) DEFERRABLE INITIALLY DEFERRED);"
        "CREATE TRIGGER poison AFTER INSERT ON bookmarks WHEN NEW.title = 'poison' "
        "BEGIN INSERT INTO poison_child VALUES(999); END;");
    db.AddBookmarks(profile, {Bookmark(L"https://kept.example", L"Kept")});
    std::wstring error;
    const int64_t id = InsertSnapshotText("[" + Element("u", "1", "\"poison\"") + "]", 1);
    const std::string before = State();
    EXPECT_FALSE(db.RestoreSnapshot(id, &error));
    EXPECT_EQ(error, L"SQL step failed: FOREIGN KEY constraint failed");
    EXPECT_EQ(Urls(), std::vector<std::wstring>{L"https://kept.example"});
    // The automatic snapshot went with the rest of the failed restore.
    EXPECT_EQ(State(), before);
    EXPECT_TRUE(raw().CanWrite());
    EXPECT_EQ(db.AddBookmarks(profile, {Bookmark(L"https://next.example", L"Next")}), 1);
}

TEST_F(SnapshotsTest, AutomaticSnapshotThatFailsStopsTheRestoreBeforeAnyChange) {
    // A snapshot row whose profile is gone (written with foreign keys off, as another program might).
    const int64_t orphan = InsertSnapshotText("[" + Element("u") + "]", 1, profile + 100);
    try {
        db.RestoreSnapshot(orphan);
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "SQL step failed: FOREIGN KEY constraint failed");
    }
    EXPECT_EQ(raw().Int("SELECT count(*) FROM bookmarks"), 0);
    EXPECT_TRUE(raw().CanWrite());
}

}  // namespace
}  // namespace bm
