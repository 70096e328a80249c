#include "core/sqlite_file_copy.h"

#include <sqlite3.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <vector>

#include "core/bookmark_record.h"
#include "core/file_io.h"
#include "core/sql_statement.h"

namespace bm {
namespace {

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring UniqueSuffix() {
    static std::atomic<unsigned> counter{0};
    return std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount()) + L"-" +
           std::to_wstring(counter.fetch_add(1));
}

std::wstring SqliteMessage(sqlite3* db) { return ToWide(db ? sqlite3_errmsg(db) : "out of memory"); }

// Removes a side file of a database; true when it is gone afterwards.
bool RemoveSideFile(const std::wstring& path) { return DeleteFileW(path.c_str()) || !Exists(path); }

void RemoveDatabaseFiles(const std::wstring& path) {
    for (const wchar_t* suffix : {L"", L"-wal", L"-shm", L"-journal"}) DeleteFileW((path + suffix).c_str());
}

// Owner markers. The maker of a temporary copy holds its marker open, without letting it be opened
// for writing or deleted, from before the copy exists until the copy is gone or in place; the marker
// goes when its handle closes, also when its process is killed.
HANDLE TakeNewMarker(const std::wstring& marker) {
    return CreateFileW(marker.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
}

// A sweep takes the marker of a copy it would remove, made when absent, and shares it with no one:
// this fails while the copy's maker holds it, and while the sweep holds it no maker can take that
// name, so nothing can be made under it between the check and the delete.
HANDLE TakeLeftMarker(const std::wstring& marker) {
    return CreateFileW(marker.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, OPEN_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
}

bool NameWasTaken(DWORD code) { return code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS; }

// Closes a marker on every way out of a scope, after what it guards has been removed or put in place.
class HeldMarker {
public:
    explicit HeldMarker(HANDLE handle) : handle_(handle) {}
    ~HeldMarker() {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    }
    HeldMarker(const HeldMarker&) = delete;
    HeldMarker& operator=(const HeldMarker&) = delete;

private:
    HANDLE handle_;
};

// Copies beside a target are "<target>.orvdbcopy-<pid>-<tick>-<n>", with SQLite's side files
// ("-journal", "-wal", "-shm") and the owner's marker ("-owner") beside them.
constexpr wchar_t kBesideCopyMarker[] = L".orvdbcopy-";
constexpr wchar_t kOwnerSuffix[] = L"-owner";

}  // namespace

bool HasWriteAheadLog(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW((path + L"-wal").c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool CopySqliteDatabase(const std::wstring& source, const std::wstring& target, std::wstring* error) {
    auto fail = [error](const std::wstring& text) {
        if (error) *error = text;
        return false;
    };
    // The marker first: a sweep beside the target leaves alone a copy whose marker is held.
    std::wstring temporary;
    HANDLE marker = INVALID_HANDLE_VALUE;
    DWORD markerError = 0;
    for (int attempt = 0; attempt < 8 && marker == INVALID_HANDLE_VALUE; ++attempt) {
        temporary = target + kBesideCopyMarker + UniqueSuffix();
        marker = TakeNewMarker(temporary + kOwnerSuffix);
        if (marker == INVALID_HANDLE_VALUE && !NameWasTaken(markerError = GetLastError())) break;
    }
    if (marker == INVALID_HANDLE_VALUE)
        return fail(L"Could not create the copy of the database: error " + std::to_wstring(markerError));
    const HeldMarker held(marker);
    // Whatever an earlier process of the same id and tick left under this name is now ours.
    RemoveDatabaseFiles(temporary);

    sqlite3* from = nullptr;
    sqlite3* to = nullptr;
    if (sqlite3_open_v2(ToUtf8(source).c_str(), &from, SQLITE_OPEN_READONLY, kLongPathVfs) != SQLITE_OK) {
        const std::wstring text = SqliteMessage(from);
        sqlite3_close(from);
        return fail(L"Could not open the database to copy it: " + text);
    }
    if (sqlite3_open_v2(ToUtf8(temporary).c_str(), &to, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, kLongPathVfs) !=
        SQLITE_OK) {
        const std::wstring text = SqliteMessage(to);
        sqlite3_close(to);
        sqlite3_close(from);
        RemoveDatabaseFiles(temporary);
        return fail(L"Could not create the copy of the database: " + text);
    }
    // The copy's commit flushes it to disk, so that it is whole there before it is put in place.
    const bool synchronous = sqlite3_exec(to, "PRAGMA synchronous=FULL;", nullptr, nullptr, nullptr) == SQLITE_OK;
    std::wstring failure;
    sqlite3_backup* backup = sqlite3_backup_init(to, "main", from, "main");
    if (!backup) {
        failure = SqliteMessage(to);
    } else {
        const int stepped = sqlite3_backup_step(backup, -1);
        sqlite3_backup_finish(backup);
        if (stepped != SQLITE_DONE) failure = stepped == SQLITE_BUSY || stepped == SQLITE_LOCKED
                                                  ? std::wstring(L"database is locked")
                                                  : SqliteMessage(to) + L" / " + SqliteMessage(from);
    }
    const bool closed = sqlite3_close(to) == SQLITE_OK;
    sqlite3_close(from);
    if (failure.empty() && !closed) failure = L"the copy could not be closed";
    if (!failure.empty()) {
        RemoveDatabaseFiles(temporary);
        return fail(L"Could not copy the database: " + failure);
    }
    DeleteFileW((temporary + L"-wal").c_str());
    DeleteFileW((temporary + L"-shm").c_str());
    if (FileStepsObserved()) {
        std::string bytes;
        ReadFileBytes(temporary, bytes);
        FileStepEvent written;
        written.step = FileStep::Write;
        written.path = temporary;
        written.bytes = &bytes;
        TellFileStep(written);
        if (synchronous) {
            FileStepEvent flushed;
            flushed.step = FileStep::Flush;
            flushed.path = temporary;
            TellFileStep(flushed);
        }
    }
    const DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    if (!MoveFileExW(temporary.c_str(), target.c_str(), flags)) {
        const unsigned long code = GetLastError();
        RemoveDatabaseFiles(temporary);
        return fail(L"Could not put the copy of the database in place: error " + std::to_wstring(code));
    }
    FileStepEvent renamed;
    renamed.step = FileStep::Rename;
    renamed.path = target;
    renamed.source = temporary;
    renamed.writeThrough = (flags & MOVEFILE_WRITE_THROUGH) != 0;
    TellFileStep(renamed);
    // As for every other file put in place: where names reach the disk with their folder only, the
    // backup's name must be there before the write it guards begins.
    FlushFolderOf(target);
    return true;
}

namespace {

// "<digits>-<digits>-<digits>" from `from` on; the position after it, or npos.
size_t SkipSuffixDigits(const std::wstring& name, size_t from) {
    size_t at = from;
    for (int part = 0; part < 3; ++part) {
        if (part > 0) {
            if (at >= name.size() || name[at] != L'-') return std::wstring::npos;
            ++at;
        }
        const size_t start = at;
        while (at < name.size() && name[at] >= L'0' && name[at] <= L'9') ++at;
        if (at == start) return std::wstring::npos;
    }
    return at;
}

// The copy a found name belongs to ("<target>.orvdbcopy-<pid>-<tick>-<n>"), or empty when the name is
// not one of a copy's files.
std::wstring CopyOfName(const std::wstring& name) {
    const size_t marker = name.rfind(kBesideCopyMarker);
    if (marker == std::wstring::npos || marker == 0) return {};
    const size_t end = SkipSuffixDigits(name, marker + (sizeof kBesideCopyMarker / sizeof kBesideCopyMarker[0] - 1));
    if (end == std::wstring::npos) return {};
    const std::wstring rest = name.substr(end);
    if (rest.empty() || rest == L"-journal" || rest == L"-wal" || rest == L"-shm" || rest == kOwnerSuffix)
        return name.substr(0, end);
    return {};
}

}  // namespace

int RemoveLeftoverCopiesBeside(const std::wstring& folder, const std::wstring& targetPrefix) {
    if (targetPrefix.empty()) return 0;
    const std::wstring base = folder.empty() ? std::wstring() : folder + L"\\";
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((base + targetPrefix + L"*" + kBesideCopyMarker + L"*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return 0;
    std::vector<std::wstring> copies;
    do {
        if (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) continue;
        const std::wstring name = data.cFileName;
        if (name.size() < targetPrefix.size() ||
            CompareStringOrdinal(name.c_str(), static_cast<int>(targetPrefix.size()), targetPrefix.c_str(),
                                 static_cast<int>(targetPrefix.size()), TRUE) != CSTR_EQUAL)
            continue;
        const std::wstring copy = CopyOfName(name);
        if (!copy.empty() && std::find(copies.begin(), copies.end(), copy) == copies.end()) copies.push_back(copy);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    int removed = 0;
    for (const std::wstring& copy : copies) {
        const std::wstring path = base + copy;
        HANDLE marker = TakeLeftMarker(path + kOwnerSuffix);
        if (marker == INVALID_HANDLE_VALUE) continue;  // its maker still runs
        const HeldMarker held(marker);
        RemoveDatabaseFiles(path);
        if (!Exists(path)) ++removed;
    }
    return removed;
}

bool FoldWriteAheadLog(const std::wstring& path, std::wstring* error) {
    auto fail = [error](const std::wstring& text) {
        if (error) *error = text;
        return false;
    };
    if (HasWriteAheadLog(path)) {
        sqlite3* db = nullptr;
        if (sqlite3_open_v2(ToUtf8(path).c_str(), &db, SQLITE_OPEN_READWRITE, kLongPathVfs) != SQLITE_OK) {
            const std::wstring text = SqliteMessage(db);
            sqlite3_close(db);
            return fail(L"Could not open the database to fold its -wal into it: " + text);
        }
        std::wstring failure;
        sqlite3_stmt* checkpoint = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA wal_checkpoint(TRUNCATE);", -1, &checkpoint, nullptr) != SQLITE_OK) {
            failure = SqliteMessage(db);
        } else {
            // One row: busy, frames in the log, frames moved into the database.
            if (sqlite3_step(checkpoint) != SQLITE_ROW) {
                failure = SqliteMessage(db);
            } else if (sqlite3_column_int(checkpoint, 0) != 0 ||
                       sqlite3_column_int(checkpoint, 1) != sqlite3_column_int(checkpoint, 2)) {
                failure = L"database is locked";
            }
        }
        sqlite3_finalize(checkpoint);
        sqlite3_close(db);
        if (!failure.empty()) return fail(L"Could not fold the -wal into the database: " + failure);
    }
    if (!RemoveSideFile(path + L"-wal") || !RemoveSideFile(path + L"-shm"))
        return fail(L"Could not remove the -wal or -shm beside the database: error " + std::to_wstring(GetLastError()));
    return true;
}

namespace {

constexpr wchar_t kCopyFolderPrefix[] = L"orv-db-";
constexpr wchar_t kCopyName[] = L"\\copy.sqlite";
constexpr wchar_t kMarkerName[] = L"\\in-use";

// The temporary folder with its trailing backslash; empty when there is none.
std::wstring TemporaryFolder() {
    wchar_t temp[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    if (length == 0 || length > MAX_PATH) return {};
    return std::wstring(temp, length);
}

// "orv-db-" followed by the digits and dashes of UniqueSuffix.
bool IsCopyFolderName(const std::wstring& name) {
    const size_t prefix = sizeof kCopyFolderPrefix / sizeof kCopyFolderPrefix[0] - 1;
    if (name.size() <= prefix || name.compare(0, prefix, kCopyFolderPrefix) != 0) return false;
    return name.find_first_not_of(L"0123456789-", prefix) == std::wstring::npos;
}

}  // namespace

int RemoveLeftoverDatabaseCopies() {
    const std::wstring temp = TemporaryFolder();
    if (temp.empty()) return 0;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((temp + kCopyFolderPrefix + L"*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return 0;
    int removed = 0;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            continue;
        if (!IsCopyFolderName(data.cFileName)) continue;
        const std::wstring folder = temp + data.cFileName;
        // A running copy holds its marker; held here, no copy can be made in the folder meanwhile.
        HANDLE marker = TakeLeftMarker(folder + kMarkerName);
        if (marker == INVALID_HANDLE_VALUE) continue;
        RemoveDatabaseFiles(folder + kCopyName);
        CloseHandle(marker);  // and with it the marker goes
        RemoveDirectoryW(folder.c_str());
        if (!Exists(folder)) ++removed;
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return removed;
}

TemporaryDatabaseCopy::TemporaryDatabaseCopy(const std::wstring& source) {
    RemoveLeftoverDatabaseCopies();
    const std::wstring temp = TemporaryFolder();
    if (temp.empty()) {
        error_ = L"no temporary folder";
        return;
    }
    // A sweep of another process may take a new folder before its marker is made: then a new one.
    for (int attempt = 0; attempt < 3 && !marker_; ++attempt) {
        const std::wstring folder = temp + kCopyFolderPrefix + UniqueSuffix();
        if (!CreateDirectoryW(folder.c_str(), nullptr)) {
            error_ = L"cannot create a temporary folder: error " + std::to_wstring(GetLastError());
            continue;
        }
        HANDLE marker = TakeNewMarker(folder + kMarkerName);
        if (marker == INVALID_HANDLE_VALUE) {
            error_ = L"cannot create a temporary folder: error " + std::to_wstring(GetLastError());
            RemoveDirectoryW(folder.c_str());
            continue;
        }
        folder_ = folder;
        marker_ = marker;
        error_.clear();
    }
    if (!marker_) return;
    const std::wstring copy = folder_ + kCopyName;
    if (!CopyFileW(source.c_str(), copy.c_str(), FALSE)) {
        error_ = L"cannot copy the database: error " + std::to_wstring(GetLastError());
        return;
    }
    if (HasWriteAheadLog(source) && !CopyFileW((source + L"-wal").c_str(), (copy + L"-wal").c_str(), FALSE)) {
        error_ = L"cannot copy its -wal: error " + std::to_wstring(GetLastError());
        return;
    }
    path_ = copy;
}

TemporaryDatabaseCopy::~TemporaryDatabaseCopy() {
    if (!marker_) return;
    RemoveDatabaseFiles(folder_ + kCopyName);
    CloseHandle(static_cast<HANDLE>(marker_));  // deletes it
    RemoveDirectoryW(folder_.c_str());
}

}  // namespace bm
