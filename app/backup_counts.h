#pragma once
// How many bookmarks each file backup holds, worked out on a thread of its own: a backup is a whole
// bookmarks file (tens of megabytes for a long-time user), and reading twenty of them inside a frame
// froze the window for tens of seconds. The panel asks for a count on every frame; the answer is the
// count when it is known and nothing while the backup is still being read ("counting...").
//
// One thread reads one backup at a time, so no file is ever read by two readers at once. It wakes the
// window (the callback) after each count. A count is kept with the size and the time of the last
// write of the file it was read from; after CheckAgain (the panel calls it when it reads the list of
// backups afresh) the thread looks at each file again and counts once more what has changed, while
// the row keeps showing the count it had.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/browsers.h"

namespace bm::ui {

class BackupCounts {
public:
    // -1: the backup could not be read as a bookmarks file.
    static constexpr int kUnreadable = -1;

    BackupCounts() = default;
    ~BackupCounts() { Stop(); }
    BackupCounts(const BackupCounts&) = delete;
    BackupCounts& operator=(const BackupCounts&) = delete;

    // Called on the counting thread after each count (the App posts its wake-up message).
    void SetOnCounted(std::function<void()> onCounted);

    // The count of the backup at `path` of a file of that kind of browser, or nothing while it is
    // being worked out (it is then queued; the thread starts when first needed). Never reads the file.
    std::optional<int> Count(BrowserKind kind, const std::wstring& path);
    // Every kept count is checked against its file again when next asked for.
    void CheckAgain();

    // Blocks until nothing is queued or being read (tests wait on this instead of a clock).
    void WaitIdle();
    // Drops what is queued, waits for the read in progress and ends the thread. Count starts it again.
    void Stop();

    // Backups read as bookmarks files so far (a look at a file that had not changed is no read).
    int FilesRead() const;

private:
    struct Stamp {
        uint64_t size = 0;
        uint64_t written = 0;
        bool operator==(const Stamp&) const = default;
    };
    struct Entry {
        std::optional<int> count;
        Stamp stamp;
        bool queued = false;
        bool recheck = false;  // the file may have changed since it was counted
    };
    struct Job {
        BrowserKind kind;
        std::wstring path;
    };

    void Run();
    static std::optional<Stamp> StampOf(const std::wstring& path);
    static int ReadCount(BrowserKind kind, const std::wstring& path);

    mutable std::mutex mutex_;
    std::condition_variable wake_;  // a job was queued, or the thread is to stop
    std::condition_variable idle_;  // the queue ran empty
    std::map<std::wstring, Entry> entries_;
    std::deque<Job> queue_;
    bool busy_ = false;  // a job is being worked on
    bool stopping_ = false;
    std::thread thread_;
    std::function<void()> onCounted_;
    int filesRead_ = 0;
};

}  // namespace bm::ui
