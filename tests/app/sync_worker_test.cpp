// The sync worker and the log: a job through StartSync against real stores, the refresh after it,
// one job at a time, a failing job, the 500-line cap and concurrent logging.

#include <windows.h>

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/app.h"
#include "core/browsers.h"
#include "core/chromium_bookmarks.h"
#include "sqlite3.h"
#include "tests/app/app_sync_fixture.h"
#include "tests/support/fake_browser.h"
#include "tests/support/temp_dir.h"

namespace bm::test {
namespace {

using SyncWorkerTest = AppSyncFixture;

std::wstring ChromeBookmarks(const std::wstring& local) {
    return local + L"\\Google\\Chrome\\User Data\\Default\\Bookmarks";
}
std::wstring BraveBookmarks(const std::wstring& local) {
    return local + L"\\BraveSoftware\\Brave-Browser\\User Data\\Default\\Bookmarks";
}

bool StartsWith(const std::wstring& text, const std::wstring& prefix) { return text.compare(0, prefix.size(), prefix) == 0; }

// Holds the log's mutex on a thread of its own until released, so that a job stays inside its first
// line for as long as the test needs it running.
class LogHold {
public:
    explicit LogHold(std::mutex& logMutex) {
        holder_ = std::thread([this, &logMutex] {
            std::unique_lock<std::mutex> log(logMutex);
            std::unique_lock<std::mutex> state(stateMutex_);
            held_ = true;
            changed_.notify_all();
            changed_.wait(state, [this] { return released_; });
        });
        std::unique_lock<std::mutex> state(stateMutex_);
        changed_.wait(state, [this] { return held_; });
    }
    ~LogHold() { Release(); }
    void Release() {
        {
            std::lock_guard<std::mutex> state(stateMutex_);
            released_ = true;
        }
        changed_.notify_all();
        if (holder_.joinable()) holder_.join();
    }

private:
    std::mutex stateMutex_;
    std::condition_variable changed_;
    bool held_ = false;
    bool released_ = false;
    std::thread holder_;
};

TEST_F(SyncWorkerTest, JobFromABrowserIntoEveryDetectedBrowserLogsEachStepInOrder) {
    WriteBookmarks(ChromeBookmarks(Local()), {Bookmark(L"https://a.example/", L"A"), Bookmark(L"https://b.example/", L"B"),
                                              Bookmark(L"https://c.example/", L"C")});
    WriteBookmarks(BraveBookmarks(Local()), {Bookmark(L"https://b.example", L"B already")});
    WriteTextFile(Local() + L"\\Microsoft\\Edge\\User Data\\Default\\Preferences", "{}");  // no Bookmarks yet
    app.browsers = DetectBrowsersIn(Local(), Roaming());

    SyncRequest request;
    request.sourceType = 0;
    request.sourceBrowserKind = static_cast<int32_t>(BrowserKind::Chrome);
    request.sourceName = L"Google Chrome";
    request.destMode = 1;
    request.autoBackup = true;
    app.StartSync(request);
    int wakeUps = WaitForJobEnd();
    app.HandleFinishedSync();  // joins the worker: every post it makes is queued now
    wakeUps += DrainWakeUps();

    const std::vector<std::wstring> lines = LogTexts();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], L"--- Sync started ---");
    EXPECT_EQ(lines[1], L"Loaded 3 bookmark(s) from 'Google Chrome'.");
    EXPECT_EQ(lines[2], L"[OK] Microsoft Edge: 3 added, 0 duplicate(s) skipped.");
    EXPECT_TRUE(StartsWith(lines[3], L"Backup created: " + BraveBookmarks(Local()) + L".backup_")) << ToUtf8(lines[3]);
    EXPECT_EQ(lines[4], L"[OK] Brave: 2 added, 1 duplicate(s) skipped.");
    EXPECT_EQ(lines[5], L"--- Sync finished: 2 destination(s) processed ---");
    EXPECT_FALSE(app.syncRunning.load());
    // One wake-up per line and one more once the job has ended.
    EXPECT_EQ(wakeUps, 7);

    std::wstring error;
    EXPECT_EQ(ReadChromiumBookmarks(BraveBookmarks(Local()), &error).size(), 3u);
    EXPECT_EQ(ReadChromiumBookmarks(Local() + L"\\Microsoft\\Edge\\User Data\\Default\\Bookmarks", &error).size(), 3u);
}

TEST_F(SyncWorkerTest, InterfaceThreadRefreshesProfilesRunningFlagsAndExplorerAfterAJob) {
    const int64_t source = app.db.CreateProfile(L"Work");
    const int64_t target = app.db.CreateProfile(L"Home");
    app.db.SetDefaultProfileId(target);
    ASSERT_EQ(app.db.AddBookmarks(source, {Bookmark(L"https://a.example", L"A"), Bookmark(L"https://b.example", L"B")}), 2);
    app.browsers = DetectBrowsersIn(Local(), Roaming());
    for (BrowserInfo& browser : app.browsers) browser.running = true;  // stale: nothing of the kind runs here
    app.explorerReloadPending = false;

    SyncRequest request;
    request.sourceType = 1;
    request.sourceProfileId = source;
    request.sourceName = L"Work";
    request.destMode = 2;
    request.destProfileId = target;
    request.autoBackup = false;
    app.StartSync(request);
    WaitForJobEnd();

    const std::vector<std::wstring> lines = LogTexts();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1], L"Loaded 2 bookmark(s) from profile 'Work'.");
    EXPECT_EQ(lines[2], L"[OK] Profile 'Home': 2 added, 0 duplicate(s) skipped.");
    EXPECT_EQ(lines[3], L"--- Sync finished: 1 destination(s) processed ---");

    // The worker never touches the interface's lists: they change only in the refresh.
    EXPECT_TRUE(app.profiles.empty());
    EXPECT_TRUE(app.browsers[0].running);
    app.HandleFinishedSync();
    EXPECT_FALSE(app.worker.joinable());
    ASSERT_EQ(app.profiles.size(), 2u);
    EXPECT_EQ(app.defaultProfileId, target);
    for (const BrowserInfo& browser : app.browsers) EXPECT_FALSE(browser.running) << ToUtf8(browser.displayName);
    EXPECT_TRUE(app.explorerReloadPending);
    EXPECT_EQ(app.db.GetBookmarks(target).size(), 2u);

    // Nothing more to do until the next job has ended.
    app.explorerReloadPending = false;
    app.HandleFinishedSync();
    EXPECT_FALSE(app.explorerReloadPending);
}

TEST_F(SyncWorkerTest, JobWithoutDestinationAndJobWithMissingSourceEndAsTheyShould) {
    app.browsers = DetectBrowsersIn(Local(), Roaming());  // nothing detected
    SyncRequest noDestination;
    noDestination.sourceType = 1;
    noDestination.destMode = 5;
    app.StartSync(noDestination);
    WaitForJobEnd();
    app.HandleFinishedSync();

    SyncRequest missingSource;
    missingSource.sourceType = 0;
    missingSource.sourceBrowserKind = static_cast<int32_t>(BrowserKind::Vivaldi);
    missingSource.destMode = 2;
    app.StartSync(missingSource);
    WaitForJobEnd();

    const std::vector<std::wstring> lines = LogTexts();
    const std::vector<std::wstring> expected = {
        L"--- Sync started ---",
        L"Loaded 0 bookmark(s) from profile ''.",
        L"--- Sync finished: 0 destination(s) processed ---",
        L"--- Sync started ---",
        L"[ERROR] Source browser bookmarks file was not found on disk.",
        L"--- Sync aborted ---",
    };
    EXPECT_EQ(lines, expected);
}

TEST_F(SyncWorkerTest, JobWhoseSourceBrowserRunsIsAbortedWithoutWriting) {
    WriteBookmarks(ChromeBookmarks(Local()), {Bookmark(L"https://a.example/", L"A")});
    app.browsers = DetectBrowsersIn(Local(), Roaming());
    const int64_t target = app.db.CreateProfile(L"Target");
    FakeBrowser chrome(L"chrome.exe");

    SyncRequest request;
    request.sourceType = 0;
    request.sourceBrowserKind = static_cast<int32_t>(BrowserKind::Chrome);
    request.destMode = 2;
    request.destProfileId = target;
    app.StartSync(request);
    WaitForJobEnd();

    const std::vector<std::wstring> lines = LogTexts();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], L"--- Sync started ---");
    EXPECT_TRUE(StartsWith(lines[1], L"[ERROR] 'Google Chrome' is currently running.")) << ToUtf8(lines[1]);
    EXPECT_EQ(lines[2], L"--- Sync aborted ---");
    EXPECT_TRUE(app.db.GetBookmarks(target).empty());
    EXPECT_TRUE(chrome.IsRunning());
}

TEST_F(SyncWorkerTest, ReplacingTheInterfacesBrowserListDuringAJobLeavesTheJobAlone) {
    WriteBookmarks(ChromeBookmarks(Local()), {Bookmark(L"https://a.example/", L"A")});
    WriteBookmarks(BraveBookmarks(Local()), {Bookmark(L"https://b.example/", L"B")});
    app.browsers = DetectBrowsersIn(Local(), Roaming());
    const std::vector<BrowserInfo> asStarted = app.browsers;

    SyncRequest request;
    request.sourceType = 0;
    request.sourceBrowserKind = static_cast<int32_t>(BrowserKind::Chrome);
    request.destMode = 1;
    request.autoBackup = false;
    {
        LogHold hold(app.logMutex);  // the job waits inside its first line
        app.StartSync(request);
        // What F5 or a new custom path does meanwhile: the list is replaced, here by one that
        // points Brave somewhere else and drops the source altogether.
        app.browsers = DetectBrowsersIn(dir / L"nowhere", dir / L"nowhere");
        app.browsers[static_cast<size_t>(BrowserKind::Brave)].bookmarksPath = dir / L"other\\Bookmarks";
        app.browsers[static_cast<size_t>(BrowserKind::Brave)].detected = true;
        app.browsers.erase(app.browsers.begin());
    }
    WaitForJobEnd();

    const std::vector<std::wstring> lines = LogTexts();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1], L"Loaded 1 bookmark(s) from 'Google Chrome'.");
    EXPECT_EQ(lines[2], L"[OK] Brave: 1 added, 0 duplicate(s) skipped.");
    EXPECT_EQ(lines[3], L"--- Sync finished: 1 destination(s) processed ---");
    std::wstring error;
    EXPECT_EQ(ReadChromiumBookmarks(BraveBookmarks(Local()), &error).size(), 2u);
    EXPECT_FALSE(FileExists(dir / L"other\\Bookmarks"));
    // The job never wrote the interface's list either.
    EXPECT_EQ(app.browsers.size(), asStarted.size() - 1);
}

TEST_F(SyncWorkerTest, StartSyncWhileAJobRunsIsIgnoredWithoutALine) {
    const int64_t source = app.db.CreateProfile(L"Source");
    const int64_t first = app.db.CreateProfile(L"First");
    const int64_t second = app.db.CreateProfile(L"Second");
    ASSERT_EQ(app.db.AddBookmarks(source, {Bookmark(L"https://a.example", L"A")}), 1);

    SyncRequest toFirst;
    toFirst.sourceType = 1;
    toFirst.sourceProfileId = source;
    toFirst.destMode = 2;
    toFirst.destProfileId = first;
    SyncRequest toSecond = toFirst;
    toSecond.destProfileId = second;

    {
        LogHold hold(app.logMutex);  // the first job cannot get past its first line
        app.StartSync(toFirst);
        ASSERT_TRUE(app.syncRunning.load());
        app.StartSync(toSecond);
        app.StartSync(toSecond);
    }
    WaitForJobEnd();
    app.HandleFinishedSync();

    const std::vector<std::wstring> lines = LogTexts();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], L"--- Sync started ---");
    EXPECT_EQ(lines[2], L"[OK] Profile 'First': 1 added, 0 duplicate(s) skipped.");
    EXPECT_EQ(lines[3], L"--- Sync finished: 1 destination(s) processed ---");
    EXPECT_EQ(app.db.GetBookmarks(first).size(), 1u);
    EXPECT_TRUE(app.db.GetBookmarks(second).empty());
    EXPECT_TRUE(app.db.ListSnapshots(second).empty());

    // Once the job has ended the next request runs.
    app.StartSync(toSecond);
    WaitForJobEnd();
    EXPECT_EQ(app.db.GetBookmarks(second).size(), 1u);
}

TEST_F(SyncWorkerTest, AFailingDatabaseInsideTheJobEndsItAsAbortedAndStillWakesTheInterface) {
    const int64_t source = app.db.CreateProfile(L"Source");
    const int64_t target = app.db.CreateProfile(L"Target");
    {
        // Another connection takes the bookmarks table away under the App's feet.
        sqlite3* other = nullptr;
        ASSERT_EQ(sqlite3_open(ToUtf8(dir / L"app_data.db").c_str(), &other), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(other, "DROP TABLE bookmarks;", nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(other);
    }
    app.explorerReloadPending = false;

    SyncRequest request;
    request.sourceType = 1;
    request.sourceProfileId = source;
    request.destMode = 2;
    request.destProfileId = target;
    app.StartSync(request);
    WaitForJobEnd();

    const std::vector<std::wstring> lines = LogTexts();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], L"--- Sync started ---");
    EXPECT_TRUE(StartsWith(lines[1], L"[ERROR] ")) << ToUtf8(lines[1]);
    EXPECT_NE(lines[1].find(L"no such table: bookmarks"), std::wstring::npos) << ToUtf8(lines[1]);
    EXPECT_EQ(lines[2], L"--- Sync aborted ---");
    EXPECT_FALSE(app.syncRunning.load());

    app.HandleFinishedSync();
    EXPECT_EQ(app.profiles.size(), 2u);
    EXPECT_TRUE(app.explorerReloadPending);
}

TEST_F(SyncWorkerTest, ShutdownDuringAJobWaitsForItBeforeReleasingTheDatabase) {
    const int64_t source = app.db.CreateProfile(L"Big");
    const int64_t target = app.db.CreateProfile(L"Copy");
    std::vector<BookmarkRecord> many;
    for (int i = 0; i < 3000; ++i) many.push_back(Bookmark(L"https://site" + std::to_wstring(i) + L".example", L"Site"));
    ASSERT_EQ(app.db.AddBookmarks(source, many), 3000);

    SyncRequest request;
    request.sourceType = 1;
    request.sourceProfileId = source;
    request.destMode = 2;
    request.destProfileId = target;
    request.writeMode = 1;
    app.hwnd = nullptr;  // no window: Shutdown has nothing to save or destroy
    app.StartSync(request);
    app.Shutdown();

    EXPECT_FALSE(app.worker.joinable());
    EXPECT_FALSE(app.syncRunning.load());
    const std::vector<std::wstring> lines = LogTexts();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), L"--- Sync finished: 1 destination(s) processed ---");
    for (const std::wstring& line : lines) EXPECT_EQ(line.find(L"[ERROR]"), std::wstring::npos) << ToUtf8(line);

    AppDatabase reopened;
    ASSERT_TRUE(reopened.Open(dir / L"app_data.db"));
    EXPECT_EQ(reopened.GetBookmarks(target).size(), 3000u);
}

int SecondOfDay(const SYSTEMTIME& time) { return (time.wHour * 60 + time.wMinute) * 60 + time.wSecond; }

TEST_F(SyncWorkerTest, TheLogKeepsTheNewest500Lines) {
    DrainWakeUps();
    SYSTEMTIME before{};
    GetLocalTime(&before);
    for (int i = 1; i <= 501; ++i) app.Log(L"line " + std::to_wstring(i));
    SYSTEMTIME after{};
    GetLocalTime(&after);
    {
        // The prefix is the local time of the call.
        std::lock_guard<std::mutex> lock(app.logMutex);
        const std::wstring& line = app.logLines.back();
        const int stamped = std::stoi(line.substr(1, 2)) * 3600 + std::stoi(line.substr(4, 2)) * 60 +
                            std::stoi(line.substr(7, 2));
        if (SecondOfDay(after) >= SecondOfDay(before)) {  // not across midnight
            EXPECT_GE(stamped, SecondOfDay(before)) << ToUtf8(line);
            EXPECT_LE(stamped, SecondOfDay(after)) << ToUtf8(line);
        }
    }
    const std::vector<std::wstring> lines = LogTexts();
    ASSERT_EQ(lines.size(), 500u);
    EXPECT_EQ(lines.front(), L"line 2");
    EXPECT_EQ(lines.back(), L"line 501");

    EXPECT_EQ(DrainWakeUps(), 501);
}

TEST_F(SyncWorkerTest, LogWithoutAWindowStoresTheLineAndPostsNothing) {
    DrainWakeUps();
    app.hwnd = nullptr;
    app.Log(L"before the window");
    MSG message;
    EXPECT_FALSE(PeekMessageW(&message, wake, 0, 0, PM_REMOVE));
    EXPECT_EQ(LogTexts(), std::vector<std::wstring>{L"before the window"});
}

// Writers log numbered lines with a long payload while a reader walks the log under its lock: every
// line it sees must be whole, and each writer's lines in order with none missing in between.
void CheckConcurrentLogging(AppSyncFixture& fixture, bm::ui::App& app, int writers, int linesEach) {
    const std::wstring payload(200, L'x');
    std::atomic<int> running{writers};
    std::vector<std::thread> threads;
    for (int w = 0; w < writers; ++w) {
        threads.emplace_back([&, w] {
            for (int n = 0; n < linesEach; ++n) {
                app.Log(L"w" + std::to_wstring(w) + L" " + std::to_wstring(n) + L" " + payload);
            }
            --running;
        });
    }

    auto checkSnapshot = [&](bool final) {
        std::lock_guard<std::mutex> lock(app.logMutex);
        EXPECT_LE(app.logLines.size(), bm::ui::kMaxLogLines);
        std::vector<int> last(writers, -1);
        for (const std::wstring& line : app.logLines) {
            ASSERT_TRUE(AppSyncFixture::HasTimePrefix(line)) << ToUtf8(line);
            const std::wstring text = line.substr(11);
            ASSERT_EQ(text[0], L'w');
            const size_t space = text.find(L' ');
            const size_t space2 = text.find(L' ', space + 1);
            ASSERT_NE(space2, std::wstring::npos);
            const int w = std::stoi(text.substr(1, space - 1));
            const int n = std::stoi(text.substr(space + 1, space2 - space - 1));
            ASSERT_EQ(text.substr(space2 + 1), payload);
            ASSERT_GE(w, 0);
            ASSERT_LT(w, writers);
            // In order, and contiguous once the writer's first kept line has been met.
            if (last[w] >= 0) {
                ASSERT_EQ(n, last[w] + 1) << "writer " << w;
            }
            last[w] = n;
        }
        if (final) {
            // A writer with a line among the kept ones has its newer lines kept too, up to its last.
            for (int w = 0; w < writers; ++w) {
                if (last[w] >= 0) {
                    EXPECT_EQ(last[w], linesEach - 1) << "writer " << w;
                }
            }
        }
    };
    while (running.load() > 0) checkSnapshot(false);
    for (std::thread& thread : threads) thread.join();
    checkSnapshot(true);
    (void)fixture;
}

TEST_F(SyncWorkerTest, ConcurrentLinesBelowTheCapAreAllKeptWhole) {
    app.hwnd = nullptr;  // thousands of posts are not the point here
    CheckConcurrentLogging(*this, app, 4, 120);
    EXPECT_EQ(LogTexts().size(), 480u);
}

TEST_F(SyncWorkerTest, ConcurrentLinesAboveTheCapKeepTheNewest500Whole) {
    app.hwnd = nullptr;
    CheckConcurrentLogging(*this, app, 4, 1000);
    EXPECT_EQ(LogTexts().size(), 500u);
}

}  // namespace
}  // namespace bm::test
