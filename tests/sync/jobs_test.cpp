// Whole sync jobs over real stores: what lands in each destination, the counts and the log lines.

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
    ExpectDestination(result.destinations[0], L"Microsoft Edge", true, 3, 0);
    ExpectDestination(result.destinations[1], L"Mozilla Firefox", true, 3, 0);
    ExpectLines(lines,
                {
                    L"Loaded 3 bookmark(s) from 'Google Chrome'.",
                    L"Backup created: " + edgeBookmarks +
                        L".backup_{stamp}.bak (Replace mode - restore this if anything looks wrong)",
                    L"[REPLACE] Clearing existing bookmarks in 'Microsoft Edge' before writing (backup above can "
                    L"restore them).",
                    L"[OK] Microsoft Edge: 3 added, 0 duplicate(s) skipped.",
                    L"Backup created: " + firefoxPlaces +
                        L".backup_{stamp}.bak (Replace mode - restore this if anything looks wrong)",
                    L"[REPLACE] Clearing existing bookmarks in 'Mozilla Firefox' before writing (backup above can "
                    L"restore them).",
                    L"[OK] Mozilla Firefox: 3 added, 0 duplicate(s) skipped.",
                });
    EXPECT_EQ(Chromium(edgeBookmarks), kChromeOriginal);
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
    for (const DestinationResult& d : result.destinations) {
        EXPECT_TRUE(d.ok);
        EXPECT_EQ(d.added, 2);
        EXPECT_EQ(d.duplicatesSkipped, 0);
    }
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines[0], L"Loaded 2 bookmark(s) from profile 'Work'.");
    EXPECT_EQ(lines[3], L"[OK] Google Chrome: 2 added, 0 duplicate(s) skipped.");
    EXPECT_EQ(lines[6], L"[OK] Microsoft Edge: 2 added, 0 duplicate(s) skipped.");
    EXPECT_EQ(lines[9], L"[OK] Mozilla Firefox: 2 added, 0 duplicate(s) skipped.");
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
    ExpectLines(lines, {
                           L"Loaded 0 bookmark(s) from profile 'Empty'.",
                           L"Backup created: " + chromeBookmarks + L".backup_{stamp}.bak",
                           L"[OK] Google Chrome: 0 added, 0 duplicate(s) skipped.",
                       });
    EXPECT_EQ(Chromium(chromeBookmarks), kChromeOriginal);

    result = Run(ToProfile(FromProfile(empty, L"Empty"), work, 1));
    ASSERT_TRUE(result.ok);
    ASSERT_EQ(result.destinations.size(), 1u);
    EXPECT_TRUE(result.destinations[0].ok);
    EXPECT_TRUE(Profile(work).empty());
    ASSERT_EQ(Snapshots(work).size(), 1u);
    EXPECT_EQ(Snapshots(work)[0].bookmark_count, 2);
}

TEST_F(Jobs, SourceBrowserAsItsOwnDestinationSkipsEverything) {
    const SyncResult result = Run(ToBrowser(FromBrowser(BrowserKind::Chrome), BrowserKind::Chrome, 0));
    ASSERT_TRUE(result.ok);
    ASSERT_EQ(result.destinations.size(), 1u);
    ExpectDestination(result.destinations[0], L"Google Chrome", true, 0, 3);
    EXPECT_EQ(Chromium(chromeBookmarks), kChromeOriginal);
}

}  // namespace
}  // namespace bm::test
