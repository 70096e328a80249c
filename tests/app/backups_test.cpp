// The backups panel through the UI driver: a browser's file backups newest first and their restore
// (with the safety backup it makes), a running browser and a running job keeping Restore disabled,
// the close button, and the snapshots of a saved profile with restore, delete and their time text.
#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "app/app.h"
#include "core/browsers.h"
#include "core/file_backup.h"
#include "core/file_io.h"
#include "tests/app/panel_fixture.h"
#include "tests/support/fake_browser.h"
#include "tests/support/temp_dir.h"

namespace bm::test {
namespace {

class BackupsPanelTest : public PanelFixture {
public:
    void SetUp() override {
        PanelFixture::SetUp();
        Show(&bm::ui::App::DrawBackupsPanel);
    }

    std::wstring ChromeFile() const { return Local() + L"\\Google\\Chrome\\User Data\\Default\\Bookmarks"; }

    int IndexOf(BrowserKind kind) const {
        for (size_t i = 0; i < app.browsers.size(); ++i) {
            if (app.browsers[i].kind == kind) return static_cast<int>(i);
        }
        ADD_FAILURE() << "browser missing";
        return 0;
    }

    // A backup of the Chrome file made at `time`, holding a Bookmarks file with the records.
    std::wstring AddChromeBackup(const LocalDateTime& time, const std::vector<BookmarkRecord>& records) {
        const std::wstring staging = dir / (L"staging" + std::to_wstring(time.year)) + L"\\Bookmarks";
        WriteBookmarks(staging, records);
        const std::wstring backup = MakeBackupPathAt(ChromeFile(), time);
        EXPECT_TRUE(CopyFileW(staging.c_str(), backup.c_str(), FALSE));
        return backup;
    }

    void ClickNth(const std::string& label, size_t n) {
        const std::vector<const UiItem*> all = ui.FindAll(label);
        ASSERT_GT(all.size(), n) << label;
        const UiItem item = *all[n];
        ASSERT_TRUE(ui.ClickItem(item));
    }

    // The n-th "Restore" of the panel, then the one of the question it asks.
    void RestoreNth(size_t n) {
        ClickNth("Restore", n);
        ui.Frame(2);
        ASSERT_TRUE(ClickIn("Restore", "Restore Backup")) << "no question before the restore";
    }
};

TEST_F(BackupsPanelTest, ListsBackupsNewestFirstAndRestoreReplacesTheFileAfterASafetyBackup) {
    WriteBookmarks(ChromeFile(), {Bookmark(L"https://current.example/", L"Current")});
    const std::string current = ReadTextFile(ChromeFile());
    const std::wstring older = AddChromeBackup({2024, 1, 2, 3, 4, 5}, {Bookmark(L"https://older.example/", L"Older")});
    AddChromeBackup({2025, 6, 7, 8, 9, 10}, {Bookmark(L"https://newer.example/", L"Newer")});
    const std::string olderBytes = ReadTextFile(older);
    DetectBrowsers();
    app.backupBrowserIndex = IndexOf(BrowserKind::Chrome);
    app.explorerReloadPending = false;

    ui.Frame();
    const size_t newerAt = shownText.find("2025-06-07 08:09:10");
    const size_t olderAt = shownText.find("2024-01-02 03:04:05");
    ASSERT_NE(newerAt, std::string::npos) << shownText;
    ASSERT_NE(olderAt, std::string::npos) << shownText;
    EXPECT_LT(newerAt, olderAt);
    EXPECT_FALSE(Shows("before restoring"));
    ASSERT_EQ(ui.FindAll("Restore").size(), 2u);

    RestoreNth(1);
    EXPECT_EQ(ReadTextFile(ChromeFile()), olderBytes);
    EXPECT_EQ(NewLogLines(),
              std::vector<std::wstring>{L"[OK] Restored Google Chrome bookmarks from backup 2024-01-02 03:04:05."});
    EXPECT_TRUE(app.explorerReloadPending);

    // The next frame lists the copy of the file as it was before the restore, as the newest backup.
    ui.Frame();
    EXPECT_EQ(ui.FindAll("Restore").size(), 3u);
    const std::vector<FileBackupEntry> backups = ListFileBackups(ChromeFile());
    ASSERT_EQ(backups.size(), 3u);
    EXPECT_EQ(ReadTextFile(backups[0].path), current);
    EXPECT_LT(shownText.find(ToUtf8(backups[0].displayTime)), shownText.find("2025-06-07 08:09:10"));
}

TEST_F(BackupsPanelTest, AClickWhereARestoredRowStoodAsksAboutTheRowNowThereAndRowsSayWhatTheyHold) {
    WriteBookmarks(ChromeFile(), {Bookmark(L"https://current.example/", L"Current")});
    const std::wstring older = AddChromeBackup({2024, 1, 2, 3, 4, 5}, {Bookmark(L"https://older.example/", L"Older")});
    AddChromeBackup({2025, 6, 7, 8, 9, 10}, {Bookmark(L"https://n1.example/", L"N1"), Bookmark(L"https://n2.example/", L"N2")});
    const std::string olderBytes = ReadTextFile(older);
    DetectBrowsers();
    app.backupBrowserIndex = IndexOf(BrowserKind::Chrome);
    ui.Frame();
    app.backupCounts.WaitIdle();
    ui.Frame();
    EXPECT_TRUE(Shows("2025-06-07 08:09:10 - 2 bookmark(s)")) << shownText;
    EXPECT_TRUE(Shows("2024-01-02 03:04:05 - 1 bookmark(s)")) << shownText;

    // The restore asks first and names the backup; nothing changes before the answer.
    const std::vector<const UiItem*> rows = ui.FindAll("Restore");
    ASSERT_EQ(rows.size(), 2u);
    const ImVec2 olderButton = rows[1]->Center();
    ClickNth("Restore", 1);
    ui.Frame(2);
    EXPECT_TRUE(Shows("Restore Google Chrome's bookmarks from the backup of 2024-01-02 03:04:05 - 1 bookmark(s)?"))
        << shownText;
    EXPECT_NE(ReadTextFile(ChromeFile()), olderBytes);
    ASSERT_TRUE(ClickIn("Restore", "Restore Backup"));
    EXPECT_EQ(ReadTextFile(ChromeFile()), olderBytes);
    NewLogLines();

    // The safety backup now stands at the top and every row has moved down: a click where the
    // older backup's Restore stood only asks about the row that stands there now.
    ui.Frame();
    ASSERT_EQ(ui.FindAll("Restore").size(), 3u);
    ui.MoveMouse(olderButton);
    ImGui::GetIO().AddMouseButtonEvent(0, true);
    ui.Frame();
    ImGui::GetIO().AddMouseButtonEvent(0, false);
    ui.Frame(3);
    EXPECT_TRUE(Shows("from the backup of 2025-06-07 08:09:10 - 2 bookmark(s)?")) << shownText;
    EXPECT_EQ(ReadTextFile(ChromeFile()), olderBytes);
    ASSERT_TRUE(ClickIn("Cancel", "Restore Backup"));
    EXPECT_EQ(ReadTextFile(ChromeFile()), olderBytes);
    EXPECT_TRUE(NewLogLines().empty());
}

// A long-time user's backups: twenty copies of a file of 100,000 bookmarks. The first frame counts
// none of them itself: every row says "counting..." and the counts follow from their own thread.
TEST_F(BackupsPanelTest, TheFirstFrameWithTwentyLargeBackupsReadsNoneOfThem) {
    std::vector<BookmarkRecord> records;
    records.reserve(100000);
    for (int i = 0; i < 100000; ++i)
        records.push_back(Bookmark(L"https://site" + std::to_wstring(i) + L".example/page", L"Page " + std::to_wstring(i)));
    const std::wstring staging = dir / L"large-staging";
    CreateDirectoryW(staging.c_str(), nullptr);
    WriteBookmarks(staging + L"\\Bookmarks", records);
    WriteBookmarks(ChromeFile(), {Bookmark(L"https://current.example/", L"Current")});
    for (int i = 0; i < 20; ++i) {
        const std::wstring backup = MakeBackupPathAt(ChromeFile(), {2026, 1 + i % 12, 1 + i, 8, i, 30});
        // Links to one file: twenty reads of 100,000 bookmarks without twenty copies on the disk.
        ASSERT_TRUE(CreateHardLinkW(backup.c_str(), (staging + L"\\Bookmarks").c_str(), nullptr));
    }
    DetectBrowsers();
    app.backupBrowserIndex = IndexOf(BrowserKind::Chrome);

    ui.Frame();
    size_t counting = 0;
    for (size_t at = shownText.find(" - counting..."); at != std::string::npos; at = shownText.find(" - counting...", at + 1))
        ++counting;
    EXPECT_EQ(counting, 20u) << shownText;
    EXPECT_FALSE(Shows("bookmark(s)")) << shownText;
}

TEST_F(BackupsPanelTest, CountsArriveFromTheirThreadStayAcrossSwitchesAndFollowAChangedBackup) {
    WriteBookmarks(ChromeFile(), {Bookmark(L"https://current.example/", L"Current")});
    const std::wstring older = AddChromeBackup({2024, 1, 2, 3, 4, 5}, {Bookmark(L"https://older.example/", L"Older")});
    AddChromeBackup({2025, 6, 7, 8, 9, 10}, {Bookmark(L"https://n1.example/", L"N1"), Bookmark(L"https://n2.example/", L"N2")});
    DetectBrowsers();
    app.backupBrowserIndex = IndexOf(BrowserKind::Chrome);

    ui.Frame();
    EXPECT_TRUE(Shows("2025-06-07 08:09:10 - counting...")) << shownText;
    EXPECT_TRUE(Shows("2024-01-02 03:04:05 - counting...")) << shownText;
    app.backupCounts.WaitIdle();
    ui.Frame();
    EXPECT_TRUE(Shows("2025-06-07 08:09:10 - 2 bookmark(s)")) << shownText;
    EXPECT_TRUE(Shows("2024-01-02 03:04:05 - 1 bookmark(s)")) << shownText;
    EXPECT_EQ(app.backupCounts.FilesRead(), 2);

    // Another browser and back: the counts are kept, nothing is read again.
    app.backupBrowserIndex = IndexOf(BrowserKind::Firefox);
    ui.Frame();
    app.backupBrowserIndex = IndexOf(BrowserKind::Chrome);
    ui.Frame();
    EXPECT_TRUE(Shows("2025-06-07 08:09:10 - 2 bookmark(s)")) << shownText;
    EXPECT_TRUE(Shows("2024-01-02 03:04:05 - 1 bookmark(s)")) << shownText;
    app.backupCounts.WaitIdle();
    EXPECT_EQ(app.backupCounts.FilesRead(), 2);

    // A backup changed outside the program: once the list is read afresh (the window was activated),
    // that one is counted again and only that one.
    WriteBookmarks(older, {Bookmark(L"https://a.example/", L"A"), Bookmark(L"https://b.example/", L"B"),
                           Bookmark(L"https://c.example/", L"C")});
    app.outsideReads.Forget();
    ui.Frame();
    app.backupCounts.WaitIdle();
    ui.Frame();
    EXPECT_TRUE(Shows("2024-01-02 03:04:05 - 3 bookmark(s)")) << shownText;
    EXPECT_TRUE(Shows("2025-06-07 08:09:10 - 2 bookmark(s)")) << shownText;
    EXPECT_EQ(app.backupCounts.FilesRead(), 3);
}

TEST_F(BackupsPanelTest, FailedFileRestoreLogsTheErrorAndLeavesTheFile) {
    WriteBookmarks(ChromeFile(), {Bookmark(L"https://current.example/", L"Current")});
    const std::string current = ReadTextFile(ChromeFile());
    AddChromeBackup({2024, 1, 2, 3, 4, 5}, {Bookmark(L"https://older.example/", L"Older")});
    DetectBrowsers();
    app.backupBrowserIndex = IndexOf(BrowserKind::Chrome);
    app.explorerReloadPending = false;
    SetReadOnly(ChromeFile(), true);

    ui.Frame();
    RestoreNth(0);
    SetReadOnly(ChromeFile(), false);
    EXPECT_EQ(ReadTextFile(ChromeFile()), current);
    const std::vector<std::wstring> lines = NewLogLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind(L"[ERROR] Restore failed for Google Chrome: ", 0), 0u) << ToUtf8(lines[0]);
    EXPECT_GT(lines[0].size(), std::wstring(L"[ERROR] Restore failed for Google Chrome: ").size());
    EXPECT_FALSE(app.explorerReloadPending);
}

TEST_F(BackupsPanelTest, RunningBrowserKeepsRestoreDisabledUntilClosedThroughTheDialog) {
    WriteBookmarks(ChromeFile(), {Bookmark(L"https://current.example/", L"Current")});
    const std::string current = ReadTextFile(ChromeFile());
    const std::wstring backup = AddChromeBackup({2024, 1, 2, 3, 4, 5}, {Bookmark(L"https://older.example/", L"Older")});
    DetectBrowsers();
    app.backupBrowserIndex = IndexOf(BrowserKind::Chrome);
    const int64_t profile = app.db.CreateProfile(L"Work");
    app.db.CreateSnapshot(profile, L"Kept");
    app.RefreshProfiles();

    FakeBrowser chrome(L"chrome.exe");
    ui.Frame();
    EXPECT_TRUE(Shows("Close Google Chrome before restoring.")) << shownText;
    ASSERT_TRUE(ui.Has("Close##backup"));
    ASSERT_EQ(ui.FindAll("Restore").size(), 2u);  // the file backup's and the snapshot's
    ClickNth("Restore", 0);
    EXPECT_EQ(ReadTextFile(ChromeFile()), current);
    EXPECT_EQ(ListFileBackups(ChromeFile()).size(), 1u);
    EXPECT_TRUE(NewLogLines().empty());

    // The snapshot part does not care about the browser.
    RestoreNth(1);
    EXPECT_EQ(NewLogLines(), std::vector<std::wstring>{L"[OK] Restored profile 'Work' from snapshot (0 bookmarks)."});

    // "Close" queues this one browser and never a sync afterwards.
    app.syncAfterClose = true;
    app.closeQueueExe = {L"msedge.exe", L"brave.exe"};
    ASSERT_TRUE(ui.Click("Close##backup"));
    EXPECT_EQ(app.closeQueueExe, std::vector<std::wstring>{L"chrome.exe"});
    EXPECT_EQ(app.closeQueueNames, std::vector<std::wstring>{L"Google Chrome"});
    EXPECT_FALSE(app.syncAfterClose);
    ui.Frame(2);
    ASSERT_TRUE(ui.Click("Close completely"));
    EXPECT_TRUE(chrome.WaitForExit(5000));
    EXPECT_FALSE(app.syncRunning.load());

    ui.Frame();
    EXPECT_FALSE(Shows("before restoring"));
    EXPECT_FALSE(ui.Has("Close##backup"));
    NewLogLines();
    RestoreNth(0);
    EXPECT_EQ(ReadTextFile(ChromeFile()), ReadTextFile(backup));
    EXPECT_EQ(NewLogLines(),
              std::vector<std::wstring>{L"[OK] Restored Google Chrome bookmarks from backup 2024-01-02 03:04:05."});
}

TEST_F(BackupsPanelTest, NeitherRestoreActsWhileASyncJobRuns) {
    WriteBookmarks(ChromeFile(), {Bookmark(L"https://current.example/", L"Current")});
    const std::string current = ReadTextFile(ChromeFile());
    AddChromeBackup({2024, 1, 2, 3, 4, 5}, {Bookmark(L"https://older.example/", L"Older")});
    DetectBrowsers();
    app.backupBrowserIndex = IndexOf(BrowserKind::Chrome);
    const int64_t profile = app.db.CreateProfile(L"Work");
    app.db.CreateSnapshot(profile, L"Empty");
    ASSERT_EQ(app.db.AddBookmarks(profile, {Bookmark(L"https://kept.example/", L"Kept")}), 1);
    app.RefreshProfiles();

    app.syncRunning = true;  // a job writing into this browser or profile may be under way
    ui.Frame();
    ASSERT_EQ(ui.FindAll("Restore").size(), 2u);
    ClickNth("Restore", 0);
    ClickNth("Restore", 1);
    EXPECT_EQ(ReadTextFile(ChromeFile()), current);
    EXPECT_EQ(app.db.GetBookmarks(profile).size(), 1u);
    EXPECT_EQ(app.db.ListSnapshots(profile).size(), 1u);
    EXPECT_TRUE(NewLogLines().empty());

    app.syncRunning = false;
    ui.Frame();
    RestoreNth(1);
    EXPECT_TRUE(app.db.GetBookmarks(profile).empty());
    ui.Frame();
    RestoreNth(0);
    EXPECT_EQ(NewLogLines().size(), 2u);
    EXPECT_NE(ReadTextFile(ChromeFile()), current);
}

// True when the dialog of that name stands in the middle of the display.
bool Centred(const char* dialog) {
    ImGuiWindow* window = ImGui::FindWindowByName(dialog);
    if (!window || !window->Active) return false;
    const ImVec2 middle = ImGui::GetMainViewport()->GetCenter();
    const ImVec2 own(window->Pos.x + window->Size.x * 0.5f, window->Pos.y + window->Size.y * 0.5f);
    return std::abs(own.x - middle.x) <= 1.0f && std::abs(own.y - middle.y) <= 1.0f;
}

TEST_F(BackupsPanelTest, SnapshotRestoreSaysWhatTheProfileHoldsNowAndDeleteAsksInTheMiddleWithUtcTimeText) {
    const int64_t profile = app.db.CreateProfile(L"Work");
    ASSERT_EQ(app.db.AddBookmarks(profile, {Bookmark(L"https://a.example/", L"A"), Bookmark(L"https://b.example/", L"B")}), 2);
    const int64_t snapshot = app.db.CreateSnapshot(profile, L"Before");
    app.db.DeleteBookmarksForProfile(profile);
    ASSERT_EQ(app.db.AddBookmarks(profile, {Bookmark(L"https://c.example/", L"C")}), 1);
    // Taken at the Unix epoch. (Its stored count must match its rows: a snapshot that holds fewer or
    // more than it says is damaged, and its restore is refused.)
    Sql("UPDATE profile_backups SET created_at = 0 WHERE id = " + std::to_string(snapshot));
    app.RefreshProfiles();
    app.explorerReloadPending = false;

    ui.Frame();
    EXPECT_TRUE(Shows("No browsers detected.")) << shownText;
    EXPECT_TRUE(Shows("1970-01-01 00:00:00 - Before (2 bookmarks)")) << shownText;
    ClickNth("Restore", 0);
    ui.Frame(2);
    EXPECT_TRUE(Shows("Restore the saved profile 'Work' from the snapshot 1970-01-01 00:00:00 - Before (2 bookmarks)?"))
        << shownText;
    EXPECT_TRUE(Shows("The profile holds 1 bookmark(s) now.")) << shownText;
    EXPECT_TRUE(Centred("Restore Backup"));
    EXPECT_EQ(app.db.GetBookmarks(profile).size(), 1u);
    ASSERT_TRUE(ClickIn("Restore", "Restore Backup"));
    EXPECT_EQ(NewLogLines(), std::vector<std::wstring>{L"[OK] Restored profile 'Work' from snapshot (2 bookmarks)."});
    EXPECT_TRUE(app.explorerReloadPending);
    const std::vector<BookmarkRecord> restored = app.db.GetBookmarks(profile);
    ASSERT_EQ(restored.size(), 2u);
    EXPECT_EQ(restored[0].url, L"https://a.example/");  // kept as it was added

    ui.Frame();
    EXPECT_TRUE(Shows(" - Auto-backup before restore (1 bookmarks)")) << shownText;
    ASSERT_EQ(ui.FindAll("Delete").size(), 2u);

    // Delete asks first, naming the snapshot; Cancel keeps it.
    NewLogLines();
    ClickNth("Delete", 0);
    ui.Frame();
    EXPECT_TRUE(Shows("Delete the snapshot of 'Work' from ")) << shownText;
    EXPECT_TRUE(Shows(" - Auto-backup before restore (1 bookmarks)?")) << shownText;
    ui.Frame();
    EXPECT_TRUE(Centred("Delete Snapshot"));
    EXPECT_EQ(app.db.ListSnapshots(profile).size(), 2u);
    ASSERT_TRUE(ClickIn("Cancel", "Delete Snapshot"));
    ui.Frame();
    EXPECT_EQ(app.db.ListSnapshots(profile).size(), 2u);
    EXPECT_TRUE(NewLogLines().empty());

    // Confirmed: the row goes with the next frame, and the log says which one went.
    ClickNth("Delete", 0);
    ui.Frame();
    ASSERT_TRUE(ClickIn("Delete", "Delete Snapshot"));
    const std::vector<SnapshotInfo> left = app.db.ListSnapshots(profile);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].id, snapshot);
    ui.Frame();
    EXPECT_EQ(ui.FindAll("Delete").size(), 1u);
    EXPECT_FALSE(Shows("Auto-backup before restore"));
    const std::vector<std::wstring> lines = NewLogLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind(L"Deleted snapshot of 'Work' from ", 0), 0u) << ToUtf8(lines[0]);
    EXPECT_NE(lines[0].find(L" - Auto-backup before restore (1 bookmarks)."), std::wstring::npos) << ToUtf8(lines[0]);
}

TEST_F(BackupsPanelTest, FailedSnapshotRestoreLogsTheErrorAndChangesNothing) {
    const int64_t profile = app.db.CreateProfile(L"Work");
    ASSERT_EQ(app.db.AddBookmarks(profile, {Bookmark(L"https://a.example/", L"A")}), 1);
    const int64_t snapshot = app.db.CreateSnapshot(profile, L"Broken");
    Sql("UPDATE profile_backups SET snapshot_json = '[{\"url\": ' WHERE id = " + std::to_string(snapshot));
    app.RefreshProfiles();
    app.explorerReloadPending = false;

    ui.Frame();
    RestoreNth(0);
    const std::vector<std::wstring> lines = NewLogLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind(L"[ERROR] Restore failed: The snapshot is damaged and was not restored; nothing was changed.", 0), 0u)
        << ToUtf8(lines[0]);
    EXPECT_FALSE(app.explorerReloadPending);
    EXPECT_EQ(app.db.GetBookmarks(profile).size(), 1u);
    EXPECT_EQ(app.db.ListSnapshots(profile).size(), 1u);  // no automatic snapshot for a refused restore
}

TEST_F(BackupsPanelTest, EmptyStatesAndTheChoiceOfBrowserAndProfile) {
    ui.Frame();
    EXPECT_TRUE(Shows("No browsers detected.")) << shownText;
    EXPECT_TRUE(Shows("No saved profiles yet.")) << shownText;
    EXPECT_EQ(FindCombo("##backupBrowser"), nullptr);
    EXPECT_EQ(FindCombo("##backupProfile"), nullptr);

    DetectBrowsers();
    app.db.CreateProfile(L"Home");
    app.db.CreateProfile(L"Work");
    app.RefreshProfiles();
    app.backupProfileIndex = 9;  // beyond the list: lowered to its last entry
    ui.Frame();
    EXPECT_EQ(app.backupProfileIndex, 1);
    EXPECT_TRUE(Shows("No backups yet for this browser. One is created automatically the next time you sync to it."));
    EXPECT_TRUE(Shows("No snapshots yet. One is created automatically the next time you sync into this profile."));

    ASSERT_TRUE(ClickCombo("##backupBrowser"));
    ASSERT_TRUE(ui.Click("Mozilla Firefox"));
    EXPECT_EQ(app.backupBrowserIndex, IndexOf(BrowserKind::Firefox));
    EXPECT_EQ(app.db.GetSetting(L"ui_backup_browser", L""), L"firefox");
    ASSERT_TRUE(ClickCombo("##backupProfile"));
    ASSERT_TRUE(ui.Click("Home"));
    EXPECT_EQ(app.backupProfileIndex, 0);
    EXPECT_EQ(app.db.GetSetting(L"ui_backup_profile", L""), std::to_wstring(app.profiles[0].id));
}

uint64_t WriteTime(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
}

uint64_t Now() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    return (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

void SetWriteTime(const std::wstring& path, uint64_t time) {
    HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    FILETIME fileTime{static_cast<DWORD>(time & 0xFFFFFFFFu), static_cast<DWORD>(time >> 32)};
    EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &fileTime));
    CloseHandle(file);
}

constexpr uint64_t kMinute = 60ull * 10000000ull;  // in FILETIME ticks

TEST_F(BackupsPanelTest, ARestoredFileIsDatedNowAndTheBrowserKeepsItsProfile) {
    // Edge with two profiles: Default in use now, "Profile 1" written half an hour ago, and a backup
    // of Default two days old.
    const std::wstring data = Local() + L"\\Microsoft\\Edge\\User Data";
    const std::wstring defaultFile = data + L"\\Default\\Bookmarks";
    const std::wstring otherFile = data + L"\\Profile 1\\Bookmarks";
    WriteBookmarks(otherFile, {Bookmark(L"https://other.example/", L"Other")});
    SetWriteTime(otherFile, Now() - 30 * kMinute);
    WriteBookmarks(defaultFile, {Bookmark(L"https://current.example/", L"Current")});
    const std::wstring staging = dir / L"staging\\Bookmarks";
    WriteBookmarks(staging, {Bookmark(L"https://older.example/", L"Older")});
    const std::wstring backup = MakeBackupPathAt(defaultFile, {2024, 1, 2, 3, 4, 5});
    ASSERT_TRUE(CopyFileW(staging.c_str(), backup.c_str(), FALSE));
    SetWriteTime(backup, Now() - 2 * 24 * 60 * kMinute);

    DetectBrowsers();
    app.NoteDetectedProfiles();
    const int edge = IndexOf(BrowserKind::Edge);
    ASSERT_EQ(app.browsers[edge].bookmarksPath, defaultFile);
    app.backupBrowserIndex = edge;
    ui.Frame();
    NewLogLines();

    const uint64_t before = Now();
    RestoreNth(0);
    EXPECT_EQ(ReadTextFile(defaultFile), ReadTextFile(backup));
    EXPECT_EQ(NewLogLines(),
              std::vector<std::wstring>{L"[OK] Restored Microsoft Edge bookmarks from backup 2024-01-02 03:04:05."});
    // Dated at the restore (file times may be kept coarser than the clock: a second's slack).
    EXPECT_GE(WriteTime(defaultFile) + 10000000ull, before);
    EXPECT_GT(WriteTime(defaultFile), WriteTime(otherFile));

    // Detected again (F5, or the next start): still Default, and nothing to report.
    DetectBrowsers();
    app.NoteDetectedProfiles();
    EXPECT_EQ(app.browsers[edge].bookmarksPath, defaultFile);
    EXPECT_TRUE(NewLogLines().empty());

    // Where the detection does pick another folder, the log says so and names both; the next start
    // compares with the folder stored, not with nothing.
    WriteBookmarks(otherFile, {Bookmark(L"https://used.example/", L"Used")});
    SetWriteTime(otherFile, Now() + kMinute);
    DetectBrowsers();
    app.NoteDetectedProfiles();
    ASSERT_EQ(app.browsers[edge].bookmarksPath, otherFile);
    EXPECT_EQ(NewLogLines(), std::vector<std::wstring>{L"[WARN] Microsoft Edge now uses the profile folder " + data +
                                                       L"\\Profile 1 instead of " + data +
                                                       L"\\Default: its explorer, its backups and syncs into it now "
                                                       L"work on that folder."});
    app.detectedProfileFolders.clear();  // as after a restart
    app.NoteDetectedProfiles();
    EXPECT_TRUE(NewLogLines().empty());
    SetWriteTime(otherFile, Now() - 60 * kMinute);
    app.detectedProfileFolders.clear();
    DetectBrowsers();
    app.NoteDetectedProfiles();
    const std::vector<std::wstring> back = NewLogLines();
    ASSERT_EQ(back.size(), 1u);
    EXPECT_NE(back[0].find(L"now uses the profile folder " + data + L"\\Default instead of"), std::wstring::npos)
        << ToUtf8(back[0]);
}

TEST_F(BackupsPanelTest, ARestoreIsRefusedWhenTheBrowserStartedAfterTheQuestionOpened) {
    WriteBookmarks(ChromeFile(), {Bookmark(L"https://current.example/", L"Current")});
    const std::string current = ReadTextFile(ChromeFile());
    AddChromeBackup({2024, 1, 2, 3, 4, 5}, {Bookmark(L"https://older.example/", L"Older")});
    DetectBrowsers();
    app.backupBrowserIndex = IndexOf(BrowserKind::Chrome);
    ui.Frame();
    NewLogLines();
    ClickNth("Restore", 0);
    ui.Frame(2);
    ASSERT_TRUE(ui.Has("Restore##confirm"));
    // The file's own count comes from the counting thread, as the rows' do.
    app.backupCounts.WaitIdle();
    ui.Frame(2);
    EXPECT_TRUE(Shows("The file holds 1 bookmark(s) now.")) << shownText;

    FakeBrowser chrome(L"chrome.exe");  // started while the question is open
    ASSERT_TRUE(ClickIn("Restore", "Restore Backup"));
    EXPECT_EQ(ReadTextFile(ChromeFile()), current);
    EXPECT_EQ(ListFileBackups(ChromeFile()).size(), 1u);  // not even a safety backup
    EXPECT_EQ(NewLogLines(), std::vector<std::wstring>{L"[ERROR] Restore not done: Google Chrome is running. Close it, "
                                                       L"then restore; " + ChromeFile() + L" was left as it was."});
    // The way out is offered as a sync offers it: the close dialog for this browser, no sync after.
    EXPECT_EQ(app.closeQueueExe, std::vector<std::wstring>{L"chrome.exe"});
    EXPECT_FALSE(app.syncAfterClose);
    ui.Frame(2);
    EXPECT_FALSE(ui.Has("Restore##confirm"));
    EXPECT_TRUE(ui.Has("Close completely"));
}

}  // namespace
}  // namespace bm::test
