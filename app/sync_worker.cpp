// The one background activity (the sync worker), the log, and the browser list with its overrides.
#include "app/app.h"

namespace bm::ui {

// Coming: start the worker thread for one job (ignored while one runs).
void App::StartSync(const SyncRequest& request) { (void)request; }

// Coming: the worker body that runs the engine and reports the start and end of the job.
void SyncWorker(App* app, SyncRequest request, std::vector<BrowserInfo> browsers) {
    (void)app;
    (void)request;
    (void)browsers;
}

// Coming: the refresh after a job (profiles, running flags, explorer reload), on the interface thread.
void App::HandleFinishedSync() {}

// Coming: time-stamped, capped, thread-safe log lines that wake the loop.
void App::Log(const std::wstring& text) { (void)text; }

// Coming: detection plus the stored custom paths, with running flags.
std::vector<BrowserInfo> LoadBrowsersWithOverrides(AppDatabase& db) {
    (void)db;
    return {};
}

// Coming: a fresh process test for every entry.
void RefreshRunningFlags(std::vector<BrowserInfo>& browsers) { (void)browsers; }

}  // namespace bm::ui
