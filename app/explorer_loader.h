#pragma once
// Loads the bookmark explorer's rows on a thread of its own: reading a browser's bookmarks file or a
// saved profile of a hundred thousand bookmarks and making the view's texts takes longer than a frame
// may, so the frame only asks for a load, shows its progress, and takes the finished view when the
// thread has woken the window.
//
// One thread reads one source at a time. A load asked for while another runs replaces it: the
// running one is given up as soon as it can be (a profile's read at its next row, a file's once read)
// and only the newest load's rows are ever handed over.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "app/panels/explorer_view.h"
#include "core/browsers.h"

namespace bm {
class AppDatabase;
}

namespace bm::ui {

class ExplorerLoader {
public:
    // What to load: a browser's bookmarks file, a saved profile, or nothing (an empty table).
    struct Source {
        enum class Kind { Nothing, Browser, Profile } kind = Kind::Nothing;
        BrowserInfo browser;
        int64_t profileId = 0;
    };
    // How far the newest load has come.
    struct Progress {
        bool loading = false;
        bool readingFile = false;  // a browser's file is being read; its rows are not known yet
        size_t rows = 0;           // rows made so far
        size_t total = 0;          // rows to make (0 while not known)
    };

    ExplorerLoader() = default;
    ~ExplorerLoader() { Stop(); }
    ExplorerLoader(const ExplorerLoader&) = delete;
    ExplorerLoader& operator=(const ExplorerLoader&) = delete;

    // Called on the loading thread when a load has finished and, at most about ten times a second,
    // while it goes on (the App posts its wake-up message).
    void SetOnProgress(std::function<void()> onProgress);

    // Starts loading `source`; `db` must outlive the load (profiles are read through it).
    void Start(const Source& source, AppDatabase& db);
    // The view of the newest load once it has finished, handed over once; null before that.
    std::shared_ptr<ExplorerView> Take();
    Progress progress() const;

    // Blocks until the newest load has finished (tests wait on this instead of a clock).
    void WaitIdle();
    // Gives up the load in progress, waits for the thread and ends it. Start starts it again.
    void Stop();

private:
    void Run();
    std::shared_ptr<ExplorerView> Load(const Source& source, AppDatabase& db, uint64_t generation);
    bool Superseded(uint64_t generation) const { return stopping_.load() || generation_.load() != generation; }
    void Report(uint64_t generation, bool force);

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    std::optional<Source> pending_;
    AppDatabase* db_ = nullptr;
    std::shared_ptr<ExplorerView> finished_;
    bool busy_ = false;
    std::thread thread_;
    std::function<void()> onProgress_;

    std::atomic<uint64_t> generation_{0};  // of the newest load asked for
    std::atomic<uint64_t> finishedGeneration_{0};
    std::atomic<bool> stopping_{false};
    std::atomic<bool> readingFile_{false};
    std::atomic<size_t> rows_{0};
    std::atomic<size_t> total_{0};
    int64_t lastReportMs_ = 0;  // loading thread only
};

}  // namespace bm::ui
