// Opening, schema, closing, and what every operation guarantees after a failure.
#include "database/app_database.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <thread>

#include "tests/database/database_test_support.h"

namespace bm {
namespace {

using test::Bookmark;
using test::DatabaseTest;
using test::RawConnection;
using test::TempDir;

std::string ErrorText(const std::function<void()>& operation) {
    try {
        operation();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "(no error)";
}

TEST(AppDatabaseOpen, NewFileGetsEveryTableAndIndex) {
    TempDir dir;
    const std::wstring path = dir / L"app_data.db";
    AppDatabase db;
    ASSERT_TRUE(db.Open(path));
    EXPECT_TRUE(test::PathExists(path));

    RawConnection raw(path);
    EXPECT_EQ(raw.Text("SELECT group_concat(name, ',') FROM (SELECT name FROM sqlite_master "
                       "WHERE name NOT LIKE 'sqlite_%' ORDER BY name)"),
              "app_settings,bookmarks,browser_configs,idx_bookmarks_profile,idx_profile_backups_profile,"
              "profile_backups,profiles");
    const struct {
        const char* table;
        const char* columns;
    } tables[] = {
        {"profiles", "id,name,created_at,updated_at"},
        {"bookmarks", "id,profile_id,url,title,folder_path,date_added"},
        {"browser_configs", "id,browser_key,custom_path,bound_profile_id"},
        {"app_settings", "key,value"},
        {"profile_backups", "id,profile_id,created_at,label,bookmark_count,snapshot_json"},
    };
    for (const auto& t : tables) {
        EXPECT_EQ(raw.Text(std::string("SELECT group_concat(name, ',') FROM pragma_table_info('") + t.table + "')"),
                  t.columns)
            << t.table;
    }
    EXPECT_EQ(raw.Text("SELECT group_concat(name, ',') FROM pragma_index_info('idx_bookmarks_profile')"), "profile_id");
    EXPECT_EQ(raw.Text("SELECT group_concat(name, ',') FROM pragma_index_info('idx_profile_backups_profile')"),
              "profile_id,created_at");
}

TEST(AppDatabaseOpen, ExistingFileKeepsItsRows) {
    TempDir dir;
    const std::wstring path = dir / L"app_data.db";
    int64_t profileId = 0;
    {
        AppDatabase db;
        ASSERT_TRUE(db.Open(path));
        profileId = db.CreateProfile(L"Work");
        db.AddBookmarks(profileId, {test::Bookmark(L"https://a.example", L"A")});
        db.CreateSnapshot(profileId, L"Auto-backup before sync");
        db.SetSetting(L"theme", L"dark");
        db.SetBrowserConfig(L"edge", 0, L"C:\\Edge\\Bookmarks");
    }
    AppDatabase db;
    ASSERT_TRUE(db.Open(path));
    ASSERT_EQ(db.ListProfiles().size(), 1u);
    EXPECT_EQ(db.GetBookmarks(profileId).size(), 1u);
    EXPECT_EQ(db.ListSnapshots(profileId).size(), 1u);
    EXPECT_EQ(db.GetSetting(L"theme", L""), L"dark");
    EXPECT_EQ(db.GetBrowserConfig(L"edge").custom_path, L"C:\\Edge\\Bookmarks");
}

TEST(AppDatabaseOpen, NonAsciiPathIsCreatedUnderItsName) {
    TempDir dir;
    const std::wstring folder = dir / L"M\u00fcller \u65e5\u672c";
    test::MakeDirs(folder);
    AppDatabase db;
    ASSERT_TRUE(db.Open(folder + L"\\app_data.db"));
    EXPECT_TRUE(test::PathExists(folder + L"\\app_data.db"));
}

TEST(AppDatabaseOpen, FolderThatDoesNotExistGivesFalseWithSQLitesReasonAndStaysClosed) {
    TempDir dir;
    const std::wstring path = dir / L"missing\\app_data.db";
    AppDatabase db;
    std::wstring error;
    EXPECT_FALSE(db.Open(path, &error));
    EXPECT_EQ(error, L"SQLite could not open or create it: unable to open database file.");
    EXPECT_FALSE(test::PathExists(path));
    db.Close();
    db.Close();
    // A closed database refuses operations with an error instead of touching a null connection.
    EXPECT_EQ(ErrorText([&] { db.ListProfiles(); }), "The profile database is not open.");
    EXPECT_EQ(ErrorText([&] { db.RestoreSnapshot(1, nullptr); }), "The profile database is not open.");
}

// The header marks of a file, read with a connection of its own.
struct Marks {
    int64_t applicationId;
    int64_t userVersion;
};
Marks ReadMarks(const std::wstring& path) {
    RawConnection raw(path);
    return {raw.Int("PRAGMA application_id;"), raw.Int("PRAGMA user_version;")};
}

void MakeRawDatabase(const std::wstring& path, const std::string& sql) {
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(ToUtf8(path).c_str(), &raw), SQLITE_OK);
    char* message = nullptr;
    const int rc = sqlite3_exec(raw, sql.c_str(), nullptr, nullptr, &message);
    const std::string text = message ? message : "";
    sqlite3_free(message);
    sqlite3_close(raw);
    ASSERT_EQ(rc, SQLITE_OK) << text;
}

// The tables of the release that did not mark its files yet, with one saved profile.
const char* const kUnmarkedRelease = R"sql(
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
INSERT INTO profiles(name, created_at, updated_at) VALUES('Work', 1, 1);
INSERT INTO bookmarks(profile_id, url, title, date_added) VALUES(1, 'https://kept.example', 'Kept', 1);
)sql";

TEST(AppDatabaseOpen, OwnFilesAreOpenedAndMarked) {
    struct Case {
        const char* name;
        std::string setup;  // SQL run on a new file first; "" leaves no file, "-" an empty file
        int64_t profiles;   // saved profiles afterwards
    };
    const Case cases[] = {
        {"no file yet", "", 0},
        {"an empty file", "-", 0},
        {"a release without marks", kUnmarkedRelease, 1},
        {"only some of our tables", "CREATE TABLE app_settings (key TEXT PRIMARY KEY, value TEXT NOT NULL);", 0},
        {"marked by this version",
         std::string(kUnmarkedRelease) + "PRAGMA application_id = 1332901484; PRAGMA user_version = 2;", 1},
        {"marked, schema version 1",
         std::string(kUnmarkedRelease) + "PRAGMA application_id = 1332901484; PRAGMA user_version = 1;", 1},
        {"marked, an older schema version",
         std::string(kUnmarkedRelease) + "PRAGMA application_id = 1332901484; PRAGMA user_version = 0;", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::wstring path = dir / L"app_data.db";
        if (c.setup == "-")
            test::WriteTextFile(path, "");
        else if (!c.setup.empty())
            MakeRawDatabase(path, c.setup);
        {
            AppDatabase db;
            std::wstring error;
            ASSERT_TRUE(db.Open(path, &error)) << ToUtf8(error);
            EXPECT_EQ(error, L"");
            EXPECT_EQ(static_cast<int64_t>(db.ListProfiles().size()), c.profiles);
            db.SetSetting(L"theme", L"light");  // every table is there to write to
        }
        const Marks marks = ReadMarks(path);
        EXPECT_EQ(marks.applicationId, 0x4F72766C);  // "Orvl"
        EXPECT_EQ(marks.userVersion, 2);
    }
}

TEST(AppDatabaseOpen, FilesThatAreNotOursOrNewerOrDamagedAreRefusedAndLeftUnchanged) {
    struct Case {
        const char* name;
        std::string setup;      // SQL run on a new file; "#" writes bytes that are no database
        const wchar_t* reason;  // the error text before " The file was left unchanged."
    };
    const Case cases[] = {
        {"another program's tables", "CREATE TABLE moz_places(id INTEGER PRIMARY KEY, url TEXT);",
         L"It belongs to another program: it holds tables that are not Orvellane's ('moz_places')."},
        {"our tables and one more", std::string(kUnmarkedRelease) + "CREATE TABLE notes(id INTEGER);",
         L"It belongs to another program: it holds tables that are not Orvellane's ('notes')."},
        {"a table of our name with other columns", "CREATE TABLE bookmarks(id INTEGER PRIMARY KEY, profile_id INTEGER);",
         L"It belongs to another program: it holds tables that are not Orvellane's ('bookmarks')."},
        {"a view under our name", "CREATE VIEW app_settings AS SELECT 1 AS key, 2 AS value;",
         L"It belongs to another program: it holds tables that are not Orvellane's ('app_settings')."},
        {"another program's mark", "PRAGMA application_id = 305419896;",
         L"It belongs to another program (its application_id is 0x12345678, not Orvellane's)."},
        {"another mark on our tables", std::string(kUnmarkedRelease) + "PRAGMA application_id = 1;",
         L"It belongs to another program (its application_id is 0x00000001, not Orvellane's)."},
        {"a newer schema",
         std::string(kUnmarkedRelease) + "PRAGMA application_id = 1332901484; PRAGMA user_version = 3;",
         L"It was made by a newer version of Orvellane (schema version 3; this version knows up to 2)."},
        {"marked, a table lacking columns",
         "PRAGMA application_id = 1332901484; PRAGMA user_version = 1; CREATE TABLE app_settings(key TEXT);",
         L"Its table 'app_settings' does not have the columns Orvellane expects."},
        {"bytes that are no database", "#", L"It is not a database file, or the start of it is damaged."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::wstring path = dir / L"app_data.db";
        if (c.setup == "#")
            test::WriteTextFile(path, std::string(600, 'x') + "\nthese are not the bytes of a database\n");
        else
            MakeRawDatabase(path, c.setup);
        const std::string before = test::ReadTextFile(path);

        AppDatabase db;
        std::wstring error;
        EXPECT_FALSE(db.Open(path, &error));
        EXPECT_EQ(error, std::wstring(c.reason) + L" The file was left unchanged.");
        EXPECT_EQ(ErrorText([&] { db.ListProfiles(); }), "The profile database is not open.");
        db.Close();
        EXPECT_EQ(test::ReadTextFile(path), before);
        EXPECT_FALSE(test::PathExists(path + L"-journal"));
    }
}

TEST(AppDatabaseOpen, CutShortFileIsRefusedAsDamaged) {
    TempDir dir;
    const std::wstring path = dir / L"app_data.db";
    {
        AppDatabase db;
        ASSERT_TRUE(db.Open(path));
        db.CreateProfile(L"Work");
    }
    // The first page holds the schema; half of it is not enough to read the tables.
    const std::string whole = test::ReadTextFile(path);
    ASSERT_GT(whole.size(), 2048u);
    test::WriteTextFile(path, whole.substr(0, 2048));
    AppDatabase db;
    std::wstring error;
    EXPECT_FALSE(db.Open(path, &error));
    EXPECT_EQ(error, L"SQLite finds it damaged: part of the file does not hold what SQLite wrote there. The file was "
                     L"left unchanged.");
    EXPECT_TRUE(db.FoundDamaged());
    EXPECT_EQ(test::ReadTextFile(path), whole.substr(0, 2048));
}

// One damaged page, with the header and the schema sound: found by SQLite's check, which runs after
// Open has returned (reads go on meanwhile), before anything is written: a write waits for it and
// fails in words, settings kept meanwhile are dropped, and the file is left byte for byte as it was.
TEST(AppDatabaseOpen, FileWithADamagedPageIsNeverWrittenInto) {
    const struct {
        const char* name;
        test::DamagedPage page;
    } cases[] = {
        {"a table's page", test::DamagedPage::BookmarksRoot},
        {"a snapshot's page", test::DamagedPage::SnapshotPage},
    };
    const std::string damagedWords =
        "SQLite finds it damaged: part of the file does not hold what SQLite wrote there. The file was left unchanged.";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::wstring path = dir / L"app_data.db";
        const std::string damaged = test::MakeDamagedDatabase(path, c.page);

        AppDatabase db;
        bool told = false;
        db.SetFileCheckedCallback([&told] { told = true; });
        std::wstring error;
        ASSERT_TRUE(db.Open(path, &error)) << ToUtf8(error);
        db.SetSetting(L"theme", L"dark");  // kept in memory, or refused once the check has ended
        EXPECT_EQ(ErrorText([&] { db.CreateProfile(L"New"); }), "Nothing was saved: app_data.db cannot be used. " + damagedWords);
        db.WaitForFileCheck();
        EXPECT_TRUE(db.FoundDamaged());
        EXPECT_EQ(ToUtf8(db.TroubleReason()), damagedWords);
        EXPECT_EQ(ErrorText([&] { db.SetSetting(L"theme", L"dark"); }), "Nothing was saved: app_data.db cannot be used. " + damagedWords);
        EXPECT_EQ(ErrorText([&] { db.DeleteProfile(1); }), "Nothing was saved: app_data.db cannot be used. " + damagedWords);
        db.Close();
        EXPECT_TRUE(told);
        EXPECT_TRUE(test::ReadTextFile(path) == damaged);
        EXPECT_FALSE(test::PathExists(path + L"-journal"));

        // A sound file clears the finding.
        EXPECT_TRUE(db.Open(dir / L"other.db"));
        EXPECT_FALSE(db.FoundDamaged());
    }
}

// While the check of a sound file runs, settings are kept in memory (and read back from there); once
// it has passed they are in the file, and writes go straight in.
TEST(AppDatabaseOpen, SettingsWrittenDuringTheCheckReachTheFileAfterIt) {
    TempDir dir;
    const std::wstring path = dir / L"app_data.db";
    {
        AppDatabase db;
        ASSERT_TRUE(db.Open(path));
        db.CreateProfile(L"Work");
    }
    {
        AppDatabase db;
        ASSERT_TRUE(db.Open(path));
        db.SetSetting(L"theme", L"dark");
        db.SetDefaultProfileId(7);
        EXPECT_EQ(db.GetSetting(L"theme", L""), L"dark");
        EXPECT_EQ(db.GetDefaultProfileId(), 7);
        EXPECT_EQ(db.ListProfiles().size(), 1u);
        db.Close();
        EXPECT_EQ(db.Trouble(), DatabaseTrouble::None);
    }
    AppDatabase db;
    ASSERT_TRUE(db.Open(path));
    db.WaitForFileCheck();
    EXPECT_EQ(db.GetSetting(L"theme", L""), L"dark");
    EXPECT_EQ(db.GetDefaultProfileId(), 7);
    db.SetSetting(L"theme", L"light");
    EXPECT_EQ(db.GetSetting(L"theme", L""), L"light");
}

TEST(AppDatabaseOpen, PathLongerThan260CharactersIsCreated) {
    // Non-ASCII folder names: over 1040 bytes of UTF-8, beyond what SQLite's default Windows layer takes.
    TempDir dir;
    std::wstring folder = dir.path();
    for (wchar_t part = L'\u65e5'; folder.size() < 420; ++part) folder += L"\\" + std::wstring(40, part);
    test::MakeDirs(folder);
    const std::wstring path = folder + L"\\app_data.db";
    ASSERT_GT(path.size(), 260u);
    ASSERT_GT(ToUtf8(path).size(), 1040u);
    {
        AppDatabase db;
        std::wstring error;
        ASSERT_TRUE(db.Open(path, &error)) << ToUtf8(error);
        db.SetSetting(L"theme", L"light");
    }
    AppDatabase db;
    ASSERT_TRUE(db.Open(path));
    EXPECT_EQ(db.GetSetting(L"theme", L""), L"light");
}

TEST(AppDatabaseOpen, OpeningTwiceAndClosingTwiceAreSafe) {
    TempDir dir;
    AppDatabase db;
    ASSERT_TRUE(db.Open(dir / L"first.db"));
    db.CreateProfile(L"In first");
    ASSERT_TRUE(db.Open(dir / L"second.db"));
    EXPECT_TRUE(db.ListProfiles().empty());
    db.Close();
    db.Close();
    ASSERT_TRUE(db.Open(dir / L"first.db"));
    EXPECT_EQ(db.ListProfiles().size(), 1u);
}

// Failures inside a transaction: the whole call is undone, the lock is free, no transaction stays
// open (another connection can write), and the next operation works.
class TransactionFailureTest : public DatabaseTest {
protected:
    void SetUp() override {
        DatabaseTest::SetUp();
        profile = db.CreateProfile(L"Target");
        db.AddBookmarks(profile, {Bookmark(L"https://kept.example", L"Kept")});
    }

    void ExpectCleanAfterFailure() {
        EXPECT_TRUE(raw().CanWrite()) << "the failed operation left its transaction open";
        EXPECT_EQ(raw().Int("SELECT count(*) FROM bookmarks"), 1);
        // From another thread: a held mutex would block it for good.
        int added = -1;
        std::string failure;
        std::thread other([&] {
            try {
                added = db.AddBookmarks(profile, {Bookmark(L"https://after.example", L"After")});
            } catch (const std::exception& e) {
                failure = e.what();
            }
        });
        other.join();
        EXPECT_EQ(added, 1) << failure;
    }

    void AddPoisonTrigger() {
        // A deferred foreign key is only checked by COMMIT, so a 'poison' title makes the commit fail.
        raw().Exec(
            "CREATE TABLE poison_parent(id INTEGER PRIMARY KEY);"
            "CREATE TABLE poison_child(pid INTEGER REFERENCES poison_parent(id) DEFERRABLE INITIALLY DEFERRED);"
            "CREATE TRIGGER poison AFTER INSERT ON bookmarks WHEN NEW.title = 'poison' "
            "BEGIN INSERT INTO poison_child VALUES(999); END;");
    }

    int64_t profile = 0;
};

const char kInUseWords[] =
    "app_data.db is in use by another program, so nothing was changed; try again once that program has closed it.";

TEST_F(TransactionFailureTest, BeginImmediateRefusedByAnotherWriter) {
    raw().Exec("BEGIN IMMEDIATE;");
    int skipped = -7;
    EXPECT_EQ(ErrorText([&] { db.AddBookmarks(profile, {Bookmark(L"https://x.example", L"X")}, &skipped); }),
              kInUseWords);
    EXPECT_EQ(skipped, -7);
    raw().Exec("ROLLBACK;");
    ExpectCleanAfterFailure();
}

TEST_F(TransactionFailureTest, CommitRefusedWhileAnotherConnectionReads) {
    raw().Exec("BEGIN; SELECT count(*) FROM bookmarks;");  // keeps a shared lock until the end
    EXPECT_EQ(ErrorText([&] { db.AddBookmarks(profile, {Bookmark(L"https://x.example", L"X")}); }), kInUseWords);
    raw().Exec("COMMIT;");
    ExpectCleanAfterFailure();
}

TEST_F(TransactionFailureTest, CommitRefusedByDeferredConstraint) {
    AddPoisonTrigger();
    EXPECT_EQ(ErrorText([&] {
                  db.AddBookmarks(profile, {Bookmark(L"https://x.example", L"X"), Bookmark(L"https://y.example", L"poison")});
              }),
              "SQL step failed: FOREIGN KEY constraint failed");
    ExpectCleanAfterFailure();
}

TEST_F(TransactionFailureTest, StepFailingMidwayUndoesTheEarlierRowsOfTheCall) {
    raw().Exec("CREATE TRIGGER refuse BEFORE INSERT ON bookmarks WHEN NEW.title = 'third' "
               "BEGIN SELECT RAISE(ABORT, 'refused by test'); END;");
    int skipped = -7;
    EXPECT_EQ(ErrorText([&] {
                  db.AddBookmarks(profile,
                                  {Bookmark(L"https://one.example", L"first"), Bookmark(L"https://kept.example/", L"dup"),
                                   Bookmark(L"https://two.example", L"second"), Bookmark(L"https://three.example", L"third")},
                                  &skipped);
              }),
              "SQL step failed: refused by test");
    EXPECT_EQ(skipped, -7);
    ExpectCleanAfterFailure();
}

TEST_F(TransactionFailureTest, UnknownProfileFailsItsForeignKey) {
    EXPECT_EQ(ErrorText([&] { db.AddBookmarks(profile + 100, {Bookmark(L"https://x.example", L"X")}); }),
              "SQL step failed: FOREIGN KEY constraint failed");
    ExpectCleanAfterFailure();
}

}  // namespace
}  // namespace bm
