// A running browser is never read or written: real processes under browser executable names.

#include "tests/sync/sync_fixture.h"
#include "tests/support/fake_browser.h"

namespace bm::test {
namespace {

using RunningBrowsers = SyncTree;

const std::wstring kLockedChrome = L"[LOCKED] Skipped: 'Google Chrome' is currently running. Please close it first.";

TEST_F(RunningBrowsers, RunningSourceIsRefusedAndRunningDestinationIsReportedLocked) {
    FakeBrowser chrome(L"chrome.exe", FakeBrowserBehavior::NoWindow);

    SyncResult result = Run(ToAll(FromBrowser(BrowserKind::Chrome), 1));
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.destinations.empty());
    EXPECT_EQ(result.error,
              L"'Google Chrome' is currently running. Close it and try again (reading is safe, but we avoid touching "
              L"any browser's profile while its process is active).");
    ExpectLines(lines, {L"[ERROR] " + result.error});
    EXPECT_FALSE(PathExists(edgeBookmarks));

    result = Run(ToAll(FromProfile(work, L"Work"), 1));
    ASSERT_TRUE(result.ok);
    ASSERT_EQ(result.destinations.size(), 3u);
    EXPECT_EQ(result.destinations[0].name, L"Google Chrome");
    EXPECT_FALSE(result.destinations[0].ok);
    EXPECT_EQ(result.destinations[0].message, L"Skipped: 'Google Chrome' is currently running. Please close it first.");
    EXPECT_TRUE(result.destinations[1].ok);
    EXPECT_TRUE(result.destinations[2].ok);
    // The locked browser gets its one line and nothing else (no backup, no [REPLACE] line).
    ExpectLines(lines,
                {
                    L"Loaded 2 bookmark(s) from profile 'Work'.",
                    kLockedChrome,
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
    EXPECT_TRUE(ListFileBackups(chromeBookmarks).empty());
}

TEST_F(RunningBrowsers, RunningTestComesBeforeTheDetectionTest) {
    FakeBrowser brave(L"brave.exe", FakeBrowserBehavior::NoWindow);
    const SyncResult result = Run(ToBrowser(FromBrowser(BrowserKind::Chrome), BrowserKind::Brave, 0));
    ASSERT_TRUE(result.ok);
    ASSERT_EQ(result.destinations.size(), 1u);
    EXPECT_FALSE(result.destinations[0].ok);
    ExpectLines(lines, {L"Loaded 3 bookmark(s) from 'Google Chrome'.",
                        L"[LOCKED] Skipped: 'Brave' is currently running. Please close it first."});
}

TEST_F(RunningBrowsers, OperaAndOperaGxShareOneExecutable) {
    for (const std::wstring folder : {L"Opera Stable", L"Opera GX Stable"}) {
        const std::wstring profile = roaming + L"\\Opera Software\\" + folder;
        WriteTextFile(profile + L"\\Preferences", "{}");
        WriteTextFile(profile + L"\\Bookmarks", kChromeBookmarks);
    }
    browsers = DetectBrowsersIn(local, roaming);
    ASSERT_TRUE(Browser(BrowserKind::Opera).detected);
    ASSERT_TRUE(Browser(BrowserKind::OperaGx).detected);

    FakeBrowser opera(L"opera.exe", FakeBrowserBehavior::NoWindow);
    for (const BrowserKind kind : {BrowserKind::Opera, BrowserKind::OperaGx}) {
        const SyncResult result = Run(ToBrowser(FromBrowser(kind), BrowserKind::Chrome, 0));
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(lines.size(), 1u);
        EXPECT_EQ(result.error.rfind(L"'" + Browser(kind).displayName + L"' is currently running.", 0), 0u);
    }

    const SyncResult result = Run(ToAll(FromProfile(work, L"Work"), 0));
    ASSERT_TRUE(result.ok);
    // In list order: Chrome, Edge, Opera, Opera GX, Firefox (Brave and Vivaldi are not detected).
    ASSERT_EQ(result.destinations.size(), 5u);
    EXPECT_EQ(result.destinations[2].name, L"Opera");
    EXPECT_FALSE(result.destinations[2].ok);
    EXPECT_EQ(result.destinations[3].name, L"Opera GX");
    EXPECT_FALSE(result.destinations[3].ok);
    int locked = 0;
    for (const std::wstring& line : lines)
        if (line.rfind(L"[LOCKED] ", 0) == 0) ++locked;
    EXPECT_EQ(locked, 2);
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        L"[LOCKED] Skipped: 'Opera GX' is currently running. Please close it first."),
              lines.end());
    for (const BrowserKind kind : {BrowserKind::Opera, BrowserKind::OperaGx}) {
        EXPECT_EQ(ReadTextFile(Browser(kind).bookmarksPath), kChromeBookmarks);
        EXPECT_TRUE(ListFileBackups(Browser(kind).bookmarksPath).empty());
    }
}

}  // namespace
}  // namespace bm::test
