#include "core/firefox_places.h"

#include <sqlite3.h>

#include <algorithm>
#include <climits>
#include <ctime>
#include <map>
#include <optional>
#include <random>
#include <stdexcept>
#include <unordered_map>
#include <unordered_set>

#include "core/browser_urls.h"
#include "core/firefox_places_internal.h"
#include "core/places_url.h"
#include "core/sql_statement.h"

namespace bm {

namespace {

void StepOnce(Statement& statement) {
    while (StepRow(statement)) {
    }
}

int64_t NowMicroseconds() {
    return static_cast<int64_t>(std::time(nullptr)) * 1000000;
}

uint32_t HashBytes(const std::string& bytes, size_t length) {
    uint32_t hash = 0;
    for (size_t i = 0; i < length; ++i) {
        const uint32_t rotated = (hash << 5) | (hash >> 27);
        hash = 0x9E3779B9u * (rotated ^ static_cast<unsigned char>(bytes[i]));
    }
    return hash;
}

int64_t FindIdByGuid(sqlite3* db, const std::string& guid) {
    Statement query = PrepareOrThrow(db, "SELECT id FROM moz_bookmarks WHERE guid = ? LIMIT 1");
    BindText(query, 1, guid);
    return StepRow(query) ? ColumnInt64(query, 0) : -1;
}

bool HasTable(sqlite3* db, const char* table) {
    Statement query = PrepareOrThrow(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?");
    BindText(query, 1, table);
    return StepRow(query);
}

bool HasColumn(sqlite3* db, const char* table, const char* column) {
    Statement query = PrepareOrThrow(db, std::string("PRAGMA table_info(") + table + ")");
    while (StepRow(query))
        if (ColumnText(query, 1) == column) return true;
    return false;
}

// What the file has of the bookkeeping that newer Firefox versions keep; older files lack some of it,
// and only what is there is written.
struct PlacesSchema {
    bool origins = false;           // moz_origins and moz_places.origin_id
    bool originRecalc = false;      // moz_origins.recalc_frecency
    bool originAltRecalc = false;   // moz_origins.recalc_alt_frecency
    bool recalcFrecency = false;    // moz_places.recalc_frecency
    bool recalcAltFrecency = false; // moz_places.recalc_alt_frecency
    bool syncColumns = false;       // moz_bookmarks.syncStatus and syncChangeCounter
    bool tombstones = false;        // moz_bookmarks_deleted
    bool keywords = false;          // moz_keywords
    bool itemAnnotations = false;   // moz_items_annos

    static PlacesSchema Of(sqlite3* db) {
        PlacesSchema schema;
        schema.origins = HasTable(db, "moz_origins") && HasColumn(db, "moz_places", "origin_id");
        schema.originRecalc = schema.origins && HasColumn(db, "moz_origins", "recalc_frecency");
        schema.originAltRecalc = schema.origins && HasColumn(db, "moz_origins", "recalc_alt_frecency");
        schema.recalcFrecency = HasColumn(db, "moz_places", "recalc_frecency");
        schema.recalcAltFrecency = HasColumn(db, "moz_places", "recalc_alt_frecency");
        schema.syncColumns =
            HasColumn(db, "moz_bookmarks", "syncStatus") && HasColumn(db, "moz_bookmarks", "syncChangeCounter");
        schema.tombstones = HasTable(db, "moz_bookmarks_deleted");
        schema.keywords = HasTable(db, "moz_keywords");
        schema.itemAnnotations = HasTable(db, "moz_items_annos");
        return schema;
    }
};

// Firefox's sync status of an item made on this machine and not yet seen by Sync.
constexpr int kSyncStatusNew = 1;
// An item Firefox Sync has on its server: removing it needs a tombstone.
constexpr int kSyncStatusNormal = 2;

bool IsPlaceUrl(const std::string& url) { return url.compare(0, 6, "place:") == 0; }

// Finds or makes places, folders and bookmarks the way Firefox's own insert leaves them.
class PlacesInserter {
public:
    explicit PlacesInserter(sqlite3* db) : db_(db), schema_(PlacesSchema::Of(db)), now_(NowMicroseconds()) {
        Prepare(placeQuery_, "SELECT id FROM moz_places WHERE url_hash = ? AND url = ? ORDER BY id LIMIT 1");
        std::string columns = "url, title, rev_host, hidden, typed, frecency, guid, url_hash, foreign_count";
        std::string values = "?1, ?2, ?3, ?4, 0, ?5, ?6, ?7, 0";
        if (schema_.recalcFrecency) columns += ", recalc_frecency", values += ", ?8";
        if (schema_.recalcAltFrecency) columns += ", recalc_alt_frecency", values += ", 1";
        if (schema_.origins) columns += ", origin_id", values += ", ?9";
        Prepare(placeInsert_, "INSERT INTO moz_places(" + columns + ") VALUES(" + values + ")");
        std::string itemColumns = "type, fk, parent, position, title, dateAdded, lastModified, guid";
        std::string itemValues = "?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8";
        if (schema_.syncColumns) {
            itemColumns += ", syncStatus, syncChangeCounter";
            itemValues += ", " + std::to_string(kSyncStatusNew) + ", 1";
        }
        Prepare(itemInsert_, "INSERT INTO moz_bookmarks(" + itemColumns + ") VALUES(" + itemValues + ")");
        // A bookmark raises its place's frecency: Firefox flags the place to compute it again (place:
        // queries stay out of the ranking).
        std::string countUpdate = "UPDATE moz_places SET foreign_count = foreign_count + 1";
        if (schema_.recalcFrecency)
            countUpdate += ", recalc_frecency = CASE WHEN substr(url, 1, 6) = 'place:' THEN recalc_frecency ELSE 1 END";
        if (schema_.recalcAltFrecency)
            countUpdate += ", recalc_alt_frecency = CASE WHEN substr(url, 1, 6) = 'place:' THEN recalc_alt_frecency "
                           "ELSE 1 END";
        Prepare(foreignCount_, countUpdate + " WHERE id = ?");
        if (schema_.origins) {
            Prepare(originQuery_, "SELECT id FROM moz_origins WHERE prefix = ? AND host = ?");
            std::string originColumns = "prefix, host, frecency";
            std::string originValues = "?1, ?2, ?3";
            if (schema_.originRecalc) originColumns += ", recalc_frecency", originValues += ", 1";
            if (schema_.originAltRecalc) originColumns += ", recalc_alt_frecency", originValues += ", 1";
            Prepare(originInsert_, "INSERT INTO moz_origins(" + originColumns + ") VALUES(" + originValues + ")");
            if (schema_.originRecalc)
                Prepare(originRecalc_, "UPDATE moz_origins SET recalc_frecency = 1 WHERE id = ?");
        }
        Prepare(positionQuery_, "SELECT COALESCE(MAX(position), -1) + 1 FROM moz_bookmarks WHERE parent = ?");
        Prepare(folderQuery_, "SELECT id FROM moz_bookmarks WHERE parent = ? AND type = 2 AND title = ? LIMIT 1");
    }

    const PlacesSchema& schema() const { return schema_; }
    int64_t now() const { return now_; }

    // The place of a URL in the form Firefox stores it (CanonicalPlacesUrl), found through the url_hash index; made, with
    // the frecency state that has Firefox compute it and its origin, when the file has none.
    int64_t Place(const std::string& stored) {
        const int64_t hash = PlacesUrlHash(stored);
        Reset(*placeQuery_);
        BindInt64(*placeQuery_, 1, hash);
        BindText(*placeQuery_, 2, stored);
        if (StepRow(*placeQuery_)) {
            const int64_t id = ColumnInt64(*placeQuery_, 0);
            Reset(*placeQuery_);
            return id;
        }
        Reset(*placeQuery_);
        // Firefox keeps place: queries hidden and out of the frecency ranking.
        const bool query = IsPlaceUrl(stored);
        Statement& insert = *placeInsert_;
        Reset(insert);
        BindText(insert, 1, stored);
        // A page's title is what Firefox saw on a visit; a bookmark's title is its own.
        sqlite3_bind_null(insert.get(), 2);
        BindText(insert, 3, PlacesReversedHost(stored));
        BindInt64(insert, 4, query ? 1 : 0);
        BindInt64(insert, 5, query ? 0 : 1);
        BindText(insert, 6, NewPlacesGuid());
        BindInt64(insert, 7, hash);
        if (schema_.recalcFrecency) BindInt64(insert, 8, query ? 0 : 1);
        if (schema_.origins) BindInt64(insert, 9, Origin(stored));
        StepOnce(insert);
        Reset(insert);
        return sqlite3_last_insert_rowid(db_);
    }

    // The folder with that title under the parent, made at its end when missing.
    // Each answer is kept: only this inserter adds folders while it lives, and it adds one only where
    // none matched, so the file's first match never changes. Without the cache every segment of every
    // record would scan the parent's children again.
    int64_t Folder(int64_t parentId, const std::wstring& title) {
        std::string utf8Title = ToUtf8(title);
        auto known = folders_.find(FolderKey{parentId, utf8Title});
        if (known != folders_.end()) return known->second;
        Reset(*folderQuery_);
        BindInt64(*folderQuery_, 1, parentId);
        BindText(*folderQuery_, 2, utf8Title);
        int64_t id = StepRow(*folderQuery_) ? ColumnInt64(*folderQuery_, 0) : -1;
        Reset(*folderQuery_);
        if (id < 0) id = InsertItem(2, 0, parentId, utf8Title, now_);
        folders_.emplace(FolderKey{parentId, std::move(utf8Title)}, id);
        return id;
    }

    void Bookmark(int64_t placeId, int64_t parentId, const std::wstring& title, int64_t stamp) {
        InsertItem(1, placeId, parentId, ToUtf8(title), stamp);
        Reset(*foreignCount_);
        BindInt64(*foreignCount_, 1, placeId);
        StepOnce(*foreignCount_);
        Reset(*foreignCount_);
    }

    // A folder whose children changed: its lastModified and its change counter move as Firefox moves
    // them (one count per child added or removed).
    void Touch(int64_t folderId, int64_t changes = 1) { touched_[folderId] += changes; }

    void Finish() {
        if (touched_.empty()) return;
        Statement update = PrepareOrThrow(
            db_, schema_.syncColumns ? "UPDATE moz_bookmarks SET lastModified = MAX(IFNULL(lastModified, 0), ?1), "
                                       "syncChangeCounter = syncChangeCounter + ?2 WHERE id = ?3"
                                     : "UPDATE moz_bookmarks SET lastModified = MAX(IFNULL(lastModified, 0), ?1) "
                                       "WHERE id = ?3");
        for (const auto& [id, changes] : touched_) {
            Reset(update);
            BindInt64(update, 1, now_);
            if (schema_.syncColumns) BindInt64(update, 2, changes);
            BindInt64(update, 3, id);
            StepOnce(update);
        }
        touched_.clear();
    }

private:
    void Prepare(std::optional<Statement>& slot, const std::string& sql) { slot.emplace(PrepareOrThrow(db_, sql)); }
    static void Reset(Statement& statement) { sqlite3_reset(statement.get()); }

    int64_t Origin(const std::string& stored) {
        const PlacesOrigin origin = PlacesOriginOf(stored);
        Reset(*originQuery_);
        BindText(*originQuery_, 1, origin.prefix);
        BindText(*originQuery_, 2, origin.host);
        if (StepRow(*originQuery_)) {
            const int64_t id = ColumnInt64(*originQuery_, 0);
            Reset(*originQuery_);
            if (originRecalc_) {
                Reset(*originRecalc_);
                BindInt64(*originRecalc_, 1, id);
                StepOnce(*originRecalc_);
                Reset(*originRecalc_);
            }
            return id;
        }
        Reset(*originQuery_);
        Reset(*originInsert_);
        BindText(*originInsert_, 1, origin.prefix);
        BindText(*originInsert_, 2, origin.host);
        BindInt64(*originInsert_, 3, IsPlaceUrl(stored) ? 0 : -1);
        StepOnce(*originInsert_);
        Reset(*originInsert_);
        return sqlite3_last_insert_rowid(db_);
    }

    int64_t InsertItem(int type, int64_t fk, int64_t parentId, const std::string& title, int64_t stamp) {
        Statement& insert = *itemInsert_;
        Reset(insert);
        BindInt64(insert, 1, type);
        if (fk > 0) BindInt64(insert, 2, fk);
        else sqlite3_bind_null(insert.get(), 2);
        BindInt64(insert, 3, parentId);
        BindInt64(insert, 4, TakePosition(parentId));
        BindText(insert, 5, title);
        BindInt64(insert, 6, stamp);
        BindInt64(insert, 7, stamp);
        BindText(insert, 8, NewPlacesGuid());
        StepOnce(insert);
        Reset(insert);
        Touch(parentId);
        return sqlite3_last_insert_rowid(db_);
    }

    // The position after every existing child of the folder, then one more for each insert into it.
    int64_t TakePosition(int64_t parentId) {
        auto next = nextPositions_.find(parentId);
        if (next == nextPositions_.end()) {
            Reset(*positionQuery_);
            BindInt64(*positionQuery_, 1, parentId);
            StepRow(*positionQuery_);
            next = nextPositions_.emplace(parentId, ColumnInt64(*positionQuery_, 0)).first;
            Reset(*positionQuery_);
        }
        return next->second++;
    }

    sqlite3* db_;
    PlacesSchema schema_;
    int64_t now_;
    std::optional<Statement> placeQuery_, placeInsert_, itemInsert_, foreignCount_, originQuery_, originInsert_,
        originRecalc_, positionQuery_, folderQuery_;
    std::unordered_map<int64_t, int64_t> nextPositions_;
    struct FolderKey {
        int64_t parent;
        std::string title;
        bool operator==(const FolderKey& other) const { return parent == other.parent && title == other.title; }
    };
    struct FolderKeyHash {
        size_t operator()(const FolderKey& key) const {
            return std::hash<std::string>()(key.title) ^ (std::hash<int64_t>()(key.parent) * 0x9E3779B97F4A7C15ull);
        }
    };
    std::unordered_map<FolderKey, int64_t, FolderKeyHash> folders_;
    std::map<int64_t, int64_t> touched_;
};

}  // namespace

std::string ReverseHost(const std::wstring& url) { return PlacesReversedHost(CanonicalPlacesUrl(ToUtf8(url))); }

std::string NewPlacesGuid() {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    static std::mt19937 generator{std::random_device{}()};
    std::string guid;
    guid.reserve(12);
    for (int i = 0; i < 12; ++i) guid.push_back(kAlphabet[static_cast<uint32_t>(generator()) >> 26]);
    return guid;
}

int64_t PlacesUrlHash(const std::string& utf8Url) {
    const uint32_t hash = HashBytes(utf8Url, std::min<size_t>(utf8Url.size(), 1500));
    // A URI-like text gets the low 16 bits of its scheme's hash above the 32 bits of the whole.
    const size_t colon = utf8Url.find(':');
    if (colon != std::string::npos && colon < 50) {
        const uint64_t schemeHash = HashBytes(utf8Url, colon) & 0xFFFFu;
        return static_cast<int64_t>((schemeHash << 32) + hash);
    }
    return static_cast<int64_t>(hash);
}

namespace {

// SQL conditions on a moz_bookmarks row `b`: it lies under the tags root (a tag folder or a tag entry).
std::string UnderTagsRoot(int64_t tagsRoot) {
    const std::string tags = std::to_string(tagsRoot);
    return "(b.parent = " + tags + " OR b.parent IN (SELECT id FROM moz_bookmarks WHERE parent = " + tags + "))";
}

// The items a replace removes: everything but the fixed roots and what lies under the tags root.
std::string RemovedByReplace(int64_t tagsRoot) {
    return "b.guid NOT IN ('root________','menu________','toolbar_____','unfiled_____','mobile______',"
           "'tags________') AND NOT " + UnderTagsRoot(tagsRoot);
}

// The places a bookmark (not a tag entry) points at.
std::string BookmarkedPlaces(int64_t tagsRoot) {
    return "(SELECT b.fk FROM moz_bookmarks b WHERE b.type = 1 AND b.fk IS NOT NULL AND NOT " + UnderTagsRoot(tagsRoot) +
           ")";
}

void Run(sqlite3* db, const std::string& sql, int64_t bind = INT64_MIN) {
    Statement statement = PrepareOrThrow(db, sql);
    if (bind != INT64_MIN) BindInt64(statement, 1, bind);
    StepOnce(statement);
}

// Removes every item but the roots and the tags, as Firefox does when its user removes them all:
// their places give up the count these bookmarks held, Sync gets a tombstone for what it knows, the
// roots' lastModified and change counters move.
void RemoveAllItems(sqlite3* db, PlacesInserter& inserter, int64_t tagsRoot) {
    const std::string removed = RemovedByReplace(tagsRoot);
    const PlacesSchema& schema = inserter.schema();
    {
        Statement parents = PrepareOrThrow(
            db, "SELECT b.parent, COUNT(*) FROM moz_bookmarks b WHERE " + removed +
                    " AND b.parent IN (SELECT id FROM moz_bookmarks WHERE guid IN ('root________','menu________',"
                    "'toolbar_____','unfiled_____','mobile______')) GROUP BY b.parent");
        while (StepRow(parents)) inserter.Touch(ColumnInt64(parents, 0), ColumnInt64(parents, 1));
    }
    if (schema.tombstones && schema.syncColumns) {
        Run(db,
            "INSERT OR REPLACE INTO moz_bookmarks_deleted(guid, dateRemoved) SELECT b.guid, ?1 FROM moz_bookmarks b "
            "WHERE " + removed + " AND b.syncStatus = " + std::to_string(kSyncStatusNormal) + " AND b.guid IS NOT NULL",
            inserter.now());
    }
    Run(db, "UPDATE moz_places SET foreign_count = MAX(0, foreign_count - (SELECT COUNT(*) FROM moz_bookmarks b "
            "WHERE b.type = 1 AND b.fk = moz_places.id AND " + removed + ")) "
            "WHERE id IN (SELECT b.fk FROM moz_bookmarks b WHERE b.type = 1 AND " + removed + ")");
    if (schema.itemAnnotations)
        Run(db, "DELETE FROM moz_items_annos WHERE item_id IN (SELECT b.id FROM moz_bookmarks b WHERE " + removed + ")");
    Run(db, "DELETE FROM moz_bookmarks WHERE id IN (SELECT b.id FROM moz_bookmarks b WHERE " + removed + ")");
}

// Tags and keywords belong to a URL while it is bookmarked: those of URLs no longer bookmarked go, as
// when Firefox's user removes a URL's last bookmark. The tag folders stay.
void DropTagsAndKeywordsOfUnbookmarkedUrls(sqlite3* db, PlacesInserter& inserter, int64_t tagsRoot) {
    const std::string bookmarked = BookmarkedPlaces(tagsRoot);
    if (tagsRoot >= 0) {
        const std::string stale = "b.type = 1 AND b.parent IN (SELECT id FROM moz_bookmarks WHERE parent = " +
                                  std::to_string(tagsRoot) + ") AND b.fk NOT IN " + bookmarked;
        {
            Statement folders =
                PrepareOrThrow(db, "SELECT b.parent, COUNT(*) FROM moz_bookmarks b WHERE " + stale + " GROUP BY b.parent");
            while (StepRow(folders)) inserter.Touch(ColumnInt64(folders, 0), ColumnInt64(folders, 1));
        }
        Run(db, "UPDATE moz_places SET foreign_count = MAX(0, foreign_count - (SELECT COUNT(*) FROM moz_bookmarks b "
                "WHERE b.fk = moz_places.id AND " + stale + ")) WHERE id IN (SELECT b.fk FROM moz_bookmarks b WHERE " +
                    stale + ")");
        Run(db, "DELETE FROM moz_bookmarks WHERE id IN (SELECT b.id FROM moz_bookmarks b WHERE " + stale + ")");
        // The remaining entries of each tag folder close up, as Firefox keeps positions gapless.
        Run(db, "UPDATE moz_bookmarks SET position = (SELECT COUNT(*) FROM moz_bookmarks s WHERE "
                "s.parent = moz_bookmarks.parent AND (s.position < moz_bookmarks.position OR "
                "(s.position = moz_bookmarks.position AND s.id < moz_bookmarks.id))) "
                "WHERE parent IN (SELECT id FROM moz_bookmarks WHERE parent = ?1)",
            tagsRoot);
    }
    if (inserter.schema().keywords) {
        Run(db, "UPDATE moz_places SET foreign_count = MAX(0, foreign_count - (SELECT COUNT(*) FROM moz_keywords k "
                "WHERE k.place_id = moz_places.id)) WHERE id IN (SELECT place_id FROM moz_keywords WHERE place_id "
                "NOT IN " + bookmarked + ")");
        Run(db, "DELETE FROM moz_keywords WHERE place_id NOT IN " + bookmarked);
    }
}

std::wstring DuplicateKey(const std::string& storedUrl) { return NormalizeUrl(ToWide(storedUrl)); }

// The length of a UTF-8 text in UTF-16 units, the unit of Firefox's URL limit.
size_t Utf16Length(const std::string& utf8) {
    size_t units = 0;
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte & 0xC0) != 0x80) ++units;  // a character starts here
        if (byte >= 0xF0) ++units;           // four bytes make a surrogate pair
    }
    return units;
}

// Why the writer refuses the whole write, before it opens the file; "" when it does not. What the
// reader would refuse to read back is not written either.
std::wstring RefusalOf(const std::vector<BookmarkRecord>& items) {
    for (const BookmarkRecord& record : items)
        if (record.folder_path.size() > kMaxFolderPathLength)
            return L"A bookmark's folder path is longer than " + std::to_wstring(kMaxFolderPathLength) +
                   L" characters, more than any browser keeps; places.sqlite was not changed.";
    return {};
}

// Whether Firefox keeps the record's URL, in the form it is stored; counted in `shortfall` when not.
// Firefox refuses such a URL in its own insert: one written here it could not show, find, export or
// back up, while this program's reader would read it back as there.
bool FirefoxKeeps(const BookmarkRecord& record, const std::string& stored, WriteShortfall& shortfall) {
    if (Utf16Length(stored) > kFirefoxMaxUrlLength) {
        ++shortfall.urlTooLong;
        return false;
    }
    if (!FirefoxKeepsUrl(record.url)) {
        ++shortfall.urlUnusable;
        return false;
    }
    return true;
}

}  // namespace

int WriteFirefoxBookmarks(const std::wstring& path, const std::vector<BookmarkRecord>& items, int* skipped,
                          std::wstring* error, bool replace, WriteShortfall* shortfall) {
    if (const std::wstring refusal = RefusalOf(items); !refusal.empty()) {
        if (error) *error = refusal;
        return -1;
    }
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(ToUtf8(path).c_str(), &db, SQLITE_OPEN_READWRITE, kLongPathVfs) != SQLITE_OK) {
        if (error) *error = PlacesOpenFailureText(path, L"it was not changed.");
        if (db) sqlite3_close(db);
        return -1;
    }
    sqlite3_exec(db, kWriteCacheSizePragma, nullptr, nullptr, nullptr);
    try {
        int64_t toolbar = FindIdByGuid(db, "toolbar_____");
        int64_t unfiled = FindIdByGuid(db, "unfiled_____");
        int64_t menu = FindIdByGuid(db, "menu________");
        int64_t mobile = FindIdByGuid(db, "mobile______");
        const int64_t tags = FindIdByGuid(db, "tags________");
        if (unfiled < 0 && toolbar < 0) {
            throw std::runtime_error("Could not locate Firefox bookmark roots in places.sqlite.");
        }
        if (unfiled < 0) unfiled = toolbar;
        if (toolbar < 0) toolbar = unfiled;
        if (menu < 0) menu = unfiled;
        if (mobile < 0) mobile = unfiled;

        ExecOrThrow(db, "BEGIN IMMEDIATE;");
        // The file is checked as the reader checks it, under the write lock, before anything changes:
        // a damaged file is left exactly as it is.
        ReadOpenPlaces(db, path);

        int inserted = 0;
        int skippedCount = 0;
        WriteShortfall apart;
        {
            PlacesInserter inserter(db);
            std::unordered_set<std::wstring> seen;
            if (replace) {
                RemoveAllItems(db, inserter, tags);
            } else {
                // Present means bookmarked: a URL Firefox knows only from history (or only as a tag
                // entry) still gets its bookmark, on the place it already has.
                Statement query = PrepareOrThrow(
                    db, "SELECT p.url FROM moz_places p WHERE p.id IN " + BookmarkedPlaces(tags));
                while (StepRow(query)) seen.insert(DuplicateKey(CanonicalPlacesUrl(ColumnText(query, 0))));
            }
            for (size_t i = 0; i < items.size(); ++i) {
                const BookmarkRecord& record = items[i];
                const std::string stored = CanonicalPlacesUrl(ToUtf8(record.url));
                if (!FirefoxKeeps(record, stored, apart)) continue;
                const std::wstring key = DuplicateKey(stored);
                if (seen.count(key)) {
                    ++skippedCount;
                    continue;
                }
                ParsedFolderPath parsed = ParseFolderPath(record.folder_path);
                // Depth counts the folders below the root, as the reader does: a deeper record goes into
                // the deepest folder of its path that the reader reads back.
                std::wstring keptIn = KeepWithinDepth(record.folder_path, parsed, kDeepestFolderNesting);
                if (!keptIn.empty()) apart.moved.push_back({i, std::move(keptIn)});
                int64_t parent = toolbar;
                if (parsed.root_key == L"synced") {
                    parent = mobile;
                } else if (parsed.root_key == L"other") {
                    const std::vector<std::wstring> pieces = SplitPath(record.folder_path);
                    parent = (!pieces.empty() && IsMenuRootName(pieces.front())) ? menu : unfiled;
                }
                for (const std::wstring& name : parsed.segments) parent = inserter.Folder(parent, name);

                const int64_t fk = inserter.Place(stored);
                const int64_t date = record.date_added != 0 ? record.date_added : static_cast<int64_t>(std::time(nullptr));
                inserter.Bookmark(fk, parent, record.title, date * 1000000);
                seen.insert(key);
                ++inserted;
            }
            if (replace) DropTagsAndKeywordsOfUnbookmarkedUrls(db, inserter, tags);
            inserter.Finish();
        }  // the statements are finalized before the commit and the close

        ExecOrThrow(db, "COMMIT;");
        sqlite3_close(db);
        if (skipped) *skipped = skippedCount;
        if (shortfall) *shortfall = std::move(apart);
        return inserted;
    } catch (const std::exception& e) {
        if (error) *error = PlacesFailureText(db, e, L"it was not changed.");
        sqlite3_exec(db, "ROLLBACK;", nullptr, nullptr, nullptr);
        // Closing a database in WAL mode would fold its -wal into the file: a failed write leaves the
        // file as it found it.
        sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
        sqlite3_close(db);
        return -1;
    }
}

// The writer's merge without the write: how many of the records it would add, counted as the
// writer counts them. -1 when the file cannot be read that way, is damaged or the writer would refuse
// the write, so that the writer itself reports why.
int CountFirefoxMergeAdditions(const std::wstring& path, const std::vector<BookmarkRecord>& items, int* skipped,
                               WriteShortfall* shortfall, std::wstring* refusal) {
    if (std::wstring refused = RefusalOf(items); !refused.empty()) {
        if (refusal) *refusal = std::move(refused);
        return -1;
    }
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(ToUtf8(path).c_str(), &db, SQLITE_OPEN_READONLY, kLongPathVfs) != SQLITE_OK) {
        if (db) sqlite3_close(db);
        return -1;
    }
    int count = -1;
    try {
        // Every check the reader makes: a damaged file must reach the writer, which says so, rather
        // than be taken for one that holds everything already.
        ReadOpenPlaces(db, path);
        if (FindIdByGuid(db, "unfiled_____") < 0 && FindIdByGuid(db, "toolbar_____") < 0) {
            // The writer refuses such a file with these words.
            if (refusal) *refusal = L"Could not locate Firefox bookmark roots in places.sqlite.";
            sqlite3_close(db);
            return -1;
        }
        std::unordered_set<std::wstring> seen;
        {
            Statement query = PrepareOrThrow(
                db, "SELECT p.url FROM moz_places p WHERE p.id IN " + BookmarkedPlaces(FindIdByGuid(db, "tags________")));
            while (StepRow(query)) seen.insert(DuplicateKey(CanonicalPlacesUrl(ColumnText(query, 0))));
        }
        count = 0;
        int duplicates = 0;
        WriteShortfall apart;
        for (const BookmarkRecord& record : items) {
            const std::string stored = CanonicalPlacesUrl(ToUtf8(record.url));
            if (!FirefoxKeeps(record, stored, apart)) continue;
            if (seen.insert(DuplicateKey(stored)).second)
                ++count;
            else
                ++duplicates;
        }
        if (skipped) *skipped = duplicates;
        if (shortfall) *shortfall = std::move(apart);
    } catch (const std::exception& e) {
        count = -1;
        const bool refused = dynamic_cast<const DamagedDatabase*>(&e) || dynamic_cast<const TooDeepPlaces*>(&e) ||
                             dynamic_cast<const OverlongPlacesPaths*>(&e);
        if (refused && refusal) *refusal = PlacesFailureText(db, e, L"places.sqlite was not changed.");
    }
    sqlite3_close(db);
    return count;
}

}  // namespace bm
