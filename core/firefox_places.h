#pragma once
// Firefox's places.sqlite: reader and writer of its bookmarks.

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/bookmark_record.h"

struct sqlite3;

namespace bm {

// One row of moz_bookmarks as the reader keeps it.
struct PlacesItem {
    int64_t id = 0;
    int64_t parent = 0;
    int64_t type = 0;
    int64_t fk = 0;  // 0 for NULL
    std::wstring title;  // empty for NULL
};

using PlacesItemMap = std::unordered_map<int64_t, PlacesItem>;
using PlacesGuidMap = std::unordered_map<int64_t, std::wstring>;

// Every bookmark of the file that has a URL, with its folder path and date, in Firefox's own order:
// each folder's children by position, folders depth-first from the roots. Entries under the tags root
// are labels of other bookmarks, not bookmarks, and are left out. On failure (a damaged file
// included) the list is empty and `error` (when given) holds the reason; it is left alone on success.
// A file SQLite cannot open in place (a database in WAL mode in a folder it may not write) is read
// through a private copy.
std::vector<BookmarkRecord> ReadFirefoxBookmarks(const std::wstring& path, std::wstring* error);

// The same read, always from a private copy of the file and its -wal.
std::vector<BookmarkRecord> ReadFirefoxBookmarksFromCopy(const std::wstring& path, std::wstring* error);

// The folder_path of an item whose parent is `folderId`: at most 64 folder names, outermost first.
std::wstring PlacesFolderPath(const PlacesItemMap& items, const PlacesGuidMap& guids, int64_t folderId);

// Merges (replace = false) or replaces the bookmarks of the file in one transaction. Returns the
// number inserted, or -1 with `error` set when nothing was changed. A URL counts as present when a
// bookmark outside the tags root points at it; URLs are stored in the form Firefox stores them.
// A replace leaves the file as Firefox leaves it when its user removes those items: no orphans, no
// keyword or tag of a URL that is no longer bookmarked, tombstones for what Firefox Sync knows.
int WriteFirefoxBookmarks(const std::wstring& path, const std::vector<BookmarkRecord>& items, int* skipped,
                          std::wstring* error, bool replace);

// How many of the records a merge would add, without changing the file; -1 when it cannot tell.
int CountFirefoxMergeAdditions(const std::wstring& path, const std::vector<BookmarkRecord>& items);

// The writer's steps; they throw the statement wrappers' exceptions.
int64_t FindIdByGuid(sqlite3* db, const std::string& guid);
int64_t EnsurePlacesFolder(sqlite3* db, int64_t parentId, const std::wstring& title);
int64_t EnsurePlace(sqlite3* db, const std::wstring& url, const std::wstring& title);
int64_t NextPosition(sqlite3* db, int64_t parentId);

// moz_places.rev_host of a URL, from the form Firefox stores: its host (and port) reversed, then ".".
std::string ReverseHost(const std::wstring& url);

// A new 12-character places guid from the process-wide generator.
std::string NewPlacesGuid();

// moz_places.url_hash as Firefox computes it (its hash() SQL function).
int64_t PlacesUrlHash(const std::string& utf8Url);

}  // namespace bm
