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

// Every bookmark of the file that has a URL, with its folder path. On failure the list is empty
// and `error` (when given) holds the reason; it is left alone on success.
std::vector<BookmarkRecord> ReadFirefoxBookmarks(const std::wstring& path, std::wstring* error);

// The folder_path of an item whose parent is `folderId`: at most 64 folder names, outermost first.
std::wstring PlacesFolderPath(const PlacesItemMap& items, const PlacesGuidMap& guids, int64_t folderId);

// Merges (replace = false) or replaces the bookmarks of the file in one transaction. Returns the
// number inserted, or -1 with `error` set when nothing was changed.
int WriteFirefoxBookmarks(const std::wstring& path, const std::vector<BookmarkRecord>& items, int* skipped,
                          std::wstring* error, bool replace);

// The writer's steps; they throw the statement wrappers' exceptions.
int64_t FindIdByGuid(sqlite3* db, const std::string& guid);
int64_t EnsurePlacesFolder(sqlite3* db, int64_t parentId, const std::wstring& title);
int64_t EnsurePlace(sqlite3* db, const std::wstring& url, const std::wstring& title);
int64_t NextPosition(sqlite3* db, int64_t parentId);

// moz_places.rev_host of a URL: its host lower-cased and reversed, followed by ".".
std::string ReverseHost(const std::wstring& url);

// A new 12-character places guid from the process-wide generator.
std::string NewPlacesGuid();

// moz_places.url_hash as Firefox computes it (its hash() SQL function).
int64_t PlacesUrlHash(const std::string& utf8Url);

}  // namespace bm
