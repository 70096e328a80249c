#include "app/backup_counts.h"

#include <windows.h>

#include <exception>
#include <utility>

#include "core/chromium_bookmarks.h"
#include "core/firefox_places.h"

namespace bm::ui {

void BackupCounts::SetOnCounted(std::function<void()> onCounted) {
    std::lock_guard<std::mutex> lock(mutex_);
    onCounted_ = std::move(onCounted);
}

std::optional<int> BackupCounts::Count(BrowserKind kind, const std::wstring& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    Entry& entry = entries_[path];
    const bool wanted = !entry.count || entry.recheck;
    if (wanted && !entry.queued) {
        if (!thread_.joinable()) {
            try {
                thread_ = std::thread(&BackupCounts::Run, this);
            } catch (const std::exception&) {
                return entry.count;  // no thread now: asked again on the next frame
            }
        }
        queue_.push_back({kind, path});
        entry.queued = true;
        wake_.notify_one();
    }
    return entry.count;
}

void BackupCounts::CheckAgain() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& [path, entry] : entries_)
        if (entry.count) entry.recheck = true;
}

void BackupCounts::WaitIdle() {
    std::unique_lock<std::mutex> lock(mutex_);
    idle_.wait(lock, [this] { return (queue_.empty() && !busy_) || !thread_.joinable(); });
}

void BackupCounts::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        queue_.clear();
        for (auto& [path, entry] : entries_) entry.queued = false;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = false;
    idle_.notify_all();
}

int BackupCounts::FilesRead() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return filesRead_;
}

void BackupCounts::Run() {
    for (;;) {
        Job job;
        std::optional<int> known;
        Stamp knownStamp;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (stopping_) return;
            job = std::move(queue_.front());
            queue_.pop_front();
            busy_ = true;
            const Entry& entry = entries_[job.path];
            known = entry.count;
            knownStamp = entry.stamp;
        }

        // The stamp is taken before the read: a change during the read shows at the next check.
        const std::optional<Stamp> stamp = StampOf(job.path);
        const bool unchanged = known && stamp && *stamp == knownStamp;
        const int count = unchanged ? *known : ReadCount(job.kind, job.path);

        std::function<void()> onCounted;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            Entry& entry = entries_[job.path];
            entry.count = count;
            entry.stamp = stamp.value_or(Stamp{});
            entry.queued = false;
            entry.recheck = false;
            if (!unchanged) {
                ++filesRead_;
                onCounted = onCounted_;
            }
            busy_ = false;
            if (queue_.empty()) idle_.notify_all();
        }
        if (onCounted) onCounted();
    }
}

std::optional<BackupCounts::Stamp> BackupCounts::StampOf(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
    Stamp stamp;
    stamp.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    stamp.written = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
    return stamp;
}

int BackupCounts::ReadCount(BrowserKind kind, const std::wstring& path) {
    try {
        std::wstring error;
        const std::vector<BookmarkRecord> records =
            kind == BrowserKind::Firefox ? ReadFirefoxBookmarks(path, &error) : ReadChromiumBookmarks(path, &error);
        if (error.empty() || !records.empty()) return static_cast<int>(records.size());
    } catch (...) {
        // A file that cannot be read is shown as such; it never ends the thread.
    }
    return kUnreadable;
}

}  // namespace bm::ui
