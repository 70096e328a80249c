#pragma once
// The duplicate key of a stored bookmark, worked out by SQLite from the URL as stored.
//
// Rows keep their URL exactly as given; the key is the expression below, which changes exactly what
// NormalizeUrl changes (every trailing '/' removed, then 'A'..'Z' lower-cased: SQLite's lower()
// folds ASCII letters only, and so does ToLower). Rows written by older releases hold the key itself
// as their URL, for which the expression gives that same key back.

namespace bm {

inline constexpr const char kBookmarkKeyIndexSql[] =
    "CREATE INDEX IF NOT EXISTS idx_bookmarks_url_key ON bookmarks(profile_id, lower(rtrim(url, '/')));";

// Binds (1) the profile id and (2) the key (NormalizeUrl of the URL) in UTF-8. Named explicitly: left
// to itself, the planner may take the (profile_id, url) index, which holds the url too, and then reads
// every row of the profile for each look-up.
inline constexpr const char kBookmarkKeyLookupSql[] =
    "SELECT 1 FROM bookmarks INDEXED BY idx_bookmarks_url_key WHERE profile_id = ? AND lower(rtrim(url, '/')) = ? "
    "LIMIT 1";

}  // namespace bm
