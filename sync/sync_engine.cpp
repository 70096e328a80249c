#include "sync/sync_engine.h"

#include <exception>
#include <optional>
#include <string>

#include "core/browser_process.h"
#include "core/browsers.h"
#include "core/chromium_bookmarks.h"
#include "core/file_backup.h"
#include "core/firefox_places.h"
#include "database/app_database.h"

namespace bm {
namespace {

constexpr int32_t kFirefoxKind = 6;

void Emit(const LogCallback& log, const std::wstring& line) {
    if (log) log(line);
}

bool IsFirefox(const BrowserInfo& browser) { return static_cast<int32_t>(browser.kind) == kFirefoxKind; }

const BrowserInfo* FindBrowser(const std::vector<BrowserInfo>& browsers, int32_t kind) {
    for (const BrowserInfo& browser : browsers)
        if (static_cast<int32_t>(browser.kind) == kind) return &browser;
    return nullptr;
}

// The text of the exception being handled; only called inside a catch block.
std::wstring CurrentExceptionText() {
    try {
        throw;
    } catch (const std::exception& e) {
        std::wstring text = ToWide(e.what());
        return text.empty() ? L"unknown error" : text;
    } catch (...) {
        return L"unknown error";
    }
}

// A destination that ends in an "[ERROR] " line naming it.
DestinationResult FailDestination(DestinationResult result, const std::wstring& message, const LogCallback& log) {
    result.ok = false;
    result.added = 0;
    result.duplicatesSkipped = 0;
    result.message = message;
    Emit(log, L"[ERROR] " + result.name + L": " + message);
    return result;
}

std::wstring CountsMessage(int added, int skipped) {
    return std::to_wstring(added) + L" added, " + std::to_wstring(skipped) + L" duplicate(s) skipped.";
}

}  // namespace

SyncResult SyncEngine::RunSync(const SyncRequest& request, const std::vector<BrowserInfo>& browsers,
                               AppDatabase& db, const LogCallback& log) const {
    SyncResult result;
    std::vector<BookmarkRecord> records;
    result.ok = LoadSource(request, browsers, db, records, result.error, log);
    if (!result.ok) {
        Emit(log, L"[ERROR] " + result.error);
        return result;
    }
    result.sourceCount = static_cast<int32_t>(records.size());
    const bool replace = request.writeMode == 1;
    const bool autoBackup = request.autoBackup;

    switch (request.destMode) {
        case 0: {
            const BrowserInfo* target = FindBrowser(browsers, request.destBrowserKind);
            if (!target) {
                Emit(log, L"[ERROR] Destination browser not found.");
                break;
            }
            result.destinations.push_back(SyncToBrowser(records, *target, replace, autoBackup, log));
            break;
        }
        case 1:
            for (const BrowserInfo& browser : browsers) {
                const bool isSource =
                    request.sourceType == 0 && static_cast<int32_t>(browser.kind) == request.sourceBrowserKind;
                if (isSource || !browser.detected) continue;
                result.destinations.push_back(SyncToBrowser(records, browser, replace, autoBackup, log));
            }
            break;
        case 2:
            result.destinations.push_back(
                SyncToProfile(records, request.destProfileId, replace, autoBackup, db, log));
            break;
        default:
            break;
    }
    return result;
}

bool SyncEngine::LoadSource(const SyncRequest& request, const std::vector<BrowserInfo>& browsers,
                            AppDatabase& db, std::vector<BookmarkRecord>& records, std::wstring& error,
                            const LogCallback& log) const {
    if (request.sourceType == 1) {
        try {
            records = db.GetBookmarks(request.sourceProfileId);
        } catch (...) {
            records.clear();
            error = L"Could not load the bookmarks of profile '" + request.sourceName +
                    L"': " + CurrentExceptionText();
            return false;
        }
        Emit(log, L"Loaded " + std::to_wstring(records.size()) + L" bookmark(s) from profile '" +
                      request.sourceName + L"'.");
        return true;
    }

    const BrowserInfo* source = FindBrowser(browsers, request.sourceBrowserKind);
    if (!source || !source->detected) {
        error = L"Source browser bookmarks file was not found on disk.";
        return false;
    }
    const std::wstring& name = source->displayName;
    if (IsProcessRunning(source->exeName)) {
        error = L"'" + name +
                L"' is currently running. Close it and try again (reading is safe, but we avoid touching any "
                L"browser's profile while its process is active).";
        return false;
    }

    std::wstring readError;
    std::vector<BookmarkRecord> loaded;
    try {
        loaded = IsFirefox(*source) ? ReadFirefoxBookmarks(source->bookmarksPath, &readError)
                                    : ReadChromiumBookmarks(source->bookmarksPath, &readError);
    } catch (...) {
        // A wrongly typed value inside the file: the source cannot be used.
        error = L"Could not read the bookmarks of '" + name + L"': " + CurrentExceptionText();
        return false;
    }
    if (!readError.empty() && loaded.empty()) {
        error = readError;
        return false;
    }
    records = std::move(loaded);
    Emit(log, L"Loaded " + std::to_wstring(records.size()) + L" bookmark(s) from '" + name + L"'.");
    return true;
}

DestinationResult SyncEngine::SyncToBrowser(const std::vector<BookmarkRecord>& records,
                                            const BrowserInfo& browser, bool replace, bool autoBackup,
                                            const LogCallback& log) const {
    DestinationResult result;
    result.name = browser.displayName;
    const std::wstring& name = result.name;
    try {
        if (IsProcessRunning(browser.exeName)) {
            result.message = L"Skipped: '" + name + L"' is currently running. Please close it first.";
            Emit(log, L"[LOCKED] " + result.message);
            return result;
        }
        if (!browser.detected) {
            result.message = L"Skipped: destination bookmarks file not found (browser may not be installed).";
            Emit(log, L"[SKIP] " + name + L": " + result.message);
            return result;
        }

        if (autoBackup || replace) {
            std::wstring backupError;
            std::optional<std::wstring> backupPath = BackupFile(browser.bookmarksPath, &backupError);
            if (backupPath) {
                std::wstring line = L"Backup created: " + *backupPath;
                if (replace) line += L" (Replace mode - restore this if anything looks wrong)";
                Emit(log, line);
            } else if (!backupError.empty()) {
                return FailDestination(std::move(result),
                                       L"Backup failed: " + backupError + L" -- aborting write for safety.", log);
            }
            if (replace && backupPath)
                Emit(log, L"[REPLACE] Clearing existing bookmarks in '" + name +
                              L"' before writing (backup above can restore them).");
            else if (replace)
                Emit(log, L"[REPLACE] '" + name + L"' had no bookmarks file: nothing to clear or back up.");
        }

        int skipped = 0;
        std::wstring writeError;
        const int added =
            IsFirefox(browser)
                ? WriteFirefoxBookmarks(browser.bookmarksPath, records, &skipped, &writeError, replace)
                : WriteChromiumBookmarks(browser.bookmarksPath, records, &skipped, &writeError, replace);
        if (added < 0) return FailDestination(std::move(result), L"Write failed: " + writeError, log);

        result.ok = true;
        result.added = added;
        result.duplicatesSkipped = skipped;
        result.message = CountsMessage(added, skipped);
        Emit(log, L"[OK] " + name + L": " + result.message);
        return result;
    } catch (...) {
        return FailDestination(std::move(result), CurrentExceptionText(), log);
    }
}

namespace {

// A profile destination as the log names it: by its name, or by its id when no profile has it.
std::wstring ProfileDestinationName(AppDatabase& db, int64_t profileId) {
    try {
        for (const ProfileRecord& profile : db.ListProfiles())
            if (profile.id == profileId) return L"Profile '" + profile.name + L"'";
    } catch (...) {
    }
    return L"Profile #" + std::to_wstring(profileId);
}

}  // namespace

DestinationResult SyncEngine::SyncToProfile(const std::vector<BookmarkRecord>& records, int64_t profileId,
                                            bool replace, bool autoBackup, AppDatabase& db,
                                            const LogCallback& log) const {
    DestinationResult result;
    result.name = ProfileDestinationName(db, profileId);

    if (autoBackup || replace) {
        try {
            db.CreateSnapshot(profileId,
                              replace ? L"Auto-backup before REPLACE sync" : L"Auto-backup before sync");
        } catch (...) {
            // Without a snapshot the profile is not touched at all.
            return FailDestination(std::move(result),
                                   L"Snapshot failed: " + CurrentExceptionText() + L" -- aborting write for safety.",
                                   log);
        }
    }

    try {
        if (replace) {
            Emit(log,
                 L"[REPLACE] Clearing existing bookmarks in the destination profile before writing (snapshot above "
                 L"can restore them).");
        }

        std::vector<BookmarkRecord> copies = records;
        for (BookmarkRecord& copy : copies) copy.profile_id = profileId;

        // A replace clears and fills in one transaction, so a failure or a kill midway keeps the old set.
        int skipped = 0;
        const int added = replace ? db.ReplaceBookmarks(profileId, copies, &skipped)
                                  : db.AddBookmarks(profileId, copies, &skipped);
        db.TouchProfile(profileId);

        result.ok = true;
        result.added = added;
        result.duplicatesSkipped = skipped;
        result.message = CountsMessage(added, skipped);
        Emit(log, L"[OK] " + result.name + L": " + result.message);
        return result;
    } catch (...) {
        return FailDestination(std::move(result), CurrentExceptionText(), log);
    }
}

}  // namespace bm
