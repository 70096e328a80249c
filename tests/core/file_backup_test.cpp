#include "core/file_backup.h"

#include <windows.h>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/bookmark_record.h"
#include "core/browsers.h"
#include "tests/support/backup_names.h"
#include "tests/support/firefox_fixture.h"
#include "tests/support/temp_dir.h"

namespace bm {
namespace {

using test::ReadTextFile;
using test::TempDir;
using test::WriteTextFile;

std::wstring Stamp(const SYSTEMTIME& t) {
    const std::wstring path = MakeBackupPathAt(L"x", {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond});
    return path.substr(std::wstring(L".\\x.backup_").size(), 15);
}

std::vector<std::wstring> Paths(const std::vector<FileBackupEntry>& entries) {
    std::vector<std::wstring> paths;
    for (const FileBackupEntry& e : entries) paths.push_back(e.path);
    return paths;
}

TEST(BackupPath, NameIsTheFileNameAndTheLocalTimeStamp) {
    const LocalDateTime time{2026, 12, 9, 7, 5, 3};
    struct Case {
        const wchar_t* path;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {L"C:\\Users\\u\\Default\\Bookmarks", L"C:\\Users\\u\\Default\\Bookmarks.backup_20261209_070503.bak"},
        {L"C:\\p\\places.sqlite", L"C:\\p\\places.sqlite.backup_20261209_070503.bak"},
        {L"C:/a/b/Bookmarks", L"C:/a/b\\Bookmarks.backup_20261209_070503.bak"},
        {L"C:\\a/b\\c/Bookmarks", L"C:\\a/b\\c\\Bookmarks.backup_20261209_070503.bak"},
        {L"Bookmarks", L".\\Bookmarks.backup_20261209_070503.bak"},
        {L"\\Bookmarks", L"\\Bookmarks.backup_20261209_070503.bak"},
    };
    for (const Case& c : cases) EXPECT_EQ(MakeBackupPathAt(c.path, time), c.expected) << c.path;
}

TEST(BackupPath, MadeNowUsesTheLocalClock) {
    SYSTEMTIME before, after;
    GetLocalTime(&before);
    const std::wstring path = MakeBackupPath(L"C:\\p\\Bookmarks");
    GetLocalTime(&after);
    const std::wstring prefix = L"C:\\p\\Bookmarks.backup_";
    ASSERT_EQ(path.size(), prefix.size() + 15 + 4);
    EXPECT_EQ(path.substr(0, prefix.size()), prefix);
    EXPECT_EQ(path.substr(path.size() - 4), L".bak");
    const std::wstring stamp = path.substr(prefix.size(), 15);
    // Fixed-width stamps compare like the times they stand for.
    EXPECT_GE(stamp, Stamp(before));
    EXPECT_LE(stamp, Stamp(after));
}

TEST(FileBackups, BackupCopiesTheFileBesideItListsItAndNeverReplacesAnEarlierOne) {
    TempDir dir;
    const std::wstring file = dir / L"Default\\Bookmarks";
    WriteTextFile(file, "{\"version\":1}");

    std::wstring error = L"untouched";
    const std::optional<std::wstring> backup = BackupFile(file, &error);
    ASSERT_TRUE(backup.has_value());
    EXPECT_EQ(error, L"untouched");
    EXPECT_EQ(ParentDirectory(*backup), dir / L"Default");
    EXPECT_EQ(ReadTextFile(*backup), "{\"version\":1}");
    EXPECT_EQ(ReadTextFile(file), "{\"version\":1}");

    // A second backup right away never lands on the first: it waits for a stamp of its own.
    WriteTextFile(file, "{\"version\":2}");
    const std::optional<std::wstring> second = BackupFile(file);
    ASSERT_TRUE(second.has_value());
    EXPECT_NE(*second, *backup);
    EXPECT_EQ(ReadTextFile(*second), "{\"version\":2}");
    EXPECT_EQ(ReadTextFile(*backup), "{\"version\":1}");
    const std::vector<FileBackupEntry> entries = ListFileBackups(file);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].path, *second);
    EXPECT_EQ(entries[1].path, *backup);
}

TEST(FileBackups, AMissingFileIsNotAnError) {
    TempDir dir;
    std::wstring error = L"untouched";
    EXPECT_FALSE(BackupFile(dir / L"Bookmarks", &error).has_value());
    EXPECT_EQ(error, L"untouched");
    EXPECT_FALSE(BackupFile(dir.path(), &error).has_value());  // a folder is no file
    EXPECT_EQ(error, L"untouched");
    EXPECT_TRUE(ListFileBackups(dir / L"Bookmarks").empty());
    EXPECT_TRUE(ListFileBackups(dir / L"missing\\Bookmarks").empty());
}

TEST(FileBackups, ListingReadsTheStampsNewestFirst) {
    TempDir dir;
    const std::wstring file = dir / L"Bookmarks";
    WriteTextFile(file, "current");
    struct Case {
        const wchar_t* stamp;
        bool listed;
        int64_t sortKey;
        const wchar_t* displayTime;
    };
    const Case cases[] = {
        {L"20261209_070503", true, 20261209070503, L"2026-12-09 07:05:03"},
        {L"20250101_000000", true, 20250101000000, L"2025-01-01 00:00:00"},
        {L"20270315_235959", true, 20270315235959, L"2027-03-15 23:59:59"},
        {L"", false, 0, L""},
        {L"x", true, 0, L"x"},
        {L"2026-12-09", true, 20261209, L"2026-12-09"},
        {L"99999999999999999999", true, 0, L"99999999999999999999"},
        {L"0000000000000000000000042", true, 42, L"0000000000000000000000042"},
        {L"abcdefgh_ijklmn", true, 0, L"abcd-ef-gh ij:kl:mn"},
    };
    for (const Case& c : cases) WriteTextFile(dir / (std::wstring(L"Bookmarks.backup_") + c.stamp + L".bak"), "old");
    // Neither a folder shaped like a backup nor the backups of another file are listed.
    test::MakeDirs(dir / L"Bookmarks.backup_20991231_235959.bak");
    WriteTextFile(dir / L"places.sqlite.backup_20991231_235959.bak", "other");
    WriteTextFile(dir / L"Bookmarks.bak", "other");

    const std::vector<FileBackupEntry> entries = ListFileBackups(file);
    size_t listed = 0;
    for (const Case& c : cases) {
        if (!c.listed) continue;
        ++listed;
        const std::wstring path = dir / (std::wstring(L"Bookmarks.backup_") + c.stamp + L".bak");
        auto it = std::find_if(entries.begin(), entries.end(), [&](const FileBackupEntry& e) { return e.path == path; });
        ASSERT_NE(it, entries.end()) << c.stamp;
        EXPECT_EQ(it->sortKey, c.sortKey) << c.stamp;
        EXPECT_EQ(it->displayTime, c.displayTime) << c.stamp;
    }
    EXPECT_EQ(entries.size(), listed);
    for (size_t i = 1; i < entries.size(); ++i) EXPECT_GE(entries[i - 1].sortKey, entries[i].sortKey);
    ASSERT_GE(entries.size(), 3u);
    EXPECT_EQ(entries[0].displayTime, L"2027-03-15 23:59:59");
    EXPECT_EQ(entries[1].displayTime, L"2026-12-09 07:05:03");
    EXPECT_EQ(entries[2].displayTime, L"2025-01-01 00:00:00");
}

TEST(FileBackups, ABareFileNameIsBackedUpInTheCurrentFolder) {
    TempDir dir;
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(dir.path().c_str()));
    WriteTextFile(dir / L"places.sqlite", "db");
    const std::optional<std::wstring> backup = BackupFile(L"places.sqlite");
    const std::vector<FileBackupEntry> entries = ListFileBackups(L"places.sqlite");
    SetCurrentDirectoryW(previous);
    ASSERT_TRUE(backup.has_value());
    EXPECT_EQ(backup->substr(0, 2), L".\\");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].path, *backup);
    EXPECT_EQ(ReadTextFile(dir / backup->substr(2)), "db");
}

TEST(FileBackups, RestoreBacksUpTheCurrentFileFirst) {
    TempDir dir;
    const std::wstring file = dir / L"Bookmarks";
    const std::wstring old = dir / L"Bookmarks.backup_20200101_101010.bak";
    WriteTextFile(file, "current");
    WriteTextFile(old, "from backup");

    std::wstring error;
    ASSERT_TRUE(RestoreFileBackup(file, old, &error)) << ToUtf8(error);
    EXPECT_TRUE(error.empty());
    EXPECT_EQ(ReadTextFile(file), "from backup");
    EXPECT_EQ(ReadTextFile(old), "from backup");  // the restored backup stays
    const std::vector<FileBackupEntry> entries = ListFileBackups(file);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(ReadTextFile(entries[0].path), "current");  // the safety backup, newest
    EXPECT_EQ(entries[1].path, old);
}

TEST(FileBackups, RestoreOfABackupMadeThisSecondLosesNothing) {
    // A backup made within the current second has the name the safety backup of the current file
    // would get; neither the backup nor the current bookmarks may be lost to that.
    TempDir dir;
    const std::wstring file = dir / L"Bookmarks";
    for (int attempt = 0; attempt < 3; ++attempt) {
        WriteTextFile(file, "saved " + std::to_string(attempt));
        const std::optional<std::wstring> backup = BackupFile(file);
        ASSERT_TRUE(backup.has_value());
        WriteTextFile(file, "changed since");
        const bool sameSecond = MakeBackupPath(file) == *backup;
        std::wstring error;
        ASSERT_TRUE(RestoreFileBackup(file, *backup, &error)) << ToUtf8(error);
        EXPECT_EQ(ReadTextFile(file), "saved " + std::to_string(attempt));
        EXPECT_EQ(ReadTextFile(*backup), "saved " + std::to_string(attempt));
        const std::vector<FileBackupEntry> entries = ListFileBackups(file);
        ASSERT_FALSE(entries.empty());
        EXPECT_NE(entries[0].path, *backup);
        EXPECT_EQ(ReadTextFile(entries[0].path), "changed since");
        if (sameSecond) return;  // else the clock moved on before the case that matters: again
    }
}

TEST(FileBackups, RestoreWithoutACurrentFileMakesNoSafetyBackup) {
    TempDir dir;
    const std::wstring file = dir / L"Bookmarks";
    const std::wstring old = dir / L"Bookmarks.backup_20200101_101010.bak";
    WriteTextFile(old, "from backup");
    std::wstring error;
    ASSERT_TRUE(RestoreFileBackup(file, old, &error));
    EXPECT_EQ(ReadTextFile(file), "from backup");
    EXPECT_EQ(Paths(ListFileBackups(file)), std::vector<std::wstring>{old});
}

TEST(FileBackups, ABackupDeletedBeforeRestoreTouchesNothing) {
    TempDir dir;
    const std::wstring file = dir / L"Bookmarks";
    const std::wstring old = dir / L"Bookmarks.backup_20200101_101010.bak";
    WriteTextFile(file, "current");
    WriteTextFile(old, "from backup");
    const std::vector<FileBackupEntry> listed = ListFileBackups(file);
    ASSERT_EQ(listed.size(), 1u);
    ASSERT_TRUE(DeleteFileW(old.c_str()));

    std::wstring error;
    EXPECT_FALSE(RestoreFileBackup(file, listed[0].path, &error));
    EXPECT_EQ(error, L"Backup file no longer exists on disk.");
    EXPECT_EQ(ReadTextFile(file), "current");
    EXPECT_TRUE(ListFileBackups(file).empty());
}

TEST(FileBackups, ABackupThatCannotBeWrittenIsReported) {
    // Folders already stand under the backup names of the next seconds, so the system refuses the
    // copies to them.
    TempDir dir;
    const std::wstring file = dir / L"Default\\Bookmarks";
    const std::wstring old = dir / L"elsewhere\\Bookmarks.backup_20200101_101010.bak";
    WriteTextFile(file, "current");
    WriteTextFile(old, "from backup");
    test::BlockBackupNames(file, 10);

    std::wstring error;
    EXPECT_FALSE(BackupFile(file, &error).has_value());
    EXPECT_EQ(error, L"CopyFile failed with error 5");

    error.clear();
    EXPECT_FALSE(RestoreFileBackup(file, old, &error));
    EXPECT_EQ(error, L"Could not create a safety backup before restoring: CopyFile failed with error 5");
    EXPECT_EQ(ReadTextFile(file), "current");
    EXPECT_TRUE(ListFileBackups(file).empty());
}

TEST(FileBackups, AFailedRestoreLeavesTheTargetAsItWas) {
    TempDir dir;
    const std::wstring file = dir / L"Bookmarks";
    const std::wstring old = dir / L"Bookmarks.backup_20200101_101010.bak";
    WriteTextFile(file, "current");
    WriteTextFile(old, "from backup");
    test::SetReadOnly(file, true);  // the safety copy can be made, the target cannot be replaced

    std::wstring error;
    EXPECT_FALSE(RestoreFileBackup(file, old, &error));
    EXPECT_EQ(error.rfind(L"Restore copy failed with error ", 0), 0u) << ToUtf8(error);
    EXPECT_NE(error.find(L"left unchanged"), std::wstring::npos) << ToUtf8(error);
    test::SetReadOnly(file, false);
    EXPECT_EQ(ReadTextFile(file), "current");
    // Only the safety backup and the old backup are beside it: no temporary file is left over.
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((dir / L"*").c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    int files = 0;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) ++files;
    } while (FindNextFileW(find, &data));
    FindClose(find);
    EXPECT_EQ(files, 3);
}

// Files beside a Bookmarks file in a backups test: 25 of this program's backups (from 2020, so older
// than any made now) and names that only look like backups.
struct BackupFolder {
    explicit BackupFolder(const TempDir& dir) : file(dir / L"Default\\Bookmarks") {
        WriteTextFile(file, "current");
        for (int i = 0; i < 25; ++i) {
            own.push_back(MakeBackupPathAt(file, {2020, 1, 1 + i, 10, 0, 0}));
            WriteTextFile(own.back(), "backup " + std::to_string(i));
        }
        const std::wstring folder = dir / L"Default\\";
        for (const wchar_t* name : {
                 L"Bookmarks.backup_20190101_000000.bak.txt",  // another extension
                 L"Bookmarks.backup_2019010_000000.bak",       // one digit short
                 L"Bookmarks.backup_20190101-000000.bak",      // not an underscore
                 L"Bookmarks.backup_20190101_000000_kept.bak", // a name of the user's
                 L"Bookmarks.backup_2019O101_000000.bak",      // a letter O among the digits
                 L"Bookmarks.backup_.bak",
                 L"Bookmarks.bak",
                 L"Bookmarks.backup_20190101_000000",
                 L"MyBookmarks.backup_20190101_000000.bak",
                 L"Preferences.backup_20190101_000000.bak",
             }) {
            foreign.push_back(folder + name);
            WriteTextFile(foreign.back(), "not ours");
        }
        // A folder under a backup's name is no backup either.
        foreignFolder = folder + L"Bookmarks.backup_20190102_000000.bak";
        test::MakeDirs(foreignFolder);
    }
    std::wstring file;
    std::vector<std::wstring> own;  // oldest first
    std::vector<std::wstring> foreign;
    std::wstring foreignFolder;
};

TEST(BackupPruning, ANewBackupKeepsTheNewest20AndLeavesOtherFilesAlone) {
    TempDir dir;
    BackupFolder folder(dir);
    const std::optional<std::wstring> made = BackupFile(folder.file);
    ASSERT_TRUE(made.has_value());
    EXPECT_EQ(ReadTextFile(*made), "current");

    // The new one and the 19 newest of the old ones stay; the 6 oldest are gone.
    for (size_t i = 0; i < folder.own.size(); ++i)
        EXPECT_EQ(test::PathExists(folder.own[i]), i >= 6) << ToUtf8(folder.own[i]);
    for (const std::wstring& path : folder.foreign) {
        EXPECT_TRUE(test::PathExists(path)) << ToUtf8(path);
        EXPECT_EQ(ReadTextFile(path), "not ours");
    }
    EXPECT_TRUE(test::PathExists(folder.foreignFolder));
    EXPECT_EQ(ReadTextFile(folder.file), "current");

    // Once at the bound, each new backup takes the place of the oldest.
    const std::optional<std::wstring> next = BackupFile(folder.file);
    ASSERT_TRUE(next.has_value());
    EXPECT_FALSE(test::PathExists(folder.own[6]));
    EXPECT_TRUE(test::PathExists(folder.own[7]));
    EXPECT_TRUE(test::PathExists(*made));
}

TEST(BackupPruning, AFailedBackupPrunesNothing) {
    TempDir dir;
    BackupFolder folder(dir);
    test::BlockBackupNames(folder.file, 10);
    std::wstring error;
    EXPECT_FALSE(BackupFile(folder.file, &error).has_value());
    EXPECT_EQ(error, L"CopyFile failed with error 5");
    for (const std::wstring& path : folder.own) EXPECT_TRUE(test::PathExists(path)) << ToUtf8(path);
}

TEST(BackupPruning, TheBackupJustMadeStaysEvenWhenItsStampLooksOlder) {
    // A clock set back (the end of daylight saving time) gives a stamp older than the ones kept.
    TempDir dir;
    const std::wstring file = dir / L"places.sqlite";
    WriteTextFile(file, "current");
    std::vector<std::wstring> later;
    for (int i = 0; i < 20; ++i) {
        later.push_back(MakeBackupPathAt(file, {2099, 1, 1 + i, 10, 0, 0}));
        WriteTextFile(later.back(), "later");
    }
    const std::wstring earlier = MakeBackupPathAt(file, {2098, 1, 1, 10, 0, 0});
    WriteTextFile(earlier, "earlier");
    PruneFileBackups(file, 20, earlier);
    EXPECT_TRUE(test::PathExists(earlier));
    for (const std::wstring& path : later) EXPECT_TRUE(test::PathExists(path));
    PruneFileBackups(file, 20);
    EXPECT_FALSE(test::PathExists(earlier));
}

// ---------------------------------------------------------------- databases in WAL mode

int64_t CountBookmarks(const std::wstring& path) {
    test::FirefoxPlaces places(path);
    return places.QueryInt("SELECT COUNT(*) FROM moz_bookmarks WHERE type = 1");
}

void AddBookmarks(test::FirefoxPlaces& places, const std::string& prefix, int count) {
    for (int i = 0; i < count; ++i)
        places.AddBookmark(test::kPlacesToolbarId, "https://" + prefix + std::to_string(i) + ".example/", "x");
}

// A connection that leaves its changes in the -wal, as Firefox does between checkpoints.
struct UncheckpointedWriter {
    explicit UncheckpointedWriter(const std::wstring& path) : places(path) {
        places.Exec("PRAGMA wal_autocheckpoint = 0;");
    }
    test::FirefoxPlaces places;
};

TEST(DatabaseBackups, TheBackupHoldsWhatTheWalHolds) {
    TempDir dir;
    const std::wstring file = dir / L"places.sqlite";
    test::CreateFirefoxPlaces(file);
    UncheckpointedWriter writer(file);
    AddBookmarks(writer.places, "recent", 25);
    ASSERT_TRUE(test::PathExists(file + L"-wal"));

    std::wstring error;
    const std::optional<std::wstring> backup = BackupFile(file, &error);
    ASSERT_TRUE(backup.has_value()) << ToUtf8(error);
    EXPECT_FALSE(test::PathExists(*backup + L"-wal"));
    EXPECT_EQ(CountBookmarks(*backup), 25);
    // The backup stands alone: moved away from anything beside it, it still holds every change.
    const std::wstring moved = dir / L"elsewhere\\copy.sqlite";
    test::MakeDirs(dir / L"elsewhere");
    ASSERT_TRUE(CopyFileW(backup->c_str(), moved.c_str(), TRUE));
    EXPECT_EQ(CountBookmarks(moved), 25);
}

TEST(DatabaseBackups, RestoreLeavesNoWalOrShmOfTheReplacedFileBeside) {
    TempDir dir;
    const std::wstring original = dir / L"original\\places.sqlite";
    test::MakeDirs(dir / L"original");
    test::CreateFirefoxPlaces(original);
    {
        test::FirefoxPlaces places(original);
        AddBookmarks(places, "old", 3);
    }
    ASSERT_FALSE(test::PathExists(original + L"-wal"));
    const std::wstring backup = dir / L"places.sqlite.backup_20200101_000000.bak";
    ASSERT_TRUE(CopyFileW(original.c_str(), backup.c_str(), TRUE));

    // The target as a browser closed by force leaves it: the newest changes only in its -wal.
    const std::wstring target = dir / L"places.sqlite";
    {
        UncheckpointedWriter writer(original);
        AddBookmarks(writer.places, "new", 40);
        ASSERT_TRUE(CopyFileW(original.c_str(), target.c_str(), TRUE));
        ASSERT_TRUE(CopyFileW((original + L"-wal").c_str(), (target + L"-wal").c_str(), TRUE));
    }
    ASSERT_TRUE(test::PathExists(target + L"-wal"));

    std::wstring error;
    ASSERT_TRUE(RestoreFileBackup(target, backup, &error)) << ToUtf8(error);
    EXPECT_FALSE(test::PathExists(target + L"-wal"));
    EXPECT_FALSE(test::PathExists(target + L"-shm"));
    EXPECT_EQ(CountBookmarks(target), 3);
    {
        test::FirefoxPlaces places(target);
        EXPECT_EQ(places.QueryText("PRAGMA integrity_check"), "ok");
    }
    // What the -wal held is in the safety backup.
    const std::vector<FileBackupEntry> backups = ListFileBackups(target);
    ASSERT_EQ(backups.size(), 2u);
    EXPECT_NE(backups.front().path, backup);
    EXPECT_EQ(CountBookmarks(backups.front().path), 43);
}

TEST(DatabaseBackups, RestoreOverADatabaseInUseFailsAndChangesNothing) {
    TempDir dir;
    const std::wstring target = dir / L"places.sqlite";
    test::CreateFirefoxPlaces(target);
    const std::wstring backup = dir / L"places.sqlite.backup_20200101_000000.bak";
    ASSERT_TRUE(CopyFileW(target.c_str(), backup.c_str(), TRUE));
    UncheckpointedWriter writer(target);
    AddBookmarks(writer.places, "kept", 5);
    writer.places.Exec("BEGIN IMMEDIATE;");  // a running browser's write lock

    std::wstring error;
    EXPECT_FALSE(RestoreFileBackup(target, backup, &error));
    EXPECT_NE(error.find(L"The file was left unchanged."), std::wstring::npos) << ToUtf8(error);
    writer.places.Exec("ROLLBACK;");
    EXPECT_EQ(writer.places.QueryInt("SELECT COUNT(*) FROM moz_bookmarks WHERE type = 1"), 5);
}

// The names in the folder, sorted.
std::vector<std::wstring> Names(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(data.cFileName);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
}

TEST(DatabaseBackups, CopiesLeftByKilledBackupsGoAndOneBeingMadeStays) {
    TempDir dir;
    const std::wstring file = dir / L"places.sqlite";
    test::CreateFirefoxPlaces(file);
    const std::wstring kept[] = {
        L"places.sqlite",
        L"places.sqlite.backup_20260101_000000.bak",
        // Not copies this program makes, or not of this file's backups.
        L"places.sqlite.backup_20260101_000000.bak.orvdbcopy-12-34",
        L"places.sqlite.backup_20260101_000000.bak.orvdbcopy-12-34-5-extra",
        L"places.sqlite.orvdbcopy-12-34-5",
        L"other.sqlite.backup_20260101_000000.bak.orvdbcopy-12-34-5",
        L"places.sqlite.backup_2026_.bak.orvtmp-4242-0-0123456789abcdef",
    };
    for (const std::wstring& name : kept)
        if (name != L"places.sqlite") WriteTextFile(dir / name, "not a leftover");
    // Left by killed backups: a copy with its journal (from a release that made no marker), a -wal
    // alone, a copy whose maker's marker went with its process.
    const std::wstring left[] = {
        L"places.sqlite.backup_20260101_000000.bak.orvdbcopy-12-3456-0",
        L"places.sqlite.backup_20260101_000000.bak.orvdbcopy-12-3456-0-journal",
        L"places.sqlite.backup_20260102_000000.bak.orvdbcopy-99-1-7-wal",
        L"Places.sqlite.backup_20260103_000000.bak.orvdbcopy-5-5-5",
        // A plain copy of a backup cut short.
        L"places.sqlite.backup_20260105_000000.bak.orvtmp-4242-0-0123456789abcdef",
    };
    for (const std::wstring& name : left) WriteTextFile(dir / name, "history https://visited.example/");
    // One being made now: its maker holds the marker, as CopySqliteDatabase does.
    const std::wstring making = L"places.sqlite.backup_20260104_000000.bak.orvdbcopy-7-8-9";
    WriteTextFile(dir / making, "a copy being made");
    HANDLE marker = CreateFileW((dir / (making + L"-owner")).c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr,
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    ASSERT_NE(marker, INVALID_HANDLE_VALUE);

    // One made by another thread of this process stays.
    const std::wstring ownThread =
        L"places.sqlite.backup_20260106_000000.bak.orvtmp-" + std::to_wstring(GetCurrentProcessId()) + L"-3";
    WriteTextFile(dir / ownThread, "a copy being made");

    EXPECT_EQ(RemoveLeftoverBackupCopies(file), 4);
    std::vector<std::wstring> expected(std::begin(kept), std::end(kept));
    expected.push_back(making);
    expected.push_back(making + L"-owner");
    expected.push_back(ownThread);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Names(dir.path()), expected);

    // Once its maker has ended, the next backup takes it away too.
    CloseHandle(marker);
    std::wstring error;
    const std::optional<std::wstring> backup = BackupFile(file, &error);
    ASSERT_TRUE(backup.has_value()) << ToUtf8(error);
    expected.erase(std::remove(expected.begin(), expected.end(), making), expected.end());
    expected.erase(std::remove(expected.begin(), expected.end(), making + L"-owner"), expected.end());
    expected.push_back(backup->substr(backup->find_last_of(L'\\') + 1));
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Names(dir.path()), expected);
}

}  // namespace
}  // namespace bm
