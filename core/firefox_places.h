#pragma once
// Firefox's places.sqlite: reader and writer of its bookmarks.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/bookmark_record.h"

namespace bm {

// Every bookmark of the file that has a URL, with its folder path and date, in Firefox's own order:
// each folder's children by position, folders depth-first from the roots. Entries under the tags root
// are labels of other bookmarks, not bookmarks, and are left out. A bookmark whose page has no address
// is damage, as is one without its page. On failure (a damaged file included) the list is empty and `error` (when given) holds the reason; it is left alone on success.
// A file SQLite cannot open in place (a database in WAL mode in a folder it may not write) is read
// through a private copy.
std::vector<BookmarkRecord> ReadFirefoxBookmarks(const std::wstring& path, std::wstring* error);

// The same read, always from a private copy of the file and its -wal.
std::vector<BookmarkRecord> ReadFirefoxBookmarksFromCopy(const std::wstring& path, std::wstring* error);

// Merges (replace = false) or replaces the bookmarks of the file in one transaction. Returns the
// number inserted, or -1 with `error` set when nothing was changed. A URL counts as present when a
// bookmark outside the tags root points at it; URLs are stored in the form Firefox stores them.
// A replace leaves the file as Firefox leaves it when its user removes those items: no orphans, no
// keyword or tag of a URL that is no longer bookmarked, tombstones for what Firefox Sync knows.
// A record whose URL is longer than Firefox keeps is left out and counted in `tooLong` (when given);
// `skipped` counts the duplicates. Both are written only on success.
int WriteFirefoxBookmarks(const std::wstring& path, const std::vector<BookmarkRecord>& items, int* skipped,
                          std::wstring* error, bool replace, int* tooLong = nullptr);

// The longest URL Firefox keeps, in UTF-16 units of its stored form; its own insert refuses longer ones.
inline constexpr size_t kFirefoxMaxUrlLength = 65536;

// How many of the records a merge would add, without changing the file, and how many it would skip as
// duplicates and leave out as too long (when given); -1 when it cannot tell, with `damage` set to the
// reason when the file is damaged (the writer would refuse it for that reason).
int CountFirefoxMergeAdditions(const std::wstring& path, const std::vector<BookmarkRecord>& items,
                               int* skipped = nullptr, int* tooLong = nullptr, std::wstring* damage = nullptr);

// moz_places.rev_host of a URL, from the form Firefox stores: its host (and port) reversed, then ".".
std::string ReverseHost(const std::wstring& url);

// A new 12-character places guid from the process-wide generator.
std::string NewPlacesGuid();

// moz_places.url_hash as Firefox computes it (its hash() SQL function).
int64_t PlacesUrlHash(const std::string& utf8Url);

}  // namespace bm
