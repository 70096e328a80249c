#pragma once
// A Firefox-like places.sqlite for tests: the tables, columns, constraints, indexes and fixed roots
// of a Firefox 153 profile (or of an older one), and helpers that add rows the way Firefox itself would (url_hash,
// rev_host, foreign_count kept, guids unique).
//
//   bm::test::TempDir dir;
//   const std::wstring path = dir / L"places.sqlite";
//   bm::test::CreateFirefoxPlaces(path);
//   {
//       bm::test::FirefoxPlaces places(path);
//       const int64_t dev = places.AddFolder(bm::test::kPlacesToolbarId, "Dev");
//       places.AddBookmark(dev, "https://example.com/", "Example");
//       places.AddVisitedPlace("https://visited.example/", "Only visited");
//   }
//   ... WriteFirefoxBookmarks(path, ...) / ReadFirefoxBookmarks(path, ...) ...
//
// Text is UTF-8. Every failure throws std::runtime_error with SQLite's message.

#include <cstdint>
#include <string>
#include <vector>

struct sqlite3;

namespace bm::test {

// The fixed roots as Firefox creates them: id, guid, parent and title.
constexpr int64_t kPlacesRootId = 1;     // "root________", parent 0, title ""
constexpr int64_t kPlacesMenuId = 2;     // "menu________", title "menu"
constexpr int64_t kPlacesToolbarId = 3;  // "toolbar_____", title "toolbar"
constexpr int64_t kPlacesTagsId = 4;     // "tags________", title "tags"
constexpr int64_t kPlacesUnfiledId = 5;  // "unfiled_____", title "unfiled"
constexpr int64_t kPlacesMobileId = 6;   // "mobile______", title "mobile"

struct PlacesFixtureOptions {
    // Guids of fixed roots to leave out (e.g. "menu________"), for the writer's fallbacks.
    std::vector<std::string> omitRoots;
    // Firefox keeps places.sqlite in WAL mode; false gives a rollback journal instead.
    bool wal = true;
    // The tables of an older Firefox: no moz_origins, no frecency recalculation columns, no Sync
    // columns and no moz_bookmarks_deleted.
    bool oldSchema = false;
};

// Creates a new places.sqlite at `path` (which must not exist yet) with Firefox's schema and roots.
void CreateFirefoxPlaces(const std::wstring& path, const PlacesFixtureOptions& options = {});

// An open read-write connection to an existing places.sqlite. It holds no lock while idle; Exec
// "BEGIN IMMEDIATE;" (or "PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE;") to play a running Firefox.
class FirefoxPlaces {
public:
    explicit FirefoxPlaces(const std::wstring& path);
    ~FirefoxPlaces();
    FirefoxPlaces(const FirefoxPlaces&) = delete;
    FirefoxPlaces& operator=(const FirefoxPlaces&) = delete;

    sqlite3* db() const { return db_; }
    void Exec(const std::string& sql);
    // First column of the first row; 0 / "" when there is no row or it is NULL.
    int64_t QueryInt(const std::string& sql);
    std::string QueryText(const std::string& sql);

    // A folder at the end of `parent`'s children.
    int64_t AddFolder(int64_t parent, const std::string& title);
    // A bookmark at the end of `parent`'s children; its place is found by URL or created.
    int64_t AddBookmark(int64_t parent, const std::string& url, const std::string& title);
    int64_t AddSeparator(int64_t parent);
    // A place without bookmarks (existing one returned as is).
    int64_t AddPlace(const std::string& url, const std::string& title);
    // A place known only from history: one visit, no bookmark.
    int64_t AddVisitedPlace(const std::string& url, const std::string& title);
    // A tag on a URL as Firefox keeps it: an untitled entry for the URL's place in the tag's folder
    // under the tags root (the folder is made when missing). Returns the entry's id.
    int64_t AddTag(const std::string& url, const std::string& tag);
    // A keyword on a place (counts in its foreign_count, as in Firefox).
    void AddKeyword(int64_t placeId, const std::string& keyword);

    // Makes the `nth` row inserted into moz_bookmarks from now on fail with
    // "fixture: insert refused" (the count is part of the transaction, so it rolls back with it).
    void FailOnBookmarkInsert(int nth);

private:
    int64_t InsertItem(int type, int64_t fk, int64_t parent, const std::string& title);
    sqlite3* db_ = nullptr;
};

}  // namespace bm::test
