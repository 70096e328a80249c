// Writes one kind of bookmark store again and again until it is killed, for the kill trials: the
// test ends it with TerminateProcess at some moment and then checks what the store holds.
//
//   orv_kill_writer KIND PATH COUNT loop READY-EVENT
//       writes set B, then A, B, A, ... (replacing the whole content each time) until killed; sets the
//       named event once the first write is complete
//   orv_kill_writer KIND PATH COUNT once
//       writes set B once and exits
//
// KIND: chromium (a Bookmarks file), firefox (places.sqlite), json / html (an export file), profile
// (the saved profile "Trial" in app_data.db, replaced), snapshot (a snapshot of that profile taken) or
// backup (a backup of the file made beside it, as before a sync; no set is written).
// Set A holds COUNT bookmarks https://a.example/N, set B COUNT bookmarks https://b.example/N.
// Exit code 0 after "once", 1 when a write fails (the reason on stderr), 2 for wrong arguments.

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/bookmark_record.h"
#include "core/chromium_bookmarks.h"
#include "core/file_backup.h"
#include "core/firefox_places.h"
#include "core/html_bookmarks.h"
#include "core/portable_export.h"
#include "database/app_database.h"

namespace {

std::vector<bm::BookmarkRecord> TrialSet(wchar_t letter, int count) {
    std::vector<bm::BookmarkRecord> records;
    records.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        bm::BookmarkRecord record;
        record.url = std::wstring(L"https://") + letter + L".example/" + std::to_wstring(i);
        record.title = std::wstring(1, letter) + L" " + std::to_wstring(i);
        record.folder_path = L"Bookmarks bar/Trial/" + std::to_wstring(i % 50);
        record.date_added = 1700000000 + i;
        records.push_back(std::move(record));
    }
    return records;
}

int64_t TrialProfile(bm::AppDatabase& db) {
    for (const bm::ProfileRecord& profile : db.ListProfiles())
        if (profile.name == L"Trial") return profile.id;
    throw std::runtime_error("no profile named Trial");
}

// One write of the set; throws with the reason when it fails.
void WriteOnce(const std::wstring& kind, const std::wstring& path, const std::vector<bm::BookmarkRecord>& set,
               bm::AppDatabase* db) {
    std::wstring error;
    int skipped = 0;
    bool ok = true;
    if (kind == L"chromium")
        ok = bm::WriteChromiumBookmarks(path, set, &skipped, &error, true) >= 0;
    else if (kind == L"firefox")
        ok = bm::WriteFirefoxBookmarks(path, set, &skipped, &error, true) >= 0;
    else if (kind == L"json")
        ok = bm::ExportJson(set, path, &error);
    else if (kind == L"html")
        ok = bm::ExportHtml(set, path, &error);
    else if (kind == L"profile")
        db->ReplaceBookmarks(TrialProfile(*db), set);
    else if (kind == L"snapshot")
        db->CreateSnapshot(TrialProfile(*db), L"Kill trial");
    else if (kind == L"backup")
        ok = bm::BackupFile(path, &error).has_value();
    else
        throw std::invalid_argument("unknown kind");
    if (!ok) throw std::runtime_error(bm::ToUtf8(error));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 5) {
        std::fwprintf(stderr, L"usage: orv_kill_writer KIND PATH COUNT loop READY-EVENT | once\n");
        return 2;
    }
    const std::wstring kind = argv[1], path = argv[2], mode = argv[4];
    const int count = _wtoi(argv[3]);
    const bool loop = mode == L"loop";
    if (count <= 0 || (!loop && mode != L"once") || (loop && argc < 6)) return 2;
    try {
        bm::AppDatabase db;
        const bool usesDatabase = kind == L"profile" || kind == L"snapshot";
        std::wstring openError;
        if (usesDatabase && !db.Open(path, &openError)) throw std::runtime_error(bm::ToUtf8(openError));
        const std::vector<bm::BookmarkRecord> sets[2] = {TrialSet(L'b', count), TrialSet(L'a', count)};
        WriteOnce(kind, path, sets[0], usesDatabase ? &db : nullptr);
        if (!loop) return 0;
        HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[5]);
        if (!ready) throw std::runtime_error("no ready event");
        SetEvent(ready);
        CloseHandle(ready);
        for (unsigned n = 1;; ++n) WriteOnce(kind, path, sets[n % 2], usesDatabase ? &db : nullptr);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "write failed: %s\n", e.what());
        return 1;
    }
}
