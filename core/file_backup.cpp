#include "core/file_backup.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <limits>

#include "core/bookmark_record.h"
#include "core/browsers.h"
#include "core/file_io.h"
#include "core/sqlite_file_copy.h"

namespace bm {
namespace {

struct FolderAndName {
    std::wstring folder;
    std::wstring name;
};

FolderAndName SplitFolderAndName(const std::wstring& path) {
    const size_t separator = path.find_last_of(L"\\/");
    if (separator == std::wstring::npos) return {L".", path};
    return {path.substr(0, separator), path.substr(separator + 1)};
}

std::wstring FormatCode(const wchar_t* format, unsigned long code) {
    wchar_t buffer[256];
    swprintf(buffer, sizeof buffer / sizeof buffer[0], format, code);
    return buffer;
}

// A database with a -wal beside it is copied through SQLite, so that the backup holds what the -wal
// holds too: a copy of the main file alone would miss the latest changes. Any other file is copied
// under a temporary name and then renamed, so a backup that exists is whole even after a kill.
// On failure returns false with the reason ("CopyFile failed with error N" for a plain copy).
bool CopyToBackup(const std::wstring& source, const std::wstring& backup, std::wstring& failure) {
    if (HasWriteAheadLog(source)) {
        std::wstring reason;
        if (CopySqliteDatabase(source, backup, &reason)) return true;
        failure = L"Could not back up the database with its -wal: " + reason;
        return false;
    }
    FileWriteError writeError;
    if (CopyFileReplacing(source, backup, &writeError)) return true;
    failure = FormatCode(L"CopyFile failed with error %lu", writeError.code);
    return false;
}

// A backup name for now that no backup holds yet: within the second of an earlier backup, the next
// second is awaited, since copying over that backup would lose the state it kept.
std::wstring FreeBackupPath(const std::wstring& path) {
    std::wstring backup = MakeBackupPath(path);
    for (int i = 0; i < 40 && FileExists(backup); ++i) {
        Sleep(50);
        backup = MakeBackupPath(path);
    }
    return backup;
}

// "<name>.backup_" + 8 digits + "_" + 6 digits + ".bak", the name compared as the file system does.
bool IsOwnBackupName(const std::wstring& found, const std::wstring& name) {
    const std::wstring prefix = name + L".backup_";
    if (found.size() != prefix.size() + 15 + 4) return false;
    if (ToLower(found.substr(0, prefix.size())) != ToLower(prefix)) return false;
    if (found.compare(found.size() - 4, 4, L".bak") != 0) return false;
    for (size_t i = 0; i < 15; ++i) {
        const wchar_t c = found[prefix.size() + i];
        if (i == 8 ? c != L'_' : (c < L'0' || c > L'9')) return false;
    }
    return true;
}

int64_t DigitsAsNumber(const std::wstring& stamp) {
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    int64_t value = 0;
    for (wchar_t c : stamp) {
        if (c < L'0' || c > L'9') continue;
        const int digit = c - L'0';
        if (value > (kMax - digit) / 10) return 0;  // beyond the range: no usable key
        value = value * 10 + digit;
    }
    return value;
}

bool SamePath(std::wstring a, std::wstring b) {
    for (std::wstring* text : {&a, &b})
        for (wchar_t& c : *text)
            if (c == L'/') c = L'\\';
    return ToLower(std::move(a)) == ToLower(std::move(b));
}

// The safety backup of the current file, named so that it does not land on `restoring`: a backup
// made within the current second has the very name the safety backup would get, and copying over it
// would lose the bookmarks about to be restored. Then the next second is awaited.
std::wstring SafetyBackupPath(const std::wstring& target, const std::wstring& restoring) {
    std::wstring path = MakeBackupPath(target);
    for (int i = 0; i < 40 && SamePath(path, restoring); ++i) {
        Sleep(50);
        path = MakeBackupPath(target);
    }
    return path;
}

std::wstring DisplayTime(const std::wstring& stamp) {
    if (stamp.size() != 15 || stamp[8] != L'_') return stamp;
    return stamp.substr(0, 4) + L"-" + stamp.substr(4, 2) + L"-" + stamp.substr(6, 2) + L" " + stamp.substr(9, 2) +
           L":" + stamp.substr(11, 2) + L":" + stamp.substr(13, 2);
}

}  // namespace

std::wstring MakeBackupPathAt(const std::wstring& path, const LocalDateTime& time) {
    const FolderAndName parts = SplitFolderAndName(path);
    wchar_t stamp[64];
    swprintf(stamp, sizeof stamp / sizeof stamp[0], L"%04d%02d%02d_%02d%02d%02d", time.year, time.month, time.day,
             time.hour, time.minute, time.second);
    return parts.folder + L"\\" + parts.name + L".backup_" + stamp + L".bak";
}

std::wstring MakeBackupPath(const std::wstring& path) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    return MakeBackupPathAt(path, {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond});
}

int RemoveLeftoverBackupCopies(const std::wstring& path) {
    const FolderAndName parts = SplitFolderAndName(path);
    int removed = RemoveLeftoverCopiesBeside(parts.folder, parts.name + L".backup_");
    // A plain copy of a backup lands under "<backup>.orvtmp-<pid>-...". Each backup has a name of its
    // own, so the next write of the same name never comes to sweep it. One whose process id is this
    // process's own may be one that another thread is making, and stays.
    const std::wstring ownId = L".orvtmp-" + std::to_wstring(GetCurrentProcessId()) + L"-";
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((parts.folder + L"\\" + parts.name + L".backup_*.orvtmp-*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return removed;
    do {
        if (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) continue;
        const std::wstring found = data.cFileName;
        const size_t marker = found.rfind(L".orvtmp-");
        const std::wstring backupName = found.substr(0, marker);
        if (!IsOwnBackupName(backupName, parts.name) || !IsLeftoverTemporaryName(found, backupName)) continue;
        if (found.compare(marker, ownId.size(), ownId) == 0) continue;
        if (RemoveLeftoverFile(parts.folder + L"\\" + found, data.dwFileAttributes)) ++removed;
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return removed;
}

std::optional<std::wstring> BackupFile(const std::wstring& path, std::wstring* error) {
    RemoveLeftoverBackupCopies(path);
    // A missing file is not an error: there is nothing to back up.
    if (!FileExists(path)) return std::nullopt;
    const std::wstring backup = FreeBackupPath(path);
    std::wstring failure;
    if (!CopyToBackup(path, backup, failure)) {
        if (error) *error = failure;
        return std::nullopt;
    }
    // Only now that the new backup is complete may an old one go.
    PruneFileBackups(path, kFileBackupsKept, backup);
    return backup;
}

void PruneFileBackups(const std::wstring& path, size_t keep, const std::wstring& spare) {
    const FolderAndName parts = SplitFolderAndName(path);
    std::vector<FileBackupEntry> own;
    for (FileBackupEntry& entry : ListFileBackups(path))
        if (IsOwnBackupName(SplitFolderAndName(entry.path).name, parts.name)) own.push_back(std::move(entry));
    // Newest first; equal keys cannot occur among names this program made.
    std::stable_sort(own.begin(), own.end(),
                     [](const FileBackupEntry& a, const FileBackupEntry& b) { return a.sortKey > b.sortKey; });
    for (size_t i = keep; i < own.size(); ++i) {
        if (!spare.empty() && SamePath(own[i].path, spare)) continue;
        DeleteFileW(own[i].path.c_str());  // a backup that cannot be deleted (read-only) simply stays
    }
}

std::vector<FileBackupEntry> ListFileBackups(const std::wstring& path) {
    std::vector<FileBackupEntry> entries;
    const FolderAndName parts = SplitFolderAndName(path);
    const size_t prefixLength = parts.name.size() + std::wcslen(L".backup_");
    const std::wstring pattern = parts.folder + L"\\" + parts.name + L".backup_*.bak";
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(pattern.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return entries;
    do {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        const std::wstring found = data.cFileName;
        if (found.size() <= prefixLength + 4) continue;
        const std::wstring stamp = found.substr(prefixLength, found.size() - prefixLength - 4);
        entries.push_back({parts.folder + L"\\" + found, DisplayTime(stamp), DigitsAsNumber(stamp)});
    } while (FindNextFileW(find, &data));
    FindClose(find);
    std::sort(entries.begin(), entries.end(),
              [](const FileBackupEntry& a, const FileBackupEntry& b) { return a.sortKey > b.sortKey; });
    return entries;
}

bool RestoreFileBackup(const std::wstring& targetPath, const std::wstring& backupPath, std::wstring* error) {
    auto fail = [error](const std::wstring& text) {
        if (error) *error = text;
        return false;
    };
    RemoveLeftoverBackupCopies(targetPath);
    if (!FileExists(backupPath)) return fail(L"Backup file no longer exists on disk.");
    if (FileExists(targetPath)) {
        std::wstring failure;
        const std::wstring safety = SafetyBackupPath(targetPath, backupPath);
        if (SamePath(safety, backupPath))
            return fail(L"Could not create a safety backup before restoring: the local time does not advance.");
        if (!CopyToBackup(targetPath, safety, failure))
            return fail(L"Could not create a safety backup before restoring: " + failure);
    }
    // A -wal left beside the restored file would be replayed into it by SQLite. Its changes are in the
    // safety backup; they go into the current file first, then the side files go.
    std::wstring folding;
    if (!FoldWriteAheadLog(targetPath, &folding)) return fail(folding + L" The file was left unchanged.");
    // The target is a live bookmark file: the copy lands beside it and replaces it in one step, so a
    // failure midway leaves it as it was.
    FileWriteError writeError;
    if (!CopyFileReplacing(backupPath, targetPath, &writeError))
        return fail(FormatCode(L"Restore copy failed with error %lu; the file was left unchanged.", writeError.code));
    return true;
}

}  // namespace bm
