// What a power cut would leave on disk at any moment of a replace sync with backup and of a restore.
// The writers' steps are recorded as they happen; a model of the disk replays them, keeping only
// what is sure to be there after a cut: data that was flushed, and names that were written through.
// At every step the disk must hold the old bookmarks or the new ones with the backup of the old.
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
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

Files FolderFiles(const std::wstring& folder) {
    Files files;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return files;
    do {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        const std::wstring path = folder + L"\\" + data.cFileName;
        files[Key(path)] = ReadTextFile(path);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return files;
}

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
    const char* names[] = {"write", "copy", "flush", "rename"};
    std::string text = names[static_cast<int>(step.event.step)];
    if (!step.event.source.empty()) text += " " + ToUtf8(step.event.source) + " ->";
    text += " " + ToUtf8(step.event.path);
    if (step.event.step == FileStep::Rename) text += step.event.writeThrough ? " (written through)" : " (cached)";
    return text;
}

// What the files hold after a cut, in each way the cached steps may have reached the disk.
class DiskModel {
public:
    explicit DiskModel(const Files& start) : cache_(start), disks_{start} {}

    void Apply(const Step& step) {
        const std::wstring path = Key(step.event.path);
        switch (step.event.step) {
            case FileStep::Write:
                cache_[path] = step.bytes;
                for (Files& disk : disks_) disk[path] = std::nullopt;
                break;
            case FileStep::Copy: {
                const auto source = cache_.find(Key(step.event.source));
                cache_[path] = source == cache_.end() ? std::nullopt : source->second;
                for (Files& disk : disks_) disk[path] = std::nullopt;
                break;
            }
            case FileStep::Flush:
                for (Files& disk : disks_) disk[path] = cache_[path];
                break;
            case FileStep::Rename: {
                const std::wstring source = Key(step.event.source);
                cache_[path] = cache_[source];
                cache_.erase(source);
                std::vector<Files> next;
                for (Files& disk : disks_) {
                    // A cached rename may or may not have reached the disk.
                    if (!step.event.writeThrough) next.push_back(disk);
                    const auto moved = disk.find(source);
                    if (moved != disk.end()) {
                        disk[path] = moved->second;
                        disk.erase(source);
                    } else {
                        disk[path] = std::nullopt;  // a name on disk for a file that is not
                    }
                    next.push_back(std::move(disk));
                }
                disks_ = std::move(next);
                break;
            }
        }
    }

    const std::vector<Files>& disks() const { return disks_; }
    const Files& cache() const { return cache_; }

private:
    Files cache_;
    std::vector<Files> disks_;
};

bool IsTemporary(const std::wstring& key) { return key.find(L".orvtmp-") != std::wstring::npos; }

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
    std::wstring Folder() const { return chromeBookmarks.substr(0, chromeBookmarks.find_last_of(L'\\')); }

    // Runs the action with its steps recorded, then checks every moment against the two sets.
    void ExpectOldOrNewAtEveryMoment(const std::function<void()>& action,
                                     const std::function<std::vector<Files>()>& oldAndNew) {
        const Files start = FolderFiles(Folder());
        std::vector<Step> steps;
        {
            StepRecorder recorder;
            action();
            steps = recorder.steps();
        }
        const std::vector<Files> sets = oldAndNew();
        ASSERT_EQ(sets.size(), 2u);
        ASSERT_FALSE(steps.empty());

        DiskModel model(start);
        std::string done = "  (start)\n";
        for (size_t i = 0; i <= steps.size(); ++i) {
            if (i > 0) {
                model.Apply(steps[i - 1]);
                done += "  " + Describe(steps[i - 1]) + "\n";
            }
            for (const Files& disk : model.disks())
                ASSERT_TRUE(Holds(disk, sets[0]) || Holds(disk, sets[1]))
                    << "a cut after these steps leaves a file without its data, or neither the old set nor the new one:\n"
                    << done << "the disk then holds:\n"
                    << Show(disk);
        }
        // The model followed what really happened.
        const Files end = FolderFiles(Folder());
        for (const auto& [path, bytes] : model.cache()) {
            if (IsTemporary(path)) continue;
            EXPECT_EQ(end.count(path) ? end.at(path) : std::nullopt, bytes) << ToUtf8(path);
        }
        for (const Files& disk : model.disks()) EXPECT_TRUE(Holds(disk, sets[1])) << Show(disk);
    }

    std::wstring OnlyNewBackup(const std::vector<std::wstring>& before) {
        std::vector<std::wstring> made;
        for (const FileBackupEntry& entry : ListFileBackups(chromeBookmarks))
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
        [&] {
            const SyncResult result = Run(request);
            ASSERT_TRUE(result.ok);
            ASSERT_TRUE(result.destinations.at(0).ok) << ToUtf8(result.destinations.at(0).message);
        },
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

}  // namespace
}  // namespace bm::test
