#include "sync/sync_engine.h"

#include <windows.h>

#include <exception>
#include <optional>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "core/browser_process.h"
#include "core/browsers.h"
#include "core/chromium_bookmarks.h"
#include "core/file_backup.h"
#include "core/file_io.h"
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
    result.leftOut = 0;
    result.keptShallower = 0;
    result.message = message;
    Emit(log, L"[ERROR] " + result.name + L": " + message);
    return result;
}

// How many of `count` things, with `one` or `many` as the words for them.
std::wstring Plural(int count, const std::wstring& one, const std::wstring& many) { return count == 1 ? one : many; }

// The words for what a browser's writer left out or moved, after the counts of added and skipped.
std::wstring ShortfallWords(const WriteShortfall& shortfall, const std::wstring& browser, bool firefox) {
    std::vector<std::pair<int, std::wstring>> reasons;
    if (shortfall.urlTooLong > 0)
        reasons.emplace_back(shortfall.urlTooLong,
                             Plural(shortfall.urlTooLong, L"a URL", L"URLs") + L" longer than the " +
                                 std::to_wstring(kFirefoxMaxUrlLength) + L" characters Firefox keeps");
    if (shortfall.urlUnusable > 0)
        reasons.emplace_back(shortfall.urlUnusable,
                             Plural(shortfall.urlUnusable, L"a URL ", L"URLs ") + browser + L" cannot open");
    std::wstring text;
    if (!reasons.empty()) {
        text += L", " + std::to_wstring(shortfall.LeftOut()) + L" left out (";
        if (reasons.size() == 1) {
            text += reasons[0].second;
        } else {
            for (size_t i = 0; i < reasons.size(); ++i)
                text += (i ? L"; " : L"") + std::to_wstring(reasons[i].first) + L": " + reasons[i].second;
        }
        text += L")";
    }
    if (!shortfall.moved.empty()) {
        const size_t deepest = firefox ? kDeepestFolderNesting : kChromiumDeepestFolderNesting;
        text += L", " + std::to_wstring(shortfall.moved.size()) + L" kept in a shallower folder (nested deeper than the " +
                std::to_wstring(deepest) + L" folders " + (firefox ? std::wstring(L"any browser writes") : browser + L" loads") +
                L")";
    }
    return text;
}

std::wstring CountsMessage(int added, int skipped, const std::wstring& shortfall = {}) {
    return std::to_wstring(added) + L" added, " + std::to_wstring(skipped) + L" duplicate(s) skipped" + shortfall + L".";
}

// One line for each record a writer kept in a shallower folder than its path names (the first few).
void LogMoved(const std::vector<BookmarkRecord>& records, const WriteShortfall& shortfall, const std::wstring& browser,
              const LogCallback& log) {
    constexpr size_t kNamed = 10;
    for (size_t i = 0; i < shortfall.moved.size() && i < kNamed; ++i) {
        const WriteShortfall::Moved& moved = shortfall.moved[i];
        const BookmarkRecord& record = records[moved.record];
        Emit(log, browser + L": '" + record.title + L"' (" + record.url + L") lies " +
                      std::to_wstring(ParseFolderPath(record.folder_path).segments.size()) +
                      L" folders deep; it was put in the deepest folder of its path kept there: '" + moved.keptIn + L"'.");
    }
    if (shortfall.moved.size() > kNamed)
        Emit(log, browser + L": " + std::to_wstring(shortfall.moved.size() - kNamed) +
                      L" more bookmark(s) nested as deep were put in the deepest folder of their path kept there.");
}

// A destination that already holds what the write would give: it is left alone, without a backup
// or snapshot, so that syncs that change nothing do not push older backups out of those kept.
DestinationResult Unchanged(DestinationResult result, int skipped, int leftOut, const std::wstring& shortfall,
                            bool replace, const std::wstring& store, const std::wstring& backup, const LogCallback& log) {
    result.ok = true;
    result.added = 0;
    result.duplicatesSkipped = skipped;
    result.leftOut = leftOut;
    result.message = CountsMessage(0, skipped, shortfall) +
                     (replace ? L" It already holds exactly these bookmarks" : L" Nothing to add") + L": the " + store +
                     L" was left as it was and no " + backup + L" was made.";
    Emit(log, L"[OK] " + result.name + L": " + result.message);
    return result;
}

std::wstring FullPath(const std::wstring& path) {
    const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) return path;
    std::wstring full(size, L'\0');
    const DWORD written = GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
    if (written == 0 || written >= size) return path;
    full.resize(written);
    return full;
}

// Whether two paths name one file: the same file on disk when both can be opened (links and other
// spellings included), otherwise the same full path in any letter case.
bool SameFile(const std::wstring& a, const std::wstring& b) {
    if (a.empty() || b.empty()) return false;
    auto identity = [](const std::wstring& path, BY_HANDLE_FILE_INFORMATION& info) {
        HANDLE file = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (file == INVALID_HANDLE_VALUE) return false;
        const bool known = GetFileInformationByHandle(file, &info) != 0;
        CloseHandle(file);
        return known;
    };
    BY_HANDLE_FILE_INFORMATION x{}, y{};
    if (identity(a, x) && identity(b, y))
        return x.dwVolumeSerialNumber == y.dwVolumeSerialNumber && x.nFileIndexHigh == y.nFileIndexHigh &&
               x.nFileIndexLow == y.nFileIndexLow;
    return ToLower(FullPath(a)) == ToLower(FullPath(b));
}

// Whether the profile's rows already are what the write would leave: for a merge, every record's
// URL is there; for a replace, the rows are the records (the first of each URL, as the database
// keeps them) in the same order and with the same texts and dates.
bool ProfileAlreadyHolds(const std::vector<BookmarkRecord>& rows, const std::vector<BookmarkRecord>& records,
                         bool replace) {
    std::unordered_set<std::wstring> keys;
    if (!replace) {
        for (const BookmarkRecord& row : rows) keys.insert(NormalizeUrl(row.url));
        for (const BookmarkRecord& record : records)
            if (!keys.count(NormalizeUrl(record.url))) return false;
        return true;
    }
    size_t next = 0;
    for (const BookmarkRecord& record : records) {
        if (!keys.insert(NormalizeUrl(record.url)).second) continue;
        // A record without a date is stored with the time of the write, so it never matches.
        if (next == rows.size() || record.date_added == 0) return false;
        const BookmarkRecord& row = rows[next];
        // The rows must also stand in the order they were stored, or a replace would reorder them.
        if (next > 0 && row.id <= rows[next - 1].id) return false;
        if (row.url != record.url || row.title != record.title || row.folder_path != record.folder_path ||
            row.date_added != record.date_added)
            return false;
        ++next;
    }
    return next == rows.size();
}

// Why the request would write into the store it reads, or "" when it would not. A sync from a store
// into itself is refused as a copy from a profile into itself is: at best it does nothing, and a
// replace would first clear what it is about to read.
std::wstring SameStoreProblem(const SyncRequest& request, const std::vector<BrowserInfo>& browsers) {
    if (request.sourceType == 1)
        return request.destMode == 2 && request.destProfileId == request.sourceProfileId
                   ? L"Source and destination are the same profile ('" + request.sourceName +
                         L"'); a profile cannot be synced into itself. Choose another destination."
                   : L"";
    if (request.destMode != 0) return L"";
    const BrowserInfo* source = FindBrowser(browsers, request.sourceBrowserKind);
    const BrowserInfo* target = FindBrowser(browsers, request.destBrowserKind);
    if (!source || !target) return L"";
    if (source == target)
        return L"Source and destination are the same browser ('" + source->displayName +
               L"'); a browser cannot be synced into itself. Choose another destination.";
    if (SameFile(source->bookmarksPath, target->bookmarksPath))
        return L"Source and destination are the same file: '" + target->displayName +
               L"' uses the bookmarks file of '" + source->displayName + L"' (" + target->bookmarksPath +
               L"). Choose another destination.";
    return L"";
}

}  // namespace

SyncResult SyncEngine::RunSync(const SyncRequest& request, const std::vector<BrowserInfo>& browsers,
                               AppDatabase& db, const LogCallback& log) const {
    SyncResult result;
    result.error = SameStoreProblem(request, browsers);
    if (!result.error.empty()) {
        Emit(log, L"[ERROR] " + result.error);
        return result;
    }
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
        case 1: {
            const BrowserInfo* source =
                request.sourceType == 0 ? FindBrowser(browsers, request.sourceBrowserKind) : nullptr;
            for (const BrowserInfo& browser : browsers) {
                const bool isSource =
                    request.sourceType == 0 && static_cast<int32_t>(browser.kind) == request.sourceBrowserKind;
                if (isSource || !browser.detected) continue;
                if (source && SameFile(source->bookmarksPath, browser.bookmarksPath)) {
                    DestinationResult skipped;
                    skipped.name = browser.displayName;
                    skipped.message = L"Skipped: it uses the same bookmarks file as the source ('" +
                                      source->displayName + L"').";
                    Emit(log, L"[SKIP] " + skipped.name + L": " + skipped.message);
                    result.destinations.push_back(std::move(skipped));
                    continue;
                }
                result.destinations.push_back(SyncToBrowser(records, browser, replace, autoBackup, log));
            }
            break;
        }
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

        // What the write would change is worked out first: a write that changes nothing makes no
        // backup and leaves the file as it is. A Bookmarks file that changes between that plan and
        // the write is planned, backed up and written again, so that the change is neither written
        // over nor missing from the backup.
        const bool firefox = IsFirefox(browser);
        int skipped = 0;
        int added = -1;
        WriteShortfall shortfall;
        std::wstring writeError;
        for (int attempt = 0; added < 0; ++attempt) {
            ChromiumWritePlan plan;
            if (firefox) {
                int duplicates = 0;
                std::wstring refusal;
                // The merge's look-ahead also tells, for a replace, whether the writer would refuse.
                const int additions =
                    CountFirefoxMergeAdditions(browser.bookmarksPath, records, &duplicates, &shortfall, &refusal);
                // A write the writer would refuse gets no backup: it would push a sound one out of those kept.
                if (!refusal.empty()) return FailDestination(std::move(result), L"Write failed: " + refusal, log);
                if (!replace && additions == 0) {
                    const std::wstring words = ShortfallWords(shortfall, name, true);
                    return Unchanged(std::move(result), duplicates, shortfall.LeftOut(), words, replace, L"file",
                                     L"backup", log);
                }
            } else {
                std::wstring planError;
                if (!PlanChromiumWrite(browser.bookmarksPath, records, replace, plan, &planError))
                    return FailDestination(std::move(result), L"Write failed: " + planError, log);
                if (!plan.changes) {
                    RemoveLeftoverTemporaries(browser.bookmarksPath);  // what a killed write left beside it
                    const int leftOut = plan.shortfall.LeftOut();
                    const std::wstring words = ShortfallWords(plan.shortfall, name, false);
                    return Unchanged(std::move(result), static_cast<int>(records.size()) - leftOut, leftOut, words,
                                     replace, L"file", L"backup", log);
                }
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

            if (firefox) {
                added = WriteFirefoxBookmarks(browser.bookmarksPath, records, &skipped, &writeError, replace, &shortfall);
                break;
            }
            bool fileChanged = false;
            if (CommitChromiumWrite(browser.bookmarksPath, plan, &writeError, &fileChanged)) {
                added = plan.added;
                skipped = plan.skipped;
                shortfall = std::move(plan.shortfall);
            } else if (!fileChanged || attempt + 1 == kChromiumWriteAttempts) {
                break;
            } else {
                Emit(log, name + L": its bookmarks file changed while this write was prepared; planning it again.");
            }
        }
        if (added < 0) return FailDestination(std::move(result), L"Write failed: " + writeError, log);

        LogMoved(records, shortfall, name, log);
        result.ok = true;
        result.added = added;
        result.duplicatesSkipped = skipped;
        result.leftOut = shortfall.LeftOut();
        result.keptShallower = static_cast<int32_t>(shortfall.moved.size());
        result.message = CountsMessage(added, skipped, ShortfallWords(shortfall, name, firefox));
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
            // A write that would change nothing takes no snapshot.
            if (ProfileAlreadyHolds(db.GetBookmarks(profileId), records, replace))
                return Unchanged(std::move(result), static_cast<int>(records.size()), 0, L"", replace, L"profile",
                                 L"snapshot", log);
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

        // A replace clears and fills in one transaction, so a failure or a kill midway keeps the old set.
        // The records go as they are: every row is stored under profileId, whatever a record says.
        int skipped = 0;
        const int added = replace ? db.ReplaceBookmarks(profileId, records, &skipped)
                                  : db.AddBookmarks(profileId, records, &skipped);
        // A merge that stored nothing changed nothing, not even the profile's time.
        if (replace || added > 0) db.TouchProfile(profileId);

        result.ok = true;
        result.added = added;
        result.duplicatesSkipped = skipped;
        result.message = CountsMessage(added, skipped);
        if (!replace && added == 0) result.message += L" Nothing to add: the profile was left as it was.";
        Emit(log, L"[OK] " + result.name + L": " + result.message);
        return result;
    } catch (...) {
        return FailDestination(std::move(result), CurrentExceptionText(), log);
    }
}

}  // namespace bm
