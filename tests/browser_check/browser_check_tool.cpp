// orv_browser_check: runs the program's own readers, writers, portable files and sync engine on
// paths given on the command line, with bookmark lists as JSON (UTF-8 arrays of objects holding
// url, title, folder_path, date_added). It prints one JSON object with the outcome on stdout and
// exits 0 when the command ran, 1 when it failed, 2 on a usage error.
//
//   write  chromium|firefox STORE RECORDS.json merge|replace   through SyncEngine::SyncToBrowser
//   read   chromium|firefox STORE OUT.json                     records in the reader's order
//   export RECORDS.json OUT.html|OUT.json                      ExportBookmarks
//   import IN.html|IN.json OUT.json                            ImportBookmarks
//   backup STORE                                               BackupFile: the backup's path
//   restore STORE BACKUP                                       RestoreFileBackup
//   roundtrip chromium|firefox SOURCE chromium|firefox DEST APP_DATA.db EXPORT.json|html
//       a saved profile in APP_DATA.db filled from SOURCE by a sync, written into DEST by a second
//       sync, and exported; the records the profile holds go to stdout.

#include <cstdio>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sync/sync_engine.h"
#include "core/bookmark_record.h"
#include "core/browsers.h"
#include "core/chromium_bookmarks.h"
#include "core/file_backup.h"
#include "core/file_io.h"
#include "core/firefox_places.h"
#include "core/portable_export.h"
#include "database/app_database.h"

namespace {

using nlohmann::json;

// No real browser of this name runs inside the tool's Wine prefix, so the engine's running checks pass.
constexpr wchar_t kNoProcess[] = L"orv-browser-check-none.exe";

json ToJson(const std::vector<bm::BookmarkRecord>& records) {
    json list = json::array();
    for (const bm::BookmarkRecord& r : records)
        list.push_back({{"url", bm::ToUtf8(r.url)},
                        {"title", bm::ToUtf8(r.title)},
                        {"folder_path", bm::ToUtf8(r.folder_path)},
                        {"date_added", r.date_added}});
    return list;
}

std::vector<bm::BookmarkRecord> LoadRecords(const std::wstring& path) {
    std::string bytes;
    if (!bm::ReadFileBytes(path, bytes)) throw std::runtime_error("cannot read " + bm::ToUtf8(path));
    std::vector<bm::BookmarkRecord> records;
    for (const json& item : json::parse(bytes)) {
        bm::BookmarkRecord r;
        r.url = bm::ToWide(item.value("url", ""));
        r.title = bm::ToWide(item.value("title", ""));
        r.folder_path = bm::ToWide(item.value("folder_path", ""));
        r.date_added = item.value("date_added", int64_t{0});
        records.push_back(std::move(r));
    }
    return records;
}

void SaveJson(const std::wstring& path, const json& value) {
    bm::FileWriteError error;
    if (!bm::WriteFileReplacing(path, value.dump(1, ' ', false, json::error_handler_t::replace), &error))
        throw std::runtime_error("cannot write " + bm::ToUtf8(path) + ": " + bm::ToUtf8(bm::DescribeWriteError(error)));
}

bool ParseKind(const std::wstring& word, bm::BrowserKind& kind) {
    if (word == L"chromium") kind = bm::BrowserKind::Chrome;
    else if (word == L"firefox") kind = bm::BrowserKind::Firefox;
    else return false;
    return true;
}

bm::BrowserInfo BrowserAt(bm::BrowserKind kind, const std::wstring& path) {
    bm::BrowserInfo info;
    info.kind = kind;
    info.displayName = bm::BrowserDisplayName(kind);
    info.bookmarksPath = path;
    info.profileDir = bm::ParentDirectory(path);
    info.exeName = kNoProcess;
    info.detected = true;
    info.hasCustomPath = true;
    return info;
}

json ResultJson(const bm::DestinationResult& d) {
    return {{"ok", d.ok}, {"added", d.added}, {"skipped", d.duplicatesSkipped}, {"left_out", d.leftOut}, {"message", bm::ToUtf8(d.message)}};
}

int Print(const json& out, bool ok) {
    const std::string text = out.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
    std::fwrite(text.data(), 1, text.size(), stdout);
    return ok ? 0 : 1;
}

int Write(const std::vector<std::wstring>& a) {
    bm::BrowserKind kind;
    if (a.size() != 5 || !ParseKind(a[1], kind) || (a[4] != L"merge" && a[4] != L"replace")) return 2;
    json log = json::array();
    const bm::DestinationResult d = bm::SyncEngine().SyncToBrowser(
        LoadRecords(a[3]), BrowserAt(kind, a[2]), a[4] == L"replace", false,
        [&log](const std::wstring& line) { log.push_back(bm::ToUtf8(line)); });
    json out = ResultJson(d);
    out["log"] = log;
    return Print(out, d.ok);
}

int Read(const std::vector<std::wstring>& a) {
    bm::BrowserKind kind;
    if (a.size() != 4 || !ParseKind(a[1], kind)) return 2;
    std::wstring error;
    const std::vector<bm::BookmarkRecord> records = kind == bm::BrowserKind::Firefox
                                                        ? bm::ReadFirefoxBookmarks(a[2], &error)
                                                        : bm::ReadChromiumBookmarks(a[2], &error);
    SaveJson(a[3], ToJson(records));
    return Print({{"count", records.size()}, {"error", bm::ToUtf8(error)}}, error.empty());
}

int Export(const std::vector<std::wstring>& a) {
    if (a.size() != 3) return 2;
    std::wstring error;
    const bool ok = bm::ExportBookmarks(LoadRecords(a[1]), a[2], &error);
    return Print({{"ok", ok}, {"error", bm::ToUtf8(error)}}, ok);
}

int Import(const std::vector<std::wstring>& a) {
    if (a.size() != 3) return 2;
    std::wstring error;
    const std::vector<bm::BookmarkRecord> records = bm::ImportBookmarks(a[1], &error);
    SaveJson(a[2], ToJson(records));
    return Print({{"count", records.size()}, {"error", bm::ToUtf8(error)}}, error.empty());
}

int Backup(const std::vector<std::wstring>& a) {
    if (a.size() != 2) return 2;
    std::wstring error;
    const std::optional<std::wstring> path = bm::BackupFile(a[1], &error);
    return Print({{"ok", path.has_value()}, {"path", bm::ToUtf8(path.value_or(L""))}, {"error", bm::ToUtf8(error)}},
                 path.has_value());
}

int Restore(const std::vector<std::wstring>& a) {
    if (a.size() != 3) return 2;
    std::wstring error;
    const bool ok = bm::RestoreFileBackup(a[1], a[2], &error);
    return Print({{"ok", ok}, {"error", bm::ToUtf8(error)}}, ok);
}

int RoundTrip(const std::vector<std::wstring>& a) {
    bm::BrowserKind sourceKind, destKind;
    if (a.size() != 7 || !ParseKind(a[1], sourceKind) || !ParseKind(a[3], destKind)) return 2;
    // The engine finds each store by its kind: a Chromium destination of a Chromium source is written as Edge.
    if (destKind == sourceKind) {
        if (destKind == bm::BrowserKind::Firefox) return 2;
        destKind = bm::BrowserKind::Edge;
    }
    const std::vector<bm::BrowserInfo> browsers{BrowserAt(sourceKind, a[2]), BrowserAt(destKind, a[4])};

    bm::AppDatabase db;
    if (!db.Open(a[5])) return Print({{"ok", false}, {"error", "cannot open the profile database"}}, false);
    json log = json::array();
    const auto logLine = [&log](const std::wstring& line) { log.push_back(bm::ToUtf8(line)); };
    const int64_t profileId = db.CreateProfile(L"browser check");

    bm::SyncRequest in;
    in.sourceType = 0;
    in.sourceBrowserKind = static_cast<int32_t>(sourceKind);
    in.destMode = 2;
    in.destProfileId = profileId;
    in.writeMode = 1;
    const bm::SyncResult first = bm::SyncEngine().RunSync(in, browsers, db, logLine);

    bm::SyncRequest out;
    out.sourceType = 1;
    out.sourceProfileId = profileId;
    out.sourceName = L"browser check";
    out.destMode = 0;
    out.destBrowserKind = static_cast<int32_t>(destKind);
    out.writeMode = 1;
    const bm::SyncResult second = bm::SyncEngine().RunSync(out, browsers, db, logLine);

    const std::vector<bm::BookmarkRecord> stored = db.GetBookmarks(profileId);
    std::wstring exportError;
    const bool exported = bm::ExportBookmarks(stored, a[6], &exportError);

    const bool ok = first.ok && second.ok && first.destinations.size() == 1 && first.destinations[0].ok &&
                    second.destinations.size() == 1 && second.destinations[0].ok && exported;
    json result = {{"ok", ok}, {"log", log}, {"profile", ToJson(stored)}, {"export_error", bm::ToUtf8(exportError)}};
    return Print(result, ok);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::vector<std::wstring> args(argv + 1, argv + argc);
    int code = 2;
    try {
        if (!args.empty()) {
            const std::wstring& command = args[0];
            if (command == L"write") code = Write(args);
            else if (command == L"read") code = Read(args);
            else if (command == L"export") code = Export(args);
            else if (command == L"import") code = Import(args);
            else if (command == L"backup") code = Backup(args);
            else if (command == L"restore") code = Restore(args);
            else if (command == L"roundtrip") code = RoundTrip(args);
        }
    } catch (const std::exception& e) {
        return Print({{"ok", false}, {"error", e.what()}}, false);
    }
    if (code == 2) std::fputs("usage: orv_browser_check write|read|export|import|backup|restore|roundtrip ...\n", stderr);
    return code;
}
