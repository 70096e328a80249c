#include "core/firefox_places_internal.h"

#include <sqlite3.h>
#include <windows.h>

#include <new>

#include <filesystem>
#include <fstream>

#include "core/sql_statement.h"
#include "core/sqlite_file_copy.h"

namespace bm {
namespace {

uint32_t BigEndian32(const unsigned char* bytes) {
    return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) | bytes[3];
}

}  // namespace

bool CannotOpen(sqlite3* db) { return (sqlite3_errcode(db) & 0xFF) == SQLITE_CANTOPEN; }

namespace {

constexpr char kPrepareFailed[] = "SQL prepare failed: ";
constexpr char kStepFailed[] = "SQL step failed: ";

bool StartsWith(const std::string& text, const char* head) { return text.rfind(head, 0) == 0; }

// SQLite's own message in a statement wrapper's exception, without the statement.
std::string SqliteMessage(const std::string& text) {
    std::string message = StartsWith(text, kPrepareFailed) ? text.substr(sizeof kPrepareFailed - 1)
                                                           : text.substr(sizeof kStepFailed - 1);
    const size_t statement = message.find(" :: ");
    return statement == std::string::npos ? message : message.substr(0, statement);
}

// The SQLite result code behind a statement wrapper's exception on `db`.
int SqliteCode(sqlite3* db, const std::string& message) {
    const int code = sqlite3_errcode(db) & 0xFF;
    if (code != SQLITE_OK && code != SQLITE_ROW && code != SQLITE_DONE) return code;
    // The statements finalized while the exception left their scope may have cleared the
    // connection's code; the message still names it.
    for (const int known : {SQLITE_BUSY, SQLITE_LOCKED, SQLITE_READONLY, SQLITE_CANTOPEN, SQLITE_CORRUPT, SQLITE_NOTADB,
                            SQLITE_FULL, SQLITE_IOERR, SQLITE_PERM, SQLITE_NOMEM})
        if (message == sqlite3_errstr(known)) return known;
    return SQLITE_ERROR;
}

}  // namespace

std::wstring PlacesFailureText(sqlite3* db, const std::exception& failure, const std::wstring& outcome) {
    if (dynamic_cast<const TooDeepPlaces*>(&failure))
        return L"places.sqlite nests folders more than " + std::to_wstring(kDeepestFolderNesting) +
               L" levels deep, deeper than any browser writes; " + outcome;
    if (dynamic_cast<const OverlongPlacesPaths*>(&failure))
        return L"places.sqlite has folder paths longer than any browser keeps (over " +
               std::to_wstring(kMaxFolderPathLength) + L" characters, or more in all than the file could hold); " +
               outcome;
    if (dynamic_cast<const DamagedDatabase*>(&failure))
        return L"places.sqlite is damaged (" + ToWide(failure.what()) + L"); " + outcome;
    if (dynamic_cast<const std::bad_alloc*>(&failure)) return L"There is not enough memory; " + outcome;
    const std::string text = failure.what();
    if (!StartsWith(text, kPrepareFailed) && !StartsWith(text, kStepFailed)) return ToWide(text);
    const std::string message = SqliteMessage(text);
    switch (SqliteCode(db, message)) {
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return L"places.sqlite is in use by another program (Firefox holds it while it runs); " + outcome;
        case SQLITE_READONLY:
        case SQLITE_PERM:
            return L"places.sqlite may not be written (the file or its folder is read-only); " + outcome;
        case SQLITE_CANTOPEN:
            return L"places.sqlite cannot be opened (no access to it or to its folder); " + outcome;
        case SQLITE_CORRUPT:
            return L"places.sqlite is damaged (" + ToWide(message) + L"); " + outcome;
        case SQLITE_NOTADB:
            return L"places.sqlite is damaged (it is not a database); " + outcome;
        case SQLITE_FULL:
            return L"The disk is full; " + outcome;
        case SQLITE_NOMEM:
            return L"There is not enough memory; " + outcome;
        case SQLITE_IOERR:
            return L"places.sqlite could not be read or written (a disk error); " + outcome;
        case SQLITE_CONSTRAINT:
            return L"places.sqlite refused the change (" + ToWide(message) + L"); " + outcome;
        default:
            return L"places.sqlite does not hold Firefox's bookmarks as Firefox keeps them (" + ToWide(message) + L"); " +
                   outcome;
    }
}

std::wstring PlacesOpenFailureText(const std::wstring& path, const std::wstring& outcome) {
    const size_t slash = path.find_last_of(L"\\/");
    const std::wstring folder = slash == std::wstring::npos ? std::wstring(L".") : path.substr(0, slash);
    const DWORD file = GetFileAttributesW(path.c_str());
    if (file == INVALID_FILE_ATTRIBUTES) {
        if (GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES)
            return L"The folder of places.sqlite was not found (" + folder + L").";
        return L"places.sqlite was not found in " + folder + L".";
    }
    return L"places.sqlite cannot be opened (no access to it or to its folder); " + outcome;
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
