// Kill trials: a helper process writes one kind of store in a loop (a whole set replaced by another
// each time) and is killed with TerminateProcess at staggered moments. Afterwards the store must read
// back as exactly the old set or the new one, never less, and the next write (by a new process, as
// after a crash) must succeed.
#include <gtest/gtest.h>
#include <windows.h>

#include <sqlite3.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/bookmark_record.h"
#include "core/chromium_bookmarks.h"
#include "core/file_backup.h"
#include "core/firefox_places.h"
#include "core/html_bookmarks.h"
#include "core/portable_export.h"
#include "core/sqlite_file_copy.h"
#include "database/app_database.h"
#include "tests/support/firefox_fixture.h"
#include "tests/support/process_start.h"
#include "tests/support/temp_dir.h"

namespace bm {
namespace {

using test::StartProcess;

constexpr int kCount = 10000;  // bookmarks per set: each write takes long enough to be cut short
constexpr DWORD kKillDelaysMs[] = {20, 250, 700};

std::wstring HelperPath() {
    std::wstring path = ToWide(ORV_KILL_WRITER_EXE);
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    if (!path.empty() && path.front() == L'\\') path = L"Z:" + path;
    return path;
}

// The sets the helper writes: https://<letter>.example/N for N below kCount.
std::vector<BookmarkRecord> TrialSet(wchar_t letter) {
    std::vector<BookmarkRecord> records;
    for (int i = 0; i < kCount; ++i) {
        BookmarkRecord record;
        record.url = std::wstring(L"https://") + letter + L".example/" + std::to_wstring(i);
        record.title = std::wstring(1, letter) + L" " + std::to_wstring(i);
        record.folder_path = L"Bookmarks bar/Trial/" + std::to_wstring(i % 50);
        record.date_added = 1700000000 + i;
        records.push_back(std::move(record));
    }
    return records;
}

std::vector<std::wstring> SortedUrls(const std::vector<BookmarkRecord>& records) {
    std::vector<std::wstring> urls;
    urls.reserve(records.size());
    for (const BookmarkRecord& record : records) urls.push_back(NormalizeUrl(record.url));
    std::sort(urls.begin(), urls.end());
    return urls;
}

// A run of the helper; killed by the destructor if it still runs.
class Writer {
public:
    Writer(const std::wstring& kind, const std::wstring& path, const std::wstring& mode, const std::wstring& ready) {
        const std::wstring commandLine = L"\"" + HelperPath() + L"\" " + kind + L" \"" + path + L"\" " +
                                         std::to_wstring(kCount) + L" " + mode + (ready.empty() ? L"" : L" " + ready);
        started_ = StartProcess(HelperPath(), commandLine, {}, CREATE_NO_WINDOW, info_, &failure_);
    }
    ~Writer() {
        if (!started_) return;
        Kill();
        CloseHandle(info_.hThread);
        CloseHandle(info_.hProcess);
    }
    bool started() const { return started_; }
    const std::string& failure() const { return failure_; }  // why it did not start
    HANDLE process() const { return info_.hProcess; }
    void Kill() {
        if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(info_.hProcess, 99);
        WaitForSingleObject(info_.hProcess, 30000);
    }
    // The exit code, or -1 when it has not ended within the time.
    long WaitExit(DWORD timeoutMs) const {
        if (WaitForSingleObject(info_.hProcess, timeoutMs) != WAIT_OBJECT_0) return -1;
        DWORD code = 0;
        GetExitCodeProcess(info_.hProcess, &code);
        return static_cast<long>(code);
    }

private:
    bool started_ = false;
    std::string failure_;
    PROCESS_INFORMATION info_ = {};
};

// Names in the folder that are temporary files of an interrupted write.
std::vector<std::wstring> TemporaryFilesIn(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring name = data.cFileName;
        if (name.find(L".orvtmp-") != std::wstring::npos) names.push_back(name);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return names;
}

int64_t TrialProfile(AppDatabase& db) {
    for (const ProfileRecord& profile : db.ListProfiles())
        if (profile.name == L"Trial") return profile.id;
    return 0;
}

struct Kind {
    const wchar_t* name;
    const wchar_t* file;
};

class KillTrial : public ::testing::TestWithParam<Kind> {
protected:
    std::wstring Path() const { return dir / GetParam().file; }
    std::wstring KindName() const { return GetParam().name; }
    bool IsDatabase() const { return KindName() == L"profile" || KindName() == L"snapshot"; }

    // The store as it is before the trials: set A (and for snapshots one snapshot of it).
    void WriteOldSet() {
        const std::vector<BookmarkRecord> a = TrialSet(L'a');
        std::wstring error;
        int skipped = 0;
        if (KindName() == L"chromium") {
            ASSERT_GE(WriteChromiumBookmarks(Path(), a, &skipped, &error, true), 0) << ToUtf8(error);
        } else if (KindName() == L"firefox") {
            test::CreateFirefoxPlaces(Path());
            ASSERT_GE(WriteFirefoxBookmarks(Path(), a, &skipped, &error, true), 0) << ToUtf8(error);
        } else if (KindName() == L"json") {
            ASSERT_TRUE(ExportJson(a, Path(), &error)) << ToUtf8(error);
        } else if (KindName() == L"html") {
            ASSERT_TRUE(ExportHtml(a, Path(), &error)) << ToUtf8(error);
        } else {
            AppDatabase db;
            ASSERT_TRUE(db.Open(Path()));
            const int64_t id = db.CreateProfile(L"Trial");
            ASSERT_EQ(db.AddBookmarks(id, a), kCount);
            if (KindName() == L"snapshot") db.CreateSnapshot(id, L"Before the trials");
        }
    }

    // The bookmarks the store holds now, with the reader's error text.
    std::vector<BookmarkRecord> ReadStore(std::wstring& error) {
        if (KindName() == L"chromium") return ReadChromiumBookmarks(Path(), &error);
        if (KindName() == L"firefox") return ReadFirefoxBookmarks(Path(), &error);
        if (KindName() == L"json" || KindName() == L"html") return ImportBookmarks(Path(), &error);
        AppDatabase db;
        if (!db.Open(Path(), &error)) return {};
        return db.GetBookmarks(TrialProfile(db));
    }

    // After a kill: the old set or the new one, complete.
    void ExpectOldOrNewSet(const std::string& when) {
        SCOPED_TRACE(when);
        if (KindName() == L"snapshot") {
            // Every snapshot is whole, their number stays within the bound, and the newest restores.
            AppDatabase db;
            std::wstring error;
            ASSERT_TRUE(db.Open(Path(), &error)) << ToUtf8(error);
            const int64_t id = TrialProfile(db);
            const std::vector<SnapshotInfo> snapshots = db.ListSnapshots(id);
            ASSERT_GE(snapshots.size(), 1u);
            EXPECT_LE(snapshots.size(), 20u);
            for (const SnapshotInfo& snapshot : snapshots) EXPECT_EQ(snapshot.bookmark_count, kCount);
            ASSERT_TRUE(db.RestoreSnapshot(snapshots.front().id, &error)) << ToUtf8(error);
            EXPECT_EQ(SortedUrls(db.GetBookmarks(id)), oldUrls);
            return;
        }
        std::wstring error;
        const std::vector<std::wstring> urls = SortedUrls(ReadStore(error));
        EXPECT_EQ(error, L"");
        EXPECT_TRUE(urls == oldUrls || urls == newUrls)
            << urls.size() << " bookmarks, " << (urls.empty() ? "" : ToUtf8(urls.front())) << " first";
    }

    test::TempDir dir;
    std::vector<std::wstring> oldUrls = SortedUrls(TrialSet(L'a'));
    std::vector<std::wstring> newUrls = SortedUrls(TrialSet(L'b'));
};

TEST_P(KillTrial, KilledWriteLeavesTheOldOrTheNewSetAndTheNextWriteSucceeds) {
    WriteOldSet();
    if (HasFatalFailure()) return;
    int trial = 0;
    for (const DWORD delay : kKillDelaysMs) {
        const std::wstring readyName =
            L"orv_kill_ready_" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(trial++);
        HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, readyName.c_str());
        ASSERT_NE(ready, nullptr);
        {
            Writer writer(KindName(), Path(), L"loop", readyName);
            ASSERT_TRUE(writer.started()) << writer.failure();
            // The first write is complete once the event is set; the loop is then writing all the time.
            HANDLE both[2] = {ready, writer.process()};
            const DWORD woke = WaitForMultipleObjects(2, both, FALSE, 120000);
            ASSERT_EQ(woke, WAIT_OBJECT_0) << "the writer ended or hung before its first write was done (code "
                                           << writer.WaitExit(0) << ")";
            Sleep(delay);
            ASSERT_EQ(writer.WaitExit(0), -1) << "the writer stopped by itself";
            writer.Kill();
        }
        CloseHandle(ready);
        ExpectOldOrNewSet("killed " + std::to_string(delay) + " ms into the loop");

        // A new process writes again, as the program does after a crash.
        Writer next(KindName(), Path(), L"once", L"");
        ASSERT_TRUE(next.started()) << next.failure();
        EXPECT_EQ(next.WaitExit(120000), 0) << "the write after the kill failed";
        if (!IsDatabase()) {
            std::wstring error;
            EXPECT_EQ(SortedUrls(ReadStore(error)), newUrls) << ToUtf8(error);
        }
        // Whatever temporary file the killed write had begun is gone after that write.
        EXPECT_EQ(TemporaryFilesIn(dir.path()), std::vector<std::wstring>{});
        ExpectOldOrNewSet("written again after the kill");
    }
}

INSTANTIATE_TEST_SUITE_P(EveryKind, KillTrial,
                         ::testing::Values(Kind{L"chromium", L"Bookmarks"}, Kind{L"firefox", L"places.sqlite"},
                                           Kind{L"json", L"export.json"}, Kind{L"html", L"export.html"},
                                           Kind{L"profile", L"app_data.db"}, Kind{L"snapshot", L"app_data.db"}),
                         [](const ::testing::TestParamInfo<Kind>& info) { return ToUtf8(info.param.name); });

// Files in the folder whose names contain `part`.
std::vector<std::wstring> FilesNamedWith(const std::wstring& folder, const std::wstring& part) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring name = data.cFileName;
        if (name.find(part) != std::wstring::npos) names.push_back(name);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return names;
}

// Waits, on the folder's change notifications, until a file named with `part` is there (an owner's
// marker does not count: it is made before the file) or the process has ended. False when the process ended first (or the wait failed).
bool WaitForFileNamedWith(const std::wstring& folder, const std::wstring& part, HANDLE process) {
    HANDLE change = FindFirstChangeNotificationW(folder.c_str(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME);
    if (change == INVALID_HANDLE_VALUE) return false;
    bool found = false;
    for (;;) {
        for (const std::wstring& name : FilesNamedWith(folder, part))
            found = found || name.size() < 6 || name.compare(name.size() - 6, 6, L"-owner") != 0;
        if (found) break;
        HANDLE both[2] = {change, process};
        if (WaitForMultipleObjects(2, both, FALSE, 120000) != WAIT_OBJECT_0) break;
        if (!FindNextChangeNotification(change)) break;
    }
    FindCloseChangeNotification(change);
    return found;
}

// A backup of a Firefox places.sqlite whose newest changes sit in its -wal goes through a private
// copy beside it, which holds the browser's history. Killed while it makes that copy, it leaves the
// copy behind; the next backup of the file (and the program's start) must remove it, and it must
// never take a copy that a running backup is making.
TEST(KillTrialBackup, CopiesOfAFirefoxFileLeftByKilledBackupsAreGoneAfterTheNextBackup) {
    test::TempDir dir;
    const std::wstring places = dir / L"places.sqlite";
    test::CreateFirefoxPlaces(places);
    {
        test::FirefoxPlaces firefox(places);
        firefox.Exec("PRAGMA wal_autocheckpoint = 0;");
        firefox.AddBookmark(test::kPlacesToolbarId, "https://kept.example/", "Kept");
        // History large enough that a copy takes a while: the kills land inside copies.
        firefox.Exec(
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 30000) "
            "INSERT INTO moz_places(url, title, rev_host, frecency, guid, url_hash) "
            "SELECT 'https://history.example/visited/page-' || i, 'Visited page ' || i, 'elpmaxe.yrotsih.', 100, "
            "printf('h%011d', i), i FROM n;");
        // Closed as a browser that is killed leaves it: the changes in the -wal only.
        ASSERT_EQ(sqlite3_db_config(firefox.db(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr), SQLITE_OK);
    }
    ASSERT_TRUE(HasWriteAheadLog(places));
    const std::wstring folder = dir.path();

    int killedInsideACopy = 0;
    for (int trial = 0; trial < 8; ++trial) {
        const std::wstring readyName =
            L"orv_kill_backup_" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(trial);
        HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, readyName.c_str());
        ASSERT_NE(ready, nullptr);
        {
            Writer writer(L"backup", places, L"loop", readyName);
            ASSERT_TRUE(writer.started()) << writer.failure();
            HANDLE both[2] = {ready, writer.process()};
            ASSERT_EQ(WaitForMultipleObjects(2, both, FALSE, 120000), WAIT_OBJECT_0)
                << "the backup loop ended or hung before its first backup was done (code " << writer.WaitExit(0) << ")";
            // The next copy has begun: killed at once, or a little later for its later steps.
            ASSERT_TRUE(WaitForFileNamedWith(folder, L".orvdbcopy-", writer.process()))
                << "the backup loop ended (code " << writer.WaitExit(0) << ")";
            if (trial % 2 == 1) Sleep(static_cast<DWORD>(3 * trial));
            ASSERT_EQ(writer.WaitExit(0), -1) << "the backup loop stopped by itself";
            writer.Kill();
        }
        CloseHandle(ready);
        const std::vector<std::wstring> left = FilesNamedWith(folder, L".orvdbcopy-");
        if (!left.empty()) ++killedInsideACopy;
        // Whatever the kill left, the backups that exist are whole and hold the history.
        for (const FileBackupEntry& entry : ListFileBackups(places)) {
            std::wstring error;
            EXPECT_EQ(ReadFirefoxBookmarks(entry.path, &error).size(), 1u) << ToUtf8(entry.path) << " " << ToUtf8(error);
        }

        // The next backup, by a new process as after a crash, removes what the killed one left.
        Writer next(L"backup", places, L"once", L"");
        ASSERT_TRUE(next.started()) << next.failure();
        EXPECT_EQ(next.WaitExit(120000), 0) << "the backup after the kill failed";
        EXPECT_EQ(FilesNamedWith(folder, L".orvdbcopy-"), std::vector<std::wstring>{})
            << "after trial " << trial << " (" << left.size() << " file(s) left by the kill)";
    }
    // The kills did cut copies short, or the test would show nothing.
    EXPECT_GT(killedInsideACopy, 0);
    // The -wal and the file are as the browser left them.
    EXPECT_TRUE(HasWriteAheadLog(places));
    EXPECT_EQ(FilesNamedWith(folder, L".orvtmp-"), std::vector<std::wstring>{});
}

}  // namespace
}  // namespace bm
