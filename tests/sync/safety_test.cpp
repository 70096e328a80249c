// What protects the user's bookmarks during a sync: backups and snapshots, skipped destinations,
// refused sources, and failures that end one destination (or the source) without ending the job.

#include "tests/sync/sync_fixture.h"
#include "tests/support/backup_names.h"

namespace bm::test {
namespace {

using Safety = SyncTree;

// ---- backups and snapshots -------------------------------------------------------------------

struct BackupCase {
    bool autoBackup;
    int writeMode;
    bool expectBackup;
};

class BackupRule : public SyncTree, public ::testing::WithParamInterface<BackupCase> {};

TEST_P(BackupRule, BrowserBackupAndProfileSnapshotFollowAutoBackupOrReplace) {
    const BackupCase c = GetParam();
    SyncRequest request = ToBrowser(FromBrowser(BrowserKind::Firefox), BrowserKind::Chrome, c.writeMode);
    request.autoBackup = c.autoBackup;
    SyncResult result = Run(request);
    ASSERT_TRUE(result.ok);
    ASSERT_EQ(result.destinations.size(), 1u);
    EXPECT_TRUE(result.destinations[0].ok);
    const auto backups = ListFileBackups(chromeBookmarks);
    ASSERT_EQ(backups.size(), c.expectBackup ? 1u : 0u);
    if (c.expectBackup) {
        EXPECT_EQ(ReadTextFile(backups[0].path), kChromeBookmarks);
        EXPECT_TRUE(LineMatches(lines[1], L"Backup created: " + chromeBookmarks + L".backup_{stamp}.bak" +
                                              (c.writeMode == 1
                                                   ? L" (Replace mode - restore this if anything looks wrong)"
                                                   : L"")));
    } else {
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[1], L"[OK] Google Chrome: 2 added, 1 duplicate(s) skipped.");
    }

    request = ToProfile(FromBrowser(BrowserKind::Firefox), work, c.writeMode);
    request.autoBackup = c.autoBackup;
    result = Run(request);
    ASSERT_EQ(result.destinations.size(), 1u);
    EXPECT_TRUE(result.destinations[0].ok);
    const auto snapshots = Snapshots(work);
    ASSERT_EQ(snapshots.size(), c.expectBackup ? 1u : 0u);
    if (c.expectBackup) {
        EXPECT_EQ(snapshots[0].label,
                  c.writeMode == 1 ? L"Auto-backup before REPLACE sync" : L"Auto-backup before sync");
        EXPECT_EQ(snapshots[0].bookmark_count, 2);
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, BackupRule,
                         ::testing::Values(BackupCase{true, 0, true}, BackupCase{false, 0, false},
                                           BackupCase{false, 1, true}, BackupCase{true, 1, true},
                                           // any write mode but 1 merges
                                           BackupCase{false, 2, false}),
                         [](const ::testing::TestParamInfo<BackupCase>& info) {
                             return std::string(info.param.autoBackup ? "AutoBackup" : "NoAutoBackup") +
                                    "WriteMode" + std::to_string(info.param.writeMode);
                         });

TEST_F(Safety, FailedBackupStopsTheWriteForThatDestinationOnly) {
    BlockBackupNames(chromeBookmarks, 60);
    const SyncResult result = Run(ToAll(FromProfile(work, L"Work"), 1));

    ASSERT_TRUE(result.ok);
    ASSERT_EQ(result.destinations.size(), 3u);
    const DestinationResult& chrome = result.destinations[0];
    EXPECT_EQ(chrome.name, L"Google Chrome");
    EXPECT_FALSE(chrome.ok);
    EXPECT_EQ(chrome.added, 0);
    EXPECT_EQ(chrome.message, L"Backup failed: CopyFile failed with error 5 -- aborting write for safety.");
    EXPECT_TRUE(result.destinations[1].ok);
    EXPECT_TRUE(result.destinations[2].ok);
    // No [REPLACE] line for Chrome; Edge has no file yet, so nothing to back up there.
    ExpectLines(lines,
                {
                    L"Loaded 2 bookmark(s) from profile 'Work'.",
                    L"[ERROR] Google Chrome: Backup failed: CopyFile failed with error 5 -- aborting write for safety.",
                    // Edge has no bookmarks file yet: no backup was made, and the line does not claim one.
                    L"[REPLACE] 'Microsoft Edge' had no bookmarks file: nothing to clear or back up.",
                    L"[OK] Microsoft Edge: 2 added, 0 duplicate(s) skipped.",
                    L"Backup created: " + firefoxPlaces +
                        L".backup_{stamp}.bak (Replace mode - restore this if anything looks wrong)",
                    L"[REPLACE] Clearing existing bookmarks in 'Mozilla Firefox' before writing (backup above can "
                    L"restore them).",
                    L"[OK] Mozilla Firefox: 2 added, 0 duplicate(s) skipped.",
                });
    EXPECT_EQ(ReadTextFile(chromeBookmarks), kChromeBookmarks);
    EXPECT_EQ(Chromium(edgeBookmarks).size(), 2u);
    EXPECT_EQ(Firefox().size(), 2u);
}

// ---- skipped destinations and refused sources --------------------------------------------------

TEST_F(Safety, UndetectedDestinationIsSkippedAndNothingIsCreated) {
    const SyncResult result = Run(ToBrowser(FromBrowser(BrowserKind::Chrome), BrowserKind::Brave, 1));
    ASSERT_TRUE(result.ok);
    ASSERT_EQ(result.destinations.size(), 1u);
    const DestinationResult& d = result.destinations[0];
    EXPECT_EQ(d.name, L"Brave");
    EXPECT_FALSE(d.ok);
    EXPECT_EQ(d.message, L"Skipped: destination bookmarks file not found (browser may not be installed).");
    ExpectLines(lines, {
                           L"Loaded 3 bookmark(s) from 'Google Chrome'.",
                           L"[SKIP] Brave: Skipped: destination bookmarks file not found (browser may not be "
                           L"installed).",
                       });
    EXPECT_FALSE(PathExists(Browser(BrowserKind::Brave).bookmarksPath));
}

TEST_F(Safety, SingleDestinationMissingFromTheListWritesNothing) {
    browsers.erase(browsers.begin() + 6);  // Firefox
    for (const int32_t kind : {KindValue(BrowserKind::Firefox), KindValue(BrowserKind::None)}) {
        SyncRequest request = FromBrowser(BrowserKind::Chrome);
        request.destMode = 0;
        request.destBrowserKind = kind;
        const SyncResult result = Run(request);
        EXPECT_TRUE(result.ok);
        EXPECT_EQ(result.sourceCount, 3);
        EXPECT_TRUE(result.destinations.empty());
        ExpectLines(lines, {L"Loaded 3 bookmark(s) from 'Google Chrome'.", L"[ERROR] Destination browser not found."});
    }
    EXPECT_EQ(Firefox().size(), 3u);
}

TEST_F(Safety, UnknownDestinationModeWritesNowhere) {
    SyncRequest request = FromBrowser(BrowserKind::Chrome);
    request.destMode = 3;
    const SyncResult result = Run(request);
    EXPECT_TRUE(result.ok);
    EXPECT_TRUE(result.destinations.empty());
    ExpectLines(lines, {L"Loaded 3 bookmark(s) from 'Google Chrome'."});
}

struct SourceFailure {
    const char* name;
    BrowserKind kind;
    std::string contents;    // written over the source's store; empty = leave it
    std::wstring errorHead;  // the error text, or its beginning when it ends in "..."
};

class RefusedSource : public SyncTree, public ::testing::WithParamInterface<SourceFailure> {};

TEST_P(RefusedSource, EndsTheJobWithOneErrorLineAndWritesNothing) {
    const SourceFailure& c = GetParam();
    if (!c.contents.empty()) {
        const std::wstring store = Browser(c.kind).bookmarksPath;
        RemoveTree(store);
        WriteTextFile(store, c.contents);
    }
    const SyncResult result = Run(ToAll(FromBrowser(c.kind), 1));

    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.sourceCount, 0);
    EXPECT_TRUE(result.destinations.empty());
    ASSERT_EQ(lines.size(), 1u);
    std::wstring head = c.errorHead;
    const bool prefix = head.size() > 3 && head.compare(head.size() - 3, 3, L"...") == 0;
    if (prefix) {
        head.resize(head.size() - 3);
        EXPECT_EQ(result.error.substr(0, head.size()), head) << ToUtf8(result.error);
    } else {
        EXPECT_EQ(result.error, head);
    }
    EXPECT_EQ(lines[0], L"[ERROR] " + result.error);
    EXPECT_EQ(ReadTextFile(chromeBookmarks), c.kind == BrowserKind::Chrome && !c.contents.empty()
                                                  ? c.contents
                                                  : std::string(kChromeBookmarks));
    EXPECT_FALSE(PathExists(edgeBookmarks));
    EXPECT_TRUE(ListFileBackups(firefoxPlaces).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Sources, RefusedSource,
    ::testing::Values(
        SourceFailure{"Undetected", BrowserKind::Vivaldi, "", L"Source browser bookmarks file was not found on disk."},
        SourceFailure{"NotInTheList", BrowserKind::None, "", L"Source browser bookmarks file was not found on disk."},
        SourceFailure{"BrokenChromiumFile", BrowserKind::Chrome, "{\"roots\": [1, ",
                      L"Bookmarks file is damaged: ..."},
        SourceFailure{"ChromiumFileWithoutRoots", BrowserKind::Chrome, "{\"version\": 1}",
                      L"Bookmarks file is damaged or is no browser's bookmarks file: it lacks the bookmark roots every browser writes."},
        SourceFailure{"ChromiumRootsNotAnObject", BrowserKind::Chrome,
                      "{\"roots\": [{\"children\": [], \"type\": \"folder\"}], \"version\": 1}",
                      L"Bookmarks file is damaged: its bookmark roots are not in the form browsers write."},
        SourceFailure{"NotAPlacesDatabase", BrowserKind::Firefox, std::string(4096, 'x'),
                      L"places.sqlite is damaged (it is not a database); nothing was read from it."}),
    [](const ::testing::TestParamInfo<SourceFailure>& info) { return std::string(info.param.name); });

// A destination file the reader cannot use is a failed destination, whatever the mode: it keeps
// what it holds, and the job goes on with the others.
TEST_F(Safety, DamagedChromiumDestinationFailsAndKeepsItsContent) {
    const std::string cut = std::string(kChromeBookmarks).substr(0, std::string(kChromeBookmarks).size() / 2);
    const std::pair<std::string, std::wstring> damaged[] = {
        {cut, L"Bookmarks file is damaged: "},
        {R"({"roots": "bookmark_bar", "version": 1})", L"Bookmarks file is damaged: its bookmark roots are not in the form browsers write."},
    };
    for (const auto& [contents, message] : damaged) {
        for (const int mode : {0, 1}) {
            WriteTextFile(chromeBookmarks, contents);
            SyncRequest request = ToBrowser(FromBrowser(BrowserKind::Firefox), BrowserKind::Chrome, mode);
            request.autoBackup = false;
            const SyncResult result = Run(request);
            ASSERT_TRUE(result.ok);
            ASSERT_EQ(result.destinations.size(), 1u);
            EXPECT_FALSE(result.destinations[0].ok) << mode;
            EXPECT_NE(result.destinations[0].message.find(message), std::wstring::npos)
                << ToUtf8(result.destinations[0].message);
            EXPECT_EQ(ReadTextFile(chromeBookmarks), contents) << mode;
        }
    }
}

TEST_F(Safety, BrowserSourceWithoutBookmarksIsLoadedWithCountZero) {
    WriteTextFile(chromeBookmarks, R"({"roots": {"bookmark_bar": {"children": [], "type": "folder"}}})");
    const SyncResult result = Run(ToBrowser(FromBrowser(BrowserKind::Chrome), BrowserKind::Firefox, 0));
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.sourceCount, 0);
    ASSERT_EQ(result.destinations.size(), 1u);
    EXPECT_EQ(lines[0], L"Loaded 0 bookmark(s) from 'Google Chrome'.");
    EXPECT_EQ(lines.back(), L"[OK] Mozilla Firefox: 0 added, 0 duplicate(s) skipped. Nothing to add: the file was "
                            L"left as it was and no backup was made.");
}

// ---- database failures -------------------------------------------------------------------------

// A second connection to app_data.db, as another program holding the file would have.
class OtherConnection {
public:
    explicit OtherConnection(const std::wstring& path) {
        if (sqlite3_open_v2(ToUtf8(path).c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
            throw std::runtime_error("cannot open app_data.db");
    }
    ~OtherConnection() { sqlite3_close(db_); }
    void Exec(const std::string& sql) {
        char* message = nullptr;
        if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
            std::string text = message ? message : "?";
            sqlite3_free(message);
            throw std::runtime_error(text);
        }
    }

private:
    sqlite3* db_ = nullptr;
};

TEST_F(Safety, DeletedDestinationProfileFailsThatDestinationWithTheDatabaseMessage) {
    ASSERT_TRUE(db.DeleteProfile(work));
    const std::wstring name = L"Profile #" + std::to_wstring(work);

    SyncResult result = Run(ToProfile(FromBrowser(BrowserKind::Chrome), work, 0));
    ASSERT_TRUE(result.ok);
    ASSERT_EQ(result.destinations.size(), 1u);
    EXPECT_FALSE(result.destinations[0].ok);
    EXPECT_EQ(result.destinations[0].name, name);
    ExpectLines(lines, {
                           L"Loaded 3 bookmark(s) from 'Google Chrome'.",
                           L"[ERROR] " + name +
                               L": Snapshot failed: SQL step failed: FOREIGN KEY constraint failed -- aborting "
                               L"write for safety.",
                       });

    // Without a snapshot the insert itself meets the missing profile.
    SyncRequest request = ToProfile(FromBrowser(BrowserKind::Chrome), work, 0);
    request.autoBackup = false;
    result = Run(request);
    ASSERT_TRUE(result.ok);
    ASSERT_EQ(result.destinations.size(), 1u);
    EXPECT_FALSE(result.destinations[0].ok);
    EXPECT_EQ(result.destinations[0].added, 0);
    EXPECT_EQ(result.destinations[0].message, L"SQL step failed: FOREIGN KEY constraint failed");
    ExpectLines(lines, {
                           L"Loaded 3 bookmark(s) from 'Google Chrome'.",
                           L"[ERROR] " + name + L": SQL step failed: FOREIGN KEY constraint failed",
                       });
    EXPECT_TRUE(db.GetBookmarks(work).empty());
}

TEST_F(Safety, ProfileWhoseSnapshotFailsIsNotChangedAtAll) {
    {
        OtherConnection other(dir / L"app_data.db");
        other.Exec("CREATE TRIGGER no_snapshots BEFORE INSERT ON profile_backups BEGIN "
                   "SELECT RAISE(ABORT, 'snapshots refused'); END;");
    }
    const std::vector<std::string> before = Profile(work);
    const std::wstring name = L"Profile 'Work'";
    for (const int writeMode : {0, 1}) {
        const SyncResult result = Run(ToProfile(FromBrowser(BrowserKind::Chrome), work, writeMode));
        ASSERT_TRUE(result.ok);
        ASSERT_EQ(result.destinations.size(), 1u);
        EXPECT_FALSE(result.destinations[0].ok);
        ExpectLines(lines, {
                               L"Loaded 3 bookmark(s) from 'Google Chrome'.",
                               L"[ERROR] " + name +
                                   L": Snapshot failed: SQL step failed: snapshots refused -- aborting write for "
                                   L"safety.",
                           });
        EXPECT_EQ(Profile(work), before);
    }
}

TEST_F(Safety, ReplaceIntoAProfileThatFailsMidwayKeepsItsOldBookmarks) {
    {
        // The third of Chrome's bookmarks is refused, after the old rows would have been deleted.
        OtherConnection other(dir / L"app_data.db");
        other.Exec("CREATE TRIGGER refuse_gamma BEFORE INSERT ON bookmarks WHEN NEW.title = 'Gamma' BEGIN "
                   "SELECT RAISE(ABORT, 'refused by test'); END;");
    }
    const std::vector<std::string> before = Profile(work);
    ASSERT_EQ(before.size(), 2u);
    const std::wstring name = L"Profile 'Work'";
    const SyncResult result = Run(ToProfile(FromBrowser(BrowserKind::Chrome), work, 1));
    ASSERT_TRUE(result.ok);
    ASSERT_EQ(result.destinations.size(), 1u);
    EXPECT_FALSE(result.destinations[0].ok);
    ExpectLines(lines, {
                           L"Loaded 3 bookmark(s) from 'Google Chrome'.",
                           L"[REPLACE] Clearing existing bookmarks in the destination profile before writing "
                           L"(snapshot above can restore them).",
                           L"[ERROR] " + name + L": SQL step failed: refused by test",
                       });
    EXPECT_EQ(Profile(work), before);
}

// The bookmarks are committed before the profile's time is noted: a failure of that second step is
// said as what it is, beside the [OK] of the write, and never as a failed sync.
TEST_F(Safety, ProfileTimeThatCannotBeNotedAfterAStoredWriteIsAWarningNotAFailure) {
    {
        OtherConnection other(dir / L"app_data.db");
        other.Exec("CREATE TRIGGER no_touch BEFORE UPDATE OF updated_at ON profiles BEGIN "
                   "SELECT RAISE(ABORT, 'time refused by test'); END;");
    }
    const SyncResult result = Run(ToProfile(FromBrowser(BrowserKind::Chrome), work, 0));
    ASSERT_TRUE(result.ok);
    ASSERT_EQ(result.destinations.size(), 1u);
    EXPECT_TRUE(result.destinations[0].ok);
    EXPECT_EQ(result.destinations[0].added, 2);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1].rfind(L"[OK] Profile 'Work': ", 0), 0u) << ToUtf8(lines[1]);
    EXPECT_EQ(lines[2], L"[WARN] Profile 'Work': the bookmarks were stored, but the time it was last changed could not "
                        L"be updated: SQL step failed: time refused by test");
    EXPECT_EQ(Profile(work).size(), 4u);
}

TEST_F(Safety, LockedDatabaseFailsAProfileSourceAndAProfileDestination) {
    OtherConnection other(dir / L"app_data.db");
    other.Exec("BEGIN EXCLUSIVE;");

    SyncResult result = Run(ToAll(FromProfile(work, L"Work"), 1));
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.destinations.empty());
    ASSERT_EQ(lines.size(), 1u);
    const std::wstring inUse =
        L"app_data.db is in use by another program, so nothing was changed; try again once that program has closed it.";
    EXPECT_EQ(lines[0], L"[ERROR] Could not load the bookmarks of profile 'Work': " + inUse);
    EXPECT_EQ(ReadTextFile(chromeBookmarks), kChromeBookmarks);
    EXPECT_FALSE(PathExists(edgeBookmarks));

    result = Run(ToProfile(FromBrowser(BrowserKind::Chrome), work, 1));
    EXPECT_TRUE(result.ok);
    ASSERT_EQ(result.destinations.size(), 1u);
    EXPECT_FALSE(result.destinations[0].ok);
    ASSERT_EQ(lines.size(), 2u);
    // The profile's name cannot be read from a locked database either: it is named by its id.
    EXPECT_EQ(lines[1], L"[ERROR] Profile #" + std::to_wstring(work) + L": Snapshot failed: " + inUse +
                            L" -- aborting write for safety.");

    other.Exec("ROLLBACK;");
    EXPECT_EQ(Profile(work).size(), 2u);
}

}  // namespace
}  // namespace bm::test
