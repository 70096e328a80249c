// Times the bookmark stores at 1k, 10k and 100k records against the floor of the same work done
// directly with the same libraries, and prints one table plus the peak memory.
//
//   scripts/bench            (all sizes)
//   scripts/bench 1000 10000 (chosen sizes)

#include <windows.h>
#include <psapi.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>

#include "bench/dataset.h"
#include "bench/explorer_bench.h"
#include "bench/timing.h"
#include "core/chromium_bookmarks.h"
#include "core/file_io.h"
#include "core/firefox_places.h"
#include "core/html_bookmarks.h"
#include "core/portable_export.h"
#include "core/sql_statement.h"
#include "database/app_database.h"
#include "tests/support/firefox_fixture.h"
#include "tests/support/temp_dir.h"

namespace bm::bench {
namespace {

using nlohmann::json;

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "bench: %s failed\n", what);
        std::exit(1);
    }
}

void Exec(sqlite3* db, const char* sql) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        std::fprintf(stderr, "bench: %s: %s\n", sql, message ? message : "");
        std::exit(1);
    }
}

void CopyOver(const std::wstring& from, const std::wstring& to) { Check(CopyFileW(from.c_str(), to.c_str(), FALSE), "copy"); }

// nlohmann parse plus dump of the document in `path`, with the file read and written as the store does.
void JsonParseDumpFloor(const std::wstring& path, const std::wstring& out) {
    std::string bytes;
    Check(ReadFileBytes(path, bytes), "read");
    const json document = json::parse(bytes);
    Check(WriteFileReplacing(out, document.dump(3, ' ', false, json::error_handler_t::strict)), "write");
}

// Inserts the records as Firefox places and bookmarks with one reused statement each, in one transaction.
void PlacesInsertFloor(const std::wstring& path, const std::vector<BookmarkRecord>& records) {
    sqlite3* db = nullptr;
    Check(sqlite3_open16(path.c_str(), &db) == SQLITE_OK, "open places");
    Exec(db, kWriteCacheSizePragma);  // the writer's own connection setting
    Exec(db, "BEGIN IMMEDIATE;");
    {
        Statement place = PrepareOrThrow(db,
            "INSERT INTO moz_places(url, title, rev_host, frecency, guid, url_hash, foreign_count) VALUES(?, ?, ?, -1, ?, ?, 1)");
        Statement bookmark = PrepareOrThrow(db,
            "INSERT INTO moz_bookmarks(type, fk, parent, position, title, dateAdded, lastModified, guid) "
            "VALUES(1, ?, 3, ?, ?, ?, ?, ?)");
        int position = 0;
        for (const BookmarkRecord& record : records) {
            const std::string url = ToUtf8(record.url);
            BindText(place, 1, url);
            BindText(place, 2, ToUtf8(record.title));
            BindText(place, 3, ReverseHost(record.url));
            BindText(place, 4, NewPlacesGuid());
            BindInt64(place, 5, PlacesUrlHash(url));
            StepRow(place);
            sqlite3_reset(place.get());
            BindInt64(bookmark, 1, sqlite3_last_insert_rowid(db));
            BindInt64(bookmark, 2, position++);
            BindText(bookmark, 3, ToUtf8(record.title));
            BindInt64(bookmark, 4, record.date_added * 1000000);
            BindInt64(bookmark, 5, record.date_added * 1000000);
            BindText(bookmark, 6, NewPlacesGuid());
            StepRow(bookmark);
            sqlite3_reset(bookmark.get());
        }
    }
    Exec(db, "COMMIT;");
    sqlite3_close(db);
}

// Inserts the records into a profile's bookmarks with one reused statement, in one transaction.
void ProfileInsertFloor(const std::wstring& path, int64_t profileId, const std::vector<BookmarkRecord>& records) {
    sqlite3* db = nullptr;
    Check(sqlite3_open16(path.c_str(), &db) == SQLITE_OK, "open app_data");
    Exec(db, kWriteCacheSizePragma);
    Exec(db, "BEGIN IMMEDIATE;");
    {
        Statement insert = PrepareOrThrow(
            db, "INSERT INTO bookmarks(profile_id, url, title, folder_path, date_added) VALUES(?, ?, ?, ?, ?)");
        for (const BookmarkRecord& record : records) {
            BindInt64(insert, 1, profileId);
            BindText(insert, 2, ToUtf8(NormalizeUrl(record.url)));
            BindText(insert, 3, ToUtf8(record.title));
            BindText(insert, 4, ToUtf8(record.folder_path));
            BindInt64(insert, 5, record.date_added);
            StepRow(insert);
            sqlite3_reset(insert.get());
        }
    }
    Exec(db, "COMMIT;");
    sqlite3_close(db);
}

void AddVisitedPlaces(const std::wstring& path, size_t count) {
    sqlite3* db = nullptr;
    Check(sqlite3_open16(path.c_str(), &db) == SQLITE_OK, "open places");
    Exec(db, kWriteCacheSizePragma);  // the writer's own connection setting
    Exec(db, "BEGIN IMMEDIATE;");
    {
        Statement place = PrepareOrThrow(
            db, "INSERT INTO moz_places(url, title, rev_host, visit_count, frecency, guid, url_hash) VALUES(?, ?, ?, 3, 100, ?, ?)");
        for (size_t i = 0; i < count; ++i) {
            const std::wstring url = L"https://visited.example.org/history/" + std::to_wstring(i);
            BindText(place, 1, ToUtf8(url));
            BindText(place, 2, "Visited " + std::to_string(i));
            BindText(place, 3, ReverseHost(url));
            BindText(place, 4, NewPlacesGuid());
            BindInt64(place, 5, PlacesUrlHash(ToUtf8(url)));
            StepRow(place);
            sqlite3_reset(place.get());
        }
    }
    Exec(db, "COMMIT;");
    sqlite3_close(db);
}

int Repetitions(size_t n) { return n >= 100000 ? 3 : 5; }

void BenchChromium(size_t n, const test::TempDir& dir, std::vector<Row>& rows) {
    const auto base = MakeBookmarks(n, 1);
    const auto incoming = MakeBookmarks(n, 2);
    const std::wstring baseFile = dir / L"Bookmarks.base";
    const std::wstring file = dir / L"Bookmarks";
    const std::wstring floorOut = dir / L"Bookmarks.floor";
    Check(WriteChromiumBookmarks(baseFile, base, nullptr, nullptr, true) >= 0, "chromium base");
    const int reps = Repetitions(n);

    Row read{"chromium read", n};
    read.ms = MedianMs(reps, nullptr, [&] { Check(!ReadChromiumBookmarks(baseFile, nullptr).empty(), "chromium read"); });
    read.floorMs = MedianMs(reps, nullptr, [&] {
        std::string bytes;
        Check(ReadFileBytes(baseFile, bytes), "read");
        Check(!json::parse(bytes).empty(), "parse");
    });
    rows.push_back(read);

    for (bool replace : {false, true}) {
        Row row{replace ? "chromium replace N in N" : "chromium merge N into N", n};
        row.ms = MedianMs(reps, [&] { CopyOver(baseFile, file); },
                          [&] { Check(WriteChromiumBookmarks(file, incoming, nullptr, nullptr, replace) > 0, "chromium write"); });
        // The floor: parse and dump the very document the store wrote.
        row.floorMs = MedianMs(reps, nullptr, [&] { JsonParseDumpFloor(file, floorOut); });
        rows.push_back(row);
    }
}

void BenchFirefox(size_t n, const test::TempDir& dir, std::vector<Row>& rows) {
    const auto base = MakeBookmarks(n, 3);
    const auto incoming = MakeBookmarks(n, 4);
    const std::wstring empty = dir / L"places.empty.sqlite";
    const std::wstring baseFile = dir / L"places.base.sqlite";
    const std::wstring file = dir / L"places.sqlite";
    test::PlacesFixtureOptions options;
    options.wal = false;
    test::CreateFirefoxPlaces(empty, options);
    CopyOver(empty, baseFile);
    std::wstring error;
    Check(WriteFirefoxBookmarks(baseFile, base, nullptr, &error, false) > 0, "firefox base");
    AddVisitedPlaces(baseFile, n);
    const int reps = Repetitions(n);

    Row read{"firefox read", n};
    read.ms = MedianMs(reps, nullptr, [&] { Check(!ReadFirefoxBookmarks(baseFile, nullptr).empty(), "firefox read"); });
    read.floorMs = MedianMs(reps, nullptr, [&] {
        sqlite3* db = nullptr;
        Check(sqlite3_open16(baseFile.c_str(), &db) == SQLITE_OK, "open");
        {
            Statement select = PrepareOrThrow(db,
                "SELECT b.id, b.parent, b.type, b.title, p.url FROM moz_bookmarks b LEFT JOIN moz_places p ON p.id = b.fk");
            size_t count = 0;
            while (StepRow(select)) {
                ColumnText(select, 3);
                ColumnText(select, 4);
                ++count;
            }
            Check(count > 0, "select");
        }
        sqlite3_close(db);
    });
    rows.push_back(read);

    for (bool replace : {false, true}) {
        Row row{replace ? "firefox replace N in N" : "firefox merge N into N", n};
        row.ms = MedianMs(reps, [&] { CopyOver(baseFile, file); }, [&] {
            Check(WriteFirefoxBookmarks(file, incoming, nullptr, &error, replace) > 0, "firefox write");
        });
        row.floorMs = MedianMs(reps, [&] { CopyOver(baseFile, file); }, [&] { PlacesInsertFloor(file, incoming); });
        rows.push_back(row);
    }
}

void BenchProfiles(size_t n, const test::TempDir& dir, std::vector<Row>& rows) {
    const auto base = MakeBookmarks(n, 5);
    const auto incoming = MakeBookmarks(n, 6);
    const std::wstring baseFile = dir / L"app_data.base.db";
    const std::wstring file = dir / L"app_data.db";
    int64_t profileId = 0;
    {
        AppDatabase database;
        Check(database.Open(baseFile), "open app_data");
        profileId = database.CreateProfile(L"Bench");
        database.AddBookmarks(profileId, base);
    }
    const int reps = Repetitions(n);

    Row add{"profile AddBookmarks N into N", n};
    add.ms = MedianMs(reps, [&] { CopyOver(baseFile, file); }, [&] {
        AppDatabase database;
        Check(database.Open(file), "open app_data");
        Check(database.AddBookmarks(profileId, incoming) > 0, "AddBookmarks");
    });
    add.floorMs = MedianMs(reps, [&] { CopyOver(baseFile, file); }, [&] { ProfileInsertFloor(file, profileId, incoming); });
    rows.push_back(add);

    Row snapshot{"profile CreateSnapshot", n};
    snapshot.ms = MedianMs(reps, [&] { CopyOver(baseFile, file); }, [&] {
        AppDatabase database;
        Check(database.Open(file), "open app_data");
        Check(database.CreateSnapshot(profileId, L"bench") > 0, "CreateSnapshot");
    });
    // The floor: the same rows read, dumped as JSON and stored as one row.
    snapshot.floorMs = MedianMs(reps, [&] { CopyOver(baseFile, file); }, [&] {
        sqlite3* db = nullptr;
        Check(sqlite3_open16(file.c_str(), &db) == SQLITE_OK, "open");
        json list = json::array();
        {
            Statement select = PrepareOrThrow(db, "SELECT url, title, folder_path, date_added FROM bookmarks WHERE profile_id = ?");
            BindInt64(select, 1, profileId);
            while (StepRow(select)) {
                list.push_back({{"url", ColumnText(select, 0)}, {"title", ColumnText(select, 1)},
                                {"folder_path", ColumnText(select, 2)}, {"date_added", ColumnInt64(select, 3)}});
            }
            Statement insert = PrepareOrThrow(db,
                "INSERT INTO profile_backups(profile_id, created_at, label, bookmark_count, snapshot_json) VALUES(?, 0, 'floor', ?, ?)");
            BindInt64(insert, 1, profileId);
            BindInt64(insert, 2, static_cast<int64_t>(list.size()));
            BindText(insert, 3, list.dump());
            StepRow(insert);
        }
        sqlite3_close(db);
    });
    rows.push_back(snapshot);

    std::wstring snapshotBase = dir / L"app_data.snap.db";
    int64_t snapshotId = 0;
    CopyOver(baseFile, snapshotBase);
    {
        AppDatabase database;
        Check(database.Open(snapshotBase), "open app_data");
        snapshotId = database.CreateSnapshot(profileId, L"bench");
    }
    Row restore{"profile RestoreSnapshot", n};
    restore.ms = MedianMs(reps, [&] { CopyOver(snapshotBase, file); }, [&] {
        AppDatabase database;
        Check(database.Open(file), "open app_data");
        std::wstring error;
        Check(database.RestoreSnapshot(snapshotId, &error), "RestoreSnapshot");
    });
    restore.floorMs = MedianMs(reps, [&] { CopyOver(snapshotBase, file); }, [&] { ProfileInsertFloor(file, profileId, base); });
    rows.push_back(restore);
}

void BenchPortable(size_t n, const test::TempDir& dir, std::vector<Row>& rows) {
    const auto records = MakeBookmarks(n, 7);
    const int reps = Repetitions(n);
    for (const wchar_t* extension : {L".json", L".html"}) {
        const bool isJson = std::wstring(extension) == L".json";
        const std::wstring file = dir / (std::wstring(L"export") + extension);
        const std::wstring copy = dir / (std::wstring(L"copy") + extension);
        Row exportRow{isJson ? "json export" : "html export", n};
        exportRow.ms = MedianMs(reps, nullptr, [&] { Check(ExportBookmarks(records, file, nullptr), "export"); });
        Row importRow{isJson ? "json import" : "html import", n};
        importRow.ms = MedianMs(reps, nullptr, [&] { Check(!ImportBookmarks(file, nullptr).empty(), "import"); });
        if (isJson) {
            exportRow.floorMs = MedianMs(reps, nullptr, [&] {
                json list = json::array();
                for (const BookmarkRecord& r : records)
                    list.push_back({{"url", ToUtf8(r.url)}, {"title", ToUtf8(r.title)}, {"folder_path", ToUtf8(r.folder_path)},
                                    {"date_added", r.date_added}});
                Check(WriteFileReplacing(copy, json{{"bookmarks", list}}.dump(2)), "write");
            });
            importRow.floorMs = MedianMs(reps, nullptr, [&] {
                std::string bytes;
                Check(ReadFileBytes(file, bytes), "read");
                Check(!json::parse(bytes).empty(), "parse");
            });
        } else {
            // Reading plus writing the same bytes.
            const double floorMs = MedianMs(reps, nullptr, [&] {
                std::string bytes;
                Check(ReadFileBytes(file, bytes), "read");
                Check(WriteFileReplacing(copy, bytes), "write");
            });
            exportRow.floorMs = floorMs;
            importRow.floorMs = floorMs;
        }
        rows.push_back(exportRow);
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
    for (int i = 1; i < argc; ++i) sizes.push_back(static_cast<size_t>(std::strtoull(argv[i], nullptr, 10)));
    if (sizes.empty()) sizes = {1000, 10000, 100000};

    std::vector<Row> rows;
    try {
        for (size_t n : sizes) {
            bm::test::TempDir dir;
            BenchChromium(n, dir, rows);
            BenchFirefox(n, dir, rows);
            BenchProfiles(n, dir, rows);
            BenchPortable(n, dir, rows);
            BenchExplorer(n, dir, rows);
            std::fprintf(stderr, "bench: %zu done\n", n);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench: %s\n", e.what());
        return 1;
    }
    std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a.operation < b.operation; });
    PrintTable(rows);

    // Growth from 10k to 100k: at most about linear (a ratio of 12 or less).
    std::map<std::string, std::map<size_t, double>> byOperation;
    for (const Row& row : rows) byOperation[row.operation][row.n] = row.ms;
    std::printf("\n%-34s %12s\n", "operation", "100k / 10k");
    for (const auto& [operation, times] : byOperation) {
        auto small = times.find(10000), large = times.find(100000);
        if (small != times.end() && large != times.end() && small->second > 0)
            std::printf("%-34s %12.2f\n", operation.c_str(), large->second / small->second);
    }
    std::printf("\npeak memory: %.1f MiB\n", PeakMemoryMiB());
    return 0;
}
