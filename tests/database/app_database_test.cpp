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
              "app_settings,bookmarks,browser_configs,idx_bookmarks_order,idx_bookmarks_profile,idx_bookmarks_url,"
              "idx_bookmarks_url_key,"
              "idx_profile_backups_profile,profile_backups,profiles");
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
    EXPECT_EQ(raw.Text("SELECT group_concat(name, ',') FROM pragma_index_info('idx_bookmarks_url')"), "profile_id,url");
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

TEST(AppDatabaseOpen, FolderThatDoesNotExistGivesFalseAndStaysClosed) {
    TempDir dir;
    const std::wstring path = dir / L"missing\\app_data.db";
    AppDatabase db;
    EXPECT_FALSE(db.Open(path));
    EXPECT_FALSE(test::PathExists(path));
    db.Close();
    db.Close();
    // A closed database refuses operations with an error instead of touching a null connection.
    EXPECT_EQ(ErrorText([&] { db.ListProfiles(); }), "The profile database is not open.");
    EXPECT_EQ(ErrorText([&] { db.RestoreSnapshot(1, nullptr); }), "The profile database is not open.");
}

TEST(AppDatabaseOpen, FileThatIsNoDatabaseThrowsSchemaErrorAndIsLeftAlone) {
    TempDir dir;
    const std::wstring path = dir / L"app_data.db";
    const std::string bytes = std::string(600, 'x') + "\nthese are not the bytes of a database\n";
    test::WriteTextFile(path, bytes);
    AppDatabase db;
    EXPECT_EQ(ErrorText([&] { db.Open(path); }), "Failed to initialize schema: file is not a database");
    db.Close();
    EXPECT_EQ(test::ReadTextFile(path), bytes);
}

TEST(AppDatabaseOpen, ExistingTableLackingAnIndexedColumnThrowsSchemaError) {
    TempDir dir;
    const std::wstring path = dir / L"app_data.db";
    {
        sqlite3* raw = nullptr;
        ASSERT_EQ(sqlite3_open(ToUtf8(path).c_str(), &raw), SQLITE_OK);
        sqlite3_exec(raw, "CREATE TABLE bookmarks(id INTEGER PRIMARY KEY, profile_id INTEGER);", nullptr, nullptr, nullptr);
        sqlite3_close(raw);
    }
    AppDatabase db;
    EXPECT_EQ(ErrorText([&] { db.Open(path); }), "Failed to initialize schema: no such column: url");
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

TEST_F(TransactionFailureTest, BeginImmediateRefusedByAnotherWriter) {
    raw().Exec("BEGIN IMMEDIATE;");
    int skipped = -7;
    EXPECT_EQ(ErrorText([&] { db.AddBookmarks(profile, {Bookmark(L"https://x.example", L"X")}, &skipped); }),
              "SQL step failed: database is locked");
    EXPECT_EQ(skipped, -7);
    raw().Exec("ROLLBACK;");
    ExpectCleanAfterFailure();
}

TEST_F(TransactionFailureTest, CommitRefusedWhileAnotherConnectionReads) {
    raw().Exec("BEGIN; SELECT count(*) FROM bookmarks;");  // keeps a shared lock until the end
    EXPECT_EQ(ErrorText([&] { db.AddBookmarks(profile, {Bookmark(L"https://x.example", L"X")}); }),
              "SQL step failed: database is locked");
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
