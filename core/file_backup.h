#pragma once
// Time-stamped copies of a browser's bookmark file, kept beside it: "<name>.backup_YYYYMMDD_HHMMSS.bak".
// Each new backup prunes the oldest of that file's backups beyond the newest kFileBackupsKept.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace bm {

struct FileBackupEntry {
    std::wstring path;         // folder + "\" + the backup's file name
    std::wstring displayTime;  // "YYYY-MM-DD HH:MM:SS", or the stamp itself when it has another shape
    int64_t sortKey = 0;       // the stamp's digits as a number (YYYYMMDDHHMMSS); larger is later
};

struct LocalDateTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// The backup path of `path` for a backup made now (local time).
std::wstring MakeBackupPath(const std::wstring& path);
// The backup path of `path` for a backup made at the given local time.
std::wstring MakeBackupPathAt(const std::wstring& path, const LocalDateTime& time);

inline constexpr size_t kFileBackupsKept = 20;

// Copies the file to MakeBackupPath of it (waiting for the next second rather than replacing a backup
// made in this one), then prunes. Nothing, with the error text left alone, when the file does not
// exist; nothing with "CopyFile failed with error N" when the copy fails, and then nothing is pruned.
std::optional<std::wstring> BackupFile(const std::wstring& path, std::wstring* error = nullptr);

// Deletes the file's oldest backups beyond the newest `keep`, never `spare` (the one just made, even
// when a clock set back makes it look older). Only files named exactly as MakeBackupPath names them
// count; anything else beside the file is left alone.
void PruneFileBackups(const std::wstring& path, size_t keep, const std::wstring& spare = {});

// Removes the private copies that backups of the file cut short (a killed process) left beside it;
// a backup being made at that moment is left alone. BackupFile and RestoreFileBackup call it first,
// and the program when it starts. Returns how many were removed.
int RemoveLeftoverBackupCopies(const std::wstring& path);

// The backups beside the file, newest (largest sortKey) first.
std::vector<FileBackupEntry> ListFileBackups(const std::wstring& path);

// Backs up the current target (when it exists), then puts a copy of the backup in its place in one
// step. On failure the target is as it was and the error text says why.
bool RestoreFileBackup(const std::wstring& targetPath, const std::wstring& backupPath, std::wstring* error = nullptr);

}  // namespace bm
