// Whole sync jobs over real stores: what lands in each destination, the counts and the log lines.

#include "core/portable_export.h"
#include "tests/sync/sync_fixture.h"

namespace bm::test {
namespace {

using Jobs = SyncTree;

const std::vector<std::string> kChromeOriginal = {
    "https://alpha.example/ | Alpha | Bookmarks bar",
    "https://beta.example/docs | Beta | Bookmarks bar/Dev",
    "https://gamma.example/ | Gamma | Other bookmarks",
};
const std::vector<std::string> kFirefoxOriginal = {
    "https://ALPHA.example | Alpha again | Bookmarks Toolbar",
    "https://fox.example/ | Fox | Bookmarks Toolbar",
    "https://news.example/ | News site | Bookmarks Menu/News",
};

std::vector<std::string> Plus(std::vector<std::string> lines, const std::vector<std::string>& more) {
    lines.insert(lines.end(), more.begin(), more.end());
    std::sort(lines.begin(), lines.end());
    return lines;
}

void ExpectDestination(const DestinationResult& d, const std::wstring& name, bool ok, int added, int skipped) {
    EXPECT_EQ(d.name, name);
    EXPECT_EQ(d.ok, ok);
    EXPECT_EQ(d.added, added);
    EXPECT_EQ(d.duplicatesSkipped, skipped);
}

TEST_F(Jobs, ChromiumIntoFirefoxMergeAddsUrlsNotBookmarkedThereHistoryOnlyOnesToo) {
    const SyncResult result = Run(ToBrowser(FromBrowser(BrowserKind::Chrome), BrowserKind::Firefox, 0));

    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.error, L"");
    EXPECT_EQ(result.sourceCount, 3);
    ASSERT_EQ(result.destinations.size(), 1u);
    // alpha is bookmarked with other letter case and no slash; gamma, only a visited page, is not
    // bookmarked yet and gets its bookmark.
    ExpectDestination(result.destinations[0], L"Mozilla Firefox", true, 2, 1);
    EXPECT_EQ(result.destinations[0].message, L"2 added, 1 duplicate(s) skipped.");
    ExpectLines(lines, {
                           L"Loaded 3 bookmark(s) from 'Google Chrome'.",
                           L"Backup created: " + firefoxPlaces + L".backup_{stamp}.bak",
                           L"[OK] Mozilla Firefox: 2 added, 1 duplicate(s) skipped.",
                       });
    EXPECT_EQ(Firefox(), Plus(kFirefoxOriginal, {"https://beta.example/docs | Beta | Bookmarks Toolbar/Dev",
                                                 "https://gamma.example/ | Gamma | Other Bookmarks"}));
    EXPECT_EQ(Chromium(chromeBookmarks), kChromeOriginal);
}

TEST_F(Jobs, AUrlLongerThanFirefoxKeepsIsLeftOutOfFirefoxWithItsCountAndWhy) {
    BookmarkRecord longOne;
    longOne.url = L"https://long.example/" + std::wstring(kFirefoxMaxUrlLength, L'a');
    longOne.title = L"Too long for Firefox";
    longOne.folder_path = L"Bookmarks bar";
    db.AddBookmarks(empty, {longOne});
    const SyncResult result = Run(ToBrowser(FromProfile(empty, L"Empty"), BrowserKind::Firefox, 0));

    ASSERT_TRUE(result.ok);
    ASSERT_EQ(result.destinations.size(), 1u);
    ExpectDestination(result.destinations[0], L"Mozilla Firefox", true, 0, 0);
    EXPECT_EQ(result.destinations[0].leftOut, 1);
    ExpectLines(lines, {
                           L"Loaded 1 bookmark(s) from profile 'Empty'.",
                           L"[OK] Mozilla Firefox: 0 added, 0 duplicate(s) skipped, 1 left out (a URL longer than "
                           L"the 65536 characters Firefox keeps). Nothing to add: the file was left as it was and no "
                           L"backup was made.",
                       });
    EXPECT_EQ(Firefox(), kFirefoxOriginal);
}

TEST_F(Jobs, ChromiumIntoFirefoxReplaceLeavesOnlyTheSourceAndABackupOfTheOld) {
    const SyncResult result = Run(ToBrowser(FromBrowser(BrowserKind::Chrome), BrowserKind::Firefox, 1));

    ASSERT_TRUE(result.ok);
    ASSERT_EQ(result.destinations.size(), 1u);
    ExpectDestination(result.destinations[0], L"Mozilla Firefox", true, 3, 0);
    ExpectLines(lines,
                {
                    L"Loaded 3 bookmark(s) from 'Google Chrome'.",
                    L"Backup created: " + firefoxPlaces +
                        L".backup_{stamp}.bak (Replace mode - restore this if anything looks wrong)",
                    L"[REPLACE] Clearing existing bookmarks in 'Mozilla Firefox' before writing (backup above can "
                    L"restore them).",
                    L"[OK] Mozilla Firefox: 3 added, 0 duplicate(s) skipped.",
                });
    EXPECT_EQ(Firefox(), (std::vector<std::string>{
                             "https://alpha.example/ | Alpha | Bookmarks Toolbar",
                             "https://beta.example/docs | Beta | Bookmarks Toolbar/Dev",
                             "https://gamma.example/ | Gamma | Other Bookmarks",
                         }));
    // The backup holds the bookmarks from before.
    const auto backups = ListFileBackups(firefoxPlaces);
    ASSERT_EQ(backups.size(), 1u);
    std::wstring error;
    EXPECT_EQ(Describe(ReadFirefoxBookmarks(backups[0].path, &error)), kFirefoxOriginal);
    EXPECT_EQ(error, L"");
}

TEST_F(Jobs, FirefoxIntoChromiumMergeAndReplace) {
    SyncResult result = Run(ToBrowser(FromBrowser(BrowserKind::Firefox), BrowserKind::Chrome, 0));
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.sourceCount, 3);
    ASSERT_EQ(result.destinations.size(), 1u);
    ExpectDestination(result.destinations[0], L"Google Chrome", true, 2, 1);
    ExpectLines(lines, {
                           L"Loaded 3 bookmark(s) from 'Mozilla Firefox'.",
                           L"Backup created: " + chromeBookmarks + L".backup_{stamp}.bak",
                           L"[OK] Google Chrome: 2 added, 1 duplicate(s) skipped.",
                       });
    const std::vector<std::string> fromFirefox = {
        "https://fox.example/ | Fox | Bookmarks bar",
        "https://news.example/ | News site | Other bookmarks/News",
    };
    EXPECT_EQ(Chromium(chromeBookmarks), Plus(kChromeOriginal, fromFirefox));

    result = Run(ToBrowser(FromBrowser(BrowserKind::Firefox), BrowserKind::Chrome, 1));
    ASSERT_TRUE(result.ok);
    ASSERT_EQ(result.destinations.size(), 1u);
    ExpectDestination(result.destinations[0], L"Google Chrome", true, 3, 0);
    ExpectLines(lines,
                {
                    L"Loaded 3 bookmark(s) from 'Mozilla Firefox'.",
                    L"Backup created: " + chromeBookmarks +
                        L".backup_{stamp}.bak (Replace mode - restore this if anything looks wrong)",
                    L"[REPLACE] Clearing existing bookmarks in 'Google Chrome' before writing (backup above can "
                    L"restore them).",
                    L"[OK] Google Chrome: 3 added, 0 duplicate(s) skipped.",
                });
    EXPECT_EQ(Chromium(chromeBookmarks), Plus({"https://ALPHA.example | Alpha again | Bookmarks bar"}, fromFirefox));
    EXPECT_EQ(Firefox(), kFirefoxOriginal);
}

TEST_F(Jobs, BrowserToAllBrowsersSkipsTheSourceAndUndetectedOnesWithoutALine) {
    SyncResult result = Run(ToAll(FromBrowser(BrowserKind::Chrome), 0));
    ASSERT_TRUE(result.ok);
    ASSERT_EQ(result.destinations.size(), 2u);
    ExpectDestination(result.destinations[0], L"Microsoft Edge", true, 3, 0);
    ExpectDestination(result.destinations[1], L"Mozilla Firefox", true, 2, 1);
    // Edge has no Bookmarks file yet: nothing to back up, the writer creates it.
    ExpectLines(lines, {
                           L"Loaded 3 bookmark(s) from 'Google Chrome'.",
                           L"[OK] Microsoft Edge: 3 added, 0 duplicate(s) skipped.",
                           L"Backup created: " + firefoxPlaces + L".backup_{stamp}.bak",
                           L"[OK] Mozilla Firefox: 2 added, 1 duplicate(s) skipped.",
                       });
    EXPECT_EQ(Chromium(edgeBookmarks), kChromeOriginal);
    EXPECT_EQ(Chromium(chromeBookmarks), kChromeOriginal);
    EXPECT_TRUE(ListFileBackups(chromeBookmarks).empty());

    result = Run(ToAll(FromBrowser(BrowserKind::Chrome), 1));
    ASSERT_TRUE(result.ok);
    ASSERT_EQ(result.destinations.size(), 2u);
    // Edge holds exactly Chrome's bookmarks already: the replace leaves it alone.
    ExpectDestination(result.destinations[0], L"Microsoft Edge", true, 0, 3);
    ExpectDestination(result.destinations[1], L"Mozilla Firefox", true, 3, 0);
    ExpectLines(lines,
                {
                    L"Loaded 3 bookmark(s) from 'Google Chrome'.",
                    L"[OK] Microsoft Edge: 0 added, 3 duplicate(s) skipped. It already holds exactly these "
                    L"bookmarks: the file was left as it was and no backup was made.",
                    L"Backup created: " + firefoxPlaces +
                        L".backup_{stamp}.bak (Replace mode - restore this if anything looks wrong)",
                    L"[REPLACE] Clearing existing bookmarks in 'Mozilla Firefox' before writing (backup above can "
                    L"restore them).",
                    L"[OK] Mozilla Firefox: 3 added, 0 duplicate(s) skipped.",
                });
    EXPECT_EQ(Chromium(edgeBookmarks), kChromeOriginal);
    EXPECT_TRUE(ListFileBackups(edgeBookmarks).empty());
    EXPECT_EQ(Firefox().size(), 3u);
    for (const BrowserKind absent : {BrowserKind::Brave, BrowserKind::Vivaldi, BrowserKind::Opera})
        EXPECT_FALSE(PathExists(Browser(absent).bookmarksPath));
}

TEST_F(Jobs, BrowserIntoSavedProfileMergeAndReplaceTakeSnapshots) {
    SyncResult result = Run(ToProfile(FromBrowser(BrowserKind::Chrome), work, 0));
    const std::wstring name = L"Profile 'Work'";
    ASSERT_TRUE(result.ok);
    ASSERT_EQ(result.destinations.size(), 1u);
    ExpectDestination(result.destinations[0], name, true, 2, 1);
    ExpectLines(lines, {
                           L"Loaded 3 bookmark(s) from 'Google Chrome'.",
                           L"[OK] " + name + L": 2 added, 1 duplicate(s) skipped.",
                       });
    // The profile stores the URLs as the browser has them and keeps its own row for the duplicate.
    EXPECT_EQ(Profile(work), (std::vector<std::string>{
                                 "https://alpha.example | Alpha in profile | Bookmarks bar",
                                 "https://beta.example/docs | Beta | Bookmarks bar/Dev",
                                 "https://gamma.example/ | Gamma | Other bookmarks",
                                 "https://saved.example/ | Saved | Bookmarks bar/Kept",
                             }));
    auto snapshots = Snapshots(work);
    ASSERT_EQ(snapshots.size(), 1u);
    EXPECT_EQ(snapshots[0].label, L"Auto-backup before sync");
    EXPECT_EQ(snapshots[0].bookmark_count, 2);

    result = Run(ToProfile(FromBrowser(BrowserKind::Chrome), work, 1));
    ASSERT_TRUE(result.ok);
    ASSERT_EQ(result.destinations.size(), 1u);
    ExpectDestination(result.destinations[0], name, true, 3, 0);
    ExpectLines(lines, {
                           L"Loaded 3 bookmark(s) from 'Google Chrome'.",
                           L"[REPLACE] Clearing existing bookmarks in the destination profile before writing "
                           L"(snapshot above can restore them).",
                           L"[OK] " + name + L": 3 added, 0 duplicate(s) skipped.",
                       });
    EXPECT_EQ(Profile(work), (std::vector<std::string>{
                                 "https://alpha.example/ | Alpha | Bookmarks bar",
                                 "https://beta.example/docs | Beta | Bookmarks bar/Dev",
                                 "https://gamma.example/ | Gamma | Other bookmarks",
                             }));
    snapshots = Snapshots(work);
    ASSERT_EQ(snapshots.size(), 2u);
    int replaceSnapshots = 0;
    for (const SnapshotInfo& s : snapshots)
        if (s.label == L"Auto-backup before REPLACE sync") {
            ++replaceSnapshots;
            EXPECT_EQ(s.bookmark_count, 4);
        }
    EXPECT_EQ(replaceSnapshots, 1);
}

TEST_F(Jobs, SavedProfileToAllBrowsersWritesEveryDetectedBrowserFirefoxInItsOwnUrlForm) {
    SyncResult result = Run(ToAll(FromProfile(work, L"Work"), 0));
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.sourceCount, 2);
    ASSERT_EQ(result.destinations.size(), 3u);
    ExpectDestination(result.destinations[0], L"Google Chrome", true, 1, 1);
    ExpectDestination(result.destinations[1], L"Microsoft Edge", true, 2, 0);
    ExpectDestination(result.destinations[2], L"Mozilla Firefox", true, 1, 1);
    ExpectLines(lines, {
                           L"Loaded 2 bookmark(s) from profile 'Work'.",
                           L"Backup created: " + chromeBookmarks + L".backup_{stamp}.bak",
                           L"[OK] Google Chrome: 1 added, 1 duplicate(s) skipped.",
                           L"[OK] Microsoft Edge: 2 added, 0 duplicate(s) skipped.",
                           L"Backup created: " + firefoxPlaces + L".backup_{stamp}.bak",
                           L"[OK] Mozilla Firefox: 1 added, 1 duplicate(s) skipped.",
                       });
    const std::string kept = "https://saved.example/ | Saved | Bookmarks bar/Kept";
    EXPECT_EQ(Chromium(chromeBookmarks), Plus(kChromeOriginal, {kept}));
    EXPECT_EQ(Chromium(edgeBookmarks), Plus({"https://alpha.example | Alpha in profile | Bookmarks bar"}, {kept}));
    // Firefox gets the URL in the form it stores itself.
    EXPECT_EQ(Firefox(), Plus(kFirefoxOriginal, {"https://saved.example/ | Saved | Bookmarks Toolbar/Kept"}));
    // A profile source takes no snapshot of itself.
    EXPECT_TRUE(Snapshots(work).empty());

    result = Run(ToAll(FromProfile(work, L"Work"), 1));
    ASSERT_TRUE(result.ok);
    ASSERT_EQ(result.destinations.size(), 3u);
    // Edge holds exactly the profile's bookmarks already: the replace leaves it alone.
    ExpectDestination(result.destinations[0], L"Google Chrome", true, 2, 0);
    ExpectDestination(result.destinations[1], L"Microsoft Edge", true, 0, 2);
    ExpectDestination(result.destinations[2], L"Mozilla Firefox", true, 2, 0);
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[0], L"Loaded 2 bookmark(s) from profile 'Work'.");
    EXPECT_EQ(lines[3], L"[OK] Google Chrome: 2 added, 0 duplicate(s) skipped.");
    EXPECT_EQ(lines[4], L"[OK] Microsoft Edge: 0 added, 2 duplicate(s) skipped. It already holds exactly these "
                        L"bookmarks: the file was left as it was and no backup was made.");
    EXPECT_EQ(lines[7], L"[OK] Mozilla Firefox: 2 added, 0 duplicate(s) skipped.");
    const std::vector<std::string> profileInChromium = {
        "https://alpha.example | Alpha in profile | Bookmarks bar", kept};
    EXPECT_EQ(Chromium(chromeBookmarks), profileInChromium);
    EXPECT_EQ(Chromium(edgeBookmarks), profileInChromium);
    EXPECT_EQ(Firefox(), (std::vector<std::string>{
                             "https://alpha.example/ | Alpha in profile | Bookmarks Toolbar",
                             "https://saved.example/ | Saved | Bookmarks Toolbar/Kept",
                         }));
}

TEST_F(Jobs, EmptyProfileSourceAddsNothingOnMergeAndEmptiesOnReplace) {
    SyncResult result = Run(ToBrowser(FromProfile(empty, L"Empty"), BrowserKind::Chrome, 0));
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.sourceCount, 0);
    // Nothing to add: the file is not rewritten and not backed up.
    ExpectLines(lines, {
                           L"Loaded 0 bookmark(s) from profile 'Empty'.",
                           L"[OK] Google Chrome: 0 added, 0 duplicate(s) skipped. Nothing to add: the file was left "
                           L"as it was and no backup was made.",
                       });
    EXPECT_EQ(ReadTextFile(chromeBookmarks), kChromeBookmarks);
    EXPECT_TRUE(ListFileBackups(chromeBookmarks).empty());

    result = Run(ToProfile(FromProfile(empty, L"Empty"), work, 1));
    ASSERT_TRUE(result.ok);
    ASSERT_EQ(result.destinations.size(), 1u);
    EXPECT_TRUE(result.destinations[0].ok);
    EXPECT_TRUE(Profile(work).empty());
    ASSERT_EQ(Snapshots(work).size(), 1u);
    EXPECT_EQ(Snapshots(work)[0].bookmark_count, 2);
}

// A browser's order ("Zeta, alpha, Work{Yak, Bee}, Mango": neither byte order nor folders first)
// survives a trip through saved profiles: into one, copied into another, out into a browser, and
// exported from it.
TEST_F(Jobs, BookmarksKeepTheBrowsersOrderThroughProfilesAndBack) {
    WriteTextFile(chromeBookmarks, R"({"checksum": "", "roots": {
        "bookmark_bar": {"children": [
            {"date_added": "13300000000000000", "id": "2", "name": "Zeta", "type": "url", "url": "https://zeta.example/"},
            {"date_added": "13300000000000000", "id": "3", "name": "alpha", "type": "url", "url": "https://alpha.example/"},
            {"children": [
                {"date_added": "13300000000000000", "id": "5", "name": "Yak", "type": "url", "url": "https://yak.example/"},
                {"date_added": "13300000000000000", "id": "6", "name": "Bee", "type": "url", "url": "https://bee.example/"}
              ], "date_added": "13300000000000000", "date_modified": "0", "id": "4", "name": "Work", "type": "folder"},
            {"date_added": "13300000000000000", "id": "7", "name": "Mango", "type": "url", "url": "https://mango.example/"}
          ], "date_added": "0", "date_modified": "0", "id": "1", "name": "Bookmarks bar", "type": "folder"},
        "other": {"children": [], "date_added": "0", "date_modified": "0", "id": "8", "name": "Other bookmarks", "type": "folder"},
        "synced": {"children": [], "date_added": "0", "date_modified": "0", "id": "9", "name": "Mobile bookmarks", "type": "folder"}},
        "version": 1})");
    auto inOrder = [](const std::vector<BookmarkRecord>& records) {
        std::vector<std::string> lines;
        for (const BookmarkRecord& r : records) lines.push_back(ToUtf8(r.title + L" | " + r.folder_path));
        return lines;
    };
    const std::vector<std::string> expected = {"Zeta | Bookmarks bar", "alpha | Bookmarks bar", "Yak | Bookmarks bar/Work",
                                               "Bee | Bookmarks bar/Work", "Mango | Bookmarks bar"};
    std::wstring error;
    ASSERT_EQ(inOrder(ReadChromiumBookmarks(chromeBookmarks, &error)), expected) << ToUtf8(error);

    ASSERT_TRUE(Run(ToProfile(FromBrowser(BrowserKind::Chrome), empty, 1)).ok);
    EXPECT_EQ(inOrder(db.GetBookmarks(empty)), expected) << "browser into a profile";
    ASSERT_TRUE(Run(ToProfile(FromProfile(empty, L"Empty"), work, 1)).ok);
    EXPECT_EQ(inOrder(db.GetBookmarks(work)), expected) << "one profile copied into another";
    ASSERT_TRUE(Run(ToBrowser(FromProfile(work, L"Work"), BrowserKind::Edge, 1)).ok);
    EXPECT_EQ(inOrder(ReadChromiumBookmarks(edgeBookmarks, &error)), expected) << "profile into a browser";

    for (const wchar_t* name : {L"export.json", L"export.html"}) {
        const std::wstring file = dir / name;
        ASSERT_TRUE(ExportBookmarks(db.GetBookmarks(work), file, &error)) << ToUtf8(error);
        EXPECT_EQ(inOrder(ImportBookmarks(file, &error)), expected) << "exported from a profile to " << ToUtf8(name);
    }
}

}  // namespace
}  // namespace bm::test
