#include "app/explorer_loader.h"

#include <chrono>
#include <exception>
#include <utility>
#include <vector>

#include "core/chromium_bookmarks.h"
#include "core/firefox_places.h"
#include "database/app_database.h"

namespace bm::ui {

namespace {

// Rows between two looks at whether the load is still wanted and how far it has come.
constexpr size_t kRowsPerStep = ExplorerView::kLoadStepRows;

// Thrown through the profile's read to give up a load no longer wanted.
struct GivenUp {};

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::vector<BookmarkRecord> ReadBrowserRows(const BrowserInfo& browser) {
    std::wstring error;  // not shown: an unreadable file is an empty table
    try {
        if (browser.kind == BrowserKind::Firefox) return ReadFirefoxBookmarks(browser.bookmarksPath, &error);
        return ReadChromiumBookmarks(browser.bookmarksPath, &error);
    } catch (const std::exception&) {
        return {};
    }
}

}  // namespace

void ExplorerLoader::SetOnProgress(std::function<void()> onProgress) {
    std::lock_guard<std::mutex> lock(mutex_);
    onProgress_ = std::move(onProgress);
}

void ExplorerLoader::Start(const Source& source, AppDatabase& db) {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_ = source;
    db_ = &db;
    finished_.reset();
    rows_ = 0;
    total_ = 0;
    readingFile_ = source.kind == Source::Kind::Browser;
    ++generation_;  // the load in progress, if any, now gives up
    if (!thread_.joinable()) {
        try {
            thread_ = std::thread(&ExplorerLoader::Run, this);
        } catch (const std::exception&) {
            // No thread for now: an empty table; the next load tries again.
            pending_.reset();
            finished_ = std::make_shared<ExplorerView>();
            finished_->Finish();
            finishedGeneration_ = generation_.load();
            readingFile_ = false;
            return;
        }
    }
    wake_.notify_one();
}

std::shared_ptr<ExplorerView> ExplorerLoader::Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!finished_ || finishedGeneration_.load() != generation_.load()) return nullptr;
    return std::move(finished_);
}

ExplorerLoader::Progress ExplorerLoader::progress() const {
    Progress progress;
    progress.loading = finishedGeneration_.load() != generation_.load();
    progress.readingFile = readingFile_.load();
    progress.rows = rows_.load();
    progress.total = total_.load();
    return progress;
}

void ExplorerLoader::WaitIdle() {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return (!busy_ && !pending_) || !thread_.joinable(); });
}

void ExplorerLoader::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        pending_.reset();
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = false;
    busy_ = false;
    done_.notify_all();
}

void ExplorerLoader::Run() {
    for (;;) {
        Source source;
        AppDatabase* db = nullptr;
        uint64_t generation = 0;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return stopping_.load() || pending_.has_value(); });
            if (stopping_) return;
            source = std::move(*pending_);
            pending_.reset();
            db = db_;
            generation = generation_.load();
            busy_ = true;
        }

        std::shared_ptr<ExplorerView> view;
        try {
            view = Load(source, *db, generation);
        } catch (...) {
            // Out of memory for the rows: an empty table rather than an ended thread.
            view = std::make_shared<ExplorerView>();
            view->Finish();
        }

        std::function<void()> onProgress;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            busy_ = false;
            if (view && !Superseded(generation)) {
                finished_ = std::move(view);
                finishedGeneration_ = generation;
                onProgress = onProgress_;
            }
            if (!pending_) done_.notify_all();
        }
        if (onProgress) onProgress();
    }
}

void ExplorerLoader::Report(uint64_t generation, bool force) {
    const int64_t now = NowMs();
    if (!force && now - lastReportMs_ < 100) return;
    lastReportMs_ = now;
    std::function<void()> onProgress;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (generation == generation_.load()) onProgress = onProgress_;
    }
    if (onProgress) onProgress();
}

std::shared_ptr<ExplorerView> ExplorerLoader::Load(const Source& source, AppDatabase& db, uint64_t generation) {
    auto view = std::make_shared<ExplorerView>();
    if (source.kind == Source::Kind::Browser) {
        Report(generation, true);
        const std::vector<BookmarkRecord> records = ReadBrowserRows(source.browser);
        if (Superseded(generation)) return nullptr;
        size_t bytes = 0;
        for (const BookmarkRecord& row : records) bytes += row.title.size() + row.url.size() + row.folder_path.size() + 3;
        total_ = records.size();
        readingFile_ = false;
        view->Clear(records.size(), bytes);
        for (size_t i = 0; i < records.size(); ++i) {
            view->Add(records[i]);
            if ((i + 1) % kRowsPerStep == 0) {
                rows_ = i + 1;
                if (Superseded(generation)) return nullptr;
                Report(generation, false);
            }
        }
    } else if (source.kind == Source::Kind::Profile) {
        try {
            size_t expected = 0;
            try {
                expected = static_cast<size_t>(db.CountBookmarks(source.profileId));
            } catch (const std::exception&) {
                // The load below reports the failure as an empty table.
            }
            total_ = expected;
            view->LoadProfile(db, source.profileId, expected, [&](size_t rows) {
                rows_ = rows;
                if (Superseded(generation)) throw GivenUp{};
                Report(generation, false);
            });
        } catch (const GivenUp&) {
            return nullptr;
        }
        rows_ = view->size();
        return view;
    }
    rows_ = view->start.size();
    view->Finish();
    return view;
}

}  // namespace bm::ui
