#include "app/outside_reads.h"

#include "core/browser_process.h"
#include "core/browsers.h"

namespace bm::ui {

void OutsideReads::Forget() {
    stale_ = false;
    fileExists_.clear();
    backups_.clear();
    running_.clear();
    changeCount_ = -1;
    snapshots_.clear();
    configs_.clear();
}

void OutsideReads::CheckStale() {
    if (stale_.exchange(false)) Forget();
}

bool OutsideReads::FileExists(const std::wstring& path) {
    CheckStale();
    auto found = fileExists_.find(path);
    if (found != fileExists_.end()) return found->second;
    ++reads.files;
    return fileExists_[path] = bm::FileExists(path);
}

std::vector<FileBackupEntry> OutsideReads::FileBackups(const std::wstring& bookmarksPath) {
    CheckStale();
    auto found = backups_.find(bookmarksPath);
    if (found != backups_.end()) return found->second;
    ++reads.backups;
    return backups_[bookmarksPath] = ListFileBackups(bookmarksPath);
}

bool OutsideReads::ProcessRunning(const std::wstring& exeName) {
    CheckStale();
    auto found = running_.find(exeName);
    if (found != running_.end()) return found->second;
    ++reads.processes;
    return running_[exeName] = IsProcessRunning(exeName);
}

void OutsideReads::CheckDatabase(AppDatabase& db) {
    CheckStale();
    const int64_t changes = db.ChangeCount();
    if (changes == changeCount_) return;
    changeCount_ = changes;
    snapshots_.clear();
    configs_.clear();
}

std::vector<SnapshotInfo> OutsideReads::Snapshots(AppDatabase& db, int64_t profileId) {
    CheckDatabase(db);
    auto found = snapshots_.find(profileId);
    if (found != snapshots_.end()) return found->second;
    ++reads.snapshots;
    std::vector<SnapshotInfo> list = db.ListSnapshots(profileId);  // a throw keeps nothing
    return snapshots_[profileId] = std::move(list);
}

BrowserConfig OutsideReads::Config(AppDatabase& db, const std::wstring& browserKey) {
    CheckDatabase(db);
    auto found = configs_.find(browserKey);
    if (found != configs_.end()) return found->second;
    ++reads.configs;
    BrowserConfig config = db.GetBrowserConfig(browserKey);
    return configs_[browserKey] = std::move(config);
}

}  // namespace bm::ui
