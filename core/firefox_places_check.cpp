#include "core/firefox_places_internal.h"

#include <sqlite3.h>
#include <windows.h>

#include <cstring>
#include <new>
#include <string_view>

#include <filesystem>
#include <fstream>

#include "core/read_failure.h"
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

void KeepWalIndexPrivate(sqlite3* db) {
    sqlite3_exec(db, "PRAGMA locking_mode = EXCLUSIVE;", nullptr, nullptr, nullptr);
}

sqlite3* OpenPlacesWithOwnIndex(const std::wstring& path) {
    const bool hadLog = HasWriteAheadLog(path);
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(ToUtf8(path).c_str(), &db, SQLITE_OPEN_READWRITE, kLongPathVfs) != SQLITE_OK ||
        sqlite3_db_readonly(db, "main") != 0) {
        if (db) sqlite3_close(db);
        return nullptr;
    }
    KeepWalIndexPrivate(db);
    if (hadLog) sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    return db;
}

bool HeldByAnotherProgram(sqlite3* db, const std::exception& failure) {
    const std::string text = failure.what();
    if (!StartsWith(text, kPrepareFailed) && !StartsWith(text, kStepFailed)) return false;
    // A lock the file's system refused counts too: the shared way may still read it.
    if (sqlite3_extended_errcode(db) == SQLITE_IOERR_LOCK) return true;
    const int code = SqliteCode(db, SqliteMessage(text));
    return code == SQLITE_BUSY || code == SQLITE_LOCKED;
}

namespace {

// The outcome as a sentence of its own ("Nothing was read from it.").
std::wstring AsSentence(std::wstring outcome) {
    if (!outcome.empty() && outcome[0] >= L'a' && outcome[0] <= L'z' && outcome.rfind(L"places.sqlite", 0) != 0)
        outcome[0] = static_cast<wchar_t>(outcome[0] - L'a' + L'A');
    return outcome;
}

// The words for a file that holds nothing (no bytes, only white space or only zero bytes), or "".
// The file is read only as far as its first byte of another kind.
std::wstring BlankPlacesText(const std::wstring& path, const std::wstring& outcome) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    if (!in) return {};
    bool blank = true;
    bool zeros = true;
    bool any = false;
    std::string chunk(1 << 16, '\0');
    while ((blank || zeros) && in) {
        in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        const size_t got = static_cast<size_t>(in.gcount());
        if (got == 0) break;
        any = true;
        const std::string_view bytes(chunk.data(), got);
        if (blank && bytes.find_first_not_of(" \t\r\n") != std::string_view::npos) blank = false;
        if (zeros && bytes.find_first_not_of('\0') != std::string_view::npos) zeros = false;
    }
    if (in.bad() || (!blank && !zeros)) return {};
    // The same words as for the other stores' files.
    const std::wstring text = BlankFileText(L"places.sqlite", blank || !any ? std::string() : std::string(1, '\0'));
    return text.empty() ? text : text + L" " + AsSentence(outcome);
}

// SQLite's message for a missing table or column, in words; "" for any other.
std::wstring MissingPartText(const std::string& message) {
    for (const char* head : {"no such table: ", "no such column: "}) {
        if (message.rfind(head, 0) != 0) continue;
        const std::wstring name = ToWide(message.substr(std::strlen(head)));
        return std::strcmp(head, "no such table: ") == 0 ? L" (it has no table " + name + L")"
                                                          : L" (a table of it has no column " + name + L")";
    }
    return {};
}

}  // namespace

std::wstring PlacesFailureText(const std::wstring& path, sqlite3* db, const std::exception& failure,
                               const std::wstring& outcome) {
    const std::wstring blank = BlankPlacesText(path, outcome);
    if (!blank.empty()) return blank;
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
            return PlacesOpenFailureText(path, outcome);
        case SQLITE_CORRUPT:
            return L"places.sqlite is damaged (its pages do not hold together); " + outcome;
        case SQLITE_NOTADB:
            return L"places.sqlite is damaged (it is not a database); " + outcome;
        case SQLITE_FULL:
            return L"The disk is full; " + outcome;
        case SQLITE_NOMEM:
            return L"There is not enough memory; " + outcome;
        case SQLITE_IOERR:
            return L"places.sqlite could not be read or written (a disk error); " + outcome;
        case SQLITE_CONSTRAINT:
            return L"places.sqlite refused the change (it breaks a rule of the file's own tables); " + outcome;
        default:
            return L"places.sqlite does not hold Firefox's bookmarks as Firefox keeps them" + MissingPartText(message) +
                   L"; " + outcome;
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
    // The same open as SQLite's, to learn why it failed: a program that shares the file with no one
    // is not a lack of access.
    HANDLE probe = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    const DWORD code = probe == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
    if (probe != INVALID_HANDLE_VALUE) CloseHandle(probe);
    if (code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION)
        return L"places.sqlite is in use by another program (Firefox holds it while it runs); " + outcome;
    return L"places.sqlite cannot be opened (no access to it or to its folder); " + outcome;
}

void CheckPlacesTables(sqlite3* db) {
    // SQLite reports its problems in rows of many lines each, dozens for one lost block: the user
    // is told which of the two tables is damaged, not SQLite's list.
    bool bookmarks = false;
    bool places = false;
    for (const char* table : {"moz_bookmarks", "moz_places"}) {
        Statement check = PrepareOrThrow(db, std::string("PRAGMA quick_check(") + table + ")");
        while (StepRow(check)) {
            if (ColumnText(check, 0) == "ok") continue;
            (std::strcmp(table, "moz_bookmarks") == 0 ? bookmarks : places) = true;
        }
    }
    if (bookmarks && places)
        throw DamagedDatabase("the pages that hold its bookmarks and their addresses do not hold together");
    if (bookmarks) throw DamagedDatabase("the pages that hold its bookmarks do not hold together");
    if (places) throw DamagedDatabase("the pages that hold its addresses do not hold together");
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
