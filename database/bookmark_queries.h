#pragma once
// The statements the profile database runs on a profile's rows and snapshots, in one place so that a
// test can show which index serves each of them (and that no index is kept that none uses).

namespace bm {

// A profile's rows in the order they were added: ids only grow, and idx_bookmarks_profile holds each
// profile's ids in order, so no sort is needed.
inline constexpr const char kProfileRowsSql[] =
    "SELECT id, profile_id, url, title, folder_path, date_added FROM bookmarks WHERE profile_id = ? ORDER BY id";
inline constexpr const char kProfileTextsSql[] =
    "SELECT title, url, folder_path FROM bookmarks WHERE profile_id = ? ORDER BY id";
inline constexpr const char kSnapshotRowsSql[] =
    "SELECT url, title, folder_path, date_added FROM bookmarks WHERE profile_id = ? ORDER BY id";
// The stored URLs of a profile, whose keys AddBookmarks compares with the new ones.
inline constexpr const char kProfileUrlsSql[] = "SELECT url FROM bookmarks WHERE profile_id = ?";
inline constexpr const char kCountProfileRowsSql[] = "SELECT COUNT(*) FROM bookmarks WHERE profile_id = ?";
inline constexpr const char kDeleteProfileRowsSql[] = "DELETE FROM bookmarks WHERE profile_id = ?";
inline constexpr const char kInsertBookmarkSql[] =
    "INSERT INTO bookmarks(profile_id, url, title, folder_path, date_added) VALUES(?, ?, ?, ?, ?)";

inline constexpr const char kListSnapshotsSql[] =
    "SELECT id, profile_id, created_at, label, bookmark_count FROM profile_backups WHERE profile_id = ? "
    "ORDER BY created_at DESC";
// Keeps the profile's newest ?3 snapshots; ?2 names one more to keep whatever its age (the one a
// restore brings back, which the user would otherwise see vanish), 0 for none. With it the bound
// still holds: the newest ?3 - 1 others are kept beside it.
inline constexpr const char kPruneSnapshotsSql[] =
    "DELETE FROM profile_backups WHERE profile_id = ?1 AND id <> ?2 AND id NOT IN (  SELECT id FROM "
    "profile_backups WHERE profile_id = ?1 AND id <> ?2 ORDER BY created_at DESC LIMIT ?3 - (SELECT count(*) "
    "FROM profile_backups WHERE id = ?2 AND profile_id = ?1))";

}  // namespace bm
