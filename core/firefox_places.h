#pragma once
// Firefox's places.sqlite: reader and writer of its bookmarks.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/bookmark_record.h"
#include "core/write_shortfall.h"

namespace bm {

// Every bookmark of the file that has a URL, with its folder path and date, in Firefox's own order:
// each folder's children by position, folders depth-first from the roots. Entries under the tags root
// are labels of other bookmarks, not bookmarks, and are left out. On failure (a damaged file
// included) the list is empty and `error` (when given) holds the reason; it is left alone on success.
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
// A record whose URL Firefox would not keep (longer than it keeps, or one it cannot open) is left
// out, and one nested deeper than kDeepestFolderNesting folders below its root is written in the
// deepest folder of its path the reader reads back: both are told in `shortfall` (when given);
// `skipped` counts the duplicates. Both are written only on success. A folder path longer than
// kMaxFolderPathLength refuses the whole write.
int WriteFirefoxBookmarks(const std::wstring& path, const std::vector<BookmarkRecord>& items, int* skipped,
                          std::wstring* error, bool replace, WriteShortfall* shortfall = nullptr);

// The longest URL Firefox keeps, in UTF-16 units of its stored form; its own insert refuses longer ones.
inline constexpr size_t kFirefoxMaxUrlLength = 65536;

// How many of the records a merge would add, without changing the file, how many it would skip as
// duplicates and what it would leave out (when given); -1 when it cannot tell, with `refusal` set to
// the reason when the writer would refuse the write (a damaged file, a file without bookmark roots,
// a folder path longer than any browser keeps), in the writer's words.
int CountFirefoxMergeAdditions(const std::wstring& path, const std::vector<BookmarkRecord>& items,
                               int* skipped = nullptr, WriteShortfall* shortfall = nullptr,
                               std::wstring* refusal = nullptr);

// moz_places.rev_host of a URL, from the form Firefox stores: its host (and port) reversed, then ".".
std::string ReverseHost(const std::wstring& url);

// A new 12-character places guid from the process-wide generator.
std::string NewPlacesGuid();

// moz_places.url_hash as Firefox computes it (its hash() SQL function).
int64_t PlacesUrlHash(const std::string& utf8Url);

}  // namespace bm
