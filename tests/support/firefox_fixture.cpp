#include "tests/support/firefox_fixture.h"

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <stdexcept>

#include "core/bookmark_record.h"
#include "core/sql_statement.h"

namespace bm::test {

namespace {

// The tables of a Firefox 153 profile's places.sqlite (schema 86), as Firefox creates them. Its
// triggers are not here because Firefox has none in the file: it creates them as TEMP triggers on its
// own connection, calling SQL functions only it registers.
const char* const kSchema = R"sql(
CREATE TABLE moz_origins (
  id INTEGER PRIMARY KEY,
  prefix TEXT NOT NULL,
  host TEXT NOT NULL,
  frecency INTEGER NOT NULL,
  recalc_frecency INTEGER NOT NULL DEFAULT 0,
  alt_frecency INTEGER,
  recalc_alt_frecency INTEGER NOT NULL DEFAULT 0,
  block_until_ms INTEGER,
  block_pages_until_ms INTEGER,
  UNIQUE (prefix, host)
);
CREATE TABLE moz_places (
  id INTEGER PRIMARY KEY,
  url LONGVARCHAR,
  title LONGVARCHAR,
  rev_host LONGVARCHAR,
  visit_count INTEGER DEFAULT 0,
  hidden INTEGER DEFAULT 0 NOT NULL,
  typed INTEGER DEFAULT 0 NOT NULL,
  frecency INTEGER DEFAULT -1 NOT NULL,
  last_visit_date INTEGER,
  guid TEXT,
  foreign_count INTEGER DEFAULT 0 NOT NULL,
  url_hash INTEGER DEFAULT 0 NOT NULL,
  description TEXT,
  preview_image_url TEXT,
  site_name TEXT,
  origin_id INTEGER REFERENCES moz_origins(id),
  recalc_frecency INTEGER NOT NULL DEFAULT 0,
  alt_frecency INTEGER,
  recalc_alt_frecency INTEGER NOT NULL DEFAULT 0
);
CREATE TABLE moz_places_extra (
  place_id INTEGER PRIMARY KEY NOT NULL,
  sync_json TEXT,
  FOREIGN KEY (place_id) REFERENCES moz_places(id) ON DELETE CASCADE
);
CREATE TABLE moz_historyvisits (
  id INTEGER PRIMARY KEY,
  from_visit INTEGER,
  place_id INTEGER,
  visit_date INTEGER,
  visit_type INTEGER,
  session INTEGER,
  source INTEGER DEFAULT 0 NOT NULL,
  triggeringPlaceId INTEGER
);
CREATE TABLE moz_historyvisits_extra (
  visit_id INTEGER PRIMARY KEY NOT NULL,
  sync_json TEXT,
  FOREIGN KEY (visit_id) REFERENCES moz_historyvisits(id) ON DELETE CASCADE
);
CREATE TABLE moz_inputhistory (
  place_id INTEGER NOT NULL,
  input LONGVARCHAR NOT NULL,
  use_count INTEGER,
  PRIMARY KEY (place_id, input)
);
CREATE TABLE moz_bookmarks (
  id INTEGER PRIMARY KEY,
  type INTEGER,
  fk INTEGER DEFAULT NULL,
  parent INTEGER,
  position INTEGER,
  title LONGVARCHAR,
  keyword_id INTEGER,
  folder_type TEXT,
  dateAdded INTEGER,
  lastModified INTEGER,
  guid TEXT,
  syncStatus INTEGER NOT NULL DEFAULT 0,
  syncChangeCounter INTEGER NOT NULL DEFAULT 1
);
CREATE TABLE moz_bookmarks_deleted (
  guid TEXT PRIMARY KEY,
  dateRemoved INTEGER NOT NULL DEFAULT 0
);
CREATE TABLE moz_keywords (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  keyword TEXT UNIQUE,
  place_id INTEGER,
  post_data TEXT
);
CREATE TABLE moz_anno_attributes (
  id INTEGER PRIMARY KEY,
  name VARCHAR(32) UNIQUE NOT NULL
);
CREATE TABLE moz_annos (
  id INTEGER PRIMARY KEY,
  place_id INTEGER NOT NULL,
  anno_attribute_id INTEGER,
  content LONGVARCHAR,
  flags INTEGER DEFAULT 0,
  expiration INTEGER DEFAULT 0,
  type INTEGER DEFAULT 0,
  dateAdded INTEGER DEFAULT 0,
  lastModified INTEGER DEFAULT 0
);
CREATE TABLE moz_items_annos (
  id INTEGER PRIMARY KEY,
  item_id INTEGER NOT NULL,
  anno_attribute_id INTEGER,
  content LONGVARCHAR,
  flags INTEGER DEFAULT 0,
  expiration INTEGER DEFAULT 0,
  type INTEGER DEFAULT 0,
  dateAdded INTEGER DEFAULT 0,
  lastModified INTEGER DEFAULT 0
);
CREATE TABLE moz_meta (key TEXT PRIMARY KEY, value NOT NULL) WITHOUT ROWID;
CREATE INDEX moz_places_url_hashindex ON moz_places (url_hash);
CREATE INDEX moz_places_hostindex ON moz_places (rev_host);
CREATE INDEX moz_places_visitcount ON moz_places (visit_count);
CREATE INDEX moz_places_frecencyindex ON moz_places (frecency);
CREATE INDEX moz_places_lastvisitdateindex ON moz_places (last_visit_date);
CREATE UNIQUE INDEX moz_places_guid_uniqueindex ON moz_places (guid);
CREATE INDEX moz_places_originidindex ON moz_places (origin_id);
CREATE INDEX moz_places_altfrecencyindex ON moz_places (alt_frecency);
CREATE INDEX moz_historyvisits_placedateindex ON moz_historyvisits (place_id, visit_date);
CREATE INDEX moz_historyvisits_fromindex ON moz_historyvisits (from_visit);
CREATE INDEX moz_historyvisits_dateindex ON moz_historyvisits (visit_date);
CREATE INDEX moz_bookmarks_itemindex ON moz_bookmarks (fk, type);
CREATE INDEX moz_bookmarks_parentindex ON moz_bookmarks (parent, position);
CREATE INDEX moz_bookmarks_itemlastmodifiedindex ON moz_bookmarks (fk, lastModified);
CREATE INDEX moz_bookmarks_dateaddedindex ON moz_bookmarks (dateAdded);
CREATE UNIQUE INDEX moz_bookmarks_guid_uniqueindex ON moz_bookmarks (guid);
CREATE UNIQUE INDEX moz_keywords_placepostdata_uniqueindex ON moz_keywords (place_id, post_data);
CREATE UNIQUE INDEX moz_annos_placeattributeindex ON moz_annos (place_id, anno_attribute_id);
CREATE UNIQUE INDEX moz_items_annos_itemattributeindex ON moz_items_annos (item_id, anno_attribute_id);
)sql";

// The same tables as an older Firefox (before origins, frecency recalculation and Sync) made them.
const char* const kOldSchema = R"sql(
CREATE TABLE moz_places (
  id INTEGER PRIMARY KEY,
  url LONGVARCHAR,
  title LONGVARCHAR,
  rev_host LONGVARCHAR,
  visit_count INTEGER DEFAULT 0,
  hidden INTEGER DEFAULT 0 NOT NULL,
  typed INTEGER DEFAULT 0 NOT NULL,
  frecency INTEGER DEFAULT -1 NOT NULL,
  last_visit_date INTEGER,
  guid TEXT,
  foreign_count INTEGER DEFAULT 0 NOT NULL,
  url_hash INTEGER DEFAULT 0 NOT NULL
);
CREATE TABLE moz_historyvisits (
  id INTEGER PRIMARY KEY,
  from_visit INTEGER,
  place_id INTEGER,
  visit_date INTEGER,
  visit_type INTEGER,
  session INTEGER
);
CREATE TABLE moz_bookmarks (
  id INTEGER PRIMARY KEY,
  type INTEGER,
  fk INTEGER DEFAULT NULL,
  parent INTEGER,
  position INTEGER,
  title LONGVARCHAR,
  keyword_id INTEGER,
  folder_type TEXT,
  dateAdded INTEGER,
  lastModified INTEGER,
  guid TEXT
);
CREATE TABLE moz_keywords (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  keyword TEXT UNIQUE,
  place_id INTEGER,
  post_data TEXT
);
CREATE INDEX moz_places_url_hashindex ON moz_places (url_hash);
CREATE UNIQUE INDEX moz_places_guid_uniqueindex ON moz_places (guid);
CREATE INDEX moz_bookmarks_itemindex ON moz_bookmarks (fk, type);
CREATE INDEX moz_bookmarks_parentindex ON moz_bookmarks (parent, position);
CREATE UNIQUE INDEX moz_bookmarks_guid_uniqueindex ON moz_bookmarks (guid);
)sql";

struct Root {
    int64_t id;
    const char* guid;
    int64_t parent;
    int position;
    const char* title;
};

const Root kRoots[] = {
    {kPlacesRootId, "root________", 0, 0, ""},       {kPlacesMenuId, "menu________", 1, 0, "menu"},
    {kPlacesToolbarId, "toolbar_____", 1, 1, "toolbar"}, {kPlacesTagsId, "tags________", 1, 2, "tags"},
    {kPlacesUnfiledId, "unfiled_____", 1, 3, "unfiled"}, {kPlacesMobileId, "mobile______", 1, 4, "mobile"},
};

constexpr int64_t kFixtureStamp = 1700000000LL * 1000000;  // microseconds, as Firefox stores dates

void ExecOn(sqlite3* db, const std::string& sql) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        std::string text = message ? message : sqlite3_errmsg(db);
        sqlite3_free(message);
        throw std::runtime_error("fixture: " + text + " :: " + sql);
    }
}

sqlite3* OpenOrThrow(const std::wstring& path, int flags) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(ToUtf8(path).c_str(), &db, flags, kLongPathVfs) != SQLITE_OK) {
        std::string text = db ? sqlite3_errmsg(db) : "out of memory";
        if (db) sqlite3_close(db);
        throw std::runtime_error("fixture: cannot open places.sqlite: " + text);
    }
    return db;
}

std::string FixtureGuid() {
    static std::atomic<unsigned> counter{0};
    char text[16];
    std::snprintf(text, sizeof text, "fixture%05u", counter.fetch_add(1) % 100000u);
    return text;
}

// Firefox's hash() of a URL, kept here independently of the product's copy.
uint32_t Hash32(const std::string& s, size_t n) {
    uint32_t h = 0;
    for (size_t i = 0; i < n; ++i) h = 0x9E3779B9u * (((h << 5) | (h >> 27)) ^ static_cast<unsigned char>(s[i]));
    return h;
}

int64_t UrlHash(const std::string& url) {
    const uint32_t h = Hash32(url, std::min<size_t>(url.size(), 1500));
    const size_t colon = url.find(':');
    if (colon == std::string::npos || colon >= 50) return h;
    return static_cast<int64_t>((static_cast<uint64_t>(Hash32(url, colon) & 0xFFFF) << 32) + h);
}

std::string RevHost(const std::string& url) {
    const size_t scheme = url.find("://");
    std::string host;
    if (scheme != std::string::npos) {
        const size_t end = url.find_first_of("/?#", scheme + 3);
        host = url.substr(scheme + 3, end == std::string::npos ? std::string::npos : end - scheme - 3);
    }
    std::transform(host.begin(), host.end(), host.begin(),
                   [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; });
    std::reverse(host.begin(), host.end());
    return host + ".";
}

}  // namespace

void CreateFirefoxPlaces(const std::wstring& path, const PlacesFixtureOptions& options) {
    sqlite3* db = OpenOrThrow(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    try {
        ExecOn(db, "PRAGMA page_size = 32768;");
        ExecOn(db, options.wal ? "PRAGMA journal_mode = WAL;" : "PRAGMA journal_mode = DELETE;");
        ExecOn(db, "BEGIN;");
        ExecOn(db, options.oldSchema ? kOldSchema : kSchema);
        for (const Root& root : kRoots) {
            if (std::find(options.omitRoots.begin(), options.omitRoots.end(), root.guid) != options.omitRoots.end()) {
                continue;
            }
            Statement insert = PrepareOrThrow(
                db, options.oldSchema ? "INSERT INTO moz_bookmarks(id, type, fk, parent, position, title, "
                                        "dateAdded, lastModified, guid) VALUES(?, 2, NULL, ?, ?, ?, ?, ?, ?)"
                                      : "INSERT INTO moz_bookmarks(id, type, fk, parent, position, title, "
                                        "dateAdded, lastModified, guid, syncStatus, syncChangeCounter) "
                                        "VALUES(?, 2, NULL, ?, ?, ?, ?, ?, ?, 1, 1)");
            BindInt64(insert, 1, root.id);
            BindInt64(insert, 2, root.parent);
            BindInt64(insert, 3, root.position);
            BindText(insert, 4, root.title);
            BindInt64(insert, 5, kFixtureStamp);
            BindInt64(insert, 6, kFixtureStamp);
            BindText(insert, 7, root.guid);
            StepRow(insert);
        }
        if (!options.oldSchema) ExecOn(db, "INSERT INTO moz_meta(key, value) VALUES('origin_frecency_count', 0);");
        ExecOn(db, options.oldSchema ? "PRAGMA user_version = 35;" : "PRAGMA user_version = 86;");
        ExecOn(db, "COMMIT;");
    } catch (...) {
        sqlite3_close(db);
        throw;
    }
    sqlite3_close(db);
}

FirefoxPlaces::FirefoxPlaces(const std::wstring& path) : db_(OpenOrThrow(path, SQLITE_OPEN_READWRITE)) {}

FirefoxPlaces::~FirefoxPlaces() {
    sqlite3_exec(db_, "ROLLBACK;", nullptr, nullptr, nullptr);
    sqlite3_close(db_);
}

void FirefoxPlaces::Exec(const std::string& sql) { ExecOn(db_, sql); }

int64_t FirefoxPlaces::QueryInt(const std::string& sql) {
    Statement query = PrepareOrThrow(db_, sql);
    return StepRow(query) ? ColumnInt64(query, 0) : 0;
}

std::string FirefoxPlaces::QueryText(const std::string& sql) {
    Statement query = PrepareOrThrow(db_, sql);
    return StepRow(query) ? ColumnText(query, 0) : std::string();
}

int64_t FirefoxPlaces::InsertItem(int type, int64_t fk, int64_t parent, const std::string& title) {
    Statement insert = PrepareOrThrow(
        db_,
        "INSERT INTO moz_bookmarks(type, fk, parent, position, title, dateAdded, lastModified, guid) "
        "VALUES(?, NULLIF(?, 0), ?, (SELECT COALESCE(MAX(position), -1) + 1 FROM moz_bookmarks WHERE parent = ?), "
        "NULLIF(?, ''), ?, ?, ?)");
    BindInt64(insert, 1, type);
    BindInt64(insert, 2, fk);
    BindInt64(insert, 3, parent);
    BindInt64(insert, 4, parent);
    BindText(insert, 5, title);
    BindInt64(insert, 6, kFixtureStamp);
    BindInt64(insert, 7, kFixtureStamp);
    BindText(insert, 8, FixtureGuid());
    StepRow(insert);
    return sqlite3_last_insert_rowid(db_);
}

int64_t FirefoxPlaces::AddFolder(int64_t parent, const std::string& title) { return InsertItem(2, 0, parent, title); }

int64_t FirefoxPlaces::AddSeparator(int64_t parent) { return InsertItem(3, 0, parent, ""); }

int64_t FirefoxPlaces::AddBookmark(int64_t parent, const std::string& url, const std::string& title) {
    const int64_t place = AddPlace(url, title);
    const int64_t id = InsertItem(1, place, parent, title);
    Exec("UPDATE moz_places SET foreign_count = foreign_count + 1 WHERE id = " + std::to_string(place));
    return id;
}

int64_t FirefoxPlaces::AddPlace(const std::string& url, const std::string& title) {
    {
        Statement query = PrepareOrThrow(db_, "SELECT id FROM moz_places WHERE url = ?");
        BindText(query, 1, url);
        if (StepRow(query)) return ColumnInt64(query, 0);
    }
    Statement insert = PrepareOrThrow(db_,
                                      "INSERT INTO moz_places(url, title, rev_host, frecency, guid, url_hash) "
                                      "VALUES(?, ?, ?, 100, ?, ?)");
    BindText(insert, 1, url);
    BindText(insert, 2, title);
    BindText(insert, 3, RevHost(url));
    BindText(insert, 4, FixtureGuid());
    BindInt64(insert, 5, UrlHash(url));
    StepRow(insert);
    return sqlite3_last_insert_rowid(db_);
}

int64_t FirefoxPlaces::AddVisitedPlace(const std::string& url, const std::string& title) {
    const int64_t place = AddPlace(url, title);
    const std::string id = std::to_string(place);
    Exec("INSERT INTO moz_historyvisits(from_visit, place_id, visit_date, visit_type, session) VALUES(0, " + id +
         ", " + std::to_string(kFixtureStamp) + ", 1, 0)");
    Exec("UPDATE moz_places SET visit_count = visit_count + 1, last_visit_date = " + std::to_string(kFixtureStamp) +
         " WHERE id = " + id);
    return place;
}

int64_t FirefoxPlaces::AddTag(const std::string& url, const std::string& tag) {
    int64_t folder = 0;
    {
        Statement query = PrepareOrThrow(db_, "SELECT id FROM moz_bookmarks WHERE parent = ? AND type = 2 AND title = ?");
        BindInt64(query, 1, kPlacesTagsId);
        BindText(query, 2, tag);
        if (StepRow(query)) folder = ColumnInt64(query, 0);
    }
    if (folder == 0) folder = AddFolder(kPlacesTagsId, tag);
    return AddBookmark(folder, url, "");
}

void FirefoxPlaces::AddKeyword(int64_t placeId, const std::string& keyword) {
    Statement insert = PrepareOrThrow(db_, "INSERT INTO moz_keywords(keyword, place_id) VALUES(?, ?)");
    BindText(insert, 1, keyword);
    BindInt64(insert, 2, placeId);
    StepRow(insert);
    Exec("UPDATE moz_places SET foreign_count = foreign_count + 1 WHERE id = " + std::to_string(placeId));
}

void FirefoxPlaces::FailOnBookmarkInsert(int nth) {
    Exec("CREATE TABLE IF NOT EXISTS fixture_insert_count(n INTEGER NOT NULL);"
         "DELETE FROM fixture_insert_count; INSERT INTO fixture_insert_count VALUES(0);"
         "DROP TRIGGER IF EXISTS fixture_fail_insert;"
         "CREATE TRIGGER fixture_fail_insert AFTER INSERT ON moz_bookmarks BEGIN "
         "UPDATE fixture_insert_count SET n = n + 1; "
         "SELECT RAISE(ABORT, 'fixture: insert refused') WHERE (SELECT n FROM fixture_insert_count) = " +
         std::to_string(nth) + "; END;");
}

}  // namespace bm::test
