// What a power cut would leave on disk at any moment of a replace sync with backup and of a restore.
// The writers' steps are recorded as they happen, with the flags and outcomes they really had; two
// models of the disk replay them, keeping only what is sure to be there after a cut: data that was
// flushed, and names that reached the disk. On the NTFS-like disk a name lasts when its rename was
// written through; on the strict one (a Linux file system under Wine) only once its folder was
// flushed. At every step either disk must hold the old bookmarks or the new ones with the backup of
// the old.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <windows.h>

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "core/file_backup.h"
#include "core/file_io.h"
#include "tests/sync/sync_fixture.h"

namespace bm::test {
namespace {

// Folder entries with what they hold; nullopt for a name whose data may not be on disk.
using Files = std::map<std::wstring, std::optional<std::string>>;

std::wstring Key(std::wstring path) {
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    return ToLower(std::move(path));
}

bool EndsWith(const std::wstring& text, const std::wstring& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The files of the folder; SQLite's -shm is left out, as it holds nothing SQLite cannot rebuild.
Files FolderFiles(const std::wstring& folder) {
    Files files;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return files;
    do {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        const std::wstring path = folder + L"\\" + data.cFileName;
        if (EndsWith(path, L"-shm")) continue;
        files[Key(path)] = ReadTextFile(path);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return files;
}

std::wstring FolderOf(const std::wstring& key) { return key.substr(0, key.find_last_of(L'\\')); }

struct Step {
    FileStepEvent event;
    std::string bytes;
};

class StepRecorder {
public:
    StepRecorder() {
        previous_ = SetFileStepObserver([this](const FileStepEvent& event) {
            std::lock_guard<std::mutex> lock(mutex_);
            steps_.push_back({event, event.bytes ? *event.bytes : std::string()});
        });
    }
    ~StepRecorder() { SetFileStepObserver(previous_); }
    std::vector<Step> steps() {
        std::lock_guard<std::mutex> lock(mutex_);
        return steps_;
    }

private:
    FileStepObserver previous_;
    std::mutex mutex_;
    std::vector<Step> steps_;
};

std::string Describe(const Step& step) {
    const char* names[] = {"write", "copy", "flush", "rename", "flush folder"};
    std::string text = names[static_cast<int>(step.event.step)];
    if (!step.event.source.empty()) text += " " + ToUtf8(step.event.source) + " ->";
    text += " " + ToUtf8(step.event.path);
    if (step.event.step == FileStep::Rename) text += step.event.writeThrough ? " (written through)" : " (cached)";
    if (step.event.step == FileStep::FolderFlush && !step.event.done) text += " (failed)";
    return text;
}

enum class DiskKind {
    NtfsLike,  // a rename lasts when written through; a folder flush is not relied on
    Strict,    // a rename lasts only once its folder is flushed; write-through is not relied on
};

const char* Name(DiskKind kind) { return kind == DiskKind::NtfsLike ? "NTFS-like disk" : "strict disk"; }

// What the files hold after a cut, in each way the cached steps may have reached the disk.
class DiskModel {
public:
    DiskModel(DiskKind kind, const Files& start) : kind_(kind), cache_(start), disks_{{start, {}}} {}

    void Apply(const Step& step) {
        const std::wstring path = Key(step.event.path);
        switch (step.event.step) {
            case FileStep::Write:
                cache_[path] = step.bytes;
                ForEachDisk([&](Disk& disk) { disk.files[path] = std::nullopt; });
                break;
            case FileStep::Copy: {
                const auto source = cache_.find(Key(step.event.source));
                cache_[path] = source == cache_.end() ? std::nullopt : source->second;
                ForEachDisk([&](Disk& disk) { disk.files[path] = std::nullopt; });
                break;
            }
            case FileStep::Flush:
                ForEachDisk([&](Disk& disk) { disk.files[path] = cache_[path]; });
                break;
            case FileStep::Rename: {
                const std::wstring source = Key(step.event.source);
                cache_[path] = cache_[source];
                cache_.erase(source);
                const bool lasts = kind_ == DiskKind::NtfsLike && step.event.writeThrough;
                std::set<Disk> next;
                for (Disk disk : disks_) {
                    // A rename that has not surely reached the disk may or may not have.
                    if (!lasts) {
                        Disk without = disk;
                        if (kind_ == DiskKind::Strict) without.pending.push_back({source, path});
                        next.insert(std::move(without));
                    }
                    Move(disk.files, source, path);
                    next.insert(std::move(disk));
                }
                disks_ = std::move(next);
                break;
            }
            case FileStep::FolderFlush: {
                if (kind_ != DiskKind::Strict || !step.event.done) break;
                ForEachDisk([&](Disk& disk) {
                    std::vector<std::pair<std::wstring, std::wstring>> still;
                    for (const auto& [source, target] : disk.pending) {
                        if (FolderOf(target) == path)
                            Move(disk.files, source, target);
                        else
                            still.push_back({source, target});
                    }
                    disk.pending = std::move(still);
                });
                break;
            }
        }
    }

    // What changed in the folder without a recorded step (SQLite's own write of a database, which
    // its journal makes all or nothing) lands at once, after the recorded steps.
    void ApplyUnrecordedChanges(const Files& start, const Files& end, const std::set<std::wstring>& recorded) {
        auto land = [&](Files& files) {
            for (const Files* side : {&start, &end})
                for (const auto& [path, bytes] : *side) {
                    if (recorded.count(path)) continue;
                    const auto found = end.find(path);
                    if (found == end.end())
                        files.erase(path);
                    else
                        files[path] = found->second;
                }
        };
        land(cache_);
        ForEachDisk([&](Disk& disk) { land(disk.files); });
    }

    std::vector<Files> disks() const {
        std::vector<Files> files;
        for (const Disk& disk : disks_) files.push_back(disk.files);
        return files;
    }
    const Files& cache() const { return cache_; }

private:
    struct Disk {
        Files files;
        std::vector<std::pair<std::wstring, std::wstring>> pending;  // renames not yet on disk: from, to
        bool operator<(const Disk& other) const { return std::tie(files, pending) < std::tie(other.files, other.pending); }
    };

    static void Move(Files& files, const std::wstring& source, const std::wstring& path) {
        const auto moved = files.find(source);
        if (moved != files.end()) {
            files[path] = moved->second;
            files.erase(source);
        } else {
            files[path] = std::nullopt;  // a name on disk for a file that is not
        }
    }

    void ForEachDisk(const std::function<void(Disk&)>& change) {
        std::set<Disk> next;
        for (Disk disk : disks_) {
            change(disk);
            next.insert(std::move(disk));
        }
        disks_ = std::move(next);
    }

    DiskKind kind_;
    Files cache_;
    std::set<Disk> disks_;
};

bool IsTemporary(const std::wstring& key) {
    return key.find(L".orvtmp-") != std::wstring::npos || key.find(L".orvdbcopy-") != std::wstring::npos;
}

// Whole: no file but a temporary may be on disk without its data. Holds the set: every named file
// has the named bytes.
bool Holds(const Files& disk, const Files& set) {
    for (const auto& [path, bytes] : disk)
        if (!bytes && !IsTemporary(path)) return false;
    for (const auto& [path, bytes] : set) {
        const auto found = disk.find(path);
        if (found == disk.end() || found->second != bytes) return false;
    }
    return true;
}

std::string Show(const Files& disk) {
    std::string text;
    for (const auto& [path, bytes] : disk)
        text += "  " + ToUtf8(path) + ": " + (bytes ? std::to_string(bytes->size()) + " bytes" : "not on disk") + "\n";
    return text;
}

class PowerCut : public SyncTree {
protected:
    std::wstring Folder() const { return FolderOf(chromeBookmarks); }

    // The sync whose steps are recorded; it must succeed for its one destination.
    void RunToItsEnd(const SyncRequest& request) {
        const SyncResult result = Run(request);
        ASSERT_TRUE(result.ok);
        ASSERT_TRUE(result.destinations.at(0).ok) << ToUtf8(result.destinations.at(0).message);
    }

    // Runs the action with its steps recorded, then checks every moment on both disks against the
    // two sets of files in the folder: the old one, and the new one with what must come with it.
    void ExpectOldOrNewAtEveryMoment(const std::function<void()>& action,
                                     const std::function<std::vector<Files>()>& oldAndNew,
                                     const std::wstring& folder = {}) {
        const std::wstring watched = folder.empty() ? Folder() : folder;
        const Files start = FolderFiles(watched);
        std::vector<Step> steps;
        {
            StepRecorder recorder;
            action();
            steps = recorder.steps();
        }
        const std::vector<Files> sets = oldAndNew();
        ASSERT_EQ(sets.size(), 2u);
        ASSERT_FALSE(steps.empty());
        const Files end = FolderFiles(watched);
        std::set<std::wstring> recorded;
        for (const Step& step : steps)
            for (const std::wstring& path : {step.event.path, step.event.source})
                if (!path.empty()) recorded.insert(Key(path));

        for (const DiskKind kind : {DiskKind::NtfsLike, DiskKind::Strict}) {
            SCOPED_TRACE(Name(kind));
            DiskModel model(kind, start);
            std::string done = "  (start)\n";
            for (size_t i = 0; i <= steps.size() + 1; ++i) {
                if (i > 0 && i <= steps.size()) {
                    model.Apply(steps[i - 1]);
                    done += "  " + Describe(steps[i - 1]) + "\n";
                } else if (i > steps.size()) {
                    model.ApplyUnrecordedChanges(start, end, recorded);
                    done += "  (what changed without a recorded step)\n";
                }
                for (const Files& disk : model.disks())
                    ASSERT_TRUE(Holds(disk, sets[0]) || Holds(disk, sets[1]))
                        << "on the " << Name(kind)
                        << ", a cut after these steps leaves a file without its data, or neither the old set nor "
                           "the new one:\n"
                        << done << "the disk then holds:\n"
                        << Show(disk);
            }
            // The model followed what really happened.
            for (const auto& [path, bytes] : model.cache()) {
                if (IsTemporary(path) || FolderOf(path) != Key(watched)) continue;
                EXPECT_EQ(end.count(path) ? end.at(path) : std::nullopt, bytes) << ToUtf8(path);
            }
            for (const Files& disk : model.disks()) EXPECT_TRUE(Holds(disk, sets[1])) << Show(disk);
        }
    }

    std::wstring OnlyNewBackup(const std::vector<std::wstring>& before, const std::wstring& of = {}) {
        std::vector<std::wstring> made;
        for (const FileBackupEntry& entry : ListFileBackups(of.empty() ? chromeBookmarks : of))
            if (std::find(before.begin(), before.end(), Key(entry.path)) == before.end()) made.push_back(Key(entry.path));
        EXPECT_EQ(made.size(), 1u);
        return made.empty() ? std::wstring() : made[0];
    }
};

TEST_F(PowerCut, ReplaceSyncWithBackupLeavesTheOldBookmarksOrTheNewWithTheirBackup) {
    const std::string old = ReadTextFile(chromeBookmarks);
    SyncRequest request = ToBrowser(FromProfile(work, L"Work"), BrowserKind::Chrome, 1);
    request.autoBackup = true;
    ExpectOldOrNewAtEveryMoment(
        [&] { RunToItsEnd(request); },
        [&] {
            const std::string now = ReadTextFile(chromeBookmarks);
            EXPECT_NE(now, old);
            return std::vector<Files>{{{Key(chromeBookmarks), old}},
                                      {{Key(chromeBookmarks), now}, {OnlyNewBackup({}), old}}};
        });
}

TEST_F(PowerCut, RestoreLeavesTheCurrentBookmarksOrTheRestoredOnesWithTheSafetyBackup) {
    const std::string current = ReadTextFile(chromeBookmarks);
    const std::wstring backup = MakeBackupPathAt(chromeBookmarks, {2024, 3, 4, 5, 6, 7});
    const std::string restoring = std::string(kChromeBookmarks).replace(std::string(kChromeBookmarks).find("Alpha"), 5,
                                                                        "Restored");
    WriteTextFile(backup, restoring);
    ExpectOldOrNewAtEveryMoment(
        [&] {
            std::wstring error;
            ASSERT_TRUE(RestoreFileBackup(chromeBookmarks, backup, &error)) << ToUtf8(error);
        },
        [&] {
            return std::vector<Files>{
                {{Key(chromeBookmarks), current}, {Key(backup), restoring}},
                {{Key(chromeBookmarks), restoring}, {Key(backup), restoring}, {OnlyNewBackup({Key(backup)}), current}}};
        });
}

// Firefox keeps its newest changes in places.sqlite-wal: the backup is then a copy made through
// SQLite, which must be on disk, name and all, before the replace of the bookmarks begins.
TEST_F(PowerCut, ReplaceSyncIntoFirefoxWithAWalLeavesTheOldFilesOrTheNewWithTheirBackup) {
    {
        FirefoxPlaces places(firefoxPlaces);
        places.Exec("PRAGMA wal_autocheckpoint = 0;");
        places.AddBookmark(kPlacesToolbarId, "https://only-in-the-wal.example/", "Only in the -wal");
        // Closed as a browser that is killed leaves it: the change in the -wal, not yet in the file.
        ASSERT_EQ(sqlite3_db_config(places.db(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr), SQLITE_OK);
    }
    ASSERT_TRUE(PathExists(firefoxPlaces + L"-wal"));
    const std::vector<std::string> before = Firefox();
    const std::wstring profileFolder = FolderOf(firefoxPlaces);
    const Files old = FolderFiles(profileFolder);
    ASSERT_TRUE(old.count(Key(firefoxPlaces + L"-wal")));

    SyncRequest request = ToBrowser(FromProfile(work, L"Work"), BrowserKind::Firefox, 1);
    request.autoBackup = true;
    ExpectOldOrNewAtEveryMoment(
        [&] { RunToItsEnd(request); },
        [&] {
            EXPECT_NE(Firefox(), before);
            const std::wstring backup = OnlyNewBackup({}, firefoxPlaces);
            std::wstring error;
            EXPECT_EQ(test::Describe(ReadFirefoxBookmarks(backup, &error)), before) << ToUtf8(error);
            Files now = FolderFiles(profileFolder);
            Files made;
            for (const auto& [path, bytes] : now)
                if (path.find(L"places.sqlite") != std::wstring::npos) made[path] = bytes;
            return std::vector<Files>{{{Key(firefoxPlaces), old.at(Key(firefoxPlaces))},
                                       {Key(firefoxPlaces + L"-wal"), old.at(Key(firefoxPlaces + L"-wal"))}},
                                      made};
        },
        profileFolder);
}

}  // namespace
}  // namespace bm::test
