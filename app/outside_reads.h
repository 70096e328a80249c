#pragma once
// What the panels show from outside the interface (the database, the disk, the process list), read
// once and kept until it may have changed, instead of on every frame.
//
// Database answers are kept while AppDatabase::ChangeCount stands still: every write through the
// connection, the worker's included, moves it. Files and processes change outside the program, so
// everything is read again after Forget: when the window is activated (the user may have used a
// browser meanwhile), on a refresh, at the end of a sync, and after each line of the log (every
// action of the program reports itself there), which calls ForgetSoon from any thread.

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "core/file_backup.h"
#include "database/app_database.h"

namespace bm::ui {

class OutsideReads {
public:
    // Everything may have changed: read it again when next asked. Interface thread.
    void Forget();
    // The same from any thread; takes effect at the next question.
    void ForgetSoon() { stale_ = true; }

    bool FileExists(const std::wstring& path);
    std::vector<FileBackupEntry> FileBackups(const std::wstring& bookmarksPath);
    bool ProcessRunning(const std::wstring& exeName);

    // As AppDatabase::ListSnapshots and GetBrowserConfig (a failure throws and is not kept). The
    // answers are copies: the next question may drop what was kept (ForgetSoon from any thread).
    std::vector<SnapshotInfo> Snapshots(AppDatabase& db, int64_t profileId);
    BrowserConfig Config(AppDatabase& db, const std::wstring& browserKey);

    // How many times each kind was read from outside (the cache's misses).
    struct Reads {
        int files = 0, backups = 0, processes = 0, snapshots = 0, configs = 0;
    } reads;

private:
    void CheckDatabase(AppDatabase& db);
    void CheckStale();

    std::atomic<bool> stale_{false};
    std::map<std::wstring, bool> fileExists_;
    std::map<std::wstring, std::vector<FileBackupEntry>> backups_;
    std::map<std::wstring, bool> running_;
    int64_t changeCount_ = -1;
    std::map<int64_t, std::vector<SnapshotInfo>> snapshots_;
    std::map<std::wstring, BrowserConfig> configs_;
};

}  // namespace bm::ui
