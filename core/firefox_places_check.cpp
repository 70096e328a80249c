#include "core/firefox_places_internal.h"

#include <sqlite3.h>

#include <filesystem>
#include <fstream>

#include "core/chromium_bookmarks.h"  // kDeepestFolderNesting
#include "core/sql_statement.h"
#include "core/sqlite_file_copy.h"

namespace bm {
namespace {

uint32_t BigEndian32(const unsigned char* bytes) {
    return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) | bytes[3];
}

}  // namespace

bool IsCorruption(sqlite3* db) { return (sqlite3_errcode(db) & 0xFF) == SQLITE_CORRUPT; }

bool CannotOpen(sqlite3* db) { return (sqlite3_errcode(db) & 0xFF) == SQLITE_CANTOPEN; }

std::wstring PlacesFailureText(sqlite3* db, const std::exception& failure, const std::wstring& outcome) {
    if (dynamic_cast<const TooDeepPlaces*>(&failure))
        return L"places.sqlite nests folders more than " + std::to_wstring(kDeepestFolderNesting) +
               L" levels deep, deeper than any browser writes; " + outcome;
    if (dynamic_cast<const DamagedDatabase*>(&failure))
        return L"places.sqlite is damaged (" + ToWide(failure.what()) + L"); " + outcome;
    if (IsCorruption(db)) return L"places.sqlite is damaged (" + ToWide(sqlite3_errmsg(db)) + L"); " + outcome;
    return ToWide(failure.what());
}

void CheckPlacesTables(sqlite3* db) {
    std::string problems;
    int count = 0;
    for (const char* table : {"moz_bookmarks", "moz_places"}) {
        Statement check = PrepareOrThrow(db, std::string("PRAGMA quick_check(") + table + ")");
        while (StepRow(check)) {
            const std::string line = ColumnText(check, 0);
            if (line == "ok") continue;
            if (count++ < 3) problems += (problems.empty() ? "" : "; ") + line;
        }
    }
    if (count > 0) throw DamagedDatabase(problems);
}

void CheckFileLength(const std::wstring& path) {
    if (HasWriteAheadLog(path)) return;
    std::error_code failed;
    const std::filesystem::path file(path);
    const uintmax_t size = std::filesystem::file_size(file, failed);
    if (failed) return;
    unsigned char header[100] = {};
    std::ifstream in(file, std::ios::binary);
    if (!in.read(reinterpret_cast<char*>(header), sizeof header)) return;
    if (std::string(reinterpret_cast<const char*>(header), 16) != std::string("SQLite format 3", 16)) return;
    const uint32_t pageSize = header[16] == 0 && header[17] == 1 ? 65536u : (uint32_t{header[16]} << 8) | header[17];
    const uint32_t pages = BigEndian32(header + 28);
    // The count is valid only when the file's change counter matches the one it was written with.
    if (pages == 0 || BigEndian32(header + 24) != BigEndian32(header + 92)) return;
    if (size < uintmax_t{pages} * pageSize) {
        throw DamagedDatabase("the file holds " + std::to_string(size / pageSize) + " of its " + std::to_string(pages) +
                              " pages");
    }
}

}  // namespace bm
