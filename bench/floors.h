#pragma once
// The floors of the benchmarks: the output of each measured operation made the straightest way with
// the same libraries (SQLite, nlohmann::json, Win32), so that an operation's ratio to its floor is its
// own overhead. Each floor says what it includes; the bench checks once that it gives the same output,
// in the same order. The explorer's floors are in explorer_bench.cpp, beside their rows.

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/bookmark_record.h"
#include "core/file_backup.h"

namespace bm::bench {

// Chromium Bookmarks file
std::vector<BookmarkRecord> ChromiumReadFloor(const std::wstring& path);
void ChromiumWriteFloor(const std::wstring& path, const std::vector<BookmarkRecord>& records, bool replace);

// Firefox places.sqlite
std::vector<BookmarkRecord> FirefoxReadFloor(const std::wstring& path);
void FirefoxWriteFloor(const std::wstring& path, const std::vector<BookmarkRecord>& records, bool replace);

// app_data.db, on a connection opened as the program opens it
sqlite3* OpenProfileDatabase(const std::wstring& path);
std::vector<BookmarkRecord> GetBookmarksFloor(sqlite3* db, int64_t profileId);
int AddBookmarksFloor(sqlite3* db, int64_t profileId, const std::vector<BookmarkRecord>& records);
void CreateSnapshotFloor(sqlite3* db, int64_t profileId, const char* label);
void RestoreSnapshotFloor(sqlite3* db, int64_t snapshotId);
void ProfileCopyFloor(sqlite3* db, int64_t fromProfileId, int64_t toProfileId);

// Portable files
void JsonExportFloor(const std::vector<BookmarkRecord>& records, const std::wstring& path);
std::vector<BookmarkRecord> JsonImportFloor(const std::wstring& path);
void HtmlExportFloor(const std::vector<BookmarkRecord>& records, const std::wstring& path);
std::vector<BookmarkRecord> HtmlImportFloor(const std::wstring& path);

// Backups beside a file
std::vector<FileBackupEntry> BackupListFloor(const std::wstring& path);

// Shared by the floors: a failure ends the bench with a message (the floors are not the program).
void Require(bool ok, const char* what);
void ExecSql(sqlite3* db, const char* sql);
std::wstring WideColumn(sqlite3_stmt* statement, int column);
std::string Utf8Column(sqlite3_stmt* statement, int column);

}  // namespace bm::bench
