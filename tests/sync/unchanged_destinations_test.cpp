// Writes that would change nothing, and syncs from a store into itself: the destination is left
// exactly as it was, with no new backup or snapshot, and the log line says so.

#include "tests/sync/sync_fixture.h"

namespace bm::test {
namespace {

// What a destination looks like from outside: its bytes, its modification time and its backups (a
// browser), or its rows, time and snapshots (a saved profile).
struct Look {
    std::string bytes;
    int64_t modified = 0;
    std::vector<std::wstring> backups;
    bool operator==(const Look&) const = default;
};

int64_t ModifiedTime(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return (static_cast<int64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
}

struct RepeatCase {
    const char* name;
    BrowserKind source;
    int destination;  // a BrowserKind, or -1 for the saved profile "Work"
    int writeMode;
    const wchar_t* note;  // what the second run's line says after the counts
};

class RepeatedSync : public SyncTree, public ::testing::WithParamInterface<RepeatCase> {
protected:
    Look LookAt(const RepeatCase& c) {
        Look look;
        if (c.destination < 0) {
            for (const std::string& line : Profile(work)) look.bytes += line + "\n";
            for (const ProfileRecord& p : db.ListProfiles())
                if (p.id == work) look.modified = p.updated_at;
            for (const SnapshotInfo& s : Snapshots(work)) look.backups.push_back(std::to_wstring(s.id));
            return look;
        }
        const std::wstring& path = Browser(static_cast<BrowserKind>(c.destination)).bookmarksPath;
        look.bytes = ReadTextFile(path);
        look.modified = ModifiedTime(path);
        for (const FileBackupEntry& e : ListFileBackups(path)) look.backups.push_back(e.path);
        return look;
    }
};

TEST_P(RepeatedSync, SecondRunChangesNothingAndMakesNoBackup) {
    const RepeatCase c = GetParam();
    {
        // Dated, as browsers date every bookmark: a record without a date gets the time of each write.
        FirefoxPlaces places(firefoxPlaces);
        places.Exec("UPDATE moz_bookmarks SET dateAdded = 1700000000000000");
    }
    SyncRequest request = FromBrowser(c.source);
    request = c.destination < 0 ? ToProfile(request, work, c.writeMode)
                                : ToBrowser(request, static_cast<BrowserKind>(c.destination), c.writeMode);
    SyncResult result = Run(request);
    ASSERT_TRUE(result.ok);
    ASSERT_EQ(result.destinations.size(), 1u);
    ASSERT_TRUE(result.destinations[0].ok) << ToUtf8(result.destinations[0].message);
    if (c.destination < 0) {
        // An old time, so that a touch within the same second would still show.
        sqlite3* other = nullptr;
        ASSERT_EQ(sqlite3_open(ToUtf8(dir / L"app_data.db").c_str(), &other), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(other, ("UPDATE profiles SET updated_at = 1 WHERE id = " + std::to_string(work)).c_str(),
                               nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(other);
    }
    const Look before = LookAt(c);
    ASSERT_FALSE(before.backups.empty());

    result = Run(request);
    ASSERT_TRUE(result.ok);
    ASSERT_EQ(result.destinations.size(), 1u);
    const DestinationResult& d = result.destinations[0];
    EXPECT_TRUE(d.ok);
    EXPECT_EQ(d.added, 0);
    EXPECT_EQ(d.duplicatesSkipped, result.sourceCount);
    const std::wstring count = std::to_wstring(result.sourceCount);
    ExpectLines(lines, {lines[0], L"[OK] " + d.name + L": 0 added, " + count + L" duplicate(s) skipped. " + c.note});
    EXPECT_TRUE(LookAt(c) == before);
}

const wchar_t kMergeNote[] = L"Nothing to add: the file was left as it was and no backup was made.";
const wchar_t kReplaceNote[] =
    L"It already holds exactly these bookmarks: the file was left as it was and no backup was made.";

INSTANTIATE_TEST_SUITE_P(
    Destinations, RepeatedSync,
    ::testing::Values(
        RepeatCase{"FirefoxMergeIntoChrome", BrowserKind::Firefox, KindValue(BrowserKind::Chrome), 0, kMergeNote},
        RepeatCase{"FirefoxReplaceIntoChrome", BrowserKind::Firefox, KindValue(BrowserKind::Chrome), 1, kReplaceNote},
        RepeatCase{"ChromeMergeIntoFirefox", BrowserKind::Chrome, KindValue(BrowserKind::Firefox), 0, kMergeNote},
        RepeatCase{"ChromeMergeIntoProfile", BrowserKind::Chrome, -1, 0,
                   L"Nothing to add: the profile was left as it was and no snapshot was made."},
        RepeatCase{"ChromeReplaceIntoProfile", BrowserKind::Chrome, -1, 1,
                   L"It already holds exactly these bookmarks: the profile was left as it was and no snapshot was "
                   L"made."}),
    [](const ::testing::TestParamInfo<RepeatCase>& info) { return std::string(info.param.name); });

using Unchanged = SyncTree;

TEST_F(Unchanged, ReplaceThatDiffersInOneTitleStillWritesAfterItsBackup) {
    Run(ToBrowser(FromBrowser(BrowserKind::Firefox), BrowserKind::Chrome, 1));
    {
        FirefoxPlaces places(firefoxPlaces);
        places.Exec("UPDATE moz_bookmarks SET title = 'Fox, renamed' WHERE title = 'Fox'");
    }
    const size_t backups = ListFileBackups(chromeBookmarks).size();
    const SyncResult result = Run(ToBrowser(FromBrowser(BrowserKind::Firefox), BrowserKind::Chrome, 1));
    ASSERT_EQ(result.destinations.size(), 1u);
    EXPECT_EQ(result.destinations[0].added, 3);
    EXPECT_EQ(ListFileBackups(chromeBookmarks).size(), backups + 1);
    EXPECT_NE(ReadTextFile(chromeBookmarks).find("Fox, renamed"), std::string::npos);
}

TEST_F(Unchanged, MergeWithoutAutomaticBackupThatAddsNothingLeavesTheProfileTime) {
    SyncRequest request = ToProfile(FromProfile(work, L"Work"), empty, 0);
    request.autoBackup = false;
    Run(request);
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(ToUtf8(dir / L"app_data.db").c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "UPDATE profiles SET updated_at = 1", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(other);

    const SyncResult result = Run(request);
    ASSERT_EQ(result.destinations.size(), 1u);
    EXPECT_EQ(result.destinations[0].message, L"0 added, 2 duplicate(s) skipped. Nothing to add: the profile was left as it was.");
    for (const ProfileRecord& p : db.ListProfiles()) EXPECT_EQ(p.updated_at, 1) << ToUtf8(p.name);
    EXPECT_TRUE(Snapshots(empty).empty());
}

// A file that is damaged is not taken for one that already holds everything: the merge says so.
TEST_F(Unchanged, AMergeIntoADamagedFirefoxFileThatWouldAddNothingReportsTheDamage) {
    ASSERT_TRUE(Run(ToProfile(FromBrowser(BrowserKind::Firefox), empty, 1)).ok);
    {
        FirefoxPlaces places(firefoxPlaces);
        places.Exec("INSERT INTO moz_bookmarks (type, fk, parent, position, title, guid) "
                    "VALUES (2, NULL, 9999, 0, 'Lost', 'lostfolder01')");
    }
    const std::string bytes = ReadTextFile(firefoxPlaces);
    const size_t backups = ListFileBackups(firefoxPlaces).size();
    const SyncResult result = Run(ToBrowser(FromProfile(empty, L"Empty"), BrowserKind::Firefox, 0));
    ASSERT_EQ(result.destinations.size(), 1u);
    EXPECT_FALSE(result.destinations[0].ok);
    EXPECT_NE(result.destinations[0].message.find(L"places.sqlite is damaged"), std::wstring::npos)
        << ToUtf8(result.destinations[0].message);
    EXPECT_EQ(ReadTextFile(firefoxPlaces), bytes);
    EXPECT_EQ(ListFileBackups(firefoxPlaces).size(), backups) << "a backup of a damaged file pushes a sound one out";
}

// ---- one store as source and destination ---------------------------------------------------------

struct SameStoreCase {
    const char* name;
    bool fromProfile;
    BrowserKind source;
    BrowserKind destination;  // None: the saved profile the source names
    bool edgeUsesChromeFile;  // Edge's custom path names Chrome's Bookmarks file
    int writeMode;
    const wchar_t* line;  // {name} stands for the source's display name
};

class SameStore : public SyncTree, public ::testing::WithParamInterface<SameStoreCase> {};

TEST_P(SameStore, IsRefusedBeforeAnythingIsReadOrWritten) {
    const SameStoreCase c = GetParam();
    if (c.edgeUsesChromeFile) {
        for (BrowserInfo& b : browsers)
            if (b.kind == BrowserKind::Edge) {
                // Another spelling of the same file.
                b.bookmarksPath = local + L"/Google/Chrome/User Data/Default/../Default/BOOKMARKS";
                b.hasCustomPath = true;
            }
    }
    SyncRequest request = c.fromProfile ? FromProfile(work, L"Work") : FromBrowser(c.source);
    request = c.destination == BrowserKind::None ? ToProfile(request, work, c.writeMode)
                                                 : ToBrowser(request, c.destination, c.writeMode);
    const auto profileBefore = Profile(work);

    const SyncResult result = Run(request);
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.destinations.empty());
    const std::wstring line = c.line ? std::wstring(c.line)
                                     : L"[ERROR] Source and destination are the same file: 'Microsoft Edge' uses the "
                                       L"bookmarks file of 'Google Chrome' (" +
                                           Browser(BrowserKind::Edge).bookmarksPath + L"). Choose another destination.";
    ExpectLines(lines, {line});
    EXPECT_EQ(L"[ERROR] " + result.error, line);
    EXPECT_EQ(ReadTextFile(chromeBookmarks), kChromeBookmarks);
    EXPECT_TRUE(ListFileBackups(chromeBookmarks).empty());
    EXPECT_EQ(Profile(work), profileBefore);
    EXPECT_TRUE(Snapshots(work).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SameStore,
    ::testing::Values(
        SameStoreCase{"BrowserIntoItselfMerge", false, BrowserKind::Chrome, BrowserKind::Chrome, false, 0,
                      L"[ERROR] Source and destination are the same browser ('Google Chrome'); a browser cannot be "
                      L"synced into itself. Choose another destination."},
        SameStoreCase{"BrowserIntoItselfReplace", false, BrowserKind::Chrome, BrowserKind::Chrome, false, 1,
                      L"[ERROR] Source and destination are the same browser ('Google Chrome'); a browser cannot be "
                      L"synced into itself. Choose another destination."},
        SameStoreCase{"ProfileIntoItselfReplace", true, BrowserKind::None, BrowserKind::None, false, 1,
                      L"[ERROR] Source and destination are the same profile ('Work'); a profile cannot be synced "
                      L"into itself. Choose another destination."},
        SameStoreCase{"BrowserIntoAnotherWhoseFileItIsReplace", false, BrowserKind::Chrome, BrowserKind::Edge, true,
                      1, nullptr}),
    [](const ::testing::TestParamInfo<SameStoreCase>& info) { return std::string(info.param.name); });

TEST_F(Unchanged, AllBrowsersSkipsOneThatUsesTheSourceFileWithALine) {
    for (BrowserInfo& b : browsers)
        if (b.kind == BrowserKind::Edge) b.bookmarksPath = chromeBookmarks;
    const SyncResult result = Run(ToAll(FromBrowser(BrowserKind::Chrome), 1));
    ASSERT_TRUE(result.ok);
    ASSERT_EQ(result.destinations.size(), 2u);
    EXPECT_FALSE(result.destinations[0].ok);
    EXPECT_TRUE(result.destinations[1].ok);
    EXPECT_EQ(lines[1], L"[SKIP] Microsoft Edge: Skipped: it uses the same bookmarks file as the source ('Google Chrome').");
    EXPECT_EQ(ReadTextFile(chromeBookmarks), kChromeBookmarks);
    EXPECT_TRUE(ListFileBackups(chromeBookmarks).empty());
    EXPECT_EQ(Firefox().size(), 3u);
}

}  // namespace
}  // namespace bm::test
