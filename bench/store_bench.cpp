// Times the bookmark stores and the work users wait on at 1k, 10k and 100k records against the floor
// of the same output made directly with the same libraries (bench/floors.h), and prints the table
// with each row's target, the growth from 10k to 100k and the peak memory.
//
//   scripts/bench            (all sizes)
//   scripts/bench 1000 10000 (chosen sizes)
//   scripts/bench 100000 portable profiles (chosen groups: chromium, firefox, profiles, portable, explorer, window;
//                                       the window group needs a display, which scripts/bench gives it)

#include <windows.h>
#include <psapi.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>

#include "sync/sync_engine.h"
#include "bench/dataset.h"
#include "bench/explorer_bench.h"
#include "bench/floors.h"
#include "bench/same_output.h"
#include "bench/timing.h"
#include "bench/window_bench.h"
#include "core/browser_process.h"
#include "core/browsers.h"
#include "core/chromium_bookmarks.h"
#include "core/file_backup.h"
#include "core/file_io.h"
#include "core/firefox_places.h"
#include "core/firefox_places_internal.h"
#include "core/portable_export.h"
#include "core/sql_statement.h"
#include "database/app_database.h"
#include "tests/support/firefox_fixture.h"
#include "tests/support/temp_dir.h"

namespace bm::bench {
namespace {

using nlohmann::json;

constexpr double kChromiumTarget = 1.5;  // Chromium, saved profiles, backups
constexpr double kFileTarget = 2.0;      // Firefox, JSON, HTML

void CopyOver(const std::wstring& from, const std::wstring& to) { Require(CopyFileW(from.c_str(), to.c_str(), FALSE), "copy"); }

// Even, so that the operation and its floor each run first equally often; at 100k a paired ratio
// varies little, at 10k and below one repetition is cheap.
int Repetitions(size_t n) { return n >= 100000 ? 8 : 12; }

std::string ReadText(const std::wstring& path) {
    std::string bytes;
    Require(ReadFileBytes(path, bytes), "read");
    return bytes;
}

std::string QueryText(const std::wstring& path, const char* sql) {
    sqlite3* db = nullptr;
    Require(sqlite3_open16(path.c_str(), &db) == SQLITE_OK, "open");
    std::string text;
    {
        Statement query = PrepareOrThrow(db, sql);
        if (StepRow(query)) text = ColumnText(query, 0);
    }
    sqlite3_close(db);
    return text;
}

// Places known only from history, as a browser that has been used for years has them.
void AddHistoryPlaces(const std::wstring& path, size_t count) {
    sqlite3* db = nullptr;
    Require(sqlite3_open16(path.c_str(), &db) == SQLITE_OK, "open places");
    ExecSql(db, kWriteCacheSizePragma);
    ExecSql(db, "BEGIN IMMEDIATE;");
    {
        Statement place = PrepareOrThrow(db,
            "INSERT INTO moz_places(url, title, rev_host, visit_count, frecency, guid, url_hash) VALUES(?, ?, ?, 3, 100, ?, ?)");
        for (size_t i = 0; i < count; ++i) {
            const std::wstring url = L"https://visited" + std::to_wstring(i % 5000) + L".example.org/history/" + std::to_wstring(i);
            const std::string utf8 = ToUtf8(url);
            BindText(place, 1, utf8);
            BindText(place, 2, "Visited " + std::to_string(i));
            BindText(place, 3, ReverseHost(url));
            BindText(place, 4, NewPlacesGuid());
            BindInt64(place, 5, PlacesUrlHash(utf8));
            StepRow(place);
            sqlite3_reset(place.get());
        }
    }
    ExecSql(db, "COMMIT;");
    sqlite3_close(db);
}

// The two quick checks the Firefox reader makes, run directly: true when both report only "ok".
bool PlacesQuickCheckFloor(const std::wstring& path) {
    sqlite3* db = nullptr;
    Require(sqlite3_open_v2(ToUtf8(path).c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK, "open");
    int problems = 0;
    const int result = sqlite3_exec(
        db, "PRAGMA quick_check(moz_bookmarks); PRAGMA quick_check(moz_places);",
        [](void* count, int, char** values, char**) {
            if (!values[0] || std::string(values[0]) != "ok") ++*static_cast<int*>(count);
            return 0;
        },
        &problems, nullptr);
    sqlite3_close(db);
    return result == SQLITE_OK && problems == 0;
}

// Overwrites the root page of the named index with bytes no b-tree page holds.
void BreakIndexPage(const std::wstring& path, const char* index) {
    sqlite3* db = nullptr;
    Require(sqlite3_open16(path.c_str(), &db) == SQLITE_OK, "open");
    int64_t page = 0, pageSize = 0;
    {
        Statement root = PrepareOrThrow(db, std::string("SELECT rootpage FROM sqlite_master WHERE name = '") + index + "'");
        Require(StepRow(root), "index root page");
        page = ColumnInt64(root, 0);
        Statement size = PrepareOrThrow(db, "PRAGMA page_size");
        Require(StepRow(size), "page size");
        pageSize = ColumnInt64(size, 0);
    }
    sqlite3_close(db);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    Require(file != INVALID_HANDLE_VALUE, "open for damage");
    LARGE_INTEGER at;
    at.QuadPart = (page - 1) * pageSize;
    const std::string junk(static_cast<size_t>(pageSize), '\x7f');
    DWORD written = 0;
    Require(SetFilePointerEx(file, at, nullptr, FILE_BEGIN) &&
                WriteFile(file, junk.data(), static_cast<DWORD>(junk.size()), &written, nullptr) && written == junk.size(),
            "write damage");
    CloseHandle(file);
}

// A saved profile holding `records`, in a file of its own.
int64_t MakeProfileFile(const std::wstring& path, const wchar_t* name, const std::vector<BookmarkRecord>& records) {
    AppDatabase database;
    Require(database.Open(path), "open app_data");
    const int64_t id = database.CreateProfile(name);
    database.AddBookmarks(id, records);
    return id;
}

BrowserInfo StandInBrowser(BrowserKind kind, const std::wstring& bookmarksPath) {
    BrowserInfo browser;
    browser.kind = kind;
    browser.displayName = BrowserDisplayName(kind);
    browser.bookmarksPath = bookmarksPath;
    browser.exeName = L"orvellane-bench-absent.exe";  // never running
    browser.detected = true;
    return browser;
}

// The whole job from a saved profile into one browser: the sync engine's load, running check,
// backup and merge, against the floor's same steps.
void BenchSyncJob(size_t n, const test::TempDir& dir, BrowserKind kind, const std::wstring& baseFile, const char* name,
                  double target, const std::string& without, std::vector<Row>& rows) {
    const bool firefox = kind == BrowserKind::Firefox;
    const std::wstring tag = firefox ? L"places" : L"chromium";
    const std::wstring profiles = dir / (L"app_data." + tag + L".sync.db");
    const int64_t profileId = MakeProfileFile(profiles, L"Source", MakeBookmarks(n, 11));
    const std::wstring opDir = dir / (L"sync-op-" + tag);
    const std::wstring floorDir = dir / (L"sync-floor-" + tag);
    CreateDirectoryW(opDir.c_str(), nullptr);
    CreateDirectoryW(floorDir.c_str(), nullptr);
    const std::wstring fileName = firefox ? L"places.sqlite" : L"Bookmarks";
    const std::wstring file = opDir + L"\\" + fileName;
    const std::wstring floorFile = floorDir + L"\\" + fileName;
    const int reps = Repetitions(n);

    AppDatabase database;
    Require(database.Open(profiles), "open app_data");
    const std::vector<BrowserInfo> browsers{StandInBrowser(kind, file)};
    SyncRequest request;
    request.sourceType = 1;
    request.sourceProfileId = profileId;
    request.sourceName = L"Source";
    request.destMode = 0;
    request.destBrowserKind = static_cast<int32_t>(kind);
    request.writeMode = 0;
    request.autoBackup = true;
    const SyncEngine engine;

    Row row{name, n};
    row.maxRatio = target;
    row.without = without;
    sqlite3* db = OpenProfileDatabase(profiles);
    // Each run starts from the base file with no backups beside it, so each run makes exactly one.
    auto fresh = [&baseFile](const std::wstring& target) {
        for (const FileBackupEntry& backup : ListFileBackups(target)) DeleteFileW(backup.path.c_str());
        CopyOver(baseFile, target);
    };
    TimePair(reps, [&] { fresh(file); }, [&] {
        const SyncResult result = engine.RunSync(request, browsers, database, [](const std::wstring&) {});
        Require(result.ok && result.destinations.size() == 1 && result.destinations[0].ok, name);
    },
                 [&] { fresh(floorFile); }, [&] {
        // The job's steps: load the profile, the running check, the backup copy, the merge.
        const std::vector<BookmarkRecord> records = GetBookmarksFloor(db, profileId);
        Require(!IsProcessRunning(browsers[0].exeName), "running check");
        Require(CopyFileW(floorFile.c_str(), MakeBackupPath(floorFile).c_str(), FALSE), "backup");
        if (firefox) FirefoxWriteFloor(floorFile, records, false);
        else ChromiumWriteFloor(floorFile, records, false);
    },
                 row);
    sqlite3_close(db);
    row.sameOutput = firefox ? SameRecords(ReadFirefoxBookmarks(file, nullptr), ReadFirefoxBookmarks(floorFile, nullptr), name)
                             : SameRecords(ReadChromiumBookmarks(file, nullptr), ReadChromiumBookmarks(floorFile, nullptr), name);
    row.sameOutput = row.sameOutput && ListFileBackups(file).size() == 1 && ListFileBackups(floorFile).size() == 1;
    rows.push_back(row);
}

void BenchChromium(size_t n, const test::TempDir& dir, std::vector<Row>& rows) {
    const auto base = MakeBookmarks(n, 1);
    const auto incoming = MakeBookmarks(n, 2);
    const std::wstring baseFile = dir / L"Bookmarks.base";
    const std::wstring file = dir / L"Bookmarks";
    const std::wstring floorFile = dir / L"Bookmarks.floor";
    Require(WriteChromiumBookmarks(baseFile, base, nullptr, nullptr, true) >= 0, "chromium base");
    const int reps = Repetitions(n);

    Row read{"chromium read", n};
    read.maxRatio = kChromiumTarget;
    std::vector<BookmarkRecord> opRecords, floorRecords;
    TimePair(reps, nullptr, [&] { opRecords = ReadChromiumBookmarks(baseFile, nullptr); },
                 nullptr, [&] { floorRecords = ChromiumReadFloor(baseFile); },
                 read);
    read.sameOutput = SameRecords(opRecords, floorRecords, "chromium read");
    rows.push_back(read);

    for (bool replace : {false, true}) {
        Row row{replace ? "chromium replace N in N" : "chromium merge N into N", n};
        row.maxRatio = kChromiumTarget;
        TimePair(reps, [&] { CopyOver(baseFile, file); },
                     [&] { Require(WriteChromiumBookmarks(file, incoming, nullptr, nullptr, replace) > 0, "chromium write"); },
                     [&] { CopyOver(baseFile, floorFile); }, [&] { ChromiumWriteFloor(floorFile, incoming, replace); },
                     row);
        row.sameOutput = SameRecords(ReadChromiumBookmarks(file, nullptr), ReadChromiumBookmarks(floorFile, nullptr), row.operation.c_str());
        rows.push_back(row);
    }

    BenchSyncJob(n, dir, BrowserKind::Chrome, baseFile, "chromium sync job (backup + merge)", kChromiumTarget, "", rows);

    // The backups list the panel reads on every frame, with 20 backups beside the file.
    const std::wstring backupDir = dir / L"backups";
    CreateDirectoryW(backupDir.c_str(), nullptr);
    const std::wstring backedUp = backupDir + L"\\Bookmarks";
    CopyOver(baseFile, backedUp);
    for (int i = 0; i < 20; ++i) {
        const LocalDateTime at{2026, 1 + i % 12, 1 + i, 8, i, 30};
        CopyOver(backedUp, MakeBackupPathAt(backedUp, at));
    }
    constexpr int kCalls = 50;
    Row list{"backups list, 20 backups (per call)", n};
    list.maxRatio = kChromiumTarget;
    std::vector<FileBackupEntry> opEntries, floorEntries;
    TimePair(reps, nullptr, [&] {
        for (int i = 0; i < kCalls; ++i) opEntries = ListFileBackups(backedUp);
    },
                 nullptr, [&] {
        for (int i = 0; i < kCalls; ++i) floorEntries = BackupListFloor(backedUp);
    },
                 list);
    for (double& ms : list.times) ms /= kCalls;
    for (double& ms : list.floorTimes) ms /= kCalls;
    list.ms /= kCalls;
    list.floorMs /= kCalls;
    list.sameOutput = opEntries.size() == 20 && SameBackups(opEntries, floorEntries);
    rows.push_back(list);
}

void BenchFirefox(size_t n, const test::TempDir& dir, std::vector<Row>& rows) {
    const auto base = MakeBookmarks(n, 3);
    const auto incoming = MakeBookmarks(n, 4);
    const std::wstring baseFile = dir / L"places.base.sqlite";
    const std::wstring historyFile = dir / L"places.history.sqlite";
    const std::wstring file = dir / L"places.sqlite";
    const std::wstring floorFile = dir / L"places.floor.sqlite";
    test::PlacesFixtureOptions options;
    options.wal = false;
    test::CreateFirefoxPlaces(baseFile, options);
    std::wstring error;
    Require(WriteFirefoxBookmarks(baseFile, base, nullptr, &error, false) > 0, "firefox base");
    CopyOver(baseFile, historyFile);
    AddHistoryPlaces(historyFile, 3 * n);
    const int reps = Repetitions(n);
    // What the writer's bookkeeping leaves, beyond the bookmarks themselves.
    const char* placesCheck =
        "SELECT (SELECT COUNT(*) || ' ' || TOTAL(foreign_count) || ' ' || TOTAL(frecency) || ' ' || TOTAL(hidden) || ' ' || "
        "TOTAL(recalc_frecency) || ' ' || TOTAL(recalc_alt_frecency) || ' ' || COUNT(origin_id) || ' ' || TOTAL(length(rev_host)) FROM moz_places) || ' ' || "
        "(SELECT COUNT(*) || ' ' || TOTAL(recalc_frecency) FROM moz_origins) || ' ' || "
        "(SELECT COUNT(*) || ' ' || TOTAL(syncChangeCounter) || ' ' || TOTAL(syncStatus) FROM moz_bookmarks)";

    // Each piece of work is timed with and without history in the same repetitions (operation and
    // floor of both), so that the factor between them is paired as each ratio is.
    auto timeWithHistory = [&](Row& plain, Row& history, const Task& op, const Task& floor, const Task& historyOp,
                               const Task& historyFloor) {
        const auto times = TimeTogether(reps, {op, floor, historyOp, historyFloor});
        plain.times = times[0];
        plain.floorTimes = times[1];
        history.times = times[2];
        history.floorTimes = times[3];
        history.withoutTimes = times[0];
        for (Row* row : {&plain, &history}) {
            row->ms = Median(row->times);
            row->floorMs = Median(row->floorTimes);
        }
    };
    {
        Row read{"firefox read", n}, historyRead{"firefox read, 3N history", n};
        read.maxRatio = historyRead.maxRatio = kFileTarget;
        historyRead.without = read.operation;
        // The read has SQLite check every page of moz_places, the history's included, so that damage
        // there is refused rather than read as fewer bookmarks: that check grows with the history (its
        // own row below), the rest of the read does not.
        historyRead.maxHistoryFactor = 3;
        std::vector<BookmarkRecord> opRecords, floorRecords, historyRecords, historyFloorRecords;
        timeWithHistory(read, historyRead, {nullptr, [&] { opRecords = ReadFirefoxBookmarks(baseFile, nullptr); }},
                        {nullptr, [&] { floorRecords = FirefoxReadFloor(baseFile); }},
                        {nullptr, [&] { historyRecords = ReadFirefoxBookmarks(historyFile, nullptr); }},
                        {nullptr, [&] { historyFloorRecords = FirefoxReadFloor(historyFile); }});
        read.sameOutput = !opRecords.empty() && SameRecords(opRecords, floorRecords, read.operation.c_str());
        historyRead.sameOutput =
            !historyRecords.empty() && SameRecords(historyRecords, historyFloorRecords, historyRead.operation.c_str());
        rows.push_back(read);
        rows.push_back(historyRead);
    }
    {
        Row merge{"firefox merge N into N", n}, historyMerge{"firefox merge N into N, 3N history", n};
        merge.maxRatio = historyMerge.maxRatio = kFileTarget;
        historyMerge.without = merge.operation;
        const std::wstring historyCopy = dir / L"places.history.op.sqlite";
        const std::wstring historyFloorCopy = dir / L"places.history.floor.sqlite";
        auto write = [&](const std::wstring& target) {
            Require(WriteFirefoxBookmarks(target, incoming, nullptr, &error, false) > 0, "firefox write");
        };
        timeWithHistory(merge, historyMerge, {[&] { CopyOver(baseFile, file); }, [&] { write(file); }},
                        {[&] { CopyOver(baseFile, floorFile); }, [&] { FirefoxWriteFloor(floorFile, incoming, false); }},
                        {[&] { CopyOver(historyFile, historyCopy); }, [&] { write(historyCopy); }},
                        {[&] { CopyOver(historyFile, historyFloorCopy); },
                         [&] { FirefoxWriteFloor(historyFloorCopy, incoming, false); }});
        auto same = [&](const std::wstring& a, const std::wstring& b, const char* what) {
            return SameRecords(ReadFirefoxBookmarks(a, nullptr), ReadFirefoxBookmarks(b, nullptr), what) &&
                   SameText(QueryText(a, placesCheck), QueryText(b, placesCheck), what);
        };
        merge.sameOutput = same(file, floorFile, merge.operation.c_str());
        historyMerge.sameOutput = same(historyCopy, historyFloorCopy, historyMerge.operation.c_str());
        rows.push_back(merge);
        rows.push_back(historyMerge);
    }
    {
        Row row{"firefox replace N in N", n};
        row.maxRatio = kFileTarget;
        TimePair(reps, [&] { CopyOver(baseFile, file); },
                 [&] { Require(WriteFirefoxBookmarks(file, incoming, nullptr, &error, true) > 0, "firefox write"); },
                 [&] { CopyOver(baseFile, floorFile); }, [&] { FirefoxWriteFloor(floorFile, incoming, true); }, row);
        row.sameOutput =
            SameRecords(ReadFirefoxBookmarks(file, nullptr), ReadFirefoxBookmarks(floorFile, nullptr), row.operation.c_str()) &&
            SameText(QueryText(file, placesCheck), QueryText(floorFile, placesCheck), row.operation.c_str());
        rows.push_back(row);
    }

    {
        // The reader's damage check alone (SQLite's quick_check of the two tables it reads, with their
        // indexes), against the same two checks run straight through sqlite3_exec. The output is the
        // verdict: both must find the file sound, and both must find a copy with a broken index damaged.
        Row check{"firefox read's damage check, 3N history", n};
        check.maxRatio = kFileTarget;
        auto programSays = [](const std::wstring& path) {
            sqlite3* db = nullptr;
            Require(sqlite3_open_v2(ToUtf8(path).c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK, "open");
            bool sound = true;
            try {
                CheckPlacesTables(db);
            } catch (const std::exception&) {
                sound = false;
            }
            sqlite3_close(db);
            return sound;
        };
        bool opSound = false, floorSound = false;
        TimePair(reps, nullptr, [&] { opSound = programSays(historyFile); }, nullptr,
                 [&] { floorSound = PlacesQuickCheckFloor(historyFile); }, check);
        const std::wstring damaged = dir / L"places.damaged.sqlite";
        CopyOver(historyFile, damaged);
        BreakIndexPage(damaged, "moz_places_url_hashindex");
        check.sameOutput = opSound && floorSound && !programSays(damaged) && !PlacesQuickCheckFloor(damaged);
        if (!check.sameOutput) std::fprintf(stderr, "bench: the floor of the damage check gives another verdict\n");
        rows.push_back(check);
    }

    BenchSyncJob(n, dir, BrowserKind::Firefox, historyFile, "firefox sync job (backup + merge), 3N history", kFileTarget, "",
                 rows);
}

void BenchProfiles(size_t n, const test::TempDir& dir, std::vector<Row>& rows) {
    const auto incoming = MakeBookmarks(n, 6);
    const std::wstring baseFile = dir / L"app_data.base.db";
    const std::wstring file = dir / L"app_data.db";
    const std::wstring floorFile = dir / L"app_data.floor.db";
    const int64_t profileId = MakeProfileFile(baseFile, L"Bench", MakeBookmarks(n, 5));
    int64_t otherId = 0;
    {
        AppDatabase database;
        Require(database.Open(baseFile), "open app_data");
        otherId = database.CreateProfile(L"Other");
        database.AddBookmarks(otherId, MakeBookmarks(n, 8));
    }
    const int reps = Repetitions(n);

    // The operation on an open database and the floor on an open connection; each setup puts the
    // base file back first.
    AppDatabase database;
    sqlite3* db = nullptr;
    auto fresh = [&] {
        database.Close();
        CopyOver(baseFile, file);
        Require(database.Open(file), "open app_data");
        // The check of the file's pages runs beside the window at start; the rows time the operation.
        database.WaitForFileCheck();
    };
    auto freshFloor = [&] {
        if (db) sqlite3_close(db);
        CopyOver(baseFile, floorFile);
        db = OpenProfileDatabase(floorFile);
    };
    auto bookmarksOf = [](const std::wstring& path, int64_t id) {
        AppDatabase reader;
        Require(reader.Open(path), "open app_data");
        return reader.GetBookmarks(id);
    };
    const char* latestSnapshot = "SELECT snapshot_json FROM profile_backups ORDER BY id DESC LIMIT 1";
    const char* snapshotCount = "SELECT COUNT(*) FROM profile_backups";

    std::vector<BookmarkRecord> opRecords;
    {
        Row row{"profile GetBookmarks", n};
        row.maxRatio = kChromiumTarget;
        fresh();
        freshFloor();
        std::vector<BookmarkRecord> floorRecords;
        TimePair(reps, nullptr, [&] { opRecords = database.GetBookmarks(profileId); },
                     nullptr, [&] { floorRecords = GetBookmarksFloor(db, profileId); },
                     row);
        row.sameOutput = opRecords.size() == floorRecords.size() && SameRecords(opRecords, floorRecords, "GetBookmarks", {true, true});
        rows.push_back(row);
    }
    {
        Row row{"profile CountBookmarks", n};
        row.maxRatio = kChromiumTarget;
        int64_t opCount = -1, floorCount = -2;
        TimePair(reps, nullptr, [&] { opCount = database.CountBookmarks(profileId); },
                     nullptr, [&] {
                         Statement count = PrepareOrThrow(db, "SELECT COUNT(*) FROM bookmarks WHERE profile_id = ?");
                         BindInt64(count, 1, profileId);
                         Require(StepRow(count), "count");
                         floorCount = ColumnInt64(count, 0);
                     },
                     row);
        row.sameOutput = opCount == floorCount && opCount == static_cast<int64_t>(opRecords.size());
        rows.push_back(row);
    }
    {
        Row row{"profile AddBookmarks N into N", n};
        row.maxRatio = kChromiumTarget;
        TimePair(reps, fresh, [&] { Require(database.AddBookmarks(profileId, incoming) > 0, "AddBookmarks"); },
                     freshFloor, [&] { Require(AddBookmarksFloor(db, profileId, incoming) > 0, "insert"); },
                     row);
        row.sameOutput = SameRecords(bookmarksOf(file, profileId), bookmarksOf(floorFile, profileId), "AddBookmarks");
        rows.push_back(row);
    }
    {
        Row row{"profile CreateSnapshot", n};
        row.maxRatio = kChromiumTarget;
        TimePair(reps, fresh, [&] { Require(database.CreateSnapshot(profileId, L"bench") > 0, "CreateSnapshot"); },
                     freshFloor, [&] { CreateSnapshotFloor(db, profileId, "bench"); },
                     row);
        row.sameOutput = SameText(QueryText(file, latestSnapshot), QueryText(floorFile, latestSnapshot), "CreateSnapshot");
        rows.push_back(row);
    }
    {
        // The snapshot to restore is in the base file, so every run restores the same one.
        int64_t snapshotId = 0;
        {
            AppDatabase writer;
            Require(writer.Open(baseFile), "open app_data");
            snapshotId = writer.CreateSnapshot(profileId, L"bench");
            writer.AddBookmarks(profileId, incoming);  // the restore then really changes the profile
        }
        Row row{"profile RestoreSnapshot", n};
        row.maxRatio = kChromiumTarget;
        TimePair(reps, fresh, [&] {
            std::wstring error;
            Require(database.RestoreSnapshot(snapshotId, &error), "RestoreSnapshot");
        },
                     freshFloor, [&] { RestoreSnapshotFloor(db, snapshotId); },
                     row);
        row.sameOutput = SameRecords(bookmarksOf(file, profileId), bookmarksOf(floorFile, profileId), "RestoreSnapshot") &&
                         SameText(QueryText(file, snapshotCount), QueryText(floorFile, snapshotCount), "RestoreSnapshot") &&
                         SameText(QueryText(file, latestSnapshot), QueryText(floorFile, latestSnapshot), "RestoreSnapshot");
        rows.push_back(row);
    }
    {
        Row row{"profile copy N over N (sync job)", n};
        row.maxRatio = kChromiumTarget;
        SyncRequest request;
        request.sourceType = 1;
        request.sourceProfileId = otherId;
        request.sourceName = L"Other";
        request.destMode = 2;
        request.destProfileId = profileId;
        request.writeMode = 1;
        request.autoBackup = true;
        const SyncEngine engine;
        const std::vector<BrowserInfo> browsers;
        TimePair(reps, fresh, [&] {
            const SyncResult result = engine.RunSync(request, browsers, database, [](const std::wstring&) {});
            Require(result.ok && result.destinations.size() == 1 && result.destinations[0].ok, "profile copy");
        },
                     freshFloor, [&] { ProfileCopyFloor(db, otherId, profileId); },
                     row);
        row.sameOutput = SameRecords(bookmarksOf(file, profileId), bookmarksOf(floorFile, profileId), "profile copy") &&
                         SameText(QueryText(file, latestSnapshot), QueryText(floorFile, latestSnapshot), "profile copy");
        rows.push_back(row);
    }
    database.Close();
    if (db) sqlite3_close(db);
}

void BenchPortable(size_t n, const test::TempDir& dir, std::vector<Row>& rows) {
    const auto records = MakeBookmarks(n, 7);
    const int reps = Repetitions(n);
    for (const wchar_t* extension : {L".json", L".html"}) {
        const bool isJson = std::wstring(extension) == L".json";
        const std::wstring file = dir / (std::wstring(L"export") + extension);
        const std::wstring floorFile = dir / (std::wstring(L"floor") + extension);
        Row exportRow{isJson ? "json export" : "html export", n};
        exportRow.maxRatio = kFileTarget;
        TimePair(reps, nullptr, [&] { Require(ExportBookmarks(records, file, nullptr), "export"); },
                     nullptr, [&] {
            if (isJson) JsonExportFloor(records, floorFile);
            else HtmlExportFloor(records, floorFile);
        },
                     exportRow);
        if (isJson) {
            json written = json::parse(ReadText(file)), floorWritten = json::parse(ReadText(floorFile));
            written.erase("exported_at");
            floorWritten.erase("exported_at");
            exportRow.sameOutput = SameText(written.dump(), floorWritten.dump(), "json export");
        } else {
            exportRow.sameOutput = SameText(ReadText(file), ReadText(floorFile), "html export");
        }
        rows.push_back(exportRow);

        Row importRow{isJson ? "json import" : "html import", n};
        importRow.maxRatio = kFileTarget;
        std::vector<BookmarkRecord> opRecords, floorRecords;
        TimePair(reps, nullptr, [&] { opRecords = ImportBookmarks(file, nullptr); },
                     nullptr, [&] { floorRecords = isJson ? JsonImportFloor(file) : HtmlImportFloor(file); },
                     importRow);
        importRow.sameOutput = !opRecords.empty() && SameRecords(opRecords, floorRecords, importRow.operation.c_str());
        rows.push_back(importRow);
    }
}

double PeakMemoryMiB() {
    PROCESS_MEMORY_COUNTERS counters{};
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return static_cast<double>(counters.PeakWorkingSetSize) / (1024.0 * 1024.0);
}

}  // namespace
}  // namespace bm::bench

int main(int argc, char** argv) {
    using namespace bm::bench;
    std::vector<size_t> sizes;
    std::vector<std::string> groups;  // chromium, firefox, profiles, portable, explorer, window; all when none is named
    for (int i = 1; i < argc; ++i) {
        if (argv[i][0] >= '0' && argv[i][0] <= '9') sizes.push_back(static_cast<size_t>(std::strtoull(argv[i], nullptr, 10)));
        else groups.push_back(argv[i]);
    }
    if (sizes.empty()) sizes = {1000, 10000, 100000};
    auto chosen = [&groups](const char* group) {
        return groups.empty() || std::find(groups.begin(), groups.end(), group) != groups.end();
    };

    std::vector<Row> rows;
    try {
        for (size_t n : sizes) {
            bm::test::TempDir dir;
            // How long each group takes, set-up included, for planning a run.
            auto run = [&](const char* group, void (*bench)(size_t, const bm::test::TempDir&, std::vector<Row>&)) {
                if (!chosen(group)) return;
                const auto start = std::chrono::steady_clock::now();
                bench(n, dir, rows);
                std::fprintf(stderr, "bench: %s at %zu took %.0f s\n", group, n,
                             std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
            };
            run("chromium", BenchChromium);
            run("firefox", BenchFirefox);
            run("profiles", BenchProfiles);
            run("portable", BenchPortable);
            run("explorer", BenchExplorer);
            run("window", BenchWindow);
            std::fprintf(stderr, "bench: %zu done\n", n);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench: %s\n", e.what());
        return 1;
    }
    PrintTables(rows);
    std::printf("\npeak memory: %.1f MiB\n", PeakMemoryMiB());
    bool allSame = true;
    for (const Row& row : rows) allSame = allSame && row.sameOutput;
    return allSame ? 0 : 2;
}
