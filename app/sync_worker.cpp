// The one background activity (the sync worker), the log, and the browser list with its overrides.
#include "app/app.h"

#include <cstdio>
#include <exception>
#include <utility>

#include "core/browser_process.h"

namespace bm::ui {

namespace {

// "[hh:mm:ss] " in local time.
std::wstring TimePrefix() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    wchar_t text[16] = {};
    std::swprintf(text, 16, L"[%02d:%02d:%02d] ", now.wHour, now.wMinute, now.wSecond);
    return text;
}

// Posted, never sent, so that a worker never waits for the interface thread.
void PostWakeUp(HWND hwnd) {
    if (hwnd != nullptr) PostMessageW(hwnd, kWakeMessage, 0, 0);
}

// An "[ERROR] " line for a failure the job did not foresee; itself never throws.
void LogFailure(App& app, const wchar_t* message, const char* what) {
    try {
        std::wstring text = std::wstring(L"[ERROR] ") + message;
        if (what != nullptr && *what != '\0') text += L": " + ToWide(what);
        app.Log(text + L".");
    } catch (...) {
    }
}

}  // namespace

void App::StartSync(const SyncRequest& request) {
    if (syncRunning.load()) return;
    // The previous job has ended; join it here and give the interface its refresh now, since that
    // job's refresh must not be skipped.
    if (worker.joinable()) HandleFinishedSync();

    // Set before the thread exists so that the interface never sees a job without the flag.
    syncRunning = true;
    try {
        worker = std::thread(SyncWorker, this, request, browsers);
    } catch (const std::exception& error) {  // no thread (std::system_error) or no memory
        syncRunning = false;
        LogFailure(*this, L"Could not start the sync", error.what());
    }
}

void SyncWorker(App* app, SyncRequest request, std::vector<BrowserInfo> browsers) {
    bool finished = false;
    size_t destinationCount = 0;
    // Whatever fails inside the job (the engine reports its own failures, but memory can run out
    // anywhere), the job ends like any other: closing line, flag cleared, wake-up posted, so that
    // the interface refreshes and "Sync Now" comes back.
    try {
        app->Log(L"--- Sync started ---");
        const LogCallback log = [app](const std::wstring& line) { app->Log(line); };
        const SyncResult result = app->syncEngine.RunSync(request, browsers, app->db, log);
        finished = result.ok;
        destinationCount = result.destinations.size();
    } catch (const std::exception& error) {
        LogFailure(*app, L"Sync stopped by an unexpected failure", error.what());
    } catch (...) {
        LogFailure(*app, L"Sync stopped by an unexpected failure", nullptr);
    }

    try {
        if (finished) {
            app->Log(L"--- Sync finished: " + std::to_wstring(destinationCount) + L" destination(s) processed ---");
        } else {
            app->Log(L"--- Sync aborted ---");
        }
    } catch (...) {
        // Out of memory for the closing line itself: the flag and the wake-up below still follow.
    }

    app->syncRunning = false;
    PostWakeUp(app->hwnd);
}

void App::HandleFinishedSync() {
    if (syncRunning.load() || !worker.joinable()) return;
    worker.join();

    RefreshProfiles();  // reports its own failures
    RefreshRunningFlags(browsers);
    outsideReads.Forget();
    explorerReloadPending = true;
}

void App::Log(const std::wstring& text) {
    // Logging never fails its caller (the worker, a panel inside a frame): a line that cannot be
    // stored for want of memory is dropped.
    try {
        outsideReads.ForgetSoon();  // whatever was done may have changed what the panels show
        std::wstring line = TimePrefix() + text;
        std::lock_guard<std::mutex> lock(logMutex);
        logLines.push_back(std::move(line));
        while (logLines.size() > kMaxLogLines) logLines.pop_front();
    } catch (...) {
        return;
    }
    // Outside the lock: the wake-up takes no lock of the log.
    PostWakeUp(hwnd);
}

std::vector<BrowserInfo> LoadBrowsersWithOverrides(AppDatabase& db, bool withOverrides) {
    std::vector<BrowserInfo> list = DetectBrowsers();
    for (BrowserInfo& browser : list) {
        if (!withOverrides) break;
        // A failing look-up is passed on: falling back to the detected file could write into a
        // file the user has redirected away from.
        const BrowserConfig config = db.GetBrowserConfig(BrowserKey(browser.kind));
        if (config.custom_path.empty()) continue;
        browser.bookmarksPath = config.custom_path;
        browser.detected = FileExists(config.custom_path);
        browser.hasCustomPath = true;
    }
    RefreshRunningFlags(list);
    return list;
}

void RefreshRunningFlags(std::vector<BrowserInfo>& browsers) {
    for (BrowserInfo& browser : browsers) browser.running = IsProcessRunning(browser.exeName);
}

}  // namespace bm::ui
